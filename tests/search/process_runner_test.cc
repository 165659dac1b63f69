/// @file process_runner_test.cc
/// @brief Starting programs without a shell: word splitting, exit kinds,
/// output routing, limits, and text that a shell would have acted upon.

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "search/process_runner.h"
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
  EXPECT_EQ(getExecResultFromStdOut((words + " w").c_str(), dir.sub("out").c_str()), kExecFailed);
}

// A failed run gives no stream even though its result file exists: its
// scratch name was claimed by creating it.
TEST(Runner, ExecuteCmd) {
  testutil::TempDir dir;
  const std::string result = dir.sub("query00001");
  const std::tuple<std::string, bool, const char*> cases[] = {
      {"/bin/sh -c 'printf hit > " + result + "'", true, ""},
      {"/bin/sh -c 'exit 205'", false, "command failed\n"},
      {"/bin/sh -c 'kill -9 $$'", false, "command failed\n"},
      {"/nonexistent/engine", false, "create process failed\n"},
      {"/bin/sh -c 'rm " + result + "'", false, ""}};
  for (const auto& [cmd, opened, logged] : cases) {
    FILE* log = std::fopen(dir.sub("log").c_str(), "w");
    FILE* fp = ExecuteCmd(cmd.c_str(), result.c_str(), log);
    std::fclose(log);
    EXPECT_EQ(fp != nullptr, opened) << cmd;
    if (fp) std::fclose(fp);
    EXPECT_EQ(readFile(dir.sub("log")), "cmd:<" + cmd + ">\n" + logged);
  }
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
}

// Text that a shell would expand or act upon reaches the program as it is,
// and nothing besides the program runs.
TEST(Runner, ShellSyntaxIsNeverInterpreted) {
  testutil::TempDir dir;
  testutil::ScopedCwd cwd(dir.path());
  const std::string x = dir.sub("X"), out = dir.sub("out");
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

}  // namespace
