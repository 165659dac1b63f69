/// @file record_lookup.h
/// @brief What the renderer shows of one hit: its record line in the query
/// output file, and the record's file name, date, size, title, first line and
/// document, found in the directories of the index it came from.
///
/// A record id of the merged numbering is an org record when it is at most
/// the org index's record count, else record id - count of the inc index.
/// The index builder writes, per record, the lists of file names, times and
/// sizes and an info line "@P:path\n@T:title\n@B:first line\n" (the files
/// are index_format.h's). The path is relative to the folder named by the
/// first line of the index directory's source folder file (older indexes may
/// hold absolute paths).
/// Newer indexes also keep the identity of that folder and of each document
/// (system/file_identity.h). Every file is read link-proof (local_files.h).

#ifndef SEARCHRUN_COMPANIONS_RECORDS_RECORD_LOOKUP_H
#define SEARCHRUN_COMPANIONS_RECORDS_RECORD_LOOKUP_H

#include <sys/stat.h>

#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "companions/records/local_files.h"
#include "search/remote_record_view.h"
#include "system/delimiters.h"
#include "system/file_identity.h"
#include "system/index_format.h"

namespace render {

// The fields of record lines and index descriptors are separated by
// kFieldDelim, each index's part of the related-terms text ends with
// kGroupEndDelim (system/delimiters.h).
using ::kFieldDelim;
using ::kGroupEndDelim;

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

// Decodes the "%XX" escapes (system/recorded_path.h) the index builder
// writes for bytes a line-based list cannot hold; a path holding a "%"
// without two hex digits is taken as it stands, as indexes written before
// the escapes hold it.
std::string decodeRecordedPath(std::string_view recorded);

// The location of a recorded document path relative to the index's source
// folder (both as recorded): a relative path as it is, an absolute one only
// when it lies below the folder. "" for an empty path, a ".." component, a
// zero byte, or an absolute path elsewhere: a page never shows where on the
// server the folder is.
std::string locationBelow(std::string_view folder, std::string_view recorded);

// What the index directories hold of one record. Texts are in the local code
// page, as the index builder wrote them.
struct RecordDetails : RecordSummary {
  std::string sourceFolder;  // first line of the index's kSourceFolderFile; "" when none
  // The source folder and the document as the builder read them. Not had
  // by an index built before identities were kept; a recorded identity that
  // cannot be read is had, and unknown: it matches nothing.
  bool hasFolderId = false;
  FileIdentity folderId;
  bool hasFileId = false;
  FileIdentity fileId;
  // A row of a database index: each column's name and the row's cell, in
  // the index's column order (local code page); empty for a document.
  std::vector<std::pair<std::string, std::string>> fields;
  // The text the builder kept of a document the renderer cannot read itself
  // (PDF, office files), compressed, once IndexRecordReader::readStoredText
  // has read it; empty for none. storedDamaged: the index has one that
  // cannot be read.
  std::string storedText;
  bool storedDamaged = false;
};

// The column names of a database index's "column_mapping.txt" text, in its
// order (the fourth of the six comma-separated fields of each line; a line
// with fewer is skipped).
std::vector<std::string> columnNamesOf(std::string_view mapping);

// The column names of database index (owner, index) of this host, read
// link-proof from its column mapping; none when it has no mapping or the
// owner or index name is not safe.
std::vector<std::string> indexColumnNames(const Installation& inst, const std::string& owner,
                                          const std::string& index);

// A file of an index directory, opened link-proof (openRegularFile) on first
// use and kept open for the page: the hits of one index share one open, and
// entries near each other one read (FileBlock).
class IndexFile {
 public:
  IndexFile() = default;
  explicit IndexFile(std::string path) : path_(std::move(path)) {}
  // Reads exactly n bytes at offset; false for anything less, or when the
  // file cannot be opened (tried once).
  bool readAt(uint64_t offset, void* out, size_t n);
  // Its size in bytes; 0 when it cannot be opened.
  uint64_t size();

 private:
  int descriptor();  // opened on first use; -1 when it cannot be

  std::string path_;
  UniqueFd fd_;
  uint64_t size_ = 0;
  bool tried_ = false;
  FileBlock block_;
};

// The record-info files of an index directory (index_format.h),
// each opened link-proof once and its header read once, however many
// records a page shows.
constexpr size_t kMaxInfoLine = 64 * 1024;
class RecordInfoFiles {
 public:
  explicit RecordInfoFiles(std::string dir) : reader_(std::move(dir)) {}
  // The info line of record r (from 1); an info line longer than
  // kMaxInfoLine is taken for damage. False when the record cannot be read.
  bool infoLine(uint32_t r, std::string& info);

 private:
  RecordInfoReader reader_;
};

// Opens the document of a record for reading, or gives an invalid descriptor.
// Only a regular file is opened, never through a symbolic link anywhere below
// the source folder, only when its canonical path lies below the canonical
// source folder, only when its size and modification time are still the
// ones the index recorded, and, where the index recorded them, only from the
// very folder the builder read and only the very file: any other file would
// show text the index never held (a folder swapped for a link by whoever
// may rename it, a hard link of the same size and time). A name the builder
// turned into the local code page may stand on disk in UTF-8; both are
// tried.
UniqueFd openRecordedDocument(const RecordDetails& record, int language);

// openRecordedDocument for the documents of one page: each source folder is
// made canonical, opened and its identity read once, and each sub-folder made
// canonical once, however many documents of the page lie there. The checks of
// every document are openRecordedDocument's; what is kept is only as old as
// the page.
class DocumentOpener {
 public:
  DocumentOpener();
  ~DocumentOpener();
  DocumentOpener(const DocumentOpener&) = delete;
  DocumentOpener& operator=(const DocumentOpener&) = delete;

  UniqueFd open(const RecordDetails& record, int language);

 private:
  struct Folder;
  // The source folder as recorded, canonical and open; nullptr when it
  // cannot be.
  const Folder* folder(const std::string& recorded);
  // The canonical form of `dir`, a folder below a canonical source folder.
  const std::string& canonicalBelow(const std::string& dir);
  UniqueFd openLocation(const Folder& folder, const std::string& location, struct stat& st);

  std::map<std::string, std::unique_ptr<Folder>> folders_;
  std::map<std::string, std::string> canonical_;
};

class KeptIndexDirectories;

// Reads records of one local index (owner, index name). Each file of the
// index is opened once, when the first record needs it, and read at the
// offsets of the records asked for: one reader serves one page.
class IndexRecordReader {
 public:
  // An owner or index name that is not safe (isSafeOwner, isSafeIndexName)
  // gives a reader that finds nothing. With `kept`, the index's directories
  // come from there, files already open, and go back there after the page.
  IndexRecordReader(const Installation& inst, const std::string& owner, const std::string& index,
                    KeptIndexDirectories* kept = nullptr);
  ~IndexRecordReader();
  IndexRecordReader(const IndexRecordReader&) = delete;
  IndexRecordReader& operator=(const IndexRecordReader&) = delete;

  // The record of merged id recid; found = false when the record is in
  // neither index or the index cannot be read. Never fails otherwise: a list
  // that is missing or too short leaves its field empty.
  RecordDetails read(uint32_t recid);
  // Records of the org index; merged ids above it lie in the inc index.
  uint32_t orgCount() const { return orgCount_; }
  // The merged ids of the other records of the same content as record recid
  // in its part of the index (kContentCopiesFile), in record order, at most
  // `limit`. None for a protected index or one built before the list.
  std::vector<uint32_t> copiesOf(uint32_t recid, size_t limit);
  // Reads the stored text of record recid into d (read apart from the
  // record: only the hits whose text is shown need it).
  void readStoredText(uint32_t recid, RecordDetails& d);

 private:
  friend class KeptIndexDirectories;
  struct Directory;
  // Given back to kept_ when the reader ends.
  struct DirectoryDeleter {
    DirectoryDeleter() : kept(nullptr) {}
    explicit DirectoryDeleter(KeptIndexDirectories* to) : kept(to) {}
    void operator()(Directory* dir) const;
    KeptIndexDirectories* kept;
  };
  using DirectoryPtr = std::unique_ptr<Directory, DirectoryDeleter>;
  DirectoryPtr directory(const std::string& path, KeptIndexDirectories* kept);

  DirectoryPtr org_;
  DirectoryPtr inc_;
  uint32_t orgCount_ = 0;
  std::string mappingPath_;
  bool columnsRead_ = false;
  std::vector<std::string> columns_;
  bool protected_ = false;
};

// The index directories a long-running process's pages read records from,
// kept open from page to page: a page of a kept index opens none of its
// files again. The index builder switches a build in by renaming a new
// directory over the index's, so the files of one directory never change:
// a kept directory serves while its path still leads to that very directory
// (device, inode and change time: an inode freed with an old build may come
// back with a new one), and for kMaxKeptMs at most, so that a file that
// could not be opened is tried again. A directory serves one reader at a time;
// another reader of the same index meanwhile opens its own. Safe for use by
// several threads.
class KeptIndexDirectories {
 public:
  static constexpr long long kMaxKeptMs = 10000;
  // At most `maxKept` directories (each holds up to a dozen descriptors),
  // each for `maxKeptMs`.
  explicit KeptIndexDirectories(size_t maxKept, long long maxKeptMs = kMaxKeptMs)
      : max_(maxKept), maxKeptMs_(maxKeptMs) {}
  ~KeptIndexDirectories();
  KeptIndexDirectories(const KeptIndexDirectories&) = delete;
  KeptIndexDirectories& operator=(const KeptIndexDirectories&) = delete;

  // Closes the directories kept for their time or longer: the files of a
  // build switched out are given back to the file system even when no page
  // of its index comes any more.
  void dropStale();

  // Directories served from what was kept, and opened afresh, so far.
  size_t reused() const;
  size_t opened() const;

 private:
  friend class IndexRecordReader;
  using Directory = IndexRecordReader::Directory;
  struct Kept {
    std::string path;
    dev_t dev = 0;
    ino_t ino = 0;
    timespec changed{};
    long long openedMs = 0;
    Directory* dir = nullptr;
  };
  // The directory at `path`, kept or opened now; it goes back with give().
  Directory* take(const std::string& path);
  void give(Directory* dir);

  size_t max_;
  long long maxKeptMs_;
  mutable std::mutex mutex_;
  std::list<Kept> idle_;                  // most recently given back first
  std::map<const Directory*, Kept> out_;  // taken, identity as taken
  size_t reused_ = 0;
  size_t opened_ = 0;
};

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_RECORDS_RECORD_LOOKUP_H
