/// @file recorded_path.cc
/// @brief Percent-encoding of recorded paths.

#include "system/recorded_path.h"

#include "system/strings.h"

std::string encodeRecordedPath(std::string_view bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F || b == '%') {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

bool decodeRecordedPath(std::string_view text, std::string& bytes) {
  bytes.clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      bytes += text[i];
      continue;
    }
    const int hi = i + 2 < text.size() ? hexDigitValue(text[i + 1]) : -1;
    const int lo = i + 2 < text.size() ? hexDigitValue(text[i + 2]) : -1;
    if (hi < 0 || lo < 0) return false;
    bytes += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}
