/// @file tmpfile_test.cc
/// @brief The results directory's size as a run sees it before it adds a
/// result: counted at most every five minutes while far from the limit and
/// every two seconds near it, by one run at a time, grown by what runs add,
/// and never taken from a file that cannot be its.

#include "system/tmpfile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string>

#include "tests/test_util.h"

namespace {

constexpr long long kLimit = 1 << 20;

class ResultsUsage : public ::testing::Test {
 protected:
  // A result of `bytes` bytes; what it takes on disk is what counts.
  void addResult(const std::string& name, size_t bytes) {
    testutil::writeFile(dir_.sub(name), std::string(bytes, 'r'));
  }
  long long usage() { return resultsDirectoryBytes(dir_.path().c_str(), kLimit); }
  // A figure of `bytes` counted `age` seconds ago, as a run keeps it.
  void keepFigure(long long bytes, long long age) {
    char text[64];
    std::snprintf(text, sizeof text, "%019lld %019lld\n", bytes,
                  static_cast<long long>(time(nullptr)) - age);
    testutil::writeFile(dir_.sub(kResultsUsageFile), text);
  }
  testutil::TempDir dir_;
};

TEST_F(ResultsUsage, FarFromTheLimitAFigureStandsAndGrowsByWhatRunsAdd) {
  addResult("query1", 40000);
  const long long first = usage();
  EXPECT_GE(first, 40000);
  // A result written since is not counted, but what its run adds is.
  addResult("query2", 40000);
  EXPECT_EQ(first, usage());
  addResultsUsage(dir_.path().c_str(), 40960);
  EXPECT_EQ(first + 40960, usage());
  // A figure counted over five minutes ago is counted again.
  keepFigure(10, 301);
  EXPECT_GE(usage(), 80000);
  keepFigure(10, 290);  // well inside: a second may pass before it is read
  EXPECT_EQ(10, usage());
}

// Near the limit a figure stands for two seconds only, and a busy site's
// runs do not all count a full directory at once: while one counts, the
// others take the figure as it stands.
TEST_F(ResultsUsage, NearTheLimitAFigureStandsBrieflyAndOneRunCounts) {
  addResult("query1", kLimit / 2 + 4096);
  const long long first = usage();
  EXPECT_GT(first, kLimit / 2);
  addResult("query2", kLimit);
  EXPECT_EQ(first, usage());  // counted just now: at most a second old
  keepFigure(first, 2);
  EXPECT_GT(usage(), kLimit);
  // Expiry made room: the next count sees it.
  ASSERT_EQ(0, unlink(dir_.sub("query2").c_str()));
  ASSERT_EQ(0, unlink(dir_.sub("query1").c_str()));
  keepFigure(kLimit * 2, 3);
  EXPECT_LT(usage(), kLimit / 2);
  keepFigure(kLimit, 10);
  {
    const int counting = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(counting, 0);
    ASSERT_EQ(0, flock(counting, LOCK_EX));
    EXPECT_EQ(kLimit, usage());
    close(counting);
  }
  EXPECT_LT(usage(), kLimit / 2);
}

TEST_F(ResultsUsage, AFigureThatCannotBeTrustedIsCountedAgain) {
  addResult("query1", 300000);
  // A figure from the future, one that is no number, one of the form of an
  // older version, a link standing where the figure is kept: each is
  // counted again, and none is added to.
  keepFigure(0, -60);
  EXPECT_GE(usage(), 300000);
  for (const char* text : {"banana", "0"}) {
    testutil::writeFile(dir_.sub(kResultsUsageFile), text);
    addResultsUsage(dir_.path().c_str(), 4096);
    EXPECT_EQ(text, testutil::readFile(dir_.sub(kResultsUsageFile)));
    EXPECT_GE(usage(), 300000);
  }
  ASSERT_EQ(0, unlink(dir_.sub(kResultsUsageFile).c_str()));
  testutil::writeFile(dir_.sub("elsewhere"), "0");
  ASSERT_EQ(0, symlink(dir_.sub("elsewhere").c_str(), dir_.sub(kResultsUsageFile).c_str()));
  addResultsUsage(dir_.path().c_str(), 4096);
  EXPECT_GE(usage(), 300000);
  // The link was replaced, its target left as it was.
  struct stat st;
  ASSERT_EQ(0, lstat(dir_.sub(kResultsUsageFile).c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ("0", testutil::readFile(dir_.sub("elsewhere")));
  EXPECT_EQ(-1, resultsDirectoryBytes(dir_.sub("missing").c_str(), kLimit));
}

}  // namespace
