/// @file render_request_test.cc
/// @brief Result names, the two request forms and the links between pages;
/// the clauses of a search by fields read back from its request, and left
/// out of the forms and links that start a new query.

#include "companions/renderer/render_request.h"

#include <gtest/gtest.h>

#include "cgi/cgi_string_parser.h"
#include "companions/renderer/page_writer.h"
#include "system/layout.h"
#include "system/tmpfile.h"

namespace render {

// Found by argument lookup, beside the type.
bool operator==(const FieldClause& a, const FieldClause& b) {
  return a.op == b.op && a.field == b.field && a.value == b.value;
}

std::ostream& operator<<(std::ostream& out, const FieldClause& c) {
  return out << "{" << c.op << "|" << c.field << "|" << c.value << "}";
}

namespace {

// A result name as searchrun makes them: "query" and the full count of digits.
const std::string kName = "query" + std::string(kTempNameDigits, '7');

TEST(ResultName, OnlyTheFullCountOfDigitsIsAccepted) {
  const std::string digits(kTempNameDigits, '0');
  for (const std::string& ok : {"query" + digits, "query" + digits + "_fast", kName})
    EXPECT_TRUE(isValidResultName(ok)) << ok;
  // Short names were once made from the clock and the process id: anyone
  // could try them in turn.
  const std::string bad[] = {"query12345",
                             "query" + digits.substr(1),
                             "query" + digits + "0",
                             "query" + digits.substr(1) + "_fast",
                             "query" + digits + "_fast_fast",
                             "Query" + digits,
                             "query" + digits.substr(1) + "a",
                             "query" + digits + " ",
                             "query" + digits + "/../../etc",
                             "query_fast",
                             "../tmp/query" + digits,
                             "query" + digits + std::string("\0x", 2)};
  for (const std::string& name : bad)
    EXPECT_FALSE(isValidResultName(name)) << name;
}

TEST(Request, CommandLineAndWebServerVariables) {
  using F = PageFormat;
  // Command-line words after the program name, or (one word with "=") a query string.
  const std::string n = kName, tmp = "../tmp/" + kName, web = "result=" + kName;
  const std::string webFull = web + "&page=3&no=10&format=xml", webNul = web + "%00.txt";
  const std::string webTwice = web + "&result=../x&page=abc", twoDirs = "../tmp/" + tmp;
  const std::string webJson = web + "&format=json&page=2";
  const std::tuple<std::vector<const char*>, bool, int, int, F> cases[] = {
      {{tmp.c_str(), "20", "N"}, true, 20, 1, F::kHtml},
      {{n.c_str(), "N", "3", "xml2"}, true, 0, 3, F::kXml2},
      {{n.c_str(), "N", "N", "XML"}, true, 0, 1, F::kHtml},
      {{n.c_str(), "-5", "0", ""}, true, 0, 1, F::kHtml},  // "" ends the shell's fast path
      {{n.c_str(), "5000", "2147483648"}, true, kMaxPageSize, INT32_MAX, F::kHtml},
      {{n.c_str(), "99999999999999999999999", "7a"}, true, kMaxPageSize, 1, F::kHtml},
      {{}, false, 0, 1, F::kHtml},
      {{twoDirs.c_str()}, false, 0, 1, F::kHtml},
      {{"../tmp/x", "N", "N", "xml"}, false, 0, 1, F::kXml},  // refused in its format
      {{webFull.c_str()}, true, 10, 3, F::kXml},
      {{webTwice.c_str()}, true, 0, 1, F::kHtml},
      {{webNul.c_str()}, true, 0, 1, F::kHtml},  // a value ends at a zero byte
      {{"result=&format=wml"}, false, 0, 1, F::kWml},
      {{n.c_str(), "N", "N", "json"}, true, 0, 1, F::kJson},
      {{webJson.c_str()}, true, 0, 2, F::kJson},
      {{n.c_str(), "N", "N", "JSON"}, true, 0, 1, F::kHtml},
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
    EXPECT_EQ(r.result, ok ? kName : "") << label;
    EXPECT_EQ(why.empty(), ok) << label;
    EXPECT_EQ(r.pageSize, pageSize) << label;
    EXPECT_EQ(r.page, page) << label;
  }
}

// Links carry the search so that an expired result can be searched again;
// never a permit key or the renderer's paging, and a bad result name does
// not lose it.
TEST(Request, LinksCarryTheSearchWithoutItsKey) {
  EXPECT_EQ(againRequest("user=U&ks_key=12345678&query=fig&outcgipage=2&index_id=A"),
            "user=U&query=fig&index_id=A");
  EXPECT_EQ(againRequest(std::string(kMaxAgainBytes + 1, 'q')), "");
  CGIStringParser vars;
  ASSERT_GT(vars.initialize("result=bad&again=user%3DU%26ks_key%3D9%26query%3Dfig&page=2"), 0);
  RenderRequest r;
  std::string why;
  EXPECT_FALSE(parseWebRequest(vars, r, why));
  EXPECT_EQ(r.again, "user=U&query=fig");
  // Page links name the full result, which exists when they are followed.
  r.result = kName + "_fast";
  const std::string again = "&again=user%3DU%26query%3Dfig";
  EXPECT_EQ(pageQueryString(r, 2, 10), "result=" + kName + "&page=2&no=10" + again);
  EXPECT_EQ(viewQueryString(r, 7, 10, false), "result=" + kName + "&view=7&no=10" + again);
  EXPECT_EQ(viewQueryString(r, 7, 10, true), "result=" + kName + "&view=7&no=10&raw=1" + again);
  r.format = PageFormat::kXml3;
  EXPECT_EQ(pageQueryString(r, 7, 25), "result=" + kName + "&page=7&no=25&format=xml3" + again);
}

TEST(Request, TheQueryOfACarriedSearchInUtf8) {
  // Declared UTF-8 stays; a local (here Big5) query is converted.
  EXPECT_EQ(searchQueryOf("user=U&query=%E2%80%9Cfree%E2%80%9D&query_encoding=UTF-8", 0),
            "\xE2\x80\x9C"
            "free\xE2\x80\x9D");
  EXPECT_EQ(searchQueryOf("query=%A4%A4", 0), "\xE4\xB8\xAD");
  EXPECT_EQ(searchQueryOf("user=U", 3), "");
  EXPECT_EQ(searchQueryOf("", 3), "");
}

TEST(Request, AViewNamesAHitByItsPositionAndRawOnlyBesideIt) {
  const std::string web = "result=" + kName;
  // Query string after the result, the view, raw.
  const std::tuple<std::string, int64_t, bool> cases[] = {
      {"&view=3", 3, false},
      {"&view=3&raw=1", 3, true},
      {"&raw=1", 0, false},  // raw of no hit is nothing
      {"&view=3&raw=yes", 3, false},
      {"&view=0&raw=1", 0, false},
      {"&view=-2", 0, false},
      {"&view=2x", 0, false},
      {"&view=99999999999", 0, false},
      {"&view=%32", 2, false},
  };
  for (const auto& [rest, view, raw] : cases) {
    CGIStringParser vars;
    ASSERT_GE(vars.initialize((web + rest).c_str()), 0);
    RenderRequest r;
    std::string why;
    ASSERT_TRUE(parseWebRequest(vars, r, why)) << rest;
    EXPECT_EQ(r.view, view) << rest;
    EXPECT_EQ(r.raw, raw) << rest;
  }
  // searchrun's command line never asks for a document.
  const std::string n = kName;
  std::vector<const char*> argv{"getfilelist.exe", n.c_str(), "N", "N", "", "view=1"};
  RenderRequest r;
  std::string why;
  ASSERT_TRUE(parseArgumentRequest(static_cast<int>(argv.size()), argv.data(), r, why));
  EXPECT_EQ(r.view, 0);
}

TEST(SearchForm, FieldsKeepTheRequestButTheQueryPagingAndKey) {
  using Fields = std::vector<std::pair<std::string, std::string>>;
  // Raw request, language, fields.
  const std::tuple<std::string, int, Fields> cases[] = {
      {"user=alice&query=a+b&ks_key=alice1234567&index_id=7F000001_a&index_id=7F000001_b&"
       "outcgipage=3&sort=date",
       kLangEN,
       {{"user", "alice"},
        {"index_id", "7F000001_a"},
        {"index_id", "7F000001_b"},
        {"sort", "date"}}},
      // Escaped names are the same names; the old encoding is the old query's.
      {"ks%5Fkey=alice1234567&qu%65ry=x&query_encoding=UTF-8&no_rec=20",
       kLangEN,
       {{"no_rec", "20"}}},
      // Values arrive decoded and in UTF-8 whatever the installation's code page.
      {"main_page=%2Fsearch%2Fa%20b.html&desc=%A4%A4",
       kLangCH,
       {{"main_page", "/search/a b.html"}, {"desc", "\xE4\xB8\xAD"}}},
      {"=x&&flag&search_no=0", kLangEN, {{"flag", ""}, {"search_no", "0"}}},
      {"", kLangEN, {}},
  };
  for (const auto& [raw, language, fields] : cases)
    EXPECT_EQ(searchFormFields(raw, language), fields) << raw;
}

TEST(Links, QueryStringRewriteMatchesDecodedNames) {
  EXPECT_EQ(rewriteQueryString("user=a&outcgipage=1&query=a%20b&sort=d&outcgipage=3",
                               {"outcgipage"}, {{"sort", "size"}}),
            "user=a&query=a%20b&sort=size");
  EXPECT_EQ(rewriteQueryString("sor%74=d&&user=b&", {}, {{"sort", "s"}}), "user=b&sort=s");
  // A name ends at a zero byte, as it does for the request parser.
  EXPECT_EQ(rewriteQueryString("sort%00x=1&flag&a=2", {"flag"}, {{"sort", "s"}}), "a=2&sort=s");
  // An escaped "=" splits a piece for the parser too: no key rides in a link.
  EXPECT_EQ(rewriteQueryString("a=1&ks_key%3D12&sort%3Dd", {"ks_key"}, {{"sort", "s"}}),
            "a=1&sort=s");
  EXPECT_EQ(rewriteQueryString("", {}, {{"query", "a b&c=\xA4"}}), "query=a%20b%26c%3D%A4");
}

bool knownField(const std::string& field) {
  return field == "name" || field == "size" || field == "\xA4\xA4";
}

TEST(FieldClauses, ReadAsSearchrunReadsThem) {
  using Clauses = std::vector<FieldClause>;
  const std::string two = "MultiDBFieldCount=2&m_query_1=bash&m_field_1=name&m_query_2=";
  // Raw request, clauses.
  const std::pair<std::string, Clauses> cases[] = {
      {"query=bash", {}},
      {"MultiDBFieldCount=x&m_query_1=a", {}},
      {"MultiDBFieldCount=257&m_query_1=a", {}},
      {"MultiDBFieldCount=-1&m_query_1=a", {}},
      // Clauses beyond the count, without a query, or naming a column the
      // index lacks are not searched; one without a field searches rows.
      {two + "%5B100-500%5D&m_field_2=size&m_op_2=%7C&m_query_3=x",
       {{"", "name", "bash"}, {"or", "size", "[100-500]"}}},
      {two + "&m_query_3=x", {{"", "name", "bash"}}},
      {"MultiDBFieldCount=2&m_query_1=a&m_field_1=colour&m_query_2=b&m_op_2=not", {{"", "", "b"}}},
      // Each operator as searchrun combines it; anything else is "and".
      {"MultiDBFieldCount=7&m_query_1=a&m_op_1=not&m_query_2=b&m_op_2=!&m_query_3=c&m_op_3=or&"
       "m_query_4=d&m_op_4=%26&m_query_5=e&m_op_5=OR&m_query_6=f&m_op_6=xor&m_query_7=g",
       {{"", "", "a"},
        {"not", "", "b"},
        {"or", "", "c"},
        {"and", "", "d"},
        {"and", "", "e"},
        {"and", "", "f"},
        {"and", "", "g"}}},
      // Local code page (here Big5) field names and values come in UTF-8.
      {"MultiDB%46ieldCount=1&m_query_1=%A4%A4&m_field_1=%A4%A4",
       {{"", "\xE4\xB8\xAD", "\xE4\xB8\xAD"}}},
  };
  for (const auto& [raw, clauses] : cases)
    EXPECT_EQ(fieldClausesOf(raw, kLangCH, knownField), clauses) << raw;
  EXPECT_EQ(fieldClausesText({{"", "name", "bash"}, {"or", "size", "[100-500]"}, {"not", "", "x"}}),
            "name bash or size [100-500] not any field x");
}

TEST(FieldClauses, ANewQueryLeavesTheClausesBehindAndLinksFollowThePage) {
  const std::string raw =
      "user=U&query=_SEARCH_MULTI_FIELD_&index_id=7F000001_1&MultiDBFieldCount=1&m_query_1=a&"
      "m_field_1=name&m_op_1=and&m_type_1=title&m_query_x=kept&sort=date";
  EXPECT_EQ(
      searchFormFields(raw, kLangEN),
      (std::vector<std::pair<std::string, std::string>>{
          {"user", "U"}, {"index_id", "7F000001_1"}, {"m_query_x", "kept"}, {"sort", "date"}}));
  // The mark is no query to offer again.
  EXPECT_EQ(searchQueryOf(raw, kLangEN), "");
  ResultPage page;
  page.queryUrl = raw;
  EXPECT_EQ(queryLinkUrl({}, page, "b"),
            "searchrun?user=U&index_id=7F000001_1&m_query_x=kept&sort=date&query=b");
  // Sorted, the clauses are searched again.
  EXPECT_NE(sortLinkUrl({}, page, "size", "asc").find("m_query_1=a"), std::string::npos);
  // What follows a zero byte the request parser never read; a link that
  // drops the old query must not bring a clause of it to light.
  page.queryUrl = std::string("query=a\0b&MultiDBFieldCount=1&m_query_1=c&user=U", 48);
  EXPECT_EQ(queryLinkUrl({}, page, "b"), "searchrun?user=U&query=b");
  // A page's query links share what they keep of the search's request; the
  // links of a context used again for another page, or another search
  // program, must be made from that one.
  LinkContext links;
  page.queryUrl = "user=U&query=a&sort=date";
  EXPECT_EQ(queryLinkUrl(links, page, "b c"), "searchrun?user=U&sort=date&query=b%20c");
  EXPECT_EQ(queryLinkUrl(links, page, "d"), "searchrun?user=U&sort=date&query=d");
  page.queryUrl = "query=a&outcgipage=3";
  EXPECT_EQ(queryLinkUrl(links, page, "d"), "searchrun?query=d");
  links.searchUrl = "/cgi-bin/searchrun";
  EXPECT_EQ(queryLinkUrl(links, page, "d"), "/cgi-bin/searchrun?query=d");
}

}  // namespace
}  // namespace render
