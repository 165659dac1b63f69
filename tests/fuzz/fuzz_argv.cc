/// @file fuzz_argv.cc
/// @brief Command-line word splitting on arbitrary text.

#include "search/process_runner.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string line(reinterpret_cast<const char*>(data), size);
  CmdArgv argv;
  int count = -1;
  fuzzscratch::check(GetArgvFromCmd(line.c_str(), argv, count) == count && count >= 0);
  fuzzscratch::check(argv.size() ==
                     static_cast<size_t>(count < kMaxArgvWords ? count : kMaxArgvWords));
  // Every word is a piece of the line.
  for (const std::string& word : argv)
    fuzzscratch::check(line.find(word) != std::string::npos);
  return 0;
}
