/// @file run_limits.h
/// @brief The limits an installation puts on one request and on the engine
/// runs it starts ("search_option.cfg"), with the defaults that apply when a
/// value is missing or unreadable. The query back-end, the agent and the
/// engine programs all read them here, so a limit means the same to each.

#ifndef SEARCHRUN_SYSTEM_RUN_LIMITS_H
#define SEARCHRUN_SYSTEM_RUN_LIMITS_H

#include <cstddef>
#include <string_view>

// Where the limits are read from, relative to the CGI directory (and to the
// engine programs' directory).
constexpr const char* kSearchOptionPath = "../setting/search_option.cfg";

constexpr int kDefaultMaxWildcardTerms = 5;
constexpr size_t kDefaultMaxExpandedWords = 1000;

struct RunLimits {
  // Indexes one request may select ("MAX_SEARCH_INDEX_COUNT"; at most 100).
  int maxSearchIndexCount = 20;
  // Words with a wildcard ("*" or "?") one query may hold
  // ("MAX_WILDCARD_TERMS", 0 to 256): each costs the engine a walk over the
  // words of every index searched.
  int maxWildcardTerms = kDefaultMaxWildcardTerms;
  // Index words all wildcards and -P prefixes of one engine run may stand
  // for together ("MAX_EXPANDED_WORDS", 1 to 100000).
  size_t maxExpandedWords = kDefaultMaxExpandedWords;
  // Seconds each program of the run may take ("PROGRAM_TIME_LIMIT").
  int programTimeLimit = 60;
  // Seconds the whole run may take ("RUN_TIME_LIMIT", 1 to 3600): every
  // program and every exchange with another host ends by then.
  int runTimeLimit = 30;
  // Longest request taken, in bytes, permit key left out
  // ("MAX_REQUEST_BYTES", 1024 to 1 MiB): a result keeps its request for
  // its later pages, so a larger one would fill the disk for an hour.
  long long maxRequestBytes = 64 * 1024;
  // Bytes all results together may take in "../tmp" ("RESULTS_MAX_MB" in
  // MiB, 1 to 1048576): past it a search is refused until expiry makes room.
  long long resultsMaxBytes = 2048LL << 20;
  // Size at which the run-time log starts afresh ("RUN_TIME_LOG_MAX_BYTES").
  long long runTimeLogMaxBytes = 10LL << 20;
};

// Reads the limits from the settings file at `path`, in one reading. A
// missing file, a missing key, or a value that is not a decimal number in
// range (blanks around it allowed) leaves that limit at its default (so a
// lost settings file never refuses every search); MAX_SEARCH_INDEX_COUNT
// above 100 counts as 100.
RunLimits readRunLimits(const char* path);

#endif  // SEARCHRUN_SYSTEM_RUN_LIMITS_H
