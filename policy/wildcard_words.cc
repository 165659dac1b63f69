/// @file wildcard_words.cc
/// @brief The wildcard count of a query, as the engine programs count it.

#include "policy/wildcard_words.h"

#include <cstring>

#include "system/strings.h"

namespace {

// The separators of words the engine reads: blanks, control characters and
// the operators.
bool separates(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u <= 0x20 || u == 0x7F || std::strchr("&+|,-()", c) != nullptr;
}

// Length of the full-width (ideographic) space at `p` in the installation's
// code page, which the engine reads as a blank; 0 when there is none.
size_t fullWidthSpaceAt(const char* p, int language) {
  switch (language) {
    case 0:  // Big5
      return p[0] == '\xA1' && p[1] == '\x40' ? 2 : 0;
    case 1:  // Shift_JIS
      return p[0] == '\x81' && p[1] == '\x40' ? 2 : 0;
    case 2:  // GBK
      return p[0] == '\xA1' && p[1] == '\xA1' ? 2 : 0;
    default:  // UTF-8
      return p[0] == '\xE3' && p[1] == '\x80' && p[2] == '\x80' ? 3 : 0;
  }
}

}  // namespace

int countWildcardWords(const char* query, int language) {
  if (query == nullptr) return 0;
  int count = 0;
  bool inPhrase = false;
  bool wordHasWildcard = false;
  for (const char* p = query;; ++p) {
    const char c = *p;
    const size_t wideBlank = inPhrase || c == '\0' ? 0 : fullWidthSpaceAt(p, language);
    const bool ends = c == '\0' || c == '"' || (!inPhrase && separates(c)) || wideBlank > 0;
    if (wideBlank > 1) p += wideBlank - 1;
    if (ends) {
      count += wordHasWildcard;
      wordHasWildcard = false;
      if (c == '\0') break;
      if (c == '"') inPhrase = !inPhrase;
      continue;
    }
    if (const size_t n = characterLength(p, language); n > 1) {
      p += n - 1;
      continue;
    }
    if (!inPhrase && (c == '*' || c == '?')) wordHasWildcard = true;
  }
  return count;
}
