/// @file fuzz_merge.cc
/// @brief Search result blocks of arbitrary bytes through the merge and the
/// ordering, as an agent on another host could send them.
///
/// Input: one byte choosing the sort field, one byte holding the number of
/// indexes of the job (low 3 bits) and its hit count (the rest), then the
/// block.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "assemble/record_merge.h"
#include "assemble/result_order.h"

namespace {

const char* const kFields[] = {"date", "owner", "none", "relevance"};

// Every hit must name an index of the result and, for text fields, a key
// inside that index's buffer.
void checkResult(const RecordList& list, const char* field) {
  unsigned long hits = 0;
  for (const dbMapping& db : list.dbMap)
    hits += db.numRec;
  if (hits != list.recordCount()) __builtin_trap();
  for (const recordMapping& r : list.recMap) {
    if (r.databaseNum >= list.dbCount()) __builtin_trap();
    if (sortKeyKindOf(field) == SortKeyKind::kText) {
      (void)std::strlen(r.sortField.text);  // must stay inside its buffer
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const char* field = kFields[data[0] % 4];
  const int indexes = data[1] % 8;
  velaSearch job;
  job.m_ipAddr = "10.0.0.5";
  for (int i = 0; i < indexes; ++i) {
    job.m_owner.push_back("owner");
    job.m_idxName.push_back("idx" + std::to_string(i));
  }
  job.m_numDb = indexes;
  job.m_velaResult.assign(reinterpret_cast<const char*>(data + 2), size - 2);
  job.m_numRec = data[1] / 8;
  std::vector<velaSearch> jobs;
  jobs.push_back(std::move(job));
  char retQuery[kQuerySize] = "";
  RecordList list;
  if (mergeJobResults(jobs, field, retQuery, list) != nullptr) return 0;
  checkResult(list, field);
  const int mode = resultSortMode(field, list.dbCount(), 1);
  if (mode >= 0 && list.recordCount() > 1) {
    sortByRec(list.recMap.data(), 0, static_cast<int>(list.recordCount()) - 1, mode);
  }
  const OutputOrder order = outputOrder(list.recMap.data(), list.recordCount(), 10, field, "desc");
  for (unsigned long i = 0; i < order.count; ++i) {
    if (order.at(i) >= list.recordCount()) __builtin_trap();
  }
  return 0;
}
