/// @file render_request_test.cc
/// @brief Result names, the two request forms and the links between pages.

#include "companions/renderer/render_request.h"

#include <gtest/gtest.h>

#include "front/cgi_string_parser.h"

namespace render {
namespace {

TEST(ResultName, OnlyTheFormOfAResultIsAccepted) {
  for (const char* ok : {"query12345", "query1234567890", "query00000_fast"})
    EXPECT_TRUE(isValidResultName(ok)) << ok;
  const std::string tooLong = "query" + std::string(41, '1');
  for (const std::string bad :
       std::vector<std::string>{"query1234", tooLong, "query_fast", "Query12345", "query12a45",
                                "query12345 ", "query12345/../../etc", "query12345_fast_fast"})
    EXPECT_FALSE(isValidResultName(bad)) << bad;
  EXPECT_FALSE(isValidResultName(std::string("query12345\0x", 12)));
}

TEST(Request, CommandLineAndWebServerVariables) {
  using F = PageFormat;
  // Command-line words after the program name, or (one word with "=") a query string.
  const std::tuple<std::vector<const char*>, bool, int, int, F> cases[] = {
      {{"../tmp/query12345", "20", "N"}, true, 20, 1, F::kHtml},
      {{"query12345", "N", "3", "xml2"}, true, 0, 3, F::kXml2},
      {{"query12345", "N", "N", "XML"}, true, 0, 1, F::kHtml},
      {{"query12345", "-5", "0", ""}, true, 0, 1, F::kHtml},  // "" ends the shell's fast path
      {{"query12345", "5000", "2147483648"}, true, kMaxPageSize, INT32_MAX, F::kHtml},
      {{"query12345", "99999999999999999999999", "7a"}, true, kMaxPageSize, 1, F::kHtml},
      {{}, false, 0, 1, F::kHtml},
      {{"../tmp/../tmp/query12345"}, false, 0, 1, F::kHtml},
      {{"../tmp/x", "N", "N", "xml"}, false, 0, 1, F::kXml},  // refused in its format
      {{"result=query12345&page=3&no=10&format=xml"}, true, 10, 3, F::kXml},
      {{"result=query12345&result=../x&page=abc"}, true, 0, 1, F::kHtml},
      {{"result=query12345%00.txt"}, true, 0, 1, F::kHtml},  // a value ends at a zero byte
      {{"result=&format=wml"}, false, 0, 1, F::kWml},
  };
  for (const auto& [args, ok, pageSize, page, format] : cases) {
    const bool web = args.size() == 1 && std::string(args[0]).find('=') != std::string::npos;
    std::vector<const char*> argv{"getfilelist.exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    CGIStringParser vars;
    ASSERT_GE(vars.initialize(web ? args[0] : ""), 0);
    RenderRequest r;
    std::string why;
    const std::string label = args.empty() ? "" : args[0];
    ASSERT_EQ(web ? parseWebRequest(vars, r, why)
                  : parseArgumentRequest(static_cast<int>(argv.size()), argv.data(), r, why),
              ok)
        << label;
    EXPECT_EQ(r.fromWebServer, web);
    EXPECT_EQ(r.format, format) << label;
    EXPECT_EQ(r.result, ok ? "query12345" : "") << label;
    EXPECT_EQ(why.empty(), ok) << label;
    EXPECT_EQ(r.pageSize, pageSize) << label;
    EXPECT_EQ(r.page, page) << label;
  }
}

TEST(Links, QueryStringRewriteMatchesDecodedNames) {
  EXPECT_EQ(rewriteQueryString("user=a&outcgipage=1&query=a%20b&sort=d&outcgipage=3",
                               {"outcgipage"}, {{"sort", "size"}}),
            "user=a&query=a%20b&sort=size");
  EXPECT_EQ(rewriteQueryString("sor%74=d&&user=b&", {}, {{"sort", "s"}}), "user=b&sort=s");
  // A name ends at a zero byte, as it does for the request parser.
  EXPECT_EQ(rewriteQueryString("sort%00x=1&flag&a=2", {"flag"}, {{"sort", "s"}}), "a=2&sort=s");
  EXPECT_EQ(rewriteQueryString("", {}, {{"query", "a b&c=\xA4"}}), "query=a%20b%26c%3D%A4");
  // Page links name the full result, which exists when they are followed.
  RenderRequest r;
  r.result = "query12345_fast";
  EXPECT_EQ(pageQueryString(r, 2, 10, ""), "result=query12345&page=2&no=10");
  r.format = PageFormat::kXml3;
  EXPECT_EQ(pageQueryString(r, 7, 25, "ab1234567"),
            "result=query12345&page=7&no=25&format=xml3&ks_key=ab1234567");
}

}  // namespace
}  // namespace render
