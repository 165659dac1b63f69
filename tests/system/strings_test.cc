/// @file strings_test.cc
/// @brief Tokenizers, double-byte aware slash search and small text helpers.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "system/layout.h"
#include "system/strings.h"

namespace {

std::vector<std::string> allTokens(std::string text, const char* delimiter) {
  std::vector<std::string> out;
  char* cursor = text.data();
  while (*cursor != '\0')
    out.push_back(getToken(cursor, delimiter));
  return out;
}

TEST(GetToken, WholeDelimiters) {
  const char d[] = "\x12\x13\x14";
  EXPECT_EQ(allTokens(std::string("10.0.0.5") + d + "alice" + d + "news", d),
            (std::vector<std::string>{"10.0.0.5", "alice", "news"}));
  EXPECT_EQ(allTokens("aXYbXYZcXYZ", "XYZ"), (std::vector<std::string>{"aXYb", "c"}));
  EXPECT_EQ(allTokens("XYZXYZa", "XYZ"), (std::vector<std::string>{"", "", "a"}));
  // A delimiter whose tail matches the start of the text must not be found
  // by looking before the cursor.
  std::string text = "YZrest";
  char* cursor = text.data();
  EXPECT_STREQ(getToken(cursor, "XYZ"), "YZrest");
  EXPECT_STREQ(getToken(cursor, "XYZ"), "");
  char* none = nullptr;
  EXPECT_EQ(parserStringToken(none, "X"), nullptr);
}

TEST(KSStrTok, SkipsEmptyTokensOnItsOwnCopy) {
  std::string source = ",,a,,b c,";
  EXPECT_STREQ(KSStrTok(source.c_str(), ", "), "a");
  source = "changed";
  EXPECT_STREQ(KSStrTok(nullptr, ", "), "b");
  EXPECT_STREQ(KSStrTok(nullptr, ", "), "c");
  EXPECT_EQ(KSStrTok(nullptr, ", "), nullptr);
  EXPECT_EQ(KSStrTok(nullptr, ", "), nullptr);
  EXPECT_STREQ(KSStrTok("x", ";"), "x");
}

TEST(DoubleByte, LastSlash) {
  const char sjis[] = "dir/\x95/";  // 0x95 0x2F is one character
  EXPECT_EQ(find_last_slash(sjis, kLangJP), sjis + 3);
  const char kana[] = "dir\xB1/x";  // half-width katakana is one byte in JP only
  EXPECT_EQ(find_last_slash(kana, kLangJP), kana + 4);
  EXPECT_EQ(find_last_slash(kana, kLangCH), nullptr);
  const char lead[] = "a/\x95";  // a lead byte at the end has no partner
  EXPECT_EQ(find_last_slash(lead, kLangJP), lead + 1);
  char trailing[] = "dir/sub/";
  EXPECT_TRUE(remove_last_slash(trailing, kLangEN));
  EXPECT_STREQ(trailing, "dir/sub");
  EXPECT_FALSE(remove_last_slash(trailing, kLangEN));
  char dbcs[] = "dir\x95/";
  EXPECT_FALSE(remove_last_slash(dbcs, kLangJP));
}

TEST(TextHelpers, RefineMatchCount) {
  const std::pair<const char*, const char*> cases[] = {
      {"1234567", "1,234,567"}, {"123", "123"}, {"1234", "1,234"},
      {"123456", "123,456"},    {"", ""},       {"-1234", "-1,234"}};
  for (const auto& [in, out] : cases) {
    std::string s = in;
    RefineMatchCount(s);
    EXPECT_EQ(s, out);
  }
}

}  // namespace
