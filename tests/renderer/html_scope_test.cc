/// @file html_scope_test.cc
/// @brief The result page names everything that narrowed a search besides
/// its words, each with a link that widens the search again.

#include <gtest/gtest.h>

#include <string>

#include "companions/renderer/page_writer.h"
#include "tests/renderer/renderer_fixture.h"

namespace {

using render::IndexEntry;
using render::LinkContext;
using render::PageFormat;
using render::ResultPage;

std::string scopeOf(const ResultPage& page) {
  LinkContext links;
  links.request.result = "query" + std::string(30, '4');
  links.request.format = PageFormat::kHtml;
  const std::string html = render::renderResultPage(page, links).body;
  const size_t at = html.find("<p class=\"scope\"");
  return at == std::string::npos ? "" : html.substr(at, html.find("</p>", at) + 4 - at);
}

ResultPage narrowedPage() {
  ResultPage page;
  page.totalHits = 3;
  page.page = 1;
  page.pageCount = 1;
  page.queryTyped = "gpl";
  page.queryUrl =
      "user=alice&search_no=0&query=gpl&filenamesearch=Title&index_id=7F000001_lic&index_id="
      "7F000002_doc%24"
      "9101&part_file=on&begin_year=2005&begin_month=7&begin_day=1&end_year=&end_month=&end_day=";
  page.searchFields = {{"user", "alice"},
                       {"filenamesearch", "Title"},
                       {"index_id", "7F000001_lic"},
                       {"index_id", "7F000002_doc$9101"}};
  page.indexes = {{"lic", "alice", "Licenses", 2, "127.0.0.1"},
                  {"doc", "bob", "", 1, "127.0.0.2", "9101"}};
  page.dateWindow = true;
  page.dateFrom = "2005/7/1";
  return page;
}

TEST(HtmlScope, EachNarrowingIsNamedAndRemovedInOneClick) {
  ResultPage page = narrowedPage();
  const std::string scope = scopeOf(page);
  rendertest::expectParts(
      scope,
      {
          "Scope: titles only <span class=\"rm\">(<a "
          "href=\"searchrun?user=alice&amp;search_no=0&amp;query=gpl&amp;index_id=7F000001_lic"
          "&amp;index_id=7F000002_doc%249101&amp;part_file=on",
          ">search the whole text</a>",
          // An index removed leaves the other, another host's with its port, and
          // the search's own search_no: 1 would search the first one alone.
          "Licenses <span class=\"rm\">(<a "
          "href=\"searchrun?user=alice&amp;search_no=0&amp;query=gpl&amp;filenamesearch=Title&amp;"
          "part_file=on&amp;begin_year=2005&amp;begin_month=7&amp;begin_day=1&amp;end_year=&amp;"
          "end_month=&amp;end_day=&amp;index_id=7F000002%5Fdoc%249101\" "
          "aria-label=\"Search again without Licenses\">remove</a>)",
          "doc <span class=\"rm\">(<a "
          "href=\"searchrun?user=alice&amp;search_no=0&amp;query=gpl&amp;filenamesearch=Title&amp;"
          "part_file=on",
          "&amp;index_id=7F000001%5Flic\" aria-label=\"Search again without doc\">",
          "; dated from 2005/7/1 on <span class=\"rm\">(<a "
          "href=\"searchrun?user=alice&amp;search_no=0&amp;query=gpl&amp;filenamesearch="
          "Title&amp;index_id=7F000001_lic&amp;index_id=7F000002_doc%249101\"",
      });

  // A class is the administrator's grouping: its indexes are not taken apart.
  page.classes = {{"Docs", "C01"}};
  page.searchFields.emplace_back("class_name", "Docs");
  EXPECT_EQ(scopeOf(page).find("Licenses"), std::string::npos) << scopeOf(page);
  // Nothing narrowed the search: no line at all.
  ResultPage wide = narrowedPage();
  wide.searchFields = {{"filenamesearch", "none"}};
  wide.indexes.resize(1);
  wide.dateWindow = false;
  EXPECT_EQ(scopeOf(wide), "");
}

}  // namespace
