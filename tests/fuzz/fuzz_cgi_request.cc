/// @file fuzz_cgi_request.cc
/// @brief Request text through the CGI variable parser and the query options.
/// The first byte picks the installation language; the rest is the request.

#include <cstring>

#include "cgi/cgi_string_parser.h"
#include "cgi/conversion_hooks.h"
#include "front/query_option.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // A converter whose output (0 to 15 bytes) and success depend on the
  // character, so that escapes both shrink and grow the text.
  setLocalPageConverter([](const char* src, const char*, char* dest, const char*, int room) {
    const unsigned code =
        static_cast<unsigned char>(src[0]) << 8 | static_cast<unsigned char>(src[1]);
    if (code % 7 == 0) return -6;
    const int length = std::min(static_cast<int>(code % 16), room - 1);
    std::memset(dest, 'A' + static_cast<int>(code % 26), static_cast<size_t>(length));
    dest[length] = '\0';
    return 0;
  });
  // Doubles every byte, so a long Japanese query overflows its field.
  setHalfWidthKanaWidener([](const char* text, size_t length, std::string& out) {
    out.clear();
    for (size_t i = 0; i < length; ++i)
      out.append(2, text[i]);
    return true;
  });
  const int language = data[0] % 5 - 1;
  CGIStringParser parser;
  parser.setSysLanuage(language);
  const int count = parser.initialize(reinterpret_cast<const char*>(data + 1), size - 1);
  check(count == parser.getCgiVariableNum() &&
        parser.getBlockNum() == (count == 0 ? 1 : (count + 9) / 10));
  size_t total = 0;  // every name and value read to its end
  for (int k = 0; k < count; ++k) {
    const char* name = parser.findNameByIndex(k);
    total += std::strlen(name) + std::strlen(parser.findValueByIndex(k));
    check(parser.findCgiVariableByName(name) != nullptr);
  }
  queryOptionTag option;
  option.initialize(parser, language);
  check(std::strlen(option.orgQuery) < sizeof option.orgQuery);
  return total == SIZE_MAX;
}
