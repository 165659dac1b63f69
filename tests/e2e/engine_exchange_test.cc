/// @file engine_exchange_test.cc
/// @brief End to end: searchrun hands its engine runs to the engine service
/// and gets the very pages and result files the programs give, and a
/// service that stalls or dies leaves the search to the programs.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/engine_util.h"

namespace {

using enginetest::EngineInstall;
using enginetest::Outcome;

// Three indexes of two topics; "sky" also has an inc part.
class EngineExchangeTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new EngineInstall(enginetest::Mode::kService);
    // Pages in the installation's own language: searchrun ends in the
    // renderer's image, as it does on most sites.
    inst_->write("lang.cfg", "EN\n");
    enginetest::createTopicIndexes(*inst_);
    inst_->doc("sky", "late.txt", "A late report on a telescope and its galaxy.\n");
    const e2e::RunResult update = inst_->builder({"update", "--id", "sky", inst_->docs("sky")});
    ASSERT_EQ(update.exitStatus, 0) << update.err;
  }
  static void TearDownTestSuite() { delete inst_; }

  static Outcome search(const std::string& query) {
    const std::set<std::string> before = inst_->resultFiles();
    const e2e::RunResult r = inst_->get(
        "user=TESSERA&index_id=7F000001_sky&index_id=7F000001_food&index_id=7F000001_mixed&" +
        query);
    const Outcome o = enginetest::outcomeOf(*inst_, r, before);
    // Scratch results of look-ups sent ahead go with the run, also when the
    // step that would read them is passed over and the renderer takes the
    // process over.
    for (const auto& entry : std::filesystem::directory_iterator(inst_->path("search-cgi/tmp"))) {
      const std::string name = entry.path().filename().string();
      for (const char* scratch : {"homo", "fuzzy", "suggest", "qstring"})
        EXPECT_NE(name.rfind(scratch, 0), 0u) << name << " left by " << query;
    }
    return o;
  }
  static void exchange(bool on) {
    inst_->setKey("setting/engine_service.cfg", "EXCHANGE", on ? "yes" : "no");
  }

  static inline EngineInstall* inst_ = nullptr;
};

const char* const kQueries[] = {
    "query=telescope",                     // related terms and suggestions as defaulted
    "query=telescpoe",                     // no hits: a suggestion instead
    "query=gal*&reltermoption=0",          // a wildcard
    "query=report&search_no=2",            // one index of three
    "query=butter%20and%20oven&no_rec=3",  // several words, another page size
    // a date window that empties the result: no suggestion is made
    "query=galaxy&part_file=on&end_year=2000&end_month=1&end_day=1",
};

TEST_F(EngineExchangeTest, PagesAndResultFilesAreThoseOfTheProgramsRuns) {
  for (const char* query : kQueries) {
    exchange(false);
    const Outcome programs = search(query);
    ASSERT_EQ(programs.status, 0) << query << programs.page;
    exchange(true);
    const Outcome served = search(query);
    EXPECT_EQ(served.status, 0) << query;
    EXPECT_EQ(served.page, programs.page) << query;
    EXPECT_EQ(served.files, programs.files) << query;
    EXPECT_FALSE(served.files.empty()) << query;
  }
}

TEST_F(EngineExchangeTest, TheServedRunsNeedNoProgramOfTheirOwn) {
  // The search program and the renderer, started, would fail every search:
  // only a search that starts neither can still show the page.
  exchange(false);
  const Outcome expected = search(kQueries[0]);
  for (const char* name : {"binind/vela25_0.exe", "search-cgi/getfilelist.exe"}) {
    const std::string program = inst_->path(name);
    ASSERT_EQ(rename(program.c_str(), (program + ".saved").c_str()), 0);
    testutil::writeFile(program, testutil::readFile("/bin/false"));
    chmod(program.c_str(), 0755);
  }
  exchange(true);
  const Outcome served = search(kQueries[0]);
  exchange(false);
  const Outcome started = search(kQueries[0]);
  for (const char* name : {"binind/vela25_0.exe", "search-cgi/getfilelist.exe"}) {
    const std::string program = inst_->path(name);
    ASSERT_EQ(rename((program + ".saved").c_str(), program.c_str()), 0);
  }
  exchange(true);
  EXPECT_EQ(served.status, 0);
  EXPECT_EQ(served.page, expected.page);
  EXPECT_NE(started.status, 0);
}

TEST_F(EngineExchangeTest, AStalledOrKilledServiceLeavesTheSearchToThePrograms) {
  exchange(false);
  const Outcome expected = search(kQueries[0]);
  exchange(true);
  inst_->setKey("setting/engine_service.cfg", "WAIT_MS", "100");
  // Stalled: every request is taken in but none is taken up.
  kill(inst_->servicePid(), SIGSTOP);
  const Outcome stalled = search(kQueries[0]);
  kill(inst_->servicePid(), SIGCONT);
  EXPECT_EQ(stalled.page, expected.page);
  // Killed: its socket is left behind, and no one listens. Its searchrun
  // workers end with it, but not at once: a run one of them took meanwhile
  // would end with it, which is not the case looked at here.
  inst_->stopService(SIGKILL);
  const std::string workers = inst_->path("run/front.sock");
  for (int fd, i = 0; i < 4000 && (fd = enginetest::connectTo(workers)) >= 0; ++i) {
    close(fd);
    usleep(5000);
  }
  const Outcome killed = search(kQueries[0]);
  EXPECT_EQ(killed.page, expected.page);
  EXPECT_EQ(killed.files, expected.files);
  inst_->setKey("setting/engine_service.cfg", "WAIT_MS", "10000");
  inst_->startService();
}

// A page asked of the service is the renderer's own page of the same words
// and variables; anything not of the form of searchrun's page request is
// refused, with no page, so that searchrun starts the renderer instead.
TEST_F(EngineExchangeTest, TheServiceRendersThePageOfTheRenderersWordsAndNoOther) {
  const std::set<std::string> before = inst_->resultFiles();
  ASSERT_EQ(search("query=telescope").status, 0);
  std::string name;
  for (const std::string& made : inst_->resultFiles())
    if (!before.count(made)) name = made;
  ASSERT_FALSE(name.empty());
  const std::vector<std::string> words = {"../tmp/" + name, "1", "2", "xml"};
  const std::map<std::string, std::string> variables = {
      {"KS_PERMIT_KEY", "ab1234567"}, {"SCRIPT_NAME", "/cgi/searchrun"}, {"HTTPS", "on"}};
  std::map<std::string, std::string> env = variables;
  env["REQUEST_METHOD"] = "";
  const e2e::RunResult own = inst_->run("search-cgi/getfilelist.exe", words, env);
  ASSERT_EQ(own.exitStatus, 0) << own.err;
  ASSERT_NE(own.out.find("ks_key=ab1234567; Path=/cgi/; HttpOnly; SameSite=Strict; Secure"),
            std::string::npos)
      << own.out;

  std::vector<std::string> entries = {"PATH=/elsewhere"};  // no variable of a page: left out
  for (const auto& [variable, value] : variables)
    entries.push_back(variable + "=" + value);
  const std::vector<std::string> args = vela::pageArguments(entries, words);
  const std::string cgi = inst_->cgiDir(), sock = inst_->socketPath();
  const enginetest::Reply page = enginetest::askRaw(sock, vela::Tool::kPage, cgi, args);
  ASSERT_TRUE(page.answered);
  EXPECT_EQ(page.answer.err, "");
  EXPECT_EQ(page.answer.status, 0);
  EXPECT_EQ(page.answer.out, own.out);
  // A name that is no result's reaches no file: the renderer's own refusal.
  const enginetest::Reply outside =
      enginetest::askRaw(sock, vela::Tool::kPage, cgi, {"--", "../../setting/system_info.cfg"});
  EXPECT_EQ(outside.answer.err, "");
  EXPECT_NE(outside.answer.out.find("Bad request"), std::string::npos) << outside.answer.out;

  // The result may come along, in place of the file on disk.
  const std::string result = inst_->path("tmp/" + name);
  std::string carried, withFile;
  ASSERT_TRUE(vela::encodeRequest(
      {vela::Tool::kPage, cgi, args, {{words[0], testutil::readFile(result)}}}, carried));
  ASSERT_EQ(rename(result.c_str(), (result + ".away").c_str()), 0);
  const enginetest::Reply fromMemory = enginetest::sendRaw(sock, carried);
  ASSERT_EQ(rename((result + ".away").c_str(), result.c_str()), 0);
  EXPECT_EQ(fromMemory.answer.err, "");
  EXPECT_EQ(fromMemory.answer.out, own.out);
  ASSERT_TRUE(
      vela::encodeRequest({vela::Tool::kPage, cgi, args, {{"../tmp/other", "x"}}}, withFile));
  const std::vector<enginetest::Reply> refused = {
      enginetest::askRaw(sock, vela::Tool::kPage, inst_->root(), args),
      enginetest::askRaw(sock, vela::Tool::kPage, cgi, {"PATH=/x", "--", words[0]}),
      enginetest::askRaw(sock, vela::Tool::kPage, cgi, words), enginetest::sendRaw(sock, withFile)};
  for (const enginetest::Reply& r : refused) {
    ASSERT_TRUE(r.answered);
    EXPECT_NE(r.answer.status, 0);
    EXPECT_EQ(r.answer.out, "");
    EXPECT_EQ(r.answer.err.rfind("getfilelist.exe: refused: ", 0), 0u) << r.answer.err;
  }
}

// A packaged installation keeps its data apart from its programs: the root's
// data folders are links its owner made, and the top files stand among the
// settings. Searches through the service find what the programs find.
TEST(EngineExchangeLinkedData, DataFoldersMayBeLinksOfTheInstallationsOwner) {
  EngineInstall inst;
  inst.write("setting/lang.cfg", "EN\n");
  inst.doc("sky", "d.txt", "A report on a telescope.\n");
  inst.create("sky", "sky");
  const std::string data = inst.path("data");
  testutil::makeDirs(data);
  for (const char* dir : {"tmp", "search-cgi/tmp", "run", "logs"}) {
    const std::string place = data + "/" + std::to_string(std::hash<std::string>()(dir));
    ASSERT_EQ(rename(inst.path(dir).c_str(), place.c_str()), 0) << dir;
    ASSERT_EQ(symlink(place.c_str(), inst.path(dir).c_str()), 0) << dir;
  }
  const std::string request = "user=TESSERA&index_id=7F000001_sky&query=telescope";
  const e2e::RunResult programs = inst.get(request);
  ASSERT_EQ(programs.exitStatus, 0) << programs.out;
  inst.startService();
  const e2e::RunResult served = inst.get(request);
  EXPECT_EQ(served.exitStatus, 0) << inst.read("service.log");
  static const std::regex varying("query[0-9]+|\\([0-9.]+ seconds\\)");
  EXPECT_EQ(std::regex_replace(served.out, varying, "#"),
            std::regex_replace(programs.out, varying, "#"));
  EXPECT_NE(served.out.find("telescope"), std::string::npos);
  EXPECT_EQ(inst.read("service.log").find("of its own"), std::string::npos);
}

}  // namespace
