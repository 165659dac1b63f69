/// @file engine_exchange_test.cc
/// @brief Engine runs handed to the engine service: which programs go, that
/// a served run ends as the program would, that prefetched runs go out
/// together, and that every way the service can fail leaves the run to the
/// program.

#include "search/engine_exchange.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "system/child_process.h"
#include "system/scratch_files.h"
#include "tests/test_util.h"

namespace {

using testutil::TempDir;

// A stand-in for the service: it reads each request and does what the test
// says. With `holdUntil`, no request is answered before that many have come
// in (or five seconds passed, when every answer says 99).
class FakeService {
 public:
  enum class Act { kAnswer, kDropAfterStart, kStallBeforeStart, kStallAfterStart };
  using Script = std::function<Act(const vela::ToolRequest&, int& status)>;

  FakeService(const std::string& socketPath, Script script, size_t holdUntil = 0)
      : script_(std::move(script)), holdUntil_(holdUntil) {
    listener_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    if (bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listener_, 64) != 0)
      ADD_FAILURE() << "cannot listen on " << socketPath;
    acceptor_ = std::thread([this] { acceptLoop(); });
  }
  ~FakeService() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    for (std::thread& t : connections_)
      t.join();
    close(listener_);
  }
  // Results every answer carries (as the second form, to a request of it).
  void answerFiles(std::vector<vela::CarriedFile> files) {
    std::lock_guard<std::mutex> lock(mutex_);
    files_ = std::move(files);
  }
  // The output and the error text of every answer.
  void answerTexts(std::string out, std::string err) {
    std::lock_guard<std::mutex> lock(mutex_);
    out_ = std::move(out);
    err_ = std::move(err);
  }
  std::vector<vela::ToolRequest> requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // Connections the client closed while their run was still going.
  int abandoned() const { return abandoned_; }

 private:
  void acceptLoop() {
    for (;;) {
      const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) return;
      connections_.emplace_back([this, fd] { serve(fd); });
    }
  }
  void serve(int fd) {
    std::string bytes;
    vela::ToolRequest request;
    size_t used = 0;
    char piece[4096];
    while (vela::decodeRequest(bytes, request, used) == vela::Decoded::kNeedMore) {
      const ssize_t n = recv(fd, piece, sizeof piece, 0);
      if (n <= 0) break;
      bytes.append(piece, static_cast<size_t>(n));
    }
    int status = 0;
    const Act act = script_(request, status);
    std::unique_lock<std::mutex> lock(mutex_);
    requests_.push_back(request);
    changed_.notify_all();
    const bool released = changed_.wait_for(
        lock, std::chrono::seconds(5), [&] { return stopping_ || requests_.size() >= holdUntil_; });
    lock.unlock();
    if (!released) status = 99;
    if (act != Act::kStallBeforeStart) send(fd, "S", 1, MSG_NOSIGNAL);
    if (act == Act::kAnswer) {
      std::string answer;
      lock.lock();
      const vela::ToolAnswer reply{status, out_, err_, files_};
      lock.unlock();
      vela::encodeAnswer(reply, answer, !request.files.empty());
      send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
    } else if (act != Act::kDropAfterStart) {
      // Stalled until the client leaves or the test ends.
      pollAbandoned(fd);
    }
    close(fd);
  }
  void pollAbandoned(int fd) {
    for (int i = 0; i < 500; ++i) {
      char byte;
      if (recv(fd, &byte, 1, MSG_DONTWAIT) == 0) {
        ++abandoned_;
        return;
      }
      std::unique_lock<std::mutex> lock(mutex_);
      if (changed_.wait_for(lock, std::chrono::milliseconds(10), [&] { return stopping_; })) return;
    }
  }

  Script script_;
  size_t holdUntil_;
  int listener_ = -1;
  std::thread acceptor_;
  std::vector<std::thread> connections_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<vela::ToolRequest> requests_;
  std::vector<vela::CarriedFile> files_;
  std::string out_ = "out", err_ = "err";
  bool stopping_ = false;
  std::atomic<int> abandoned_{0};
};

// A program at `path` that ends with status 1 (a copy of /bin/false).
void installFalse(const std::string& path) {
  testutil::writeFile(path, testutil::readFile("/bin/false"));
  chmod(path.c_str(), 0755);
}

// An installation whose engine program, started as a process, ends with
// status 1 (a copy of /bin/false): a served run is told apart by its status.
class EngineExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cgi_ = testutil::makeInstallSkeleton(dir_.path());
    testutil::makeDirs(dir_.sub("binind"));
    testutil::makeDirs(dir_.sub("run"));
    for (const char* name : {"binind/vela25_0.exe", "search-cgi/search_relterm.exe"})
      installFalse(dir_.sub(name));
    settings("WAIT_MS=2000\n");
  }
  void TearDown() override { setProgramService(nullptr); }
  void settings(const std::string& text) {
    testutil::writeFile(dir_.sub("setting/engine_service.cfg"), text);
  }
  std::string socketPath() const { return dir_.sub("run/engine.sock"); }

  static ChildProgram program(std::vector<std::string> argv, int limitMs = 0) {
    ChildProgram p;
    p.argv = std::move(argv);
    p.streams = ChildProgram::Streams::kQuiet;
    p.limitMs = limitMs;
    return p;
  }
  // The exit status of a run through `exchange`, or -1 when it did not end.
  static int statusOf(EngineExchange& exchange, const ChildProgram& p) {
    setProgramService(&exchange);
    const ChildOutcome outcome = runChildProgram(p);
    setProgramService(nullptr);
    if (outcome.how != ChildOutcome::How::kEnded || !WIFEXITED(outcome.rawStatus)) return -1;
    return WEXITSTATUS(outcome.rawStatus);
  }

  TempDir dir_;
  std::string cgi_;
};

FakeService::Script answerWith(int status) {
  return [status](const vela::ToolRequest&, int& out) {
    out = status;
    return FakeService::Act::kAnswer;
  };
}

TEST_F(EngineExchangeTest, OnlyTheInstallationsSearchProgramsGoToTheService) {
  FakeService service(socketPath(), answerWith(3));
  testutil::ScopedCwd cwd(cgi_);
  EngineExchange exchange;
  ASSERT_TRUE(exchange.usable());
  EXPECT_EQ(statusOf(exchange, program({"../binind/vela25_0.exe", "-H", "x", "-o", "y"})), 3);
  EXPECT_EQ(statusOf(exchange, program({"./search_relterm.exe", "-L", "10"})), 3);
  const std::vector<vela::ToolRequest> seen = service.requests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].tool, vela::Tool::kEngine);
  EXPECT_EQ(seen[0].args, (std::vector<std::string>{"-H", "x", "-o", "y"}));
  char real[PATH_MAX];
  ASSERT_NE(realpath(cgi_.c_str(), real), nullptr);
  EXPECT_EQ(seen[0].cwd, real);
  EXPECT_EQ(seen[1].tool, vela::Tool::kRelTerm);

  // Started as processes: another name, a program of another installation,
  // one that is not there, one whose output or environment is wanted.
  TempDir other;
  testutil::makeInstallSkeleton(other.path());
  installFalse(other.sub("binind/vela25_0.exe"));
  installFalse(dir_.sub("binind/other.exe"));
  EXPECT_EQ(statusOf(exchange, program({"../binind/other.exe"})), 1);
  EXPECT_EQ(statusOf(exchange, program({other.sub("binind/vela25_0.exe")})), 1);
  EXPECT_EQ(statusOf(exchange, program({"../binind/date_range.exe"})), 127);
  ChildProgram wanted = program({"../binind/vela25_0.exe"});
  wanted.env = {"A=b"};
  EXPECT_EQ(statusOf(exchange, wanted), 1);
  EXPECT_EQ(service.requests().size(), 2u);
  EXPECT_EQ(exchange.served(), 2u);
}

// What a process learnt of a program holds for its later runs only while
// the program is the file it looked at, with the same mode.
TEST_F(EngineExchangeTest, AProgramChangedBetweenRunsIsLookedAtAgain) {
  FakeService service(socketPath(), answerWith(3));
  testutil::ScopedCwd cwd(cgi_);
  TempDir other;
  testutil::makeInstallSkeleton(other.path());
  installFalse(other.sub("binind/vela25_0.exe"));
  const std::string path = dir_.sub("binind/vela25_0.exe");
  const auto servedRun = [&] {
    EngineExchange exchange;
    statusOf(exchange, program({"../binind/vela25_0.exe"}));
    return exchange.served() == 1;
  };
  EXPECT_TRUE(servedRun());
  EXPECT_TRUE(servedRun());
  // Now a link to another installation's program.
  ASSERT_EQ(unlink(path.c_str()), 0);
  ASSERT_EQ(symlink(other.sub("binind/vela25_0.exe").c_str(), path.c_str()), 0);
  EXPECT_FALSE(servedRun());
  ASSERT_EQ(unlink(path.c_str()), 0);
  installFalse(path);
  EXPECT_TRUE(servedRun());
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  EXPECT_FALSE(servedRun());
  EXPECT_EQ(service.requests().size(), 3u);
}

// The renderer's page goes with its words and the run's page variables,
// and what the service wrote comes back; an answer with an error text, a run
// with a time zone of its own, and the renderer run as any other program
// are left to the renderer.
TEST_F(EngineExchangeTest, ThePageGoesWithItsWordsAndPageVariablesOnly) {
  FakeService service(socketPath(), answerWith(4));
  service.answerTexts("the page", "");
  installFalse(dir_.sub("search-cgi/getfilelist.exe"));
  testutil::ScopedCwd cwd(cgi_);
  EngineExchange exchange;
  EXPECT_TRUE(exchange.takesOutputOf("./getfilelist.exe"));
  EXPECT_FALSE(exchange.takesOutputOf("../binind/vela25_0.exe"));
  ChildProgram page = program({"./getfilelist.exe", "../tmp/query1", "N", "2"});
  page.env = {"PATH=/bin", "HTTPS=on", "REQUEST_METHOD="};
  int work = 0;
  page.whileRunning = [&] { ++work; };
  ChildOutcome outcome;
  std::string out;
  bool workDone = false;
  ASSERT_TRUE(exchange.runForOutput(page, outcome, out, workDone, -1));
  EXPECT_EQ(out, "the page");
  EXPECT_TRUE(outcome.how == ChildOutcome::How::kEnded && WEXITSTATUS(outcome.rawStatus) == 4);
  EXPECT_TRUE(workDone);
  EXPECT_EQ(work, 1);
  ASSERT_EQ(service.requests().size(), 1u);
  EXPECT_EQ(service.requests()[0].tool, vela::Tool::kPage);
  EXPECT_EQ(service.requests()[0].args,
            (std::vector<std::string>{"HTTPS=on", "--", "../tmp/query1", "N", "2"}));

  page.env.push_back("TZ=Asia/Tokyo");
  EXPECT_FALSE(exchange.runForOutput(page, outcome, out, workDone, -1));
  EXPECT_FALSE(workDone);
  EXPECT_EQ(service.requests().size(), 1u);
  page.env.pop_back();
  service.answerTexts("", "getfilelist.exe: refused: no\n");
  EXPECT_FALSE(exchange.runForOutput(page, outcome, out, workDone, -1));
  EXPECT_TRUE(workDone);
  EXPECT_EQ(statusOf(exchange, program({"./getfilelist.exe", "../tmp/query1"})), 1);
  EXPECT_EQ(service.requests().size(), 2u);
}

TEST_F(EngineExchangeTest, PrefetchedRunsGoOutTogetherAndAreClaimedByTheirRuns) {
  // No answer before all three requests are in: runs made one after
  // another would each wait for the hold to time out (status 99).
  FakeService service(
      socketPath(),
      [](const vela::ToolRequest& r, int& status) {
        status = std::stoi(r.args.back());
        return FakeService::Act::kAnswer;
      },
      3);
  testutil::ScopedCwd cwd(cgi_);
  EngineExchange exchange;
  std::vector<ChildProgram> runs;
  for (int i = 1; i <= 3; ++i)
    runs.push_back(program({"../binind/vela25_0.exe", "-n", std::to_string(10 + i)}, 60000));
  setProgramService(&exchange);
  prefetchPrograms(runs);
  setProgramService(nullptr);
  // Claimed in another order than sent, each gets its own answer.
  EXPECT_EQ(statusOf(exchange, runs[2]), 13);
  EXPECT_EQ(statusOf(exchange, runs[0]), 11);
  EXPECT_EQ(statusOf(exchange, runs[1]), 12);
  EXPECT_EQ(service.requests().size(), 3u);
  // A run that differs in its limit is another run: it is asked anew.
  EXPECT_EQ(statusOf(exchange, program({"../binind/vela25_0.exe", "-n", "11"}, 5)), 11);
  EXPECT_EQ(service.requests().size(), 4u);
}

TEST_F(EngineExchangeTest, WhatTheServiceDoesNotAnswerIsLeftToTheProgram) {
  testutil::ScopedCwd cwd(cgi_);
  const ChildProgram run = program({"../binind/vela25_0.exe", "-H", "x"});
  {
    EngineExchange exchange;  // no service at all
    EXPECT_EQ(statusOf(exchange, run), 1);
  }
  settings("WAIT_MS=100\n");
  for (FakeService::Act act :
       {FakeService::Act::kStallBeforeStart, FakeService::Act::kDropAfterStart}) {
    // Busy past WAIT_MS; taken up and then ended (the service killed).
    FakeService service(socketPath(), [act](const vela::ToolRequest&, int&) { return act; });
    EngineExchange exchange;
    EXPECT_EQ(statusOf(exchange, run), 1);
    EXPECT_EQ(exchange.leftToProcesses(), 1u);
    unlink(socketPath().c_str());
  }
  // A socket left behind by a killed service.
  { FakeService service(socketPath(), answerWith(3)); }
  EngineExchange afterDeath;
  EXPECT_EQ(statusOf(afterDeath, run), 1);
  unlink(socketPath().c_str());

  settings("EXCHANGE=no\nWAIT_MS=2000\n");
  FakeService service(socketPath(), answerWith(3));
  EngineExchange off;
  EXPECT_EQ(statusOf(off, run), 1);
  EXPECT_TRUE(service.requests().empty());
  EXPECT_FALSE(off.usable());
}

TEST_F(EngineExchangeTest, ARunPastItsLimitEndsKilledAndIsDropped) {
  FakeService service(socketPath(), [](const vela::ToolRequest&, int&) {
    return FakeService::Act::kStallAfterStart;
  });
  testutil::ScopedCwd cwd(cgi_);
  EngineExchange exchange;
  setProgramService(&exchange);
  const ChildOutcome outcome = runChildProgram(program({"../binind/vela25_0.exe"}, 100));
  setProgramService(nullptr);
  EXPECT_EQ(outcome.how, ChildOutcome::How::kTimedOut);
  EXPECT_TRUE(WIFSIGNALED(outcome.rawStatus) && WTERMSIG(outcome.rawStatus) == SIGKILL);
  // The service hears that the run is no longer wanted.
  for (int i = 0; i < 200 && service.abandoned() == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(service.abandoned(), 1);
}

TEST_F(EngineExchangeTest, MemoryFilesGoAlongAndOnlyTheRunsOwnResultsComeBack) {
  int calls = 0;
  FakeService service(socketPath(), [&calls](const vela::ToolRequest&, int& status) {
    status = 0;
    return ++calls == 1 ? FakeService::Act::kAnswer : FakeService::Act::kDropAfterStart;
  });
  testutil::ScopedCwd cwd(cgi_);
  scratch::keepInMemory(true);
  std::string out, terms, other;
  ASSERT_TRUE(scratch::claim("query", out));
  ASSERT_TRUE(scratch::claim("qstring", terms));
  ASSERT_TRUE(scratch::claim("query", other));
  ASSERT_TRUE(scratch::write(terms, "apple"));
  service.answerFiles({{out, "hits"}, {other, "not its own"}});
  EngineExchange exchange;
  const ChildProgram run = program({"../binind/vela25_0.exe", "-o", out, "-f", terms});
  EXPECT_EQ(statusOf(exchange, run), 0);
  const std::vector<vela::ToolRequest> seen = service.requests();
  ASSERT_EQ(seen.size(), 1u);
  ASSERT_EQ(seen[0].files.size(), 2u);
  EXPECT_EQ(std::tie(seen[0].files[0].path, seen[0].files[0].bytes), std::tie(out, ""));
  EXPECT_EQ(seen[0].files[1].bytes, "apple");
  std::string bytes;
  ASSERT_TRUE(scratch::read(out, bytes, 100));
  EXPECT_EQ(bytes, "hits");
  EXPECT_FALSE(scratch::read(other, bytes, 100));

  // Left to the program after all: it finds its files on disk.
  EXPECT_EQ(statusOf(exchange, run), 1);
  EXPECT_FALSE(scratch::inMemory(terms));
  EXPECT_EQ(testutil::readFile(terms), "apple");
  EXPECT_EQ(testutil::readFile(out), "hits");
  for (const std::string& path : {out, terms, other})
    scratch::remove(path);
  scratch::keepInMemory(false);
}

// An engine inside the process: answers with the status its last argument
// names and, for a request carrying files, "made" into each; a request whose
// last argument is "hold" waits until the test lets it go.
class InsideEngine final : public velaservice::LocalEngine {
 public:
  vela::ToolAnswer answer(const vela::ToolRequest& request,
                          const std::function<bool()>& stillWanted) override {
    std::unique_lock<std::mutex> lock(mutex_);
    asked_.push_back(request.args);
    if (request.args.back() == "hold") {
      held_ = true;
      changed_.notify_all();
      changed_.wait(lock, [this] { return !holding_; });
    }
    vela::ToolAnswer answer;
    answer.status = request.args.back() == "hold" ? 5 : std::stoi(request.args.back());
    if (request.tool == vela::Tool::kPage) answer.out = "page of " + request.args.back();
    if (stillWanted())
      for (const vela::CarriedFile& file : request.files)
        answer.files.push_back({file.path, "made"});
    return answer;
  }
  // False when no request came to be held within ten seconds.
  bool waitUntilHeld() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return held_; });
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    holding_ = false;
    changed_.notify_all();
  }
  std::vector<std::vector<std::string>> asked() {
    std::lock_guard<std::mutex> lock(mutex_);
    return asked_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool held_ = false, holding_ = true;
  std::vector<std::vector<std::string>> asked_;
};

class EngineInsideTest : public EngineExchangeTest {
 protected:
  void SetUp() override {
    EngineExchangeTest::SetUp();
    velaservice::setLocalEngine(&engine_);
  }
  void TearDown() override {
    velaservice::setLocalEngine(nullptr);
    EngineExchangeTest::TearDown();
  }
  InsideEngine engine_;
};

// With the engine inside, no service need run: runs, results and the page
// are answered in the process, each request once, whoever makes it.
TEST_F(EngineInsideTest, RunsAndPagesAreAnsweredInTheProcessWithoutAService) {
  testutil::ScopedCwd cwd(cgi_);
  scratch::keepInMemory(true);
  std::string out;
  ASSERT_TRUE(scratch::claim("query", out));
  {
    EngineExchange exchange;
    EXPECT_EQ(statusOf(exchange, program({"../binind/vela25_0.exe", "-o", out, "6"})), 6);
    std::string bytes;
    ASSERT_TRUE(scratch::read(out, bytes, 100));
    EXPECT_EQ(bytes, "made");
    // Handed over ahead, claimed in another order: each answer its own.
    std::vector<ChildProgram> runs;
    for (int i = 1; i <= 4; ++i)
      runs.push_back(program({"../binind/vela25_0.exe", std::to_string(10 + i)}, 60000));
    setProgramService(&exchange);
    prefetchPrograms(runs);
    setProgramService(nullptr);
    for (int i : {3, 0, 2, 1})
      EXPECT_EQ(statusOf(exchange, runs[i]), 11 + i);
    // The page, with no service socket to ask.
    installFalse(dir_.sub("search-cgi/getfilelist.exe"));
    EXPECT_TRUE(exchange.takesOutputOf("./getfilelist.exe"));
    ChildOutcome outcome;
    std::string page;
    bool workDone = false;
    ASSERT_TRUE(exchange.runForOutput(program({"./getfilelist.exe", "../tmp/query1", "7"}), outcome,
                                      page, workDone, -1));
    EXPECT_EQ(page, "page of 7");
    EXPECT_EQ(WEXITSTATUS(outcome.rawStatus), 7);
  }
  EXPECT_EQ(engine_.asked().size(), 6u);
  scratch::remove(out);
  scratch::keepInMemory(false);

  // Switched off for the installation: the program runs (/bin/false).
  settings("EXCHANGE=no\n");
  EngineExchange off;
  EXPECT_EQ(statusOf(off, program({"../binind/vela25_0.exe", "6"})), 1);
  EXPECT_EQ(engine_.asked().size(), 6u);
}

// Requests handed over ahead are made by a helper while the caller goes
// on, and a run's end waits for one being made, so that nothing of a run
// outlives it.
TEST_F(EngineInsideTest, RequestsAheadRunBesideTheCallerAndTheRunsEndWaitsForThem) {
  testutil::ScopedCwd cwd(cgi_);
  std::atomic<bool> ended{false};
  bool madeAside = false;
  std::thread run([&] {
    {
      EngineExchange exchange;
      setProgramService(&exchange);
      prefetchPrograms({program({"../binind/vela25_0.exe", "hold"})});
      setProgramService(nullptr);
      // This thread never claims it: a helper makes it.
      madeAside = engine_.waitUntilHeld();
    }
    ended = true;
  });
  ASSERT_TRUE(engine_.waitUntilHeld());
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(ended.load());
  engine_.release();
  run.join();
  EXPECT_TRUE(madeAside);
  EXPECT_TRUE(ended.load());
}

}  // namespace
