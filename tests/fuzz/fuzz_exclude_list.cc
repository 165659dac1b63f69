/// @file fuzz_exclude_list.cc
/// @brief Feeds arbitrary bytes as an exclusion list file and checks queries
/// made from the same bytes against it.

#include <cstddef>
#include <cstdint>
#include <string>

#include "front/query_exclude.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzzscratch::write("list.token", data, size);
  ExclusionList list;
  if (list.getList(path.c_str()) != kExcludeListRead) __builtin_trap();
  size_t lines = 1;
  for (size_t i = 0; i < size; ++i)
    lines += data[i] == '\n';
  if (list.patternCount() > lines) __builtin_trap();

  // The list's own bytes as a query: the first line, then the whole text.
  const std::string text(reinterpret_cast<const char*>(data), size);
  const bool allowed = list.isQueryAllowed(text.substr(0, text.find('\n')).c_str());
  if (list.patternCount() == 0 && !allowed) __builtin_trap();
  // A many-word query against a many-line list is slow, not interesting.
  list.isQueryAllowed(text.substr(0, 512).c_str());
  for (const char* word : list.queryWords()) {
    if (*word == '\0') __builtin_trap();
  }
  return 0;
}
