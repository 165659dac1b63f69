/// @file search_stats.cc
/// @brief Gathering the figures of the search report.

#include "companions/search_report/search_stats.h"

#include <algorithm>
#include <tuple>

namespace report {

namespace {

// The heap keeps the fastest of the kept searches on top, so that a slower
// one replaces it; among equal times the later one goes first.
bool slowerFirst(const SlowSearch& a, const SlowSearch& b) {
  const int64_t aBegin = a.begin.millisSinceEpoch();
  const int64_t bBegin = b.begin.millisSinceEpoch();
  return std::tie(b.millis, aBegin) < std::tie(a.millis, bBegin);
}

std::vector<QueryCount> sortedBy(const std::map<std::string, QueryCount>& queries,
                                 uint64_t QueryCount::*field, size_t keep) {
  std::vector<QueryCount> rows;
  for (const auto& [key, q] : queries) {
    if (q.*field > 0) rows.push_back(q);
  }
  // The map gives the text order already; a stable sort keeps it among ties.
  std::stable_sort(rows.begin(), rows.end(), [field](const QueryCount& a, const QueryCount& b) {
    return a.*field > b.*field;
  });
  if (rows.size() > keep) rows.resize(keep);
  return rows;
}

}  // namespace

std::string queryKey(const std::string& query) {
  std::string key;
  bool blank = false;
  for (char c : query) {
    if (c == ' ' || c == '\t') {
      blank = !key.empty();
      continue;
    }
    if (blank) key += ' ';
    blank = false;
    key += c;
  }
  return key;
}

SearchStats::SearchStats(Day last, int days, size_t keep)
    : firstSerial_(last.serial() - days + 1),
      days_(days),
      keep_(keep),
      perDay_(static_cast<size_t>(days), 0) {}

void SearchStats::add(const SearchLogEntry& e) {
  const int64_t offset = e.begin.day.serial() - firstSerial_;
  if (offset < 0 || offset >= days_) {
    ++outside_;
    return;
  }
  ++searches_;
  ++perDay_[static_cast<size_t>(offset)];
  ++perHour_[static_cast<size_t>(e.begin.hour)];
  const int64_t millis = e.durationMillis();
  totalMillis_ += millis;

  const std::string key = queryKey(e.query);
  QueryCount& q = queries_[key];
  q.query = key;
  ++q.searches;
  if (!e.failure.empty()) {
    ++failed_;
  } else if (e.records == 0) {
    ++q.withoutHits;
    ++withoutHits_;
  }
  if (q.searches == 1 || e.begin.millisSinceEpoch() > q.last.millisSinceEpoch()) q.last = e.begin;

  SlowSearch s{millis, e.begin, key, e.index, e.user, e.records};
  if (slowest_.size() < keep_) {
    slowest_.push_back(std::move(s));
    std::push_heap(slowest_.begin(), slowest_.end(), slowerFirst);
  } else if (keep_ > 0 && slowerFirst(s, slowest_.front())) {
    std::pop_heap(slowest_.begin(), slowest_.end(), slowerFirst);
    slowest_.back() = std::move(s);
    std::push_heap(slowest_.begin(), slowest_.end(), slowerFirst);
  }
}

void SearchStats::noteFile(const std::string& name, const LogFileResult& result) {
  longLines_ += result.longLines;
  malformed_ += result.malformed;
  switch (result.status) {
    case LogFileResult::Status::kRead:
      ++filesRead_;
      break;
    case LogFileResult::Status::kMissing:
      break;
    default:
      skipped_.push_back({name, result.status});
  }
}

int64_t SearchStats::meanMillis() const {
  return searches_ == 0 ? 0 : totalMillis_ / static_cast<int64_t>(searches_);
}

std::vector<QueryCount> SearchStats::topQueries() const {
  return sortedBy(queries_, &QueryCount::searches, keep_);
}

std::vector<QueryCount> SearchStats::queriesWithoutHits() const {
  return sortedBy(queries_, &QueryCount::withoutHits, keep_);
}

std::vector<SlowSearch> SearchStats::slowest() const {
  std::vector<SlowSearch> rows = slowest_;
  std::sort_heap(rows.begin(), rows.end(), slowerFirst);
  return rows;
}

}  // namespace report
