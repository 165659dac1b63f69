/// @file front_workers_test.cc
/// @brief End to end: the searchrun a web server starts hands its request to
/// a resident worker of the engine service, which makes, run after run, the
/// very pages and result files a fresh program makes, shows nothing of one
/// run to the next, and ends with the service.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/e2e/engine_util.h"

namespace {

using enginetest::EngineInstall;
using enginetest::Outcome;

// The processes whose parent is `parent`.
std::set<pid_t> childrenOf(pid_t parent) {
  std::set<pid_t> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    const std::string stat = testutil::readFile(entry.path().string() + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 4 >= stat.size()) continue;
    if (std::atoi(stat.c_str() + stat.find(' ', close + 3) + 1) == parent)
      found.insert(std::atoi(name.c_str()));
  }
  return found;
}

class FrontWorkersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new EngineInstall;
    inst_->write("lang.cfg", "EN\n");
    enginetest::createTopicIndexes(*inst_);
    // One worker: every handed run is made after the others in one process.
    inst_->setKey(e2e::kEngineServiceSettings, "FRONT_WORKERS", "1");
    inst_->startService();
    ASSERT_TRUE(waitForWorkers());
  }
  static void TearDownTestSuite() { delete inst_; }

  static bool waitForWorkers() {
    for (int i = 0; i < 2000; ++i) {
      const int fd = enginetest::connectTo(inst_->path("run/front.sock"));
      if (fd >= 0) {
        close(fd);
        return true;
      }
      usleep(5000);
    }
    return false;
  }

  // The keeper of the workers, the service's child.
  static pid_t keeper() {
    const std::set<pid_t> kids = childrenOf(inst_->servicePid());
    return kids.size() == 1 ? *kids.begin() : -1;
  }

  // `request` made by `program`: the installed searchrun, or the whole
  // program started afresh.
  static Outcome search(const std::string& request, const std::string& program,
                        const std::string& method = "GET") {
    const std::set<std::string> before = inst_->resultFiles();
    std::map<std::string, std::string> env{{"REQUEST_METHOD", method}};
    std::string body;
    if (method == "GET")
      env["QUERY_STRING"] = request;
    else {
      body = request;
      env["CONTENT_TYPE"] = "application/x-www-form-urlencoded";
      env["CONTENT_LENGTH"] = std::to_string(body.size());
    }
    const std::vector<std::string> args = program == "search-cgi/searchrun"
                                              ? std::vector<std::string>{}
                                              : std::vector<std::string>{"--"};
    const e2e::RunResult r = inst_->run(program, args, env, body);
    return enginetest::outcomeOf(*inst_, r, before);
  }

  static inline EngineInstall* inst_ = nullptr;
};

TEST_F(FrontWorkersTest, OneWorkerMakesEveryRunAsAFreshProgramWouldAndShowsNoneToTheNext) {
  const pid_t keeperPid = keeper();
  ASSERT_GT(keeperPid, 0);
  const std::set<pid_t> workers = childrenOf(keeperPid);
  ASSERT_EQ(workers.size(), 1u);
  // Requests of every kind one after another, each unlike the one before:
  // what a run left in the worker would show in the next page.
  const std::vector<std::pair<std::string, std::string>> requests = {
      {"user=TESSERA&index_id=7F000001_sky&index_id=7F000001_food&query=telescope", "GET"},
      {"user=VIOLA&index_id=7F000001_sky&query=galaxy", "GET"},
      {"user=TESSERA&index_id=7F000001_nosuch&query=galaxy", "GET"},
      {"user=TESSERA&index_id=7F000001_food&query=butter%20and%20oven&no_rec=2", "POST"},
      {"index_id=7F000001_sky&query=orbit", "GET"},
      {"user=TESSERA&index_id=7F000001_sky&index_id=7F000001_food&query=telescpoe", "GET"},
      {"user=TESSERA&index_id=7F000001_food&query=flou*&reltermoption=0", "GET"},
  };
  const std::string full = inst_->path("binind/searchrun.full");
  for (const auto& [request, method] : requests) {
    const Outcome fresh = search(request, "binind/searchrun.full", method);
    // Without the whole program on disk, only a worker can make the run.
    ASSERT_EQ(rename(full.c_str(), (full + ".saved").c_str()), 0);
    const Outcome served = search(request, "search-cgi/searchrun", method);
    ASSERT_EQ(rename((full + ".saved").c_str(), full.c_str()), 0);
    EXPECT_EQ(served.status, fresh.status) << request;
    EXPECT_EQ(served.page, fresh.page) << request;
    EXPECT_EQ(served.files, fresh.files) << request;
    EXPECT_NE(served.page.find("Content-Type"), std::string::npos) << request;
  }
  // The one worker made them all.
  EXPECT_EQ(childrenOf(keeperPid), workers);
}

// A worker keeps settings texts between runs; a file changed since is read
// anew, as a fresh program reads it.
TEST_F(FrontWorkersTest, ASettingsFileChangedBetweenRunsIsReadAnew) {
  const std::string table = inst_->path("setting/ts_cgi_msg_table.cfg");
  const std::string request = "user=TESSERA&index_id=7F000001_nosuch&query=galaxy";
  // Files changed in the last second or two are never kept: this one is
  // kept once still.
  usleep(2100 * 1000);
  const Outcome before = search(request, "search-cgi/searchrun");
  ASSERT_EQ(before.page, search(request, "search-cgi/searchrun").page);
  // Every message reworded, the file's size changed or not.
  const std::string text = testutil::readFile(table);
  std::string reworded;
  for (size_t at = 0; at < text.size();) {
    const size_t end = std::min(text.find('\n', at), text.size());
    std::string line = text.substr(at, end - at);
    const size_t tab = line.find('\t');
    if (tab != std::string::npos) line.insert(tab + 1, "Reworded ");
    reworded += line + "\n";
    at = end + 1;
  }
  testutil::writeFile(table, reworded);
  const Outcome after = search(request, "search-cgi/searchrun");
  EXPECT_NE(after.page, before.page);
  EXPECT_NE(after.page.find("Reworded "), std::string::npos);
  EXPECT_EQ(after.page, search(request, "binind/searchrun.full").page);
  testutil::writeFile(table, text);
}

// The workers make a run's searches and pages themselves, with the indexes
// open from one run to the next; an index built again in between is
// searched as built now.
TEST_F(FrontWorkersTest, WorkersWithTheEngineInsideSearchAnIndexBuiltAgainBetweenRuns) {
  const pid_t keeperPid = keeper();
  ASSERT_GT(keeperPid, 0);
  EXPECT_EQ(testutil::readFile("/proc/" + std::to_string(keeperPid) + "/comm"), "vela_front\n");
  inst_->doc("moon", "m0.txt", "A crater on the moon.\n");
  inst_->create("moon", "moon");
  const std::string request = "user=TESSERA&index_id=7F000001_moon&query=crater";
  const Outcome before = search(request, "search-cgi/searchrun");
  EXPECT_EQ(before.page, search(request, "binind/searchrun.full").page);
  EXPECT_NE(before.page.find("m0.txt"), std::string::npos) << before.page;
  // A document added (to the index's second part), then the parts built
  // again as one: the part the worker holds open is replaced.
  inst_->doc("moon", "m1.txt", "Another crater, and one more crater.\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"update", "--id", "moon", inst_->docs("moon")},
        {"rebuild", "--id", "moon"}}) {
    const e2e::RunResult built = inst_->builder(args);
    ASSERT_EQ(built.exitStatus, 0) << built.err;
    const Outcome after = search(request, "search-cgi/searchrun");
    EXPECT_EQ(after.status, 0) << args[0];
    EXPECT_EQ(after.page, search(request, "binind/searchrun.full").page) << args[0];
    EXPECT_NE(after.page.find("m1.txt"), std::string::npos) << args[0] << after.page;
  }
}

TEST_F(FrontWorkersTest, WorkersEndWithAKilledServiceAndSearchesGoOnWithoutThem) {
  const pid_t keeperPid = keeper();
  ASSERT_GT(keeperPid, 0);
  const std::set<pid_t> workers = childrenOf(keeperPid);
  inst_->stopService(SIGKILL);
  bool gone = false;
  for (int i = 0; i < 400 && !gone; ++i) {
    gone = !enginetest::processRuns(keeperPid);
    for (pid_t w : workers)
      gone = gone && !enginetest::processRuns(w);
    usleep(10000);
  }
  EXPECT_TRUE(gone) << "workers outlived their service";
  const std::string request = "user=TESSERA&index_id=7F000001_sky&query=nebula";
  const Outcome fresh = search(request, "binind/searchrun.full");
  const Outcome alone = search(request, "search-cgi/searchrun");
  EXPECT_EQ(alone.status, 0);
  EXPECT_EQ(alone.page, fresh.page);
  inst_->startService();
  EXPECT_TRUE(waitForWorkers());
}

}  // namespace
