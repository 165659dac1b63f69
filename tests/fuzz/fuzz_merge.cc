/// @file fuzz_merge.cc
/// @brief Search result blocks of arbitrary bytes through the merge and the
/// ordering, as an agent on another host could send them: every hit names an
/// index of the result and, for text fields, a key inside its buffer.
///
/// Input: one byte choosing the sort field, one byte holding the number of
/// indexes of the job (low 3 bits) and its hit count (the rest), then the
/// block.

#include <cstring>
#include <vector>

#include "assemble/record_merge.h"
#include "assemble/result_order.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const char* field = std::vector<const char*>{"date", "owner", "none", "relevance"}[data[0] % 4];
  std::vector<velaSearch> jobs(1);
  velaSearch& job = jobs[0];
  job.m_ipAddr = "10.0.0.5";
  job.m_numDb = data[1] % 8;
  job.m_owner.assign(job.m_numDb, "owner");
  for (int i = 0; i < job.m_numDb; ++i)
    job.m_idxName.push_back("idx" + std::to_string(i));
  job.m_velaResult.assign(reinterpret_cast<const char*>(data + 2), size - 2);
  job.m_numRec = data[1] / 8;
  char retQuery[kQuerySize] = "";
  RecordList list;
  if (mergeJobResults(jobs, field, retQuery, keepFirstRetQuery, list) != nullptr) return 0;
  unsigned long hits = 0;
  for (const dbMapping& db : list.dbMap)
    hits += db.numRec;
  check(hits == list.recordCount());
  for (const recordMapping& r : list.recMap) {
    check(r.databaseNum < list.dbCount());
    check(sortKeyKindOf(field) != SortKeyKind::kText || std::strlen(r.sortField.text) <= size);
  }
  const int mode = resultSortMode(field, list.dbCount(), 1);
  if (mode >= 0 && list.recordCount() > 1)
    sortByRec(list.recMap.data(), 0, static_cast<int>(list.recordCount()) - 1, mode);
  const OutputOrder order = outputOrder(list.recMap.data(), list.recordCount(), 10, field, "desc");
  for (unsigned long i = 0; i < order.count; ++i)
    check(order.at(i) < list.recordCount());
  return 0;
}
