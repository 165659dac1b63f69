/// @file fuzz_settings.cc
/// @brief Arbitrary bytes as a key=value file through the lookup and the
/// rewrite: a rewrite reads back and leaves other keys alone.

#include "system/config.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzzscratch::write("settings.cfg", data, size);
  const char* keys[] = {"SYSTEM_DIRECTORY", " KEY", "OutputQueryInfo", "KEY", ""};
  std::string before[5], value;
  for (int i = 0; i < 5; ++i) {
    before[i] = getCfgFileTokenValue(path.c_str(), keys[i]);
    findCfgValue(path.c_str(), keys[i], 1022, value);
    check(before[i].size() <= kCfgValueMax);
  }
  check(setCfgFileTokenValue(path.c_str(), "KEY", "fuzzed value"));
  check(getCfgFileTokenValue(path.c_str(), "KEY") == "fuzzed value");
  for (int i = 0; i < 3; ++i)
    check(getCfgFileTokenValue(path.c_str(), keys[i]) == before[i]);
  return 0;
}
