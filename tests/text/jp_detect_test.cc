/// @file jp_detect_test.cc
/// @brief Verdicts of the Japanese form detector and the counters they raise.

#include "text/jp_detect.h"

#include <gtest/gtest.h>

#include <string>

#include "text/jp_conv.h"

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
    testing::internal::GetCapturedStderr();
    if (row.counter) {
      EXPECT_EQ(before + 1, *row.counter) << row.what;
    }
  }
}

TEST(JPDetect, ReportsBothReadingsOnStandardError) {
  initJPCodeType_jp_conv(0);
  testing::internal::CaptureStderr();
  checkJPCodeType("\x93\xFA\xB1x", 4);
  EXPECT_EQ("sjis=2,n_sjis=0,  euc=1,n_eud=1\n", testing::internal::GetCapturedStderr());
}

}  // namespace
