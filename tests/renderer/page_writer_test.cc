/// @file page_writer_test.cc
/// @brief The three page formats: hostile texts stay text, XML stays
/// well-formed, links lead to the right pages and searches.

#include "companions/renderer/page_writer.h"

#include <gtest/gtest.h>

#include "tests/renderer/renderer_fixture.h"

namespace render {
namespace {

// Page 2 of 4 whose every text tries to break out of its place.
ResultPage hostilePage() {
  ResultPage p;
  p.totalHits = 35;
  p.page = 2;
  p.pageCount = 4;
  p.sortOrder = "desc";
  p.queryTyped = "a<b & \"c\"";
  p.queryUrl = "user=alice&query=a%3Cb&outcgipage=2&sort=score";
  p.relatedTerms = {{"\xA4\xA4", "\xE4\xB8\xAD"}};
  p.classes = {{"<C>", "C01"}};
  HitView h;
  h.rank = 11;
  h.line = {"127.0.0.1", "20001", "al\"ice", "news", 77, 5};
  h.fileName = "<script>$x</script>";
  h.title = "T\x01itle\xEF\xBF\xBE";
  h.documentPath = "/a b/\"x\".txt";
  h.snippet = {true, false, {{"see <", false}, {"a", true}, {"> $x", false}}};
  p.hits = {h, h};
  p.hits[0].linkable = true;
  p.hits[1].rank = 12;
  p.linesMissing = true;
  return p;
}

std::string render(PageFormat format, const ResultPage& page = hostilePage()) {
  LinkContext links;
  links.request.result = "query12345";
  links.request.format = format;
  links.permitKey = format == PageFormat::kHtml ? "ab1234567" : "";
  return renderResultPage(page, links).body;
}

void expectParts(const std::string& page, const std::vector<std::string>& parts) {
  for (const std::string& part : parts)
    EXPECT_NE(page.find(part), std::string::npos) << part << "\n" << page;
}

TEST(HtmlPage, TextsStayTextAndLinksLeadOn) {
  const std::string html = render(PageFormat::kHtml);
  EXPECT_EQ(html.find("<script>"), std::string::npos);
  expectParts(
      html, {"&lt;script&gt;$x&lt;/script&gt;", "<b>a&lt;b &amp; &quot;c&quot;</b>",
             "<ol class=\"hits\" start=\"11\">", "... see &lt;<b>a</b>&gt; $x",
             "<a href=\"file:///a%20b/%22x%22%2Etxt\">",
             "href=\"getfilelist.exe?result=query12345&amp;page=1&amp;no=10&amp;ks_key=ab1234567\"",
             // New searches drop the renderer's paging; a term goes in the local code page.
             "href=\"searchrun?user=alice&amp;query=a%3Cb&amp;sort=date&amp;order=desc\">date</a>",
             "href=\"searchrun?user=alice&amp;sort=score&amp;query=%A4%A4\">\xE4\xB8\xAD</a>",
             "class_uid=C01\">&lt;C&gt;</a>", "still being prepared"});
  EXPECT_EQ(html.find("file://", html.find("</li>")), std::string::npos);  // unreadable: no link
  ResultPage empty;
  empty.queryTyped = "nothing";
  const std::string none = render(PageFormat::kHtml, empty);
  // The places of the lists stay for page styles; no paging, no sort choices.
  expectParts(none,
              {"No documents match <b>nothing</b>.", "id=\"related-terms\"", "id=\"classes\""});
  EXPECT_EQ(none.find("id=\"paging\""), std::string::npos);
  EXPECT_EQ(none.find("id=\"sort\""), std::string::npos);
  empty.queryDisallowed = true;
  expectParts(render(PageFormat::kHtml, empty), {"This query is not allowed."});
}

TEST(XmlPage, WellFormedWhateverTheTexts) {
  std::string why;
  for (PageFormat f : {PageFormat::kXml, PageFormat::kXml2, PageFormat::kXml3, PageFormat::kWml}) {
    EXPECT_TRUE(rendertest::wellFormedXml(render(f), why)) << why << "\n" << render(f);
    EXPECT_TRUE(rendertest::wellFormedXml(render(f, {}), why)) << why;
    EXPECT_TRUE(rendertest::wellFormedXml(renderProblem(f, 400, "<&>").body, why)) << why;
  }
  expectParts(render(PageFormat::kXml2),
              {"<search_result version=\"2\">", "count=\"2\" complete=\"no\">",
               "<index id=\"news\" owner=\"al&quot;ice\" host=\"127.0.0.1\">",
               "<snippet>... see &lt;a&gt; $x</snippet>", "<url>file:///a%20b/%22x%22%2Etxt</url>",
               // No url for the unreadable document; no control characters.
               "<hit rank=\"12\"><file>&lt;script&gt;$x&lt;/script&gt;</file><title>T itle "
               "</title><index"});
  // WML reads "$" as a variable.
  expectParts(render(PageFormat::kWml),
              {"35 hits for a&lt;b &amp; &quot;c&quot;", "&lt;script&gt;$$x",
               "href=\"getfilelist.exe?result=query12345&amp;page=1&amp;no=10&amp;format=wml\">",
               "page=3&amp;no=10&amp;format=wml\">Next</a>"});
  for (const char* bad : {"<a><b></a></b>", "<a>x & y</a>", "<a x='1'/>", "<a>\x01</a>",
                          "<a></a><b/>", "<a>", "text", "<a x=\"<\"/>"})
    EXPECT_FALSE(rendertest::wellFormedXml(bad, why)) << "the checker missed " << bad;
}

TEST(Paging, WindowAroundTheCurrentPage) {
  EXPECT_EQ(pageWindow(1, 0), std::vector<int64_t>{});
  EXPECT_EQ(pageWindow(10, 20),
            (std::vector<int64_t>{1, 0, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0, 20}));
  EXPECT_EQ(pageWindow(6, 10), (std::vector<int64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));
  EXPECT_EQ(pageWindow(50, 3), (std::vector<int64_t>{1, 2, 3}));  // beyond the end: the way back
  ResultPage page;
  page.pageCount = 3;
  page.page = 50;
  EXPECT_EQ(previousPage(page), 3);
}

}  // namespace
}  // namespace render
