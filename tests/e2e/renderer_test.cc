/// @file renderer_test.cc
/// @brief End to end: the installed getfilelist.exe renders results on an
/// index the index builder made, started the way searchrun starts it and the
/// way the web server does.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "companions/renderer/render_text.h"
#include "tests/e2e/engine_util.h"
#include "tests/renderer/renderer_fixture.h"

namespace {

using e2e::RunResult;

const std::string kHtmlHead = "Content-Type: text/html; charset=UTF-8\n\n";
const std::string kXmlHead = "Content-Type: text/xml; charset=UTF-8\n\n";

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}
// Index "news": 1 annual.html, 2 budget.txt, 3 misc.txt; "report" is in 1 and 2.
class RendererTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new enginetest::EngineInstall;
    inst_->doc("src", "annual.html",
               "<html><head><title>Annual &lt;Report&gt;</title></head><body><p>Intro text. The "
               "annual report of the board, with <b>figures</b> &amp; notes.</p></body></html>");
    inst_->doc("src", "budget.txt", "Budget 2005\nThis report lists the budget lines.\n");
    inst_->doc("src", "misc.txt", "Nothing to see here.\n");
    inst_->write(inst_->create("news", "src").substr(inst_->root().size() + 1) + "/source_folder",
                 inst_->docs("src") + "\n");
  }
  static void TearDownTestSuite() { delete inst_; }

  // Started by searchrun: empty request method, arguments.
  static RunResult byQueryProgram(const std::vector<std::string>& args) {
    return inst_->run("search-cgi/getfilelist.exe", args, {{"REQUEST_METHOD", ""}});
  }
  // Started by the web server for a link between pages.
  static RunResult byWebServer(const std::string& query,
                               std::map<std::string, std::string> env = {}) {
    env.emplace("REQUEST_METHOD", "GET");
    env.emplace("QUERY_STRING", query);
    return inst_->run("search-cgi/getfilelist.exe", {}, env);
  }

  static inline enginetest::EngineInstall* inst_ = nullptr;
};

TEST_F(RendererTest, ASearchEndsInTheRenderersPages) {
  const RunResult r = inst_->get("user=TESSERA&query=report&index_id=7F000001_news&no_rec=1");
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  ASSERT_EQ(r.out.find(kHtmlHead), 0u) << r.out;
  // The engine's best hit with what the index keeps of it and a snippet of its document.
  EXPECT_TRUE(contains(r.out, "of <b>2</b> for <b>report</b>")) << r.out;
  const std::string doc = inst_->docs("src") + "/annual.html";
  EXPECT_TRUE(contains(r.out, "<a href=\"file://" + render::encodePathForUrl(doc) + "\">"));
  EXPECT_TRUE(contains(r.out, "Annual &lt;Report&gt;"));
  EXPECT_TRUE(contains(r.out, "The annual <b>report</b> of the board"));
  EXPECT_TRUE(contains(r.out,
                       "href=\"searchrun?user=TESSERA&amp;query=report&amp;index_id="
                       "7F000001_news&amp;no_rec=1&amp;sort=date&amp;order=desc\""));
  // The next page is the renderer's, on the result searchrun left in ../tmp.
  const std::string link = "getfilelist.exe?result=";
  const size_t at = r.out.find(link);
  ASSERT_NE(at, std::string::npos);
  const std::string name = r.out.substr(at + link.size(), r.out.find('&', at) - at - link.size());
  EXPECT_TRUE(contains(r.out, link + name + "&amp;page=2&amp;no=1\""));
  const RunResult next = byWebServer("result=" + name + "&page=2&no=1");
  ASSERT_EQ(next.out.find(kHtmlHead), 0u) << next.out;
  EXPECT_TRUE(contains(next.out, "Results <b>2</b> - <b>2</b> of <b>2</b>"));
  EXPECT_TRUE(contains(next.out, "This <b>report</b> lists")) << next.out;
  EXPECT_TRUE(contains(next.out, "page=1&amp;no=1\">&laquo; Previous</a>"));
}

TEST_F(RendererTest, WebRequestsOnlyNameResultsOfTheTmpDirectory) {
  inst_->write("secret", "do not show");
  for (const char* query : {"result=../secret", "result=query10005/../../secret",
                            "result=query10005%2F..%2F..%2Fsecret", "page=2"}) {
    const RunResult r = byWebServer(query);
    EXPECT_EQ(r.exitStatus, 0) << query;
    EXPECT_EQ(r.out.find("Status: 400 Bad Request\n" + kHtmlHead), 0u) << query << "\n" << r.out;
    EXPECT_FALSE(contains(r.out, "do not show"));
  }
  EXPECT_EQ(byWebServer("result=query99999").out.find("Status: 404 Not Found\n"), 0u);
  // Refusals and damage are answered in the format the caller reads.
  EXPECT_EQ(byWebServer("result=../x&format=xml").out.find("Status: 400 Bad Request\n" + kXmlHead),
            0u);
  inst_->write("tmp/query10007", std::string(700, '\xFF'));
  const RunResult damaged = byQueryProgram({"../tmp/query10007", "N", "N", "xml"});
  EXPECT_EQ(damaged.exitStatus, 1);
  EXPECT_EQ(damaged.out.find("Status: 500 Internal Server Error\n" + kXmlHead), 0u) << damaged.out;
}

TEST_F(RendererTest, OnlyTheSearchingUserSeesAResultThroughTheWebServer) {
  // Alice's two hits, one per page, written as searchrun writes them.
  rendertest::ResultSpec spec;
  spec.user = "alice";
  spec.perPage = 1;
  spec.descriptors = {rendertest::descriptor(" ", "all", "all", " "),
                      rendertest::descriptor("alice", "Company & news", "news")};
  spec.lines = {rendertest::recordLine("alice", "news", 90, 1),
                rendertest::recordLine("alice", "news", 80, 2)};
  ASSERT_TRUE(rendertest::writeResult(inst_->path("tmp/query10005"), spec));
  for (const char* query : {"result=query10005", "result=query10005&ks_key=alice1234567"}) {
    const RunResult r = byWebServer(query);
    EXPECT_EQ(r.out.find("Status: 403 Forbidden\n"), 0u) << r.out;
    EXPECT_FALSE(contains(r.out, "annual"));
  }
  const RunResult permit = inst_->run("search-cgi/ks_permit", {"create", "--user", "alice"});
  ASSERT_EQ(permit.exitStatus, 0) << permit.err;
  std::string key = permit.out.substr(permit.out.find('=') + 1);
  key.erase(key.find_last_not_of("\r\n") + 1);
  RunResult r = byWebServer("result=query10005&ks_key=" + key);
  ASSERT_EQ(r.out.find(kHtmlHead), 0u) << r.out;
  EXPECT_TRUE(contains(r.out, "page=2&amp;no=1&amp;ks_key=" + key)) << r.out;  // carried on
  r = byWebServer("result=query10005", {{"HTTP_COOKIE", "ks_key=" + key}});
  ASSERT_EQ(r.out.find(kHtmlHead), 0u) << r.out;
  EXPECT_FALSE(contains(r.out, "ks_key="));
  // searchrun has admitted the user already.
  EXPECT_EQ(byQueryProgram({"../tmp/query10005", "N", "N"}).out.find(kHtmlHead), 0u);
}

}  // namespace
