/// @file search_stats_test.cc
/// @brief The figures of the search report and the page that shows them.

#include "companions/search_report/search_stats.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "companions/search_report/report_page.h"
#include "system/layout.h"

namespace {

using report::Day;
using report::SearchLogEntry;
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
