/// @file fuzz_argv.cc
/// @brief Command-line word splitting on arbitrary text.

#include <cstddef>
#include <cstdint>
#include <string>

#include "search/process_runner.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  CmdArgv argv;
  int count = -1;
  const int returned = GetArgvFromCmd(line.c_str(), argv, count);
  if (returned != count || count < 0) __builtin_trap();
  if (argv.size() != static_cast<size_t>(count < kMaxArgvWords ? count : kMaxArgvWords))
    __builtin_trap();
  // Every word is a piece of the line and never holds its own delimiter.
  for (const std::string& word : argv)
    if (word.size() > line.size() || line.find(word) == std::string::npos) __builtin_trap();
  return 0;
}
