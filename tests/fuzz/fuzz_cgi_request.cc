/// @file fuzz_cgi_request.cc
/// @brief Request text through the CGI variable parser and the query options.
/// The first byte picks the installation language; the rest is the request.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "front/cgi_string_parser.h"
#include "front/conversion_hooks.h"
#include "front/query_option.h"

namespace {

// A stand-in converter whose output length (0 to 15 bytes) and success depend
// on the character, so that escapes both shrink and grow the text.
int fuzzConverter(const char* src, const char*, char* dest, const char*, int dest_size) {
  const unsigned code =
      unsigned(static_cast<unsigned char>(src[0])) << 8 | static_cast<unsigned char>(src[1]);
  if (code % 7 == 0) return -6;
  const int length = int(code % 16) < dest_size ? int(code % 16) : dest_size - 1;
  std::memset(dest, 'A' + int(code % 26), size_t(length));
  dest[length] = '\0';
  return 0;
}

// Doubles every byte, so a long Japanese query overflows its field.
bool fuzzWidener(const char* text, size_t length, std::string& out) {
  out.clear();
  for (size_t i = 0; i < length; ++i)
    out.append(2, text[i]);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  setLocalPageConverter(fuzzConverter);
  setHalfWidthKanaWidener(fuzzWidener);
  const int language = int(data[0] % 5) - 1;
  CGIStringParser parser;
  parser.setSysLanuage(language);
  const int count = parser.initialize(reinterpret_cast<const char*>(data + 1), size - 1);
  if (count != parser.getCgiVariableNum()) __builtin_trap();
  size_t total = 0;
  for (int k = 0; k < count; ++k) {
    const char* name = parser.findNameByIndex(k);
    total += std::strlen(name) + std::strlen(parser.findValueByIndex(k));
    if (parser.findCgiVariableByName(name) == nullptr) __builtin_trap();
  }
  if (parser.getBlockNum() != (count == 0 ? 1 : (count + 9) / 10)) __builtin_trap();
  queryOptionTag option;
  option.initialize(parser, language);
  if (std::strlen(option.orgQuery) >= sizeof option.orgQuery) __builtin_trap();
  return total == size_t(-1);
}
