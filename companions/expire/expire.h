/// @file expire.h
/// @brief Keeping an installation's disk in bounds: results, scratch files
/// and idle permits are removed once they are older than their settings.
///
/// Every request leaves its result files in ../tmp (later pages read them)
/// and, if it was killed, scratch files in the CGI scratch directory; a busy
/// site would fill its disk in days. Nothing younger than the age limit is
/// ever removed, only regular files with the names the programs give are
/// touched, and no link is followed.

#ifndef SEARCHRUN_COMPANIONS_EXPIRE_EXPIRE_H
#define SEARCHRUN_COMPANIONS_EXPIRE_EXPIRE_H

#include <ctime>
#include <string>

namespace expire {

// Minutes a result stays when "RESULT_EXPIRE_MINUTES" is missing or invalid.
constexpr long kDefaultResultMinutes = 60;

// True for the names of results and scratch files: a stem of letters and
// "_", at least five digits, then anything ("query0123456789_fast").
bool isExpirableName(const std::string& name);

// Removes from `dir` (not below it) every regular file with an expirable
// name whose modification time lies more than `maxAgeSeconds` before `now`.
// Returns the number removed, or -1 when the directory cannot be read.
int expireDirectory(const std::string& dir, long maxAgeSeconds, time_t now);

struct PassResult {
  int results = -1;  // -1: the directory could not be read
  int scratch = -1;
  int permits = -1;
};

// One pass over the installation whose CGI directory is the working
// directory: ../tmp and ../search-cgi/tmp by "RESULT_EXPIRE_MINUTES" of
// ../setting/search_option.cfg (`maxAgeMinutes` instead when above 0),
// ../permit by the login time-out.
PassResult expirePass(long maxAgeMinutes, time_t now);

// The result age of the installation, in minutes.
long resultMaxAgeMinutes();

}  // namespace expire

#endif  // SEARCHRUN_COMPANIONS_EXPIRE_EXPIRE_H
