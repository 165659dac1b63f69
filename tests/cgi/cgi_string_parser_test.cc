/// @file cgi_string_parser_test.cc
/// @brief Splitting and decoding requests, the block chain, and reading the
/// request from the CGI environment.

#include "cgi/cgi_string_parser.h"

#include <gtest/gtest.h>

#include <string>

#include "cgi/cgi_input.h"
#include "cgi_test_util.h"
#include "tests/test_util.h"

namespace {

using testutil::ScopedEnv;
// The variables as "name|value" joined by ", ".
std::string parse(const std::string& text, int language = -1) {
  CGIStringParser parser;
  parser.setSysLanuage(language);
  const int count = parser.initialize(text.c_str());
  EXPECT_EQ(count, parser.getCgiVariableNum());
  std::string out;
  for (int k = 0; k < parser.getCgiVariableNum(); ++k)
    out +=
        (k ? ", " : "") + std::string(parser.findNameByIndex(k)) + "|" + parser.findValueByIndex(k);
  return out;
}

TEST(CgiStringParser, SplitsAndDecodesTokens) {
  // Split at "&" before decoding, at "=" after; a trailing "&" makes no token.
  EXPECT_EQ("q|a=b, a|b=c, q|x&y, a|=b, q|1 2+3, flag|, |v, |, q|Ab\xE4\xB8",
            parse("q=a%3Db&a%3Db=c&q=x%26y&a==b&q=1+2%2B3&flag&=v&&q=%41%62%e4%B8&"));
  // Unchecked pairs by the old arithmetic; a "%" near the end of its token
  // stays; "%00" ends the name or value; "%u" stays without a language.
  EXPECT_EQ("q|S, q|\x01, q|%4, q|a, a|, q|%u4E2D, q|%25u4E2D, q|ab%",
            parse("q=%zz&q=%+1&q=%4&q=a%00b&a%00=b&q=%u4E2D&q=%25u4E2D&q=ab%"));
  EXPECT_EQ("", parse(""));
}

TEST(CgiStringParser, UnicodeEscapesBecomeLocalCharacters) {
  cgitest::ScopedConverter converter;
  EXPECT_EQ("\xA4\xA4|a\xA4\xA4z", parse("%u4E2D=a%25u4E2Dz", 2));
  // The local text may be longer than its escape; failed conversions keep it.
  EXPECT_EQ("q|&#25991;&#25991;, q|%u0041, q|%u4E2, q|%u12345, q|%25u12A, q|%uZZZZ",
            parse("q=%u6587%u6587&q=%u0041&q=%u4E2&q=%u12345&q=%25u12%41&q=%uZZZZ", 0));
}

TEST(CgiStringParser, LookupAndBlocks) {
  CGIStringParser parser;
  EXPECT_EQ(nullptr, parser.findCgiVariableByName("a"));
  EXPECT_EQ(nullptr, parser.getBackupQueryString());
  ASSERT_EQ(4, parser.initialize("a=1&b&a=3&A=4"));
  EXPECT_STREQ("1", parser.findCgiVariableByName("a"));  // the first, case-sensitive
  EXPECT_STREQ("4", parser.findCgiVariableByName("A"));
  EXPECT_EQ(nullptr, parser.findCgiVariableByName("a "));
  EXPECT_EQ(nullptr, parser.findCgiVariableByName(nullptr));
  EXPECT_EQ(nullptr, parser.findNameByIndex(4));
  EXPECT_EQ(nullptr, parser.findValueByIndex(-1));

  // Ten variables per block; a new request replaces the old one.
  const int counts[][2] = {{10, 1}, {11, 2}, {25, 3}};
  for (const auto& [variables, blocks] : counts) {
    std::string text = "v0=0";
    for (int k = 1; k < variables; ++k)
      text += "&v" + std::to_string(k) + "=" + std::to_string(k);
    ASSERT_EQ(variables, parser.initialize(text.c_str()));
    EXPECT_EQ(blocks, parser.getBlockNum()) << variables;
    for (int k = 0; k < variables; ++k)
      EXPECT_EQ(std::to_string(k), parser.findValueByIndex(k)) << k;
    EXPECT_EQ(nullptr, parser.findCgiVariableByName("A"));
  }
  const char text[] = "a=1\0b=2";  // the text ends at its first zero byte
  EXPECT_EQ(1, parser.initialize(text, sizeof text - 1));
  EXPECT_STREQ("a=1", parser.getBackupQueryString());
  EXPECT_EQ(0, parser.initialize(nullptr));
  parser.freeMemory();
  EXPECT_EQ(0, parser.getBlockNum());
  EXPECT_EQ(nullptr, parser.getBackupQueryString());
}

struct Request {
  const char *method, *query_string, *content_length;
};

int readRequest(CGIStringParser& parser, const Request& r) {
  ScopedEnv method("REQUEST_METHOD", r.method), query("QUERY_STRING", r.query_string),
      length("CONTENT_LENGTH", r.content_length);
  return parser.initialize();
}

TEST(CgiEnvironment, MissingPiecesGiveTheirCodesAndAPostReadsUpToItsLength) {
  const struct {
    Request request;
    int result;
  } rows[] = {
      {{nullptr, "a=1", "3"}, kCgiNoRequestMethod},
      {{"GET", nullptr, nullptr}, kCgiNoQueryString},
      {{"POST", "a=1", nullptr}, kCgiNoContentLength},
      {{"POST", "a=1", "0"}, kCgiNoContentLength},
      {{"POST", "a=1", "-3"}, kCgiNoContentLength},
      {{"POST", "a=1", "abc"}, kCgiNoContentLength},
      {{"get", "a=1", nullptr}, 0},
      {{"HEAD", "a=1", "3"}, 0},
  };
  CGIStringParser parser;
  for (const auto& row : rows) {
    parser.initialize("x=1");
    EXPECT_EQ(row.result, readRequest(parser, row.request)) << row.result;
    EXPECT_EQ(0, parser.getCgiVariableNum());
    EXPECT_EQ(nullptr, parser.getBackupQueryString());
  }
  ASSERT_EQ(2, readRequest(parser, {"GET", "user=bob&query=a+b", "99"}));
  EXPECT_STREQ("a b", parser.findCgiVariableByName("query"));
  EXPECT_STREQ("user=bob&query=a+b", parser.getBackupQueryString());

  // A POST reads the body up to its length; it reaches the parser through a
  // pipe in 1000-byte pieces.
  const std::string big = "q=" + std::string(200000, 'x') + "&last=1";
  const std::string huge = "q=" + std::string(kMaxCgiBodyBytes + 5000, 'y') + "&tail=1";
  const std::string capped = huge.substr(0, kMaxCgiBodyBytes);
  const struct {
    std::string length, body, read;
    int variables;
  } posts[] = {
      {"7", "a=1&b=2&c=3", "a=1&b=2", 2},
      {"500", "a=1&b=2", "a=1&b=2", 2},  // the input ends first
      {std::to_string(big.size()), big, big, 2},
      {"99999999999999999999", huge, capped, 1},
      {"2147483647", huge, capped, 1},
  };
  for (const auto& row : posts) {
    CGIStringParser parser;
    cgitest::ScopedStdinPipe body(row.body, 1000);
    EXPECT_EQ(row.variables, readRequest(parser, {"POST", "ignored=1", row.length.c_str()}));
    EXPECT_TRUE(row.read == parser.getBackupQueryString()) << row.length;
  }
}

}  // namespace
