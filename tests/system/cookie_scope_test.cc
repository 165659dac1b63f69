/// @file cookie_scope_test.cc
/// @brief The path and Secure attribute of the cookies an answer sets: only
/// a plain script path ever reaches the header line.

#include "system/cookie_scope.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/test_util.h"

namespace {

TEST(CookieScope, PathIsTheScriptDirectoryOrSlash) {
  const std::pair<const char*, std::string> cases[] = {
      {"/cgi-bin/search/searchrun", "/cgi-bin/search/"},
      {"/search-cgi/getfilelist.exe", "/search-cgi/"},
      {"/searchrun", "/"},
      {"/a%20b/x", "/a%20b/"},
      {nullptr, "/"},
      {"", "/"},
      {"searchrun", "/"},  // relative
      {"/cgi-bin/x;Domain=evil.example/searchrun", "/"},
      {"/cgi-bin/x\r\nSet-Cookie: a=b/searchrun", "/"},
      {"/cgi-bin/x\n/searchrun", "/"},
      {"/cgi-bin/a b/searchrun", "/"},
      {"/cgi-bin/a,b/searchrun", "/"},
      {"/cgi-bin/\"a\"/searchrun", "/"},
      {"/cgi-bin/\x7F/searchrun", "/"},
      {"/cgi-bin/\xC3\xA9/searchrun", "/"},
      {"/cgi-bin/../etc/searchrun", "/"},
      {"/cgi-bin/./searchrun", "/"},
      {"//evil.example/searchrun", "/"},
  };
  for (const auto& [script, path] : cases)
    EXPECT_EQ(path, cookiePath(script)) << (script ? script : "null");
  EXPECT_EQ("/", cookiePath(("/" + std::string(600, 'a') + "/x").c_str()));
}

TEST(CookieScope, SecureOnlyOverHttps) {
  const std::tuple<const char*, const char*, bool> cases[] = {
      {"on", nullptr, true},     {"ON", nullptr, true},    {"1", nullptr, true},
      {nullptr, "https", true},  {nullptr, "HTTPS", true}, {"off", "https", true},
      {"off", nullptr, false},   {"", "", false},          {nullptr, "http", false},
      {nullptr, nullptr, false}, {"onx", "httpsx", false},
  };
  for (const auto& [https, scheme, secure] : cases)
    EXPECT_EQ(secure, requestOverHttps(https, scheme))
        << (https ? https : "null") << " " << (scheme ? scheme : "null");

  testutil::ScopedEnv script("SCRIPT_NAME", "/cgi-bin/search/searchrun"), https("HTTPS", "on"),
      scheme("REQUEST_SCHEME", nullptr);
  EXPECT_EQ("; Path=/cgi-bin/search/; HttpOnly; SameSite=Strict; Secure", cookieAttributes());
  testutil::ScopedEnv plain("HTTPS", nullptr), bad("SCRIPT_NAME", "/x;Secure=0/y");
  EXPECT_EQ("; Path=/; HttpOnly; SameSite=Strict", cookieAttributes());
}

}  // namespace
