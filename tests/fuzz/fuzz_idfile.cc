/// @file fuzz_idfile.cc
/// @brief Feeds arbitrary bytes as an index id file to its reader.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "system/index_id.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzzscratch::write("index.id", data, size);
  IndexIdFileMgr ids;
  const bool loaded = ids.readIndexIdFile(path.c_str());
  if (loaded != (size >= IndexIdFileMgr::kFileSize)) __builtin_trap();
  if (strlen(ids.getIndexId()) >= IndexIdFileMgr::kIdSize ||
      strlen(ids.getIndexDesc()) >= IndexIdFileMgr::kDescSize ||
      strlen(ids.getIndexOwner()) >= IndexIdFileMgr::kOwnerSize ||
      strlen(ids.getIndexType()) >= IndexIdFileMgr::kTypeSize) {
    __builtin_trap();
  }
  if (loaded && memcmp(ids.getIndexId(), data, strlen(ids.getIndexId())) != 0) __builtin_trap();
  return 0;
}
