/// @file files_test.cc
/// @brief Scratch file names and directory removal.

#include <gtest/gtest.h>
#include <unistd.h>

#include <set>
#include <string>

#include "system/fsutil.h"
#include "system/tmpfile.h"
#include "tests/system/system_fixture.h"

namespace {

// True when name is prefix followed by five or more digits and nothing else.
bool isNumberedName(const std::string& name, const std::string& prefix) {
  if (name.compare(0, prefix.size(), prefix) != 0) return false;
  const std::string digits = name.substr(prefix.size());
  return digits.size() >= 5 && digits.find_first_not_of("0123456789") == std::string::npos;
}

using TempNames = InstallTest;

TEST_F(TempNames, NamesAreClaimedAndDistinct) {
  std::string name, again;
  ASSERT_TRUE(GetTempFilename("../tmp", "homo", 42, name));
  EXPECT_EQ(name, "../tmp/homo00042");
  EXPECT_TRUE(testutil::fileExists(name));
  ASSERT_TRUE(GetTempFilename("../tmp", "homo", 42, again));
  EXPECT_TRUE(isNumberedName(again, "../tmp/homo")) << again;
  std::set<std::string> names{name, again};
  for (int i = 0; i < 30; ++i) {
    ASSERT_TRUE(systemGetTmpFile(name));
    EXPECT_TRUE(isNumberedName(name, "../tmp/query")) << name;
    names.insert(name);
  }
  EXPECT_EQ(names.size(), 32u);
  EXPECT_FALSE(GetTempFilename("../nowhere", "query", 0, name));
}

TEST_F(TempNames, CgiScratchDirectoryIsAbsolute) {
  std::string name;
  ASSERT_TRUE(systemGetCGITmpFile(name, "qstring"));
  char real[4096];
  ASSERT_NE(realpath(root("search-cgi/tmp").c_str(), real), nullptr);
  EXPECT_TRUE(isNumberedName(name, std::string(real) + "/qstring")) << name;
}

TEST(Directories, DeltreeRemovesOddNamesWithoutFollowingLinks) {
  testutil::TempDir dir;
  const std::string tree = dir.sub("it's; rm -rf x \"q\"");
  testutil::writeFile(tree + "/a'b/c.txt", "x");
  testutil::writeFile(tree + "/$(touch pwned)", "x");
  testutil::writeFile(dir.sub("outside/keep.txt"), "keep");
  ASSERT_EQ(symlink(dir.sub("outside").c_str(), (tree + "/link").c_str()), 0);
  EXPECT_TRUE(deltree(tree.c_str()));
  EXPECT_FALSE(testutil::fileExists(tree));
  EXPECT_TRUE(testutil::fileExists(dir.sub("outside/keep.txt")));
  EXPECT_TRUE(deltree(dir.sub("missing").c_str()));
}

TEST(Directories, DeltreeSaveFileKeepsOneNameEverywhere) {
  testutil::TempDir dir;
  const std::string store = dir.sub("store");
  for (const char* f : {"Keep.TXT", "drop1", "sub/keep.txt", "sub/deeper/drop2"}) {
    testutil::writeFile(store + "/" + f, "x");
  }
  testutil::writeFile(dir.sub("outside/drop3"), "x");
  ASSERT_EQ(symlink(dir.sub("outside").c_str(), (store + "/link").c_str()), 0);
  EXPECT_EQ(deltree_savefile((store + "/").c_str(), "keep.txt"), 0);
  EXPECT_TRUE(testutil::fileExists(store + "/Keep.TXT"));
  EXPECT_TRUE(testutil::fileExists(store + "/sub/keep.txt"));
  EXPECT_TRUE(testutil::fileExists(store + "/sub/deeper"));
  EXPECT_FALSE(testutil::fileExists(store + "/drop1"));
  EXPECT_FALSE(testutil::fileExists(store + "/sub/deeper/drop2"));
  EXPECT_FALSE(testutil::fileExists(store + "/link"));
  EXPECT_TRUE(testutil::fileExists(dir.sub("outside/drop3")));
  testing::internal::CaptureStderr();
  EXPECT_EQ(deltree_savefile(dir.sub("missing").c_str(), "x"), -1);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Unable to open store directory"),
            std::string::npos);
}

}  // namespace
