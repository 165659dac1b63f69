/// @file charset_tables_test.cc
/// @brief The generated tables and the engine over them, against the C
/// library's converters: every mapped character of every table, in each
/// direction.

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <string>
#include <vector>

#include "text/charset_converter.h"
#include "text/charset_encoding.h"
#include "text/charset_table.h"

namespace {

// `text` converted by the C library; false when it cannot convert all of it.
bool libraryConvert(const std::string& text, const char* from, const char* to, std::string& out) {
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

// `text` through a converter opened for the pair, in one call.
std::string convert(uint32_t source, uint32_t target, const std::string& text) {
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

// Where two long texts first differ, for the failure message.
std::string firstDifference(const std::string& got, const std::string& expected) {
  size_t at = 0;
  while (at < got.size() && at < expected.size() && got[at] == expected[at])
    ++at;
  return "sizes " + std::to_string(got.size()) + " and " + std::to_string(expected.size()) +
         ", first difference at " + std::to_string(at);
}

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
  // Every character of the member's double-byte table in index order, and
  // every code point its Unicode table maps, in UTF-16BE.
  void load(uint32_t member, std::string& dbcs, std::string& unicode16) const {
    CharsetTable to, from;
    ASSERT_EQ(0, loadCharsetTable(dir_, member, true, to));
    ASSERT_EQ(0, loadCharsetTable(dir_, member, false, from));
    for (size_t i = 1; i < to.size(); ++i) {
      if (to[i] == 0) continue;
      if (i >> 8) dbcs += static_cast<char>(i >> 8);
      if (i & 0xFF) dbcs += static_cast<char>(i & 0xFF);
    }
    for (size_t u = 1; u < from.size(); ++u) {
      if (from[u] == 0) continue;
      unicode16 += static_cast<char>(u >> 8);
      unicode16 += static_cast<char>(u & 0xFF);
    }
  }

  std::string dir_;
};

// All characters of a table as one text, converted by the engine and by the
// C library, to and from each Unicode form.
TEST_F(GeneratedTables, WholeCodePagesMatchTheCLibrary) {
  const struct {
    uint32_t code;
    const char* charset;
  } codePages[] = {{kCharsetBig5, "BIG5"},
                   {kCharsetGbk, "GBK"},
                   {kCharsetSjis, "CP932"},
                   {kCharsetJpEuc, "EUC-JP-MS"}},
    unicodeForms[] = {
        {kCharsetUtf8, "UTF-8"}, {kCharsetUtf16LE, "UTF-16LE"}, {kCharsetUtf16BE, "UTF-16BE"}};
  for (const auto& cp : codePages) {
    std::string dbcs, unicode16;
    load(cp.code & kCharsetMemberMask, dbcs, unicode16);
    ASSERT_GT(dbcs.size(), 14000u) << cp.charset;
    for (const auto& form : unicodeForms) {
      std::string expected, unicode, back;
      ASSERT_TRUE(libraryConvert(dbcs, cp.charset, form.charset, expected));
      const std::string got = convert(cp.code, form.code, dbcs);
      EXPECT_TRUE(got == expected)
          << cp.charset << " to " << form.charset << ": " << firstDifference(got, expected);

      ASSERT_TRUE(libraryConvert(unicode16, "UTF-16BE", form.charset, unicode));
      ASSERT_TRUE(libraryConvert(unicode, form.charset, cp.charset, back));
      const std::string got_back = convert(form.code, cp.code, unicode);
      EXPECT_TRUE(got_back == back)
          << form.charset << " to " << cp.charset << ": " << firstDifference(got_back, back);
    }
  }
}

TEST_F(GeneratedTables, BetweenCodePagesAndJisAsTheCLibraryDoes) {
  // Big5 text of the characters Shift_JIS also has.
  CharsetTable big5_to, sjis_from;
  ASSERT_EQ(0, loadCharsetTable(dir_, 1, true, big5_to));
  ASSERT_EQ(0, loadCharsetTable(dir_, 3, false, sjis_from));
  std::string big5, sjis;
  for (size_t i = 0x8000; i < big5_to.size(); ++i) {
    if (big5_to[i] == 0 || sjis_from[big5_to[i]] == 0) continue;
    big5 += static_cast<char>(i >> 8);
    big5 += static_cast<char>(i & 0xFF);
  }
  ASSERT_GT(big5.size(), 5000u);
  ASSERT_TRUE(libraryConvert(big5, "BIG5", "CP932", sjis));
  const std::string got = convert(kCharsetBig5, kCharsetSjis, big5);
  EXPECT_TRUE(got == sjis) << firstDifference(got, sjis);

  size_t compared = 0;
  for (unsigned c1 = 0x21; c1 <= 0x7E; ++c1) {
    for (unsigned c2 = 0x21; c2 <= 0x7E; ++c2) {
      const std::string jis = std::string("\x1B$B") + char(c1) + char(c2) + "\x1B(B";
      std::string expected;
      if (!libraryConvert(jis, "ISO-2022-JP", "SHIFT_JIS", expected)) continue;
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
  setCharsetTableDirectory("../binind/unitbl");
}

}  // namespace
