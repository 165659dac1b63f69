/// @file related_terms.h
/// @brief Related terms of a result: for every searched index with hits,
/// the terms typical of its first hits, asked of the related-term tool for
/// an index of this host and of the host's agent for another host's (one
/// request per host, however many of its indexes). Each index's terms end
/// up in its dbMapping::relterm_list: terms each followed by F, the part
/// ended by E.

#ifndef SEARCHRUN_ASSEMBLE_RELATED_TERMS_H
#define SEARCHRUN_ASSEMBLE_RELATED_TERMS_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "search/related_term_tool.h"
#include "search/vela_search.h"
#include "system/record_mapping.h"

// Record ids asked about per index.
constexpr unsigned long kRelTermMaxRecords = 100;

// Sends a request to an agent and reads its answer; a system/net_exchange.h
// result (kNetOk on success).
using RelTermExchange = std::function<int(const std::string& host, uint16_t port,
                                          const std::string& request, std::string& answer)>;

// One related-term job: one index of this host, or every index of one other
// host.
class getRelterm {
 public:
  // The job of one index (host, owner, name, agent port, ids used of
  // `idList`, "%d " per id). `log` may be null.
  void initialize(const std::string& host, const std::string& owner, const std::string& idxName,
                  const std::string& port, int count, const std::string& idList,
                  enumLocalRemote place, FILE* log);
  // One more index of the job's host (remote jobs).
  void concate(const std::string& owner, const std::string& idxName, const std::string& port,
               int count, const std::string& idList);
  // Runs the job: 0, or a code (1005 bad port, 1006 bad answer or a
  // refusal, 1015 agent not reached, 1007 / 1016 of the local tool). Local
  // runs of the tool may take `timeLimitMs` each.
  int Execute(int timeLimitMs, const RelTermExchange& exchange);

  const std::string& getResult() const { return m_reltermResult; }
  // The result from offset a up to offset b ("" when they do not lie in it).
  std::string getResult(int a, int b) const;
  int getReadNum() const { return m_readNum; }
  void setReadNum(int n) { m_readNum = n; }
  bool isLocal() const { return m_place == fgLocal; }
  bool isDone() const { return m_readNum == static_cast<int>(m_indexes.size()); }
  // 0 for i = -1; the end offset of index i's part; -1 when unknown.
  int getLocation(int i) const;
  void freeLocationArray() { m_location.clear(); }
  const std::string& getIpaddr() const { return m_ipAddr; }
  int rc() const { return m_rc; }
  // The tool runs of a local job, planned now so that those of every job
  // can be handed over at once; Execute makes them.
  std::vector<ChildProgram> planRuns(int timeLimitMs);

 private:
  struct Index {
    std::string owner, idxName, port, idList;
    int count = 0;
  };
  int localGetRelTerm(int timeLimitMs);
  int remoteGetRelTerm(const RelTermExchange& exchange);

  std::string m_ipAddr;
  std::vector<Index> m_indexes;
  enumLocalRemote m_place = fgLocal;
  std::vector<int> m_location;
  int m_readNum = 0;
  std::string m_reltermResult;
  int m_rc = 0;
  FILE* m_fplog = nullptr;
  std::shared_ptr<RelTermPlan> m_plan;  // planRuns, taken by Execute
};

// The first `count` record ids of a list of ids separated by white space
// (a result's "%d " list); words that are no id (0, too large, not a
// number) are skipped.
std::vector<uint32_t> firstRecordIds(const std::string& list, int count);

// Fills relterm_list of every index of `dbMap` with fgRelterm 1 and returns
// how many there are. Failed jobs do not stop the others: an index of a
// failed local job keeps the part gathered (E alone), one of a failed remote
// job an empty text. Null `exchange` talks to the agents with getData (it
// is called from several threads at once when `threaded`).
// Threaded: every job runs in a worker thread of its own, all started at
// once, each joined when the first index of its job is read; none outlives
// the call. Otherwise the jobs run one after another in the calling thread.
int getReltermString(std::vector<dbMapping>& dbMap, FILE* log, int timeLimitMs,
                     const RelTermExchange& exchange = nullptr, bool threaded = false);

// getReltermString in two steps, so that the caller may do other work while
// the tool runs: made, it plans the jobs and hands the tool runs of this
// host's indexes out at once (the jobs' log lines are written then);
// finish() makes the jobs, fills the relterm_list of `dbMap` (which must
// outlive the round) and returns the count, as getReltermString does.
// A round never finished leaves its runs unclaimed.
class RelTermRound {
 public:
  RelTermRound(std::vector<dbMapping>& dbMap, FILE* log, int timeLimitMs,
               RelTermExchange exchange = nullptr, bool threaded = false);
  ~RelTermRound();
  RelTermRound(const RelTermRound&) = delete;
  RelTermRound& operator=(const RelTermRound&) = delete;
  int finish();

 private:
  std::vector<dbMapping>& dbMap_;
  int timeLimitMs_;
  RelTermExchange exchange_;
  bool threaded_;
  std::vector<getRelterm> jobs_;
  int count_ = 0;
  bool finished_ = false;
};

#endif  // SEARCHRUN_ASSEMBLE_RELATED_TERMS_H
