/// @file charset_test_util.h
/// @brief Small conversion tables written by the charset tests, and the C
/// library's converter as the reference to compare with.

#ifndef SEARCHRUN_TESTS_TEXT_CHARSET_TEST_UTIL_H
#define SEARCHRUN_TESTS_TEXT_CHARSET_TEST_UTIL_H

#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "text/charset_table.h"

namespace charsettest {

// One character of a small table: double-byte member, lead * 256 + trail
// (a single byte b as b * 256) and its code point.
struct Mapping {
  uint32_t member;
  uint16_t dbcs;
  uint16_t code;
};

// 中 in all four code pages, a few more in Big5 and Shift_JIS (half-width
// katakana ア among them).
inline const std::vector<Mapping>& smallMappings() {
  static const std::vector<Mapping> rows = {
      {1, 0xA4A4, 0x4E2D}, {1, 0xA440, 0x4E00}, {1, 0xA1B1, 0x00A7}, {2, 0xD6D0, 0x4E2D},
      {3, 0x9286, 0x4E2D}, {3, 0xB100, 0xFF71}, {3, 0x889F, 0x4E9C}, {4, 0xC3E6, 0x4E2D}};
  return rows;
}

inline void writeTable(const std::string& path, const CharsetTable& table, size_t bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return;
  std::fwrite(table.data(), 1, bytes, f);
  std::fclose(f);
}

// Writes the eight tables into `dir` (which must exist): ASCII 0x01 to 0x7E
// maps to itself (0x7F is left out) plus smallMappings().
inline void writeSmallTables(const std::string& dir) {
  for (uint32_t member = 1; member <= 4; ++member) {
    CharsetTable to(kCharsetTableEntries), from(kCharsetTableEntries);
    for (uint16_t b = 1; b < 0x7F; ++b) {
      to[b << 8] = b;
      from[b] = static_cast<uint16_t>(b << 8);
    }
    for (const Mapping& m : smallMappings()) {
      if (m.member != member) continue;
      to[m.dbcs] = m.code;
      from[m.code] = m.dbcs;
    }
    writeTable(charsetTablePath(dir, charsetTableName(member, true)), to, kCharsetTableBytes);
    writeTable(charsetTablePath(dir, charsetTableName(member, false)), from, kCharsetTableBytes);
  }
}

// `text` converted by the C library from `from` to `to`; false when it
// cannot convert all of it.
inline bool libraryConvert(const std::string& text, const char* from, const char* to,
                           std::string& out) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::vector<char> buffer(text.size() * 4 + 16);
  char* in_p = const_cast<char*>(text.data());
  char* out_p = buffer.data();
  size_t in_left = text.size(), out_left = buffer.size();
  const bool ok =
      iconv(cd, &in_p, &in_left, &out_p, &out_left) != static_cast<size_t>(-1) && in_left == 0;
  iconv_close(cd);
  out.assign(buffer.data(), buffer.size() - out_left);
  return ok;
}

}  // namespace charsettest

#endif  // SEARCHRUN_TESTS_TEXT_CHARSET_TEST_UTIL_H
