/// @file web_server_test.cc
/// @brief The test web server's readers: request heads as a browser sends
/// them, answers of CGI programs, and programs run without a shell within
/// their limits.

#include "tests/browser/web_server.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using browser::HttpRequest;
using browser::HttpResponse;

TEST(RequestHead, ReadsWhatABrowserSends) {
  const std::optional<HttpRequest> r = browser::parseRequestHead(
      "POST /search-cgi/searchrun?user=a&q=%3C HTTP/1.1\r\nHost: 127.0.0.2:8080\r\n"
      "Cookie: a=1\r\nCONTENT-length:  12 \r\ncookie: b=2\r\nAccept: x\r\naccept: y\r\n\r\n");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->method, "POST");
  EXPECT_EQ(r->path, "/search-cgi/searchrun");
  EXPECT_EQ(r->query, "user=a&q=%3C");
  EXPECT_EQ(r->headers.at("host"), "127.0.0.2:8080");
  EXPECT_EQ(r->headers.at("content-length"), "12");
  EXPECT_EQ(r->headers.at("cookie"), "a=1; b=2");
  EXPECT_EQ(r->headers.at("accept"), "x, y");

  const std::optional<HttpRequest> bare = browser::parseRequestHead("GET / HTTP/1.0\n\n");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->query, "");
}

TEST(RequestHead, RefusesOtherForms) {
  const char* cases[] = {
      "GET /\r\n\r\n",
      "GET / HTTP/2.0\r\n\r\n",
      "GET  / HTTP/1.1\r\n\r\n",
      "GET index.html HTTP/1.1\r\n\r\n",
      "GET /a b HTTP/1.1\r\n\r\n",
      "G(T / HTTP/1.1\r\n\r\n",
      "GET / HTTP/1.1\r\nno colon\r\n\r\n",
      "GET / HTTP/1.1\r\nbad name: x\r\n\r\n",
      "GET / HTTP/1.1\r\nHost: x\r\n",  // no empty line
  };
  for (const char* head : cases)
    EXPECT_FALSE(browser::parseRequestHead(head)) << head;
}

TEST(CgiAnswer, BecomesAnHttpResponse) {
  const struct {
    const char* output;
    int status;
    const char* reason;
    const char* body;
  } cases[] = {
      {"Content-Type: text/html\r\n\r\n<p>hi</p>", 200, "OK", "<p>hi</p>"},
      {"Content-Type: text/html\n\n<p>\n\nhi</p>", 200, "OK", "<p>\n\nhi</p>"},
      {"Location: /search/index.html\r\n\r\n", 302, "Found", ""},
      {"Status: 404 Not Here\r\nContent-Type: text/plain\r\n\r\nx", 404, "Not Here", "x"},
      {"Status: 302\r\nLocation: x\r\n\r\n", 302, "Found", ""},
      {"Status: 500 Oops\n\n", 500, "Oops", ""},
  };
  for (const auto& c : cases) {
    const std::optional<HttpResponse> r = browser::responseFromCgi(c.output);
    ASSERT_TRUE(r) << c.output;
    EXPECT_EQ(r->status, c.status) << c.output;
    EXPECT_EQ(r->reason, c.reason) << c.output;
    EXPECT_EQ(r->body, c.body) << c.output;
  }
  const std::optional<HttpResponse> r =
      browser::responseFromCgi("Content-Type: text/html\r\nSet-Cookie: k=v\r\n\r\nbody");
  ASSERT_TRUE(r);
  const std::string text = r->text();
  EXPECT_EQ(text.rfind("HTTP/1.0 200 OK\r\n", 0), 0u);
  EXPECT_NE(text.find("\r\nSet-Cookie: k=v\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nContent-Length: 4\r\nConnection: close\r\n\r\nbody"), std::string::npos);
}

TEST(CgiAnswer, RefusesOutputWithoutAHeader) {
  for (const char* output :
       {"", "<html>no header</html>", "Content-Type: text/html\r\n", "X-Other: 1\r\n\r\nbody",
        "Status: abc\r\n\r\n", "Status: 2000\r\n\r\n", "no colon\r\n\r\n"})
    EXPECT_FALSE(browser::responseFromCgi(output)) << output;
}

TEST(CgiProgram, RunsWithExactlyItsEnvironmentInItsFolder) {
  const browser::CgiRun env = browser::runCgiProgram(
      "/usr/bin/env", "/", {"QUERY_STRING=a=1", "PATH=/x"}, "", 10000, 1 << 20);
  EXPECT_TRUE(env.finished);
  EXPECT_EQ(env.exitStatus, 0);
  EXPECT_EQ(env.out, "QUERY_STRING=a=1\nPATH=/x\n");

  const browser::CgiRun pwd = browser::runCgiProgram("/bin/pwd", "/usr", {}, "", 10000, 1 << 20);
  EXPECT_EQ(pwd.out, "/usr\n");

  // Standard input reaches the program whole, however large.
  const std::string body(300000, 'b');
  const browser::CgiRun cat = browser::runCgiProgram("/bin/cat", "/", {}, body, 10000, 1 << 20);
  EXPECT_EQ(cat.out.size(), body.size());
}

TEST(CgiProgram, IsKilledPastItsLimits) {
  const browser::CgiRun slow =
      browser::runCgiProgram("/bin/sleep", "/", {}, "", 200, 1 << 20, {"30"});
  EXPECT_FALSE(slow.finished);
  const browser::CgiRun loud = browser::runCgiProgram("/usr/bin/yes", "/", {}, "", 10000, 4096);
  EXPECT_FALSE(loud.finished);
  const browser::CgiRun missing = browser::runCgiProgram("/nonexistent", "/", {}, "", 10000, 4096);
  EXPECT_EQ(missing.exitStatus, 127);
}

}  // namespace
