/// @file renderer_test.cc
/// @brief End to end: the installed getfilelist.exe renders results on an
/// index the index builder made, started the way searchrun starts it and the
/// way the web server does.

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>

#include "companions/renderer/page_writer.h"
#include "system/tmpfile.h"
#include "tests/e2e/engine_util.h"
#include "tests/renderer/renderer_fixture.h"

namespace {

using e2e::RunResult;

const std::string kHtmlType = "Content-Type: text/html; charset=UTF-8\n";
const std::string kXmlType = "Content-Type: text/xml; charset=UTF-8\n";

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}
std::string headerOf(const std::string& out) {
  return out.substr(0, out.find("\n\n") + 1);
}
std::string bodyOf(const std::string& out) {
  const size_t end = out.find("\n\n");
  return end == std::string::npos ? "" : out.substr(end + 2);
}
// A result name of the form searchrun gives them.
std::string resultName(char digit) {
  return "query" + std::string(kTempNameDigits, digit);
}

// Index "news": 1 annual.html, 2 budget.txt, 3 misc.txt, 4 sub/deep.txt;
// "report" is in 1 and 2.
class RendererTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new enginetest::EngineInstall;
    inst_->doc("src", "annual.html",
               "<html><head><title>Annual &lt;Report&gt;</title></head><body><p>Intro text. The "
               "annual report of the board, with <b>figures</b> &amp; notes.</p></body></html>");
    inst_->doc("src", "budget.txt", "Budget 2005\nThis report lists the budget lines.\n");
    inst_->doc("src", "misc.txt", "Nothing to see here.\n");
    inst_->doc("src", "sub/deep.txt", "A deep note.\n");
    inst_->write(inst_->create("news", "src").substr(inst_->root().size() + 1) + "/source_folder",
                 inst_->docs("src") + "\n");
  }
  static void TearDownTestSuite() { delete inst_; }

  // Started by searchrun: empty request method, arguments.
  static RunResult byQueryProgram(const std::vector<std::string>& args,
                                  std::map<std::string, std::string> env = {}) {
    env.emplace("REQUEST_METHOD", "");
    return inst_->run("search-cgi/getfilelist.exe", args, env);
  }
  // Started by the web server for a link between pages.
  static RunResult byWebServer(const std::string& query,
                               std::map<std::string, std::string> env = {}) {
    env.emplace("REQUEST_METHOD", "GET");
    env.emplace("QUERY_STRING", query);
    return inst_->run("search-cgi/getfilelist.exe", {}, env);
  }
  // A result of `user` with hits 1 and 2 of index news, one per page.
  static std::string writeResult(char digit, const std::string& user) {
    rendertest::ResultSpec spec;
    spec.user = user;
    spec.perPage = 1;
    spec.queryUrl = "user=" + user + "&query=report&ks_key=" + user + "7654321";
    spec.descriptors = {rendertest::descriptor(" ", "all", "all", " "),
                        rendertest::descriptor("alice", "Company & news", "news")};
    spec.lines = {rendertest::recordLine("alice", "news", 90, 1),
                  rendertest::recordLine("alice", "news", 80, 2)};
    EXPECT_TRUE(rendertest::writeResult(inst_->path("tmp/" + resultName(digit)), spec));
    return resultName(digit);
  }
  static std::string permitFor(const std::string& user) {
    const RunResult permit = inst_->run("search-cgi/ks_permit", {"create", "--user", user});
    EXPECT_EQ(permit.exitStatus, 0) << permit.err;
    std::string key = permit.out.substr(permit.out.find('=') + 1);
    key.erase(key.find_last_not_of("\r\n") + 1);
    return key;
  }

  static inline enginetest::EngineInstall* inst_ = nullptr;
};

TEST_F(RendererTest, ASearchEndsInTheRenderersPages) {
  const RunResult r = inst_->get("user=TESSERA&query=report&index_id=7F000001_news&no_rec=1");
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  ASSERT_EQ(r.out.find(kHtmlType), 0u) << r.out;
  // The engine's best hit with what the index keeps of it and a snippet of its document.
  EXPECT_TRUE(contains(r.out, "of <b>2</b> for <b>report</b>")) << r.out;
  EXPECT_TRUE(contains(r.out, "Annual &lt;Report&gt;"));
  EXPECT_TRUE(contains(r.out, "The annual <b>report</b> of the board"));
  EXPECT_TRUE(contains(r.out,
                       "href=\"searchrun?user=TESSERA&amp;query=report&amp;index_id="
                       "7F000001_news&amp;no_rec=1&amp;sort=date&amp;order=desc\""));
  // The built-in user's pages may be kept.
  EXPECT_FALSE(contains(headerOf(r.out), "Cache-Control"));
  // The next page is the renderer's, on the result searchrun left in ../tmp.
  const std::string link = "getfilelist.exe?result=";
  const size_t at = r.out.find(link);
  ASSERT_NE(at, std::string::npos);
  const std::string name = r.out.substr(at + link.size(), r.out.find('&', at) - at - link.size());
  EXPECT_EQ(name.size(), 5 + kTempNameDigits) << name;
  EXPECT_TRUE(contains(r.out, link + name + "&amp;page=2&amp;no=1\""));
  const RunResult next = byWebServer("result=" + name + "&page=2&no=1");
  ASSERT_EQ(next.out.find(kHtmlType), 0u) << next.out;
  EXPECT_TRUE(contains(next.out, "Results <b>2</b> - <b>2</b> of <b>2</b>"));
  EXPECT_TRUE(contains(next.out, "This <b>report</b> lists")) << next.out;
  EXPECT_TRUE(contains(next.out, "page=1&amp;no=1\">&laquo; Previous</a>"));
}

TEST_F(RendererTest, PagesShowLocationsBelowTheSourceFolderAndNoServerPath) {
  const RunResult r = inst_->get("user=TESSERA&query=deep&index_id=7F000001_news&xml=1");
  ASSERT_EQ(r.out.find(kXmlType), 0u) << r.out;
  EXPECT_TRUE(contains(r.out, "<location>sub/deep.txt</location>")) << r.out;
  EXPECT_TRUE(contains(r.out, "<snippet>A deep note.</snippet>")) << r.out;
  const RunResult html = inst_->get("user=TESSERA&query=deep&index_id=7F000001_news");
  EXPECT_TRUE(contains(html.out, "<div class=\"location\">sub/deep.txt</div>")) << html.out;
  for (const RunResult& page : {r, html}) {
    EXPECT_FALSE(contains(page.out, inst_->root())) << page.out;
    EXPECT_FALSE(contains(page.out, "file:"));
  }
}

TEST_F(RendererTest, ADocumentReplacedByALinkShowsNoneOfTheLinkedText) {
  // A file of the same size as budget.txt and the same time, outside the folder.
  const std::string budget = inst_->read("docs/src/budget.txt");
  inst_->doc("private", "secret.txt", "SECRET report" + std::string(budget.size() - 13, '.'));
  const std::string doc = inst_->docs("src") + "/budget.txt";
  ASSERT_EQ(rename(doc.c_str(), (doc + ".saved").c_str()), 0);
  ASSERT_EQ(symlink((inst_->docs("private") + "/secret.txt").c_str(), doc.c_str()), 0);
  const RunResult r = inst_->get("user=TESSERA&query=report&index_id=7F000001_news");
  ASSERT_EQ(unlink(doc.c_str()), 0);
  ASSERT_EQ(rename((doc + ".saved").c_str(), doc.c_str()), 0);
  ASSERT_EQ(r.out.find(kHtmlType), 0u) << r.out;
  EXPECT_FALSE(contains(r.out, "SECRET")) << r.out;
  // The hit stays, with what the index recorded of it.
  EXPECT_TRUE(contains(r.out, "<div class=\"file\">budget.txt</div>")) << r.out;
  EXPECT_TRUE(contains(r.out, "Budget 2005")) << r.out;
}

TEST_F(RendererTest, WebRequestsOnlyNameResultsOfTheTmpDirectory) {
  inst_->write("secret", "do not show");
  const std::string digits(kTempNameDigits, '5');
  for (const std::string& query :
       std::vector<std::string>{"result=../secret", "result=query" + digits + "/../../secret",
                                "result=query" + digits + "%2F..%2F..%2Fsecret", "page=2",
                                "result=query10005", "result=query" + digits + "5"}) {
    const RunResult r = byWebServer(query);
    EXPECT_EQ(r.exitStatus, 0) << query;
    EXPECT_EQ(r.out.find("Status: 400 Bad Request\n" + kHtmlType), 0u) << query << "\n" << r.out;
    EXPECT_FALSE(contains(r.out, "do not show"));
    EXPECT_FALSE(contains(r.out, "secret"));
  }
  const RunResult missing = byWebServer("result=" + resultName('9'));
  EXPECT_EQ(missing.out.find("Status: 404 Not Found\n"), 0u);
  // Refusals and damage are answered in the format the caller reads, never
  // kept by a cache and never naming a file.
  EXPECT_EQ(byWebServer("result=../x&format=xml").out.find("Status: 400 Bad Request\n" + kXmlType),
            0u);
  inst_->write("tmp/" + resultName('7'), std::string(700, '\xFF'));
  ASSERT_EQ(chmod(inst_->path("tmp/" + resultName('7')).c_str(), 0600), 0);
  const RunResult damaged = byQueryProgram({"../tmp/" + resultName('7'), "N", "N", "xml"});
  EXPECT_EQ(damaged.exitStatus, 1);
  EXPECT_EQ(damaged.out.find("Status: 500 Internal Server Error\n" + kXmlType), 0u) << damaged.out;
  for (const RunResult& problem : {missing, damaged}) {
    const std::string header = headerOf(problem.out);
    EXPECT_TRUE(contains(header, "Cache-Control: no-store\n")) << header;
    EXPECT_TRUE(contains(header, "X-Content-Type-Options: nosniff\n"));
    EXPECT_TRUE(contains(
        header, std::string("Content-Security-Policy: ") + render::kContentSecurityPolicy + "\n"));
    EXPECT_FALSE(contains(problem.out, "query"));
    EXPECT_FALSE(contains(problem.out, "tmp"));
    EXPECT_FALSE(contains(problem.out, inst_->root()));
  }
}

TEST_F(RendererTest, AResultPlantedAsALinkIsNotRead) {
  const std::string real = writeResult('3', "TESSERA");
  ASSERT_EQ(
      symlink(inst_->path("tmp/" + real).c_str(), inst_->path("tmp/" + resultName('4')).c_str()),
      0);
  const RunResult r = byWebServer("result=" + resultName('4'));
  EXPECT_EQ(r.out.find("Status: 500 Internal Server Error\n"), 0u) << r.out;
  EXPECT_FALSE(contains(r.out, "Company"));
  EXPECT_TRUE(contains(byWebServer("result=" + real).out, "Company &amp; news"));
}

TEST_F(RendererTest, OnlyTheSearchingUserSeesAResultThroughTheWebServer) {
  const std::string name = writeResult('5', "alice");
  for (const std::string& query : {"result=" + name, "result=" + name + "&ks_key=alice1234567"}) {
    const RunResult r = byWebServer(query);
    EXPECT_EQ(r.out.find("Status: 403 Forbidden\n"), 0u) << r.out;
    EXPECT_FALSE(contains(r.out, "Company"));
    EXPECT_FALSE(contains(r.out, "Set-Cookie"));
  }
  const std::string key = permitFor("alice");
  // A key sent as a variable comes back as a cookie and rides in no link.
  RunResult r = byWebServer("result=" + name + "&ks_key=" + key);
  ASSERT_EQ(r.out.find(kHtmlType), 0u) << r.out;
  const std::string header = headerOf(r.out);
  EXPECT_TRUE(
      contains(header, "Set-Cookie: ks_key=" + key + "; Path=/; HttpOnly; SameSite=Strict\n"))
      << header;
  EXPECT_TRUE(contains(header, "Cache-Control: no-store\n"));
  EXPECT_TRUE(contains(r.out, "page=2&amp;no=1\""));
  // Neither this key nor the one an older result kept in its request.
  EXPECT_FALSE(contains(bodyOf(r.out), "ks_key")) << r.out;
  EXPECT_FALSE(contains(bodyOf(r.out), key));
  r = byWebServer("result=" + name, {{"HTTP_COOKIE", "ks_key=" + key}, {"HTTPS", "on"}});
  ASSERT_EQ(r.out.find(kHtmlType), 0u) << r.out;
  EXPECT_FALSE(contains(r.out, "ks_key"));
  r = byWebServer("result=" + name + "&ks_key=" + key, {{"HTTPS", "on"}});
  EXPECT_TRUE(contains(headerOf(r.out), "SameSite=Strict; Secure\n")) << r.out;
  // Bob's permit does not open Alice's result.
  EXPECT_EQ(byWebServer("result=" + name + "&ks_key=" + permitFor("bob")).out.find("Status: 403"),
            0u);
}

TEST_F(RendererTest, SearchrunHandsTheKeyOverInTheEnvironmentOnly) {
  const std::string name = writeResult('6', "alice");
  // Environment, the cookie line ("" for none).
  const std::pair<std::map<std::string, std::string>, std::string> cases[] = {
      {{{"KS_PERMIT_KEY", "alice1234567"}},
       "Set-Cookie: ks_key=alice1234567; Path=/; HttpOnly; SameSite=Strict"},
      {{{"KS_PERMIT_KEY", "alice1234567\r\nX-Evil: 1"}}, ""},
      {{{"KS_PERMIT_KEY", "../x1234567"}}, ""},
      {{}, ""},
  };
  for (const auto& [env, cookie] : cases) {
    const RunResult r = byQueryProgram({"../tmp/" + name, "N", "N"}, env);
    ASSERT_EQ(r.out.find(kHtmlType), 0u) << r.out;
    const std::string header = headerOf(r.out);
    const size_t at = header.find("Set-Cookie:");
    EXPECT_EQ(at == std::string::npos ? "" : header.substr(at, header.find('\n', at) - at), cookie);
    EXPECT_FALSE(contains(header, "X-Evil"));
    EXPECT_FALSE(contains(bodyOf(r.out), "ks_key"));
  }
  // Started by the web server, the variable is not the renderer's to believe.
  const RunResult web = byWebServer("result=" + name, {{"KS_PERMIT_KEY", "alice1234567"}});
  EXPECT_EQ(web.out.find("Status: 403 Forbidden\n"), 0u) << web.out;
}

}  // namespace
