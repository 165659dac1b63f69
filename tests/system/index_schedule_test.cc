/// @file index_schedule_test.cc
/// @brief The schedule record of an index: what a timer may be given as a
/// calendar, and a reader that takes nothing the account could have bent; and
/// the build status collector: index types, dates, directory sizes, and the
/// builder's record of a build.

#include "system/index_schedule.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <string>
#include <tuple>
#include <vector>

#include "system/build_status.h"
#include "system/secure_file.h"
#include "tests/test_util.h"

namespace {

TEST(IndexSchedule, CalendarsThatCanStandInAUnitFile) {
  for (const char* good : {"daily", "hourly", "*-*-* 03:00", "Mon..Fri *-*-* 06:30:00", "*:0/15",
                           "Sat,Sun 10:00", "*-*~01", "2027-01-01 00:00:00 UTC+1"})
    EXPECT_TRUE(isSafeCalendar(good)) << good;
  for (const std::string& bad :
       std::vector<std::string>{"", " daily", "daily ", "daily\nOnCalendar=hourly", "daily\r",
                                "%H:00", "daily\\", "dai\tly", "daily;reboot", "$(id)", "daily#",
                                std::string("dai\0ly", 6), std::string(129, 'a')})
    EXPECT_FALSE(isSafeCalendar(bad)) << bad;
  EXPECT_TRUE(isSafeCalendar(std::string(128, 'a')));
}

TEST(IndexSchedule, RecordReadsBackAsWritten) {
  // A folder name may hold any byte but "/" and NUL: line breaks and "%"
  // included.
  const IndexSchedule written{"/srv/docs/new\nline %41 \xE9t\xC3\xA9", "*-*-* 03:00"};
  IndexSchedule read;
  std::string error;
  ASSERT_TRUE(parseIndexSchedule(formatIndexSchedule(written), read, error)) << error;
  EXPECT_EQ(written.source, read.source);
  EXPECT_EQ(written.calendar, read.calendar);
}

TEST(IndexSchedule, MalformedRecordsAreRefused) {
  const struct {
    const char* text;
    const char* why;
  } cases[] = {
      {"", "no absolute source"},
      {"CALENDAR=daily\n", "no absolute source"},
      {"SOURCE=docs\nCALENDAR=daily\n", "no absolute source"},
      {"SOURCE=/a%0\nCALENDAR=daily\n", "no absolute source"},
      {"SOURCE=/a%00b\nCALENDAR=daily\n", "no absolute source"},
      {"SOURCE=/a\n", "no calendar"},
      {"SOURCE=/a\nCALENDAR=daily\r\n", "no calendar"},
      {"SOURCE=/a\nCALENDAR=%H\n", "no calendar"},
      {"SOURCE=/a\nCALENDAR=daily\nCALENDAR=hourly\n", "twice"},
      {"SOURCE=/a\nSOURCE=/b\nCALENDAR=daily\n", "twice"},
  };
  for (const auto& c : cases) {
    IndexSchedule read;
    std::string error;
    EXPECT_FALSE(parseIndexSchedule(c.text, read, error)) << c.text;
    EXPECT_NE(std::string::npos, error.find(c.why)) << c.text << ": " << error;
  }
  // Comments, other keys and a last line without its line break are fine.
  IndexSchedule read;
  std::string error;
  EXPECT_TRUE(parseIndexSchedule("# note\nLATER=x\nCALENDAR=weekly\nSOURCE=/a", read, error));
  EXPECT_EQ("/a", read.source);
  EXPECT_FALSE(parseIndexSchedule(
      "SOURCE=/a\nCALENDAR=daily\n#" + std::string(kMaxScheduleBytes, 'x'), read, error));
}

TEST(IndexSchedule, RecordIsReadOnlyFromARegularFile) {
  testutil::TempDir home;
  IndexSchedule read;
  std::string error;
  bool missing = false;
  EXPECT_FALSE(readIndexSchedule(home.path(), read, missing, error));
  EXPECT_TRUE(missing);

  testutil::TempDir elsewhere;
  const std::string text = formatIndexSchedule({"/srv/docs", "hourly"});
  ASSERT_TRUE(writeFileExclusive(elsewhere.path() + "/planted", text, 0644));
  ASSERT_EQ(0, symlink((elsewhere.path() + "/planted").c_str(),
                       (home.path() + "/" + kScheduleFile).c_str()));
  EXPECT_FALSE(readIndexSchedule(home.path(), read, missing, error));
  EXPECT_FALSE(missing);
  EXPECT_NE(std::string::npos, error.find("not a link")) << error;

  ASSERT_EQ(0, unlink((home.path() + "/" + kScheduleFile).c_str()));
  ASSERT_TRUE(writeFileExclusive(home.path() + "/" + kScheduleFile, text, 0644));
  ASSERT_TRUE(readIndexSchedule(home.path(), read, missing, error)) << error;
  EXPECT_EQ("/srv/docs", read.source);
  EXPECT_EQ("hourly", read.calendar);
}

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
  EXPECT_EQ("1970/01/01", status.getStartDate());
  EXPECT_EQ("00:00:00", status.getStartTime());
  EXPECT_EQ("2023/11/14", status.getEndDate());
  EXPECT_EQ("22:13:20", status.getEndTime());
  EXPECT_EQ("20231114", CCollectBuildStatus::outputDateFilename(1700000000));
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
