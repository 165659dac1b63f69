/// @file jp_conv_test.cc
/// @brief The Japanese converters: katakana widening with voiced and
/// semi-voiced marks, EUC and JIS to Shift_JIS, the query widener's cut.

#include "text/jp_conv.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

std::string widen(const std::string& text, int digitFlag = 0) {
  initJPCodeType_jp_conv(digitFlag);
  std::string out;
  convertJP_H2F2(text.data(), text.size(), out);
  return out;
}

std::string viaStream(void (*convert)(const char*, size_t, FILE*), const std::string& text) {
  FILE* f = tmpfile();
  convert(text.data(), text.size(), f);
  std::string out(static_cast<size_t>(ftell(f)), '\0');
  rewind(f);
  EXPECT_EQ(out.size(), fread(&out[0], 1, out.size(), f));
  fclose(f);
  return out;
}

struct Row {
  std::string in;
  std::string expected;
};

TEST(JPConv, HalfWidthKatakanaWithMarks) {
  const Row rows[] = {
      {"\xB6\xDE", "\x83\x4B"},          // ka + voiced = ga
      {"\xCA\xDF", "\x83\x70"},          // ha + semi-voiced = pa
      {"\xCA\xDE", "\x83\x6F"},          // ha + voiced = ba
      {"\xCE\xDF", "\x83\x7C"},          // ho + semi-voiced = po
      {"\xC2\xDE", "\x83\x64"},          // tsu + voiced = du (skips small tsu)
      {"\xC4\xDE", "\x83\x68"},          // to + voiced = do, last of the ta row
      {"\xB3\xDE", "\x83\x94"},          // u + voiced = vu
      {"\xB1\xDE", "\x83\x41\x81\x4A"},  // a takes no mark: the mark widens alone
      {"\xB6\xDF", "\x83\x4A\x81\x4B"},  // ka takes no semi-voiced mark
      {"\xC5\xDE", "\x83\x69\x81\x4A"},  // na is past the voiced rows
      {"\xDE", "\x81\x4A"},              // a mark of its own
      {"\xA1\xA2\xA3\xA4\xA5", "\x81\x42\x81\x75\x81\x76\x81\x41\x81\x45"},
      {"\xA6\xAF\xB0\xDD", "\x83\x92\x83\x62\x81\x5B\x83\x93"},  // wo, small tsu, long, n
      {"\xB6", "\x83\x4A"},                                      // a letter ending the text
      {"\xA0", "\xA0"},                                          // no full-width form: kept
      {"123", "123"},            // digits stay without the digit flag
      {"\x88\xDE", "\x88\xDE"},  // a pair whose trail lies in the kana range
      {"\x88\xDE\xB6", "\x88\xDE\x83\x4A"},
      {"\x88", "\x88"},  // a lead byte ending the text
      {"\x80z", "\x80z"},
      {std::string("a\0\xB1", 3), std::string("a\0\x83\x41", 4)},  // zero bytes are text
  };
  for (const Row& row : rows) {
    EXPECT_EQ(row.expected, widen(row.in)) << "input " << testing::PrintToString(row.in);
  }
}

TEST(JPConv, DigitFlagWidensDigits) {
  EXPECT_EQ("\x82\x50\x82\x51\x82\x52", widen("123", 1));
  EXPECT_EQ("x\x82\x58", widen("x9", 1));
  // The flag belongs to the last rebuild of the table.
  EXPECT_EQ("9", widen("9", 0));
}

TEST(JPConv, KatakanaTableFollowsTheSyllabary) {
  // 0xB1..0xDD are a..n: full-width forms ascend, all in the katakana block.
  uint16_t previous = 0;
  for (int kana = 0xB1; kana <= 0xDD; ++kana) {
    const uint16_t full = halfKanaToFull(static_cast<unsigned char>(kana));
    EXPECT_GT(full, previous) << std::hex << kana;
    EXPECT_EQ(0x83, full >> 8) << std::hex << kana;
    previous = full;
  }
  EXPECT_EQ(0, halfKanaToFull(0xA0));
  EXPECT_EQ(0, halfKanaToFull(0xE0));
}

TEST(JPConv, StreamFormWritesTheLastByteToo) {
  initJPCodeType_jp_conv(0);
  EXPECT_EQ("a\x83\x4B\x83\x41", viaStream(convertJP_H2F, "a\xB6\xDE\xB1"));
}

TEST(JPConv, JisPairs) {
  const struct {
    int c1, c2;
    unsigned char lead, trail;
  } rows[] = {
      {0x30, 0x21, 0x88, 0x9F},                            // even row
      {0x21, 0x21, 0x81, 0x40},                            // odd row, low cell
      {0x21, 0x60, 0x81, 0x80},                            // odd row, high cell skips 0x7F
      {0x24, 0x22, 0x82, 0xA0}, {0x60, 0x21, 0xE0, 0x9F},  // rows from 95 on
      {0x5F, 0x7E, 0xE0, 0x9E},
  };
  for (const auto& row : rows) {
    unsigned char pair[2];
    jis2sjisPair(row.c1, row.c2, pair);
    EXPECT_EQ(row.lead, pair[0]) << std::hex << row.c1 << " " << row.c2;
    EXPECT_EQ(row.trail, pair[1]) << std::hex << row.c1 << " " << row.c2;
  }
}

TEST(JPConv, EucBufferForm) {
  const Row rows[] = {
      {"\xB0\xA1", "\x88\x9F"},
      {"a\xB0\xA1z", "a\x88\x9Fz"},
      {"\x8E\xB6", "\x83\x4A"},  // a half-width letter at the end is converted whole
      {"\x8E\xB6\x8E\xDE", "\x83\x4B"},
      {"\x8E\xCA\x8E\xDF", "\x83\x70"},
      {"\x8E\xB1\x8E\xDE", "\x83\x41\x81\x4A"},
      {"\x8E\xB6\xDE", "\x83\x4A\xDE"},  // a mark without its single shift is no mark
      {"ab\xB0", "ab\xB0"},              // a last lone byte is copied
      {"\x8F", "\x8F"},
  };
  for (const Row& row : rows) {
    char out[64];
    const int n = convertJP_EUC2SJIS(row.in.data(), row.in.size(), out, sizeof(out));
    EXPECT_EQ(row.expected, std::string(out)) << testing::PrintToString(row.in);
    EXPECT_EQ(static_cast<int>(row.expected.size()), n);
  }
}

TEST(JPConv, EucBrokenHalfWidthAndSmallBuffers) {
  char out[16];
  EXPECT_EQ(-1, convertJP_EUC2SJIS("a\x8E\x41", 3, out, sizeof(out)));
  EXPECT_STREQ("a", out);
  // The stream form passes the broken sequence through.
  EXPECT_EQ("a\x8E\x41z", viaStream(convertJP_EUC2SJIS, "a\x8E\x41z"));

  // A character that does not fit whole is not started.
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(2, convertJP_EUC2SJIS("\xB0\xA1\xB0\xA1", 4, small, 4));
  EXPECT_EQ(std::string("\x88\x9F"), std::string(small));
  EXPECT_EQ(0, convertJP_EUC2SJIS("\xB0\xA1", 2, small, 2));
  EXPECT_STREQ("", small);
  EXPECT_EQ(0, convertJP_EUC2SJIS("a", 1, small, 0));
  EXPECT_EQ('\0', small[0]);  // untouched from the call before
}

TEST(JPConv, JisToShiftJis) {
  initJPCodeType_jp_conv(1);
  const Row rows[] = {
      {"\x1B$B\x30\x21\x1B(Ba", "\x88\x9F\x61"},
      {"\x1B$@\x24\x22\x1B(J1", "\x82\xA0\x82\x50"},  // digits widen in ASCII mode
      {"\x1B$B\x30\x0A\x21\x21\x1B(B", "\x81\x40"},   // a byte that starts no pair is dropped
      {"\x0E\x36\x5E\x0F", "\x83\x4B"},               // 7-bit ka + voiced mark
      {"\x0E\x4A\x5F\x31\x0F", "\x83\x70\x83\x41"},   // pa, a
      {"\x0E\x5E\x0Fz", "\x81\x4Az"},                 // a lone mark
      {"\x0E\x61\x0F", ""},                           // outside 7-bit katakana: dropped
      {"\x1B(Iab", "\x1B(Iab"},                       // other escapes pass through
      {"\x1B$", "\x1B$"},                             // a cut escape is plain text
      {"\x1B$B\x30", ""},                             // half a pair at the end
  };
  for (const Row& row : rows) {
    std::string out;
    convertJP_JIS2SJIS(row.in.data(), row.in.size(), out);
    EXPECT_EQ(row.expected, out) << testing::PrintToString(row.in);
  }
  EXPECT_EQ("\x88\x9F", viaStream(convertJP_JIS2SJIS, "\x1B$B\x30\x21"));
}

TEST(JPConv, QueryWidenerKeepsDigitsAndCutsWholeCharacters) {
  initJPCodeType_jp_conv(1);  // a digit flag left over from elsewhere
  std::string out;
  ASSERT_TRUE(widenJPQueryKana("1\xB6\xDE", 3, out));
  EXPECT_EQ("1\x83\x4B", out);

  // 1 + 2 x 3071 bytes fill the query exactly; one byte less leaves the last
  // pair out rather than half of it.
  const std::string fits = "a" + std::string(3071 + 10, '\xB1');
  ASSERT_TRUE(widenJPQueryKana(fits.data(), fits.size(), out));
  EXPECT_EQ(kWidenedQueryMax, out.size());
  EXPECT_EQ("\x83\x41", out.substr(out.size() - 2));
  const std::string odd = "ab" + std::string(3071 + 10, '\xB1');
  ASSERT_TRUE(widenJPQueryKana(odd.data(), odd.size(), out));
  EXPECT_EQ(kWidenedQueryMax - 1, out.size());
  EXPECT_EQ("\x83\x41", out.substr(out.size() - 2));
}

}  // namespace
