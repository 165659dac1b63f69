/// @file index_files.h
/// @brief Files of an index directory besides the engine database: the
/// record lists, the record-info files, the record count and
/// the superseded-record list of an inc index.
///
/// The bytes of each file are index_format.h's.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_INDEX_FILES_H
#define SEARCHRUN_COMPANIONS_ENGINE_INDEX_FILES_H

#include <cstdint>
#include <string>
#include <vector>

#include "system/file_identity.h"
#include "system/index_format.h"

namespace vela {

using ::kContentCopiesFile;
using ::kEngineDbDir;
using ::kIncIdListFile;
using ::kIncRecSizeFile;
using ::kRecordCountFile;
using ::kTimeListFile;

// The words of a record's file name and title are also held once more under
// this prefix, without frequency, so that a query weighs a word of the
// heading above the same word in the body. Folded words never begin with an
// upper-case letter; an index built before these terms has none of them.
constexpr const char* kHeadingPrefix = "T";
// A value slot of each record: a digest of the document's bytes (16 bytes),
// so that a search shows copies of one document as one hit.
constexpr unsigned kContentDigestSlot = 0;

// What the lists and the record-info files hold for one record. The file name
// is the bytes the name has on disk; the other texts are in the
// installation's local code page.
struct RecordInfo {
  std::string fileName;  // base name of the document, at most 255 bytes
  std::string owner;     // at most 255 bytes
  uint32_t time = 0;     // modification time, seconds since 1970
  uint32_t size = 0;     // bytes
  std::string info;      // info line: "@P:path\n@T:title\n@B:first line\n", the path
                         // encoded by encodeRecordedPath (recorded_path.h)
  // Of the file read; unknown for a record carried over from an older index.
  FileIdentity identity{};
};

// Largest size of one record data file; a larger set of records is spread
// over several files so that 32-bit offsets always suffice.
constexpr uint32_t kMaxDataFileBytes = kMaxRecDataFileBytes;

// Writes every file above for records 1..records.size() into dir, plus
// the record count file with `indexedBytes`. Returns false on the first file that
// cannot be written (or that already exists). The texts are stored as they
// are given: file names keep the bytes they have on disk.
bool writeRecordFiles(const std::string& dir, const std::vector<RecordInfo>& records,
                      double indexedBytes);

// Writes the superseded org record ids of an inc index and their count and
// size. The id list is written even when empty (a zero-byte file).
bool writeIncrementalFiles(const std::string& dir, const std::vector<uint32_t>& orgIds,
                           double supersededBytes);

// Reads a file of 32-bit integers; false when it cannot be read, is no
// regular file or is larger than any index writes. A trailing part of fewer
// than 4 bytes is ignored.
bool readUInt32File(const std::string& path, std::vector<uint32_t>& out);

// The home of the index a part (org or inc) belongs to: its protection
// switches lie there, for the inc part too.
std::string orgHomeOf(const std::string& home);

// The first record of each record's copy group (kContentCopiesFile) of
// records whose digests are given, "" for a record without one.
std::vector<uint32_t> copyGroups(const std::vector<std::string>& digests);

// The org record ids listed in an inc index's kIncIdListFile (empty
// when missing). Stops at a zero byte, at the end, or at a value cut short.
std::vector<uint32_t> readIncrementalIdList(const std::string& incDir);

// Mode of the files of an index: every account that searches reads them,
// only the builder's account writes them.
constexpr unsigned kIndexFileMode = 0644;
constexpr unsigned kIndexDirMode = 0755;

// Creates the file `path`, which must not exist yet (nothing, not even a
// link, may stand at the name), and writes `bytes` into it; false on failure,
// with nothing left behind. Every file of an index is written once, into a
// fresh staging directory.
bool writeNewFile(const std::string& path, const std::string& bytes);
using ::appendDouble;
using ::appendUInt32;

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_INDEX_FILES_H
