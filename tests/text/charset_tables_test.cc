/// @file charset_tables_test.cc
/// @brief The generated tables and the engine over them, against the C
/// library's converters: every mapped character of every table, in each
/// direction.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/text/charset_test_util.h"
#include "text/charset_converter.h"
#include "text/charset_encoding.h"
#include "text/charset_table.h"

namespace {

// The converters the tables were generated from.
const struct CodePage {
  uint32_t code;
  const char* name;     // charEncodingConverter's name, or null
  const char* charset;  // the C library's name
} kCodePages[] = {{kCharsetBig5, "BIG5", "BIG5"},
                  {kCharsetGbk, "GBK", "GBK"},
                  {kCharsetSjis, "SJIS", "CP932"},
                  {kCharsetJpEuc, nullptr, "EUC-JP-MS"}};

const struct UnicodeForm {
  uint32_t code;
  const char* charset;
} kUnicodeForms[] = {
    {kCharsetUtf8, "UTF-8"}, {kCharsetUtf16LE, "UTF-16LE"}, {kCharsetUtf16BE, "UTF-16BE"}};

class GeneratedTables : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef SR_UNITBL_DIR
    GTEST_SKIP() << "built without the table generator (SEARCHRUN_COMPANIONS=OFF)";
#else
    dir_ = SR_UNITBL_DIR;
    ASSERT_EQ(0, QNac_CharsetEncodingConverter::StaticInitOpen(dir_.c_str()));
#endif
  }

  void load(uint32_t member, CharsetTable& to, CharsetTable& from) const {
    ASSERT_EQ(0, loadCharsetTable(dir_, member, true, to));
    ASSERT_EQ(0, loadCharsetTable(dir_, member, false, from));
  }

  // `text` through a converter opened for the pair, in one call.
  static std::string convert(uint32_t source, uint32_t target, const std::string& text) {
    QNac_CharsetEncodingConverter converter;
    EXPECT_EQ(0, converter.InitOpen(source, target));
    std::string out(text.size() * 8 + 16, '\0');
    const char* in = text.data();
    char* out_p = &out[0];
    EXPECT_EQ(kConvertDone,
              converter.Convert(in, text.data() + text.size(), out_p, &out[0] + out.size()));
    out.resize(static_cast<size_t>(out_p - out.data()));
    return out;
  }

  std::string dir_;
};

// Where two long texts first differ, for the failure message.
std::string firstDifference(const std::string& got, const std::string& expected) {
  size_t at = 0;
  while (at < got.size() && at < expected.size() && got[at] == expected[at])
    ++at;
  char text[96];
  std::snprintf(text, sizeof text, "sizes %zu and %zu, first difference at %zu", got.size(),
                expected.size(), at);
  return text;
}

// Every character of the double-byte table, in index order.
std::string everyDbcsCharacter(const CharsetTable& to) {
  std::string text;
  for (size_t i = 1; i < to.size(); ++i) {
    if (to[i] == 0) continue;
    if (i >> 8) text += static_cast<char>(i >> 8);
    if (i & 0xFF) text += static_cast<char>(i & 0xFF);
  }
  return text;
}

// Every code point the Unicode-to-double-byte table maps, in UTF-16BE.
std::string everyMappedCodePoint(const CharsetTable& from) {
  std::string text;
  for (size_t u = 1; u < from.size(); ++u) {
    if (from[u] == 0) continue;
    text += static_cast<char>(u >> 8);
    text += static_cast<char>(u & 0xFF);
  }
  return text;
}

TEST_F(GeneratedTables, AsciiMapsToItselfBothWays) {
  for (const CodePage& cp : kCodePages) {
    CharsetTable to, from;
    load(cp.code & kCharsetMemberMask, to, from);
    for (uint16_t b = 1; b < 0x80; ++b) {
      EXPECT_EQ(b, to[b << 8]) << cp.charset << " byte " << b;
      EXPECT_EQ(b << 8, from[b]) << cp.charset << " code " << b;
    }
  }
}

// Each character of a code page comes back to itself through the Unicode
// table (a code page with two codes for one character gives back one of
// them, which decodes to the same character).
TEST_F(GeneratedTables, EveryMappedCharacterRoundTrips) {
  for (const CodePage& cp : kCodePages) {
    CharsetTable to, from;
    load(cp.code & kCharsetMemberMask, to, from);
    size_t mapped = 0;
    for (size_t i = 1; i < to.size(); ++i) {
      if (to[i] == 0) continue;
      ++mapped;
      const uint16_t back = from[to[i]];
      ASSERT_NE(0, back) << cp.charset << " " << std::hex << i;
      EXPECT_EQ(to[i], to[back]) << cp.charset << " " << std::hex << i;
    }
    EXPECT_GT(mapped, 7000u) << cp.charset;
  }
}

// All characters of a table as one text, converted by the engine and by the
// C library, to and from each Unicode form.
TEST_F(GeneratedTables, WholeCodePagesMatchTheCLibrary) {
  for (const CodePage& cp : kCodePages) {
    CharsetTable to, from;
    load(cp.code & kCharsetMemberMask, to, from);
    const std::string dbcs = everyDbcsCharacter(to);
    std::string unicode16;
    ASSERT_TRUE(
        charsettest::libraryConvert(everyMappedCodePoint(from), "UTF-16BE", "UTF-16BE", unicode16));
    for (const UnicodeForm& form : kUnicodeForms) {
      std::string expected;
      ASSERT_TRUE(charsettest::libraryConvert(dbcs, cp.charset, form.charset, expected));
      const std::string got = convert(cp.code, form.code, dbcs);
      EXPECT_TRUE(got == expected)
          << cp.charset << " to " << form.charset << ": " << firstDifference(got, expected);

      std::string unicode, back;
      ASSERT_TRUE(charsettest::libraryConvert(unicode16, "UTF-16BE", form.charset, unicode));
      ASSERT_TRUE(charsettest::libraryConvert(unicode, form.charset, cp.charset, back));
      const std::string got_back = convert(form.code, cp.code, unicode);
      EXPECT_TRUE(got_back == back)
          << form.charset << " to " << cp.charset << ": " << firstDifference(got_back, back);
    }
  }
}

TEST_F(GeneratedTables, BetweenCodePagesAsTheCLibraryDoes) {
  CharsetTable to, from;
  load(1, to, from);
  // Big5 text of the characters Shift_JIS also has.
  std::string big5, sjis;
  CharsetTable sjis_to, sjis_from;
  load(3, sjis_to, sjis_from);
  for (size_t i = 0x8000; i < to.size(); ++i) {
    if (to[i] == 0 || sjis_from[to[i]] == 0) continue;
    big5 += static_cast<char>(i >> 8);
    big5 += static_cast<char>(i & 0xFF);
  }
  ASSERT_GT(big5.size(), 5000u);
  ASSERT_TRUE(charsettest::libraryConvert(big5, "BIG5", "CP932", sjis));
  const std::string got = convert(kCharsetBig5, kCharsetSjis, big5);
  EXPECT_TRUE(got == sjis) << firstDifference(got, sjis);
}

TEST_F(GeneratedTables, JisRuleMatchesTheCLibrary) {
  size_t compared = 0;
  for (unsigned c1 = 0x21; c1 <= 0x7E; ++c1) {
    for (unsigned c2 = 0x21; c2 <= 0x7E; ++c2) {
      const std::string jis = std::string("\x1B$B") + char(c1) + char(c2) + "\x1B(B";
      std::string expected;
      if (!charsettest::libraryConvert(jis, "ISO-2022-JP", "SHIFT_JIS", expected)) continue;
      ++compared;
      EXPECT_EQ(expected, convert(kCharsetJis, kCharsetSjisPlain, jis)) << c1 << " " << c2;
    }
  }
  EXPECT_GT(compared, 6000u);
}

TEST_F(GeneratedTables, CharEncodingConverterReadsThem) {
  setCharsetTableDirectory(dir_);
  char dest[64];
  EXPECT_EQ(0, charEncodingConverter("\xE4\xB8\xAD\xE6\x96\x87", "UTF-8", dest, "SJIS", 64));
  EXPECT_STREQ("\x92\x86\x95\xB6", dest);
  EXPECT_EQ(0, charEncodingConverter("\xA4\xA4\xA4\xE5", "BIG5", dest, "GBK", 64));
  EXPECT_STREQ("\xD6\xD0\xCE\xC4", dest);
  EXPECT_EQ(0, charEncodingConverter("\x65\x87", "UTF-16BE", dest, "UTF-8", 64));
  EXPECT_STREQ("\xE6\x96\x87", dest);
  setCharsetTableDirectory("../binind/unitbl");
}

}  // namespace
