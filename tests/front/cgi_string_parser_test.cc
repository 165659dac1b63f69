/// @file cgi_string_parser_test.cc
/// @brief Splitting and decoding requests, the block chain, and reading the
/// request from the CGI environment.

#include "front/cgi_string_parser.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cgi_test_util.h"
#include "front/cgi_input.h"
#include "tests/test_util.h"

namespace {

using cgitest::ScopedConverter;
using cgitest::ScopedStdinPipe;
using testutil::ScopedEnv;
using Vars = std::vector<std::pair<std::string, std::string>>;

Vars variables(const CGIStringParser& parser) {
  Vars out;
  for (int k = 0; k < parser.getCgiVariableNum(); ++k) {
    out.emplace_back(parser.findNameByIndex(k), parser.findValueByIndex(k));
  }
  return out;
}

Vars parse(const std::string& text, int language = -1) {
  CGIStringParser parser;
  parser.setSysLanuage(language);
  const int count = parser.initialize(text.c_str());
  EXPECT_EQ(count, parser.getCgiVariableNum());
  return variables(parser);
}

TEST(CgiStringParser, SplitsAndDecodesTokens) {
  const struct {
    const char* text;
    Vars expected;
  } rows[] = {
      {"a=1&b=2&a=3", {{"a", "1"}, {"b", "2"}, {"a", "3"}}},
      // Decoding comes before the split at "=", after the split at "&".
      {"q=a%3Db", {{"q", "a=b"}}},
      {"a%3Db=c", {{"a", "b=c"}}},
      {"%3D=x", {{"", "=x"}}},
      {"q=x%26y", {{"q", "x&y"}}},
      {"a==b", {{"a", "=b"}}},
      {"q=1+2%2B3", {{"q", "1 2+3"}}},
      {"flag", {{"flag", ""}}},
      {"=v", {{"", "v"}}},
      // Empty tokens count; a trailing "&" does not.
      {"", {}},
      {"&", {{"", ""}}},
      {"&&a=1", {{"", ""}, {"", ""}, {"a", "1"}}},
      {"a=1&&b=2&", {{"a", "1"}, {"", ""}, {"b", "2"}}},
      // Hex pairs of either case, unchecked pairs by the old arithmetic.
      {"q=%41%62%e4%B8", {{"q", "Ab\xE4\xB8"}}},
      {"q=%zz", {{"q", "S"}}},
      {"q=%+1", {{"q", "\x01"}}},
      // A "%" too close to the end of its token is kept as it is.
      {"q=%", {{"q", "%"}}},
      {"q=%4&r=1", {{"q", "%4"}, {"r", "1"}}},
      {"q=ab%", {{"q", "ab%"}}},
      // A decoded zero byte ends the name or value.
      {"q=a%00b&r=1", {{"q", "a"}, {"r", "1"}}},
      {"a%00=b", {{"a", ""}}},
      // Without a known language "%u" escapes stay as they came.
      {"q=%u4E2D", {{"q", "%u4E2D"}}},
      {"q=%25u4E2D", {{"q", "%25u4E2D"}}},
  };
  for (const auto& row : rows)
    EXPECT_EQ(row.expected, parse(row.text)) << row.text;
}

TEST(CgiStringParser, UnicodeEscapesBecomeLocalCharacters) {
  ScopedConverter converter;
  const struct {
    const char* text;
    int language;
    Vars expected;
  } rows[] = {
      {"q=%u4E2D", 0, {{"q", "\xA4\xA4"}}},
      {"q=a%25u4E2Db",
       2,
       {{"q",
         "a\xA4\xA4"
         "b"}}},
      {"%u4E2D=1", 1, {{"\xA4\xA4", "1"}}},
      // English converts too, into UTF-8 (the fake answers alike for every page).
      {"q=%u4E2D", 3, {{"q", "\xA4\xA4"}}},
      // The local text may be longer than the escape it replaces.
      {"q=%u6587%u6587&r=2", 0, {{"q", "&#25991;&#25991;"}, {"r", "2"}}},
      // Failed conversions keep the escape; the rest decodes as usual.
      {"q=%u4E2D", -1, {{"q", "%u4E2D"}}},
      {"q=%u0041", 0, {{"q", "%u0041"}}},
      {"q=%u4E2", 0, {{"q", "%u4E2"}}},
      {"q=%u12345", 0, {{"q", "%u12345"}}},
      {"q=%25u12%41", 0, {{"q", "%25u12A"}}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.expected, parse(row.text, row.language)) << row.text << " / " << row.language;
  }
}

TEST(CgiStringParser, LookupByNameFindsTheFirstExactMatch) {
  CGIStringParser parser;
  EXPECT_EQ(nullptr, parser.findCgiVariableByName("a"));  // nothing parsed yet
  ASSERT_EQ(4, parser.initialize("a=1&b=2&a=3&A=4"));
  EXPECT_STREQ("1", parser.findCgiVariableByName("a"));
  EXPECT_STREQ("4", parser.findCgiVariableByName("A"));
  EXPECT_EQ(nullptr, parser.findCgiVariableByName("c"));
  EXPECT_EQ(nullptr, parser.findCgiVariableByName("a "));
  EXPECT_EQ(nullptr, parser.findCgiVariableByName(nullptr));
  EXPECT_STREQ("a", parser.findNameByIndex(2));
  EXPECT_STREQ("3", parser.findValueByIndex(2));
  EXPECT_EQ(nullptr, parser.findNameByIndex(4));
  EXPECT_EQ(nullptr, parser.findValueByIndex(-1));
}

std::string numberedRequest(int count) {
  std::string text;
  for (int k = 0; k < count; ++k)
    text += (k ? "&v" : "v") + std::to_string(k) + "=" + std::to_string(k);
  return text;
}

TEST(CgiStringParser, TenVariablesPerBlock) {
  const struct {
    int variables;
    int blocks;
  } rows[] = {{0, 1}, {1, 1}, {10, 1}, {11, 2}, {20, 2}, {25, 3}, {101, 11}};
  for (const auto& row : rows) {
    CGIStringParser parser;
    EXPECT_EQ(0, parser.getBlockNum());
    ASSERT_EQ(row.variables, parser.initialize(numberedRequest(row.variables).c_str()));
    EXPECT_EQ(row.blocks, parser.getBlockNum()) << row.variables << " variables";
  }
  CGIStringParser parser;
  parser.initialize(numberedRequest(25).c_str());
  EXPECT_STREQ("v24", parser.findNameByIndex(24));
  EXPECT_STREQ("24", parser.findCgiVariableByName("v24"));
  EXPECT_STREQ("9", parser.findValueByIndex(9));
  EXPECT_STREQ("10", parser.findValueByIndex(10));
}

TEST(CgiStringParser, KeepsTheRawTextAndForgetsOnRequest) {
  CGIStringParser parser;
  EXPECT_EQ(nullptr, parser.getBackupQueryString());
  parser.initialize("q=a%20b+c&x=1");
  EXPECT_STREQ("q=a%20b+c&x=1", parser.getBackupQueryString());
  // A second request replaces the first entirely.
  EXPECT_EQ(1, parser.initialize("y=2"));
  EXPECT_EQ(nullptr, parser.findCgiVariableByName("x"));
  EXPECT_STREQ("y=2", parser.getBackupQueryString());
  parser.freeMemory();
  EXPECT_EQ(0, parser.getCgiVariableNum());
  EXPECT_EQ(0, parser.getBlockNum());
  EXPECT_EQ(nullptr, parser.getBackupQueryString());
  EXPECT_EQ(nullptr, parser.findCgiVariableByName("y"));
}

TEST(CgiStringParser, TextEndsAtItsFirstZeroByte) {
  CGIStringParser parser;
  const char text[] = "a=1\0b=2";
  EXPECT_EQ(1, parser.initialize(text, sizeof text - 1));
  EXPECT_STREQ("a=1", parser.getBackupQueryString());
  EXPECT_EQ(0, parser.initialize(nullptr));
}

TEST(CgiStringParser, DebugListing) {
  CGIStringParser parser;
  EXPECT_EQ("No CGI Variables Found", testutil::captureStdout([&] { parser.showAllElement(); }));
  parser.initialize("a=1&b");
  EXPECT_EQ("m_cgi_variable_num=2<br>m_block_num=1<br>a,1<br>b,<br>",
            testutil::captureStdout([&] { parser.showAllElement(); }));
}

// The request as a web server hands it over.
struct Request {
  const char* method;
  const char* query_string;
  const char* content_length;
};

class CgiEnvironment : public ::testing::Test {
 protected:
  // Earlier settings are undone first, so they cannot restore over the new ones.
  void set(const Request& r) {
    method_.reset();
    query_.reset();
    length_.reset();
    method_ = std::make_unique<ScopedEnv>("REQUEST_METHOD", r.method);
    query_ = std::make_unique<ScopedEnv>("QUERY_STRING", r.query_string);
    length_ = std::make_unique<ScopedEnv>("CONTENT_LENGTH", r.content_length);
  }
  CGIStringParser parser_;

 private:
  std::unique_ptr<ScopedEnv> method_, query_, length_;
};

TEST_F(CgiEnvironment, MissingPiecesGiveTheirCodesAndNoVariables) {
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
      {{"get", "a=1", nullptr}, 0},  // methods are upper case
      {{"HEAD", "a=1", "3"}, 0},
  };
  for (const auto& row : rows) {
    set(row.request);
    EXPECT_EQ(row.result, parser_.initialize()) << (row.request.method ? row.request.method : "-");
    EXPECT_EQ(0, parser_.getCgiVariableNum());
    EXPECT_EQ(nullptr, parser_.getBackupQueryString());
  }
}

TEST_F(CgiEnvironment, GetReadsTheQueryString) {
  set({"GET", "user=bob&query=a+b", "99"});
  EXPECT_EQ(2, parser_.initialize());
  EXPECT_STREQ("a b", parser_.findCgiVariableByName("query"));
  EXPECT_STREQ("user=bob&query=a+b", parser_.getBackupQueryString());
  set({"GET", "", nullptr});
  EXPECT_EQ(0, parser_.initialize());
  EXPECT_STREQ("", parser_.getBackupQueryString());
}

// The body reaches the parser through a pipe in 1000-byte pieces.
TEST_F(CgiEnvironment, PostReadsTheBodyUpToItsLength) {
  const std::string big = "q=" + std::string(200000, 'x') + "&last=1";
  const std::string huge = "q=" + std::string(kMaxCgiBodyBytes + 5000, 'y') + "&tail=1";
  const std::string capped = huge.substr(0, kMaxCgiBodyBytes);
  const struct {
    std::string length;
    std::string body;
    std::string read;
    int variables;
  } rows[] = {
      {"7", "a=1&b=2&c=3", "a=1&b=2", 2},
      {"500", "a=1&b=2", "a=1&b=2", 2},  // the input ends first
      {std::to_string(big.size()), big, big, 2},
      {"99999999999999999999", huge, capped, 1},
      {"2147483647", huge, capped, 1},
  };
  for (const auto& row : rows) {
    set({"POST", "ignored=1", row.length.c_str()});
    ScopedStdinPipe body(row.body, 1000);
    EXPECT_EQ(row.variables, parser_.initialize()) << row.length;
    EXPECT_TRUE(row.read == parser_.getBackupQueryString()) << row.length;
  }
}

TEST(CgiVariable, IsTheProcessWideParser) {
  EXPECT_EQ(0, cgi_variable.getCgiVariableNum());
  cgi_variable.initialize("user=x");
  EXPECT_STREQ("x", cgi_variable.findCgiVariableByName("user"));
  cgi_variable.freeMemory();
}

}  // namespace
