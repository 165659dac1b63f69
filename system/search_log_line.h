/// @file search_log_line.h
/// @brief The line of the daily search log: which field stands where. The
/// writer (RecSearchLog, log.h) and every reader of the log go through here.
///
/// A line holds twelve fields separated by tabs: begin date and time, end
/// date and time ("yyyy/mm/dd", "hh:mm:ss.ms", milliseconds not padded), the
/// client's address, the user, the server's name, the address of the host
/// searched first, the owner, the index, the query and the record count. A
/// search that failed has a thirteenth: kFailedSearchMark and its message
/// code. Fields never hold a tab or a line break.

#ifndef SEARCHRUN_SYSTEM_SEARCH_LOG_LINE_H
#define SEARCHRUN_SYSTEM_SEARCH_LOG_LINE_H

#include <cstddef>
#include <string>
#include <string_view>

constexpr char kSearchLogSeparator = '\t';
constexpr size_t kSearchLogFieldCount = 12;
constexpr const char* kFailedSearchMark = "failed ";

struct SearchLogFields {
  std::string begin;  // date, separator, time: two fields
  std::string end;    // likewise
  std::string remoteAddr;
  std::string user;
  std::string serverName;
  std::string hostAddress;
  std::string owner;
  std::string index;
  std::string query;
  std::string records;
  bool failed = false;
  std::string failure;  // message code of a failed search
};

// The line of `fields`, without its line break.
std::string formatSearchLogLine(const SearchLogFields& fields);

// The fields of `line` (without its line break). False for another number
// of fields, or a thirteenth field without the mark or without a code.
bool splitSearchLogLine(std::string_view line, SearchLogFields& out);

#endif  // SEARCHRUN_SYSTEM_SEARCH_LOG_LINE_H
