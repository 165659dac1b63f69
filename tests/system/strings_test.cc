/// @file strings_test.cc
/// @brief Text parsers of the system library: the tokenizer, double-byte
/// aware slash search, thousands separators, index uids and safe index names.

#include "system/strings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/address.h"
#include "system/layout.h"

namespace {

using Tokens = std::vector<std::string>;

Tokens allTokens(std::string text, const char* delimiter) {
  Tokens out;
  for (char* cursor = text.data(); *cursor != '\0';)
    out.push_back(getToken(cursor, delimiter));
  return out;
}

TEST(Strings, GetTokenCutsAtWholeDelimiters) {
  EXPECT_EQ(allTokens("aXYbXYZcXYZ", "XYZ"), (Tokens{"aXYb", "c"}));
  EXPECT_EQ(allTokens("XYZXYZa", "XYZ"), (Tokens{"", "", "a"}));
  EXPECT_EQ(allTokens("YZrest", "XYZ"), (Tokens{"YZrest"}));  // no match before the text
}

TEST(Strings, DoubleByteSlashesAndThousands) {
  const char sjis[] = "dir/\x95/";  // 0x95 0x2F is one character
  EXPECT_EQ(find_last_slash(sjis, kLangJP), sjis + 3);
  const char lead[] = "a/\x95";  // a lead byte at the end has no partner
  EXPECT_EQ(find_last_slash(lead, kLangJP), lead + 1);
  const char* thousands[][2] = {{"1234567", "1,234,567"}, {"", ""}, {"-1234", "-1,234"}};
  for (const auto& c : thousands) {
    std::string s = c[0];
    RefineMatchCount(s);
    EXPECT_EQ(s, c[1]);
  }
}

// Walking UTF-8 by two-byte steps used to swallow the quote after a
// three-byte character, so that one search failed outright.
TEST(Strings, CharacterLengthsByCodePage) {
  const struct {
    const char* text;
    size_t left;
    int language;
    size_t length;
  } rows[] = {
      {"\xE4\xBB\x81\"", 4, kLangEN, 3},
      {"\xF0\x9F\x98\x80", 4, kLangEN, 4},
      {"\xC3\xBC", 2, kLangEN, 2},
      {"\xC3\"", 2, kLangEN, 1},  // Latin-1 "A~"
      {"\xE2\x80\x9C", 2, kLangEN, 1},
      {"\x80\x80", 2, kLangEN, 1},
      {"\xC0\x80", 2, kLangEN, 1},
      {"\xF5\x80\x80\x80", 4, kLangEN, 1},
      {"\x81\x67", 2, kLangJP, 2},
      {"\xB1\x81", 2, kLangJP, 1},
      {"\x81", 1, kLangJP, 1},
      {"\xA1\xA7", 2, kLangCH, 2},
      {"a\xA1", 2, kLangGB, 1},
      // Overlong, a surrogate, above U+10FFFF: no character, as a validator
      // of UTF-8 needs it.
      {"\xE0\x80\xAF", 3, kLangEN, 1},
      {"\xED\xA0\x80", 3, kLangEN, 1},
      {"\xF4\x90\x80\x80", 4, kLangEN, 1},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.length, characterLength(row.text, row.left, row.language))
        << row.text << " " << row.language;
    // Terminated text ends where the bounded text does.
    const std::string terminated(row.text, row.left);
    EXPECT_EQ(row.length, characterLength(terminated.c_str(), row.language)) << row.text;
  }
  // A character the end cuts short, as against one that is broken.
  EXPECT_TRUE(utf8CutShort("\xE4\xBB", 2));
  EXPECT_FALSE(utf8CutShort("\xE4\x41", 2));
  EXPECT_FALSE(utf8CutShort("\xE0\x80", 2));
  EXPECT_FALSE(utf8CutShort("\xC3\xBC", 2));
}

TEST(Address, IndexUidsAndSafeIndexNames) {
  const char* cases[][2] = {
      {"c0a8ff01_news$9000", "192.168.255.1 news 9000"},
      {"0A000005_x$", "10.0.0.5 x "},
      {"news$1", "127.0.0.1 news 1"},              // shorter than a host part
      {"0A00000G_n$1", "127.0.0.1 0A00000G_n 1"},  // not hex
      {"0A000005-n$1", "127.0.0.1 0A000005-n 1"},
  };
  std::string ip, index, port;
  for (const auto& c : cases) {
    systemDecodeIndexID(c[0], ip, index, port);
    EXPECT_EQ(ip + " " + index + " " + port, c[1]) << c[0];
  }
  std::string uid;
  make_index_uid("10.0.0.5", "news", uid);
  EXPECT_EQ("0A000005_news", uid);
  make_index_uid("10.0.0.256", "news", uid);  // not an address: this host
  EXPECT_EQ("7F000001_news", uid);
  for (const char* bad : {".1.2.3", "1..2.3", "1.2.3.", "1.2.3.4.5", "256.1.1.1", "1.2.3.a", ""})
    EXPECT_FALSE(isValidIP(bad)) << bad;
  EXPECT_TRUE(isValidIP("0.0.0.0"));
  EXPECT_TRUE(isValidIP("255.255.255.255"));
  for (const char* bad : {"12345678", "", "..", "a/b", "a$1", "\xa4\xe5"})
    EXPECT_FALSE(isSafeIndexName(bad)) << bad;
  EXPECT_TRUE(isSafeIndexName("a_b-C9"));
  EXPECT_FALSE(isSafeIndexName(nullptr));
}

}  // namespace
