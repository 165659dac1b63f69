/// @file fuzz_older_settings.cc
/// @brief Arbitrary bytes as the threaded editions' settings file and
/// message table.

#include <cstdint>
#include <string>

#include "front/older_front.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  iniOptionTag ini;
  ini.readOptionText(text);
  msgTableTag table;
  table.readText(text);
  for (const char* code : {"0001", "0035", "1001", "1041", "0036", ""})
    table.value(code);
  return 0;
}
