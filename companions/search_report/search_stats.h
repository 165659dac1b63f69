/// @file search_stats.h
/// @brief The figures of the search report, gathered from the log lines of a
/// window of days: busiest queries, queries without hits, slowest searches,
/// searches per hour of the day and per day.

#ifndef SEARCHRUN_COMPANIONS_SEARCH_REPORT_SEARCH_STATS_H
#define SEARCHRUN_COMPANIONS_SEARCH_REPORT_SEARCH_STATS_H

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "companions/search_report/search_log.h"

namespace report {

// How often one query was searched.
struct QueryCount {
  std::string query;  // as shown: blanks at its ends dropped, runs of blanks made one
  uint64_t searches = 0;
  uint64_t withoutHits = 0;  // searches that found nothing
  Stamp last;                // begin of its latest search
};

struct SlowSearch {
  int64_t millis = 0;
  Stamp begin;
  std::string query;
  std::string index;
  std::string user;
  uint64_t records = 0;
};

// A day's file that was not read.
struct SkippedFile {
  std::string name;
  LogFileResult::Status why;
};

class SearchStats {
 public:
  // The window: `days` days ending with `last`; `keep` rows per table.
  SearchStats(Day last, int days, size_t keep = 20);

  // Counts one search; a search that began outside the window is only
  // counted as such.
  void add(const SearchLogEntry& e);
  // Notes what became of one day's file.
  void noteFile(const std::string& name, const LogFileResult& result);

  Day first() const { return Day::fromSerial(firstSerial_); }
  Day last() const { return Day::fromSerial(firstSerial_ + days_ - 1); }
  int days() const { return days_; }

  uint64_t searches() const { return searches_; }
  uint64_t searchesWithoutHits() const { return withoutHits_; }
  // Searches that ended with a failure message instead of a result.
  uint64_t failedSearches() const { return failed_; }
  uint64_t outsideWindow() const { return outside_; }
  uint64_t longLines() const { return longLines_; }
  uint64_t malformedLines() const { return malformed_; }
  uint64_t filesRead() const { return filesRead_; }
  const std::vector<SkippedFile>& skippedFiles() const { return skipped_; }
  size_t distinctQueries() const { return queries_.size(); }
  // Mean time of a search in milliseconds; 0 without searches.
  int64_t meanMillis() const;

  // Searches per hour of the day (local time of their begin).
  const std::array<uint64_t, 24>& perHour() const { return perHour_; }
  // Searches per day of the window, the first day first.
  const std::vector<uint64_t>& perDay() const { return perDay_; }

  // The most searched queries, most first (ties: the query text ascending).
  std::vector<QueryCount> topQueries() const;
  // The queries searched without hits, most such searches first.
  std::vector<QueryCount> queriesWithoutHits() const;
  // The slowest searches, slowest first (ties: the earlier first).
  std::vector<SlowSearch> slowest() const;

 private:
  int64_t firstSerial_;
  int days_;
  size_t keep_;
  uint64_t searches_ = 0;
  uint64_t withoutHits_ = 0;
  uint64_t failed_ = 0;
  uint64_t outside_ = 0;
  uint64_t longLines_ = 0;
  uint64_t malformed_ = 0;
  uint64_t filesRead_ = 0;
  int64_t totalMillis_ = 0;
  std::array<uint64_t, 24> perHour_{};
  std::vector<uint64_t> perDay_;
  std::map<std::string, QueryCount> queries_;
  std::vector<SlowSearch> slowest_;  // a heap of at most keep_, fastest on top
  std::vector<SkippedFile> skipped_;
};

// The query as it is grouped: blanks at its ends dropped, every run of blanks
// made one space.
std::string queryKey(const std::string& query);

}  // namespace report

#endif  // SEARCHRUN_COMPANIONS_SEARCH_REPORT_SEARCH_STATS_H
