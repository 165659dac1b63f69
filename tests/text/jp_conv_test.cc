/// @file jp_conv_test.cc
/// @brief The Japanese form detector's verdicts and the converters: katakana
/// widening with voiced and semi-voiced marks, EUC and JIS to Shift_JIS, the
/// query widener's cut.

#include "text/jp_conv.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "text/jp_detect.h"

namespace {

TEST(JPDetect, Verdicts) {
  const struct {
    const char* what;
    std::string text;
    int digitFlag;
    int verdict;
    int* counter;
  } rows[] = {
      {"ASCII letters", "abcdef", 1, kJPPlain, &g_L128},
      {"ASCII with a digit, digits marked", "abc1d", 1, kJPNeedsWidening, nullptr},
      {"ASCII with a digit, digits unmarked", "abc1d", 0, kJPPlain, &g_L128},
      {"a digit as the last byte is never examined", "abcd1", 1, kJPPlain, &g_L128},
      {"escape and 7-bit text", "\x1B$B\x30\x21\x1B(B", 0, kJPJis, &g_is_jis},
      {"Shift_JIS kanji", "\x93\xFA\x96\x7B", 0, kJPShiftJis, &g_is_sjis},
      {"Shift_JIS with half-width katakana", "\x93\xFA\xB1x", 0, kJPNeedsWidening, &g_is_sjis},
      {"EUC kanji", "\xC6\xFC\xCB\xDC", 0, kJPEuc, &g_is_euc},
      {"EUC half-width katakana and kanji", "\x8E\xB6\xC6\xFCx", 0, kJPEuc, &g_is_euc},
      {"EUC katakana alone also reads as Shift_JIS", "\x8E\xB6\x8E\xC0x", 0, kJPEitherForm,
       &g_unknown},
      {"fits both readings", "\xB0\xA1x", 0, kJPEitherForm, &g_unknown},
      {"Shift_JIS despite stray bytes", "\x93\xFA\x80\x80x", 0, kJPShiftJis, &g_xx1},
      {"empty", "", 0, kJPPlain, &g_L128},
  };
  for (const auto& row : rows) {
    initJPCodeType_jp_conv(row.digitFlag);
    const int before = row.counter ? *row.counter : 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(row.verdict, checkJPCodeType(row.text.data(), row.text.size())) << row.what;
    const std::string reported = testing::internal::GetCapturedStderr();
    // Both readings are reported on standard error.
    if (row.text == "\x93\xFA\xB1x") EXPECT_EQ("sjis=2,n_sjis=0,  euc=1,n_eud=1\n", reported);
    if (row.counter) EXPECT_EQ(before + 1, *row.counter) << row.what;
  }
}

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
  std::string in, expected;
};

TEST(JPConv, HalfWidthKatakanaWithMarks) {
  const Row rows[] = {
      // ga, pa, ba, po, du (skipping small tsu), do (the last of the ta row), vu.
      {"\xB6\xDE\xCA\xDF\xCA\xDE\xCE\xDF\xC2\xDE\xC4\xDE\xB3\xDE",
       "\x83\x4B\x83\x70\x83\x6F\x83\x7C\x83\x64\x83\x68\x83\x94"},
      // a, ka (semi-voiced) and na take no mark: it widens alone, as a lone one does.
      {"\xB1\xDE\xB6\xDF\xC5\xDE\xDE", "\x83\x41\x81\x4A\x83\x4A\x81\x4B\x83\x69\x81\x4A\x81\x4A"},
      {"\xA1\xA2\xA3\xA4\xA5\xA6\xAF\xB0\xDD\xA0",
       "\x81\x42\x81\x75\x81\x76\x81\x41\x81\x45\x83\x92\x83\x62\x81\x5B\x83\x93\xA0"},
      // Digits stay; a pair whose trail lies in the kana range is copied whole.
      {"123\x88\xDE\x80z\xB6", "123\x88\xDE\x80z\x83\x4A"},
      {"\x88", "\x88"},
      {std::string("a\0\xB1", 3), std::string("a\0\x83\x41", 4)},  // zero bytes are text
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.expected, widen(row.in)) << testing::PrintToString(row.in);
  EXPECT_EQ("\x82\x50x\x82\x58", widen("1x9", 1));
  EXPECT_EQ("9", widen("9", 0));  // the flag belongs to the last rebuild of the table
  EXPECT_EQ("a\x83\x4B\x83\x41", viaStream(convertJP_H2F, "a\xB6\xDE\xB1"));
}

TEST(JPConv, KatakanaTableFollowsTheSyllabary) {
  uint16_t previous = 0;
  for (int kana = 0xB1; kana <= 0xDD; ++kana) {  // a..n
    const uint16_t full = halfKanaToFull(static_cast<unsigned char>(kana));
    EXPECT_GT(full, previous) << std::hex << kana;
    EXPECT_EQ(0x83, full >> 8) << std::hex << kana;
    previous = full;
  }
  EXPECT_EQ(0, halfKanaToFull(0xA0));
  EXPECT_EQ(0, halfKanaToFull(0xE0));
}

TEST(JPConv, JisPairs) {
  const int rows[][4] = {{0x30, 0x21, 0x88, 0x9F},
                         {0x21, 0x21, 0x81, 0x40},
                         {0x21, 0x60, 0x81, 0x80},
                         {0x60, 0x21, 0xE0, 0x9F},
                         {0x5F, 0x7E, 0xE0, 0x9E}};
  for (const auto& row : rows) {
    unsigned char pair[2];
    jis2sjisPair(row[0], row[1], pair);
    EXPECT_EQ(row[2], pair[0]) << std::hex << row[0] << " " << row[1];
    EXPECT_EQ(row[3], pair[1]) << std::hex << row[0] << " " << row[1];
  }
}

TEST(JPConv, EucToShiftJis) {
  const Row rows[] = {
      {"a\xB0\xA1z\x8E\xB6\x8E\xDE\x8E\xCA\x8E\xDF\x8E\xB1\x8E\xDE",
       "a\x88\x9Fz\x83\x4B\x83\x70\x83\x41\x81\x4A"},
      {"\x8E\xB6\xDE", "\x83\x4A\xDE"},  // a mark without its single shift is no mark
      {"\x8E\xB6", "\x83\x4A"},          // a letter at the end is converted whole
      {"ab\xB0", "ab\xB0"},              // a last lone byte is copied
  };
  for (const Row& row : rows) {
    char out[64];
    const int n = convertJP_EUC2SJIS(row.in.data(), row.in.size(), out, sizeof(out));
    EXPECT_EQ(row.expected, std::string(out)) << testing::PrintToString(row.in);
    EXPECT_EQ(static_cast<int>(row.expected.size()), n);
  }
  char out[16];
  EXPECT_EQ(-1, convertJP_EUC2SJIS("a\x8E\x41", 3, out, sizeof(out)));
  EXPECT_STREQ("a", out);
  EXPECT_EQ("a\x8E\x41z", viaStream(convertJP_EUC2SJIS, "a\x8E\x41z"));  // passed through

  // A character that does not fit whole is not started.
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(2, convertJP_EUC2SJIS("\xB0\xA1\xB0\xA1", 4, small, 4));
  EXPECT_STREQ("\x88\x9F", small);
  EXPECT_EQ(0, convertJP_EUC2SJIS("\xB0\xA1", 2, small, 2));
  EXPECT_STREQ("", small);
  small[0] = 'x';
  EXPECT_EQ(0, convertJP_EUC2SJIS("a", 1, small, 0));
  EXPECT_EQ('x', small[0]);
}

TEST(JPConv, JisToShiftJis) {
  initJPCodeType_jp_conv(1);
  const Row rows[] = {
      {"\x1B$B\x30\x21\x1B(Ba\x1B$@\x24\x22\x1B(J1", "\x88\x9F\x61\x82\xA0\x82\x50"},
      {"\x1B$B\x30\n\x21\x21\x1B(B", "\x81\x40"},  // a byte that starts no pair is dropped
      {"\x0E\x36\x5E\x4A\x5F\x31\x5E\x61\x0Fz", "\x83\x4B\x83\x70\x83\x41\x81\x4Az"},
      {"\x1B(Iab\x1B$", "\x1B(Iab\x1B$"},  // other and cut escapes are text
      {"\x1B$B\x30", ""},                  // half a pair at the end
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
  // 1 + 2 x 3071 bytes fill the query exactly; one byte more leaves the last pair out.
  for (const std::string head : {"a", "ab"}) {
    const std::string text = head + std::string(3071 + 10, '\xB1');
    ASSERT_TRUE(widenJPQueryKana(text.data(), text.size(), out));
    EXPECT_EQ(kWidenedQueryMax + 1 - head.size(), out.size());
    EXPECT_EQ("\x83\x41", out.substr(out.size() - 2));
  }
}

}  // namespace
