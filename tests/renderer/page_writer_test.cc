/// @file page_writer_test.cc
/// @brief The three page formats: hostile texts stay text, XML stays
/// well-formed, links lead to the right pages and searches, and everything
/// that narrowed a search besides its words is named with a link that
/// widens it again.

#include "companions/renderer/page_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "companions/doctext/render_text.h"
#include "system/layout.h"
#include "tests/renderer/renderer_fixture.h"

namespace render {
namespace {

using rendertest::expectNone;
using rendertest::expectParts;

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
  h.local = true;
  p.hits = {h, h};
  p.hits[1].location.clear();
  p.hits[1].rank = 12;
  p.hits[1].local = false;  // of another host: nothing here to open
  p.linesMissing = true;
  p.mainPageUrl = "/search/index.html";
  return p;
}

const std::string kName = "query" + std::string(30, '4');

std::string render(PageFormat format, const ResultPage& page = hostilePage()) {
  LinkContext links;
  links.request.result = kName;
  links.request.format = format;
  return renderResultPage(page, links).body;
}

TEST(HtmlPage, TextsStayTextAndLinksLeadOn) {
  const std::string html = render(PageFormat::kHtml);
  expectNone(html, {"<script>", "file:"});
  expectParts(
      html,
      {"<b>a&lt;b &amp; &quot;c&quot;</b>", "<ol class=\"hits\" start=\"11\">",
       "... see &lt;<mark>a</mark>&gt; $x",
       // The title opens the document view; a hit of another host has none.
       "<h2 class=\"title\"><a href=\"getfilelist.exe?result=" + kName +
           "&amp;view=11&amp;no=10\">T itle </a></h2>",
       "<h2 class=\"title\">T itle </h2>", "<div class=\"location\">a b/&quot;x&quot;.txt</div>",
       // Without a location the file name says which document it is.
       "<div class=\"location\">&lt;script&gt;$x&lt;/script&gt;</div>",
       "href=\"getfilelist.exe?result=" + kName + "&amp;page=1&amp;no=10\"",
       // New searches drop the renderer's paging; a term goes in the local code page.
       "href=\"searchrun?user=alice&amp;query=a%3Cb&amp;sort=date&amp;order=desc\">date</a>",
       "href=\"searchrun?user=alice&amp;sort=score&amp;query=%A4%A4\">\xE4\xB8\xAD</a>",
       "class_uid=C01\">&lt;C&gt;</a>", "still being prepared", "<html lang=\"en\">",
       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">",
       "<h1>Search results</h1>", "<a href=\"/search/index.html\">&laquo; Search page</a>",
       "<nav class=\"paging\" id=\"paging\" aria-label=\"Result pages\">",
       "<b aria-current=\"page\">2</b>"});
  ResultPage empty;
  empty.queryTyped = "nothing";
  const std::string none = render(PageFormat::kHtml, empty);
  // The places of the lists stay for page styles; no paging, no sort choices.
  expectParts(none, {"No documents match <b>nothing</b>.", "Check the spelling",
                     "id=\"related-terms\"", "id=\"classes\"", "value=\"nothing\""});
  expectNone(none, {"id=\"paging\"", "id=\"sort\""});
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
  // The policy allows the page's one inline style element and its form to
  // this site, and nothing that the page does not use.
  const std::string html = renderResultPage(builtIn, links).body;
  expectParts(html, {"<style>", "<form class=\"search\" action=\"searchrun\" method=\"get\""});
  expectNone(html, {"<script", " style=\"", "<img", "<iframe", "<link", "<object"});
  EXPECT_FALSE(std::regex_search(html, std::regex(" on[a-z]+=")));
  expectParts(csp, {"default-src 'none'", "style-src 'unsafe-inline'", "frame-ancestors 'none'",
                    "form-action 'self'"});
}

TEST(Headers, OnlyAWellFormedPermitKeyBecomesACookie) {
  CgiAnswer answer = renderProblem(PageFormat::kHtml, 400, "x");
  // Key, cookie path, HTTPS, the cookie line ("" for none).
  const std::tuple<std::string, std::string, bool, std::string> cases[] = {
      {"alice1234567", "/", false,
       "Set-Cookie: ks_key=alice1234567; Path=/; HttpOnly; SameSite=Strict"},
      {"alice1234567", "/cgi-bin/search/", true,
       "Set-Cookie: ks_key=alice1234567; Path=/cgi-bin/search/; HttpOnly; SameSite=Strict; Secure"},
      // A path that would end or extend the line is never written.
      {"alice1234567", "/a\r\nLocation: http://x/", false,
       "Set-Cookie: ks_key=alice1234567; Path=/; HttpOnly; SameSite=Strict"},
      {"alice1234567", "/a; Domain=x/", false,
       "Set-Cookie: ks_key=alice1234567; Path=/; HttpOnly; SameSite=Strict"},
      {"a1234567\r\nLocation: http://x/", "/", false, ""},
      {"a1234567; Domain=x", "/", false, ""},
      {"123456", "/", false, ""},
      {"", "/", false, ""},
  };
  for (const auto& [key, path, https, line] : cases) {
    answer.permitCookie = key;
    answer.cookiePath = path;
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
    expectNone(renderResultPage(page, links).body, {"1234567", "7654321"});
  }
  EXPECT_EQ(sortLinkUrl(links, page, "date", "asc"),
            "searchrun?user=alice&query=a&sort=date&order=asc");
  EXPECT_EQ(classLinkUrl(links, page, "C9"), "searchrun?user=alice&query=a&class_uid=C9");
}

TEST(HtmlPage, SearchFormKeepsTheRequestButNeverItsKey) {
  ResultPage page = hostilePage();
  page.queryUrl =
      "user=alice&ks_key=alice1234567&query=old&index_id=7F000001_news&outcgipage=2&"
      "main_page=%2Fs%22%3E%3Cx";
  // As the reader fills it.
  page.searchFields = searchFormFields(page.queryUrl, kLangEN);
  const std::string html = render(PageFormat::kHtml, page);
  expectParts(html, {"<label for=\"query\">Search for</label>",
                     "name=\"query\" value=\"a&lt;b &amp; &quot;c&quot;\"",
                     "<input type=\"hidden\" name=\"user\" value=\"alice\">"
                     "<input type=\"hidden\" name=\"index_id\" value=\"7F000001_news\">"
                     "<input type=\"hidden\" name=\"main_page\" value=\"/s&quot;&gt;&lt;x\">"});
  // The page's UTF-8 is local: no query encoding.
  expectNone(html, {"1234567", "outcgipage", "value=\"old\"", "query_encoding"});
  // Elsewhere the query typed into the page is declared UTF-8.
  page.language = kLangJP;
  expectParts(render(PageFormat::kHtml, page),
              {"<html lang=\"ja\">",
               "<input type=\"hidden\" name=\"query_encoding\" value=\"UTF-8\"></form>"});
}

TEST(HtmlPage, SortChoicesAreTheSearchFormsAndTheCurrentOneIsMarked) {
  ResultPage page = hostilePage();
  page.sortField = "size";
  const std::string html = render(PageFormat::kHtml, page);
  const size_t from = html.find("<nav class=\"sort\""), to = html.find("</nav>", from);
  ASSERT_NE(from, std::string::npos);
  const std::string sort = html.substr(from, to - from);
  std::vector<std::string> fields;
  const std::regex field("sort=([a-z]+)&amp;order=desc\">|<b aria-current=\"true\">([a-z ]+)</b>");
  for (std::sregex_iterator it(sort.begin(), sort.end(), field), end; it != end; ++it)
    fields.push_back((*it)[1].matched ? (*it)[1].str() : "[" + (*it)[2].str() + "]");
  EXPECT_EQ(fields, (std::vector<std::string>{"score", "date", "[size]", "filename", "index",
                                              "[descending]"}));
}

TEST(HtmlPage, AllIndexesOnlyWhenSeveralWereSearched) {
  const IndexEntry news{"news", "alice", "News", 12, "127.0.0.1"};
  const IndexEntry plans{"plans", "/grp", "Plans", 3, "127.0.0.1"};
  // The selected descriptor, the indexes named, what the summary says.
  const std::tuple<std::string, std::vector<IndexEntry>, std::string> cases[] = {
      {"all", {news}, " in <b>News</b> ("},
      {"all", {news, plans}, " in all 2 indexes ("},
      {"Plans", {news, plans}, " in <b>Plans</b> ("},
      {"all", {}, "</b> ("},
  };
  for (const auto& [selected, searched, says] : cases) {
    ResultPage page = hostilePage();
    page.selectedIndex = selected;
    page.searched = searched;
    expectParts(render(PageFormat::kHtml, page), {says});
    page.totalHits = 0;
    page.hits.clear();
    expectParts(render(PageFormat::kHtml, page), {says.substr(0, says.size() - 2) + "."});
  }
}

TEST(HtmlPage, TheClassSearchedIsNamedAndEachOtherRunsTheSearchInIt) {
  ResultPage page = hostilePage();
  page.selectedIndex = "all";
  page.language = kLangCH;
  page.classes = {{"Docs", "D1"}, {"R&D <new>", "R&D 1"}, {"Old", "\xA4\xA4"}};
  const std::string others =
      "<a href=\"searchrun?user=alice&amp;query=a&amp;class_uid=R%26D%201\">R&amp;D "
      "&lt;new&gt;</a> <a href=\"searchrun?user=alice&amp;query=a&amp;class_uid=%A4%A4\">Old</a>";
  // By name, by id (the name wins), and by an id in the local code page.
  const std::pair<std::string, std::string> cases[] = {
      {"class_name=Docs&class_uid=R%26D%201", "Docs"},
      {"class_uid=D1", "Docs"},
      {"class_uid=R%26D%201", "R&amp;D &lt;new&gt;"},
      {"class_uid=%A4%A4", "Old"},
  };
  for (const auto& [vars, searched] : cases) {
    page.queryUrl = "user=alice&query=a&" + vars + "&index_id=7F000001_news";
    page.searchFields = searchFormFields(page.queryUrl, kLangCH);
    const std::string html = render(PageFormat::kHtml, page);
    expectParts(html, {" in class <b>" + searched + "</b> (",
                       "<b aria-current=\"true\">" + searched + "</b>"});
  }
  page.queryUrl = "user=alice&query=a&class_name=Docs";
  page.searchFields = searchFormFields(page.queryUrl, kLangCH);
  expectParts(render(PageFormat::kHtml, page),
              {"Classes: <b aria-current=\"true\">Docs</b> " + others});
  // No class searched (or one the result does not list): every class is a way on.
  for (const char* vars : {"class_name=NONE_CLASS_SEARCH&class_uid=D1", "class_name=Gone", ""}) {
    page.queryUrl = std::string("user=alice&query=a&") + vars;
    page.searchFields = searchFormFields(page.queryUrl, kLangCH);
    const std::string html = render(PageFormat::kHtml, page);
    expectNone(html, {" in class "});
    expectParts(html, {"Classes: <a href=\"searchrun?user=alice&amp;query=a&amp;class_uid=D1\">"
                       "Docs</a>"});
  }
}

TEST(HtmlPage, EachIndexsCountNarrowsTheSearchToIt) {
  ResultPage page = hostilePage();
  page.queryUrl = "user=alice&query=a&index_id=7F000001_news&index_id=0A000005_plans&search_no=0";
  page.indexes = {{"news", "alice", "News", 12, "127.0.0.1"},
                  {"plans", "/grp", "Plans", 1, "10.0.0.5"},
                  {"old", "bob", "", 0, "127.0.0.1"},
                  {"gone", "bob", "Gone", -1, "127.0.0.1"}};
  const std::string html = render(PageFormat::kHtml, page);
  expectParts(html, {"<li>News - <a href=\"searchrun?user=alice&amp;query=a&amp;index_id="
                     "7F000001%5Fnews&amp;search_no=1\">12 hits</a></li>",
                     "<li>Plans - <a href=\"searchrun?user=alice&amp;query=a&amp;index_id="
                     "0A000005%5Fplans&amp;search_no=1\">1 hit</a></li>",
                     "<li>old - 0 hits</li>", "<li>Gone - not searched</li>"});
  // One index alone has nothing to narrow.
  page.indexes.resize(1);
  expectParts(render(PageFormat::kHtml, page), {"<li>News - 12 hits</li>"});
}

TEST(Relevance, AWordAgainstTheBestHitOrNothing) {
  // Score, best score, word.
  const std::tuple<int, int, std::string> cases[] = {
      {900, 900, "high"},   {600, 900, "high"},
      {599, 900, "medium"}, {300, 900, "medium"},
      {299, 900, "low"},    {0, 900, "low"},
      {-5, 900, "low"},     {900, 0, ""},
      {5, -1, ""},          {INT32_MAX, INT32_MAX, "high"}};
  for (const auto& [score, best, word] : cases)
    EXPECT_EQ(relevanceWord(score, best), word) << score << "/" << best;
  ResultPage page = hostilePage();
  page.bestScore = 100;
  expectParts(render(PageFormat::kHtml, page), {" - relevance: high</div>"});
  expectParts(render(PageFormat::kXml, page), {"<score>77</score><relevance>high</relevance>"});
  page.bestScore = 0;  // unknown: no word, and never the engine's number
  expectNone(render(PageFormat::kHtml, page), {"relevance:", "77"});
}

// A date window that emptied the result is named, with the search without
// it, instead of spelling advice; either end of a window may be open.
TEST(HtmlPage, AnEmptyingDateWindowIsNamedAndRemovable) {
  ResultPage page = hostilePage();
  page.totalHits = 0;
  page.hits.clear();
  page.queryUrl =
      "user=alice&query=apple&part_file=on&begin_year=2005&begin_month=7&begin_day=1"
      "&end_year=&end_month=&end_day=&sort=date";
  page.dateWindow = true;
  page.dateFrom = "2005/7/1";
  const std::string html = render(PageFormat::kHtml, page);
  expectParts(html, {"No document dated from 2005/7/1 on matches.",
                     "?user=alice&amp;query=apple&amp;sort=date\">Search all dates</a>"});
  expectNone(html, {"Check the spelling"});
  page.dateFrom.clear();
  page.dateTo = "2006/1/2";
  expectParts(render(PageFormat::kHtml, page), {"No document dated up to 2006/1/2 matches."});
  page.dateWindow = false;
  const std::string plain = render(PageFormat::kHtml, page);
  expectNone(plain, {"window-emptied"});
  expectParts(plain, {"Check the spelling"});
}

TEST(JsonPage, ParsesAndCarriesThePageWhateverItsTexts) {
  ResultPage page = hostilePage();
  page.bestScore = 200;
  page.dateWindow = true;
  page.dateFrom = "2005/7/1";
  page.dateTo = "2005/7/20";
  page.similarKeywords = {{"s", "s\"<", 5}};
  page.indexes = {{"news", "alice", "N\x01ews", 12, "127.0.0.1"}};
  page.hits[0].time = 1100000000;
  page.hits[0].hasSize = true;
  page.hits[0].size = 512;
  page.hits[0].copies = {"pkg-a/copyright", "pkg\"b/copyright"};
  page.hits[0].fields = {{"name", "libc6"}, {"size \"kB\"", "<12>"}};
  const CgiAnswer answer = renderResultPage(page, [] {
    LinkContext l;
    l.request.result = kName;
    l.request.format = PageFormat::kJson;
    return l;
  }());
  EXPECT_EQ(answer.contentType, "application/json; charset=utf-8");
  rendertest::Json json;
  std::string why;
  ASSERT_TRUE(rendertest::parseJson(answer.body, json, why)) << why << "\n" << answer.body;
  EXPECT_EQ(json.keys(),
            (std::vector<std::string>{"version", "result", "query", "index", "run_time_ms", "sort",
                                      "date_window", "total", "page", "per_page", "pages", "count",
                                      "complete", "links", "hits", "related_terms",
                                      "similar_keywords", "classes", "indexes"}));
  EXPECT_EQ(json["result"].asString(), kName);
  EXPECT_EQ(json["query"]["typed"].asString(), "a<b & \"c\"");
  EXPECT_EQ(json["total"].asNumber(), 35);
  EXPECT_EQ(json["page"].asNumber(), 2);
  EXPECT_FALSE(json["complete"].asBool());
  EXPECT_EQ(json["date_window"]["to"].asString(), "2005/7/20");
  ASSERT_EQ(json["hits"].items().size(), 2u);
  const rendertest::Json& first = json["hits"].items()[0];
  EXPECT_EQ(first.keys(),
            (std::vector<std::string>{"rank", "file", "title", "location", "date", "epoch", "size",
                                      "index", "score", "relevance", "record", "snippet", "view",
                                      "similar", "copies", "fields"}));
  EXPECT_EQ(first["rank"].asNumber(), 11);
  EXPECT_EQ(first["file"].asString(), "<script>$x</script>");
  EXPECT_EQ(first["title"].asString(), "T\x01itle\xEF\xBF\xBE");  // JSON carries what XML cannot
  EXPECT_EQ(first["location"].asString(), "a b/\"x\".txt");
  EXPECT_EQ(first["epoch"].asNumber(), 1100000000);
  EXPECT_EQ(first["size"].asNumber(), 512);
  EXPECT_EQ(first["index"]["owner"].asString(), "al\"ice");
  EXPECT_EQ(first["score"].asNumber(), 77);
  EXPECT_EQ(first["relevance"].asString(), "medium");
  EXPECT_EQ(first["snippet"].asString(), "... see <a> $x");
  EXPECT_EQ(first["view"].asString(), "getfilelist.exe?result=" + kName + "&view=11&no=10");
  // Copies of one content are one hit that says how many and where; a
  // database row names its columns.
  EXPECT_EQ(first["copies"].dump(),
            R"({"count":3,"others":["pkg-a/copyright","pkg\"b/copyright"]})");
  EXPECT_EQ(first["fields"].dump(),
            R"([{"name":"name","value":"libc6"},{"name":"size \"kB\"","value":"<12>"}])");
  const rendertest::Json& second = json["hits"].items()[1];
  for (const char* absent :
       {"copies", "fields", "location", "view", "date"})  // view: another host's
    EXPECT_TRUE(second[absent].isNull()) << absent;
  EXPECT_EQ(json["similar_keywords"].items()[0]["keyword"].asString(), "s\"<");
  EXPECT_EQ(json["indexes"].items()[0]["hits"].asNumber(), 12);
  // Nothing a document holds can end a script element a reader puts it in.
  EXPECT_EQ(answer.body.find('<'), std::string::npos);
  EXPECT_TRUE(isUtf8(answer.body));
  const CgiAnswer problem = renderProblem(PageFormat::kJson, 404, "No \"such\" result");
  ASSERT_TRUE(rendertest::parseJson(problem.body, json, why)) << why;
  EXPECT_EQ(json["error"]["status"].asNumber(), 404);
  EXPECT_EQ(json["error"]["message"].asString(), "No \"such\" result");
  EXPECT_EQ(json["error"].keys(), (std::vector<std::string>{"status", "code", "message"}));
  for (const char* bad :
       {"{\"a\":1,\"a\":2}", "[1,]", "{\"a\":\"\x01\"}", "\"\\ud800\"", "01", "{} x", "\"\\x\""})
    EXPECT_FALSE(rendertest::parseJson(bad, json, why)) << "the reader missed " << bad;
}

// A program pages through a result by the links of the answer; the first
// page has no previous one, the last no next, and a fast result's links
// name the full result.
TEST(JsonPage, PageLinksAndTheResultName) {
  ResultPage page;
  page.pageCount = 3;
  page.pageSize = 5;
  LinkContext links;
  links.request.result = kName + "_fast";
  links.request.format = PageFormat::kJson;
  links.request.again = "user=U&query=fig";
  const std::string base = "getfilelist.exe?result=" + kName + "&page=";
  const std::string tail = "&no=5&format=json&again=user%3DU%26query%3Dfig";
  // Each link as the page it names, "-" for none.
  const auto linksOf = [&](int64_t p) {
    page.page = p;
    rendertest::Json json;
    std::string why, out;
    EXPECT_TRUE(rendertest::parseJson(renderResultPage(page, links).body, json, why));
    EXPECT_EQ(json["result"].asString(), kName);
    for (const std::string& key : json["links"].keys()) {
      const std::string url = json["links"][key].asString();
      const bool framed = url.size() == base.size() + 1 + tail.size() && url.rfind(base, 0) == 0 &&
                          url.substr(base.size() + 1) == tail;
      out += key + "=" +
             (json["links"][key].isNull() ? "-"
              : framed                    ? url.substr(base.size(), 1)
                                          : url) +
             " ";
    }
    return out;
  };
  EXPECT_EQ(linksOf(1), "self=1 first=1 previous=- next=2 last=3 ");
  EXPECT_EQ(linksOf(3), "self=3 first=1 previous=2 next=- last=3 ");
  page.pageCount = 0;  // nothing found: no page to link to
  EXPECT_EQ(linksOf(1), "self=- first=- previous=- next=- last=- ");
}

// An error page is no dead end: it says what went wrong, offers the search
// again (without the renderer's own variables) and leads back.
TEST(ProblemPage, OffersTheSearchAgainAndAWayBack) {
  Problem p;
  p.status = 410;
  p.code = problem_code::kNoResult;
  p.message = "Expired <now>";
  p.searchKnown = true;
  p.query = "fig \"tree\"";
  p.fields = {{"user", "U"}, {"index_id", "7F000001_a\"b"}};
  p.againUrl = "searchrun?user=U&query=fig";
  p.backUrl = "getfilelist.exe?result=x&page=1";
  p.backLabel = "Back to the results";
  const CgiAnswer html = renderProblem(PageFormat::kHtml, p, 3);
  EXPECT_EQ(html.status, 410);
  EXPECT_EQ(html.header().rfind("Status: 410 Gone\n", 0), 0u);
  expectParts(html.body,
              {"<p class=\"problem\">Expired &lt;now&gt;</p>",
               "<a href=\"searchrun?user=U&amp;query=fig\">Run the search again</a>",
               "<form class=\"search\" action=\"searchrun\"",
               "name=\"query\" value=\"fig &quot;tree&quot;\"",
               "<input type=\"hidden\" name=\"index_id\" value=\"7F000001_a&quot;b\">",
               "<a href=\"getfilelist.exe?result=x&amp;page=1\">&laquo; Back to the results</a>",
               "<a href=\"../search/index.html\">Search page</a>"});
  expectNone(html.body, {"name=\"result\""});
  // Without the search: the way back only, never a form that would fail.
  const CgiAnswer bare = renderProblem(PageFormat::kHtml, 403, "Sign in", 3);
  expectNone(bare.body, {"<form"});
  expectParts(bare.body, {"<a href=\"../search/index.html\">Search page</a>"});
  expectParts(renderProblem(PageFormat::kHtml, 404, "Gone", kLangGB).body,
              {"<html lang=\"zh-Hans\">", "name=\"viewport\"", "<h1>Search</h1>"});
  // Programs get the code beside the status.
  const CgiAnswer xml = renderProblem(PageFormat::kXml, p, 3);
  expectParts(xml.body, {"<search_error status=\"410\" code=\"2102\"><message>"});
  rendertest::Json json;
  std::string why;
  ASSERT_TRUE(rendertest::parseJson(renderProblem(PageFormat::kJson, p, 3).body, json, why));
  EXPECT_EQ(json["error"]["code"].asString(), "2102");
  EXPECT_EQ(json["error"]["status"].asNumber(), 410);
}

// The scope line of the HTML page, "" without one.
std::string scopeOf(const ResultPage& page) {
  const std::string html = render(PageFormat::kHtml, page);
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
  expectParts(
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
  expectNone(scopeOf(page), {"Licenses"});
  // Nothing narrowed the search: no line at all.
  ResultPage wide = narrowedPage();
  wide.searchFields = {{"filenamesearch", "none"}};
  wide.indexes.resize(1);
  wide.dateWindow = false;
  EXPECT_EQ(scopeOf(wide), "");
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
