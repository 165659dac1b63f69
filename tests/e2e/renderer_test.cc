/// @file renderer_test.cc
/// @brief End to end: the installed getfilelist.exe renders results whose
/// hits the engine found in an index the index builder made, started the way
/// searchrun starts it and the way the web server does.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "companions/renderer/render_text.h"
#include "tests/e2e/engine_util.h"
#include "tests/renderer/renderer_fixture.h"

namespace {

using e2e::RunResult;
using enginetest::EngineInstall;
using rendertest::ResultSpec;

constexpr const char* kRenderer = "search-cgi/getfilelist.exe";
const std::string kHtmlHead = "Content-Type: text/html; charset=UTF-8\n\n";
const std::string kXmlHead = "Content-Type: text/xml; charset=UTF-8\n\n";

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// One installation for the whole program: an index "news" of three
// documents, searched for "report" by the engine, and the result written as
// searchrun writes it.
class RendererTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new EngineInstall;
    inst_->doc(
        "src", "annual.html",
        "<html><head><title>Annual &lt;Report&gt;</title></head><body><p>Intro text. "
        "The annual report of the board, with <b>figures</b> &amp; notes.</p></body></html>");
    inst_->doc("src", "budget.txt", "Budget 2005\nThis report lists the budget lines.\n");
    inst_->doc("src", "misc.txt", "Nothing to see here.\n");
    const std::string home = inst_->create("news", "src");
    // The folder the relative document paths of the index start from.
    inst_->write("system/group/domain/User/alice/index/news/source_folder",
                 inst_->docs("src") + "\n");
    hits_ = new enginetest::Result(inst_->query(home, "report"));
  }
  static void TearDownTestSuite() {
    delete hits_;
    delete inst_;
  }

  static ResultSpec searchResult(const std::string& user = "TESSERA") {
    ResultSpec spec;
    spec.user = user;
    spec.perPage = 1;
    spec.queryUrl = "user=" + user + "&query=report&index_id=7F000001_news";
    spec.keyword = hits_->matched;
    spec.descriptors = {rendertest::descriptor(" ", "all", "all", " "),
                        rendertest::descriptor("alice", "Company & news", "news")};
    for (const enginetest::Hit& h : hits_->hits)
      spec.lines.push_back(rendertest::recordLine("alice", "news", static_cast<int>(h.score),
                                                  static_cast<int>(h.recid)));
    return spec;
  }
  static void writeResult(const std::string& name, const ResultSpec& spec) {
    ASSERT_TRUE(rendertest::writeResult(inst_->path("tmp/" + name), spec));
  }
  // Started by searchrun: empty request method, arguments.
  static RunResult byQueryProgram(const std::vector<std::string>& args) {
    return inst_->run(kRenderer, args, {{"REQUEST_METHOD", ""}});
  }
  // Started by the web server for a link between pages.
  static RunResult byWebServer(const std::string& query,
                               std::map<std::string, std::string> env = {}) {
    env.emplace("REQUEST_METHOD", "GET");
    env.emplace("QUERY_STRING", query);
    return inst_->run(kRenderer, {}, env);
  }

  static EngineInstall* inst_;
  static enginetest::Result* hits_;
};

EngineInstall* RendererTest::inst_ = nullptr;
enginetest::Result* RendererTest::hits_ = nullptr;

TEST_F(RendererTest, FirstPageAsSearchrunHandsItOver) {
  ASSERT_EQ(hits_->hits.size(), 2u) << "the engine should find two documents";
  writeResult("query10001", searchResult());
  const RunResult r = byQueryProgram({"../tmp/query10001", "N", "N"});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  ASSERT_EQ(r.out.find(kHtmlHead), 0u) << r.out;
  // One hit per page; the first is the engine's best, shown with what the
  // index keeps of it and a snippet from its document.
  EXPECT_TRUE(contains(r.out, "of <b>2</b> for <b>report</b>")) << r.out;
  EXPECT_TRUE(contains(r.out, "Company &amp; news"));
  const bool annualFirst = contains(r.out, "annual.html");
  EXPECT_NE(annualFirst, contains(r.out, "budget.txt"));
  const std::string doc = inst_->docs("src") + (annualFirst ? "/annual.html" : "/budget.txt");
  EXPECT_TRUE(contains(r.out, "<a href=\"file://" + render::encodePathForUrl(doc) + "\">"));
  EXPECT_TRUE(contains(r.out, annualFirst ? "Annual &lt;Report&gt;" : "Budget 2005"));
  EXPECT_TRUE(contains(
      r.out, annualFirst ? "The annual <b>report</b> of the board" : "This <b>report</b> lists"))
      << r.out;
  EXPECT_TRUE(contains(r.out, "href=\"getfilelist.exe?result=query10001&amp;page=2&amp;no=1\""));
  EXPECT_TRUE(contains(r.out,
                       "href=\"searchrun?user=TESSERA&amp;query=report&amp;index_id="
                       "7F000001_news&amp;sort=date&amp;order=desc\""));
}

TEST_F(RendererTest, PagesAndFormatsOfTheSameResult) {
  writeResult("query10002", searchResult());
  const RunResult second = byWebServer("result=query10002&page=2&no=1");
  EXPECT_EQ(second.exitStatus, 0);
  ASSERT_EQ(second.out.find(kHtmlHead), 0u) << second.out;
  EXPECT_TRUE(contains(second.out, "Results <b>2</b> - <b>2</b> of <b>2</b>"));
  EXPECT_TRUE(contains(second.out, "page=1&amp;no=1\">&laquo; Previous</a>"));

  const RunResult xml = byQueryProgram({"../tmp/query10002", "10", "N", "xml3"});
  ASSERT_EQ(xml.out.find(kXmlHead), 0u) << xml.out;
  const std::string body = xml.out.substr(kXmlHead.size());
  std::string why;
  EXPECT_TRUE(rendertest::wellFormedXml(body, why)) << why << "\n" << body;
  EXPECT_TRUE(contains(body, "<search_result version=\"3\">"));
  EXPECT_TRUE(
      contains(body, "<hits total=\"2\" page=\"1\" per_page=\"10\" pages=\"1\" count=\"2\""));
  EXPECT_TRUE(contains(body, "<file>annual.html</file>"));
  EXPECT_TRUE(contains(body, "<size bytes=\""));

  const RunResult wml = byWebServer("result=query10002&format=wml");
  ASSERT_EQ(wml.out.find("Content-Type: text/vnd.wap.wml; charset=UTF-8\n\n"), 0u) << wml.out;
  EXPECT_TRUE(rendertest::wellFormedXml(wml.out.substr(wml.out.find("\n\n") + 2), why)) << why;
}

TEST_F(RendererTest, FastOutputStandsInUntilTheFullFileIsWritten) {
  ResultSpec fast = searchResult();
  fast.lines.resize(1);
  fast.recordCount = 2;
  writeResult("query10003_fast", fast);
  // The name is claimed by an empty file until the full result is written.
  inst_->write("tmp/query10003", "");
  const RunResult r = byQueryProgram({"../tmp/query10003", "N", "N", ""});
  EXPECT_EQ(r.exitStatus, 0);
  ASSERT_EQ(r.out.find(kHtmlHead), 0u) << r.out;
  EXPECT_TRUE(contains(r.out, "of <b>2</b>"));
  // The links name the full result, which exists by the time they are used.
  EXPECT_TRUE(contains(r.out, "result=query10003&amp;page=2"));
  const RunResult later = byWebServer("result=query10003&page=2&no=1");
  EXPECT_TRUE(contains(later.out, "still being prepared")) << later.out;
}

TEST_F(RendererTest, WebRequestsOnlyNameResultsOfTheTmpDirectory) {
  writeResult("query10004", searchResult());
  inst_->write("secret", "do not show");
  const struct {
    const char* query;
    const char* status;
  } cases[] = {
      {"result=../secret", "Status: 400 Bad Request\n"},
      {"result=query1", "Status: 400 Bad Request\n"},
      {"result=query10004/../../secret", "Status: 400 Bad Request\n"},
      {"result=query10004%2F..%2F..%2Fsecret", "Status: 400 Bad Request\n"},
      {"result=%2Fetc%2Fpasswd", "Status: 400 Bad Request\n"},
      {"page=2", "Status: 400 Bad Request\n"},
      {"", "Status: 400 Bad Request\n"},
      {"result=query99999", "Status: 404 Not Found\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = byWebServer(c.query);
    EXPECT_EQ(r.exitStatus, 0) << c.query;
    EXPECT_EQ(r.out.find(c.status), 0u) << c.query << "\n" << r.out;
    EXPECT_FALSE(contains(r.out, "do not show"));
  }
  // Refusals are answered in the format the caller reads.
  const RunResult xml = byWebServer("result=../x&format=xml");
  ASSERT_EQ(xml.out.find("Status: 400 Bad Request\n" + kXmlHead), 0u) << xml.out;
  std::string why;
  EXPECT_TRUE(rendertest::wellFormedXml(xml.out.substr(xml.out.find("\n\n") + 2), why)) << why;
}

TEST_F(RendererTest, OnlyTheSearchingUserSeesAResultThroughTheWebServer) {
  writeResult("query10005", searchResult("alice"));
  RunResult r = byWebServer("result=query10005");
  EXPECT_EQ(r.out.find("Status: 403 Forbidden\n"), 0u) << r.out;
  EXPECT_FALSE(contains(r.out, "annual"));
  r = byWebServer("result=query10005&ks_key=alice1234567");
  EXPECT_EQ(r.out.find("Status: 403 Forbidden\n"), 0u) << r.out;

  const RunResult permit = inst_->run("search-cgi/ks_permit", {"create", "--user", "alice"});
  ASSERT_EQ(permit.exitStatus, 0) << permit.err;
  std::string key = permit.out.substr(permit.out.find('=') + 1);
  key.erase(key.find_last_not_of("\r\n") + 1);
  r = byWebServer("result=query10005&ks_key=" + key);
  ASSERT_EQ(r.out.find(kHtmlHead), 0u) << r.out;
  // The key the request carried goes on with the links between pages.
  EXPECT_TRUE(contains(r.out, "page=2&amp;no=1&amp;ks_key=" + key)) << r.out;
  r = byWebServer("result=query10005", {{"HTTP_COOKIE", "ks_key=" + key}});
  ASSERT_EQ(r.out.find(kHtmlHead), 0u) << r.out;
  EXPECT_FALSE(contains(r.out, "ks_key="));
  // searchrun has admitted the user already.
  EXPECT_EQ(byQueryProgram({"../tmp/query10005", "N", "N"}).out.find(kHtmlHead), 0u);
}

TEST_F(RendererTest, DamagedResultGivesAnErrorPage) {
  writeResult("query10006", searchResult());
  const std::string bytes = inst_->read("tmp/query10006");
  // Cut inside the query texts.
  inst_->write("tmp/query10006", bytes.substr(0, 680));
  RunResult r = byQueryProgram({"../tmp/query10006", "N", "N"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out.find("Status: 500 Internal Server Error\n" + kHtmlHead), 0u) << r.out;
  inst_->write("tmp/query10007", std::string(700, '\xFF'));
  r = byQueryProgram({"../tmp/query10007", "N", "N", "xml"});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out.find("Status: 500 Internal Server Error\n" + kXmlHead), 0u) << r.out;
}

TEST_F(RendererTest, ASearchEndsInTheRenderersPage) {
  const RunResult r = inst_->get("user=TESSERA&query=report&index_id=7F000001_news&no_rec=1");
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  ASSERT_EQ(r.out.find(kHtmlHead), 0u) << r.out;
  EXPECT_TRUE(contains(r.out, "of <b>2</b> for <b>report</b>")) << r.out;
  EXPECT_TRUE(contains(r.out, "The annual <b>report</b> of the board"));
  // The next page is the renderer's, on the result searchrun left in ../tmp.
  const std::string link = "getfilelist.exe?result=";
  const size_t at = r.out.find(link);
  ASSERT_NE(at, std::string::npos);
  const std::string name = r.out.substr(at + link.size(), r.out.find('&', at) - at - link.size());
  const RunResult next = byWebServer("result=" + name + "&page=2&no=1");
  ASSERT_EQ(next.out.find(kHtmlHead), 0u) << next.out;
  EXPECT_TRUE(contains(next.out, "This <b>report</b> lists")) << next.out;
}

}  // namespace
