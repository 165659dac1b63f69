/// @file cgi_service_test.cc
/// @brief Cookie and request-argument tables.

#include "cgi/cgi_service.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cgi_test_util.h"
#include "tests/test_util.h"

namespace {

using testutil::ScopedEnv;

TEST(CookieReading, PairsOfTheCookieHeader) {
  MyService service(
      "a=1; KS_ID=x%41y; b;  \tc=d=e; =v; e=; a=2; k=a+b%2b%zz%4; z=x%00y; K%41=1; p=%");
  EXPECT_EQ(10u, service.cookies().size());
  const struct {
    const char* key;
    const char* value;  // null: absent
  } rows[] = {
      {"a", "1"},       {"KS_ID", "xAy"}, {"ks_id", nullptr}, {"b", nullptr},     {"c", "e"},
      {"c=d", nullptr}, {"", "v"},        {"e", ""},          {"k", "a b+%zz%4"}, {"z", "x"},
      {"K%41", "1"},    {"KA", nullptr},  {"p", "%"},
  };
  for (const auto& row : rows)
    EXPECT_STREQ(row.value, service.cookieValue(row.key)) << row.key;
  EXPECT_EQ(0u, MyService(";;;").cookies().size());
}

TEST(CookieReading, URLDecodeZeroesWhatItFreesAndStaysInsideLength) {
  MyService service(nullptr);
  char text[] = "%41%42zz%4";
  service.URLDecode(text, 10);
  EXPECT_EQ(0, std::memcmp("ABzz%4\0\0\0\0", text, 11));
  char cut[] = "x%41";
  service.URLDecode(cut, 3);
  EXPECT_STREQ("x%41", cut);
}

class RecordingService : public CGIService {
 public:
  explicit RecordingService(const char* cookies) : CGIService(cookies) {}
  void service(CGIParameter& cookies, CGIParameter& arguments) override {
    ++calls;
    seen = cookies.valueOf("c") != nullptr && arguments.valueOf("user") != nullptr;
  }
  int calls = 0;
  bool seen = false;
};

TEST(CgiArguments, GetAndPostFillTheArgumentTableThenServe) {
  ScopedEnv query("QUERY_STRING", "user=bob+x&ks_key=K%31&flag&user=eve");
  RecordingService got("c=1");
  got.doGet();
  EXPECT_EQ(1, got.calls);
  EXPECT_TRUE(got.seen);
  EXPECT_STREQ("bob x", got.argumentValue("user"));
  EXPECT_STREQ("K1", got.argumentValue("ks_key"));
  EXPECT_EQ(3u, got.arguments().size());
  // A POST reads the body only with a positive length.
  for (const char* length : {"9", "0"}) {
    ScopedEnv env("CONTENT_LENGTH", length);
    cgitest::ScopedStdinPipe body("user=bob&rest=ignored");
    RecordingService service(nullptr);
    service.doPost();
    EXPECT_EQ(1, service.calls);
    EXPECT_STREQ(length[0] == '9' ? "user=bob&" : "", service.argumentText());
    EXPECT_EQ(nullptr, service.argumentValue("rest"));
  }
}

}  // namespace
