/// @file cgi_codec_test.cc
/// @brief URL encoding, hex digits and the "%u" escapes.

#include "front/cgi_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cgi_test_util.h"

namespace {

using cgitest::ScopedConverter;

TEST(CgiCodec, ValidCharactersAreDigitsAndAsciiLettersOnly) {
  for (int c : {'0', '9', 'A', 'Z', 'a', 'z'})
    EXPECT_TRUE(isValidCGIChar(c)) << char(c);
  // Neighbours of each range, URL-safe punctuation, and bytes of other code pages.
  for (int c : std::initializer_list<int>{'/', ':', '@', '[', '`', '{', '-', '_', '.', '~', ' ', 0,
                                          0xB0, 0xFF}) {
    EXPECT_FALSE(isValidCGIChar(c)) << c;
  }
}

TEST(CgiCodec, EncodeEscapesEverythingButLettersAndDigits) {
  EXPECT_EQ("a%20b%2FZ9%A4%00", encodeCGIString(std::string_view("a b/Z9\xA4\0", 8)));
  EXPECT_EQ("", encodeCGIString(""));
}

TEST(CgiCodec, EncodeInPlaceRefusesWhatDoesNotFit) {
  char fits[10] = "a/b";  // "a%2Fb" and the terminator take 6
  EXPECT_TRUE(encodeCGIString(fits, sizeof fits));
  EXPECT_STREQ("a%2Fb", fits);
  char tight[6] = "a//";  // "a%2F%2F" needs 8
  EXPECT_FALSE(encodeCGIString(tight, sizeof tight));
  EXPECT_STREQ("a//", tight);
}

TEST(CgiCodec, HexPairs) {
  const struct {
    char high, low;
    unsigned char byte;
  } rows[] = {{'4', '1', 0x41}, {'f', 'F', 0xFF}, {'a', '0', 0xA0}, {'0', '0', 0},
              {'g', '0', 0},    {'0', 'G', 0},    {'0', '\0', 0},   {' ', '1', 0}};
  for (const auto& row : rows) {
    EXPECT_EQ(row.byte, getCharFromHexChar(row.high, row.low)) << row.high << row.low;
  }
}

TEST(CgiCodec, UnicodeEscapeConvertsToTheLanguagesCodePage) {
  ScopedConverter converter;
  const struct {
    int language;
    const char* target;
  } rows[] = {{0, "BIG5"}, {1, "SJIS"}, {2, "GBK"}, {3, "UTF-8"}};
  for (const auto& row : rows) {
    std::string out = "x";
    EXPECT_TRUE(transferEscapeCodeToLocalPage("%u4E2D", out, kUnicodeEscape, row.language));
    EXPECT_EQ("x\xA4\xA4", out);
    EXPECT_EQ(row.target, cgitest::lastConverterTarget());
  }
  std::string out;
  EXPECT_TRUE(transferEscapeCodeToLocalPage("%25u4e2dTAIL", out, kDoubledUnicodeEscape, 0));
  EXPECT_EQ("\xA4\xA4", out);
}

TEST(CgiCodec, UnicodeEscapeFailuresLeaveTheOutputAlone) {
  ScopedConverter converter;
  const struct {
    const char* escape;
    int kind;
    int language;
  } rows[] = {
      {"%u4E2D", kUnicodeEscape, -1},        // unknown language
      {"u4E2D0", kUnicodeEscape, 0},         // no "%"
      {"%u4E2D", kDoubledUnicodeEscape, 0},  // kind does not match
      {"%25u4E2D", kUnicodeEscape, 0},
      {"%u4E2", kUnicodeEscape, 0},  // cut short
      {"%25u4E2", kDoubledUnicodeEscape, 0},
      {"%u0041", kUnicodeEscape, 0},  // a zero byte
      {"%u4E00", kUnicodeEscape, 0},
      {"%uZZZZ", kUnicodeEscape, 0},  // not hex
      {"%u1234", kUnicodeEscape, 0},  // converter fails
      {"%u4E2D", 7, 0},
  };
  for (const auto& row : rows) {
    std::string out = "keep";
    EXPECT_FALSE(transferEscapeCodeToLocalPage(row.escape, out, row.kind, row.language))
        << row.escape << " kind " << row.kind << " language " << row.language;
    EXPECT_EQ("keep", out);
  }
}

TEST(CgiCodec, WithoutAConverterNoEscapeConverts) {
  std::string out;
  EXPECT_FALSE(transferEscapeCodeToLocalPage("%u4E2D", out, kUnicodeEscape, 0));
  EXPECT_EQ("%u4E2D", decodeCgiToken("%u4E2D", 0));
}

}  // namespace
