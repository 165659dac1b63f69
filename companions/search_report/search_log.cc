/// @file search_log.cc
/// @brief Reading the daily search logs: line format, calendar days, bounded
/// and link-proof reading of one day's file.

#include "companions/search_report/search_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "system/log.h"
#include "system/search_log_line.h"
#include "system/secure_file.h"

namespace report {

namespace {

bool isLeap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int daysInMonth(int year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && isLeap(year) ? 29 : kDays[month - 1];
}

// Exactly `count` digits at `at`; -1 otherwise.
int digits(std::string_view text, size_t at, size_t count) {
  if (at + count > text.size()) return -1;
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// "yyyy/mm/dd"
std::optional<Day> parseDay(std::string_view text) {
  if (text.size() != 10 || text[4] != '/' || text[7] != '/') return std::nullopt;
  Day d{digits(text, 0, 4), digits(text, 5, 2), digits(text, 8, 2)};
  if (d.year < 1970 || d.month < 1 || d.month > 12 || d.day < 1 ||
      d.day > daysInMonth(d.year, d.month)) {
    return std::nullopt;
  }
  return d;
}

// "hh:mm:ss.ms", the milliseconds written as a plain number.
bool parseTime(std::string_view text, Stamp& s) {
  if (text.size() < 10 || text.size() > 12 || text[2] != ':' || text[5] != ':' || text[8] != '.')
    return false;
  s.hour = digits(text, 0, 2);
  s.minute = digits(text, 3, 2);
  s.second = digits(text, 6, 2);
  s.millis = digits(text, 9, text.size() - 9);
  return s.hour >= 0 && s.hour < 24 && s.minute >= 0 && s.minute < 60 && s.second >= 0 &&
         s.second <= 60 && s.millis >= 0 && s.millis < 1000;
}

// Date and time, as the log's stamp holds them.
std::optional<Stamp> parseStamp(std::string_view stamp) {
  const size_t separator = stamp.find(kSearchLogSeparator);
  if (separator == std::string_view::npos) return std::nullopt;
  const std::string_view time = stamp.substr(separator + 1);
  std::optional<Day> day = parseDay(stamp.substr(0, separator));
  Stamp s;
  if (!day || !parseTime(time, s)) return std::nullopt;
  s.day = *day;
  return s;
}

// A record count as RecSearchLog writes it: decimal digits, nothing else.
std::optional<uint64_t> parseCount(std::string_view text) {
  if (text.empty() || text.size() > 19) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<uint64_t>(c - '0');
  }
  return value;
}

}  // namespace

// Days since the epoch of a proleptic Gregorian date (the usual era
// arithmetic: 400-year eras of 146097 days, years starting in March).
int64_t Day::serial() const {
  const int64_t y = year - (month <= 2 ? 1 : 0);
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

Day Day::fromSerial(int64_t serial) {
  const int64_t z = serial + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  Day d;
  d.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  d.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  d.year = static_cast<int>(yoe + era * 400 + (d.month <= 2 ? 1 : 0));
  return d;
}

std::string Day::iso() const {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

std::string Day::fileName() const {
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d.log", year, month, day);
  return text;
}

int64_t Stamp::millisSinceEpoch() const {
  const int64_t seconds = day.serial() * 86400 + hour * 3600 + minute * 60 + second;
  return seconds * 1000 + millis;
}

std::string Stamp::text() const {
  char clock[16];
  std::snprintf(clock, sizeof clock, " %02d:%02d:%02d", hour, minute, second);
  return day.iso() + clock;
}

int64_t SearchLogEntry::durationMillis() const {
  const int64_t d = end.millisSinceEpoch() - begin.millisSinceEpoch();
  return d > 0 ? d : 0;
}

std::optional<SearchLogEntry> parseSearchLogLine(std::string_view line) {
  SearchLogFields f;
  if (!splitSearchLogLine(line, f)) return std::nullopt;
  std::optional<Stamp> begin = parseStamp(f.begin);
  std::optional<Stamp> end = parseStamp(f.end);
  std::optional<uint64_t> records = parseCount(f.records);
  if (!begin || !end || !records) return std::nullopt;
  SearchLogEntry e;
  e.begin = *begin;
  e.end = *end;
  e.remoteAddr = std::move(f.remoteAddr);
  e.user = std::move(f.user);
  e.serverName = std::move(f.serverName);
  e.hostAddress = std::move(f.hostAddress);
  e.owner = std::move(f.owner);
  e.index = std::move(f.index);
  e.query = std::move(f.query);
  e.records = *records;
  e.failure = std::move(f.failure);
  return e;
}

void readSearchLogText(std::string_view text, size_t maxLineBytes, LogFileResult& result,
                       const std::function<void(const SearchLogEntry&)>& sink) {
  size_t start = 0;
  while (start < text.size()) {
    const size_t newline = text.find('\n', start);
    // A last line without its break is still being written, and its count
    // may be cut: the next report reads it whole.
    if (newline == std::string_view::npos) break;
    std::string_view line = text.substr(start, newline - start);
    start = newline + 1;
    if (line.size() > maxLineBytes) {
      ++result.longLines;
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (std::optional<SearchLogEntry> e = parseSearchLogLine(line)) {
      ++result.entries;
      sink(*e);
    } else {
      ++result.malformed;
    }
  }
}

LogFileResult readSearchLogFile(int dirFd, const std::string& name, const LogReadLimits& limits,
                                const std::function<void(const SearchLogEntry&)>& sink) {
  LogFileResult result;
  UniqueFd fd(openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  struct stat st;
  if (!fd) {
    result.status = errno == ENOENT  ? LogFileResult::Status::kMissing
                    : errno == ELOOP ? LogFileResult::Status::kNotRegular
                                     : LogFileResult::Status::kUnreadable;
    return result;
  }
  if (fstat(fd.get(), &st) != 0) {
    result.status = LogFileResult::Status::kUnreadable;
    return result;
  }
  if (!S_ISREG(st.st_mode)) {
    result.status = LogFileResult::Status::kNotRegular;
    return result;
  }
  if (static_cast<uint64_t>(st.st_size) > limits.maxFileBytes) {
    result.status = LogFileResult::Status::kTooLarge;
    return result;
  }
  // Searches go on appending while the file is read; they wait for the next
  // report.
  std::string text;
  if (!readUpTo(fd.get(), text, static_cast<size_t>(st.st_size))) {
    result.status = LogFileResult::Status::kUnreadable;
    return result;
  }
  result.status = LogFileResult::Status::kRead;
  readSearchLogText(text, limits.maxLineBytes, result, sink);
  return result;
}

}  // namespace report
