/// @file search_pages_test.cc
/// @brief The search pages in a real browser, as a person uses them: the
/// demo's search page and the result pages, served with their CGI programs
/// by the test's own web server, driven through headless Chromium.
///
/// The pages are held to what they should be: hits shown and linked, pages
/// and sorts that work, no script, a language, a viewport and a layout that
/// fits a phone 375 CSS pixels wide.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "tests/browser/devtools.h"
#include "tests/browser/web_server.h"
#include "tests/e2e/e2e_util.h"
#include "tests/loopback.h"

namespace {

using browser::Chromium;
using browser::Json;
using browser::Tab;

constexpr int kDocs = 25;
constexpr int kPhoneWidth = 375;
const std::set<std::string> kPearDocs = {"doc03.txt", "doc13.txt", "doc23.txt"};

std::string docName(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "doc%02d.txt", i);
  return name;
}

// One installation with one index, its search page, the web server and the
// browser, shared by every case.
class Site : public ::testing::Environment {
 public:
  void SetUp() override {
    inst_ = std::make_unique<e2e::Installation>();
    // Searches run the engine themselves: no service outlives the test.
    inst_->write("setting/engine_service.cfg", "AUTO_START=no\n");
    server_ = std::make_unique<browser::TestWebServer>(inst_->root());
    // Every document holds "apple", a few "pear"; later numbers are newer.
    for (int i = 1; i <= kDocs; ++i) {
      const std::string path = docs_.sub(docName(i));
      testutil::writeFile(path, "apple report number " + std::to_string(i) +
                                    (kPearDocs.count(docName(i)) ? " with a pear" : "") + "\n");
      const time_t when = 1500000000 + i * 86400;
      const utimbuf times{when, when};
      utime(path.c_str(), &times);
    }
    const e2e::RunResult built = inst_->run(
        "binind/index_builder", {"create", "--owner", "demo", "--desc", "Fruit", docs_.path()});
    ASSERT_EQ(0, built.exitStatus) << built.err;
    uid_ = "7F000001_" + built.out.substr(0, built.out.find('\n'));
    // The demo's search page with the index to choose, as scripts/demo.sh
    // writes it: the page template with the demo's own parts put in.
    std::string page = testutil::readFile(SR_SOURCE_DIR "/companions/register/search_page.html");
    const auto fill = [&page](const std::string& marker, const std::string& text) {
      const size_t at = page.find(marker);
      ASSERT_NE(at, std::string::npos) << marker;
      page.replace(at, marker.size(), text);
    };
    for (const auto& [marker, part] :
         {std::pair<std::string, std::string>{"<!--more-scope-->", "class_scope.html"},
          {"<!--more-forms-->", "field_form.html"}}) {
      const std::string text = testutil::readFile(SR_SOURCE_DIR "/site/demo/" + part);
      fill(marker, text.substr(0, text.find_last_not_of('\n') + 1));
    }
    fill("@INDEX_OPTIONS@", "<label><input type=\"checkbox\" name=\"index_id\" value=\"" + uid_ +
                                "\" checked> Fruit</label><br>");
    // The packages the form searches by field, as a database index.
    inst_->write("tables/packages.csv",
                 "name,section,version,size\nbash,shells,5.2,1800\ndash,shells,0.5,200\n"
                 "coreutils,utils,9.1,6000\n");
    const e2e::RunResult table =
        inst_->run("binind/index_builder", {"create", "--owner", "demo", "--type", "db", "--desc",
                                            "Packages", inst_->path("tables/packages.csv")});
    ASSERT_EQ(0, table.exitStatus) << table.err;
    fill("@DB_INDEX_UID@", "7F000001_" + table.out.substr(0, table.out.find('\n')));
    fill("@CLASS_OPTIONS@", "");  // no class here: the choice offers "no class" alone
    inst_->write("search/index.html", page);

    serving_ = server_->start("127.0.0.2");
    if (Chromium::installed()) chrome_ = std::make_unique<Chromium>();
  }
  void TearDown() override {
    chrome_.reset();
    server_.reset();
    inst_.reset();
  }

  static std::unique_ptr<e2e::Installation> inst_;
  static testutil::TempDir docs_;
  static std::string uid_;
  static std::unique_ptr<browser::TestWebServer> server_;
  static bool serving_;
  static std::unique_ptr<Chromium> chrome_;
};

std::unique_ptr<e2e::Installation> Site::inst_;
testutil::TempDir Site::docs_;
std::string Site::uid_;
std::unique_ptr<browser::TestWebServer> Site::server_;
bool Site::serving_ = false;
std::unique_ptr<Chromium> Site::chrome_;

::testing::Environment* const kSite = ::testing::AddGlobalTestEnvironment(new Site);

// One HTTP exchange over a plain socket: the whole answer, "" when none.
std::string fetch(const std::string& request) {
  const std::string origin = Site::server_->origin();
  const int fd = testutil::connectTo(
      "127.0.0.2", static_cast<uint16_t>(std::stoi(origin.substr(origin.rfind(':') + 1))));
  std::string answer;
  if (fd >= 0 &&
      write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
    char buf[65536];
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, 60000) > 0) {
      const ssize_t got = read(fd, buf, sizeof buf);
      if (got <= 0) break;
      answer.append(buf, static_cast<size_t>(got));
    }
  }
  close(fd);
  return answer;
}

TEST(TestWebServer, ServesTheSearchPageAndRunsTheCgiPrograms) {
  ASSERT_TRUE(Site::serving_) << Site::server_->failure();
  const std::string page = fetch("GET /search/index.html HTTP/1.1\r\nHost: x\r\n\r\n");
  EXPECT_EQ(page.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << page.substr(0, 300);
  EXPECT_NE(page.find("value=\"" + Site::uid_ + "\""), std::string::npos);

  const std::string query = "user=TESSERA&search_no=0&query=pear&index_id=" + Site::uid_;
  const std::string got = fetch("GET /search-cgi/searchrun?" + query + " HTTP/1.0\r\n\r\n");
  EXPECT_EQ(got.rfind("HTTP/1.0 200 OK\r\n", 0), 0u) << got.substr(0, 300);
  const std::string posted = fetch("POST /search-cgi/searchrun HTTP/1.0\r\nContent-Length: " +
                                   std::to_string(query.size()) + "\r\n\r\n" + query);
  for (const std::string& answer : {got, posted}) {
    for (const std::string& name : kPearDocs)
      EXPECT_NE(answer.find(name), std::string::npos) << name << "\n" << answer.substr(0, 500);
  }
}

// What a test reads off a page.
struct PageFacts {
  std::string url;
  std::vector<std::string> hits;     // document names in the order shown
  std::vector<std::string> scripts;  // script elements, handlers, javascript: links
  std::string lang;
  std::string viewport;
  std::string text;
};

class SearchPages : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!Chromium::installed())
      GTEST_SKIP() << browser::kChromium
                   << " is missing: install Debian's chromium package to run the browser tests";
    ASSERT_TRUE(Site::serving_) << Site::server_->failure();
    ASSERT_TRUE(Site::chrome_->running()) << Site::chrome_->failure();
    tab_ = std::make_unique<Tab>(*Site::chrome_);
    ASSERT_TRUE(tab_->ready()) << Site::chrome_->failure();
  }
  void TearDown() override { tab_.reset(); }

  std::string searchPage() const { return Site::server_->origin() + "/search/index.html"; }

  // The status the web server answered the page now shown with.
  int status(const std::string& url) const {
    const std::string target = url.substr(Site::server_->origin().size());
    const auto served = Site::server_->served();
    for (auto it = served.rbegin(); it != served.rend(); ++it) {
      if (it->target == target) return it->status;
    }
    return 0;
  }

  PageFacts facts() {
    const std::optional<Json> v = tab_->eval(R"JS((() => {
      const text = document.body ? document.body.innerText : '';
      const hits = [...new Set(text.match(/\bdoc\d\d\.txt\b/g) || [])];
      const scripts = [];
      for (const s of document.scripts) scripts.push('script ' + (s.src || 'inline'));
      for (const e of document.querySelectorAll('*')) {
        for (const a of e.attributes) {
          if (/^on/i.test(a.name)) scripts.push(e.localName + ' ' + a.name);
          if (/^\s*javascript:/i.test(a.value)) scripts.push(e.localName + ' ' + a.name + '=javascript:');
        }
      }
      const viewport = document.querySelector('meta[name="viewport"]');
      return {url: location.href, hits, scripts, text: text.slice(0, 3000),
              lang: document.documentElement.getAttribute('lang') || '',
              viewport: viewport ? viewport.getAttribute('content') || '' : ''};
    })())JS");
    PageFacts f;
    if (!v) {
      ADD_FAILURE() << "cannot read the page: " << Site::chrome_->failure();
      return f;
    }
    f.url = (*v)["url"].asString();
    for (const Json& h : (*v)["hits"].items())
      f.hits.push_back(h.asString());
    for (const Json& s : (*v)["scripts"].items())
      f.scripts.push_back(s.asString());
    f.lang = (*v)["lang"].asString();
    f.viewport = (*v)["viewport"].asString();
    f.text = (*v)["text"].asString();
    return f;
  }

  // The href of the first link matching a CSS selector, "" when none.
  std::string link(const std::string& selector) {
    const std::optional<Json> v = tab_->eval("(() => { const a = document.querySelector('" +
                                             selector + "'); return a ? a.href : ''; })()");
    return v ? v->asString() : "";
  }
  bool click(const std::string& selector) {
    return tab_->follow("document.querySelector('" + selector + "').click()");
  }
  bool hasSearchForm() {
    const std::optional<Json> v =
        tab_->eval("!!document.querySelector('form input[name=\"query\"]')");
    return v && v->asBool();
  }
  // Types the query into the page's search form and sends it, as a person.
  bool searchFor(const std::string& query) {
    return tab_->follow(
        "(() => { const input = document.querySelector('form input[name=\"query\"]');"
        " input.value = " +
        Json(query).dump() +
        "; const form = input.form;"
        " const send = form.querySelector('[type=\"submit\"]');"
        " if (send) send.click(); else form.requestSubmit(); })()");
  }
  // With SR_SCREENSHOT_DIR set, the page shown as a desktop and as a phone
  // show it, in NAME-1280.png and NAME-375.png there.
  void shoot(const std::string& name) {
    const char* dir = std::getenv("SR_SCREENSHOT_DIR");
    if (dir == nullptr) return;
    for (const int width : {1280, kPhoneWidth}) {
      ASSERT_TRUE(tab_->emulateWidth(width));
      const std::string url = facts().url;
      ASSERT_TRUE(tab_->open(url));
      testutil::writeFile(std::string(dir) + "/" + name + "-" + std::to_string(width) + ".png",
                          tab_->screenshot());
    }
    ASSERT_TRUE(tab_->emulateWidth(0));
  }
  int scrollWidth() {
    const std::optional<Json> v = tab_->eval(
        "new Promise(done => requestAnimationFrame(() => "
        "done(document.documentElement.scrollWidth)))");
    return v ? static_cast<int>(v->asNumber(-1)) : -1;
  }

  // A page answered well with the documents that hold "pear", and nothing else.
  void expectPears(const PageFacts& page) {
    EXPECT_EQ(status(page.url), 200) << page.url;
    EXPECT_EQ(std::set<std::string>(page.hits.begin(), page.hits.end()), kPearDocs) << page.text;
  }

  // The rules every page keeps, whatever it shows.
  void expectWellFormed(const PageFacts& page) {
    EXPECT_EQ(status(page.url), 200) << page.url;
    EXPECT_TRUE(page.scripts.empty()) << page.url << ": " << ::testing::PrintToString(page.scripts);
    EXPECT_FALSE(page.lang.empty()) << page.url << ": no lang on <html>";
    EXPECT_NE(page.viewport.find("width=device-width"), std::string::npos)
        << page.url << ": viewport meta \"" << page.viewport << "\"";
  }

  std::unique_ptr<Tab> tab_;
};

// The checks below would pass on any page if they could not see a script.
TEST_F(SearchPages, TheScriptChecksSeeAScriptWhereThereIsOne) {
  ASSERT_TRUE(
      tab_->open("data:text/html,<html><body><script>document.title = 'ran';</script>"
                 "<a href='javascript:void 0' onclick='return 1'>x</a></body></html>"))
      << Site::chrome_->failure();
  EXPECT_EQ(facts().scripts,
            (std::vector<std::string>{"script inline", "a href=javascript:", "a onclick"}));
  EXPECT_EQ(tab_->pageScripts().size(), 1u);
}

// Every page on the way keeps the rules of expectWellFormed.
TEST_F(SearchPages, SearchFollowAHitTurnThePageSortAndSearchAgain) {
  ASSERT_TRUE(tab_->open(searchPage())) << Site::chrome_->failure();
  expectWellFormed(facts());
  ASSERT_TRUE(searchFor("apple")) << Site::chrome_->failure();
  const PageFacts first = facts();
  expectWellFormed(first);
  ASSERT_EQ(first.hits.size(), 10u) << first.text;

  // Opened where it points, in this tab even if it asks for another.
  const std::string view = link("a[href*=\"view=\"]");
  ASSERT_FALSE(view.empty()) << first.text;
  ASSERT_TRUE(tab_->open(view)) << Site::chrome_->failure();
  const PageFacts hit = facts();
  expectWellFormed(hit);
  EXPECT_NE(hit.text.find("apple report number"), std::string::npos) << hit.text;
  ASSERT_TRUE(tab_->open(first.url));

  ASSERT_TRUE(click("a[href*=\"page=2\"]")) << Site::chrome_->failure();
  const PageFacts second = facts();
  expectWellFormed(second);
  EXPECT_TRUE(tab_->pageScripts().empty()) << ::testing::PrintToString(tab_->pageScripts());
  ASSERT_EQ(second.hits.size(), 10u) << second.text;
  std::set<std::string> both(first.hits.begin(), first.hits.end());
  both.insert(second.hits.begin(), second.hits.end());
  EXPECT_EQ(both.size(), 20u) << "page 2 repeats hits of page 1";

  ASSERT_TRUE(click("a[href*=\"sort=date\"]")) << Site::chrome_->failure();
  const PageFacts byDate = facts();
  EXPECT_EQ(status(byDate.url), 200) << byDate.url;
  std::vector<std::string> newest;
  for (int i = kDocs; i > kDocs - 10; --i)
    newest.push_back(docName(i));
  EXPECT_EQ(byDate.hits, newest) << byDate.text;

  ASSERT_TRUE(searchFor("pear")) << Site::chrome_->failure();
  expectPears(facts());
}

// Phones and word processors type typographic quotes: they are phrase
// quotes like the plain ones, and never fail the search.
TEST_F(SearchPages, TypographicQuotesSearchAPhrase) {
  ASSERT_TRUE(tab_->open(searchPage())) << Site::chrome_->failure();
  ASSERT_TRUE(searchFor("\u201Cwith a pear\u201D")) << Site::chrome_->failure();
  expectPears(facts());
  ASSERT_TRUE(searchFor("\u201Cpear with\u201D")) << Site::chrome_->failure();
  const PageFacts reversed = facts();
  EXPECT_EQ(status(reversed.url), 200) << reversed.url;
  EXPECT_TRUE(reversed.hits.empty()) << reversed.text;
  EXPECT_NE(reversed.text.find("No documents match"), std::string::npos) << reversed.text;
}

// An error page is no dead end: a result that expired and a request with a
// bad sort value both show a search form without what failed, and a search
// from it works. SR_SCREENSHOT_DIR, when set, receives each page as a
// desktop and as a phone shows it.
TEST_F(SearchPages, AnErrorPageIsRecovered) {
  ASSERT_TRUE(tab_->open(searchPage())) << Site::chrome_->failure();
  ASSERT_TRUE(searchFor("apple")) << Site::chrome_->failure();
  const std::string pageTwo = link("a[href*=\"page=2\"]");
  ASSERT_FALSE(pageTwo.empty()) << facts().text;
  // Results are kept for a while only: this one has gone.
  const std::string name = pageTwo.substr(pageTwo.find("result=") + 7, 35);
  for (const auto& e : std::filesystem::directory_iterator(Site::inst_->path("tmp")))
    if (e.path().filename().string().rfind(name, 0) == 0) std::filesystem::remove(e.path());
  ASSERT_TRUE(tab_->open(pageTwo));
  const PageFacts expired = facts();
  EXPECT_EQ(status(expired.url), 410) << expired.url;
  EXPECT_NE(expired.text.find("expired"), std::string::npos) << expired.text;
  EXPECT_TRUE(expired.scripts.empty());
  shoot("expired");
  ASSERT_TRUE(hasSearchForm()) << expired.text;
  ASSERT_TRUE(searchFor("pear")) << Site::chrome_->failure();
  expectPears(facts());
  // The link that runs the expired search again works too.
  ASSERT_TRUE(tab_->open(pageTwo));
  ASSERT_TRUE(click("p.again a")) << Site::chrome_->failure();
  EXPECT_EQ(status(facts().url), 200);
  EXPECT_EQ(facts().hits.size(), 10u);

  ASSERT_TRUE(tab_->open(Site::server_->origin() +
                         "/search-cgi/searchrun?user=TESSERA&search_no=0&query=apple&sort=bogus"
                         "&index_id=" +
                         Site::uid_));
  const PageFacts badSort = facts();
  EXPECT_EQ(status(badSort.url), 400) << badSort.url;
  EXPECT_NE(badSort.text.find("\"bogus\""), std::string::npos) << badSort.text;
  shoot("bad-sort");
  ASSERT_TRUE(searchFor("pear")) << Site::chrome_->failure();
  const PageFacts sorted = facts();
  expectPears(sorted);
  EXPECT_EQ(sorted.url.find("sort=bogus"), std::string::npos) << sorted.url;
}

TEST_F(SearchPages, SearchAndResultPagesFitAPhone) {
  ASSERT_TRUE(tab_->emulateWidth(kPhoneWidth)) << Site::chrome_->failure();
  ASSERT_TRUE(tab_->open(searchPage())) << Site::chrome_->failure();
  EXPECT_LE(scrollWidth(), kPhoneWidth) << "the search page is wider than a phone";
  ASSERT_TRUE(searchFor("apple")) << Site::chrome_->failure();
  ASSERT_EQ(facts().hits.size(), 10u);
  EXPECT_LE(scrollWidth(), kPhoneWidth) << "the result page is wider than a phone";
  ASSERT_TRUE(click("a[href*=\"page=2\"]")) << Site::chrome_->failure();
  EXPECT_LE(scrollWidth(), kPhoneWidth) << "page 2 is wider than a phone";
}

// The demo's search by field: the page names both clauses, a row opens as
// the table of its columns, and a query typed on the page is what is
// searched next.
TEST_F(SearchPages, AFieldRowOpened) {
  ASSERT_TRUE(tab_->open(searchPage())) << Site::chrome_->failure();
  ASSERT_TRUE(tab_->follow(
      "(() => { const q = document.querySelector('input[name=\"m_query_1\"]');"
      " q.value = 'bash'; q.form.querySelector('select[name=\"m_op_2\"]').value = 'or';"
      " q.form.querySelector('select[name=\"m_field_2\"]').value = 'size';"
      " q.form.querySelector('input[name=\"m_query_2\"]').value = '[100-500]';"
      " q.form.querySelector('[type=\"submit\"]').click(); })()"))
      << Site::chrome_->failure();
  const PageFacts results = facts();
  expectWellFormed(results);
  EXPECT_NE(results.text.find("for name bash or size [100-500]"), std::string::npos)
      << results.text;
  shoot("field-results");
  const std::string bash = link("a[href*=\"view=\"]");
  ASSERT_FALSE(bash.empty()) << results.text;
  ASSERT_TRUE(tab_->open(bash)) << Site::chrome_->failure();
  const PageFacts row = facts();
  expectWellFormed(row);
  EXPECT_NE(row.text.find("name\tbash\nsection\tshells\nversion\t5.2\nsize\t1800"),
            std::string::npos)
      << row.text;
  EXPECT_LE(scrollWidth(), 1280);
  shoot("field-row");
  ASSERT_TRUE(click("header a")) << Site::chrome_->failure();
  ASSERT_TRUE(searchFor("utils")) << Site::chrome_->failure();
  const PageFacts typed = facts();
  expectWellFormed(typed);
  EXPECT_NE(typed.text.find("for utils"), std::string::npos) << typed.text;
  EXPECT_NE(typed.text.find("coreutils"), std::string::npos) << typed.text;
  EXPECT_EQ(typed.text.find("dash"), std::string::npos) << typed.text;
}

}  // namespace
