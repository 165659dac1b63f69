/// @file cgi_codec.cc
/// @brief URL escapes in both directions.

#include "cgi/cgi_codec.h"

#include <algorithm>

#include <cstring>

#include "cgi/conversion_hooks.h"
#include "system/log.h"
#include "system/strings.h"

namespace {

// Browsers and our own pages only ever send proper hex pairs; whatever else
// arrives is turned into some byte by the same arithmetic as always, so that
// old links keep decoding the way they did.
unsigned char uncheckedHexByte(unsigned char high, unsigned char low) {
  auto value = [](unsigned char c) { return c >= 'A' ? (c & 0xDF) - 55 : c - 48; };
  return static_cast<unsigned char>((16 * value(high) + value(low)) & 0xFF);
}

// Length of the "%u" escape starting at `at` ("%" included), 0 for none.
int unicodeEscapeKind(std::string_view token, size_t at) {
  std::string_view rest = token.substr(at + 1);
  if (rest.substr(0, 1) == "u") return kUnicodeEscape;
  if (rest.substr(0, 3) == "25u") return kDoubledUnicodeEscape;
  return 0;
}

}  // namespace

bool isValidCGIChar(int c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string encodeCGIString(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size() * 3);
  for (unsigned char c : text) {
    if (isValidCGIChar(c)) {
      out += char(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

bool encodeCGIString(char* text, size_t capacity) {
  if (text == nullptr) return false;
  const std::string encoded = encodeCGIString(std::string_view(text, strnlen(text, capacity)));
  if (encoded.size() + 1 > capacity) return false;
  std::memcpy(text, encoded.c_str(), encoded.size() + 1);
  return true;
}

unsigned char getCharFromHexChar(char high, char low) {
  const int h = hexDigitValue(high), l = hexDigitValue(low);
  if (h < 0 || l < 0) return 0;
  return static_cast<unsigned char>(16 * h + l);
}

bool transferEscapeCodeToLocalPage(std::string_view escape, std::string& out, int kind,
                                   int language) {
  const char* target = localCodePageName(language);
  if (target == nullptr) return false;
  std::string_view prefix;
  if (kind == kUnicodeEscape) {
    prefix = "%u";
  } else if (kind == kDoubledUnicodeEscape) {
    prefix = "%25u";
  } else {
    return false;
  }
  if (escape.size() < size_t(kind) || escape.substr(0, prefix.size()) != prefix) return false;
  const std::string_view digits = escape.substr(prefix.size(), 4);
  const char input[3] = {char(getCharFromHexChar(digits[0], digits[1])),
                         char(getCharFromHexChar(digits[2], digits[3])), '\0'};
  if (input[0] == '\0' || input[1] == '\0') return false;
  const CharsetConverterFn convert = localPageConverter();
  if (convert == nullptr) return false;
  const std::string shown(escape.substr(0, size_t(kind)));
  ReportLog("%s(%d): transferEscapeCodeToLocalPage : escape = '%s'\n", __FILE__, __LINE__,
            shown.c_str());
  char converted[16] = {};
  const int result = convert(input, "UTF-16BE", converted, target, sizeof converted);
  converted[sizeof converted - 1] = '\0';
  ReportLog("%s(%d): transferEscapeCodeToLocalPage : result = %d, output = '%s'\n", __FILE__,
            __LINE__, result, result == 0 ? converted : "");
  if (result != 0) return false;
  if (converted[0] == '\0') return false;
  out += converted;
  return true;
}

std::string decodeCgiToken(std::string_view token, int language) {
  std::string plain(token);
  for (char& c : plain) {
    if (c == '+') c = ' ';
  }
  const std::string_view text(plain);
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] != '%') {
      out += text[i++];
      continue;
    }
    const int kind = unicodeEscapeKind(text, i);
    if (kind != 0) {
      if (transferEscapeCodeToLocalPage(text.substr(i), out, kind, language)) {
        i += size_t(kind);
      } else {
        out += text[i++];
      }
    } else if (i + 2 < text.size()) {
      out += char(uncheckedHexByte(text[i + 1], text[i + 2]));
      i += 3;
    } else {
      out += text[i++];
    }
  }
  return out;
}

std::string queryPieceName(std::string_view piece, int language) {
  std::string name = decodeCgiToken(piece, language);
  name.resize(std::min(name.size(), name.find('\0')));
  name.resize(std::min(name.size(), name.find('=')));
  return name;
}

std::string queryStringWithout(std::string_view raw, std::string_view name) {
  std::string kept;
  size_t start = 0;
  while (start <= raw.size()) {
    size_t end = raw.find('&', start);
    if (end == std::string_view::npos) end = raw.size();
    const std::string_view pair = raw.substr(start, end - start);
    if (queryPieceName(pair, 3) != name) {
      if (!kept.empty()) kept += '&';
      kept.append(pair);
    }
    start = end + 1;
  }
  return kept;
}
