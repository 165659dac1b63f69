/// @file multi_field_merge.cc
/// @brief Running the clauses of a multi-field search and combining them.

#include "assemble/multi_field_merge.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "assemble/result_order.h"
#include "search/result_block.h"
#include "system/log.h"

namespace {

// Plane 0 holds the result so far, plane 1 the step being computed.
constexpr int kResult = 0;
constexpr int kWork = 1;

struct SectionRange {
  size_t begin, end;
};

std::vector<SectionRange> sectionRanges(const RecordList& merged) {
  std::vector<SectionRange> ranges;
  size_t at = 0;
  for (const dbMapping& db : merged.dbMap) {
    const size_t end = std::min(merged.recMap.size(), at + db.numRec);
    ranges.push_back({at, end});
    at = end;
  }
  return ranges;
}

void combineSection(ClauseOperator op, const recordMapping* hits, SectionRange range,
                    MultiIndexHashTable& table) {
  if (op == ClauseOperator::kAnd) {
    table.resetPlane(kWork);
    for (size_t k = range.begin; k < range.end; ++k)
      if (table.checkRecID(kResult, hits[k].recid)) table.setRecID(kWork, hits[k].recid);
  } else {
    table.copyPlane(kWork, kResult);
    for (size_t k = range.begin; k < range.end; ++k) {
      if (op == ClauseOperator::kOr) {
        table.setRecID(kWork, hits[k].recid);
      } else {
        table.unsetRecID(kWork, hits[k].recid);
      }
    }
  }
  table.copyPlane(kResult, kWork);
}

// Moves the text keys of the kept hits into one buffer of the first index,
// since the buffers of the other sections go with their dbMappings.
void gatherTextKeys(RecordList& merged) {
  size_t bytes = 0;
  for (const recordMapping& r : merged.recMap)
    bytes += std::strlen(r.sortField.text) + 1;
  std::unique_ptr<char[]> buffer(new char[bytes + 1]);
  char* at = buffer.get();
  for (recordMapping& r : merged.recMap) {
    const size_t n = std::strlen(r.sortField.text) + 1;
    std::memcpy(at, r.sortField.text, n);
    r.sortField.text = at;
    at += n;
  }
  merged.dbMap.front().sortBuffer = std::move(buffer);
}

void keepFirstIndexOnly(RecordList& merged) {
  dbMapping& first = merged.dbMap.front();
  first.numRec = merged.recMap.size();
  first.fgRelterm = merged.recMap.empty() ? 0 : 1;
  first.recid_list.clear();
  for (size_t k = 0; k < merged.recMap.size() && k < static_cast<size_t>(kRecidListMax); ++k)
    first.recid_list += std::to_string(merged.recMap[k].recid) + " ";
  merged.dbMap.resize(1);
}

}  // namespace

const char* combineClauseHits(const std::vector<ClauseOperator>& ops, const char* sortField,
                              MultiIndexHashTable& table, RecordList& merged) {
  try {
    const std::vector<SectionRange> ranges = sectionRanges(merged);
    for (size_t i = 0; i < ranges.size(); ++i) {
      if (ranges[i].begin == ranges[i].end && ops[i] == ClauseOperator::kAnd) {
        merged.recMap.clear();
        keepFirstIndexOnly(merged);
        return nullptr;
      }
    }
    table.init();
    const recordMapping* hits = merged.recMap.data();
    for (size_t k = ranges[0].begin; k < ranges[0].end; ++k)
      table.setRecID(kResult, hits[k].recid);
    for (size_t i = 1; i < ranges.size(); ++i)
      combineSection(ops[i], hits, ranges[i], table);

    size_t kept = 0;
    size_t beyond = 0;
    for (size_t k = 0; k < merged.recMap.size(); ++k) {
      recordMapping hit = merged.recMap[k];
      beyond += !MultiIndexHashTable::holds(hit.recid);
      if (!table.checkRecID(kResult, hit.recid)) continue;
      table.unsetRecID(kResult, hit.recid);
      hit.databaseNum = 0;  // every clause searched the same index
      merged.recMap[kept++] = hit;
    }
    const bool failed = table.outOfMemory();
    table.freeAll();
    if (failed) return kMsgMergeNoMemory;
    if (beyond > 0)
      ReportLog("multi-field search: %zu hits beyond the presence table left out\n", beyond);
    merged.recMap.resize(kept);
    if (sortKeyKindOf(sortField) == SortKeyKind::kText) gatherTextKeys(merged);
    sortMultiFieldResult(merged.recMap.data(), merged.recMap.size(), sortField);
    keepFirstIndexOnly(merged);
  } catch (const std::bad_alloc&) {
    table.freeAll();
    return kMsgMergeNoMemory;
  }
  return nullptr;
}

MergeOutcome getRecordListForDBMultiField(VelaSearchListVector& list,
                                          const SearchMultiIndexVector& clauses, int searchNum,
                                          const MergeRequest& request,
                                          QueryTermNormaliser normalise, RecordList& out,
                                          LocalAddressTest isLocal) {
  MergeOutcome outcome;
  if (list.empty() || searchNum != 0) {
    outcome.message = kMsgNoIndexSelected;
    return outcome;
  }
  try {
    std::vector<velaSearch> jobs;
    std::vector<ClauseOperator> ops;
    const size_t n = std::min(list.size(), clauses.size());
    const std::vector<SearchJobPlan> one = {{fgLocal, {0}}};
    for (size_t i = 0; i < n; ++i) {
      if (!isLocal(list[i].ipAddr.c_str())) continue;
      VelaSearchListVector entry = {list[i]};
      entry[0].sbfString = clauses[i].m_sbf_string;
      SearchRequest search = request.search;
      search.searchMode = clauses[i].m_property;
      const std::string option =
          getVelaOptionForMultiQuery(search, clauses[i].m_query_term.c_str(), normalise);
      if ((outcome.message = createSearchJobs(entry, one, search, option, jobs))) return outcome;
      ops.push_back(clauses[i].op());
    }
    if (jobs.empty()) return outcome;
    size_t failed = 0;
    outcome.message =
        runSearchJobs(jobs, request.search, &failed, nullptr, request.whileEnginesRun);
    for (const velaSearch& job : jobs)
      outcome.incSearches += job.m_incSearches;
    if (outcome.message) {
      outcome.failedIndex = list.front().desc;
      return outcome;
    }
    outcome.message = mergeJobResults(jobs, request.search.sortField.c_str(), request.retQuery,
                                      request.addRetQuery, out);
    if (!outcome.message) {
      MultiIndexHashTable table;
      outcome.message = combineClauseHits(ops, request.search.sortField.c_str(), table, out);
    }
    if (!outcome.message && request.retQuery[0] == '\0')
      keepFirstRetQuery(request.retQuery, request.retQuerySize, request.orgQuery);
  } catch (const std::bad_alloc&) {
    outcome.message = kMsgMergeNoMemory;
  }
  if (outcome.message) out = RecordList();
  return outcome;
}
