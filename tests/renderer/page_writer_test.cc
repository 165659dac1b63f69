/// @file page_writer_test.cc
/// @brief The three page formats: hostile texts stay text, XML stays
/// well-formed, links lead to the right pages and searches.

#include "companions/renderer/page_writer.h"

#include <gtest/gtest.h>

#include "tests/renderer/renderer_fixture.h"

namespace render {
namespace {

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// A page whose every text tries to break out of its place.
ResultPage hostilePage() {
  ResultPage page;
  page.resultName = "query12345";
  page.totalHits = 35;
  page.linesInFile = 35;
  page.page = 2;
  page.pageSize = 10;
  page.pageCount = 4;
  page.runTimeMs = 1250;
  page.sortField = "score";
  page.sortOrder = "desc";
  page.queryTyped = "a<b & \"c\"";
  page.queryUnderstood = "a,b";
  page.queryUrl = "user=alice&query=a%3Cb&outcgipage=2&sort=score";
  page.selectedIndex = "<all>";
  page.relatedTerms = {{"\xA4\xA4", "\xE4\xB8\xAD", -1}, {"x&y", "x&y", -1}};
  page.similarKeywords = {{"b'c", "b'c", 12}};
  page.classes = {{"<C>", "C01"}};
  page.indexes = {{"news", "alice", "News & more", 3}, {"old", "alice", "", -1}};
  page.dateFrom = "2005/7/1";
  page.dateTo = "2005/7/20";
  HitView hit;
  hit.rank = 11;
  hit.line = {"127.0.0.1", "20001", "al\"ice", "news", 77, 5};
  hit.fileName = "<script>alert(1)</script>.txt";
  hit.title = "T\x01itle\xEF\xBF\xBE";
  hit.documentPath = "/docs/a b/\"x\".txt";
  hit.linkable = true;
  hit.time = 1100000000;
  hit.size = 2048;
  hit.hasSize = true;
  hit.indexDesc = "News & more";
  hit.snippet.cutBefore = true;
  hit.snippet.pieces = {{"see <", false}, {"a", true}, {"> $x", false}};
  page.hits.push_back(hit);
  HitView plain = hit;
  plain.rank = 12;
  plain.linkable = false;
  plain.snippet = {};
  page.hits.push_back(plain);
  return page;
}

LinkContext linksFor(PageFormat format, const std::string& key = "") {
  LinkContext links;
  links.request.result = "query12345";
  links.request.format = format;
  links.permitKey = key;
  return links;
}

TEST(HtmlPage, TextsStayTextAndHitsShowWhatPeoplePickBy) {
  const std::string html = htmlResultBody(hostilePage(), linksFor(PageFormat::kHtml));
  EXPECT_FALSE(contains(html, "<script>"));
  EXPECT_TRUE(contains(html, "&lt;script&gt;alert(1)&lt;/script&gt;.txt"));
  EXPECT_TRUE(contains(html, "<b>a&lt;b &amp; &quot;c&quot;</b>"));
  EXPECT_TRUE(contains(html, "Results <b>11</b> - <b>20</b> of <b>35</b>"));
  EXPECT_TRUE(contains(html, "(1.25 seconds)"));
  EXPECT_TRUE(contains(html, "... see &lt;<b>a</b>&gt; $x"));
  EXPECT_TRUE(contains(html, "<a href=\"file:///docs/a%20b/%22x%22%2Etxt\">"));
  EXPECT_EQ(html.find("<a href=\"file://", html.find("<li class=\"hit\"", html.find("</li>"))),
            std::string::npos);  // the unreadable document has no link
  EXPECT_TRUE(contains(html, "2.0 KB"));
  EXPECT_TRUE(contains(html, "News &amp; more"));
  EXPECT_TRUE(contains(html, "score 77"));
  EXPECT_TRUE(contains(html, "dated from 2005/7/1 to 2005/7/20"));
  EXPECT_TRUE(contains(html, "<ol class=\"hits\" start=\"11\">"));
}

TEST(HtmlPage, LinksLeadToPagesAndNewSearches) {
  const std::string html = htmlResultBody(hostilePage(), linksFor(PageFormat::kHtml, "ab1234567"));
  // Paging through the renderer, keeping the page size and the permit key.
  EXPECT_TRUE(contains(
      html,
      "href=\"getfilelist.exe?result=query12345&amp;page=1&amp;no=10&amp;ks_key=ab1234567\""));
  EXPECT_TRUE(contains(html, "page=3&amp;no=10"));
  EXPECT_TRUE(contains(html, "page=4&amp;no=10"));
  EXPECT_TRUE(contains(html, "<b>2</b>"));
  // Sorting and new queries through the query program, from the first page.
  EXPECT_TRUE(contains(html,
                       "href=\"searchrun?user=alice&amp;query=a%3Cb&amp;sort=date&amp;"
                       "order=desc\">date</a>"));
  EXPECT_TRUE(contains(html, "<b>relevance</b>"));
  EXPECT_TRUE(contains(html, "sort=score&amp;order=asc\">ascending</a>"));
  EXPECT_TRUE(contains(html,
                       "href=\"searchrun?user=alice&amp;sort=score&amp;query=%A4%A4\">"
                       "\xE4\xB8\xAD</a>"));
  EXPECT_TRUE(contains(html, "query=x%26y\">x&amp;y</a>"));
  EXPECT_TRUE(contains(html, "class_uid=C01\">&lt;C&gt;</a>"));
  EXPECT_TRUE(contains(html, "id=\"similar-keywords\""));
  EXPECT_TRUE(contains(html, "not searched"));
}

TEST(HtmlPage, EmptyAndRefusedSearchesSaySo) {
  ResultPage page;
  page.queryTyped = "nothing";
  std::string html = htmlResultBody(page, linksFor(PageFormat::kHtml));
  EXPECT_TRUE(contains(html, "No documents match <b>nothing</b>."));
  EXPECT_FALSE(contains(html, "id=\"paging\""));
  EXPECT_FALSE(contains(html, "id=\"sort\""));
  EXPECT_TRUE(contains(html, "id=\"related-terms\""));  // the places stay
  EXPECT_TRUE(contains(html, "id=\"classes\""));
  page.queryDisallowed = true;
  html = htmlResultBody(page, linksFor(PageFormat::kHtml));
  EXPECT_TRUE(contains(html, "This query is not allowed."));
  page = hostilePage();
  page.hits.clear();
  page.linesMissing = true;
  EXPECT_TRUE(contains(htmlResultBody(page, linksFor(PageFormat::kHtml)), "still being prepared"));
}

TEST(XmlPage, WellFormedWhateverTheTexts) {
  for (PageFormat f : {PageFormat::kXml, PageFormat::kXml2, PageFormat::kXml3}) {
    const std::string xml = xmlResultBody(hostilePage(), linksFor(f));
    std::string why;
    EXPECT_TRUE(rendertest::wellFormedXml(xml, why)) << why << "\n" << xml;
  }
  const std::string xml = xmlResultBody(hostilePage(), linksFor(PageFormat::kXml2));
  EXPECT_TRUE(contains(xml, "<search_result version=\"2\">"));
  EXPECT_TRUE(contains(xml,
                       "<hits total=\"35\" page=\"2\" per_page=\"10\" pages=\"4\" "
                       "count=\"2\" complete=\"yes\">"));
  EXPECT_TRUE(contains(xml, "<hit rank=\"11\"><file>&lt;script&gt;"));
  EXPECT_TRUE(contains(xml, "<title>T itle </title>"));
  EXPECT_TRUE(contains(xml, "<size bytes=\"2048\"/>"));
  EXPECT_TRUE(contains(xml, "<index id=\"news\" owner=\"al&quot;ice\" host=\"127.0.0.1\">"));
  EXPECT_TRUE(contains(xml, "<snippet>... see &lt;a&gt; $x</snippet>"));
  EXPECT_TRUE(contains(xml, "<keyword score=\"12\">b&#39;c</keyword>"));
  EXPECT_TRUE(contains(xml, "<date_window from=\"2005/7/1\" to=\"2005/7/20\"/>"));
  EXPECT_EQ(xml.find("<url>", xml.find("rank=\"12\"")), std::string::npos);
  std::string why;
  EXPECT_TRUE(
      rendertest::wellFormedXml(xmlResultBody(ResultPage{}, linksFor(PageFormat::kXml)), why))
      << why;
}

TEST(XmlPage, CheckerCatchesBrokenDocuments) {
  std::string why;
  for (const char* bad : {"<a><b></a></b>", "<a>x & y</a>", "<a x='1'/>", "<a>\x01</a>",
                          "<a></a><b/>", "<a>", "text", "<a x=\"<\"/>"})
    EXPECT_FALSE(rendertest::wellFormedXml(bad, why)) << bad;
  EXPECT_TRUE(
      rendertest::wellFormedXml("<?xml version=\"1.0\"?>\n<a x=\"&amp;\"><b/>&#39;</a>\n", why))
      << why;
}

TEST(WmlPage, ADeckWithPaging) {
  const std::string wml = wmlResultBody(hostilePage(), linksFor(PageFormat::kWml));
  std::string why;
  EXPECT_TRUE(rendertest::wellFormedXml(wml, why)) << why;
  EXPECT_TRUE(contains(wml, "35 hits for a&lt;b &amp; &quot;c&quot;"));
  EXPECT_TRUE(contains(wml,
                       "href=\"getfilelist.exe?result=query12345&amp;page=1&amp;no=10&amp;"
                       "format=wml\">Previous</a>"));
  EXPECT_TRUE(contains(wml, "page=3&amp;no=10&amp;format=wml\">Next</a>"));
  ResultPage dollars;
  dollars.queryTyped = "$HOME";
  EXPECT_TRUE(contains(wmlResultBody(dollars, linksFor(PageFormat::kWml)), "$$HOME"));
}

TEST(Answers, HeaderCarriesStatusAndType) {
  const CgiAnswer ok = renderResultPage(hostilePage(), linksFor(PageFormat::kXml3));
  EXPECT_EQ(ok.text().substr(0, 45), "Content-Type: text/xml; charset=UTF-8\n\n<?xml ");
  const struct {
    PageFormat format;
    int status;
    const char* head;
  } cases[] = {
      {PageFormat::kHtml, 400,
       "Status: 400 Bad Request\nContent-Type: text/html; charset=UTF-8\n\n"},
      {PageFormat::kXml, 404, "Status: 404 Not Found\nContent-Type: text/xml; charset=UTF-8\n\n"},
      {PageFormat::kWml, 403,
       "Status: 403 Forbidden\nContent-Type: text/vnd.wap.wml; charset=UTF-8\n\n"},
      {PageFormat::kXml2, 500,
       "Status: 500 Internal Server Error\nContent-Type: text/xml; charset=UTF-8\n\n"},
  };
  for (const auto& c : cases) {
    const CgiAnswer a = renderProblem(c.format, c.status, "no <such> result");
    const std::string text = a.text();
    EXPECT_EQ(text.substr(0, std::string(c.head).size()), c.head);
    EXPECT_TRUE(contains(text, "no &lt;such&gt; result"));
    if (c.format != PageFormat::kHtml) {
      std::string why;
      EXPECT_TRUE(rendertest::wellFormedXml(a.body, why)) << why;
    }
  }
}

TEST(Paging, WindowAroundTheCurrentPage) {
  const struct {
    int64_t current, count;
    std::vector<int64_t> pages;
  } cases[] = {
      {1, 0, {}},
      {1, 1, {1}},
      {1, 20, {1, 2, 3, 4, 5, 0, 20}},
      {10, 20, {1, 0, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0, 20}},
      {20, 20, {1, 0, 16, 17, 18, 19, 20}},
      {6, 10, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {50, 3, {1, 2, 3}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(pageWindow(c.current, c.count), c.pages) << c.current << "/" << c.count;
  ResultPage page;
  page.pageCount = 3;
  page.page = 50;
  EXPECT_EQ(previousPage(page), 3);
  page.page = 2;
  EXPECT_EQ(previousPage(page), 1);
}

}  // namespace
}  // namespace render
