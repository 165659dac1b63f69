/// @file index_id_file.cc
/// @brief Writing index id files of chosen ids.

#include "companions/engine/index_id_file.h"

#include <sys/stat.h>

#include "companions/engine/index_files.h"

namespace vela {

namespace {

void putField(std::string& out, const std::string& value, size_t size) {
  std::string v = value.substr(0, size - 1);
  v.resize(size, '\0');
  out += v;
}

}  // namespace

std::string encodeIndexId(const IndexIdRecord& rec) {
  std::string out;
  putField(out, rec.id, kIdBytes);
  putField(out, rec.desc, kDescBytes);
  putField(out, rec.owner, kOwnerBytes);
  putField(out, rec.type, kTypeBytes);
  return out;
}

bool writeIndexIdFile(const std::string& path, const IndexIdRecord& rec) {
  return writeWholeFile(path, encodeIndexId(rec)) && chmod(path.c_str(), 0660) == 0;
}

}  // namespace vela
