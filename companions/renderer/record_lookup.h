/// @file record_lookup.h
/// @brief What the renderer shows of one hit: its record line in the query
/// output file, and the record's file name, date, size, title, first line and
/// document, found in the directories of the index it came from.
///
/// A record id of the merged numbering is an org record when it is at most
/// the org index's record count (".vela_log_1"), else record id - count of
/// the inc index. The index builder writes, per record, the lists
/// morna_filename_list (+ "_index"), morna_time_list and morna_size_list and
/// an info line "@P:path\n@T:title\n@B:first line\n" (record-info files).
/// The path is absolute, or relative to the folder named by the first line of
/// the index directory's "source_folder" file.

#ifndef SEARCHRUN_COMPANIONS_RENDERER_RECORD_LOOKUP_H
#define SEARCHRUN_COMPANIONS_RENDERER_RECORD_LOOKUP_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace render {

// The separator of the fields of record lines and index descriptors.
constexpr std::string_view kFieldDelim = "\x12\x13\x14";
// The end of each index's part of the related-terms text.
constexpr std::string_view kGroupEndDelim = "\x15\x16\x17";

// The file in an index directory that names the folder relative document
// paths start from.
constexpr const char* kSourceFolderFile = "source_folder";

// Splits text at every occurrence of delim; a trailing delimiter ends the
// last field (it does not open an empty one).
std::vector<std::string_view> splitFields(std::string_view text, std::string_view delim);

// One record line: "host:port" D owner D index D score D record id, and a
// line feed.
struct RecordLine {
  std::string host;
  std::string port;
  std::string owner;
  std::string index;
  int score = 0;
  int recid = 0;
};

// False when the line does not have that form: fewer or more fields, no ":"
// in the first, a score or record id that is not a decimal number, or a
// record id below 1.
bool parseRecordLine(std::string_view line, RecordLine& out);

// True when owner can name an owner home without leaving the group tree: not
// empty, at most 255 bytes, no zero byte, no ".." path component.
bool isSafeOwner(std::string_view owner);

// What the index directories hold of one record. Texts are in the local code
// page, as the index builder wrote them.
struct RecordDetails {
  bool found = false;  // the record's directory and lists were there
  std::string fileName;
  std::string title;
  std::string firstLine;
  std::string documentPath;  // absolute; "" when unknown
  bool readable = false;     // documentPath is a readable regular file
  uint32_t time = 0;         // seconds since 1970; 0 when unknown
  uint32_t size = 0;
  bool hasSize = false;
};

// Reads records of one local index (owner, index name).
class IndexRecordReader {
 public:
  // An owner or index name that is not safe (isSafeOwner, isSafeIndexName)
  // gives a reader that finds nothing.
  IndexRecordReader(const std::string& owner, const std::string& index, int language);

  // The record of merged id recid; found = false when the record is in
  // neither index or the index cannot be read. Never fails otherwise: a list
  // that is missing or too short leaves its field empty.
  RecordDetails read(uint32_t recid) const;

 private:
  std::string orgHome_;
  std::string incHome_;
  uint32_t orgCount_ = 0;
  int language_;
};

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_RENDERER_RECORD_LOOKUP_H
