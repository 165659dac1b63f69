/// @file run_log_test.cc
/// @brief The run-time log while its lines are held: nothing is lost, and
/// every line reaches the file whole, prefixed and in order.

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "system/log.h"
#include "tests/test_util.h"

namespace {

class HeldRunLog : public ::testing::Test {
 protected:
  void SetUp() override {
    holdRunTimeLogLines(true);
    setLogProcessId(4242);
  }
  void TearDown() override {
    holdRunTimeLogLines(false);
    setLogProcessId(0);
  }
  std::string text() const { return testutil::readFile(path_); }

  testutil::TempDir dir_;
  const std::string path_ = dir_.sub("run.log");
};

TEST_F(HeldRunLog, LinesWaitForTheRunToWaitAndAllReachTheFile) {
  FILE* log = openRunTimeLog(path_.c_str(), 0);
  ASSERT_NE(nullptr, log);
  std::fputs("b-search\n", log);
  std::fputs("cmd:<engine -H x>\n", log);
  std::fflush(log);
  EXPECT_EQ("", text());

  writeHeldLogLines();
  EXPECT_EQ("[4242]-b-search\n[4242]-cmd:<engine -H x>\n", text());
  std::fputs("after\nunended", log);
  std::fclose(log);
  EXPECT_EQ("[4242]-b-search\n[4242]-cmd:<engine -H x>\n[4242]-after\n[4242]-unended\n", text());
}

TEST_F(HeldRunLog, ALongRunWritesWithoutBeingAsked) {
  FILE* log = openRunTimeLog(path_.c_str(), 0);
  ASSERT_NE(nullptr, log);
  const std::string line(999, 'x');
  for (int i = 0; i < 80; ++i) {
    std::fputs((line + "\n").c_str(), log);
    std::fflush(log);
  }
  // Bounded memory: most of the 80 KB is in the file already.
  EXPECT_GE(text().size(), 64u * 1000u);
  std::fclose(log);
  EXPECT_EQ(80u * (line.size() + 1 + 7), text().size());
}

TEST_F(HeldRunLog, ARunThatEndsTheProcessLosesNoLine) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FILE* log = openRunTimeLog(path_.c_str(), 0);
    if (log == nullptr) _exit(2);
    std::fputs("last words\n", log);
    std::fflush(log);
    exit(0);  // the log left open
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ("[4242]-last words\n", text());
}

}  // namespace
