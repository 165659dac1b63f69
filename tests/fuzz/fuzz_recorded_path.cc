/// @file fuzz_recorded_path.cc
/// @brief Recorded paths on arbitrary bytes: the encoding is one line that
/// decodes to exactly the bytes given, and the decoder takes any text.

#include <string>

#include "system/recorded_path.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string recorded = encodeRecordedPath(bytes);
  for (char c : recorded)
    fuzzscratch::check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
  std::string back;
  fuzzscratch::check(decodeRecordedPath(recorded, back) && back == bytes);
  // Any text as recorded: a decoded path is never longer than its text.
  if (decodeRecordedPath(bytes, back)) fuzzscratch::check(back.size() <= bytes.size());
  return 0;
}
