/// @file charset_jpcore.cc
/// @brief The Japanese character table of the charset engine.

#include "text/charset_jpcore.h"

namespace {

QNcz_JPCode_Core::CodeTypes g_jp_code_type{};

void addFlag(unsigned from, unsigned to, uint32_t flag) {
  for (unsigned c = from; c <= to; ++c)
    g_jp_code_type[c] |= flag;
}

}  // namespace

void QNcz_JPCode_Core::StaticInit() {
  g_jp_code_type.fill(0);
  addFlag(0x00, 0x7F, 0x1);
  addFlag(0xA1, 0xFE, 0x2);
  addFlag(0x8E, 0x8E, 0x8);
  addFlag(0xA0, 0xDF, 0x10);
  addFlag(0x21, 0x7E, 0x180);
  addFlag(0x81, 0x9F, 0x400);
  addFlag(0xE0, 0xEF, 0x400);
  addFlag(0x40, 0x7E, 0x800);
  addFlag(0x80, 0xFC, 0x800);
  addFlag(0xCA, 0xCE, 0x2000);
  addFlag(0xB6, 0xC4, 0x4000);
  addFlag(0xCA, 0xCE, 0x4000);
  addFlag(0xB3, 0xB3, 0x4000);
  addFlag('0', '9', 0x10000);
  addFlag('A', 'Z', 0x20000);
  addFlag('a', 'z', 0x20000);
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
