/// @file fuzz_idfile.cc
/// @brief Arbitrary bytes as an index id file: the fields stay within their
/// sizes, and a file of the full size always loads.

#include <cstring>

#include "system/index_id.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  IndexIdFileMgr ids;
  const bool loaded = ids.readIndexIdFile(fuzzscratch::write("index.id", data, size).c_str());
  fuzzscratch::check(loaded == (size >= IndexIdFileMgr::kFileSize));
  fuzzscratch::check(strlen(ids.getIndexId()) < IndexIdFileMgr::kIdSize &&
                     strlen(ids.getIndexDesc()) < IndexIdFileMgr::kDescSize &&
                     strlen(ids.getIndexOwner()) < IndexIdFileMgr::kOwnerSize &&
                     strlen(ids.getIndexType()) < IndexIdFileMgr::kTypeSize);
  fuzzscratch::check(!loaded || memcmp(ids.getIndexId(), data, strlen(ids.getIndexId())) == 0);
  return 0;
}
