/// @file render_request_test.cc
/// @brief Result names, the two request forms and the links between pages.

#include "companions/renderer/render_request.h"

#include <gtest/gtest.h>

#include <vector>

#include "front/cgi_string_parser.h"

namespace render {
namespace {

TEST(ResultName, OnlyTheFormOfAResultIsAccepted) {
  const struct {
    const char* name;
    bool valid;
  } cases[] = {
      {"query12345", true},
      {"query1234567890", true},
      {"query00000_fast", true},
      {"query1234", false},
      {"query12345678901", false},
      {"", false},
      {"query", false},
      {"query_fast", false},
      {"Query12345", false},
      {"query12a45", false},
      {"query12345 ", false},
      {"query-12345", false},
      {"../x", false},
      {"query12345/../../etc", false},
      {"../tmp/query12345", false},
      {"query12345_fast_fast", false},
      {"query12345_slow", false},
      {"query12345\n", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(isValidResultName(c.name), c.valid) << "'" << c.name << "'";
  EXPECT_FALSE(isValidResultName(std::string("query12345\0x", 12)));
}

struct ArgCase {
  std::vector<const char*> argv;  // after the program name
  bool ok;
  const char* result;
  int pageSize;
  int page;
  PageFormat format;
};

TEST(ArgumentRequest, ReadsWhatTheQueryProgramPasses) {
  const ArgCase cases[] = {
      {{"../tmp/query12345", "20", "N"}, true, "query12345", 20, 1, PageFormat::kHtml},
      {{"query12345", "N", "3", "xml2"}, true, "query12345", 0, 3, PageFormat::kXml2},
      {{"../tmp/query12345", "N", "N", "xml3"}, true, "query12345", 0, 1, PageFormat::kXml3},
      {{"../tmp/query12345", "N", "N", "wml"}, true, "query12345", 0, 1, PageFormat::kWml},
      {{"../tmp/query12345", "N", "N", "XML"}, true, "query12345", 0, 1, PageFormat::kHtml},
      {{"../tmp/query12345"}, true, "query12345", 0, 1, PageFormat::kHtml},
      // The shell form of the fast path ends with an empty format.
      {{"../tmp/query12345", "N", "N", ""}, true, "query12345", 0, 1, PageFormat::kHtml},
      // Numbers out of range fall back; too large ones are capped.
      {{"query12345", "0", "0"}, true, "query12345", 0, 1, PageFormat::kHtml},
      {{"query12345", "-5", "-1"}, true, "query12345", 0, 1, PageFormat::kHtml},
      {{"query12345", "5000", "2147483648"},
       true,
       "query12345",
       kMaxPageSize,
       INT32_MAX,
       PageFormat::kHtml},
      {{"query12345", "99999999999999999999999", "7a"},
       true,
       "query12345",
       kMaxPageSize,
       1,
       PageFormat::kHtml},
      {{"query12345", "", " 4"}, true, "query12345", 0, 1, PageFormat::kHtml},
      {{}, false, "", 0, 1, PageFormat::kHtml},
      {{"../etc/query12345", "10", "1"}, false, "", 0, 1, PageFormat::kHtml},
      {{"/tmp/query12345"}, false, "", 0, 1, PageFormat::kHtml},
      {{"../tmp/../tmp/query12345"}, false, "", 0, 1, PageFormat::kHtml},
      {{"../tmp/x", "N", "N", "xml"}, false, "", 0, 1, PageFormat::kXml},
  };
  for (const ArgCase& c : cases) {
    std::vector<const char*> argv{"getfilelist.exe"};
    argv.insert(argv.end(), c.argv.begin(), c.argv.end());
    RenderRequest r;
    std::string why;
    const bool ok = parseArgumentRequest(static_cast<int>(argv.size()), argv.data(), r, why);
    const std::string label = c.argv.empty() ? "(none)" : c.argv[0];
    ASSERT_EQ(ok, c.ok) << label;
    EXPECT_EQ(r.format, c.format) << label;  // refusals are answered in the format
    if (!ok) {
      EXPECT_FALSE(why.empty());
      continue;
    }
    EXPECT_EQ(r.result, c.result) << label;
    EXPECT_EQ(r.pageSize, c.pageSize) << label;
    EXPECT_EQ(r.page, c.page) << label;
    EXPECT_FALSE(r.fromWebServer);
  }
}

TEST(WebRequest, ReadsResultPageSizeAndFormat) {
  const struct {
    const char* query;
    bool ok;
    const char* result;
    int pageSize;
    int page;
    PageFormat format;
  } cases[] = {
      {"result=query12345&page=3&no=10&format=xml", true, "query12345", 10, 3, PageFormat::kXml},
      {"page=2&result=query12345_fast", true, "query12345_fast", 0, 2, PageFormat::kHtml},
      {"result=query12345&page=abc&no=N", true, "query12345", 0, 1, PageFormat::kHtml},
      {"result=query12345&result=../x", true, "query12345", 0, 1, PageFormat::kHtml},
      {"page=2", false, "", 0, 1, PageFormat::kHtml},
      {"result=&format=wml", false, "", 0, 1, PageFormat::kWml},
      {"result=..%2Fx", false, "", 0, 1, PageFormat::kHtml},
      {"result=query12345%2F..%2F..%2Fetc", false, "", 0, 1, PageFormat::kHtml},
      {"result=query1", false, "", 0, 1, PageFormat::kHtml},
      // A value ends at its first zero byte: what follows never names a file.
      {"result=query12345%00.txt", true, "query12345", 0, 1, PageFormat::kHtml},
  };
  for (const auto& c : cases) {
    CGIStringParser vars;
    ASSERT_GE(vars.initialize(c.query), 0) << c.query;
    RenderRequest r;
    std::string why;
    ASSERT_EQ(parseWebRequest(vars, r, why), c.ok) << c.query;
    EXPECT_TRUE(r.fromWebServer);
    EXPECT_EQ(r.format, c.format) << c.query;
    if (!c.ok) continue;
    EXPECT_EQ(r.result, c.result) << c.query;
    EXPECT_EQ(r.pageSize, c.pageSize) << c.query;
    EXPECT_EQ(r.page, c.page) << c.query;
  }
}

TEST(QueryStringRewrite, ReplacesAndDropsVariablesByTheirDecodedNames) {
  const struct {
    const char* raw;
    std::vector<std::string> drop;
    std::vector<std::pair<std::string, std::string>> add;
    const char* expected;
  } cases[] = {
      {"user=alice&query=a%20b&sort=date&outcgipage=3",
       {"outcgipage"},
       {{"sort", "size"}, {"order", "asc"}},
       "user=alice&query=a%20b&sort=size&order=asc"},
      // An escaped name still names the variable.
      {"sor%74=date&user=bob", {}, {{"sort", "score"}}, "user=bob&sort=score"},
      {"&&user=bob&&", {}, {}, "user=bob"},
      {"a=1&index_id=x&b=2&index_id=y", {"index_id"}, {}, "a=1&b=2"},
      {"", {}, {{"query", "a b&c=\xA4\xA4"}}, "query=a%20b%26c%3D%A4%A4"},
      {"flag&user=x", {"flag"}, {}, "user=x"},
      // The request parser reads a name up to a zero byte.
      {"sort%00x=1&a=2", {}, {{"sort", "size"}}, "a=2&sort=size"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(rewriteQueryString(c.raw, c.drop, c.add), c.expected) << c.raw;
}

TEST(QueryStringRewrite, PageLinksNameTheFullResult) {
  RenderRequest r;
  r.result = "query12345_fast";
  EXPECT_EQ(pageQueryString(r, 2, 10, ""), "result=query12345&page=2&no=10");
  r.format = PageFormat::kXml3;
  EXPECT_EQ(pageQueryString(r, 7, 25, "ab1234567"),
            "result=query12345&page=7&no=25&format=xml3&ks_key=ab1234567");
}

}  // namespace
}  // namespace render
