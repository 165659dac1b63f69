/// @file field_clauses_test.cc
/// @brief The clauses of a search by fields read back from its request, and
/// left out of the forms and links that start a new query.

#include <gtest/gtest.h>

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

// A page's query links share what they keep of the search's request; the
// links of a context used again for another page, or another search
// program, must be made from that one.
TEST(FieldClauses, QueryLinksFollowThePageAndTheSearchProgram) {
  LinkContext links;
  ResultPage page;
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
