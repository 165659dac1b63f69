/// @file result_order.h
/// @brief Ordering of the merged hits: the ascending sort by sort key, the
/// comparators of the multi-field result, and the rule by which the output
/// writer decides whether to write the array front to back or back to front.

#ifndef SEARCHRUN_ASSEMBLE_RESULT_ORDER_H
#define SEARCHRUN_ASSEMBLE_RESULT_ORDER_H

#include <cstddef>

#include "system/record_mapping.h"

// Comparison modes of compare and sortByRec.
constexpr int kCompareText = 0;
constexpr int kCompareNumber = 1;

// mode kCompareNumber: a and b as signed 32-bit numbers; any other mode: the
// texts bytewise (strcmp). -1 if a < b, 0 if equal, 1 if a > b.
int compare(RecordSortKey a, RecordSortKey b, int mode);

// Sorts recMap[lo..hi] (inclusive) ascending by sortField under compare with
// `mode`; whole elements move. Stable: hits with equal keys keep their merge
// order, so the pages of one result never change places between requests.
// O(n log n) comparisons, bounded recursion depth, any input order. Nothing
// happens when lo >= hi. REQUIRES: 0 <= lo, hi < the array's size, and every
// key of the range set for `mode` (text keys non-null).
void sortByRec(recordMapping* recMap, int lo, int hi, int mode);

// The ordering step of the run. -1 when the merge order stands: sort field
// "index" or "none", or "score" over exactly one index with no incremental
// part searched (`incSearched` = inc parts searched in the run); otherwise the
// mode to hand to sortByRec: kCompareText for "filename", "owner" and "DB_..."
// fields, kCompareNumber for all others.
int resultSortMode(const char* sortField, unsigned long dbCount, int incSearched);

// -1 if a > b, 1 if a < b, 0 if equal (signed).
int checkRecResultOrderStatus(int a, int b);

// Comparators of the multi-field result, for a library sort: by score,
// highest first (scores unsigned) / by record id, lowest first.
int RecordScoreCompare(const recordMapping& a, const recordMapping& b);
int RecordIdCompare(const recordMapping& a, const recordMapping& b);

// Orders a multi-field result: by RecordIdCompare when `sortField` is "none"
// in any case, else by RecordScoreCompare. Stable, so hits that compare equal
// keep their order.
void sortMultiFieldResult(recordMapping* recMap, size_t count, const char* sortField);

// The direction ("asc" or "desc") in which recMap[0..recordCount) runs, as
// the output writer sees it. "score": element 0 against the first element
// whose score differs; "desc" when none differs. "none": the same with record
// ids, looking at the first outCount elements only; "asc" when none differs.
// "index": `sortOrder` itself (merge order is never reversed). Any other
// field: "asc". Never reads past recordCount.
const char* detectResultDirection(const recordMapping* recMap, unsigned long recordCount,
                                  unsigned long outCount, const char* sortField,
                                  const char* sortOrder);

// Which elements the writer takes, and in which order: the first `count`
// elements from the front, or, when the requested direction differs from the
// detected one, from the back (the last element first).
struct OutputOrder {
  bool reversed = false;
  unsigned long count = 0;        // min(outCount, recordCount)
  unsigned long recordCount = 0;  // size of the array

  // Array position of the i-th record to write. REQUIRES: i < count.
  unsigned long at(unsigned long i) const { return reversed ? recordCount - 1 - i : i; }
};

// The order for writing at most `outCount` of the `recordCount` hits of
// `recMap` under the request's sort field and direction.
OutputOrder outputOrder(const recordMapping* recMap, unsigned long recordCount,
                        unsigned long outCount, const char* sortField, const char* sortOrder);

#endif  // SEARCHRUN_ASSEMBLE_RESULT_ORDER_H
