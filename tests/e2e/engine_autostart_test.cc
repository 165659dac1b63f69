/// @file engine_autostart_test.cc
/// @brief A search that finds no engine service starts one for the searches
/// after it and makes its own run meanwhile; searches starting at once
/// leave one service; the switch and an unsafe run directory keep searches
/// from starting any.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/e2e/engine_util.h"

namespace {

namespace fs = std::filesystem;
using enginetest::EngineInstall;
using testutil::readFile;

class EngineAutoStart : public ::testing::Test {
 protected:
  // Searches may start the service (no AUTO_START); a loaded machine does not
  // make them run alone.
  static constexpr const char* kSettings = "WAIT_MS=10000\n";

  void SetUp() override {
    inst_.doc("base", "a.txt", "apple orchard\n");
    home_ = inst_.create("base", "base");
    expected_ = search("expected").out;  // no service yet: AUTO_START=no
    ASSERT_NE(expected_, "");
    inst_.write("setting/engine_service.cfg", kSettings);
  }
  void TearDown() override {
    // Services of this installation end with the test, whoever started them.
    for (const pid_t pid : services()) {
      kill(pid, SIGTERM);
      for (int i = 0; i < 2000 && enginetest::processRuns(pid); ++i)
        usleep(5000);
    }
  }

  struct Search {
    int status;
    std::string out;  // the result file
  };
  Search search(const std::string& name) const {
    const std::string result = inst_.path("search-cgi/tmp/" + name);
    testutil::writeFile(result, "");
    const e2e::RunResult r =
        inst_.run("binind/vela25_0.exe", {"-H", home_, "-binout", "-o", result, "apple"});
    return {r.exitStatus, readFile(result)};
  }
  // The running processes of this installation's service program.
  std::vector<pid_t> services() const {
    char real[PATH_MAX];
    std::vector<pid_t> pids;
    if (realpath(inst_.path("binind/vela_service").c_str(), real) == nullptr) return pids;
    for (const auto& e : fs::directory_iterator("/proc")) {
      const std::string name = e.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::error_code ec;
      if (fs::read_symlink(e.path() / "exe", ec).string() != real) continue;
      const pid_t pid = std::atoi(name.c_str());
      if (enginetest::processRuns(pid)) pids.push_back(pid);
    }
    return pids;
  }
  // Waits (at most 20 s) until exactly one service runs and listens.
  bool settlesOnOne() const {
    if (!inst_.waitListening(true)) return false;
    for (int i = 0; i < 4000; ++i) {
      if (services().size() == 1) return true;
      usleep(5000);
    }
    return false;
  }

  EngineInstall inst_;
  std::string home_, expected_;
};

TEST_F(EngineAutoStart, ASearchStartsTheServiceAndStillAnswersItself) {
  ASSERT_TRUE(services().empty());
  const Search first = search("first");
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(first.out, expected_);
  ASSERT_TRUE(settlesOnOne());
  const pid_t pid = services()[0];
  EXPECT_EQ(readFile(inst_.path("run/engine.lock")), std::to_string(pid) + "\n");
  // Detached: a session of its own, not the search's child.
  EXPECT_NE(getsid(pid), getsid(0));
  // The service listens before it notes that it serves (it starts its
  // workers in between): the line may come a moment after the socket.
  const std::string serving = "serving " + inst_.root();
  for (int i = 0;
       i < 4000 && readFile(inst_.path("run/engine.log")).find(serving) == std::string::npos; ++i)
    usleep(5000);
  EXPECT_NE(readFile(inst_.path("run/engine.log")).find(serving), std::string::npos);
  for (const char* file : {"run/engine.sock", "run/engine.lock", "run/engine.log"}) {
    struct stat st;
    ASSERT_EQ(lstat(inst_.path(file).c_str(), &st), 0) << file;
    EXPECT_EQ(st.st_mode & 077, 0u) << file;
  }
  const enginetest::Reply r = enginetest::askRaw(
      inst_.socketPath(), vela::Tool::kEngine, inst_.cgiDir(),
      {"-H", home_, "-binout", "-o", inst_.path("search-cgi/tmp/served"), "apple"});
  EXPECT_TRUE(r.answered);
  EXPECT_EQ(readFile(inst_.path("search-cgi/tmp/served")), expected_);
  // The next searches are its: they run with the full engine gone.
  inst_.hideFullEngine(true);
  EXPECT_EQ(search("second").out, expected_);
  inst_.hideFullEngine(false);
  EXPECT_EQ(services(), std::vector<pid_t>{pid});
}

TEST_F(EngineAutoStart, SearchesStartingTogetherLeaveOneService) {
  enginetest::expectThinSearchesTogether(inst_, home_, "together", 12, expected_);

  ASSERT_TRUE(settlesOnOne());
  const pid_t pid = services()[0];
  // Another start while it runs leaves at once; the socket stays its.
  const e2e::RunResult again =
      inst_.within(30, "vela_service", {"--root", inst_.root(), "--exit-if-running"});
  EXPECT_EQ(again.exitStatus, 0) << again.err;
  EXPECT_EQ(services(), std::vector<pid_t>{pid});
  EXPECT_EQ(search("after").out, expected_);
  EXPECT_TRUE(inst_.waitListening(true));
}

TEST_F(EngineAutoStart, SwitchedOffOrUnsafeNoSearchStartsOne) {
  const struct {
    const char* setting;  // engine_service.cfg, or null for none
    mode_t runMode;
  } cases[] = {{"AUTO_START=no\n", 0700}, {"AUTO_START= Off\r\n", 0700},
               {"AUTO_START=0\n", 0700},  {"AUTO_START=false\n", 0700},
               {nullptr, 0777},           {nullptr, 0720}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setting ? c.setting : "no setting");
    inst_.write("setting/engine_service.cfg", std::string(c.setting ? c.setting : "") + kSettings);
    ASSERT_EQ(chmod(inst_.path("run").c_str(), c.runMode), 0);
    const Search s = search("off");
    EXPECT_EQ(s.status, 0);
    EXPECT_EQ(s.out, expected_);
    // Not even the start was tried: its lock and log are made before the start.
    EXPECT_TRUE(fs::is_empty(inst_.path("run")));
    EXPECT_TRUE(services().empty());
    ASSERT_EQ(chmod(inst_.path("run").c_str(), 0700), 0);
  }
  // A service refuses a run directory others may write, too.
  ASSERT_EQ(chmod(inst_.path("run").c_str(), 0777), 0);
  const e2e::RunResult refused = inst_.within(30, "vela_service", {"--root", inst_.root()});
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_NE(refused.err.find("no other account may write"), std::string::npos) << refused.err;
  ASSERT_EQ(chmod(inst_.path("run").c_str(), 0700), 0);
  // The switch gone and the directory safe again, the next search starts one.
  inst_.write("setting/engine_service.cfg", kSettings);
  EXPECT_EQ(search("on").out, expected_);
  EXPECT_TRUE(settlesOnOne());
}

}  // namespace
