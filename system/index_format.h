/// @file index_format.h
/// @brief The files of an index directory: their names, how the org and inc
/// parts of an index are named, and the encoding of the record lists, the
/// record count and the record-info files, with a reader that fetches one
/// record without reading the others. doc/index_format.md describes the
/// bytes; every writer and reader of these files goes through here.
///
/// All integers are in the byte order of the host that built the index: an
/// index is read on the host that wrote it.

#ifndef SEARCHRUN_SYSTEM_INDEX_FORMAT_H
#define SEARCHRUN_SYSTEM_INDEX_FORMAT_H

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "system/secure_file.h"

// Per-record lists (entry r-1 describes record r).
constexpr const char* kFileNameListFile = "morna_filename_list";
constexpr const char* kOwnerListFile = "morna_owner_list";
constexpr const char* kTimeListFile = "morna_time_list";
constexpr const char* kSizeListFile = "morna_size_list";
constexpr const char* kIdentityListFile = "morna_identity_list";
constexpr const char* kContentCopiesFile = "content_copies";
// A text list's end offsets: its name followed by this.
constexpr const char* kListIndexSuffix = "_index";
// The record-info files and the data files they name.
constexpr const char* kRecInfoFile = ".vela_recinfo";
constexpr const char* kRecOffsetFile = ".vela_recoffset";
constexpr const char* kRecDataFilePrefix = "vela_recdata_";
// Record count and indexed bytes.
constexpr const char* kRecordCountFile = ".vela_log_1";
// Only in an inc part: the org records it supersedes, and their count and size.
constexpr const char* kIncIdListFile = "morna_incremental_idlist";
constexpr const char* kIncRecSizeFile = ".vela_increment_recsize";
// The folder document paths are relative to, and its identity.
constexpr const char* kSourceFolderFile = "source_folder";
constexpr const char* kSourceFolderIdFile = "source_folder_id";
// The engine database, whose document ids are the record ids.
constexpr const char* kEngineDbDir = "engine_db";
// A database index's cell texts: the info file, then per block k a text
// file and an end-offset file.
constexpr const char* kDbFieldInfoFile = "db_field.info";
std::string dbFieldTextsFile(uint32_t block);  // "db_field.dat.<k>"
std::string dbFieldEndsFile(uint32_t block);   // "db_field.idx.<k>"

// The inc part of an index lies beside the org part, under the org part's
// name (or directory) followed by this suffix.
constexpr std::string_view kIncPartSuffix = "_inc";
// The inc part's name or directory of an org part's.
std::string incPartOf(std::string_view org);
// The org part's name or directory of either part's (an org part's as it is).
std::string orgPartOf(std::string_view part);

// List entries: 32-bit integers, entry r-1 for record r (from 1).
constexpr size_t kListEntryBytes = 4;
inline uint64_t listEntryOffset(uint32_t recid) {
  return (uint64_t{recid} - 1) * kListEntryBytes;
}
// Appends a 32-bit integer or a double in host byte order.
void appendUInt32(std::string& out, uint32_t v);
void appendDouble(std::string& out, double v);
// The 32-bit integer at `bytes`.
inline uint32_t uint32From(const void* bytes) {
  uint32_t v;
  std::memcpy(&v, bytes, 4);
  return v;
}

// A text list: the texts back to back, and the end offset of each.
struct TextList {
  std::string texts;
  std::string ends;
  void add(std::string_view text);
};
// Where the text of record r lies in a text list, from the list's end
// offsets: `endAt(i, v)` reads entry i into v (false when it cannot be
// read). False when an entry is missing or the offsets decrease.
template <typename EndAt>
bool textListSpan(uint32_t recid, EndAt&& endAt, uint32_t& begin, uint32_t& end) {
  if (recid == 0) return false;
  begin = 0;
  if (!endAt(uint64_t{recid} - 1, end)) return false;
  if (recid > 1 && !endAt(uint64_t{recid} - 2, begin)) return false;
  return begin <= end;
}

// The record count file: a 32-bit count, then the indexed bytes as a double
// (.vela_log_1; .vela_increment_recsize has the same shape).
std::string encodeCountAndSize(uint32_t count, double bytes);
// What `bytes` (the file's first bytes) hold of the count and the size;
// each is 0 when the bytes end before it.
template <typename Count>
void decodeCountAndSize(std::string_view bytes, Count& count, double& size) {
  static_assert(sizeof(Count) == 4, "counts are 32-bit");
  count = 0;
  size = 0;
  if (bytes.size() >= 4) std::memcpy(&count, bytes.data(), 4);
  if (bytes.size() >= 12) std::memcpy(&size, bytes.data() + 4, 8);
}
constexpr size_t kCountAndSizeBytes = 12;

// The inc part's superseded org record ids: 7-bit groups, least significant
// first, every byte but a value's last with 0x80 set.
std::string encodeIncIdList(const std::vector<uint32_t>& ids);
// The ids up to a zero byte or the end; a value cut short by the end, or
// longer than five bytes, ends the list.
std::vector<uint32_t> decodeIncIdList(std::string_view bytes);

// --- Record-info files ---
//
// .vela_recinfo: format (6: every record has the size that follows; any
// other value: records of variable size), [record size,] a name, the number
// F of data files (at most kMaxRecDataFiles), F data file paths, F upper
// record bounds. Texts are a 32-bit length and the bytes. Data file k holds
// the records from bound k-1 (1 for the first file) up to bound k - 1; it
// is looked up in the index directory by the last component of its path.
// .vela_recoffset (variable size only): the start offset of each record in
// its data file, and after the records of each data file its end offset.
// A record is its info line followed by "@\n".
constexpr int32_t kRecInfoFixedSizeFormat = 6;
constexpr int32_t kRecInfoVariableSizeFormat = 1;
constexpr int32_t kMaxRecDataFiles = 100;
// Longest text of the header taken: no real header comes near it.
constexpr int32_t kMaxRecInfoText = 4096;
// Largest data file written, so that 32-bit offsets always suffice.
constexpr uint32_t kMaxRecDataFileBytes = 1u << 30;
// Longest header a reader takes: the largest a valid header can be.
constexpr size_t kMaxRecInfoHeaderBytes =
    12 + (4 + kMaxRecInfoText) * (kMaxRecDataFiles + 1) + 4 * kMaxRecDataFiles;

struct RecInfoHeader {
  bool fixedSize = false;
  int32_t recordSize = 0;  // fixed size only
  std::string name;
  std::vector<std::string> dataFiles;  // as recorded
  std::vector<int32_t> bounds;         // upper bound of each data file
};

// The files of a set of records, as written: the header, the offsets and
// each data file's bytes (named recDataFileName(k)).
struct RecInfoFiles {
  std::string header;
  std::string offsets;
  std::vector<std::string> data;
};
// The files of records 1..infos.size() with these info lines, a data file
// started whenever the next record would pass maxDataFileBytes.
RecInfoFiles encodeRecordInfo(const std::vector<std::string>& infos,
                              uint32_t maxDataFileBytes = kMaxRecDataFileBytes);
std::string recDataFileName(size_t k);
// The name in the index directory of a data file path of the header: its
// last component; "" for one that names no file.
std::string recDataFileOf(std::string_view path);

enum class RecInfoStatus {
  kOk,
  kNoHeader,      // .vela_recinfo cannot be opened
  kNoOffsets,     // .vela_recoffset cannot be opened (variable size)
  kTooManyFiles,  // more than kMaxRecDataFiles data files
  kBadHeader,     // cut short or damaged
  kOutOfRange,    // a record number in no data file
  kNullRecord,    // a record shorter than 2 bytes
  kUnreadable,    // an offset or record that cannot be read
};

// The header in `bytes`: kOk, kTooManyFiles or kBadHeader. A negative count
// of data files stands for none.
RecInfoStatus parseRecInfoHeader(std::string_view bytes, RecInfoHeader& out);

// Reads of small pieces of one open file, a block at a time: the last few
// blocks read are kept, so that pieces near each other cost one read.
// Records asked for together mostly lie close together (the look-alikes of
// a word, the hits of a page), though not in the order asked for.
class FileBlock {
 public:
  // Exactly n bytes at offset of fd (the same file on every call), from the
  // kept block where they lie in it; false for anything less.
  bool read(int fd, int64_t offset, void* out, size_t n);

 private:
  struct Block {
    int64_t start = -1;
    std::string bytes;
  };
  static constexpr size_t kKeptBlocks = 8;
  std::vector<Block> blocks_;  // the one used last at the back
};

// Reads records of one index directory one at a time: the header once, then
// per record its offsets and its bytes, each file opened link-proof once on
// first use and read through a FileBlock.
class RecordInfoReader {
 public:
  explicit RecordInfoReader(std::string dir) : dir_(std::move(dir)) {}
  // Reads the header (once) and, for records of variable size, opens the
  // offsets: kOk, kNoHeader, kNoOffsets, kTooManyFiles or kBadHeader.
  RecInfoStatus open();
  // The bytes of record r (from 1), its "@\n" end included. A record longer
  // than maxBytes is unreadable.
  RecInfoStatus read(uint32_t recid, std::string& record, uint64_t maxBytes = UINT64_MAX);

 private:
  std::string dir_;
  bool opened_ = false;
  RecInfoStatus openStatus_ = RecInfoStatus::kOk;
  RecInfoHeader header_;
  UniqueFd offsets_;
  std::vector<UniqueFd> data_;
  std::vector<bool> dataTried_;
  // Each data file's size, taken once when it is opened: a record that
  // claims to run past it is refused before anything is allocated for it.
  std::vector<int64_t> dataSize_;
  FileBlock offsetBlock_;
  std::vector<FileBlock> dataBlocks_;
};

// --- Stored document texts ---
//
// document_texts: the text the builder extracted from each document the
// renderer cannot read as text itself (PDF, office files, mail), UTF-8
// compressed as one zlib stream, the streams back to back.
// document_texts_index: a 64-bit end offset per record (entry r-1 for
// record r) into document_texts; a record without a stored text has an
// empty span. An index without these files stores no text.
constexpr const char* kStoredTextsFile = "document_texts";
constexpr const char* kStoredTextEndsFile = "document_texts_index";
constexpr size_t kStoredTextEndBytes = 8;

// Appends a 64-bit integer in host byte order.
void appendUInt64(std::string& out, uint64_t v);

enum class StoredTextStatus {
  kNone,     // the record has no stored text (or the index stores none)
  kFound,    // the stream was read
  kDamaged,  // the files are there but cannot give the record's stream
};

// Reads the compressed streams of one index part's records, keeping the two
// files open between records.
class StoredTextReader {
 public:
  explicit StoredTextReader(std::string dir) : dir_(std::move(dir)) {}
  // The compressed stream of record r (from 1); a stream longer than
  // maxBytes is damaged.
  StoredTextStatus read(uint32_t recid, std::string& stream, uint64_t maxBytes);

 private:
  std::string dir_;
  bool opened_ = false, endsMissing_ = false;
  UniqueFd ends_, texts_;
};

// The info line of a record: cut at an "@" among its last three bytes (the
// second-to-last, else the last, else the third-to-last), zero bytes turned
// into blanks.
std::string recordInfoLine(std::string record);

#endif  // SEARCHRUN_SYSTEM_INDEX_FORMAT_H
