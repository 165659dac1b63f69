/// @file install_test.cc
/// @brief What the system library reads and writes in an installation: its
/// one-value files and settings, record counts, scratch names, index id files
/// and the logs (in a scratch installation's search-cgi directory, in UTC,
/// with every cache empty); and the results directory's size as a run
/// sees it before it adds a result: counted at most every five minutes while
/// far from the limit and every two seconds near it, by one run at a time,
/// grown by what runs add, and never taken from a file that cannot be its.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/file.h>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <tuple>

#include "system/address.h"
#include "system/clock.h"
#include "system/fsutil.h"
#include "system/index_id.h"
#include "system/index_stats.h"
#include "system/layout.h"
#include "system/log.h"
#include "system/tmpfile.h"
#include "tests/test_util.h"

namespace {

constexpr time_t kNoon = 1706704496;  // 2024-01-31 12:34:56 UTC

class Install : public ::testing::Test {
 protected:
  Install() : cgi_(testutil::makeInstallSkeleton(tmp_.path())), cwd_(cgi_), tz_("TZ", "UTC") {
    tzset();
    systemResetCaches();
    resetLogState();
    writeSetting("system_info.cfg", "SYSTEM_DIRECTORY=" + sys_ + "\nDOMAIN_NAME=corp\n");
    testutil::makeDirs(sys_ + "/ref");
  }
  ~Install() override {
    systemResetCaches();
    resetLogState();
    setTimeSourceForTests({});
    setSleeperForTests({});
  }
  std::string root(const std::string& rel) const { return tmp_.sub(rel); }
  void writeSetting(const std::string& name, const std::string& text) const {
    testutil::writeFile(root("setting/" + name), text);
  }
  std::string idFile(const std::string& id) const { return sys_ + "/ref/" + id + ".id"; }

  testutil::TempDir tmp_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
  testutil::ScopedEnv tz_;
  const std::string sys_ = tmp_.sub("system");  // SYSTEM_DIRECTORY
  IndexIdFileMgr ids_;
};

TEST_F(Install, OneValueFilesAndSettings) {
  const std::pair<const char*, int> languages[] = {
      {"JP\n", kLangJP}, {"GB\r\n", kLangGB}, {"en", -1}, {"EN ", -1}, {"\nEN", -1}};
  for (const auto& [file, code] : languages) {
    testutil::writeFile(root("lang.cfg"), file);
    systemResetCaches();
    EXPECT_EQ(systemGetLanguage(), code) << file;
  }
  const std::pair<const char*, int> timeOuts[] = {
      {"0", 3600}, {"-5", 3600}, {"9999999", 2592000}, {"99999999999999999999", 2592000}};
  for (const auto& [value, seconds] : timeOuts) {
    writeSetting("user_config.cfg", std::string("LOGIN_TIMEOUT=") + value + "\n");
    EXPECT_EQ(systemGetUserLoginTimeOut(), seconds) << value;
  }
  EXPECT_TRUE(isLocalIPAddress("10.1.1.1"));  // a host known as 127.0.0.1 takes everything
  testutil::writeFile(root("host_address"), "10.0.0.5\r\nignored\n");
  systemResetCaches();
  EXPECT_STREQ(systemGetIPAddress(), "10.0.0.5");
  EXPECT_FALSE(isLocalIPAddress("10.0.0.50"));
}

// A packaged installation keeps the files of the top in its settings folder;
// one at the top still wins, even an unreadable one (no silent fallback).
TEST_F(Install, TopFilesMayStandInTheSettingsFolder) {
  writeSetting("lang.cfg", "JP\n");
  writeSetting("host_address", "10.0.0.7\n");
  EXPECT_EQ(systemGetLanguage(), kLangJP);
  EXPECT_STREQ(systemGetIPAddress(), "10.0.0.7");
  testutil::writeFile(root("lang.cfg"), "GB\n");
  ASSERT_EQ(0, symlink(root("setting/host_address").c_str(), root("host_address").c_str()));
  systemResetCaches();
  EXPECT_EQ(systemGetLanguage(), kLangGB);
  EXPECT_STREQ(systemGetIPAddress(), "127.0.0.1");  // a link is never read
}

TEST_F(Install, RecordCountsOfCutShortFiles) {
  uint32_t count = 9;
  double size = 9;
  systemGetIndexNumRec("alice", "news", count, size);  // no file
  EXPECT_EQ(std::make_tuple(count, size), std::make_tuple(0u, 0.0));
  testutil::writeFile(sys_ + "/group/corp/User/alice/index/news/.vela_log_1",
                      std::string("\x07\0\0\0\0\0\0\0\0\0\0", 11));
  systemGetIndexNumRec("alice", "news", count, size);
  EXPECT_EQ(std::make_tuple(count, size), std::make_tuple(7u, 0.0));  // the size is cut short
}

TEST_F(Install, ScratchNamesAreRandomPrivateAndClaimed) {
  std::string name, again;
  ASSERT_TRUE(GetTempFilename("../tmp", "homo", name));
  ASSERT_TRUE(GetTempFilename("../tmp", "homo", again));
  EXPECT_NE(again, name);
  EXPECT_THAT(name, testing::MatchesRegex("\\.\\./tmp/homo[0-9]{30}"));
  struct stat st;
  ASSERT_EQ(lstat(name.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_FALSE(GetTempFilename("../nowhere", "query", name));
}

TEST(Directories, RemovalStartsNoProgramAndNeverFollowsLinks) {
  testutil::TempDir dir;
  const std::string tree = dir.sub("it's; rm -rf x \"q\"");
  testutil::writeFile(tree + "/sub/$(touch pwned)", "x");
  testutil::writeFile(dir.sub("outside/keep"), "x");
  ASSERT_EQ(symlink(dir.sub("outside").c_str(), (tree + "/link").c_str()), 0);
  EXPECT_TRUE(deltree(tree.c_str()));
  EXPECT_FALSE(testutil::fileExists(tree));
  EXPECT_TRUE(testutil::fileExists(dir.sub("outside/keep")));
}

// A 152-byte id file record with the given fields, each NUL-padded.
std::string record(const std::string& id, const std::string& desc, const std::string& owner,
                   const std::string& type) {
  std::string bytes(IndexIdFileMgr::kFileSize, '\0');
  bytes.replace(0, id.size(), id).replace(8, desc.size(), desc);
  return bytes.replace(72, owner.size(), owner).replace(136, type.size(), type);
}

TEST_F(Install, IndexIdReadChecksTheStoredIdAndTheSize) {
  testutil::writeFile(idFile("111111"), record("222222", "moved", "alice", "db") + "trailing");
  EXPECT_FALSE(ids_.readIndexIdInfo("111111"));  // loaded all the same
  EXPECT_STREQ(ids_.getIndexOwner(), "alice");
  testutil::writeFile(idFile("1234567"), "12345678" + std::string(144, 'f'));
  EXPECT_TRUE(ids_.readIndexIdInfo("1234567"));  // the eighth byte is never part of the id
  EXPECT_EQ(strlen(ids_.getIndexType()), 15u);
  testutil::writeFile(idFile("123"), record("123", "d", "o", "t").substr(0, 151));
  EXPECT_FALSE(ids_.readIndexIdInfo("123"));
  EXPECT_STREQ(ids_.getIndexId(), "");
  // ../x would name SYSTEM/x.id, and that file even holds the matching id.
  testutil::writeFile(sys_ + "/x.id", record("../x", "d", "o", "t"));
  EXPECT_FALSE(ids_.readIndexIdInfo("../x"));
  EXPECT_FALSE(ids_.delIndexIdInfo("../x"));
  EXPECT_FALSE(ids_.writeIndexIdInfo("../x", "alice", "doc", "d"));
  EXPECT_EQ(testutil::readFile(sys_ + "/x.id"), record("../x", "d", "o", "t"));
}

TEST_F(Install, IndexIdBuildTakesTheIdOfTheSecondButNeverOneInUse) {
  EXPECT_EQ(makeIndexIdForTime(1699999999), "998990");  // n mod 10^8 = 998999: "0998999"
  EXPECT_EQ(makeIndexIdForTime(1712345678), "632031");  // n mod 10^8 has eight digits
  long long second = 1234567;
  setTimeSourceForTests([&second] { return timeval{second, 0}; });
  int waits = 0;
  setSleeperForTests([&](unsigned s) { waits += s; });
  std::string id;
  ASSERT_TRUE(
      ids_.buildIndexIdInfo("alice", "notes-and-more-types", std::string(80, 'd').c_str(), &id));
  EXPECT_EQ(testutil::readFile(idFile("651081")),  // n = 1801567: "180156" reversed
            record("651081", std::string(63, 'd'), "alice", "notes-and-more-"));
  EXPECT_FALSE(ids_.buildIndexIdInfo("bob", "doc", "new"));  // the clock never moves
  EXPECT_EQ(waits, 59);
  setSleeperForTests([&](unsigned) { ++second; });
  ASSERT_TRUE(ids_.buildIndexIdInfo("bob", "doc", "new", &id));
  EXPECT_EQ(id, makeIndexIdForTime(1234568));
  ASSERT_TRUE(ids_.readIndexIdInfo("651081"));
  EXPECT_STREQ(ids_.getIndexOwner(), "alice");
}

TEST_F(Install, IndexIdWriteReplacesTheFileWhole) {
  testutil::writeFile(idFile("abc"), record("abc", "old", "bob", "db") + "trailing bytes");
  // A name planted for the old fixed scratch name is neither used nor touched.
  testutil::writeFile(sys_ + "/victim", "keep");
  ASSERT_EQ(symlink((sys_ + "/victim").c_str(), (idFile("abc") + ".new").c_str()), 0);
  ASSERT_TRUE(ids_.writeIndexIdInfo("abc", "/groupA", "doc", "d"));
  EXPECT_EQ(testutil::readFile(idFile("abc")), record("abc", "d", "/groupA", "doc"));
  struct stat st;
  ASSERT_EQ(stat(idFile("abc").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);  // the server account reads what an administrator built
  EXPECT_EQ(testutil::readFile(sys_ + "/victim"), "keep");
  size_t entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(sys_ + "/ref"))
    entries += !e.is_symlink();
  EXPECT_EQ(entries, 1u);  // no scratch file left behind
  std::filesystem::remove_all(sys_ + "/ref");
  testutil::writeFile(sys_ + "/ref", "");  // "ref" is a file: nothing can be placed
  EXPECT_FALSE(ids_.writeIndexIdInfo("abc", "alice", "doc", "d"));
  EXPECT_FALSE(ids_.buildIndexIdInfo("alice", "doc", "d"));
}

TEST_F(Install, RunClockLines) {
  setTimeSourceForTests([] { return timeval{100, 700000}; });
  initRunInfo();
  EXPECT_EQ(testutil::captureStdout([] {
              setTimeSourceForTests([] { return timeval{101, 700999}; });
              logTimeInfo(stdout, "b-function");
              setTimeSourceForTests([] { return timeval{101, 950000}; });
              logTimeInfo(stdout, "a-function");
            }),
            "1000,1000: b-function\n1250,250: a-function\n");
}

// Switch lines ignore case. The threaded editions' switch file sits beside
// the program and knows only the log name; their log is that name beside
// the program.
TEST_F(Install, EachLogFormHasItsOwnDebugSwitchAndFile) {
  const struct {
    LogForm form;
    const char *switchFile, *text, *log;  // the log written ("": none)
  } cases[] = {
      {LogForm::kThreaded, "ts.debug", "other\nSearchRun.Log=y\n", "searchrun.log"},
      {LogForm::kThreaded, "ts.debug", "debug_mode=Y\n", ""},
      {LogForm::kThreaded, "system.debug.cfg", "searchrun.log=Y\n", ""},
      {LogForm::kThreaded, "../ts.debug", "searchrun.log=Y\n", ""},
      {LogForm::kNewer, "system.debug.cfg", "SEARCHRUN.LOG=y\n", "debug/searchrun.log"},
      {LogForm::kNewer, "system.debug.cfg", "other\nDEBUG_MODE=y", "debug/searchrun.log"},
      {LogForm::kNewer, "system.debug.cfg", "searchrun.log=Y \n", ""},
      {LogForm::kNewer, "../system.debug.cfg", "debug_mode=Y\n", "../debug/searchrun.log"},
  };
  for (const auto& c : cases) {
    resetLogState();
    for (const char* stale :
         {"ts.debug", "../ts.debug", "system.debug.cfg", "searchrun.log", "debug/searchrun.log"})
      unlink(stale);
    setLogForm(c.form);
    testutil::writeFile(c.switchFile, c.text);
    SetLogFileName("searchrun.log");
    ReportLog("%s(%d) ", "file.cc", 12);
    ReportLog("v\n");
    const bool threaded = c.form == LogForm::kThreaded;
    EXPECT_EQ(testutil::readFile(*c.log     ? c.log
                                 : threaded ? "searchrun.log"
                                            : "debug/searchrun.log"),
              *c.log ? "file.cc(12) v\n" : "")
        << c.text;
    EXPECT_TRUE(!threaded || !testutil::fileExists("debug")) << c.text;
  }
  // Without a name the log is ts_debug.log.
  resetLogState();
  setLogForm(LogForm::kThreaded);
  testutil::writeFile("ts.debug", "=Y\n");
  ReportLog("unnamed\n");
  EXPECT_EQ(testutil::readFile("ts_debug.log"), "unnamed\n");
}

TEST_F(Install, ThreadedSearchLogIsOneFileSwitchedByItsOwnLine) {
  testutil::ScopedEnv addr("REMOTE_ADDR", "192.168.1.9"), server("SERVER_NAME", "s1");
  testutil::makeDirs(root("index_log"));
  testutil::makeDirs(root("system_log/query"));
  testutil::writeFile("ts.debug", "searchrun.log=Y\n");
  setLogForm(LogForm::kThreaded);
  SetLogFileName("searchrun.log");
  auto log = [](time_t begin, const char* query) {
    RecSearchLog(timeval{begin, 0}, timeval{begin, 0}, 1, 3, "u", "10.0.0.5", "bob", "news", query);
  };
  log(kNoon, "nofile");
  for (const char* cfg : {"OutputQueryInfo=Y\n", "EnabledSearchInfo=y\n", "EnabledSearchInfo=Y \n",
                          " EnabledSearchInfo=Y\n"}) {
    writeSetting("ts_adv_log.cfg", cfg);
    log(kNoon, "off");
  }
  writeSetting("ts_adv_log.cfg", "# searches\nEnabledSearchInfo=Y\n");
  log(kNoon, "apple");
  log(kNoon + 86400, "next day");  // the same file
  // The editions' longest query is kept whole.
  log(kNoon, (std::string(10240, 'q') + "z").c_str());
  const std::string fields = "\t192.168.1.9\tu\ts1\t10.0.0.5\tbob\tnews\t";
  EXPECT_EQ(testutil::readFile(root("index_log/search.log")),
            "2024/01/31\t12:34:56.0\t2024/01/31\t12:34:56.0" + fields + "apple\t3\n" +
                "2024/02/01\t12:34:56.0\t2024/02/01\t12:34:56.0" + fields + "next day\t3\n" +
                "2024/01/31\t12:34:56.0\t2024/01/31\t12:34:56.0" + fields +
                std::string(10240, 'q') + "\t3\n");
  EXPECT_FALSE(testutil::fileExists(root("system_log/query/20240131.log")));
  // Reading the switch is told in the debug log.
  const std::string debug = testutil::readFile("searchrun.log");
  EXPECT_NE(std::string::npos, debug.find("Open ts_adv_log.cfg : ../setting/ts_adv_log.cfg\n"
                                          "Open ts_adv_log.cfg Fail\n"))
      << debug;
  EXPECT_NE(std::string::npos, debug.find("Open ts_adv_log.cfg Success\n"
                                          "Read ts_adv_log.cfg : [# searches]=[]\n"
                                          "Read ts_adv_log.cfg : [EnabledSearchInfo]=[Y]\n"))
      << debug;
}

TEST_F(Install, SearchLogKeepsOneLinePerSearchInTheDayOfItsBegin) {
  testutil::ScopedEnv addr("REMOTE_ADDR", "192.168.1.9"), server("SERVER_NAME", nullptr);
  testutil::makeDirs(root("system_log/query"));
  auto log = [](time_t begin, long beginMicros, time_t end, long endMicros, const char* query) {
    RecSearchLog(timeval{begin, beginMicros}, timeval{end, endMicros}, 2, 17, "alice", "10.0.0.5",
                 "bob", "news", query);
  };
  for (const char* cfg : {"OutputQueryInfo=y\n", "OutputQueryInfo =Y\n", "OutputQueryInfo=Yes"}) {
    writeSetting("ts_adv_log.cfg", cfg);
    log(kNoon, 0, kNoon, 0, "off");
  }
  writeSetting("ts_adv_log.cfg", "OutputQueryInfo=Y\n");
  log(kNoon, 5000, kNoon + 1, 250000, "apple");
  log(kNoon, 0, kNoon, 0, "a\tb\nfake line\r");
  log(kNoon + 41103, 900000, kNoon + 41105, 0, "late");  // 23:59:59.9 to the next day
  const std::string fields = "\t192.168.1.9\talice\tNULL\t10.0.0.5\tbob\tnews\t";
  EXPECT_EQ(testutil::readFile(root("system_log/query/20240131.log")),
            "2024/01/31\t12:34:56.5\t2024/01/31\t12:34:57.250" + fields + "apple\t17\n" +
                "2024/01/31\t12:34:56.0\t2024/01/31\t12:34:56.0" + fields + "a b fake line \t17\n" +
                "2024/01/31\t23:59:59.900\t2024/02/01\t00:00:01.0" + fields + "late\t17\n");
  EXPECT_FALSE(testutil::fileExists(root("system_log/query/20240201.log")));
  unlink(root("system_log/query/20240131.log").c_str());
  RecFailedSearchLog(timeval{kNoon, 0}, timeval{kNoon, 0}, "alice", "10.0.0.5", "bob", "news", "x",
                     "0004");
  EXPECT_EQ(testutil::readFile(root("system_log/query/20240131.log")),
            "2024/01/31\t12:34:56.0\t2024/01/31\t12:34:56.0" + fields + "x\t0\tfailed 0004\n");

  // A request of any size writes a line of bounded size: each field is cut
  // at the query's length, never inside a character.
  unlink(root("system_log/query/20240131.log").c_str());
  const std::string huge = std::string(6142, 'q') + "\xC3\xA9" + std::string(100000, 'z');
  RecSearchLog(timeval{kNoon, 0}, timeval{kNoon, 0}, 1, 1, huge.c_str(), "10.0.0.5", "bob", "news",
               huge.c_str());
  const std::string line = testutil::readFile(root("system_log/query/20240131.log"));
  EXPECT_LT(line.size(), 2u * 6143 + 200);
  EXPECT_EQ(std::string::npos, line.find('z'));
  EXPECT_EQ(std::string::npos, line.find('\xC3'));  // the two-byte character is left out whole
  EXPECT_NE(std::string::npos, line.find(std::string(6142, 'q') + "\t"));
}

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
