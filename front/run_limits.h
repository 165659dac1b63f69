/// @file run_limits.h
/// @brief The limits an installation puts on one request ("search_option.cfg"),
/// with the defaults that apply when a value is missing or unreadable, and
/// the wildcard count of a query that one of them bounds.

#ifndef SEARCHRUN_FRONT_RUN_LIMITS_H
#define SEARCHRUN_FRONT_RUN_LIMITS_H

// Where the limits are read from, relative to the CGI directory.
constexpr const char* kSearchOptionPath = "../setting/search_option.cfg";

struct RunLimits {
  // Indexes one request may select ("MAX_SEARCH_INDEX_COUNT"; at most 100).
  int maxSearchIndexCount = 20;
  // Words with a wildcard ("*" or "?") one query may hold
  // ("MAX_WILDCARD_TERMS", 0 to 256): each costs the engine a walk over the
  // words of every index searched.
  int maxWildcardTerms = 5;
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

// Reads the limits from the settings file at `path`. A missing file, a
// missing key, or a value that is not a decimal number in range leaves that
// limit at its default (so a lost settings file never refuses every
// search); MAX_SEARCH_INDEX_COUNT above 100 counts as 100.
RunLimits readRunLimits(const char* path);

// The number of wildcard words of `query` as the engine programs count them:
// words are separated by blanks (control characters and the full-width space
// included) and the operators & + | , - ( ); a word counts when it holds "*"
// or "?"; text between double quotes is a phrase, whose wildcards are plain
// characters. Double-byte characters of the installation's code page
// (`language`) are skipped whole.
int countWildcardWords(const char* query, int language);

#endif  // SEARCHRUN_FRONT_RUN_LIMITS_H
