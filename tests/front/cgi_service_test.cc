/// @file cgi_service_test.cc
/// @brief Cookie and request-argument tables.

#include "front/cgi_service.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "cgi_test_util.h"
#include "tests/test_util.h"

namespace {

using testutil::ScopedEnv;

// Expected cookie values; a null value means the key must be absent.
using Expected = std::map<std::string, const char*>;

void expectValues(const CGIParameter& table, const Expected& expected, const char* header) {
  for (const auto& [key, value] : expected) {
    const char* got = table.valueOf(key.c_str());
    if (value == nullptr) {
      EXPECT_EQ(nullptr, got) << header << ": " << key;
    } else {
      EXPECT_STREQ(value, got) << header << ": " << key;
    }
  }
}

TEST(CookieReading, PairsOfTheCookieHeader) {
  const struct {
    const char* header;
    size_t pairs;
    Expected expected;
  } rows[] = {
      {"a=1; KS_ID=x%41y; b", 2, {{"a", "1"}, {"KS_ID", "xAy"}, {"b", nullptr}}},
      {"ks_key=K123", 1, {{"ks_key", "K123"}, {"ks_key ", nullptr}, {"KS_KEY", nullptr}}},
      // The value starts after the last "="; the key ends at the first.
      {"a=b=c", 1, {{"a", "c"}, {"a=b", nullptr}}},
      // The first of two equal keys answers.
      {"x=1;x=2", 2, {{"x", "1"}}},
      {"  \tlead=1", 1, {{"lead", "1"}}},
      {"=v; e=", 2, {{"", "v"}, {"e", ""}}},
      {"a=1;", 1, {{"a", "1"}}},
      {";;;", 0, {}},
      {"", 0, {}},
      // Values are URL-decoded; broken escapes stay as they are.
      {"k=a+b%2b", 1, {{"k", "a b+"}}},
      {"k=%zz%4", 1, {{"k", "%zz%4"}}},
      {"k=%", 1, {{"k", "%"}}},
      {"k=x%00y; n=1", 2, {{"k", "x"}, {"n", "1"}}},
      // Keys are taken as they are.
      {"K%41=1", 1, {{"K%41", "1"}, {"KA", nullptr}}},
  };
  for (const auto& row : rows) {
    MyService service(row.header);
    EXPECT_EQ(row.pairs, service.cookies().size()) << row.header;
    EXPECT_STREQ(row.header, service.cookieText());
    expectValues(service.cookies(), row.expected, row.header);
  }
}

TEST(CookieReading, FromTheEnvironment) {
  {
    ScopedEnv cookie("HTTP_COOKIE", "ks_key=abc; theme=dark");
    MyService service;
    EXPECT_STREQ("abc", service.cookieValue("ks_key"));
    EXPECT_STREQ("dark", service.cookieValue("theme"));
  }
  ScopedEnv cookie("HTTP_COOKIE", nullptr);
  MyService service;
  EXPECT_EQ(nullptr, service.cookieText());
  EXPECT_EQ(nullptr, service.cookieValue("ks_key"));
  EXPECT_EQ(nullptr, service.argumentText());
}

TEST(CookieReading, URLDecodeZeroesWhatItFrees) {
  MyService service(nullptr);
  char text[] = "%41%42zz%4";
  service.URLDecode(text, 10);
  EXPECT_EQ(0, std::memcmp("ABzz%4\0\0\0\0", text, 11));
  // Only `length` bytes are looked at: the escape is cut off by it.
  char cut[] = "x%41";
  service.URLDecode(cut, 3);
  EXPECT_EQ(0, std::memcmp("x%4"
                           "1",
                           cut, 5));
}

// Counts calls of service() and what the tables held at that moment.
class RecordingService : public CGIService {
 public:
  explicit RecordingService(const char* cookies) : CGIService(cookies) {}
  void service(CGIParameter& cookies, CGIParameter& arguments) override {
    ++calls;
    seen_cookie = cookies.valueOf("c") != nullptr;
    seen_user = arguments.valueOf("user") != nullptr;
  }
  int calls = 0;
  bool seen_cookie = false;
  bool seen_user = false;
};

TEST(CgiArguments, GetFillsTheArgumentTableThenServes) {
  ScopedEnv query("QUERY_STRING", "user=bob+x&ks_key=K%31&flag&user=eve");
  RecordingService service("c=1");
  service.doGet();
  EXPECT_EQ(1, service.calls);
  EXPECT_TRUE(service.seen_cookie);
  EXPECT_TRUE(service.seen_user);
  EXPECT_STREQ("bob x", service.argumentValue("user"));
  EXPECT_STREQ("K1", service.argumentValue("ks_key"));
  EXPECT_EQ(nullptr, service.argumentValue("flag"));
  EXPECT_EQ(3u, service.arguments().size());
}

TEST(CgiArguments, PostReadsTheBodyOnlyWithAPositiveLength) {
  {
    ScopedEnv length("CONTENT_LENGTH", "9");
    cgitest::ScopedStdinPipe body("user=bob&rest=ignored");
    RecordingService service(nullptr);
    service.doPost();
    EXPECT_STREQ("bob", service.argumentValue("user"));
    EXPECT_EQ(nullptr, service.argumentValue("rest"));
    EXPECT_EQ(1, service.calls);
  }
  ScopedEnv length("CONTENT_LENGTH", "0");
  cgitest::ScopedStdinPipe body("user=bob");
  RecordingService service(nullptr);
  service.doPost();
  EXPECT_EQ(nullptr, service.argumentValue("user"));
  EXPECT_STREQ("", service.argumentText());
  EXPECT_EQ(1, service.calls);
}

}  // namespace
