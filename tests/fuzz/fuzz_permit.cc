/// @file fuzz_permit.cc
/// @brief Arbitrary bytes through the permit file reader, the user id
/// encoder and the key check.

#include <cstring>

#include "access/cookie_permit.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  CookiePermit permit;
  permit.permitParse(bytes, size);
  permit.permitGenerateFilePath();
  const std::string text(bytes, size);  // as a request value: up to a zero byte
  char id[CookiePermit::kFieldSize];
  KS_CookieEncodeUserId(text.c_str(), id);
  // Permits without the exact name admit a name only when it is its own
  // encoded id: that must hold for letters, digits and "_" alone, or an
  // alias ("a b" for "a_b") would pass.
  permit.permitSetUser(text.c_str());
  fuzzscratch::check(
      text != id ||
      std::strspn(text.c_str(),
                  "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_") ==
          text.size());
  // A key that could leave the permit directory must never pass.
  fuzzscratch::check(!permitKeyIsWellFormed(text.c_str()) ||
                     std::strpbrk(text.c_str(), "/.") == nullptr);
  return 0;
}
