/// @file search_log.h
/// @brief Reading the daily search logs that searchrun appends one line per
/// answered search to: the line format, calendar days, and bounded reading
/// of one day's file without following links.

#ifndef SEARCHRUN_COMPANIONS_SEARCH_REPORT_SEARCH_LOG_H
#define SEARCHRUN_COMPANIONS_SEARCH_REPORT_SEARCH_LOG_H

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace report {

// A calendar day. Days count from 1970-01-01 so that a window of days and
// the gap between two stamps need no time zone: the log holds local times.
struct Day {
  int year = 1970;
  int month = 1;
  int day = 1;

  int64_t serial() const;  // days since 1970-01-01 (negative before)
  static Day fromSerial(int64_t serial);
  std::string iso() const;       // "2024-01-31"
  std::string fileName() const;  // "20240131.log", the day's search log
  bool operator==(const Day& o) const { return year == o.year && month == o.month && day == o.day; }
};

// A local time of the log, to the millisecond.
struct Stamp {
  Day day;
  int hour = 0;
  int minute = 0;
  int second = 0;  // 60 for a leap second
  int millis = 0;

  int64_t millisSinceEpoch() const;  // as if the local time were UTC
  std::string text() const;          // "2024-01-31 12:34:56"
};

// One line of a search log.
struct SearchLogEntry {
  Stamp begin;
  Stamp end;
  std::string remoteAddr;  // "NULL" when the web server set none
  std::string user;
  std::string serverName;
  std::string hostAddress;  // of the index searched first
  std::string owner;
  std::string index;  // "all" when every index was searched
  std::string query;  // as typed, in the installation's code page
  uint64_t records = 0;
  std::string failure;  // the message code of a search that failed; empty otherwise

  // end - begin; 0 when the clock was set back between them.
  int64_t durationMillis() const;
};

// Reads one line (without its line break; fields as search_log_line.h lays
// them out), milliseconds of one to three digits. Nothing for a line of
// another shape, an impossible date or time, or a record count that is not a
// decimal number.
std::optional<SearchLogEntry> parseSearchLogLine(std::string_view line);

struct LogReadLimits {
  size_t maxLineBytes = 8192;                  // longer lines are skipped
  uint64_t maxFileBytes = uint64_t{64} << 20;  // larger files are skipped whole
};

// What became of one day's file.
struct LogFileResult {
  enum class Status {
    kRead,
    kMissing,     // no log that day
    kNotRegular,  // a link, a directory, a FIFO...: never read
    kTooLarge,
    kUnreadable,
  } status = Status::kMissing;
  uint64_t entries = 0;    // lines handed to the sink
  uint64_t longLines = 0;  // over maxLineBytes
  uint64_t malformed = 0;  // lines of another shape
};

// Reads the file `name` of the directory `dirFd` (opened by the caller
// without following a link) and hands every well-formed line to `sink`.
// The file itself is never followed through a link, and a FIFO or device
// never blocks the read.
LogFileResult readSearchLogFile(int dirFd, const std::string& name, const LogReadLimits& limits,
                                const std::function<void(const SearchLogEntry&)>& sink);

// Splits `text` into lines, skipping those over `maxLineBytes` and those
// parseSearchLogLine refuses, and counts them in `result`. A last line
// without its line break is left out uncounted: a search is still writing it.
void readSearchLogText(std::string_view text, size_t maxLineBytes, LogFileResult& result,
                       const std::function<void(const SearchLogEntry&)>& sink);

}  // namespace report

#endif  // SEARCHRUN_COMPANIONS_SEARCH_REPORT_SEARCH_LOG_H
