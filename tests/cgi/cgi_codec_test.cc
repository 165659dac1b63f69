/// @file cgi_codec_test.cc
/// @brief URL encoding, hex digits and the "%u" escapes.

#include "cgi/cgi_codec.h"

#include <gtest/gtest.h>

#include <string>

#include "cgi_test_util.h"

namespace {

TEST(CgiCodec, EncodeKeepsOnlyAsciiLettersAndDigits) {
  EXPECT_EQ("09AZaz%2F%3A%40%5B%60%7B%2D%5F%2E%7E%20%B0%FF%00",
            encodeCGIString(std::string_view("09AZaz/:@[`{-_.~ \xB0\xFF\0", 20)));
  char fits[6] = "a/b";  // "a%2Fb" and the terminator take 6
  EXPECT_TRUE(encodeCGIString(fits, sizeof fits));
  EXPECT_STREQ("a%2Fb", fits);
  char tight[7] = "a//";  // "a%2F%2F" needs 8
  EXPECT_FALSE(encodeCGIString(tight, sizeof tight));
  EXPECT_STREQ("a//", tight);
}

TEST(CgiCodec, HexPairs) {
  EXPECT_EQ(0x41, getCharFromHexChar('4', '1'));
  EXPECT_EQ(0xFF, getCharFromHexChar('f', 'F'));
  EXPECT_EQ(0, getCharFromHexChar('g', '0'));
  EXPECT_EQ(0, getCharFromHexChar('0', '\0'));
}

TEST(CgiCodec, UnicodeEscapeOfTheMatchingKindConvertsToTheLanguagesCodePage) {
  std::string out;
  EXPECT_FALSE(transferEscapeCodeToLocalPage("%u4E2D", out, kUnicodeEscape, 0));  // no converter
  cgitest::ScopedConverter converter;
  const char* targets[] = {"BIG5", "SJIS", "GBK", "UTF-8"};
  for (int language = 0; language < 4; ++language) {
    out = "x";
    EXPECT_TRUE(transferEscapeCodeToLocalPage("%u4E2D", out, kUnicodeEscape, language));
    EXPECT_EQ("x\xA4\xA4", out);
    EXPECT_EQ(targets[language], cgitest::lastConverterTarget());
  }
  out.clear();
  EXPECT_TRUE(transferEscapeCodeToLocalPage("%25u4e2dTAIL", out, kDoubledUnicodeEscape, 0));
  EXPECT_EQ("\xA4\xA4", out);
  // The kind must match; failures of single escapes are covered through the
  // request parser.
  out = "keep";
  EXPECT_FALSE(transferEscapeCodeToLocalPage("%u4E2D", out, kDoubledUnicodeEscape, 0));
  EXPECT_FALSE(transferEscapeCodeToLocalPage("%u4E2D", out, 7, 0));
  EXPECT_FALSE(transferEscapeCodeToLocalPage("%u4E2D", out, kUnicodeEscape, -1));
  EXPECT_EQ("keep", out);
}

}  // namespace

// The permit key must never be kept: logs, result files and links get the
// request without it, however its name is spelled.
TEST(CgiCodec, RequestWithoutAVariable) {
  const std::pair<const char*, const char*> rows[] = {
      {"user=a&ks_key=a1234567&query=x", "user=a&query=x"},
      {"ks_key=a1234567", ""},
      {"ks%5Fkey=k1234567&ks_key&ks_key=&q=1", "q=1"},
      {"query=ks_key%3Dx&ks_keys=1", "query=ks_key%3Dx&ks_keys=1"},
      // The parser splits after decoding: these are the key too.
      {"ks_key%3Dk1234567&q=1", "q=1"},
      {"ks%5Fkey%3D1&ks_key%00x=2", ""},
      {"a&&b", "a&&b"},
      {"", ""},
  };
  for (const auto& [raw, kept] : rows)
    EXPECT_EQ(kept, queryStringWithout(raw, "ks_key")) << raw;
}
