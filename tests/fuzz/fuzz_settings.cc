/// @file fuzz_settings.cc
/// @brief Feeds arbitrary bytes as a key=value file to the lookup and the
/// rewrite, and checks that a rewrite reads back and leaves other keys alone.

#include <cstddef>
#include <cstdint>
#include <string>

#include "system/config.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzzscratch::write("settings.cfg", data, size);
  const char* keys[] = {"SYSTEM_DIRECTORY", "KEY", "", " KEY", "OutputQueryInfo"};
  std::string before[5];
  for (int i = 0; i < 5; ++i) {
    before[i] = getCfgFileTokenValue(path.c_str(), keys[i]);
    std::string value;
    findCfgValue(path.c_str(), keys[i], 1022, value);
    if (before[i].size() > kCfgValueMax) __builtin_trap();
  }
  if (!setCfgFileTokenValue(path.c_str(), "KEY", "fuzzed value")) __builtin_trap();
  if (getCfgFileTokenValue(path.c_str(), "KEY") != "fuzzed value") __builtin_trap();
  for (int i : {0, 3, 4}) {
    if (getCfgFileTokenValue(path.c_str(), keys[i]) != before[i]) __builtin_trap();
  }
  return 0;
}
