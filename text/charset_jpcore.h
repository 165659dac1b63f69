/// @file charset_jpcore.h
/// @brief The Japanese character table of the charset engine
/// (QNcz_JPCode_Core): one flag word per byte value, rebuilt whenever the
/// engine is initialised, and the table of full-width Shift_JIS forms of
/// ASCII digits and letters.

#ifndef SEARCHRUN_TEXT_CHARSET_JPCORE_H
#define SEARCHRUN_TEXT_CHARSET_JPCORE_H

#include <array>
#include <cstdint>

// Flags of xInitH2F_SJIS.
constexpr unsigned kH2FLetters = 1;
constexpr unsigned kH2FDigits = 2;

class QNcz_JPCode_Core {
 public:
  // Flag words, one per byte value (process-wide).
  using CodeTypes = std::array<uint32_t, 256>;
  // Shift_JIS pairs (lead * 256 + trail) per ASCII byte; 0 for none.
  using H2FTable = std::array<uint16_t, 256>;

  // Rebuilds the flag table: 0x00-0x7F 0x1; 0xA1-0xFE 0x2; 0x8E 0x8;
  // 0xA0-0xDF 0x10; 0x21-0x7E 0x180; 0x81-0x9F and 0xE0-0xEF 0x400; 0x40-0x7E
  // and 0x80-0xFC 0x800; 0xCA-0xCE 0x2000; 0xB3, 0xB6-0xC4 and 0xCA-0xCE
  // 0x4000; digits 0x10000; ASCII letters 0x20000.
  static void StaticInit();
  static const CodeTypes& CodeType();

  // Sets the full-width pair of each digit (with kH2FDigits) and each ASCII
  // letter (with kH2FLetters) in `table`; other entries are left as they are.
  static void xInitH2F_SJIS(H2FTable& table, unsigned flags);
};

#endif  // SEARCHRUN_TEXT_CHARSET_JPCORE_H
