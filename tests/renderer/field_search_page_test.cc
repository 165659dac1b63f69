/// @file field_search_page_test.cc
/// @brief The pages of a search by fields: its clauses read back from the
/// request, named on the page, left out of the forms and links that start a
/// new query; and the view of a row of a database index.

#include <gtest/gtest.h>

#include "companions/renderer/document_view.h"
#include "companions/renderer/page_writer.h"
#include "companions/renderer/render_request.h"
#include "system/layout.h"

namespace render {

// Found by argument lookup, beside the type.
bool operator==(const FieldClause& a, const FieldClause& b) {
  return a.op == b.op && a.field == b.field && a.value == b.value;
}

std::ostream& operator<<(std::ostream& out, const FieldClause& c) {
  return out << "{" << c.op << "|" << c.field << "|" << c.value << "}";
}

namespace {

const std::string kName = "query" + std::string(30, '5');

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

TEST(FieldClauses, ANewQueryLeavesTheClausesBehind) {
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
}

ResultPage fieldSearchPage() {
  ResultPage page;
  page.language = kLangEN;
  page.user = kBuiltInUser;
  page.queryUrl = "user=TESSERA&query=_SEARCH_MULTI_FIELD_&MultiDBFieldCount=2&m_query_1=%3Cb%3E";
  page.queryTyped = "<b>,[1-5]";
  page.queryUnderstood = "<b>,[1-5]";
  page.fieldClauses = {{"", "name", "<b>"}, {"and", "size & weight", "[1-5]"}};
  page.totalHits = page.linesInFile = page.pageCount = 1;
  HitView hit;
  hit.rank = 1;
  hit.local = true;
  hit.fileName = "packages.csv#1";
  hit.title = "bash";
  hit.fields = {{"name", "<b>bash</b>"}, {"size & weight", "1 \"kB\""}};
  page.hits = {hit};
  return page;
}

TEST(FieldSearchPage, NamesEachClauseAndOffersAnEmptyBox) {
  const ResultPage page = fieldSearchPage();
  LinkContext links;
  links.request.result = kName;
  const std::string html = renderResultPage(page, links).body;
  EXPECT_NE(html.find("of <b>1</b> for name <b>&lt;b&gt;</b> and size &amp; weight "
                      "<b>[1-5]</b> ("),
            std::string::npos)
      << html;
  EXPECT_NE(html.find("<title>name &lt;b&gt; and size &amp; weight [1-5] - Search</title>"),
            std::string::npos);
  EXPECT_NE(html.find("name=\"query\" value=\"\" required"), std::string::npos);
  EXPECT_EQ(html.find("Searched for:"), std::string::npos);
  EXPECT_NE(html.find("<a href=\"getfilelist.exe?result=" + kName + "&amp;view=1&amp;no=10\">bash"),
            std::string::npos);

  links.request.format = PageFormat::kJson;
  EXPECT_NE(
      renderResultPage(page, links)
          .body.find("\"fields\":[{\"op\":null,\"field\":\"name\",\"value\":\"\\u003cb\\u003e\"},"
                     "{\"op\":\"and\",\"field\":\"size \\u0026 weight\",\"value\":\"[1-5]\"}]"),
      std::string::npos);
  links.request.format = PageFormat::kXml;
  const std::string xml = renderResultPage(page, links).body;
  EXPECT_NE(xml.find("<fields><field name=\"name\">&lt;b&gt;</field><field op=\"and\" "
                     "name=\"size &amp; weight\">[1-5]</field></fields>"),
            std::string::npos)
      << xml;
  EXPECT_NE(xml.find("<view>getfilelist.exe?result=" + kName + "&amp;view=1&amp;no=10</view>"),
            std::string::npos);
}

TEST(RowView, ATableOfTheRowsCellsEscaped) {
  ResultPage page = fieldSearchPage();
  LinkContext links;
  links.request.result = kName;
  links.request.view = 1;
  std::string html = renderRowView(page, page.hits[0], links).body;
  EXPECT_NE(html.find("<h1>bash</h1>"), std::string::npos) << html;
  EXPECT_NE(html.find("<tr><th scope=\"row\">name</th><td>&lt;b&gt;bash&lt;/b&gt;</td></tr>\n"
                      "<tr><th scope=\"row\">size &amp; weight</th><td>1 &quot;kB&quot;</td>"),
            std::string::npos)
      << html;
  EXPECT_NE(html.find("page=1&amp;no=10\">&laquo; Back to the results"), std::string::npos);
  // A row has no file to open, and one alone has no hits beside it.
  EXPECT_EQ(html.find("original file"), std::string::npos);
  EXPECT_EQ(html.find("class=\"actions\""), std::string::npos);
  page.linesInFile = 2;
  page.hits[0].title.clear();
  html = renderRowView(page, page.hits[0], links).body;
  EXPECT_NE(html.find("<h1>&lt;b&gt;bash&lt;/b&gt;</h1>"), std::string::npos);
  EXPECT_NE(html.find("view=2&amp;no=10\">Next hit"), std::string::npos);
  EXPECT_FALSE(renderRowView(page, page.hits[0], links).noStore);
  page.user = "alice";
  EXPECT_TRUE(renderRowView(page, page.hits[0], links).noStore);
}

}  // namespace
}  // namespace render
