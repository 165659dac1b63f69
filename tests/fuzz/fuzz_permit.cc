/// @file fuzz_permit.cc
/// @brief Feeds arbitrary bytes to the permit file reader, the user id
/// encoder and the key check.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "access/cookie_permit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* bytes = reinterpret_cast<const char*>(data);
  CookiePermit permit;
  permit.permitParse(bytes, size);
  permit.permitGenerateFilePath();

  std::string text(bytes, size);  // as a request value: up to a zero byte
  char id[CookiePermit::kFieldSize];
  KS_CookieEncodeUserId(text.c_str(), id);
  // A key that could leave the permit directory must never pass.
  if (permitKeyIsWellFormed(text.c_str()) && std::strpbrk(text.c_str(), "/.") != nullptr)
    __builtin_trap();
  return 0;
}
