/// @file record_merge.cc
/// @brief From the selected indexes to the merged hit arrays.

#include "assemble/record_merge.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

#include "search/vela_command.h"
#include "system/log.h"

namespace {

bool isDatabaseType(const std::string& dbType) {
  return dbType.compare(0, 2, "db") == 0;
}

bool isPropertySearch(int mode) {
  return mode >= kModePropertyFirst && mode <= kModePropertyLast;
}

const std::string& nthOrEmpty(const std::vector<std::string>& texts, size_t i) {
  static const std::string kEmpty;
  return i < texts.size() ? texts[i] : kEmpty;
}

void appendRecidList(std::string& list, uint32_t recid) {
  list += std::to_string(recid);
  list += ' ';
}

// Fills `db` and appends the hits of one section read back from a block.
// The text keys are copied into the index's own buffer and cut there at the
// first byte of their value delimiter, so each hit points at a C string.
void appendSection(const ResultSectionView& section, SortKeyKind kind, uint32_t databaseNum,
                   dbMapping& db, std::vector<recordMapping>& records) {
  db.numRec = section.n;
  db.fgRelterm = section.n != 0 ? 1 : 0;
  char* keys = nullptr;
  if (kind == SortKeyKind::kText) {
    db.sortBuffer.reset(new char[section.keySize + 1]);
    keys = db.sortBuffer.get();
    if (section.keySize != 0) std::memcpy(keys, section.keyBytes, section.keySize);
    keys[section.keySize] = '\0';
  }
  for (uint32_t k = 0; k < section.n; ++k) {
    recordMapping record;
    record.databaseNum = databaseNum;
    record.score = section.pairs[k].score;
    record.recid = section.pairs[k].recid;
    record.sortField.number = 0;
    if (kind == SortKeyKind::kText) {
      const ResultKey& key = section.keys[k];
      const size_t offset = static_cast<size_t>(key.text - section.keyBytes);
      keys[offset + key.textSize] = '\0';
      record.sortField.text = keys + offset;
    } else if (kind == SortKeyKind::kNumber) {
      record.sortField.number = static_cast<int32_t>(section.keys[k].number);
    }
    records.push_back(record);
    if (k < static_cast<uint32_t>(kRecidListMax)) appendRecidList(db.recid_list, record.recid);
  }
}

// A job whose counts cannot describe its block; checked before anything is
// allocated from them (every hit takes at least two bytes of pairs).
bool plausibleCounts(const velaSearch& job) {
  return job.m_numDb >= 0 && job.m_numRec >= 0 &&
         static_cast<size_t>(job.m_numRec) <= job.m_velaResult.size() / 2;
}

void mergeRequest(VelaSearchListVector& list, int searchNum, const MergeRequest& request,
                  RecordList& out, MergeOutcome& outcome) {
  if (request.dbNum <= 0) {
    outcome.message =
        request.remoteIndexNotFound >= 1 ? kMsgRemoteIndexNotFound : kMsgNoIndexSelected;
    return;
  }
  const SearchRequest& search = request.search;
  const std::string velaOption = buildVelaOption(search, request.orgQuery);
  const std::vector<SearchJobPlan> plans =
      planSearchJobs(list, searchNum, isPropertySearch(search.searchMode));
  std::vector<velaSearch> jobs;
  if ((outcome.message = createSearchJobs(list, plans, search, velaOption, jobs))) return;
  if (jobs.empty()) return;
  size_t failed = 0;
  outcome.message = runSearchJobs(jobs, search, &failed, nullptr, request.whileEnginesRun);
  for (const velaSearch& job : jobs)
    outcome.incSearches += job.m_incSearches;
  if (outcome.message) {
    // The page names the index by its description, never by where it lives.
    if (failed < plans.size()) outcome.failedIndex = list[plans[failed].entries.front()].desc;
    return;
  }
  storeMatchCounts(list, jobs);
  outcome.message =
      mergeJobResults(jobs, search.sortField.c_str(), request.retQuery, request.addRetQuery, out);
  if (outcome.message) return;
  if (request.retQuery[0] == '\0')
    keepFirstRetQuery(request.retQuery, request.retQuerySize, request.orgQuery);
}

}  // namespace

std::vector<SearchJobPlan> planSearchJobs(const VelaSearchListVector& list, int searchNum,
                                          bool propertySearch, LocalAddressTest isLocal) {
  std::vector<SearchJobPlan> plans;
  auto plan = [&](size_t i) {
    const velaSearchList& entry = list[i];
    if (propertySearch && isDatabaseType(entry.dbType)) return;
    if (isLocal(entry.ipAddr.c_str())) {
      plans.push_back({fgLocal, {i}});
      return;
    }
    for (SearchJobPlan& job : plans) {
      if (job.where == fgRemote && list[job.entries.front()].ipAddr == entry.ipAddr) {
        job.entries.push_back(i);
        return;
      }
    }
    plans.push_back({fgRemote, {i}});
  };
  if (searchNum == 0) {
    // An index the request named twice would be searched, and its hits
    // counted, twice.
    for (size_t i = 0; i < list.size(); ++i)
      if (!repeatsAnEarlierEntry(list, i)) plan(i);
  } else if (searchNum >= 1 && static_cast<size_t>(searchNum) <= list.size()) {
    plan(static_cast<size_t>(searchNum) - 1);
  }
  return plans;
}

const char* createSearchJobs(const VelaSearchListVector& list,
                             const std::vector<SearchJobPlan>& plans, const SearchRequest& request,
                             const std::string& velaOption, std::vector<velaSearch>& jobs) {
  jobs.reserve(jobs.size() + plans.size());
  for (const SearchJobPlan& plan : plans) {
    const velaSearchList& first = list[plan.entries.front()];
    velaSearch& job = jobs.emplace_back();
    int rc = job.initialize(velaOption.c_str(), first.ipAddr.c_str(), first.owner.c_str(),
                            first.idxName.c_str(), first.port.c_str(), plan.where, request.runLog,
                            first.sbfString, first.dbType.c_str(), request.sortField.c_str(),
                            request.beginFile.c_str(), request.endFile.c_str(), request.beginTime,
                            request.endTime, request.searchMode, first.m_digit_field);
    job.m_queryScreen = request.screen;
    job.m_incListFilter = request.incList;
    job.m_propertySource = request.propertySource;
    job.m_dbSortColumn = request.dbSortColumn;
    if (plan.where == fgLocal) job.m_fieldFilter = request.fieldFilter;
    for (size_t k = 1; rc == 0 && k < plan.entries.size(); ++k) {
      const velaSearchList& entry = list[plan.entries[k]];
      rc = job.concate(entry.owner.c_str(), entry.idxName.c_str(), entry.sbfString,
                       entry.dbType.c_str());
    }
    if (rc != 0) return kMsgMergeNoMemory;
  }
  return nullptr;
}

const char* runSearchJobs(std::vector<velaSearch>& jobs, const SearchRequest& request,
                          size_t* failed, int* code, const std::function<void()>& whileEnginesRun) {
  // The engine runs of every index go out together, to run side by side
  // wherever a service takes them; each job then reads its own.
  std::vector<ChildProgram> runs;
  for (velaSearch& job : jobs) {
    std::vector<ChildProgram> planned = job.plannedRuns();
    runs.insert(runs.end(), std::make_move_iterator(planned.begin()),
                std::make_move_iterator(planned.end()));
  }
  prefetchPrograms(runs);
  if (whileEnginesRun) whileEnginesRun();
  for (size_t i = 0; i < jobs.size(); ++i) {
    velaSearch& job = jobs[i];
    if (request.jobFilters) request.jobFilters->arm(job);
    const int rc = job.Execute();
    if (rc != 0) {
      ReportLog("search of %s %s at %s failed: %d\n", job.getIndexOwner(), job.getIndexName(),
                job.m_ipAddr.c_str(), rc);
      if (request.runLog) {
        std::fprintf(request.runLog, "search of %s %s failed: %d\n", job.getIndexOwner(),
                     job.getIndexName(), rc);
        std::fflush(request.runLog);
      }
      if (failed) *failed = i;
      if (code) *code = rc;
      for (size_t k = i + 1; k < jobs.size(); ++k)
        jobs[k].dropPlan();
      return kMsgSearchFailed;
    }
  }
  return nullptr;
}

void storeMatchCounts(VelaSearchListVector& list, const std::vector<velaSearch>& jobs) {
  for (velaSearchList& entry : list) {
    for (const velaSearch& job : jobs) {
      if (job.m_ipAddr != entry.ipAddr) continue;
      bool found = false;
      size_t i = 0;
      for (; !found && i < static_cast<size_t>(job.m_numDb); ++i) {
        found = nthOrEmpty(job.m_owner, i) == entry.owner &&
                nthOrEmpty(job.m_idxName, i) == entry.idxName;
      }
      if (found) {
        // A remote job holds every index of its host: each has its own count.
        entry.m_match = i - 1 < job.m_indexHits.size() ? job.m_indexHits[i - 1] : job.m_numRec;
        break;
      }
    }
  }
}

const char* appendJobResult(const velaSearch& job, SortKeyKind kind, RecordList& out) {
  if (!plausibleCounts(job)) return kMsgSearchFailed;
  const std::string& block = job.m_velaResult;
  // An agent answers a search without hits with an empty block.
  const bool noSections = block.empty() && job.m_numRec == 0;
  ByteCursor cursor(block.data(), block.size());
  ResultSectionView section;
  uint64_t hits = 0;
  for (size_t i = 0; i < static_cast<size_t>(job.m_numDb); ++i) {
    const uint32_t databaseNum = static_cast<uint32_t>(out.dbMap.size());
    dbMapping& db = out.dbMap.emplace_back();
    db.ipAddr = job.m_ipAddr;
    db.szOwner = nthOrEmpty(job.m_owner, i);
    db.idxName = nthOrEmpty(job.m_idxName, i);
    db.port = job.m_port;
    if (noSections) continue;
    if (!readResultSection(cursor, kind, section)) return kMsgSearchFailed;
    hits += section.n;
    if (hits > static_cast<uint64_t>(job.m_numRec)) return kMsgSearchFailed;
    appendSection(section, kind, databaseNum, db, out.recMap);
  }
  if (!noSections && hits != static_cast<uint64_t>(job.m_numRec)) return kMsgSearchFailed;
  return nullptr;
}

const char* mergeJobResults(std::vector<velaSearch>& jobs, const char* sortField, char* retQuery,
                            RetQueryMerge addRetQuery, RecordList& out) {
  try {
    size_t dbTotal = 0;
    size_t recordTotal = 0;
    for (const velaSearch& job : jobs) {
      if (!plausibleCounts(job)) return kMsgSearchFailed;
      dbTotal += static_cast<size_t>(job.m_numDb);
      recordTotal += static_cast<size_t>(job.m_numRec);
    }
    out.dbMap.reserve(dbTotal);
    out.recMap.reserve(recordTotal);
    const SortKeyKind kind = sortKeyKindOf(sortField);
    for (velaSearch& job : jobs) {
      if (!job.m_returnQuery.empty() && addRetQuery)
        addRetQuery(retQuery, job.m_returnQuery.c_str());
      if (const char* code = appendJobResult(job, kind, out)) return code;
      job.freeMemory();
    }
  } catch (const std::bad_alloc&) {
    return kMsgMergeNoMemory;
  }
  return nullptr;
}

MergeOutcome getRecordList(VelaSearchListVector& list, int searchNum, const MergeRequest& request,
                           RecordList& out) {
  MergeOutcome outcome;
  try {
    mergeRequest(list, searchNum, request, out, outcome);
  } catch (const std::bad_alloc&) {
    outcome.message = kMsgMergeNoMemory;
  }
  if (outcome.message) out = RecordList();
  return outcome;
}

void keepFirstRetQuery(char* retQuery, size_t size, const char* reported) {
  if (size == 0 || retQuery[0] != '\0' || !reported) return;
  const size_t kept = std::min(std::strlen(reported), size - 1);
  std::memcpy(retQuery, reported, kept);
  retQuery[kept] = '\0';
}

void keepFirstRetQuery(char* retQuery, const char* reported) {
  keepFirstRetQuery(retQuery, kQuerySize, reported);
}
