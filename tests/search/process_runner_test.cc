/// @file process_runner_test.cc
/// @brief Starting programs without a shell: word splitting, exit kinds,
/// output routing, limits, and text that a shell would have acted upon.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <vector>

#include "search/process_runner.h"
#include "tests/test_util.h"

namespace {

using testutil::fileExists;
using testutil::readFile;
using testutil::TempDir;

std::vector<std::string> words(const char* cmd, int* count = nullptr) {
  CmdArgv argv;
  int n = -1;
  const int returned = GetArgvFromCmd(cmd, argv, n);
  EXPECT_EQ(returned, n);
  if (count) *count = n;
  return argv;
}

TEST(ArgvSplit, Table) {
  using W = std::vector<std::string>;
  const struct {
    const char* cmd;
    W expected;
  } cases[] = {
      {"prog -a \"two words\" 'x y' z", {"prog", "-a", "two words", "x y", "z"}},
      {"prog \"open to the end", {"prog", "open to the end"}},
      {"prog 'open", {"prog", "open"}},
      {"  prog   a  ", {"prog", "a"}},
      {"prog a\tb", {"prog", "a\tb"}},
      {"prog ab\"c d\"", {"prog", "ab\"c", "d\""}},
      {"prog \"a\"b 'c'\"d\"", {"prog", "a", "b", "c", "d"}},
      {"prog \"\" x", {"prog", "", "x"}},
      {"prog \"it's\" 'say \"hi\"'", {"prog", "it's", "say \"hi\""}},
      {"", {}},
      {"    ", {}},
  };
  for (const auto& c : cases) {
    int count = -1;
    EXPECT_EQ(words(c.cmd, &count), c.expected) << c.cmd;
    EXPECT_EQ(count, static_cast<int>(c.expected.size())) << c.cmd;
  }
  int count = -1;
  EXPECT_TRUE(words(nullptr, &count).empty());
  EXPECT_EQ(count, 0);
}

TEST(ArgvSplit, KeepsNineteenWordsAndCountsTheRest) {
  std::string cmd = "prog";
  for (int i = 1; i <= 20; ++i)
    cmd += " w" + std::to_string(i);
  int count = 0;
  const auto argv = words(cmd.c_str(), &count);
  EXPECT_EQ(count, 21);
  ASSERT_EQ(argv.size(), static_cast<size_t>(kMaxArgvWords));
  EXPECT_EQ(argv.back(), "w18");

  CmdArgv filled = {"a", "b"};
  EXPECT_EQ(FreeArgvOfCmd(filled), 0);
  EXPECT_TRUE(filled.empty());
}

TEST(ExitStatus, DecodesKinds) {
  const struct {
    int status;
    int kind;
    int code;
  } cases[] = {
      {0, 0, 0},
      {3 << 8, 0, 3},
      {205 << 8, 0, 205},
      {127 << 8, 0, 127},
      {9, 1, 9},
      {0x80 | 11, 1, 11},  // core dumped
      {(19 << 8) | 0x7F, 2, 19},
  };
  for (const auto& c : cases) {
    int code = -1;
    EXPECT_EQ(GetExitCode(c.status, code), c.kind) << c.status;
    EXPECT_EQ(code, c.code) << c.status;
  }
}

TEST(Runner, ExitKindsOfExecutedWait) {
  const struct {
    const char* cmd;
    int expected;
  } cases[] = {
      {"/bin/sh -c 'exit 0'", 0},
      {"/bin/sh -c 'exit 3'", 3},
      {"/bin/sh -c 'exit 205'", kExecFailed},
      {"/bin/sh -c 'kill -9 $$'", kExecFailed},
      {"/nonexistent/program -x", kExecNotFoundExitCode},
      {"sh -c 'exit 4'", 4},  // found along the search path
      {"", kExecFailed},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(executed_wait(c.cmd), c.expected) << c.cmd;
    EXPECT_EQ(executed_wait_with_high_priority(c.cmd), c.expected) << c.cmd;
    EXPECT_EQ(executed_wait_with_priority_setting(c.cmd, "x", 1), c.expected) << c.cmd;
    EXPECT_EQ(executed_wait_with_low_priority(c.cmd, "x"), c.expected) << c.cmd;
  }
}

TEST(Runner, RawStatusOfTsSystem) {
  EXPECT_EQ(TS_system("/bin/sh -c 'exit 3'"), 3 << 8);
  EXPECT_EQ(TS_system("/nonexistent/program"), kExecNotFoundExitCode << 8);
  const int killed = TS_system("/bin/sh -c 'kill -9 $$'");
  EXPECT_TRUE(WIFSIGNALED(killed));
  EXPECT_EQ(TS_system(""), -1);
}

TEST(Runner, LineLengthLimit) {
  const std::string prefix = "/bin/true ";
  const std::string longest = prefix + std::string(kMaxCommandLine - prefix.size(), 'a');
  ASSERT_EQ(longest.size(), kMaxCommandLine);
  EXPECT_EQ(TS_system(longest.c_str()), 0);
  const std::string over = longest + "a";
  EXPECT_EQ(TS_system(over.c_str()), -1);
  EXPECT_EQ(executed_wait(over.c_str()), kExecFailed);
  EXPECT_EQ(executed_wait_with_low_priority(over.c_str(), ""), kExecFailed);
}

TEST(Runner, WordLimit) {
  std::string cmd = "/bin/true";
  for (int i = 1; i < kMaxArgvWords; ++i)
    cmd += " w";
  EXPECT_EQ(executed_wait(cmd.c_str()), 0);  // 19 words
  cmd += " w";
  EXPECT_EQ(TS_system(cmd.c_str()), -1);
  EXPECT_EQ(executed_wait(cmd.c_str()), kExecFailed);
  TempDir dir;
  EXPECT_EQ(getExecResultFromStdOut(cmd.c_str(), dir.sub("out").c_str()), kExecFailed);
}

TEST(Runner, QuietRunsWriteNothingEcgiInherits) {
  const std::string quiet = testutil::captureStdout([] {
    EXPECT_EQ(TS_system("/bin/echo quiet"), 0);
    EXPECT_EQ(executed_wait("/bin/echo quiet"), 0);
  });
  EXPECT_EQ(quiet, "");
  const std::string loud = testutil::captureStdout([] {
    std::printf("before ");  // still buffered when the child starts
    EXPECT_EQ(executed_ecgi("/bin/echo loud"), 0);
  });
  EXPECT_EQ(loud, "before loud\n");
}

class LogFile {
 public:
  LogFile() : fp_(std::fopen(dir_.sub("log").c_str(), "w")) {}
  ~LogFile() { std::fclose(fp_); }
  FILE* get() { return fp_; }
  std::string text() {
    std::fflush(fp_);
    return readFile(dir_.sub("log"));
  }

 private:
  TempDir dir_;
  FILE* fp_;
};

TEST(Runner, ExecuteCmdOpensTheResultFile) {
  TempDir dir;
  LogFile log;
  const std::string result = dir.sub("result");
  const std::string cmd = "/bin/sh -c 'printf hit > " + result + "'";
  FILE* fp = ExecuteCmd(cmd.c_str(), result.c_str(), log.get());
  ASSERT_NE(fp, nullptr);
  char buf[8] = {};
  EXPECT_EQ(std::fread(buf, 1, sizeof buf, fp), 3u);
  EXPECT_STREQ(buf, "hit");
  std::fclose(fp);
  EXPECT_EQ(log.text(), "cmd:<" + cmd + ">\n");
}

TEST(Runner, ExecuteCmdWithoutResult) {
  TempDir dir;
  LogFile log;
  const std::string missing = dir.sub("none");
  EXPECT_EQ(ExecuteCmd("/bin/true", missing.c_str(), log.get()), nullptr);
  EXPECT_EQ(log.text(), "cmd:</bin/true>\n");

  LogFile failed;
  EXPECT_EQ(ExecuteCmd("/nonexistent/engine", missing.c_str(), failed.get()), nullptr);
  EXPECT_EQ(failed.text(), "cmd:</nonexistent/engine>\ncreate process failed\n");
}

TEST(Runner, StandardOutputIntoFile) {
  TempDir dir;
  const std::string out = dir.sub("wildcard00001");
  testutil::writeFile(out, "stale content that must go");
  EXPECT_EQ(getExecResultFromStdOut("/bin/echo ab*c", out.c_str()), 0);
  EXPECT_EQ(readFile(out), "ab*c\n");
  EXPECT_EQ(getExecResultFromStdOut("/nonexistent/expander", out.c_str()), 0);
  EXPECT_EQ(readFile(out), "");
  EXPECT_EQ(getExecResultFromStdOut("/bin/echo x", dir.sub("no/such/dir").c_str()), kExecNoFile);
}

TEST(Runner, ResultFileIntoString) {
  TempDir dir;
  const std::string result = dir.sub("relterm");
  const std::string cmd = "/bin/sh -c 'printf rel > " + result + "'";
  std::string text = "E";
  EXPECT_EQ(getExecResultFromFile(cmd.c_str(), text, result.c_str(), nullptr), 0);
  EXPECT_EQ(text, "Erel");

  std::string empty;
  testutil::writeFile(result, "");
  EXPECT_EQ(getExecResultFromFile("/bin/true", empty, result.c_str(), nullptr), kExecEmptyResult);
  EXPECT_EQ(getExecResultFromFile("/bin/true", empty, dir.sub("none").c_str(), nullptr),
            kExecNoFile);
}

// Text that a shell would expand or act upon reaches the program as it is,
// and nothing besides the program runs.
TEST(Runner, ShellSyntaxIsNeverInterpreted) {
  TempDir dir;
  testutil::ScopedCwd cwd(dir.path());
  const std::string x = dir.sub("X");
  const struct {
    std::string cmd;
    std::string echoed;
  } cases[] = {
      {"/bin/echo $(touch X)", "$(touch X)\n"},
      {"/bin/echo \"$(touch " + x + ")\"", "$(touch " + x + ")\n"},
      {"/bin/echo `touch X`", "`touch X`\n"},
      {"/bin/echo ';touch X'", ";touch X\n"},
      {"/bin/echo a;touch X", "a;touch X\n"},
      {"/bin/echo a && touch X", "a && touch X\n"},
      {"/bin/echo a | touch X", "a | touch X\n"},
      {"/bin/echo 'a' \"b\" > X", "a b > X\n"},
      {"/bin/echo \"'$(touch X)'\"", "'$(touch X)'\n"},
  };
  const std::string out = dir.sub("out");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.cmd);
    EXPECT_EQ(getExecResultFromStdOut(c.cmd.c_str(), out.c_str()), 0);
    EXPECT_EQ(readFile(out), c.echoed);
    EXPECT_EQ(TS_system(c.cmd.c_str()), 0);
    EXPECT_EQ(executed_wait(c.cmd.c_str()), 0);
    EXPECT_FALSE(fileExists(x));
  }
  // A query placed as the engine sees it: inside double quotes in the line.
  EXPECT_EQ(executed_wait("/bin/true -bm \"-s -i\" '$(touch X)' -f \"`touch X`\""), 0);
  EXPECT_FALSE(fileExists(x));
}

}  // namespace
