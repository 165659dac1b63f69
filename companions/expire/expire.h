/// @file expire.h
/// @brief Keeping an installation's disk in bounds: results, scratch files,
/// idle permits and daily search logs are removed once they are older than
/// their settings.
///
/// Every request leaves its result files in ../tmp (later pages read them)
/// and, if it was killed, scratch files in the CGI scratch directory; a busy
/// site would fill its disk in days, and its search logs, which name who
/// searched for what, would be kept for ever. Nothing younger than the age
/// limit is ever removed, only regular files with the names the programs
/// give are touched, and no link is followed.

#ifndef SEARCHRUN_COMPANIONS_EXPIRE_EXPIRE_H
#define SEARCHRUN_COMPANIONS_EXPIRE_EXPIRE_H

#include <ctime>
#include <string>

namespace expire {

// Minutes a result stays when "RESULT_EXPIRE_MINUTES" is missing or invalid.
constexpr long kDefaultResultMinutes = 60;
// Days a daily search log stays when "SEARCH_LOG_KEEP_DAYS" is missing or
// invalid; 0 keeps every log.
constexpr long kDefaultSearchLogDays = 30;
constexpr long kMaxSearchLogDays = 36500;

// True for the names of results and scratch files: a stem of letters and
// "_", at least five digits, then anything ("query0123456789_fast").
bool isExpirableName(const std::string& name);

// Removes from `dir` (not below it) every regular file with an expirable
// name whose modification time lies more than `maxAgeSeconds` before `now`.
// Returns the number removed, or -1 when the directory cannot be read.
int expireDirectory(const std::string& dir, long maxAgeSeconds, time_t now);

// True for the names the daily search logs have, "yyyymmdd.log" of a day
// that exists; `day` receives its number of days since 1970-01-01.
bool isDailyLogName(const std::string& name, long& day);

// Removes from `dir` (not below it) every regular file with a daily log name
// whose day lies more than `keepDays` days before the local date of `now`:
// the logs of today and of the `keepDays` days before it stay. Returns the
// number removed; 0 when the directory does not exist, -1 when it cannot be
// read.
int expireDailyLogs(const std::string& dir, long keepDays, time_t now);

struct PassResult {
  int results = -1;  // -1: the directory could not be read
  int scratch = -1;
  int permits = -1;
  int searchLogs = -1;
};

// One pass over the installation whose CGI directory is the working
// directory: ../tmp and ../search-cgi/tmp by "RESULT_EXPIRE_MINUTES" of
// ../setting/search_option.cfg (`maxAgeMinutes` instead when above 0),
// ../permit by the login time-out, the directory of the daily search logs
// (layout.h) by "SEARCH_LOG_KEEP_DAYS" (none when it is 0).
PassResult expirePass(long maxAgeMinutes, time_t now);

// The result age of the installation, in minutes.
long resultMaxAgeMinutes();
// Days the installation keeps its daily search logs; 0 for ever.
long searchLogKeepDays();

}  // namespace expire

#endif  // SEARCHRUN_COMPANIONS_EXPIRE_EXPIRE_H
