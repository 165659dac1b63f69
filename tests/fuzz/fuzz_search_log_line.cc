/// @file fuzz_search_log_line.cc
/// @brief Search-log lines on arbitrary bytes: a line that splits joins back
/// to exactly itself, so the reader and the writer agree on every field.

#include <string>

#include "system/search_log_line.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  SearchLogFields fields;
  if (splitSearchLogLine(line, fields)) fuzzscratch::check(formatSearchLogLine(fields) == line);
  return 0;
}
