/// @file process_runner_test.cc
/// @brief Starting programs without a shell: word splitting, exit kinds, output
/// routing, limits, and text that a shell would have acted upon; and worker
/// jobs: all started before the first join, each joined once, none left running
/// when their set goes away.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "search/process_runner.h"
#include "search/thread_object.h"
#include "system/child_process.h"
#include "tests/test_util.h"

namespace {

using testutil::readFile;

TEST(ArgvSplit, Table) {
  std::string many = "prog";
  for (int i = 1; i <= 20; ++i)
    many += " w" + std::to_string(i);
  const std::pair<const char*, CmdArgv> cases[] = {
      {"prog -a \"two words\" 'x y' z", {"prog", "-a", "two words", "x y", "z"}},
      {"  prog \"open to the end", {"prog", "open to the end"}},
      {"prog a\tb ab\"c d\"", {"prog", "a\tb", "ab\"c", "d\""}},
      {"prog \"a\"b 'c'\"d\"", {"prog", "a", "b", "c", "d"}},
      {"prog \"\" \"it's\" 'say \"hi\"'", {"prog", "", "it's", "say \"hi\""}},
      {"    ", {}},
      {nullptr, {}}};
  for (const auto& [cmd, expected] : cases) {
    CmdArgv argv = {"stale"};
    int count = -1;
    EXPECT_EQ(GetArgvFromCmd(cmd, argv, count), static_cast<int>(expected.size()));
    EXPECT_EQ(count, static_cast<int>(expected.size()));
    EXPECT_EQ(argv, expected) << (cmd ? cmd : "null");
  }
  // The first nineteen words are kept, all are counted.
  CmdArgv argv;
  int count = 0;
  EXPECT_EQ(GetArgvFromCmd(many.c_str(), argv, count), 21);
  ASSERT_EQ(argv.size(), static_cast<size_t>(kMaxArgvWords));
  EXPECT_EQ(argv.back(), "w18");
}

TEST(Runner, ExitCodesAndLimits) {
  std::string words = "/bin/true";
  for (int i = 1; i < kMaxArgvWords; ++i)
    words += " w";
  const std::string longest = "/bin/true " + std::string(kMaxCommandLine - 10, 'a');
  // clang-format off
  const std::pair<std::string, int> cases[] = {
      {"/bin/sh -c 'exit 3'", 3}, {"/bin/sh -c 'exit 205'", kExecFailed},
      {"sh -c 'kill -9 $$'", kExecFailed}, {"/nonexistent/program", kExecNotFoundExitCode},
      {"", kExecFailed}, {words, 0}, {words + " w", kExecFailed}, {longest, 0},
      {longest + "a", kExecFailed}};
  // clang-format on
  for (const auto& [cmd, expected] : cases) {
    EXPECT_EQ(executed_wait(cmd.c_str()), expected) << cmd;
    EXPECT_EQ(executed_wait_with_low_priority(cmd.c_str(), "x"), expected) << cmd;
  }
  // Raw statuses; the program's output goes nowhere.
  EXPECT_EQ(
      testutil::captureStdout([] { EXPECT_EQ(TS_system("/bin/sh -c 'echo x; exit 3'"), 3 << 8); }),
      "");
  EXPECT_EQ(TS_system("/nonexistent/program"), kExecNotFoundExitCode << 8);
  EXPECT_TRUE(WIFSIGNALED(TS_system("/bin/sh -c 'kill -9 $$'")));
  for (const std::string& refused : {std::string(), words + " w", longest + "a"})
    EXPECT_EQ(TS_system(refused.c_str()), -1);
  testutil::TempDir dir;
  testutil::writeFile(dir.sub("out"), "");
  EXPECT_EQ(getExecResultFromStdOut((words + " w").c_str(), dir.sub("out").c_str()), kExecFailed);
}

// A failed run gives no stream even though its result file exists: its
// scratch name was claimed by creating it. A run that ended well and wrote
// an empty file found nothing: its stream is read as a search without hits;
// one that left the claim as it was answered nothing.
TEST(Runner, ExecuteCmd) {
  testutil::TempDir dir;
  const std::string result = dir.sub("query00001");
  const std::tuple<std::string, bool, const char*> cases[] = {
      {"/bin/sh -c 'printf hit > " + result + "'", true, ""},
      {"/bin/sh -c 'exit 205'", false, "command failed\n"},
      {"/bin/sh -c 'kill -9 $$'", false, "command failed\n"},
      {"/nonexistent/engine", false, "create process failed\n"},
      {"/bin/sh -c 'rm " + result + "'", false, ""},
      {"/bin/sh -c ': > " + result + "'", true, ""},
      {"/bin/sh -c 'rm " + result + "; : > " + result + "'", true, ""},
      {"/bin/true", false, "command wrote no result\n"}};
  for (const auto& [cmd, opened, logged] : cases) {
    testutil::writeFile(result, "");  // the claimed scratch name
    ASSERT_TRUE(markResultUnwritten(result.c_str()));
    FILE* log = std::fopen(dir.sub("log").c_str(), "w");
    FILE* fp = ExecuteCmd(cmd.c_str(), result.c_str(), log);
    std::fclose(log);
    EXPECT_EQ(fp != nullptr, opened) << cmd;
    if (fp) std::fclose(fp);
    EXPECT_EQ(readFile(dir.sub("log")), "cmd:<" + cmd + ">\n" + logged);
  }
}

// Stands in for the engine service: takes every run, answers it with the
// exit status it is told and, when told, writes an empty result.
class EmptyAnswerService final : public ProgramService {
 public:
  bool run(const ChildProgram& program, ChildOutcome& outcome) override {
    ran.push_back(program.argv.front());
    if (writes) testutil::writeFile(program.argv.back(), "");
    outcome.how = ChildOutcome::How::kEnded;
    outcome.rawStatus = exitCode << 8;
    return true;
  }
  void prefetch(const std::vector<ChildProgram>&) override {}
  int exitCode = 0;
  bool writes = true;
  std::vector<std::string> ran;
};

// A run the service made reads as the program's own would.
TEST(Runner, ExecuteCmdThroughTheService) {
  testutil::TempDir dir;
  const std::string result = dir.sub("query00001");
  const std::string cmd = "/nonexistent/engine -o " + result;
  EmptyAnswerService service;
  setProgramService(&service);
  const auto opened = [&]() {
    testutil::writeFile(result, "");
    markResultUnwritten(result.c_str());
    FILE* fp = ExecuteCmd(cmd.c_str(), result.c_str(), nullptr);
    const bool empty = fp != nullptr && std::fgetc(fp) == EOF;
    if (fp) std::fclose(fp);
    return empty;
  };
  EXPECT_TRUE(opened());  // no hits
  service.exitCode = kExecReservedExitCode;
  EXPECT_FALSE(opened());
  service.exitCode = 0;
  service.writes = false;
  EXPECT_FALSE(opened());
  setProgramService(nullptr);
  EXPECT_EQ(service.ran.size(), 3u);
}

TEST(Runner, StandardOutputIntoFile) {
  testutil::TempDir dir;
  const std::string out = dir.sub("wildcard00001");
  testutil::writeFile(out, "stale content that must go");
  EXPECT_EQ(getExecResultFromStdOut("/bin/echo ab*c", out.c_str()), 0);
  EXPECT_EQ(readFile(out), "ab*c\n");
  EXPECT_EQ(getExecResultFromStdOut("/nonexistent/expander", out.c_str()), 0);
  EXPECT_EQ(readFile(out), "");
  EXPECT_EQ(getExecResultFromStdOut("/bin/echo x", dir.sub("no/dir").c_str()), kExecNoFile);
  // A name someone replaced by a link is never written through.
  testutil::writeFile(dir.sub("victim"), "keep");
  ASSERT_EQ(symlink(dir.sub("victim").c_str(), dir.sub("link").c_str()), 0);
  EXPECT_EQ(getExecResultFromStdOut("/bin/echo x", dir.sub("link").c_str()), kExecNoFile);
  EXPECT_EQ(readFile(dir.sub("victim")), "keep");
}

TEST(Runner, AProgramPastTheTimeLimitIsKilledAndItsRunFails) {
  setProgramTimeLimit(1);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(executed_wait("/bin/sleep 30"), kExecFailed);
  const int raw = TS_system("/bin/sleep 30");
  EXPECT_TRUE(WIFSIGNALED(raw) && WTERMSIG(raw) == SIGKILL);
  testutil::TempDir dir;
  testutil::writeFile(dir.sub("out"), "");
  EXPECT_EQ(getExecResultFromStdOut("/bin/sleep 30", dir.sub("out").c_str()), kExecFailed);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(executed_wait("/bin/sh -c 'exit 4'"), 4);  // quick programs are untouched
  setProgramTimeLimit(0);
}

// The caller's work runs while the child does: here the child waits for
// what that work sends it, so the work run before the start or after the
// wait would leave the child to the limit.
TEST(Runner, WorkWhileTheChildRuns) {
  testutil::TempDir dir;
  int in[2];
  ASSERT_EQ(pipe2(in, O_CLOEXEC), 0);
  const int out = open(dir.sub("out").c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  ASSERT_GE(out, 0);
  ChildProgram cat;
  cat.argv = {"/bin/cat"};
  cat.streams = ChildProgram::Streams::kToFd;
  cat.outFd = out;
  cat.inFd = in[0];
  cat.limitMs = 5000;
  cat.whileRunning = [&] {
    EXPECT_EQ(write(in[1], "page", 4), 4);
    close(in[1]);
  };
  const ChildOutcome done = runChildProgram(cat);
  close(in[0]);
  close(out);
  EXPECT_EQ(done.how, ChildOutcome::How::kEnded);
  EXPECT_EQ(readFile(dir.sub("out")), "page");

  // Its time counts against the limit.
  ChildProgram sleeper;
  sleeper.argv = {"/bin/sleep", "30"};
  sleeper.streams = ChildProgram::Streams::kQuiet;
  sleeper.limitMs = 300;
  sleeper.whileRunning = [] { usleep(250 * 1000); };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(runChildProgram(sleeper).how, ChildOutcome::How::kTimedOut);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));

  // No work for a program that never started.
  bool worked = false;
  ChildProgram missing;
  missing.argv = {dir.sub("missing")};
  missing.streams = ChildProgram::Streams::kQuiet;
  missing.whileRunning = [&] { worked = true; };
  EXPECT_EQ(WEXITSTATUS(runChildProgram(missing).rawStatus), kChildNotStartedExitCode);
  EXPECT_FALSE(worked);
}

bool processGone(pid_t pid) {
  // A child killed after its parent ended may stay a zombie where nothing
  // reaps orphans; it runs no more either way.
  std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
  const size_t close = stat.rfind(')');
  return stat.empty() || (close != std::string::npos && stat.compare(close, 3, ") Z") == 0);
}

TEST(Runner, ChildrenEndWhenASignalEndsTheRun) {
  testutil::TempDir dir;
  const std::string pidFile = dir.sub("pid");
  const pid_t run = fork();
  ASSERT_GE(run, 0);
  if (run == 0) {
    endChildrenWithRun();
    TS_system(("/bin/sh -c 'echo $$ > " + pidFile + "; exec sleep 30'").c_str());
    _exit(0);
  }
  pid_t program = 0;
  for (int i = 0; i < 500 && program == 0; ++i) {
    program = std::atoi(readFile(pidFile).c_str());
    if (program == 0) usleep(10000);
  }
  ASSERT_GT(program, 0);
  kill(run, SIGTERM);
  int status = 0;
  ASSERT_EQ(waitpid(run, &status, 0), run);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    gone = processGone(program);
    if (!gone) usleep(10000);
  }
  EXPECT_TRUE(gone);
}

// Text that a shell would expand or act upon reaches the program as it is,
// and nothing besides the program runs.
TEST(Runner, ShellSyntaxIsNeverInterpreted) {
  testutil::TempDir dir;
  testutil::ScopedCwd cwd(dir.path());
  const std::string x = dir.sub("X"), out = dir.sub("out");
  testutil::writeFile(out, "");
  const std::pair<std::string, std::string> cases[] = {
      {"/bin/echo $(touch X)", "$(touch X)"},
      {"/bin/echo \"$(touch " + x + ")\"", "$(touch " + x + ")"},
      {"/bin/echo `touch X`", "`touch X`"},
      {"/bin/echo a;touch X", "a;touch X"},
      {"/bin/echo a && touch X | touch X", "a && touch X | touch X"},
      {"/bin/echo 'a' \"b\" > X", "a b > X"},
      {"/bin/echo \"'$(touch X)'\"", "'$(touch X)'"},
      {"/bin/echo -bm \"-s -i\" '$(touch X)' -f \"`touch X`\"",
       "-bm -s -i $(touch X) -f `touch X`"}};
  for (const auto& [cmd, echoed] : cases) {
    EXPECT_EQ(getExecResultFromStdOut(cmd.c_str(), out.c_str()), 0) << cmd;
    EXPECT_EQ(readFile(out), echoed + "\n");
    EXPECT_EQ(executed_wait(cmd.c_str()), 0) << cmd;
    EXPECT_FALSE(testutil::fileExists(x)) << cmd;
  }
}

// A stand-in job: counts itself in, then waits (bounded) until `expected`
// jobs have come in. Only jobs that run at the same time all see the count.
class MeetingJob : public ThreadObject {
 public:
  MeetingJob(std::atomic<int>& arrived, int expected) : m_arrived(arrived), m_expected(expected) {}
  bool sawAll = false;
  int runs = 0;

 protected:
  void Execute(void*) override {
    ++runs;
    ++m_arrived;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (m_arrived.load() < m_expected && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    sawAll = m_arrived.load() >= m_expected;
  }

 private:
  std::atomic<int>& m_arrived;
  int m_expected;
};

TEST(ThreadedJobs, AParallelSetRunsEveryJobBeforeTheFirstJoinASequentialOneInOrder) {
  std::atomic<int> arrived{0};
  MeetingJob a(arrived, 3), b(arrived, 3), c(arrived, 3);
  ThreadedJobs jobs(true);
  for (MeetingJob* job : {&a, &b, &c})
    jobs.add(*job);
  jobs.startAll();
  jobs.need(0);
  EXPECT_TRUE(a.sawAll);
  jobs.need(1);
  jobs.need(2);
  for (MeetingJob* job : {&a, &b, &c}) {
    EXPECT_TRUE(job->sawAll);
    EXPECT_EQ(1, job->runs);
    EXPECT_TRUE(job->joined());
  }

  // A sequential set runs in list order in the calling thread: alone, a job
  // never meets the others, each has ended before the next.
  std::atomic<int> one{0};
  MeetingJob first(one, 2), second(one, 2);
  ThreadedJobs sequential(false);
  sequential.add(first);
  sequential.add(second);
  sequential.startAll();
  EXPECT_EQ(2, one.load());
  EXPECT_EQ(1, first.runs);
  EXPECT_FALSE(first.started());
  EXPECT_TRUE(second.sawAll);
}

// A slow job the caller never asks for is still joined when the set goes
// away: an early return of the request leaves no thread behind.
class SlowJob : public ThreadObject {
 public:
  std::atomic<bool> ended{false};

 protected:
  void Execute(void*) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ended = true;
  }
};

TEST(ThreadedJobs, SetJoinsJobsNobodyAskedForAndAJobJoinsOnce) {
  SlowJob job;
  {
    ThreadedJobs jobs(true);
    jobs.add(job);
    jobs.startAll();
    EXPECT_TRUE(job.started());
  }
  EXPECT_TRUE(job.ended.load());
  EXPECT_TRUE(job.joined());
  // A second start while running is refused; a second wait finds nothing.
  SlowJob again;
  EXPECT_NE(0, again.WaitForExit(10000));  // nothing started
  ASSERT_EQ(0, again.StartThread(nullptr));
  EXPECT_NE(0, again.StartThread(nullptr));
  EXPECT_EQ(0, again.WaitForExit(10000));
  EXPECT_NE(0, again.WaitForExit(10000));
}

}  // namespace
