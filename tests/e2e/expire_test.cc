/// @file expire_test.cc
/// @brief The installed expire_results: old results, scratch files, idle
/// permits and old daily search logs go; young ones, other files and
/// whatever a link points at stay.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <ctime>
#include <string>

#include "tests/e2e/e2e_util.h"

namespace {

using e2e::Installation;
using e2e::RunResult;

class ExpireTest : public ::testing::Test {
 protected:
  // A file below the root, last modified `minutesAgo` minutes ago.
  void aged(const std::string& rel, int minutesAgo) {
    inst_.write(rel, "x");
    const time_t when = std::time(nullptr) - minutesAgo * 60;
    const utimbuf times{when, when};
    ASSERT_EQ(0, utime(inst_.path(rel).c_str(), &times)) << rel;
  }
  bool exists(const std::string& rel) const {
    struct stat st;
    return lstat(inst_.path(rel).c_str(), &st) == 0;
  }
  RunResult expire(const std::vector<std::string>& args = {}) {
    std::vector<std::string> all = {"--root", inst_.root()};
    all.insert(all.end(), args.begin(), args.end());
    return inst_.run("binind/expire_results", all);
  }

  Installation inst_;
};

TEST_F(ExpireTest, OldResultsAndScratchFilesGoYoungOnesStay) {
  const std::string old = "tmp/query" + std::string(30, '1');
  const std::string young = "tmp/query" + std::string(30, '2');
  for (const char* suffix : {"", "_idx", ".filter", "_class"}) {
    aged(old + suffix, 61);
    aged(young + suffix, 59);
  }
  aged("search-cgi/tmp/qstring12345", 120);
  aged("search-cgi/tmp/wildcard12345", 2);
  aged("tmp/notes.txt", 600);  // not a name the programs give
  aged("tmp/query1234", 600);  // too few digits
  aged("outside/query99999", 600);
  ASSERT_EQ(
      0, symlink(inst_.path("outside/query99999").c_str(), inst_.path("tmp/query88888").c_str()));

  // The figure of what results take goes with them: the next search counts.
  inst_.write("tmp/.usage", "0000000000001048576 0000000001765000000\n");
  const RunResult r = expire();
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ("expired 4 results, 1 scratch files, 0 permits, 0 search logs\n", r.out);
  EXPECT_FALSE(exists("tmp/.usage"));
  for (const char* suffix : {"", "_idx", ".filter", "_class"}) {
    EXPECT_FALSE(exists(old + suffix)) << suffix;
    EXPECT_TRUE(exists(young + suffix)) << suffix;
  }
  EXPECT_FALSE(exists("search-cgi/tmp/qstring12345"));
  for (const char* kept : {"search-cgi/tmp/wildcard12345", "tmp/notes.txt", "tmp/query1234",
                           "outside/query99999", "tmp/query88888"})
    EXPECT_TRUE(exists(kept)) << kept;

  // The age comes from the settings, or from the command line.
  inst_.setKey("setting/search_option.cfg", "RESULT_EXPIRE_MINUTES", "30");
  EXPECT_EQ("expired 4 results, 0 scratch files, 0 permits, 0 search logs\n", expire().out);
  EXPECT_EQ("expired 0 results, 1 scratch files, 0 permits, 0 search logs\n",
            expire({"--max-age", "1"}).out);
}

// The name of the daily search log of the local day `daysAgo` days back.
std::string dailyLog(int daysAgo) {
  const time_t now = std::time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  // Counted in calendar days, whatever a change of clocks did to one of them.
  local.tm_mday -= daysAgo;
  local.tm_hour = 12;
  local.tm_isdst = -1;
  std::mktime(&local);
  char name[48];
  std::strftime(name, sizeof name, "system_log/query/%Y%m%d.log", &local);
  return name;
}

TEST_F(ExpireTest, DailySearchLogsAreKeptForTheirDaysOnly) {
  // Written today, so that only the day in the name can tell their age.
  for (const int days : {0, 1, 29, 30, 31, 32, 400})
    inst_.write(dailyLog(days), "a search\n");
  inst_.write("system_log/query/notes.log", "x");
  inst_.write("system_log/query/20230229.log", "x");  // a day that never was
  inst_.write("system_log/query/20240229.log", "x");  // one that was
  inst_.write("system_log/query/2020010.log", "x");
  inst_.write("outside/19990101.log", "x");
  ASSERT_EQ(0, symlink(inst_.path("outside/19990101.log").c_str(),
                       inst_.path("system_log/query/19990102.log").c_str()));
  testutil::makeDirs(inst_.path("system_log/query/19990103.log"));

  EXPECT_EQ("expired 0 results, 0 scratch files, 0 permits, 4 search logs\n", expire().out);
  EXPECT_FALSE(exists("system_log/query/20240229.log"));
  for (const int days : {0, 1, 29, 30})
    EXPECT_TRUE(exists(dailyLog(days))) << days;
  for (const int days : {31, 32, 400})
    EXPECT_FALSE(exists(dailyLog(days))) << days;
  for (const char* kept : {"system_log/query/notes.log", "system_log/query/20230229.log",
                           "system_log/query/2020010.log", "system_log/query/19990102.log",
                           "system_log/query/19990103.log", "outside/19990101.log"})
    EXPECT_TRUE(exists(kept)) << kept;

  inst_.setKey("setting/search_option.cfg", "SEARCH_LOG_KEEP_DAYS", "0");
  inst_.write(dailyLog(40), "x");
  EXPECT_EQ("expired 0 results, 0 scratch files, 0 permits, 0 search logs\n", expire().out);
  inst_.setKey("setting/search_option.cfg", "SEARCH_LOG_KEEP_DAYS", "1");
  EXPECT_EQ("expired 0 results, 0 scratch files, 0 permits, 3 search logs\n", expire().out);
  EXPECT_TRUE(exists(dailyLog(1)));
  // A value out of range keeps the default.
  inst_.setKey("setting/search_option.cfg", "SEARCH_LOG_KEEP_DAYS", "-3");
  inst_.write(dailyLog(31), "x");
  EXPECT_EQ("expired 0 results, 0 scratch files, 0 permits, 1 search logs\n", expire().out);
}

TEST_F(ExpireTest, IdlePermitsGoAndBadUseIsRefused) {
  inst_.setKey("setting/user_config.cfg", "LOGIN_TIMEOUT", "600");
  aged("permit/ab1234567.ksp", 11);
  aged("permit/ab7654321.ksp", 9);
  ASSERT_EQ(0, chmod(inst_.path("permit/ab1234567.ksp").c_str(), 0600));
  EXPECT_EQ("expired 0 results, 0 scratch files, 1 permits, 0 search logs\n", expire().out);
  EXPECT_FALSE(exists("permit/ab1234567.ksp"));
  EXPECT_TRUE(exists("permit/ab7654321.ksp"));

  EXPECT_EQ(2, expire({"--max-age", "0"}).exitStatus);
  EXPECT_EQ(2, expire({"--every"}).exitStatus);
  EXPECT_EQ(1, inst_.run("binind/expire_results", {"--root", inst_.path("nowhere")}).exitStatus);
  EXPECT_EQ(0, inst_.run("binind/expire_results", {"--help"}).exitStatus);
}

}  // namespace
