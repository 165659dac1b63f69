/// @file result_order.cc
/// @brief Sorting of the merged hits and the output direction rule.

#include "assemble/result_order.h"

#include <strings.h>
#include <algorithm>
#include <cstring>

#include "search/result_block.h"

namespace {

constexpr const char* kAsc = "asc";
constexpr const char* kDesc = "desc";

bool fieldIs(const char* sortField, const char* name) {
  return sortField && std::strcmp(sortField, name) == 0;
}

int sign(int value) {
  return (value > 0) - (value < 0);
}

}  // namespace

int compare(RecordSortKey a, RecordSortKey b, int mode) {
  if (mode == kCompareNumber) return (a.number > b.number) - (a.number < b.number);
  return sign(std::strcmp(a.text, b.text));
}

void sortByRec(recordMapping* recMap, int lo, int hi, int mode) {
  if (lo >= hi) return;
  // A merge sort: the engine hands out runs that are already in key order
  // (dates of one index, presorted scores), which a first-element-pivot
  // partition turns into quadratic time and one stack frame per hit.
  recordMapping* first = recMap + lo;
  recordMapping* last = recMap + hi + 1;
  // One instantiation per mode keeps the mode test out of the comparisons.
  if (mode == kCompareNumber) {
    std::stable_sort(first, last, [](const recordMapping& x, const recordMapping& y) {
      return compare(x.sortField, y.sortField, kCompareNumber) < 0;
    });
  } else {
    std::stable_sort(first, last, [](const recordMapping& x, const recordMapping& y) {
      return compare(x.sortField, y.sortField, kCompareText) < 0;
    });
  }
}

int resultSortMode(const char* sortField, unsigned long dbCount, int incSearched) {
  if (fieldIs(sortField, "score") && dbCount == 1 && incSearched == 0) return -1;
  if (fieldIs(sortField, "index") || fieldIs(sortField, "none")) return -1;
  return sortKeyKindOf(sortField) == SortKeyKind::kText ? kCompareText : kCompareNumber;
}

int checkRecResultOrderStatus(int a, int b) {
  return (a < b) - (a > b);
}

int RecordScoreCompare(const recordMapping& a, const recordMapping& b) {
  return (a.score < b.score) - (a.score > b.score);
}

int RecordIdCompare(const recordMapping& a, const recordMapping& b) {
  return (a.recid > b.recid) - (a.recid < b.recid);
}

void sortMultiFieldResult(recordMapping* recMap, size_t count, const char* sortField) {
  const bool byId = sortField && strcasecmp(sortField, "none") == 0;
  auto less = [byId](const recordMapping& a, const recordMapping& b) {
    return (byId ? RecordIdCompare(a, b) : RecordScoreCompare(a, b)) < 0;
  };
  std::stable_sort(recMap, recMap + count, less);
}

const char* detectResultDirection(const recordMapping* recMap, unsigned long recordCount,
                                  unsigned long outCount, const char* sortField,
                                  const char* sortOrder) {
  if (fieldIs(sortField, "score")) {
    for (unsigned long k = 1; k < recordCount; ++k) {
      const int status = checkRecResultOrderStatus(static_cast<int>(recMap[0].score),
                                                   static_cast<int>(recMap[k].score));
      if (status != 0) return status == 1 ? kAsc : kDesc;
    }
    return kDesc;
  }
  if (fieldIs(sortField, "index")) return sortOrder;
  if (fieldIs(sortField, "none")) {
    const unsigned long limit = std::min(outCount, recordCount);
    for (unsigned long k = 1; k < limit; ++k) {
      const int status = checkRecResultOrderStatus(static_cast<int>(recMap[0].recid),
                                                   static_cast<int>(recMap[k].recid));
      if (status != 0) return status == 1 ? kAsc : kDesc;
    }
    return kAsc;
  }
  return kAsc;
}

OutputOrder outputOrder(const recordMapping* recMap, unsigned long recordCount,
                        unsigned long outCount, const char* sortField, const char* sortOrder) {
  OutputOrder order;
  order.recordCount = recordCount;
  order.count = std::min(outCount, recordCount);
  const char* detected = detectResultDirection(recMap, recordCount, outCount, sortField, sortOrder);
  order.reversed = detected != sortOrder && (!sortOrder || std::strcmp(sortOrder, detected) != 0);
  return order;
}
