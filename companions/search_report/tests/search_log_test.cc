/// @file search_log_test.cc
/// @brief The search log reader: lines of every shape, calendar days, and the
/// bounds and link rules of reading a day's file; and the figures of the search
/// report and the page that shows them.

#include "companions/search_report/search_log.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include <regex>
#include <string>
#include <vector>

#include "companions/search_report/report_page.h"
#include "companions/search_report/search_stats.h"
#include "system/layout.h"
#include "system/log.h"
#include "system/secure_file.h"
#include "tests/test_util.h"

namespace {

using report::Day;
using report::LogFileResult;
using report::SearchLogEntry;

const std::string kFields = "\t192.168.1.9\talice\tNULL\t10.0.0.5\tbob\tnews\t";

TEST(SearchLogLine, ReadsTheLinesRecSearchLogWrites) {
  struct {
    std::string line;
    std::string query;
    uint64_t records;
    int64_t millis;
  } cases[] = {
      {"2024/01/31\t12:34:56.5\t2024/01/31\t12:34:57.250" + kFields + "apple\t17", "apple", 17,
       1245},
      // Milliseconds are not padded: ".5" is 5 ms, not 500.
      {"2024/01/31\t12:34:56.5\t2024/01/31\t12:34:56.50" + kFields + "a b\t0", "a b", 0, 45},
      // A search that ends on the next day, in a leap year.
      {"2024/02/29\t23:59:59.900\t2024/03/01\t00:00:01.0" + kFields + "late\t3", "late", 3, 1100},
      {"2023/12/31\t23:59:59.999\t2024/01/01\t00:00:00.0" + kFields + "\t4294967295", "",
       4294967295u, 1},
      // The clock set back during the search.
      {"2024/01/31\t12:00:00.0\t2024/01/31\t11:59:00.0" + kFields + "<script>\t1", "<script>", 1,
       0},
      {"2016/12/31\t23:59:60.0\t2017/01/01\t00:00:00.0" + kFields + "leap\t1", "leap", 1, 0},
  };
  for (const auto& c : cases) {
    const std::optional<SearchLogEntry> e = report::parseSearchLogLine(c.line);
    ASSERT_TRUE(e) << c.line;
    EXPECT_EQ(e->query, c.query) << c.line;
    EXPECT_EQ(e->records, c.records) << c.line;
    EXPECT_EQ(e->durationMillis(), c.millis) << c.line;
  }
}

TEST(SearchLogLine, RefusesEveryOtherShape) {
  const std::string b = "2024/01/31\t12:34:56.5\t", e = "2024/01/31\t12:34:57.5";
  const std::string cases[] = {
      "",
      b + e + kFields + "apple",              // no count
      b + e + kFields + "apple\t17\textra",   // a field too many
      b + e + kFields + "apple\t0\tfailed ",  // a failure without its code
      b + e + kFields + "apple\t0\tfailed 0004\tx",
      b + e + "\tx\tx\tx\tx\tx\tapple\t17",  // a field too few
      b + e + kFields + "apple\t-1",         // counts are never negative
      b + e + kFields + "apple\t17 ",        // nor padded
      b + e + kFields + "apple\t",           // nor empty
      b + e + kFields + "apple\t99999999999999999999",
      "2024-01-31\t12:34:56.5\t" + e + kFields + "a\t1",
      "2024/13/01\t12:34:56.5\t" + e + kFields + "a\t1",
      "2023/02/29\t12:34:56.5\t" + e + kFields + "a\t1",  // not a leap year
      "2024/04/31\t12:34:56.5\t" + e + kFields + "a\t1",
      "1969/12/31\t12:34:56.5\t" + e + kFields + "a\t1",
      "2024/01/31\t24:00:00.0\t" + e + kFields + "a\t1",
      "2024/01/31\t12:60:00.0\t" + e + kFields + "a\t1",
      "2024/01/31\t12:34:56\t" + e + kFields + "a\t1",  // no milliseconds
      "2024/01/31\t12:34:56.1000\t" + e + kFields + "a\t1",
      "2024/01/31\t12:34:56.\t" + e + kFields + "a\t1",
      "2024/01/31\t2:34:56.5\t" + e + kFields + "a\t1",
      "2024/01/31\t12:34:5x.5\t" + e + kFields + "a\t1",
      b + "2024/01/31\t12:34:57,5" + kFields + "a\t1",
  };
  for (const std::string& line : cases)
    EXPECT_FALSE(report::parseSearchLogLine(line)) << line;
}

TEST(SearchLogDay, SerialsFollowTheCalendar) {
  struct {
    Day day;
    int64_t serial;
    const char* file;
  } cases[] = {
      {{1970, 1, 1}, 0, "19700101.log"},      {{1970, 3, 1}, 59, "19700301.log"},
      {{2000, 2, 29}, 11016, "20000229.log"}, {{2000, 3, 1}, 11017, "20000301.log"},
      {{2024, 1, 31}, 19753, "20240131.log"}, {{2100, 3, 1}, 47541, "21000301.log"},
      {{1969, 12, 31}, -1, "19691231.log"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.day.serial(), c.serial) << c.file;
    EXPECT_EQ(Day::fromSerial(c.serial), c.day) << c.file;
    EXPECT_EQ(c.day.fileName(), c.file);
  }
  // Every day of four centuries comes back from its serial.
  for (int64_t s = Day{1970, 1, 1}.serial(); s < Day{2370, 1, 1}.serial(); ++s)
    ASSERT_EQ(Day::fromSerial(s).serial(), s);
}

class SearchLogFile : public ::testing::Test {
 protected:
  void SetUp() override { dirFd_ = open(dir_.path().c_str(), O_RDONLY | O_DIRECTORY); }
  void TearDown() override { close(dirFd_); }

  LogFileResult read(const std::string& name, report::LogReadLimits limits = {}) {
    queries_.clear();
    return report::readSearchLogFile(
        dirFd_, name, limits, [this](const SearchLogEntry& e) { queries_.push_back(e.query); });
  }
  static std::string line(const std::string& query) {
    return "2024/01/31\t12:34:56.5\t2024/01/31\t12:34:57.250" + kFields + query + "\t1\n";
  }

  testutil::TempDir dir_;
  int dirFd_ = -1;
  std::vector<std::string> queries_;
};

TEST_F(SearchLogFile, SkipsLongAndMalformedLinesAndTheLineBeingWritten) {
  const std::string longQuery(8192, 'q');
  testutil::writeFile(dir_.sub("a.log"), line("one") + line(longQuery) + "garbage\n\n" +
                                             line("two") + line("cr") +
                                             "2024/01/31\t12:34:56.5\t2024/01/31\t12:3");
  const LogFileResult r = read("a.log");
  EXPECT_EQ(r.status, LogFileResult::Status::kRead);
  EXPECT_EQ(queries_, (std::vector<std::string>{"one", "two", "cr"}));
  EXPECT_EQ(r.entries, 3u);
  EXPECT_EQ(r.longLines, 1u);
  EXPECT_EQ(r.malformed, 2u);

  // A line just within the bound is read; carriage returns are no part of it.
  const std::string fits = line(std::string(8192 - line("").size() + 1, 'f'));
  ASSERT_EQ(fits.size(), 8193u);
  testutil::writeFile(dir_.sub("b.log"), fits + line("crlf").insert(line("crlf").size() - 1, "\r"));
  EXPECT_EQ(read("b.log").entries, 2u);
  EXPECT_EQ(queries_.back(), "crlf");
}

TEST_F(SearchLogFile, NeverFollowsALinkNorReadsOtherKindsOfFile) {
  testutil::writeFile(dir_.sub("real.log"), line("secret"));
  ASSERT_EQ(symlink(dir_.sub("real.log").c_str(), dir_.sub("link.log").c_str()), 0);
  ASSERT_EQ(mkfifo(dir_.sub("fifo.log").c_str(), 0600), 0);
  testutil::makeDirs(dir_.sub("dir.log"));
  for (const char* name : {"link.log", "fifo.log", "dir.log"}) {
    EXPECT_EQ(read(name).status, LogFileResult::Status::kNotRegular) << name;
    EXPECT_TRUE(queries_.empty()) << name;
  }
  EXPECT_EQ(read("none.log").status, LogFileResult::Status::kMissing);
}

TEST_F(SearchLogFile, SkipsAFileOverTheCapWhole) {
  testutil::writeFile(dir_.sub("big.log"), line("a") + line("b"));
  report::LogReadLimits limits;
  limits.maxFileBytes = line("a").size() * 2;
  EXPECT_EQ(read("big.log", limits).entries, 2u);
  limits.maxFileBytes -= 1;
  const LogFileResult r = read("big.log", limits);
  EXPECT_EQ(r.status, LogFileResult::Status::kTooLarge);
  EXPECT_TRUE(queries_.empty());
}

// The writer of the search log and this reader, through a real day's file.
TEST(SearchLogRoundTrip, TheReaderGetsBackEveryFieldTheWriterWrote) {
  testutil::TempDir root;
  testutil::ScopedCwd cwd(testutil::makeInstallSkeleton(root.path()));
  testutil::ScopedEnv tz("TZ", "UTC"), addr("REMOTE_ADDR", "192.168.1.9"),
      server("SERVER_NAME", "search.example");
  tzset();
  systemResetCaches();
  testutil::writeFile(root.sub("setting/ts_adv_log.cfg"), "OutputQueryInfo=Y\n");
  testutil::makeDirs(root.sub("system_log/query"));
  const time_t noon = 1706704496;  // 2024-01-31 12:34:56 UTC
  RecSearchLog(timeval{noon, 5000}, timeval{noon + 1, 250000}, 2, 17, "alice", "10.0.0.5", "bob",
               "news", "apple pie");
  RecFailedSearchLog(timeval{noon, 0}, timeval{noon, 7000}, "carol", "10.0.0.6", "dan", "all",
                     "free", "0004");

  std::vector<SearchLogEntry> entries;
  LogFileResult result;
  report::readSearchLogText(testutil::readFile(root.sub("system_log/query/20240131.log")), 8192,
                            result, [&entries](const SearchLogEntry& e) { entries.push_back(e); });
  systemResetCaches();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(result.malformed, 0u);
  const auto fields = [](const SearchLogEntry& e) {
    return e.begin.text() + "|" + std::to_string(e.durationMillis()) + "|" + e.remoteAddr + "|" +
           e.user + "|" + e.serverName + "|" + e.hostAddress + "|" + e.owner + "|" + e.index + "|" +
           e.query + "|" + std::to_string(e.records) + "|" + e.failure;
  };
  EXPECT_EQ(fields(entries[0]),
            "2024-01-31 12:34:56|1245|192.168.1.9|alice|search.example|"
            "10.0.0.5|bob|news|apple pie|17|");
  EXPECT_EQ(fields(entries[1]),
            "2024-01-31 12:34:56|7|192.168.1.9|carol|search.example|"
            "10.0.0.6|dan|all|free|0|0004");
}

using report::SearchStats;

SearchLogEntry entry(Day day, int hour, const std::string& query, uint64_t records,
                     int64_t millis = 0, int minute = 0) {
  SearchLogEntry e;
  e.begin.day = day;
  e.begin.hour = hour;
  e.begin.minute = minute;
  e.end = e.begin;
  e.end.second = static_cast<int>(millis / 1000);
  e.end.millis = static_cast<int>(millis % 1000);
  e.query = query;
  e.records = records;
  e.index = "news";
  return e;
}

std::vector<std::string> queries(const std::vector<report::QueryCount>& rows) {
  std::vector<std::string> out;
  for (const auto& r : rows)
    out.push_back(r.query + "=" + std::to_string(r.searches) + "/" + std::to_string(r.withoutHits));
  return out;
}

const Day kLast{2024, 3, 1};

TEST(SearchStats, CountsOnlySearchesThatBeganInTheWindow) {
  SearchStats s(kLast, 3);  // 2024-02-28 to 2024-03-01: a leap year
  EXPECT_EQ(s.first(), (Day{2024, 2, 28}));
  for (const SearchLogEntry& e : {
           entry({2024, 2, 27}, 9, "before", 1, 4000),
           entry({2024, 2, 28}, 0, "a", 1, 1000),
           entry({2024, 2, 29}, 23, "a", 0, 3000),
           entry({2024, 2, 29}, 23, "b", 2, 0),
           entry({2024, 3, 1}, 9, "c", 0, 0),
           entry({2024, 3, 2}, 9, "after", 1, 4000),
       }) {
    s.add(e);
  }
  SearchLogEntry failed = entry({2024, 3, 1}, 9, "c", 0, 0);
  failed.failure = "0004";
  s.add(failed);
  // Searches, outside the window, failed, without hits (a failed search is
  // not one), distinct queries.
  EXPECT_EQ((std::vector<uint64_t>{s.searches(), s.outsideWindow(), s.failedSearches(),
                                   s.searchesWithoutHits(), s.distinctQueries()}),
            (std::vector<uint64_t>{5, 2, 1, 2, 3}));
  EXPECT_EQ(s.meanMillis(), 800);
  EXPECT_EQ(s.perDay(), (std::vector<uint64_t>{1, 2, 2}));
  std::array<uint64_t, 24> hours{};
  hours[0] = 1;
  hours[9] = 2;
  hours[23] = 2;
  EXPECT_EQ(s.perHour(), hours);
}

TEST(SearchStats, RanksQueriesByCountThenText) {
  SearchStats s(kLast, 1, 3);
  const char* searched[] = {"pear", "  apple   pie ", "apple pie", "fig",
                            "pear", "apple pie",      "date",      "date"};
  for (const char* q : searched)
    s.add(entry(kLast, 10, q, 5));
  s.add(entry(kLast, 11, "date", 0));
  s.add(entry(kLast, 12, "zzz", 0));
  s.add(entry(kLast, 12, "yyy", 0));
  EXPECT_EQ(queries(s.topQueries()),
            (std::vector<std::string>{"apple pie=3/0", "date=3/1", "pear=2/0"}));
  EXPECT_EQ(queries(s.queriesWithoutHits()),
            (std::vector<std::string>{"date=3/1", "yyy=1/1", "zzz=1/1"}));
  EXPECT_EQ(s.topQueries()[1].last.hour, 11);  // the latest search of it
}

TEST(SearchStats, KeepsTheSlowestSearchesEarlierFirstAmongEqualTimes) {
  SearchStats s(kLast, 1, 3);
  const int64_t millis[] = {5000, 9000, 1000, 9000, 7000, 3000, 8999};
  for (int i = 0; i < 7; ++i)
    s.add(entry(kLast, 12, "q" + std::to_string(i), 1, millis[i], 59 - i));
  std::vector<std::string> got;
  for (const report::SlowSearch& r : s.slowest())
    got.push_back(r.query + "=" + std::to_string(r.millis));
  EXPECT_EQ(got, (std::vector<std::string>{"q3=9000", "q1=9000", "q6=8999"}));
}

TEST(ReportPage, EscapesEveryTextOfTheLog) {
  SearchStats s(kLast, 30);
  SearchLogEntry e = entry(kLast, 8, "<script>alert(\"x\")</script>&'", 0, 2500);
  e.index = "<b>index</b>";
  s.add(e);
  report::PageContext context;
  context.language = kLangEN;
  context.madeAt = "<now>";
  const std::string page = report::renderReportPage(s, context);
  EXPECT_EQ(page.find("<script"), std::string::npos);
  EXPECT_EQ(page.find("<b>"), std::string::npos);
  EXPECT_EQ(page.find("<now>"), std::string::npos);
  EXPECT_NE(page.find("&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;&amp;&#39;"),
            std::string::npos);
  // The query stands in all three tables; nothing is fetched from elsewhere.
  size_t shown = 0;
  for (size_t at = 0; (at = page.find("&lt;script", at)) != std::string::npos; ++at)
    ++shown;
  EXPECT_EQ(shown, 3u);
  for (const char* outside : {"src=", "href=", "url(", "@import", "<link", "<iframe", "<object"})
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  EXPECT_NE(page.find("<html lang=\"en\">"), std::string::npos);
  EXPECT_NE(page.find("<meta name=\"viewport\" content=\"width=device-width"), std::string::npos);
}

TEST(ReportPage, ShowsTheTextsOfADoubleByteInstallationAsUtf8) {
  SearchStats s(kLast, 1);
  s.add(entry(kLast, 8, "\xA4\xA4\xA4\xE5 <", 1));  // Big5 for two Chinese characters
  report::PageContext context;
  context.language = kLangCH;
  const std::string page = report::renderReportPage(s, context);
  EXPECT_NE(page.find("<td class=\"q\" lang=\"zh-Hant\">\xE4\xB8\xAD\xE6\x96\x87 &lt;</td>"),
            std::string::npos);
}

TEST(ReportPage, SaysWhatWasNotCounted) {
  SearchStats s(kLast, 2);
  report::LogFileResult linked;
  linked.status = report::LogFileResult::Status::kNotRegular;
  report::LogFileResult read;
  read.status = report::LogFileResult::Status::kRead;
  read.longLines = 2;
  read.malformed = 1;
  s.noteFile("20240229.log", linked);
  s.noteFile("20240301.log", read);
  s.add(entry({2020, 1, 1}, 1, "old", 1));
  report::PageContext context;
  context.logOn = false;
  const std::string page = report::renderReportPage(s, context);
  for (const char* said :
       {"20240229.log: not a regular file", "2 lines over 8 KiB", "1 line of another form",
        "1 search dated outside these days", "The search log is off"}) {
    EXPECT_NE(page.find(said), std::string::npos) << said;
  }
  EXPECT_EQ(s.filesRead(), 1u);
}

TEST(ReportChart, BarsAreScaledToTheLargestAndCarryTheirCounts) {
  const std::vector<report::Bar> bars = {
      {"a", "first", "a: 4", 4}, {"b", "second", "b: 2", 2}, {"c", "third", "c: 0", 0}};
  const std::string svg = report::barChart(bars, "three <bars>");
  std::vector<std::string> got;
  const std::regex bar(
      "data-key=\"(\\w)\" data-count=\"(\\d+)\"><title>[^<]*</title><rect [^>]*height=\"(\\d+)\"");
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), bar); it != std::sregex_iterator();
       ++it)
    got.push_back((*it)[1].str() + (*it)[2].str() + ":" + (*it)[3].str());
  EXPECT_EQ(got, (std::vector<std::string>{"a4:100", "b2:50", "c0:0"}));
  // Labels of six characters would overlap under every bar: the first of five shows.
  EXPECT_NE(svg.find(">first</text>"), std::string::npos);
  EXPECT_EQ(svg.find(">second</text>"), std::string::npos);
  EXPECT_NE(svg.find("aria-label=\"three &lt;bars&gt;\""), std::string::npos);

  // Without any search the chart is flat, not divided by zero.
  const std::string empty = report::barChart({{"x", "x", "x", 0}}, "none");
  EXPECT_NE(empty.find("height=\"0\""), std::string::npos);
}

TEST(ReportPage, SecondsKeepTheirMilliseconds) {
  const std::pair<int64_t, const char*> cases[] = {
      {0, "0.000"}, {5, "0.005"}, {7250, "7.250"}, {61001, "61.001"}};
  for (const auto& [millis, text] : cases)
    EXPECT_EQ(report::formatSeconds(millis), text);
}

}  // namespace
