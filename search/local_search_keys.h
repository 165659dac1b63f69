/// @file local_search_keys.h
/// @brief The last step of a local search: the file-name and time windows of
/// the request, then the pairs and sort keys of the hits that stay.

#ifndef SEARCHRUN_SEARCH_LOCAL_SEARCH_KEYS_H
#define SEARCHRUN_SEARCH_LOCAL_SEARCH_KEYS_H

#include <cstdint>
#include <cstdio>
#include <string>

#include "search/result_block.h"
#include "search/vela_out.h"

// What the request asks of the hits of one index.
struct HitKeyRequest {
  std::string sortField;
  std::string beginFile = "*";  // "*": no bound
  std::string endFile = "*";
  int32_t beginTime = 0;  // 0: unset
  int32_t endTime = 0;
  bool fileIndex = false;        // the index type begins with "doc"
  bool dateRangeSearch = false;  // the hits come from a date-range search already
  uint32_t dbColumn = 0;         // list number of the "DB_" column

  // F: a file-name window on a file index.
  bool nameWindow() const { return fileIndex && (beginFile != "*" || endFile != "*"); }
  // T: a time window the search itself did not apply.
  bool timeWindow() const { return !dateRangeSearch && beginTime != 0 && endTime != 0; }
};

// Deselects the hits of `set` outside the request's windows (list files of
// `home`), then appends every selected hit to `section`: score and record id
// + `idOffset` as a pair, and its sort key. A list that cannot be read
// filters nothing, and its keys are empty (a text key is only its
// delimiter, a number is 0) so that the section stays whole; the reason is
// written to `log` (may be null). Returns 0, or kListNoMemory (the set and
// section are then unspecified).
int collectHitKeys(VelaOut& set, const std::string& home, uint32_t idOffset,
                   const HitKeyRequest& request, ResultSection& section, FILE* log);

// `value` lies in [begin, end], all compared as unsigned 32-bit numbers.
inline bool inTimeWindow(uint32_t value, int32_t begin, int32_t end) {
  return static_cast<uint32_t>(begin) <= value && value <= static_cast<uint32_t>(end);
}

#endif  // SEARCHRUN_SEARCH_LOCAL_SEARCH_KEYS_H
