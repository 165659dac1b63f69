/// @file log_test.cc
/// @brief The run clock, the debug switch, the search log and the system log.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "system/log.h"
#include "system/system_log.h"
#include "tests/system/system_fixture.h"

namespace {

constexpr time_t kNoon = 1706704496;  // 2024-01-31 12:34:56 UTC

// An in-memory stream whose text can be read back.
class MemoryStream {
 public:
  MemoryStream() : file_(open_memstream(&data_, &size_)) {}
  ~MemoryStream() {
    fclose(file_);
    free(data_);
  }
  FILE* get() const { return file_; }
  std::string text() {
    fflush(file_);
    return std::string(data_, size_);
  }

 private:
  char* data_ = nullptr;
  size_t size_ = 0;
  FILE* file_;
};

using RunClock = InstallTest;

TEST_F(RunClock, ElapsedAndDeltaMilliseconds) {
  fixClock(100, 700000);
  initRunInfo();
  MemoryStream log;
  fixClock(101, 700999);
  logTimeInfo(log.get(), "b-function 'sortByRec'");
  fixClock(101, 950000);
  logTimeInfo(log.get(), "a-function 'sortByRec'");
  fixClock(kNoon, 7999);
  print_time_info(log.get(), "run getfilelist");
  EXPECT_EQ(log.text(),
            "1000,1000: b-function 'sortByRec'\n1250,250: a-function 'sortByRec'\n"
            "run getfilelist\t2024/01/31\t12:34:56.7\n");
}

using DebugLog = InstallTest;

TEST_F(DebugLog, SwitchLinesIgnoreCase) {
  const std::pair<const char*, bool> cases[] = {
      {nullptr, false},         {"SEARCHRUN.LOG=y\n", true}, {"other\nDEBUG_MODE=y", true},
      {"other.log=Y\n", false}, {"debug_mode=N\n", false},   {"searchrun.log=Y \n", false}};
  for (const auto& [cfg, on] : cases) {
    resetLogStateForTests();
    unlink("debug/searchrun.log");
    if (cfg) testutil::writeFile("system.debug.cfg", cfg);
    SetLogFileName("searchrun.log");
    ReportLog("%s(%d): value = '%s'\n", "file.cc", 12, "v");
    EXPECT_EQ(testutil::readFile("debug/searchrun.log"), on ? "file.cc(12): value = 'v'\n" : "")
        << (cfg ? cfg : "no switch file");
    if (!cfg) {
      EXPECT_FALSE(testutil::fileExists("debug"));
    }
  }
}

TEST_F(DebugLog, SwitchFileOneLevelUpLogsThere) {
  testutil::writeFile(root("system.debug.cfg"), "debug_mode=Y\n");
  SetLogFileName("searchrun.log");
  ReportLog("one ");
  ReportLog("two\n");
  EXPECT_EQ(testutil::readFile(root("debug/searchrun.log")), "one two\n");
  EXPECT_FALSE(testutil::fileExists("debug"));
}

class SearchLog : public InstallTest {
 protected:
  SearchLog() {
    writeSetting("ts_adv_log.cfg", "OutputQueryInfo=Y\n");
    testutil::makeDirs(root("system_log/query"));
  }
  static void log(time_t begin, long beginMicros, time_t end, long endMicros,
                  const char* query = "apple") {
    RecSearchLog(timeval{begin, beginMicros}, timeval{end, endMicros}, 2, 17, "alice", "10.0.0.5",
                 "bob", "news", query);
  }
  std::string dayFile(const std::string& day) const {
    return testutil::readFile(root("system_log/query/" + day + ".log"));
  }
  testutil::ScopedEnv addr_{"REMOTE_ADDR", "192.168.1.9"};
  testutil::ScopedEnv server_{"SERVER_NAME", nullptr};
};

TEST_F(SearchLog, OneLinePerSearchWhateverTheQuery) {
  log(kNoon, 5000, kNoon + 1, 250000);
  log(kNoon, 0, kNoon, 0, "a\tb\nfake line\r");
  EXPECT_EQ(dayFile("20240131"),
            "2024/01/31\t12:34:56.5\t2024/01/31\t12:34:57.250\t192.168.1.9\talice\tNULL\t"
            "10.0.0.5\tbob\tnews\tapple\t17\n"
            "2024/01/31\t12:34:56.0\t2024/01/31\t12:34:56.0\t192.168.1.9\talice\tNULL\t"
            "10.0.0.5\tbob\tnews\ta b fake line \t17\n");
}

TEST_F(SearchLog, DayOfTheBeginTime) {
  const time_t lastSecond = 1706745599;  // 2024-01-31 23:59:59
  log(lastSecond, 900000, lastSecond + 2, 0);
  EXPECT_EQ(dayFile("20240131").rfind("2024/01/31\t23:59:59.900\t2024/02/01\t00:00:01.0\t", 0), 0u);
  EXPECT_FALSE(testutil::fileExists(root("system_log/query/20240201.log")));
}

TEST_F(SearchLog, SwitchMustBeExactlyY) {
  for (const char* cfg : {"OutputQueryInfo=y\n", "OutputQueryInfo=Yes\n", "#OutputQueryInfo=Y\n",
                          "OutputQueryInfo =Y\n", ""}) {
    writeSetting("ts_adv_log.cfg", cfg);
    log(kNoon, 0, kNoon, 0);
    EXPECT_FALSE(testutil::fileExists(root("system_log/query/20240131.log"))) << cfg;
  }
}

using SystemLog = InstallTest;

TEST_F(SystemLog, OpenWriteClose) {
  fixClock(kNoon);
  FILE* f = openLogFile("owner", "news", "build.log");
  ASSERT_NE(f, nullptr);
  writeDataToLog(f, 7, "built", nullptr, nullptr, kNoLogValue);
  writeDataToLog(f, 12345, "failed", "alice", nullptr, 0);
  writeDataToLog(f, 1, "both", "x", "y", -2);
  closeLogFile(f);
  EXPECT_EQ(testutil::readFile(root("system_log/index/news/build.log")),
            "----- [OPEN] 2024/01/31 12:34:56 -----\n"
            "[2024/01/31 12:34:56.0007] built\n"
            "[2024/01/31 12:34:56.12345] failed [alice] [0]\n"
            "[2024/01/31 12:34:56.0001] both [x] [y] [-2]\n"
            "----- [CLOSE] 2024/01/31 12:34:56 -----\n");
}

}  // namespace
