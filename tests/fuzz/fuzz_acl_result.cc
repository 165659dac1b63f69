/// @file fuzz_acl_result.cc
/// @brief Arbitrary bytes as the result file of an ACL companion search,
/// loaded into the id set of the ACL filter: every id loaded is in the set,
/// and a failed load grants nothing.

#include <vector>

#include "access/ntfs_filter.h"
#include "policy/access_filters.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzzscratch::write("acl_result", data, size);
  AclEngineRunner engine;
  NTFSSearchResult filter(&engine);
  filter.setSearchResult(3);
  filter.setSearchResult(700001);
  const int count = filter.parserVelaBinOutFilename(path);
  int loaded = 0;
  std::vector<uint32_t> ids;
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  if (engine.readHits(bytes, loaded, ids) == kAclReadOk && size > 0) {
    fuzzscratch::check(count == loaded);
    for (uint32_t id : ids)
      fuzzscratch::check(filter.isInSearchResult(id));
    // What an earlier load held beyond the bitmap is gone.
    bool listed = false;
    for (uint32_t id : ids)
      listed = listed || id == 700001;
    fuzzscratch::check(listed || !filter.isInSearchResult(700001));
  } else {
    fuzzscratch::check(count == 0);
  }
  return 0;
}
