/// @file fuzz_exclude_list.cc
/// @brief Arbitrary bytes as an exclusion list file, and queries made from
/// the same bytes checked against it.

#include <algorithm>

#include "policy/query_exclude.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  ExclusionList list;
  fuzzscratch::check(list.getList(fuzzscratch::write("list.token", text).c_str()) ==
                     kExcludeListRead);
  fuzzscratch::check(list.patternCount() <=
                     1 + static_cast<size_t>(std::count(text.begin(), text.end(), '\n')));
  // The first line as a query, then the start of the text (a many-word query
  // against a many-line list is slow, not interesting).
  const bool allowed = list.isQueryAllowed(text.substr(0, text.find('\n')).c_str());
  fuzzscratch::check(allowed || list.patternCount() > 0);
  list.isQueryAllowed(text.substr(0, 512).c_str());
  for (const char* word : list.queryWords())
    fuzzscratch::check(*word != '\0');
  return 0;
}
