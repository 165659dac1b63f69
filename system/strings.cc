/// @file strings.cc
/// @brief String helpers shared by the subsystems.

#include "system/strings.h"

#include <cstdint>
#include <cstring>

#include "system/layout.h"

char* getToken(char*& cursor, const char* delimiter) {
  if (cursor == nullptr) return nullptr;
  char* token = cursor;
  char* hit = (delimiter && *delimiter) ? strstr(cursor, delimiter) : nullptr;
  if (hit == nullptr) {
    cursor += strlen(cursor);
    return token;
  }
  *hit = '\0';
  cursor = hit + strlen(delimiter);
  return token;
}

char* parserStringToken(char*& cursor, const char* delimiter) {
  return getToken(cursor, delimiter);
}

int DBCSGetLen(unsigned char byte, int language) {
  if (byte < 0x80) return 1;
  if (language == kLangJP && byte >= 0xA0 && byte <= 0xDF) return 1;
  return 2;
}

namespace {

// Bytes of the UTF-8 sequence `lead` starts (0 for a byte no well-formed
// sequence starts with), and the range of its second byte: no overlong form,
// no surrogate, nothing above U+10FFFF.
size_t utf8SequenceLength(unsigned char lead, unsigned char& lo, unsigned char& hi) {
  lo = 0x80;
  hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) {
    if (lead == 0xE0) lo = 0xA0;
    if (lead == 0xED) hi = 0x9F;
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    if (lead == 0xF0) lo = 0x90;
    if (lead == 0xF4) hi = 0x8F;
    return 4;
  }
  return 0;
}

// How many bytes of text (at most `left`, which a NUL also ends) begin a
// well-formed UTF-8 sequence, and in `need` how many it takes; need 1 for a
// byte that begins none, which is then a prefix of 0 bytes.
size_t utf8WellFormedPrefix(const char* text, size_t left, size_t& need) {
  unsigned char lo, hi;
  need = utf8SequenceLength(static_cast<unsigned char>(text[0]), lo, hi);
  if (need == 0) {
    need = 1;
    return 0;
  }
  size_t seen = 1;
  for (; seen < need && seen < left; ++seen) {
    const auto c = static_cast<unsigned char>(text[seen]);
    if (seen == 1 ? (c < lo || c > hi) : (c & 0xC0) != 0x80) break;
  }
  return seen;
}

}  // namespace

size_t characterLength(const char* text, size_t left, int language) {
  if (left <= 1) return 1;
  const auto lead = static_cast<unsigned char>(text[0]);
  if (lead < 0x80) return 1;
  if (language == kLangEN) {
    size_t need = 0;
    return utf8WellFormedPrefix(text, left, need) == need ? need : 1;
  }
  return static_cast<size_t>(DBCSGetLen(lead, language));
}

size_t characterLength(const char* text, int language) {
  // A NUL ends the text before any byte past it is read: it is no
  // continuation byte, and a double-byte lead before it stands alone.
  if (static_cast<unsigned char>(text[0]) < 0x80) return 1;
  if (language != kLangEN) return text[1] == '\0' ? 1 : characterLength(text, 2, language);
  size_t need = 0;
  return utf8WellFormedPrefix(text, SIZE_MAX, need) == need ? need : 1;
}

bool utf8CutShort(const char* text, size_t left) {
  size_t need = 0;
  return left > 0 && utf8WellFormedPrefix(text, left, need) == left && left < need;
}

const char* find_last_slash(const char* path, int language) {
  if (path == nullptr) return nullptr;
  const char* last = nullptr;
  for (const char* p = path; *p != '\0';) {
    if (*p == '/') last = p;
    // A lead byte at the very end has no second byte to skip.
    p += characterLength(p, language);
  }
  return last;
}

const char* find_last_slash(const char* path) {
  return find_last_slash(path, systemGetLanguage());
}

bool remove_last_slash(char* path, int language) {
  const char* slash = find_last_slash(path, language);
  if (slash == nullptr || slash[1] != '\0') return false;
  path[slash - path] = '\0';
  return true;
}

bool remove_last_slash(char* path) {
  return remove_last_slash(path, systemGetLanguage());
}

void remove_last_newline(char* s) {
  if (s == nullptr) return;
  char* lf = strrchr(s, '\n');
  if (lf) *lf = '\0';
}

void remove_tail_space(char* s) {
  if (s == nullptr) return;
  size_t n = strlen(s);
  while (n > 0 && s[n - 1] == ' ')
    --n;
  s[n] = '\0';
}

void trim_space(char* s) {
  if (s == nullptr) return;
  remove_tail_space(s);
  const size_t lead = strspn(s, " ");
  memmove(s, s + lead, strlen(s + lead) + 1);
}

void RefineMatchCount(std::string& digits) {
  const size_t start = (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) ? 1 : 0;
  for (size_t i = digits.size(); i > start + 3; i -= 3)
    digits.insert(i - 3, 1, ',');
}

std::string blankControlCharacters(std::string text) {
  for (char& c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) c = ' ';
  }
  return text;
}

int hexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}
