/// @file page_writer_test.cc
/// @brief The three page formats: hostile texts stay text, XML stays
/// well-formed, links lead to the right pages and searches.

#include "companions/renderer/page_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

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
  h.location = "a b/\"x\".txt";
  h.snippet = {true, false, {{"see <", false}, {"a", true}, {"> $x", false}}};
  p.hits = {h, h};
  p.hits[1].location.clear();
  p.hits[1].rank = 12;
  p.linesMissing = true;
  return p;
}

const std::string kName = "query" + std::string(30, '4');

std::string render(PageFormat format, const ResultPage& page = hostilePage()) {
  LinkContext links;
  links.request.result = kName;
  links.request.format = format;
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
             "<div class=\"location\">a b/&quot;x&quot;.txt</div>",
             "href=\"getfilelist.exe?result=" + kName + "&amp;page=1&amp;no=10\"",
             // New searches drop the renderer's paging; a term goes in the local code page.
             "href=\"searchrun?user=alice&amp;query=a%3Cb&amp;sort=date&amp;order=desc\">date</a>",
             "href=\"searchrun?user=alice&amp;sort=score&amp;query=%A4%A4\">\xE4\xB8\xAD</a>",
             "class_uid=C01\">&lt;C&gt;</a>", "still being prepared"});
  EXPECT_EQ(html.find("file:"), std::string::npos);
  EXPECT_EQ(html.find("location", html.find("</li>")), std::string::npos);  // unknown: none
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
  expectParts(
      render(PageFormat::kXml2),
      {"<search_result version=\"2\">", "count=\"2\" complete=\"no\">",
       "<index id=\"news\" owner=\"al&quot;ice\" host=\"127.0.0.1\">",
       "<snippet>... see &lt;a&gt; $x</snippet>", "<location>a b/&quot;x&quot;.txt</location>",
       // No location when unknown; no control characters.
       "<hit rank=\"12\"><file>&lt;script&gt;$x&lt;/script&gt;</file><title>T itle "
       "</title><index"});
  // WML reads "$" as a variable.
  expectParts(render(PageFormat::kWml),
              {"35 hits for a&lt;b &amp; &quot;c&quot;", "&lt;script&gt;$$x",
               "href=\"getfilelist.exe?result=" + kName + "&amp;page=1&amp;no=10&amp;format=wml\">",
               "page=3&amp;no=10&amp;format=wml\">Next</a>"});
  for (const char* bad : {"<a><b></a></b>", "<a>x & y</a>", "<a x='1'/>", "<a>\x01</a>",
                          "<a></a><b/>", "<a>", "text", "<a x=\"<\"/>"})
    EXPECT_FALSE(rendertest::wellFormedXml(bad, why)) << "the checker missed " << bad;
}

// The header lines of an answer, up to the blank line.
std::vector<std::string> headerLines(const CgiAnswer& answer) {
  const std::string text = answer.text();
  std::vector<std::string> lines;
  for (size_t at = 0, nl; (nl = text.find('\n', at)) != at; at = nl + 1)
    lines.push_back(text.substr(at, nl - at));
  return lines;
}

bool hasLine(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

TEST(Headers, EveryAnswerForbidsSniffingAndForeignContent) {
  ResultPage signedIn = hostilePage();
  signedIn.user = "alice";
  ResultPage builtIn = hostilePage();
  builtIn.user = kBuiltInUser;
  LinkContext links;
  links.request.result = kName;
  const std::string csp = std::string("Content-Security-Policy: ") + kContentSecurityPolicy;
  // Answer, whether no cache may keep it.
  const std::pair<CgiAnswer, bool> cases[] = {
      {renderResultPage(signedIn, links), true},
      {renderResultPage(builtIn, links), false},
      {renderProblem(PageFormat::kHtml, 404, "x"), true},
      {renderProblem(PageFormat::kXml, 500, "x"), true},
      {renderProblem(PageFormat::kWml, 403, "x"), true},
  };
  for (const auto& [answer, noStore] : cases) {
    const std::vector<std::string> lines = headerLines(answer);
    EXPECT_TRUE(hasLine(lines, "X-Content-Type-Options: nosniff")) << answer.text();
    EXPECT_TRUE(hasLine(lines, csp));
    EXPECT_EQ(hasLine(lines, "Cache-Control: no-store"), noStore) << answer.text();
    EXPECT_EQ(answer.text().find("Set-Cookie"), std::string::npos);
  }
  // The policy allows the page's one inline style element and nothing that
  // the page does not use.
  const std::string html = renderResultPage(builtIn, links).body;
  EXPECT_NE(html.find("<style>"), std::string::npos);
  for (const char* unused : {"<script", " style=\"", "<img", "<iframe", "<link", "<form"})
    EXPECT_EQ(html.find(unused), std::string::npos) << unused;
  EXPECT_FALSE(std::regex_search(html, std::regex(" on[a-z]+=")));
  for (const char* part :
       {"default-src 'none'", "style-src 'unsafe-inline'", "frame-ancestors 'none'"})
    EXPECT_NE(csp.find(part), std::string::npos) << part;
}

TEST(Headers, OnlyAWellFormedPermitKeyBecomesACookie) {
  CgiAnswer answer = renderProblem(PageFormat::kHtml, 400, "x");
  // Key, HTTPS, the cookie line ("" for none).
  const std::tuple<std::string, bool, std::string> cases[] = {
      {"alice1234567", false, "Set-Cookie: ks_key=alice1234567; Path=/; HttpOnly; SameSite=Strict"},
      {"alice1234567", true,
       "Set-Cookie: ks_key=alice1234567; Path=/; HttpOnly; SameSite=Strict; Secure"},
      {"a1234567\r\nLocation: http://x/", false, ""},
      {"a1234567; Domain=x", false, ""},
      {"123456", false, ""},
      {"", false, ""},
  };
  for (const auto& [key, https, line] : cases) {
    answer.permitCookie = key;
    answer.secureCookie = https;
    const std::vector<std::string> lines = headerLines(answer);
    const auto cookie = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
      return l.compare(0, 11, "Set-Cookie:") == 0;
    });
    EXPECT_EQ(cookie == lines.end() ? "" : *cookie, line) << key;
    EXPECT_FALSE(hasLine(lines, "Location: http://x/"));
  }
}

TEST(Links, NoLinkCarriesAPermitKey) {
  ResultPage page = hostilePage();
  page.queryUrl = "user=alice&ks_key=alice1234567&query=a&outcgipage=2&k%73_key=alice7654321";
  page.relatedTerms = {{"t", "t"}};
  page.similarKeywords = {{"s", "s", 5}};
  LinkContext links;
  links.request.result = kName;
  for (PageFormat f : {PageFormat::kHtml, PageFormat::kXml, PageFormat::kWml}) {
    links.request.format = f;
    const std::string body = renderResultPage(page, links).body;
    EXPECT_EQ(body.find("1234567"), std::string::npos) << body;
    EXPECT_EQ(body.find("7654321"), std::string::npos) << body;
  }
  EXPECT_EQ(sortLinkUrl(links, page, "date", "asc"),
            "searchrun?user=alice&query=a&sort=date&order=asc");
  EXPECT_EQ(classLinkUrl(links, page, "C9"), "searchrun?user=alice&query=a&class_uid=C9");
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
