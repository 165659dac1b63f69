/// @file index_id_file.h
/// @brief Writing an index id file (SYSTEM/ref/ID.id, 152 bytes) for an id
/// that the administrator chose. Reading and new ids from the clock are the
/// system library's IndexIdFileMgr.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_INDEX_ID_FILE_H
#define SEARCHRUN_COMPANIONS_ENGINE_INDEX_ID_FILE_H

#include <string>

namespace vela {

// Field sizes, NUL padding included; the file is their sum.
constexpr size_t kIdBytes = 8, kDescBytes = 64, kOwnerBytes = 64, kTypeBytes = 16;
constexpr size_t kIdFileBytes = kIdBytes + kDescBytes + kOwnerBytes + kTypeBytes;

struct IndexIdRecord {
  std::string id;     // at most 7 characters
  std::string desc;   // at most 63
  std::string owner;  // at most 63
  std::string type;   // at most 15
};

// The 152 bytes of a record; longer fields are cut.
std::string encodeIndexId(const IndexIdRecord& rec);
// Writes the record to path (mode 0660); false on failure.
bool writeIndexIdFile(const std::string& path, const IndexIdRecord& rec);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_INDEX_ID_FILE_H
