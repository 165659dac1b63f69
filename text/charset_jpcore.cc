/// @file charset_jpcore.cc
/// @brief The Japanese character table of the charset engine.

#include "text/charset_jpcore.h"

namespace {

QNcz_JPCode_Core::CodeTypes g_jp_code_type{};

// Byte ranges and the flag each adds; the meanings are those of the
// Japanese code conversion's class table.
const struct {
  unsigned from, to;
  uint32_t flag;
} kRanges[] = {
    {0x00, 0x7F, 0x1},    {0xA1, 0xFE, 0x2},    {0x8E, 0x8E, 0x8},    {0xA0, 0xDF, 0x10},
    {0x21, 0x7E, 0x180},  {0x81, 0x9F, 0x400},  {0xE0, 0xEF, 0x400},  {0x40, 0x7E, 0x800},
    {0x80, 0xFC, 0x800},  {0xCA, 0xCE, 0x2000}, {0xB6, 0xC4, 0x4000}, {0xCA, 0xCE, 0x4000},
    {0xB3, 0xB3, 0x4000}, {'0', '9', 0x10000},  {'A', 'Z', 0x20000},  {'a', 'z', 0x20000},
};

}  // namespace

void QNcz_JPCode_Core::StaticInit() {
  g_jp_code_type.fill(0);
  for (const auto& range : kRanges) {
    for (unsigned c = range.from; c <= range.to; ++c)
      g_jp_code_type[c] |= range.flag;
  }
}

const QNcz_JPCode_Core::CodeTypes& QNcz_JPCode_Core::CodeType() {
  return g_jp_code_type;
}

void QNcz_JPCode_Core::xInitH2F_SJIS(H2FTable& table, unsigned flags) {
  // Full-width digits and capitals sit 31 above their ASCII codes in the
  // 0x82 row, small letters 32 above.
  const auto pair = [](unsigned c, unsigned offset) { return uint16_t(0x8200 | (c + offset)); };
  for (unsigned c = '0'; c <= '9' && (flags & kH2FDigits); ++c)
    table[c] = pair(c, 31);
  for (unsigned c = 'A'; c <= 'Z' && (flags & kH2FLetters); ++c)
    table[c] = pair(c, 31);
  for (unsigned c = 'a'; c <= 'z' && (flags & kH2FLetters); ++c)
    table[c] = pair(c, 32);
}
