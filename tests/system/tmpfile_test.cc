/// @file tmpfile_test.cc
/// @brief The results directory's size as a run sees it before it adds a
/// result: counted at most once a second while far from the limit, counted
/// by every run near it, and never taken from a file that cannot be its.

#include "system/tmpfile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

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
  void ageUsageFile(int seconds) {
    struct timespec times[2];
    clock_gettime(CLOCK_REALTIME, &times[0]);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ASSERT_EQ(0,
              utimensat(AT_FDCWD, dir_.sub(kResultsUsageFile).c_str(), times, AT_SYMLINK_NOFOLLOW));
  }
  testutil::TempDir dir_;
};

TEST_F(ResultsUsage, FarFromTheLimitAFigureStandsForASecond) {
  addResult("query1", 40000);
  const long long first = usage();
  EXPECT_GE(first, 40000);
  // Within the second the new result is not counted yet.
  addResult("query2", 40000);
  EXPECT_EQ(first, usage());
  // An older figure is counted again.
  ageUsageFile(2);
  EXPECT_GE(usage(), first + 40000);
}

TEST_F(ResultsUsage, NearTheLimitEveryRunCountsAgain) {
  addResult("query1", kLimit / 2 + 4096);
  const long long first = usage();
  EXPECT_GT(first, kLimit / 2);
  addResult("query2", kLimit);
  EXPECT_GT(usage(), kLimit);
  // Expiry made room: the next run sees it at once.
  ASSERT_EQ(0, unlink(dir_.sub("query2").c_str()));
  ASSERT_EQ(0, unlink(dir_.sub("query1").c_str()));
  EXPECT_LT(usage(), kLimit / 2);
}

TEST_F(ResultsUsage, AFigureThatCannotBeTrustedIsCountedAgain) {
  addResult("query1", 300000);
  // A figure from the future, one that is no number, a link standing where
  // the figure is kept: each is counted again.
  testutil::writeFile(dir_.sub(kResultsUsageFile), "0");
  ageUsageFile(-60);
  EXPECT_GE(usage(), 300000);
  testutil::writeFile(dir_.sub(kResultsUsageFile), "banana");
  EXPECT_GE(usage(), 300000);
  ASSERT_EQ(0, unlink(dir_.sub(kResultsUsageFile).c_str()));
  testutil::writeFile(dir_.sub("elsewhere"), "0");
  ASSERT_EQ(0, symlink(dir_.sub("elsewhere").c_str(), dir_.sub(kResultsUsageFile).c_str()));
  EXPECT_GE(usage(), 300000);
  // The link was replaced, its target left as it was.
  struct stat st;
  ASSERT_EQ(0, lstat(dir_.sub(kResultsUsageFile).c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ("0", testutil::readFile(dir_.sub("elsewhere")));
  EXPECT_EQ(-1, resultsDirectoryBytes(dir_.sub("missing").c_str(), kLimit));
}

}  // namespace
