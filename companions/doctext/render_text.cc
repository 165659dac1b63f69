/// @file render_text.cc
/// @brief Code page conversion, escaping and display forms of the renderer.

#include "companions/doctext/render_text.h"

#include <strings.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "companions/doctext/code_pages.h"
#include "companions/doctext/library_convert.h"
#include "output/html_makeup.h"
#include "system/layout.h"
#include "system/strings.h"

namespace render {

namespace {

// Bytes of the character at text[i]: a well-formed UTF-8 sequence, or one
// byte (ASCII, or one that starts no such sequence there).
size_t utf8At(std::string_view text, size_t i) {
  return characterLength(text.data() + i, text.size() - i, kLangEN);
}

// The end of the run of ASCII bytes that starts at p[i] (n when it reaches the
// end). Documents are mostly ASCII: eight bytes are tested at a time.
size_t asciiRunEnd(const unsigned char* p, size_t i, size_t n) {
  constexpr uint64_t kHighBits = 0x8080808080808080ull;
  for (uint64_t word; i + 8 <= n; i += 8) {
    std::memcpy(&word, p + i, 8);
    if ((word & kHighBits) != 0) break;
  }
  while (i < n && p[i] < 0x80)
    ++i;
  return i;
}

// Conversion without iconv: ASCII stays, every other character is replaced.
std::string replaceNonAscii(std::string_view bytes, int language) {
  std::string out;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t i = 0; i < bytes.size();) {
    if (p[i] < 0x80) {
      out += static_cast<char>(p[i++]);
    } else {
      i += skipUnconvertible(p + i, bytes.size() - i, language, out);
    }
  }
  return out;
}

// True for the characters XML 1.0 cannot carry; `c` is the first byte of a
// well-formed UTF-8 character of length len.
bool xmlForbidden(const unsigned char* c, size_t len) {
  if (len == 1) return c[0] < 0x20 && c[0] != '\t' && c[0] != '\n' && c[0] != '\r';
  return len == 3 && c[0] == 0xEF && c[1] == 0xBF && (c[2] == 0xBE || c[2] == 0xBF);
}

std::string formatTime(uint32_t t, const char* format) {
  if (t == 0) return "";
  const time_t when = static_cast<time_t>(t);
  struct tm local;
  if (!localtime_r(&when, &local)) return "";
  char buf[64];
  const size_t n = strftime(buf, sizeof buf, format, &local);
  return std::string(buf, n);
}

}  // namespace

size_t skipUnconvertible(const unsigned char* p, size_t left, int language, std::string& out) {
  out += kReplacement;
  return characterLength(reinterpret_cast<const char*>(p), left, language);
}

void appendUtf8(uint32_t cp, std::string& out) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    out += kReplacement;
  } else if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

uint32_t decodeUtf8At(std::string_view text, size_t pos, size_t& len) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + pos;
  len = utf8At(text, pos);
  if (len == 1) return p[0] < 0x80 ? p[0] : 0xFFFD;
  uint32_t cp = p[0] & (0xFF >> (len + 1));
  for (size_t k = 1; k < len; ++k)
    cp = (cp << 6) | (p[k] & 0x3F);
  return cp;
}

const char* htmlLanguage(int language) {
  switch (language) {
    case kLangCH:
      return "zh-Hant";
    case kLangJP:
      return "ja";
    case kLangGB:
      return "zh-Hans";
    default:
      return "en";
  }
}

std::string escapeMarkup(std::string_view utf8) {
  std::string sanitized;
  std::string_view clean = utf8;
  if (!isUtf8(utf8)) clean = sanitized = sanitizeUtf8(utf8);
  // ASCII that stays as it is; a page's texts are mostly runs of it, each
  // taken over in one piece.
  static const auto kKept = [] {
    std::array<bool, 256> kept{};
    for (int c = 0; c < 0x80; ++c) {
      const auto byte = static_cast<unsigned char>(c);
      kept[byte] = !xmlForbidden(&byte, 1) && htmlEntityFor(static_cast<char>(c)) == nullptr;
    }
    return kept;
  }();
  std::string out;
  out.reserve(clean.size() + clean.size() / 8);
  const auto* p = reinterpret_cast<const unsigned char*>(clean.data());
  for (size_t i = 0; i < clean.size();) {
    size_t run = i;
    while (run < clean.size() && kKept[p[run]])
      ++run;
    out.append(clean.data() + i, run - i);
    if (run == clean.size()) break;
    i = run;
    const size_t len = utf8At(clean, i);
    if (xmlForbidden(p + i, len)) {
      out += ' ';
    } else if (const char* entity = htmlEntityFor(clean[i])) {
      out += entity;
    } else {
      out.append(clean.data() + i, len);
    }
    i += len;
  }
  return out;
}

std::string jsonString(std::string_view text) {
  const std::string clean = isUtf8(text) ? std::string(text) : sanitizeUtf8(text);
  std::string out = "\"";
  out.reserve(clean.size() + 2);
  for (size_t i = 0; i < clean.size(); ++i) {
    const auto c = static_cast<unsigned char>(clean[i]);
    // U+2028 and U+2029 end a line in script text.
    if (c == 0xE2 && i + 2 < clean.size() && clean[i + 1] == '\x80' &&
        (clean[i + 2] == '\xA8' || clean[i + 2] == '\xA9')) {
      out += clean[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
      i += 2;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c < 0x20 || c == '<' || c == '>' || c == '&' || c == 0x7F) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

const char* localCharset(int language) {
  return doctext::localCodePage(language);
}

bool isUtf8(std::string_view bytes, bool cutTail) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t i = 0; i < bytes.size();) {
    i = asciiRunEnd(p, i, bytes.size());
    if (i == bytes.size()) break;
    // Past the ASCII run, one byte is one that starts no character.
    const size_t len = utf8At(bytes, i);
    if (len == 1) return cutTail && utf8CutShort(bytes.data() + i, bytes.size() - i);
    i += len;
  }
  return true;
}

std::string sanitizeUtf8(std::string_view bytes, bool cutTail) {
  std::string out;
  out.reserve(bytes.size());
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  for (size_t i = 0; i < bytes.size();) {
    const size_t run = asciiRunEnd(p, i, bytes.size());
    out.append(bytes.data() + i, run - i);
    i = run;
    if (i == bytes.size()) break;
    const size_t len = utf8At(bytes, i);
    if (len == 1) {
      if (cutTail && utf8CutShort(bytes.data() + i, bytes.size() - i)) break;
      out += kReplacement;
      ++i;
    } else {
      out.append(bytes.data() + i, len);
      i += len;
    }
  }
  return out;
}

std::string charsetToUtf8(std::string_view bytes, const char* from, int language, bool cutTail) {
  if (std::string_view(from) == "UTF-8") return sanitizeUtf8(bytes, cutTail);
  // UTF-8 by another spelling (HTML declares "utf-8"): valid text converts to
  // itself, so only broken text needs the converter and its replacements.
  if ((strcasecmp(from, "UTF-8") == 0 || strcasecmp(from, "UTF8") == 0) && isUtf8(bytes, cutTail))
    return sanitizeUtf8(bytes, cutTail);
  std::string out;
  if (!libraryToUtf8(bytes, from, language, cutTail, out)) return replaceNonAscii(bytes, language);
  return sanitizeUtf8(out);  // the converter's output is well formed; this only guards it
}

std::string localToUtf8(std::string_view local, int language) {
  return charsetToUtf8(local, localCharset(language), language);
}

std::string formatDate(uint32_t secondsSince1970) {
  return formatTime(secondsSince1970, "%Y-%m-%d %H:%M");
}

std::string formatIsoDate(uint32_t secondsSince1970) {
  return formatTime(secondsSince1970, "%Y-%m-%dT%H:%M:%S%z");
}

std::string formatSize(uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static const char* const kUnits[] = {"KB", "MB", "GB", "TB"};
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < sizeof kUnits / sizeof kUnits[0]) {
    value /= 1024;
    ++unit;
  }
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f %s", value, kUnits[unit]);
  return buf;
}

}  // namespace render
