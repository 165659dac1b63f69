/// @file build_status_test.cc
/// @brief The build status collector: index types, dates, directory sizes,
/// and the builder's record of a build.

#include "system/build_status.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <tuple>

#include "tests/test_util.h"

namespace {

TEST(BuildStatus, IndexTypesAndModes) {
  CCollectBuildStatus status;
  const struct {
    const char* type;
    int expected;
  } cases[] = {{"web", 1},      {"db", 2},    {"xml", 2}, {"proxy", 1}, {"notes", 3},
               {"exchange", 4}, {nullptr, 4}, {"doc", 0}, {"DOC", 0}};
  for (const auto& c : cases) {
    status.setIndexType(c.type);
    EXPECT_EQ(c.expected, status.getIndexType()) << (c.type ? c.type : "null");
  }
  status.setIndexMode(1);
  EXPECT_EQ(1, status.getIndexMode());
  status.setIndexMode(7);
  EXPECT_EQ(0, status.getIndexMode());
  status.setOwnerName(std::string(100, 'o').c_str());
  EXPECT_EQ(std::string(63, 'o'), status.getOwnerName());
}

TEST(BuildStatus, DatesAndTimesAreLocal) {
  testutil::ScopedEnv tz("TZ", "UTC");
  tzset();
  CCollectBuildStatus status;
  status.setStartTime(0);
  status.setEndTime(1700000000);  // 2023-11-14 22:13:20 UTC
  EXPECT_STREQ("1970/01/01", status.getStartDate());
  EXPECT_STREQ("00:00:00", status.getStartTime());
  EXPECT_STREQ("2023/11/14", status.getEndDate());
  EXPECT_STREQ("22:13:20", status.getEndTime());
  EXPECT_STREQ("20231114", CCollectBuildStatus::outputDateFilename(1700000000));
}

TEST(BuildStatus, DirectorySizeCountsRegularFilesOnly) {
  testutil::TempDir dir;
  testutil::writeFile(dir.sub("a"), std::string(100, 'a'));
  testutil::writeFile(dir.sub("b"), std::string(20, 'b'));
  testutil::writeFile(dir.sub("sub/c"), std::string(7, 'c'));
  ASSERT_EQ(0, symlink(dir.sub("a").c_str(), dir.sub("link").c_str()));
  EXPECT_EQ(120, CCollectBuildStatus::m_cal_file_size_in_dir(dir.path(), false));
  EXPECT_EQ(127, CCollectBuildStatus::m_cal_file_size_in_dir(dir.path(), true));
  EXPECT_EQ(0, CCollectBuildStatus::m_cal_file_size_in_dir(dir.sub("missing"), true));
}

TEST(BuildStatus, RecordRoundTrip) {
  testutil::TempDir dir;
  BuildRecord none;
  EXPECT_FALSE(readBuildRecord(dir.path(), none));
  ASSERT_TRUE(writeBuildRecord(dir.path(), {1000, 2000, "db", "rebuild"}));
  BuildRecord back;
  ASSERT_TRUE(readBuildRecord(dir.path(), back));
  EXPECT_EQ(std::tie(back.start, back.end, back.type, back.mode),
            std::make_tuple(1000, 2000, "db", "rebuild"));
  testutil::writeFile(dir.sub(kBuildRecordFile), "START_TIME=-5\nEND_TIME=x\nMODE=update\n");
  ASSERT_TRUE(readBuildRecord(dir.path(), back));
  EXPECT_EQ(std::tie(back.start, back.end), std::make_tuple(0, 0));
}

}  // namespace
