/// @file run_handoff_test.cc
/// @brief Runs handed to resident workers: the request's form, and real
/// workers serving callers with their own streams.

#include "system/run_handoff.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "system/descriptor_passing.h"
#include "system/local_socket.h"
#include "tests/test_util.h"

namespace {

using handoff::HandedRun;

TEST(HandedRunForm, RoundTripsAndRefusesWhatIsNotOneWholeRun) {
  HandedRun run;
  run.cwd = "/srv/search-cgi";
  run.umask = 027;
  run.args = {"searchrun", "a b", ""};
  run.env = {"QUERY_STRING=query=x&y=", "EMPTY="};
  const std::string bytes = handoff::encodeRun(run);
  HandedRun back;
  ASSERT_TRUE(handoff::decodeRun(bytes, back));
  EXPECT_EQ(run.cwd, back.cwd);
  EXPECT_EQ(run.umask, back.umask);
  EXPECT_EQ(run.args, back.args);
  EXPECT_EQ(run.env, back.env);

  const std::function<void(HandedRun&)> breaks[] = {
      [](HandedRun& r) { r.cwd = "relative"; },
      [](HandedRun& r) { r.args.clear(); },
      [](HandedRun& r) { r.env.push_back("NOVALUE"); },
      [](HandedRun& r) { r.env.push_back("=x"); },
      [](HandedRun& r) { r.args.push_back(std::string("a\0b", 3)); },
      [](HandedRun& r) { r.umask = 01000; },
  };
  for (const auto& breakIt : breaks) {
    HandedRun r = run;
    breakIt(r);
    EXPECT_FALSE(handoff::decodeRun(handoff::encodeRun(r), back)) << &breakIt - breaks;
  }
  EXPECT_FALSE(handoff::decodeRun(bytes.substr(0, bytes.size() - 1), back));
  EXPECT_FALSE(handoff::decodeRun(bytes + "x", back));
  EXPECT_FALSE(handoff::decodeRun("XXXX" + bytes.substr(4), back));
  // A count far beyond the bytes: refused, not allocated.
  std::string huge = bytes;
  huge[8] = huge[9] = huge[10] = '\x7f';
  EXPECT_FALSE(handoff::decodeRun(huge, back));
}

// A worker that claims a run but says so only after its caller stopped
// waiting: the run is the worker's all the same, and the caller reports
// its end; a worker that finds the claim taken back leaves the run alone.
TEST(HandOver, WhoeverTakesTheClaimMakesTheRun) {
  const testutil::TempDir dir;
  const std::string path = dir.sub("front.sock");
  const int listener = listenLocal(path, false);
  ASSERT_GE(listener, 0);
  for (const bool late : {true, false}) {
    bool claimed = false;
    std::thread worker([&] {
      const int conn = accept(listener, nullptr, nullptr);
      if (conn < 0) return;
      uint32_t len = 0;
      std::vector<int> fds;
      receiveWithDescriptors(conn, &len, sizeof len, fds, 4);
      std::string body(len, '\0');
      recv(conn, body.data(), len, MSG_WAITALL);
      // Claims at once but speaks past the caller's patience, or is busy
      // past it before it looks at the claim.
      char byte = 0;
      if (late) claimed = fds.size() == 4 && read(fds[3], &byte, 1) == 1;
      usleep(300 * 1000);
      if (!late) claimed = fds.size() == 4 && read(fds[3], &byte, 1) == 1;
      if (claimed) send(conn, "TE\x07", 3, MSG_NOSIGNAL);
      for (int fd : fds)
        close(fd);
      close(conn);
    });
    const int status = handoff::handOver(path, {"searchrun"}, {"A=b"}, 50);
    worker.join();
    if (late) {
      EXPECT_TRUE(claimed);
      EXPECT_EQ(7, status);
    } else {
      EXPECT_FALSE(claimed);
      EXPECT_EQ(handoff::kNotHandedOver, status);
    }
  }
  close(listener);
}

// What the test program's runs leave in the process: a worker must not show
// it to the next run.
std::string g_left;

// A run: answers with what it was given, and acts on the word WORD.
int echoMain(int argc, char** argv) {
  std::string input;
  char buf[256];
  for (ssize_t n; (n = read(STDIN_FILENO, buf, sizeof buf)) > 0;)
    input.append(buf, static_cast<size_t>(n));
  const char* w = std::getenv("WORD");
  const std::string word = w ? w : "";
  const mode_t mask = umask(0);
  std::string args;
  for (int i = 0; i < argc; ++i)
    args += std::string(i ? " " : "") + argv[i];
  std::printf("args=%s word=%s stdin=%s left=%s umask=%03o pid=%d\n", args.c_str(), word.c_str(),
              input.c_str(), g_left.c_str(), static_cast<unsigned>(mask),
              static_cast<int>(getpid()));
  std::fflush(stdout);
  std::FILE* runs = std::fopen("runs.log", "a");
  std::fprintf(runs, "%s\n", word.c_str());
  std::fclose(runs);
  g_left = word;
  // A descriptor of the program's own state, opened in one run and looked
  // at in a later one; or many left open by a run.
  static int kept = -1;
  struct stat st;
  if (word == "open") kept = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (word == "use") std::printf(" kept=%s \n", fstat(kept, &st) == 0 ? "open" : "closed");
  if (word == "leak")
    for (size_t i = 0; i <= handoff::kMaxKeptDescriptors; ++i)
      open("/dev/null", O_RDONLY | O_CLOEXEC);
  std::fflush(stdout);
  if (word == "exit7") std::exit(7);
  if (word == "kill") raise(SIGKILL);
  if (word == "slow") sleep(1);
  if (word == "hang") {
    sleep(30);
    testutil::writeFile("hang-done", "");
  }
  return 3;
}

// Long enough that a loaded machine does not make a caller give up on a
// worker that is about to take its run.
constexpr int kPatientMs = 10000;

struct Caller {
  int status = -1;
  std::string out;
};

class HandoffWorkers : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = tmp_.path();
    socket_ = dir_ + "/w.sock";
    server_ = fork();
    if (server_ == 0) {
      if (chdir(dir_.c_str()) != 0) _exit(1);
      handoff::ServeOptions options;
      options.workers = 1;
      _exit(handoff::serveRuns(socket_, {echoMain, [] { g_left.clear(); }, keepsDescriptors()},
                               options));
    }
    for (int i = 0; i < 2000 && access(socket_.c_str(), F_OK) != 0; ++i)
      usleep(5000);
  }
  void TearDown() override {
    if (server_ > 0) stopServer();
  }
  virtual bool keepsDescriptors() const { return false; }
  void stopServer() {
    kill(server_, SIGTERM);
    int status = 0;
    waitpid(server_, &status, 0);
    server_ = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(0, access(socket_.c_str(), F_OK)) << "the socket outlived its workers";
  }

  // Starts a caller with `word` and `input` on its standard input, in
  // `cwd`; returns its pid and the read end of its output.
  pid_t start(const std::string& word, const std::string& input, int& outFd,
              int takeUpMs = kPatientMs, std::string cwd = "") {
    int in[2], out[2];
    EXPECT_EQ(0, pipe(in));
    EXPECT_EQ(0, pipe(out));
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(in[0], 0);
      dup2(out[1], 1);
      for (int fd : {in[0], in[1], out[0], out[1]})
        close(fd);
      if (chdir((cwd.empty() ? dir_ : cwd).c_str()) != 0) _exit(98);
      umask(026);
      const int status =
          handoff::handOver(socket_, {"searchrun", "-x", "two words"}, {"WORD=" + word}, takeUpMs);
      _exit(status == handoff::kNotHandedOver ? 99 : status);
    }
    close(in[0]);
    close(out[1]);
    EXPECT_EQ(static_cast<ssize_t>(input.size()), write(in[1], input.data(), input.size()));
    close(in[1]);
    outFd = out[0];
    return pid;
  }

  // Starts a caller with `word` and returns once the worker makes its run
  // (the first of the test).
  pid_t startRun(const std::string& word, int& outFd) {
    const pid_t pid = start(word, "", outFd);
    for (int i = 0; i < 400 && testutil::readFile(dir_ + "/runs.log").empty(); ++i)
      usleep(10000);
    EXPECT_EQ(word + "\n", testutil::readFile(dir_ + "/runs.log"));
    return pid;
  }

  // Reads the caller's output to its end (at most 20 s) and its status.
  static Caller finish(pid_t pid, int outFd) {
    Caller c;
    char buf[512];
    pollfd p{outFd, POLLIN, 0};
    while (poll(&p, 1, 20000) == 1) {
      const ssize_t n = read(outFd, buf, sizeof buf);
      if (n <= 0) break;
      c.out.append(buf, static_cast<size_t>(n));
    }
    close(outFd);
    int status = 0;
    waitpid(pid, &status, 0);
    c.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return c;
  }

  Caller call(const std::string& word, const std::string& input = "", int takeUpMs = kPatientMs,
              const std::string& cwd = "") {
    int outFd = -1;
    const pid_t pid = start(word, input, outFd, takeUpMs, cwd);
    return finish(pid, outFd);
  }

  static std::string field(const std::string& out, const std::string& name) {
    const size_t at = out.find(" " + name + "=");
    if (at == std::string::npos) return "?";
    const size_t from = at + name.size() + 2;
    return out.substr(from, out.find(' ', from) - from);
  }

  testutil::TempDir tmp_;
  std::string dir_, socket_;
  pid_t server_ = -1;
};

TEST_F(HandoffWorkers, OneWorkerMakesRunAfterRunWithEachCallersStreamsAndNothingLeft) {
  const Caller first = call("one", "posted body");
  EXPECT_EQ(3, first.status);
  EXPECT_EQ(0u, first.out.find("args=searchrun -x two words word=one stdin=posted body left= "))
      << first.out;
  EXPECT_EQ("026", field(first.out, "umask"));
  const Caller second = call("two");
  EXPECT_EQ(3, second.status);
  // The same process made both, and the first run's state was gone.
  EXPECT_EQ(field(first.out, "pid"), field(second.out, "pid"));
  EXPECT_EQ("", field(second.out, "left")) << second.out;
  EXPECT_EQ("one\ntwo\n", testutil::readFile(dir_ + "/runs.log"));
}

TEST_F(HandoffWorkers, RunsThatEndTheWorkerReportTheirEndAndAreReplaced) {
  const Caller exited = call("exit7");
  EXPECT_EQ(7, exited.status);
  EXPECT_NE(std::string::npos, exited.out.find("word=exit7")) << "output lost at exit";
  const Caller killed = call("kill");
  EXPECT_EQ(1, killed.status);
  const Caller next = call("after");
  EXPECT_EQ(3, next.status) << next.out;
  EXPECT_NE(field(exited.out, "pid"), field(next.out, "pid"));
}

TEST_F(HandoffWorkers, RunsNoWorkerTakesUpAreLeftToTheCallerAndNeverMadeLater) {
  // Another directory: another installation's run.
  const testutil::TempDir elsewhere;
  EXPECT_EQ(99, call("elsewhere", "", kPatientMs, elsewhere.path()).status);
  // The one worker is busy: the caller gives up waiting and makes its run.
  int slowOut = -1;
  const pid_t slow = start("slow", "", slowOut);
  for (int i = 0; i < 1000 && testutil::readFile(dir_ + "/runs.log").empty(); ++i)
    usleep(10000);
  EXPECT_EQ(99, call("impatient", "", 50).status);
  EXPECT_EQ(3, finish(slow, slowOut).status);
  EXPECT_EQ(3, call("last").status);
  EXPECT_EQ("slow\nlast\n", testutil::readFile(dir_ + "/runs.log"));

  const std::string gone = socket_;
  socket_ = dir_ + "/none.sock";
  EXPECT_EQ(99, call("nobody").status);
  socket_ = gone;
}

// A server stopped (its engine service gone) while a worker makes a run:
// the run was claimed, so its caller waits for it and gets it whole; later
// callers make their runs themselves.
TEST_F(HandoffWorkers, AStoppedServerFinishesTheRunItTookAndTakesNoMore) {
  int outFd = -1;
  const pid_t pid = startRun("slow", outFd);
  stopServer();
  const Caller slow = finish(pid, outFd);
  EXPECT_EQ(3, slow.status);
  EXPECT_NE(std::string::npos, slow.out.find("word=slow")) << slow.out;
  EXPECT_EQ(99, call("after").status);
}

TEST_F(HandoffWorkers, ACallerThatGoesAwayEndsItsRun) {
  int outFd = -1;
  const pid_t pid = startRun("hang", outFd);
  kill(pid, SIGKILL);
  finish(pid, outFd);
  // The worker ended with the run and was replaced.
  const Caller next = call("next");
  EXPECT_EQ(3, next.status) << next.out;
  EXPECT_NE(0, access((dir_ + "/hang-done").c_str(), F_OK));
}

// A run's descriptors end with it, also one the program meant to keep.
TEST_F(HandoffWorkers, DescriptorsARunLeftOpenAreClosed) {
  EXPECT_EQ(3, call("open").status);
  const Caller later = call("use");
  EXPECT_EQ("closed", field(later.out, "kept")) << later.out;
}

// A program whose state keeps descriptors (open indexes) keeps them from
// run to run; what runs leave open is bounded by replacing the worker.
class HandoffWorkersKeepingDescriptors : public HandoffWorkers {
 protected:
  bool keepsDescriptors() const override { return true; }
};

TEST_F(HandoffWorkersKeepingDescriptors, StateKeepsItsDescriptorsAndTooManyReplaceTheWorker) {
  const Caller opened = call("open");
  const Caller later = call("use");
  EXPECT_EQ("open", field(later.out, "kept")) << later.out;
  EXPECT_EQ(field(opened.out, "pid"), field(later.out, "pid"));
  const Caller leaking = call("leak");
  EXPECT_EQ(3, leaking.status);
  const Caller next = call("after");
  EXPECT_EQ(3, next.status) << next.out;
  EXPECT_NE(field(leaking.out, "pid"), field(next.out, "pid"));
}

}  // namespace
