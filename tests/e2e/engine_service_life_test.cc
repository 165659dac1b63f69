/// @file engine_service_life_test.cc
/// @brief The engine service while things happen to it and around it: killed
/// or restarted in the middle of requests, indexes rebuilt under it, clients
/// killed while it writes their results, and many indexes searched in turn
/// (the open databases stay within their cap).

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/engine_util.h"

namespace {

namespace fs = std::filesystem;
using enginetest::EngineInstall;
using enginetest::Reply;
using testutil::readFile;
using vela::Tool;
using namespace std::string_literals;

// The index homes whose engine database files a process holds open; `files`
// counts those files, `deleted` those whose file is gone (a build replaced
// since).
std::set<std::string> openIndexes(pid_t pid, int* deleted = nullptr, int* files = nullptr) {
  std::set<std::string> homes;
  const std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  for (const auto& e : fs::directory_iterator(dir)) {
    std::error_code ec;
    const std::string target = fs::read_symlink(e.path(), ec).string();
    const size_t db = target.find("/engine_db/");
    if (db == std::string::npos) continue;
    if (files) ++*files;
    homes.insert(target.substr(0, db));
    if (deleted && target.find("(deleted)") != std::string::npos) ++*deleted;
  }
  return homes;
}

// base: "apple orchard", "apple pie"; slow: many distinct words, so that a
// search of all of them by wildcards takes a while.
class EngineServiceLife : public ::testing::Test {
 protected:
  void SetUp() override {
    inst_.doc("base", "a.txt", "apple orchard\n");
    inst_.doc("base", "b.txt", "apple pie\n");
    base_ = inst_.create("base", "base");
    std::mt19937 random(7);
    for (int d = 0; d < 120; ++d) {
      std::string text;
      for (int w = 0; w < 300; ++w) {
        for (int len = 4 + static_cast<int>(random() % 6); len > 0; --len)
          text += static_cast<char>('a' + random() % 26);
        text += ' ';
      }
      inst_.doc("slow", std::to_string(d) + ".txt", text + "\n");
    }
    slow_ = inst_.create("slow", "slow");
    inst_.write("setting/search_option.cfg", "MAX_EXPANDED_WORDS=100000\n");
    inst_.write("search-cgi/tmp/slowterms", "*a* | *e* | *i* | *o*");
    // What the runs give without a service.
    expectedBase_ = thin(base_, "apple", "expected-base");
    expectedSlow_ = thin(slow_, "-f", "expected-slow");
    ASSERT_NE(expectedBase_, "");
    // Every record holds one of the words the wildcards stand for.
    ASSERT_EQ(expectedSlow_.substr(0, 26), "*a* OR *e* OR *i* OR *o*\n\x78");
  }

  // The engine's arguments for a query of `home` into result file `name`
  // ("-f" for the slow query's term file).
  std::vector<std::string> args(const std::string& home, const std::string& query,
                                const std::string& name) const {
    std::vector<std::string> a{"-H", home, "-binout", "-o", inst_.path("search-cgi/tmp/" + name)};
    if (query == "-f") {
      a.insert(a.end(), {"-f", inst_.path("search-cgi/tmp/slowterms")});
    } else {
      a.push_back(query);
    }
    return a;
  }
  // Claims the result file as the back-end does.
  std::string claim(const std::string& name) const {
    const std::string path = inst_.path("search-cgi/tmp/" + name);
    testutil::writeFile(path, "");
    return path;
  }
  // A run through the thin program; its result, "" when it failed.
  std::string thin(const std::string& home, const std::string& query, const std::string& name) {
    const std::string path = claim(name);
    const e2e::RunResult r = inst_.run("binind/vela25_0.exe", args(home, query, name));
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    return r.exitStatus == 0 ? readFile(path) : "";
  }
  // A request straight to the service; its result file.
  std::string served(const std::string& home, const std::string& query, const std::string& name) {
    const std::string path = claim(name);
    const Reply r = enginetest::askRaw(inst_.socketPath(), Tool::kEngine, inst_.cgiDir(),
                                       args(home, query, name));
    EXPECT_TRUE(r.answered);
    EXPECT_EQ(r.answer.status, 0) << r.answer.err;
    return readFile(path);
  }
  // Sends the slow query and returns once the service has taken it up; the
  // connection, or -1.
  int startedSlow(const std::string& name) {
    claim(name);
    std::string bytes;
    EXPECT_TRUE(
        vela::encodeRequest({Tool::kEngine, inst_.cgiDir(), args(slow_, "-f", name), {}}, bytes));
    const int fd = enginetest::connectTo(inst_.socketPath());
    std::string got;
    if (fd < 0 || send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) < 0 ||
        enginetest::readUntil(fd, got, 30, [](const std::string& g) { return !g.empty(); }) ||
        got != std::string(1, vela::kStartedByte)) {
      ADD_FAILURE() << "the slow request was not taken up";
      if (fd >= 0) close(fd);
      return -1;
    }
    return fd;
  }
  // Names of scratch files of interrupted writes.
  std::vector<std::string> partFiles() const {
    std::vector<std::string> parts;
    for (const auto& e : fs::directory_iterator(inst_.path("search-cgi/tmp")))
      if (e.path().filename().string().find(".part") != std::string::npos)
        parts.push_back(e.path().filename().string());
    return parts;
  }

  EngineInstall inst_;
  std::string base_, slow_, expectedBase_, expectedSlow_;
};

TEST_F(EngineServiceLife, KilledInTheMiddleOfARequest) {
  inst_.startService();
  // Taken up, then the service dies: the request ends without an answer and
  // without a part of a result.
  const int fd = startedSlow("cut");
  ASSERT_GE(fd, 0);
  ASSERT_EQ(inst_.stopService(SIGKILL), 128 + SIGKILL);
  std::string got;
  EXPECT_TRUE(enginetest::readToEnd(fd, got, 30));
  EXPECT_EQ(got, "");
  close(fd);
  const std::string cut = readFile(inst_.path("search-cgi/tmp/cut"));
  EXPECT_TRUE(cut.empty() || cut == expectedSlow_) << cut.size();

  // A program whose service dies under it makes the search itself.
  inst_.startService();
  const std::string path = claim("killed");
  const pid_t program = enginetest::startProgram(inst_.path("binind/vela25_0.exe"),
                                                 args(slow_, "-f", "killed"), inst_.cgiDir());
  usleep(300 * 1000);
  inst_.stopService(SIGKILL);
  EXPECT_EQ(enginetest::waitWithin(program, 60), 0);
  EXPECT_EQ(readFile(path), expectedSlow_);
  // Its socket is left behind: the programs find nobody there and search alone.
  EXPECT_TRUE(fs::is_socket(inst_.socketPath()));
  EXPECT_EQ(thin(base_, "apple", "alone"), expectedBase_);
  inst_.startService();
  EXPECT_EQ(served(base_, "apple", "again"), expectedBase_);
  EXPECT_EQ(served(slow_, "-f", "again-slow"), expectedSlow_);
}

TEST_F(EngineServiceLife, AStalledServiceCostsASearchOnlyTheWait) {
  inst_.write("setting/engine_service.cfg", "AUTO_START=no\n");  // the default wait
  const pid_t pid = inst_.startService({"--threads", "1"});
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  EXPECT_EQ(thin(base_, "apple", "stalled"), expectedBase_);
  testutil::writeFile(inst_.path("search-cgi/tmp/stalled"), "mark");
  ASSERT_EQ(kill(pid, SIGCONT), 0);
  // The request it never took up is dropped when it wakes (one worker: before
  // the next), not run late over the result the program made.
  EXPECT_EQ(served(base_, "apple", "resumed"), expectedBase_);
  EXPECT_EQ(readFile(inst_.path("search-cgi/tmp/stalled")), "mark");
}

TEST_F(EngineServiceLife, RestartedWhileRequestsArrive) {
  inst_.startService();
  std::atomic<bool> stop{false};
  std::atomic<int> runs{0}, wrong{0};
  std::thread searches([&] {
    for (int i = 0; !stop || i < 20; ++i) {
      const std::string name = "run" + std::to_string(i);
      const std::string path = claim(name);
      const e2e::RunResult r = inst_.run("binind/vela25_0.exe", args(base_, "apple", name));
      if (r.exitStatus != 0 || readFile(path) != expectedBase_) ++wrong;
      ++runs;
    }
  });
  for (int round = 0; round < 4; ++round) {
    usleep(100 * 1000);
    inst_.stopService(round % 2 ? SIGKILL : SIGTERM);
    usleep(50 * 1000);
    inst_.startService();
  }
  stop = true;
  searches.join();
  EXPECT_EQ(wrong, 0) << "of " << runs;
  EXPECT_GE(runs, 20);
  EXPECT_EQ(served(base_, "apple", "after"), expectedBase_);
}

TEST_F(EngineServiceLife, ARebuiltIndexIsSearchedFromTheNextRequestOn) {
  inst_.startService();
  const std::string none = served(base_, "cider", "before");
  EXPECT_EQ(none, "cider\n" + std::string(1, '\0'));
  std::atomic<bool> stop{false};
  std::atomic<int> unanswered{0}, failed{0};
  std::string firstError;
  std::thread searches([&] {
    for (int i = 0; !stop; ++i) {
      const std::string name = "during" + std::to_string(i);
      claim(name);
      const Reply r = enginetest::askRaw(inst_.socketPath(), Tool::kEngine, inst_.cgiDir(),
                                         args(base_, "apple", name));
      unanswered += !r.answered;
      if (r.answered && r.answer.status != 0 && failed++ == 0) firstError = r.answer.err;
    }
  });
  inst_.doc("base", "c.txt", "apple cider\n");
  for (const std::vector<std::string>& step :
       {std::vector<std::string>{"update", "--id", "base", inst_.docs("base")},
        {"rebuild", "--id", "base"}}) {
    const e2e::RunResult r = inst_.builder(step);
    ASSERT_EQ(r.exitStatus, 0) << r.err;
  }
  const std::string after = served(base_, "cider", "after");
  stop = true;
  searches.join();
  EXPECT_EQ(unanswered, 0);
  EXPECT_EQ(failed, 0) << firstError;
  EXPECT_EQ(after.substr(0, 7), "cider\n\x01");  // one hit
  // The replaced build is closed, not kept open beside the new one.
  int deleted = 0;
  EXPECT_EQ(openIndexes(inst_.servicePid(), &deleted), std::set<std::string>{base_});
  EXPECT_EQ(deleted, 0);

  // A database index created again from another table.
  inst_.write("tables/t.csv", "name\nalpha\n");
  inst_.write("tables/u.csv", "name\nbeta\ngamma beta\n");
  for (const char* table : {"t.csv", "u.csv"}) {
    inst_.buildIndex({"create", "--owner", "alice", "--id", "db", "--type", "db",
                      inst_.path(std::string("tables/") + table)});
    const std::string hits = served(inst_.home("db"), "beta", table);
    EXPECT_EQ(hits.substr(0, 6), table[0] == 't' ? "beta\n\x00"s : "beta\n\x02"s) << table;
  }
}

TEST_F(EngineServiceLife, AClientKilledMidRunLeavesNoHalfResult) {
  // One run at a time, so that the quick request after each slow one ends
  // only when the slow one has: every program below finds the service idle.
  inst_.startService({"--threads", "1"});
  // A client gone as soon as its run has begun: nothing is written for it.
  const int fd = startedSlow("gone");
  if (fd >= 0) close(fd);
  EXPECT_EQ(served(base_, "apple", "next"), expectedBase_);
  EXPECT_EQ(readFile(inst_.path("search-cgi/tmp/gone")), "");
  // Programs killed at moments spread over their run.
  std::vector<std::string> names;
  for (int i = 0; i < 6; ++i) {
    names.push_back("killed" + std::to_string(i));
    claim(names.back());
    const pid_t program = enginetest::startProgram(inst_.path("binind/vela25_0.exe"),
                                                   args(slow_, "-f", names.back()), inst_.cgiDir());
    usleep(static_cast<useconds_t>(i * 150 * 1000));
    kill(program, SIGKILL);
    enginetest::waitWithin(program, 30);
    EXPECT_EQ(served(base_, "apple", "after" + std::to_string(i)), expectedBase_);
  }
  for (const std::string& name : names) {
    const std::string bytes = readFile(inst_.path("search-cgi/tmp/" + name));
    EXPECT_TRUE(bytes.empty() || bytes == expectedSlow_) << name << " " << bytes.size();
  }
  EXPECT_EQ(partFiles(), std::vector<std::string>{});
}

TEST_F(EngineServiceLife, OpenIndexesStayWithinTheCap) {
  std::vector<std::string> homes{base_};
  for (int i = 0; i < 5; ++i) {
    const std::string id = "small" + std::to_string(i);
    inst_.doc(id, "a.txt", "apple " + id + "\n");
    homes.push_back(inst_.create(id, id));
  }
  const pid_t pid = inst_.startService({"--max-open", "2", "--threads", "2"});
  int firstRound = 0, largest = 0;  // engine database files held
  for (int round = 0; round < 6; ++round) {
    for (size_t h = 0; h < homes.size(); ++h) {
      const std::string name = "r" + std::to_string(round) + "-" + std::to_string(h);
      EXPECT_NE(served(homes[h], "apple", name), "");
      int fds = 0;
      const std::set<std::string> open = openIndexes(pid, nullptr, &fds);
      EXPECT_LE(open.size(), 2u) << round << " " << h;
      EXPECT_EQ(open.count(homes[h]), 1u);  // the one just searched stays
      largest = std::max(largest, fds);
    }
    if (round == 0) firstRound = largest;
  }
  EXPECT_EQ(largest, firstRound);  // later rounds hold no more descriptors
}

}  // namespace
