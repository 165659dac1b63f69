/// @file fuzz_protocol_token.cc
/// @brief Answers of arbitrary bytes through the token reader and the
/// command splitter of the server protocol. The first byte picks the token
/// number, the second the output size, the third the delimiter's length;
/// the delimiter follows, then the text.

#include <string>
#include <string_view>

#include "system/server_protocol.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  std::string word, body;
  if (splitProtocolCommand(all, word, body))
    check(word.size() + body.size() + 6 <= all.size() && all.substr(0, word.size()) == word &&
          all.find(body) != all.npos);
  if (size < 3) return 0;
  const int n = data[0] % 16;
  const size_t outSize = data[1] % 32;
  const size_t delimSize = data[2] % 4;
  if (size < 3 + delimSize) return 0;
  const std::string_view delim = all.substr(3, delimSize);
  const std::string_view text = all.substr(3 + delimSize);
  std::string token;
  if (getTokenFromString(text, delim, n, token, outSize)) {
    check(n >= 1 && !delim.empty());
    check(outSize == 0 ? token.empty() : token.size() <= outSize - 1);
    check(text.find(token) != text.npos);
    // The first token is everything before the first delimiter.
    if (n == 1 && outSize > text.size()) check(token == text.substr(0, text.find(delim)));
  }
  return 0;
}
