/// @file index_schedule_test.cc
/// @brief The schedule record of an index: what a timer may be given as a
/// calendar, and a reader that takes nothing the account could have bent.

#include "system/index_schedule.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

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

}  // namespace
