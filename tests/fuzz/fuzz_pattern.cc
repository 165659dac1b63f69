/// @file fuzz_pattern.cc
/// @brief Feeds arbitrary patterns and words to the wildcard matcher, in a
/// single-byte and a multi-byte locale, and with a double-byte rule.

#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "text/pattern_matcher.h"

namespace {

// Big5 and GBK as a host without their locale reads them.
size_t doubleByte(const char* text, size_t) {
  return static_cast<unsigned char>(*text) >= 0x80 ? 2 : 1;
}

}  // namespace

// Input: one byte choosing the locale (bit 0) and the double-byte rule
// (bit 1), the pattern up to the first line feed, then the word.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  std::setlocale(LC_CTYPE, (data[0] & 1) ? "C.UTF-8" : "C");
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t split = rest.find('\n');
  const std::string pattern = rest.substr(0, split);
  const std::string word = split == std::string::npos ? "" : rest.substr(split + 1);

  Regexp re;
  if (data[0] & 2) re.setCharLength(doubleByte);
  std::vector<Regexp::Pattern> list;
  list.push_back(re.compileRegex(pattern.c_str()));
  const bool matched = re.matchQuery(word.c_str(), list);

  // A pattern without wildcards or TABs matches at least its own text.
  const std::string plain = pattern.substr(0, std::strlen(pattern.c_str()));
  if (!plain.empty() && plain.find_first_of("*?\t") == std::string::npos) {
    std::vector<Regexp::Pattern> self;
    self.push_back(re.compileRegex(plain.c_str()));
    if (!re.matchQuery(plain.c_str(), self)) __builtin_trap();
  }
  // A star alone matches every word.
  std::vector<Regexp::Pattern> star;
  star.push_back(re.compileRegex("*"));
  if (!re.matchQuery(word.c_str(), star)) __builtin_trap();
  // Adding a pattern never takes a match away.
  list.push_back(re.compileRegex("x"));
  if (matched && !re.matchQuery(word.c_str(), list)) __builtin_trap();
  return 0;
}
