/// @file version_test.cc
/// @brief The "-ver" block and the query string passed as an argument.

#include <gtest/gtest.h>

#include <string>

#include "system/version.h"
#include "tests/test_util.h"

namespace {

TEST(Version, PrintsTheBlockAndExits) {
  const char* args[] = {"searchrun", "-VER", nullptr};
  EXPECT_EQ(verifyProgramVersion(1, const_cast<char**>(args)), 0);
  testutil::TempDir dir;
  const std::string out = dir.sub("stdout");
  EXPECT_EXIT(
      {
        if (!freopen(out.c_str(), "w", stdout)) exit(2);
        verifyProgramVersion(2, const_cast<char**>(args));
        exit(3);
      },
      testing::ExitedWithCode(0), "");
  const std::string block = testutil::readFile(out);
  EXPECT_EQ(block, getProgramVersion());
  EXPECT_EQ(block.rfind("\nVERSION_NO: ", 0), 0u) << block;
  EXPECT_NE(block.find("\nBUILD NUMBER: " + std::to_string(getBuildNumber()) + "\nBUILD_DATE: "),
            std::string::npos);
}

TEST(Version, QueryStringAsArgument) {
  struct {
    const char* query;
    const char* arg;
    int argc;
    int result;
  } cases[] = {
      {"user=alice&query=x", "user=alic", 2, 1},  // the first segment less one character
      {"user=alice&query=x", "user=ali", 2, 0},
      {"user=alice&query=x", "user=alice", 3, 0},
      {"a&x", "", 2, 1},  // n below 1: only an empty argument
      {"a&x", "a", 2, 0},
      {nullptr, "user=alice", 2, 0},
  };
  for (const auto& c : cases) {
    testutil::ScopedEnv env("QUERY_STRING", c.query);
    const char* args[] = {"searchrun", c.arg, "more", nullptr};
    EXPECT_EQ(checkArgcForApache2_0_40(c.argc, const_cast<char**>(args)), c.result) << c.arg;
  }
}

}  // namespace
