/// @file renderer_test.cc
/// @brief End to end: the installed getfilelist.exe renders results on an
/// index the index builder made, started the way searchrun starts it and the
/// way the web server does.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "companions/renderer/page_writer.h"
#include "output/renderer_handoff.h"
#include "system/file_identity.h"
#include "system/secure_file.h"
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
// XML text as it reads: the five entities the writers use undone.
std::string xmlText(std::string text) {
  static const std::pair<const char*, const char*> kEntities[] = {
      {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&#39;", "'"}, {"&amp;", "&"}};
  for (const auto& [entity, c] : kEntities)
    for (size_t at; (at = text.find(entity)) != std::string::npos;)
      text.replace(at, std::strlen(entity), c);
  return text;
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
                               const std::map<std::string, std::string>& env = {}) {
    return inst_->getPage(query, env);
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

  // The result name in the links of a page searchrun answered with.
  static std::string resultOf(const RunResult& page) {
    const std::string link = "getfilelist.exe?result=";
    const size_t at = page.out.find(link);
    if (at == std::string::npos) return "";
    return page.out.substr(at + link.size(), 5 + kTempNameDigits);
  }
  // Replaces budget.txt by a link to a file of the same size and time
  // outside the folder, or (false) puts it back.
  static void linkBudgetAway(bool away) {
    const std::string doc = inst_->docs("src") + "/budget.txt";
    if (away) {
      const std::string budget = inst_->read("docs/src/budget.txt");
      inst_->doc("private", "secret.txt", "SECRET report" + std::string(budget.size() - 13, '.'));
      ASSERT_EQ(rename(doc.c_str(), (doc + ".saved").c_str()), 0);
      ASSERT_EQ(symlink((inst_->docs("private") + "/secret.txt").c_str(), doc.c_str()), 0);
    } else {
      ASSERT_EQ(unlink(doc.c_str()), 0);
      ASSERT_EQ(rename((doc + ".saved").c_str(), doc.c_str()), 0);
    }
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
  EXPECT_TRUE(contains(r.out, "The annual <mark>report</mark> of the board"));
  EXPECT_TRUE(contains(r.out,
                       "href=\"searchrun?user=TESSERA&amp;query=report&amp;index_id="
                       "7F000001_news&amp;no_rec=1&amp;sort=date&amp;order=desc\""));
  // The built-in user's pages may be kept.
  EXPECT_FALSE(contains(headerOf(r.out), "Cache-Control"));
  // The next page is the renderer's, on the result searchrun left in ../tmp.
  const std::string name = resultOf(r);
  ASSERT_EQ(name.size(), 5 + kTempNameDigits) << r.out;
  // Links carry the search, so that an expired result can run it again.
  EXPECT_TRUE(contains(
      r.out, "getfilelist.exe?result=" + name + "&amp;page=2&amp;no=1&amp;again=user%3DTESSERA"));
  const RunResult next = byWebServer("result=" + name + "&page=2&no=1");
  ASSERT_EQ(next.out.find(kHtmlType), 0u) << next.out;
  EXPECT_TRUE(contains(next.out, "Results <b>2</b> - <b>2</b> of <b>2</b>"));
  EXPECT_TRUE(contains(next.out, "This <mark>report</mark> lists")) << next.out;
  static const std::regex previous(
      "page=1&amp;no=1&amp;again=user%3DTESSERA%26query%3Dreport%26[^\"]*\">&laquo; Previous</a>");
  EXPECT_TRUE(std::regex_search(next.out, previous)) << next.out;
}

TEST_F(RendererTest, PagesShowLocationsBelowTheSourceFolderAndNothingOutsideIt) {
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
  // A document replaced by a link shows none of the linked text.
  linkBudgetAway(true);
  const RunResult linked = inst_->get("user=TESSERA&query=report&index_id=7F000001_news");
  linkBudgetAway(false);
  ASSERT_EQ(linked.out.find(kHtmlType), 0u) << linked.out;
  EXPECT_FALSE(contains(linked.out, "SECRET")) << linked.out;
  // The hit stays, with what the index recorded of it.
  EXPECT_TRUE(contains(linked.out, "<div class=\"location\">budget.txt</div>")) << linked.out;
  EXPECT_TRUE(contains(linked.out, "Budget 2005")) << linked.out;
}

TEST_F(RendererTest, WebRequestsOnlyReadResultFilesOfTheTmpDirectory) {
  inst_->write("secret", "do not show");
  const std::string digits(kTempNameDigits, '5');
  // Which names are results is ResultName.OnlyTheFullCountOfDigitsIsAccepted's; here, that
  // a web request is held to it after its escapes are undone.
  for (const std::string& query :
       {std::string("result=../secret"), "result=query" + digits + "%2F..%2F..%2Fsecret"}) {
    const RunResult r = byWebServer(query);
    EXPECT_EQ(r.exitStatus, 0) << query;
    EXPECT_EQ(r.out.find("Status: 400 Bad Request\n" + kHtmlType), 0u) << query << "\n" << r.out;
    EXPECT_FALSE(contains(r.out, "do not show"));
    EXPECT_FALSE(contains(r.out, "secret"));
  }
  const RunResult missing = byWebServer("result=" + resultName('9'));
  EXPECT_EQ(missing.out.find("Status: 404 Not Found\n"), 0u);
  // A result planted as a link is not read.
  const std::string real = writeResult('3', "TESSERA");
  ASSERT_EQ(
      symlink(inst_->path("tmp/" + real).c_str(), inst_->path("tmp/" + resultName('4')).c_str()),
      0);
  const RunResult planted = byWebServer("result=" + resultName('4'));
  EXPECT_EQ(planted.out.find("Status: 500 Internal Server Error\n"), 0u) << planted.out;
  EXPECT_FALSE(contains(planted.out, "Company"));
  EXPECT_TRUE(contains(byWebServer("result=" + real).out, "Company &amp; news"));
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

TEST_F(RendererTest, OnlyTheSearchingUserSeesAResultOrOpensItsDocuments) {
  const std::string name = writeResult('5', "alice");
  const std::string view = "result=" + name + "&view=2";
  for (const std::string& query : {"result=" + name, "result=" + name + "&ks_key=alice1234567",
                                   view, view + "&raw=1", view + "&ks_key=alice1234567"}) {
    const RunResult r = byWebServer(query);
    EXPECT_EQ(r.out.find("Status: 403 Forbidden\n"), 0u) << r.out;
    EXPECT_FALSE(contains(r.out, "Company"));
    EXPECT_FALSE(contains(r.out, "budget lines"));
    EXPECT_FALSE(contains(r.out, "Set-Cookie"));
  }
  const std::string key = inst_->permit("alice");
  // A key sent as a variable comes back as a cookie and rides in no link.
  RunResult r = byWebServer("result=" + name + "&ks_key=" + key);
  ASSERT_EQ(r.out.find(kHtmlType), 0u) << r.out;
  const std::string header = headerOf(r.out);
  EXPECT_TRUE(
      contains(header, "Set-Cookie: ks_key=" + key + "; Path=/; HttpOnly; SameSite=Strict\n"))
      << header;
  EXPECT_TRUE(contains(header, "Cache-Control: no-store\n"));
  EXPECT_TRUE(contains(r.out, "page=2&amp;no=1&amp;again="));
  // Neither this key nor the one an older result kept in its request.
  EXPECT_FALSE(contains(bodyOf(r.out), "ks_key")) << r.out;
  EXPECT_FALSE(contains(bodyOf(r.out), key));
  r = byWebServer("result=" + name, {{"HTTP_COOKIE", "ks_key=" + key}, {"HTTPS", "on"}});
  ASSERT_EQ(r.out.find(kHtmlType), 0u) << r.out;
  EXPECT_FALSE(contains(r.out, "ks_key"));
  r = byWebServer("result=" + name + "&ks_key=" + key, {{"HTTPS", "on"}});
  EXPECT_TRUE(contains(headerOf(r.out), "SameSite=Strict; Secure\n")) << r.out;
  // How the cookie is scoped is SearchrunHandsTheKeyOverInTheEnvironmentOnly's.
  // A document opens for her, by the cookie.
  const std::map<std::string, std::string> alice{{"HTTP_COOKIE", "ks_key=" + key}};
  r = byWebServer(view, alice);
  ASSERT_EQ(r.out.find(kHtmlType), 0u) << r.out;
  EXPECT_TRUE(contains(headerOf(r.out), "Cache-Control: no-store\n"));
  EXPECT_TRUE(contains(r.out, "<h1>Budget 2005</h1>")) << r.out;
  EXPECT_TRUE(
      contains(r.out, "This <mark id=\"first-match\">report</mark> lists the budget lines."));
  // Back to the page that holds hit 2 at one hit a page.
  EXPECT_TRUE(contains(r.out,
                       "page=2&amp;no=1&amp;again=user%3Dalice%26query%3Dreport\">&laquo; "
                       "Back to the results</a>"))
      << r.out;
  EXPECT_FALSE(contains(r.out, inst_->root()));
  EXPECT_FALSE(contains(bodyOf(r.out), key));
  // The original bytes as text, in a sandbox: never a page of this site.
  const std::string policy =
      std::string("Content-Security-Policy: ") + render::kSandboxPolicy + "\n";
  r = byWebServer(view + "&raw=1", alice);
  EXPECT_EQ(headerOf(r.out),
            "Content-Type: text/plain; charset=utf-8\nContent-Disposition: inline; "
            "filename=\"budget.txt\"; filename*=UTF-8''budget%2Etxt\nX-Content-Type-Options: "
            "nosniff\n" +
                policy + "Referrer-Policy: no-referrer\nCache-Control: no-store\n");
  EXPECT_EQ(bodyOf(r.out), inst_->read("docs/src/budget.txt"));
  r = byWebServer("result=" + name + "&view=1&raw=1", alice);
  EXPECT_TRUE(contains(headerOf(r.out), "Content-Type: text/plain; charset=utf-8\n")) << r.out;
  EXPECT_TRUE(contains(headerOf(r.out), policy));
  EXPECT_EQ(bodyOf(r.out), inst_->read("docs/src/annual.html"));
  // Bob's permit opens neither Alice's result nor her documents.
  const std::string bobKey = inst_->permit("bob");
  EXPECT_EQ(byWebServer("result=" + name + "&ks_key=" + bobKey).out.find("Status: 403"), 0u);
  const std::map<std::string, std::string> bob{{"HTTP_COOKIE", "ks_key=" + bobKey}};
  for (const std::string& query : {view, view + "&raw=1"}) {
    r = byWebServer(query, bob);
    EXPECT_EQ(r.out.find("Status: 403 Forbidden\n"), 0u) << r.out;
    EXPECT_FALSE(contains(r.out, "budget lines"));
  }
}

TEST_F(RendererTest, SearchrunHandsTheKeyOverInTheEnvironmentOnly) {
  const std::string name = writeResult('6', "alice");
  // Environment, the cookie line ("" for none).
  const std::pair<std::map<std::string, std::string>, std::string> cases[] = {
      {{{"KS_PERMIT_KEY", "alice1234567"}},
       "Set-Cookie: ks_key=alice1234567; Path=/; HttpOnly; SameSite=Strict"},
      // searchrun's own environment scopes the cookie to its directory.
      {{{"KS_PERMIT_KEY", "alice1234567"},
        {"SCRIPT_NAME", "/cgi-bin/search/searchrun"},
        {"HTTPS", "on"}},
       "Set-Cookie: ks_key=alice1234567; Path=/cgi-bin/search/; HttpOnly; SameSite=Strict; Secure"},
      {{{"KS_PERMIT_KEY", "alice1234567"},
        {"SCRIPT_NAME", "/s/getfilelist.exe"},
        {"REQUEST_SCHEME", "https"}},
       "Set-Cookie: ks_key=alice1234567; Path=/s/; HttpOnly; SameSite=Strict; Secure"},
      // Keys and paths that would end or extend the line are
      // Headers.OnlyAWellFormedPermitKeyBecomesACookie's.
      {{}, ""},
  };
  for (const auto& [env, cookie] : cases) {
    const RunResult r = byQueryProgram({"../tmp/" + name, "N", "N"}, env);
    ASSERT_EQ(r.out.find(kHtmlType), 0u) << r.out;
    const std::string header = headerOf(r.out);
    const size_t at = header.find("Set-Cookie:");
    EXPECT_EQ(at == std::string::npos ? "" : header.substr(at, header.find('\n', at) - at), cookie);
    EXPECT_FALSE(contains(bodyOf(r.out), "ks_key"));
  }
  // Started by the web server, the variable is not the renderer's to believe.
  const RunResult web = byWebServer("result=" + name, {{"KS_PERMIT_KEY", "alice1234567"}});
  EXPECT_EQ(web.out.find("Status: 403 Forbidden\n"), 0u) << web.out;
}

// searchrun starts the renderer while it searches; the renderer then reads
// its command line from its input: the page is the one the same words on
// the command line give, and a renderer handed nothing, or words cut
// short, leaves without writing a byte into the answer. The first pages of
// a large result come to it as an open memory file with its words: the
// page is the one the same file on disk gives. A handed file that is not
// private to the account is not read.
TEST_F(RendererTest, ARendererStartedAheadTakesItsWordsAndFirstPagesFromItsInput) {
  const std::string name = writeResult('7', "alice");
  const std::map<std::string, std::string> env = {{"KS_PERMIT_KEY", "alice1234567"},
                                                  {"REQUEST_METHOD", ""}};
  const RunResult direct = byQueryProgram({"../tmp/" + name, "N", "2"}, env);
  ASSERT_EQ(direct.out.find(kHtmlType), 0u) << direct.out;
  const std::string words = "../tmp/" + name + std::string(1, '\0') + "N" + std::string(1, '\0') +
                            "2" + std::string(1, '\0');
  const RunResult ahead =
      inst_->run("search-cgi/getfilelist.exe", {"--await-arguments"}, env, words);
  EXPECT_EQ(ahead.exitStatus, 0) << ahead.err;
  EXPECT_EQ(ahead.out, direct.out);
  for (const std::string& input : {std::string(), words.substr(0, words.size() - 1)}) {
    const RunResult idle =
        inst_->run("search-cgi/getfilelist.exe", {"--await-arguments"}, env, input);
    EXPECT_EQ(idle.exitStatus, 0) << idle.err;
    EXPECT_EQ(idle.out, "") << input.size();
  }

  const std::string bytes = inst_->read("tmp/" + name);
  const std::vector<std::string> handed = {"../tmp/" + name + "_fast", "N", "2"};
  ASSERT_FALSE(testutil::fileExists(inst_->path("tmp/" + name + "_fast")));

  testutil::ScopedCwd cgi(inst_->path("search-cgi"));
  const auto renderHanded = [&](int file, int expectedStatus) {
    int status = -1;
    const std::string page = testutil::captureStdout([&] {
      // Started inside the capture: it writes where its standard output was.
      WaitingRenderer waiting({"KS_PERMIT_KEY=alice1234567"});
      EXPECT_TRUE(waiting.ready());
      status = waiting.render(handed, 0, {}, file);
    });
    EXPECT_EQ(status, expectedStatus);
    return page;
  };
  UniqueFd memory = createMemoryFile("fast");
  ASSERT_TRUE(memory);
  ASSERT_TRUE(writeAll(memory.get(), bytes));
  EXPECT_EQ(renderHanded(memory.get(), 0), direct.out);
  EXPECT_FALSE(testutil::fileExists(inst_->path("tmp/" + name + "_fast")));

  ASSERT_EQ(fchmod(memory.get(), 0666), 0);
  const std::string refused = renderHanded(memory.get(), 1);
  EXPECT_TRUE(contains(refused, "cannot be read")) << refused;
  EXPECT_FALSE(contains(refused, "Annual")) << refused;
}

TEST_F(RendererTest, AViewShowsOnlyTheFileTheIndexReadOfAHitTheResultHas) {
  const std::string name = writeResult('2', "TESSERA");
  const std::string view = "result=" + name + "&view=2";
  ASSERT_TRUE(contains(byWebServer(view).out, "budget lines"));
  // A link in its place, to the same size and time: never followed.
  linkBudgetAway(true);
  const RunResult linked = byWebServer(view), linkedRaw = byWebServer(view + "&raw=1");
  linkBudgetAway(false);
  // The same bytes at another time are not what the index read either.
  const std::string doc = inst_->docs("src") + "/budget.txt";
  const utimbuf later{1100000001, 1100000001}, indexed{1100000000, 1100000000};
  ASSERT_EQ(utime(doc.c_str(), &later), 0);
  const RunResult changed = byWebServer(view), changedRaw = byWebServer(view + "&raw=1");
  ASSERT_EQ(utime(doc.c_str(), &indexed), 0);
  for (const RunResult& r : {linked, linkedRaw, changed, changedRaw}) {
    EXPECT_EQ(r.out.find("Status: 404 Not Found\n" + kHtmlType), 0u) << r.out;
    EXPECT_FALSE(contains(r.out, "SECRET"));
    EXPECT_FALSE(contains(r.out, "budget lines"));
    EXPECT_FALSE(contains(r.out, inst_->root()));
  }
  EXPECT_TRUE(contains(byWebServer(view).out, "budget lines"));
  // A hit number the result does not have leads back to the result and
  // offers its search, never its permit key.
  EXPECT_EQ(byWebServer("result=" + name + "&view=3&raw=1").out.find("Status: 404"), 0u);
  for (const char* hit : {"3", "99"}) {
    const RunResult r = byWebServer("result=" + name + "&view=" + hit);
    ASSERT_EQ(r.out.find("Status: 404 Not Found\n" + kHtmlType), 0u) << r.out;
    EXPECT_TRUE(contains(r.out, "no such hit")) << r.out;
    EXPECT_TRUE(contains(r.out, "name=\"query\" value=\"report\""));
    EXPECT_TRUE(contains(r.out, "<input type=\"hidden\" name=\"user\" value=\"TESSERA\">"));
    EXPECT_TRUE(
        contains(r.out, "href=\"getfilelist.exe?result=" + name +
                            "&amp;page=1&amp;no=1&amp;again=user%3DTESSERA%26query%3Dreport\">"
                            "&laquo; Back to the results"))
        << r.out;
    EXPECT_FALSE(contains(r.out, "7654321")) << r.out;
  }
}

// Whoever may rename an indexed folder could put a link to another folder
// under its name, holding a file of the same name, size and time.
TEST_F(RendererTest, AViewReadsOnlyFromTheFolderTheIndexRead) {
  inst_->doc("swap", "plan.txt", "plan report\n");
  inst_->doc("other", "plan.txt", "SECRET rep.\n");
  const std::string home = inst_->create("swap", "swap");
  rendertest::ResultSpec spec;
  spec.lines = {rendertest::recordLine("alice", "swap", 90, 1)};
  ASSERT_TRUE(rendertest::writeResult(inst_->path("tmp/" + resultName('0')), spec));
  const std::string view = "result=" + resultName('0') + "&view=1&raw=1";
  const std::string folder = inst_->docs("swap");
  const auto swapped = [&] {
    EXPECT_EQ(rename(folder.c_str(), (folder + ".real").c_str()), 0);
    EXPECT_EQ(symlink(inst_->docs("other").c_str(), folder.c_str()), 0);
    const RunResult r = byWebServer(view);
    EXPECT_EQ(unlink(folder.c_str()), 0);
    EXPECT_EQ(rename((folder + ".real").c_str(), folder.c_str()), 0);
    return r;
  };
  EXPECT_EQ(bodyOf(byWebServer(view).out), "plan report\n");
  for (const char* step : {"create", "rebuild"}) {
    if (std::string(step) == "rebuild") {
      ASSERT_EQ(inst_->builder({"rebuild", "--id", "swap"}).exitStatus, 0);
    }
    const RunResult r = swapped();
    EXPECT_EQ(r.out.find("Status: 404 Not Found\n"), 0u) << step << r.out;
    EXPECT_FALSE(contains(r.out, "SECRET")) << step;
    EXPECT_EQ(bodyOf(byWebServer(view).out), "plan report\n") << step;
  }
  // An index built before the folder was kept is shown as it always was.
  for (const char* file : {kSourceFolderIdFile, kIdentityListFile})
    ASSERT_EQ(unlink((home + "/" + file).c_str()), 0) << file;
  EXPECT_EQ(bodyOf(byWebServer(view).out), "plan report\n");
}

// Emptied record files once gave every hit a made-up "record N" title.
TEST_F(RendererTest, AnIndexWhoseRecordsCannotBeReadFailsThePage) {
  inst_->doc("emptied", "one.txt", "the orchard plan\n");
  inst_->doc("emptied", "two.txt", "an orchard map\n");
  const std::string home = inst_->create("emptied", "emptied");
  const std::string search = "user=TESSERA&query=orchard&index_id=7F000001_emptied";
  RunResult r = inst_->get(search);
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  ASSERT_TRUE(contains(r.out, "one.txt")) << r.out;
  for (const char* file : {".vela_recinfo", ".vela_recoffset", "vela_recdata_0"})
    inst_->write(home.substr(inst_->root().size() + 1) + "/" + file, "");
  for (const char* format : {"", "&xml=1"}) {
    r = inst_->get(search + format);
    EXPECT_EQ(r.exitStatus, 1) << format;
    EXPECT_TRUE(contains(r.out, "records of an index this search found cannot be read")) << r.out;
    EXPECT_FALSE(contains(r.out, "record 1")) << r.out;
  }
}

// The result a page link names has expired: the page says so, runs its
// search again by a link, and offers it in a form without the renderer's
// variables; either way the search works.
TEST_F(RendererTest, AnExpiredResultOffersItsSearchAgain) {
  const RunResult first = inst_->get("user=TESSERA&query=report&index_id=7F000001_news&no_rec=1");
  const std::string name = resultOf(first);
  ASSERT_EQ(name.size(), 5 + kTempNameDigits) << first.out;
  std::smatch m;
  static const std::regex pageTwo("href=\"getfilelist\\.exe\\?([^\"]*&amp;page=2&amp;[^\"]*)\"");
  const std::string page = first.out;
  ASSERT_TRUE(std::regex_search(page, m, pageTwo)) << page;
  const std::string link = xmlText(m[1]);
  EXPECT_TRUE(
      contains(link, "&again=user%3DTESSERA%26query%3Dreport%26index%5Fid%3D7F000001%5Fnews"))
      << link;
  ASSERT_EQ(byWebServer(link).out.find(kHtmlType), 0u);
  for (const auto& e : std::filesystem::directory_iterator(inst_->path("tmp")))
    if (e.path().filename().string().rfind(name, 0) == 0) std::filesystem::remove(e.path());

  const RunResult gone = byWebServer(link);
  ASSERT_EQ(gone.out.find("Status: 410 Gone\n" + kHtmlType), 0u) << gone.out;
  EXPECT_TRUE(contains(gone.out, "has expired")) << gone.out;
  EXPECT_TRUE(
      contains(gone.out, "<input type=\"hidden\" name=\"index_id\" value=\"7F000001_news\">"))
      << gone.out;
  EXPECT_TRUE(contains(gone.out, "name=\"query\" value=\"report\""));
  EXPECT_FALSE(contains(gone.out, "name=\"result\""));
  EXPECT_FALSE(contains(gone.out, "name=\"again\""));
  static const std::regex again("href=\"searchrun\\?([^\"]*)\">Run the search again");
  const std::string body = gone.out;
  ASSERT_TRUE(std::regex_search(body, m, again)) << body;
  const RunResult rerun = inst_->get(xmlText(m[1]));
  EXPECT_EQ(resultOf(rerun).size(), 5 + kTempNameDigits) << rerun.out;
  EXPECT_TRUE(contains(rerun.out, "<mark>report</mark>")) << rerun.out;

  // Programs get the same in their format; a name without its search is
  // not known to have been there.
  const RunResult json = byWebServer(link + "&format=json");
  EXPECT_TRUE(contains(json.out, "{\"error\":{\"status\":410,\"code\":\"2102\",\"message\":"))
      << json.out;
  EXPECT_EQ(byWebServer("result=" + name).out.find("Status: 404 Not Found\n"), 0u);
}

TEST_F(RendererTest, TheJsonAnswerCarriesTheHitsOfTheXml) {
  const std::string name =
      resultOf(inst_->get("user=TESSERA&query=report&index_id=7F000001_news&no_rec=1"));
  ASSERT_EQ(name.size(), 5 + kTempNameDigits);
  static const std::regex hitXml(
      "<hit rank=\"([0-9]+)\"><file>([^<]*)</file><title>([^<]*)</title>(?:<location>([^<]*)"
      "</location>)?.*?<index id=\"([^\"]*)\"[^>]*>([^<]*)</index><score>(-?[0-9]+)</score>"
      "(?:<relevance>([a-z]+)</relevance>)?<record>([0-9]+)</record><snippet>([^<]*)</snippet>");
  for (const int page : {1, 2}) {
    const std::string request = "result=" + name + "&page=" + std::to_string(page) + "&no=1";
    const RunResult xml = byWebServer(request + "&format=xml");
    const RunResult json = byWebServer(request + "&format=json");
    ASSERT_EQ(json.out.find("Content-Type: application/json; charset=utf-8\n"), 0u) << json.out;
    // searchrun's form of the request: the same answer.
    const RunResult argued = byQueryProgram({"../tmp/" + name, "1", std::to_string(page), "json"});
    EXPECT_EQ(bodyOf(argued.out), bodyOf(json.out));
    rendertest::Json answer;
    std::string why;
    ASSERT_TRUE(rendertest::parseJson(bodyOf(json.out), answer, why)) << why << "\n" << json.out;
    for (const char* key : {"per_page", "pages", "indexes", "sort", "complete"})
      EXPECT_TRUE(answer.has(key)) << key;
    EXPECT_EQ(answer["total"].asNumber(), 2);
    EXPECT_EQ(answer["page"].asNumber(), page);
    EXPECT_EQ(answer["query"]["typed"].asString(), "report");
    ASSERT_EQ(answer["hits"].type(), rendertest::Json::Type::kArray);
    std::vector<std::smatch> hits;
    const std::string xmlBody = bodyOf(xml.out);
    for (std::sregex_iterator it(xmlBody.begin(), xmlBody.end(), hitXml), end; it != end; ++it)
      hits.push_back(*it);
    ASSERT_EQ(hits.size(), 1u) << xml.out;
    ASSERT_EQ(answer["hits"].items().size(), 1u);
    EXPECT_EQ(answer["count"].asNumber(), 1);
    const std::smatch& x = hits[0];
    const rendertest::Json& j = answer["hits"].items()[0];
    EXPECT_EQ(j["rank"].asNumber(), std::stod(x[1]));
    EXPECT_EQ(j["file"].asString(), xmlText(x[2]));
    EXPECT_EQ(j["title"].asString(), xmlText(x[3]));
    EXPECT_EQ(j["location"].asString(), xmlText(x[4]));
    EXPECT_EQ(j["index"]["id"].asString(), xmlText(x[5]));
    EXPECT_EQ(j["index"]["name"].asString(), xmlText(x[6]));
    EXPECT_EQ(j["score"].asNumber(), std::stod(x[7]));
    EXPECT_EQ(j["relevance"].asString(), x[8].str());
    EXPECT_EQ(j["record"].asNumber(), std::stod(x[9]));
    EXPECT_EQ(j["snippet"].asString(), xmlText(x[10]));
    EXPECT_FALSE(j["relevance"].asString().empty());
    // Its view link opens the document.
    EXPECT_TRUE(
        contains(byWebServer(j["view"].asString().substr(j["view"].asString().find('?') + 1)).out,
                 "<mark id=\"first-match\">report</mark>"));
  }
}

}  // namespace
