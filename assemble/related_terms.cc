/// @file related_terms.cc
/// @brief The related-term jobs of a result.

#include "assemble/related_terms.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <string_view>

#include "search/related_term_tool.h"
#include "search/remote_relterm.h"
#include "search/remote_request.h"
#include "search/thread_object.h"
#include "system/address.h"
#include "system/agent_hosts.h"
#include "system/net_exchange.h"
#include "system/numbers.h"

namespace {

// An answer of related terms is short: a larger one is no answer.
constexpr size_t kMaxAnswerBytes = 1u << 20;

int exchangeWithAgent(const std::string& host, uint16_t port, const std::string& request,
                      std::string& answer) {
  // Only the agents the administrator listed are ever asked.
  if (!isAllowedAgent(host, std::to_string(port))) return kNetFailed;
  NetLimits limits = systemGetNetLimits();
  limits.maxAnswerBytes = std::min(limits.maxAnswerBytes, kMaxAnswerBytes);
  return getData(host.c_str(), port, request, answer, limits);
}

// A related-term job run as a worker job.
class ReltermThread : public ThreadObject {
 public:
  ReltermThread(getRelterm& job, int timeLimitMs, const RelTermExchange& exchange)
      : m_job(job), m_timeLimitMs(timeLimitMs), m_exchange(exchange) {}

 protected:
  void Execute(void* /*argument*/) override { m_job.Execute(m_timeLimitMs, m_exchange); }

 private:
  getRelterm& m_job;
  int m_timeLimitMs;
  const RelTermExchange& m_exchange;
};

}  // namespace

std::vector<uint32_t> firstRecordIds(const std::string& list, int count) {
  // Split as a stream reads words (at the C locale's white space), without
  // a stream: a list holds a hundred ids for each index.
  constexpr std::string_view kBlanks = " \t\n\v\f\r";
  const std::string_view text(list);
  std::vector<uint32_t> ids;
  for (size_t at = text.find_first_not_of(kBlanks);
       at != std::string_view::npos && static_cast<int>(ids.size()) < count;
       at = text.find_first_not_of(kBlanks, at)) {
    const size_t end = std::min(text.find_first_of(kBlanks, at), text.size());
    int64_t id = 0;
    if (parseDecimal(text.substr(at, end - at), 1, UINT32_MAX, id))
      ids.push_back(static_cast<uint32_t>(id));
    at = end;
  }
  return ids;
}

void getRelterm::initialize(const std::string& host, const std::string& owner,
                            const std::string& idxName, const std::string& port, int count,
                            const std::string& idList, enumLocalRemote place, FILE* log) {
  m_ipAddr = host;
  m_indexes.clear();
  m_indexes.push_back({owner, idxName, port, idList, count});
  m_place = place;
  m_location.clear();
  m_readNum = 0;
  m_reltermResult.clear();
  m_rc = 0;
  m_fplog = log;
}

void getRelterm::concate(const std::string& owner, const std::string& idxName,
                         const std::string& port, int count, const std::string& idList) {
  m_indexes.push_back({owner, idxName, port, idList, count});
}

std::string getRelterm::getResult(int a, int b) const {
  if (a < 0 || b < a || static_cast<size_t>(b) > m_reltermResult.size()) return "";
  return m_reltermResult.substr(static_cast<size_t>(a), static_cast<size_t>(b - a));
}

int getRelterm::getLocation(int i) const {
  if (i == -1) return 0;
  if (i < 0 || static_cast<size_t>(i) >= m_location.size()) return -1;
  return m_location[static_cast<size_t>(i)];
}

int getRelterm::Execute(int timeLimitMs, const RelTermExchange& exchange) {
  m_rc = m_place == fgLocal ? localGetRelTerm(timeLimitMs) : remoteGetRelTerm(exchange);
  return m_rc;
}

std::vector<ChildProgram> getRelterm::planRuns(int timeLimitMs) {
  if (m_place != fgLocal) return {};
  const Index& index = m_indexes.front();
  m_plan = std::make_shared<RelTermPlan>();
  planRelatedTerms(index.owner, index.idxName, firstRecordIds(index.idList, index.count),
                   timeLimitMs, *m_plan);
  return m_plan->programs();
}

int getRelterm::localGetRelTerm(int timeLimitMs) {
  if (const std::shared_ptr<RelTermPlan> plan = std::move(m_plan))
    return relatedTermsOfPlan(*plan, m_fplog, m_reltermResult);
  const Index& index = m_indexes.front();
  return relatedTermsOfIndex(index.owner, index.idxName, firstRecordIds(index.idList, index.count),
                             timeLimitMs, m_fplog, m_reltermResult);
}

int getRelterm::remoteGetRelTerm(const RelTermExchange& exchange) {
  std::vector<RelTermRequestIndex> request;
  for (const Index& i : m_indexes)
    request.push_back({m_ipAddr, i.owner, i.idxName, i.port, i.count, i.idList});
  int64_t port = 0;
  if (!parseDecimal(m_indexes.front().port, 1, UINT16_MAX, port)) return kRemoteBadPort;
  std::string bytes;
  if (!buildRelTermRequest(request, bytes)) return kRemoteBadRequest;
  std::string answer;
  const int sent = exchange
                       ? exchange(m_ipAddr, static_cast<uint16_t>(port), bytes, answer)
                       : exchangeWithAgent(m_ipAddr, static_cast<uint16_t>(port), bytes, answer);
  if (sent != kNetOk) return kRemoteUnreachable;
  std::vector<std::string> parts;
  // A refusal names no terms: every index of the job gets none.
  if (parseRelTermAnswer(answer, m_indexes.size(), parts) != 0) return kRemoteBadAnswer;
  m_location.assign(m_indexes.size(), -1);
  for (size_t i = 0; i < parts.size(); ++i) {
    m_reltermResult += parts[i];
    m_location[i] = static_cast<int>(m_reltermResult.size());
  }
  return 0;
}

RelTermRound::RelTermRound(std::vector<dbMapping>& dbMap, FILE* log, int timeLimitMs,
                           RelTermExchange exchange, bool threaded)
    : dbMap_(dbMap),
      timeLimitMs_(timeLimitMs),
      exchange_(std::move(exchange)),
      threaded_(threaded) {
  for (dbMapping& db : dbMap) {
    if (db.fgRelterm != 1) continue;
    ++count_;
    const int n = static_cast<int>(std::min(db.numRec, kRelTermMaxRecords));
    const bool local = isLocalIPAddress(db.ipAddr.c_str());
    if (!local && !jobs_.empty()) {
      auto same = std::find_if(jobs_.begin(), jobs_.end(), [&](const getRelterm& j) {
        return !j.isLocal() && j.getIpaddr() == db.ipAddr;
      });
      if (same != jobs_.end()) {
        same->concate(db.szOwner, db.idxName, db.port, n, db.recid_list);
        db.mapping = static_cast<int>(same - jobs_.begin());
        continue;
      }
    }
    jobs_.emplace_back().initialize(db.ipAddr, db.szOwner, db.idxName, db.port, n, db.recid_list,
                                    local ? fgLocal : fgRemote, log);
    db.mapping = static_cast<int>(jobs_.size() - 1);
  }
  // The list is complete: the jobs stay where their workers see them. The
  // tool runs of every index go out together, to run side by side wherever
  // a service takes them.
  std::vector<ChildProgram> runs;
  for (getRelterm& job : jobs_) {
    std::vector<ChildProgram> planned = job.planRuns(timeLimitMs);
    runs.insert(runs.end(), std::make_move_iterator(planned.begin()),
                std::make_move_iterator(planned.end()));
  }
  prefetchPrograms(runs);
}

RelTermRound::~RelTermRound() = default;

int RelTermRound::finish() {
  if (finished_) return count_;
  finished_ = true;
  std::vector<std::unique_ptr<ReltermThread>> workers;
  ThreadedJobs running(threaded_);
  for (getRelterm& job : jobs_) {
    workers.push_back(std::make_unique<ReltermThread>(job, timeLimitMs_, exchange_));
    running.add(*workers.back());
  }
  running.startAll();
  for (dbMapping& db : dbMap_) {
    if (db.fgRelterm != 1) continue;
    getRelterm& job = jobs_[static_cast<size_t>(db.mapping)];
    if (job.getReadNum() == 0) running.need(static_cast<size_t>(db.mapping));
    if (job.isDone()) continue;
    const int r = job.getReadNum();
    job.setReadNum(r + 1);
    if (job.isLocal()) {
      db.relterm_list = job.getResult();
      continue;
    }
    const int a = job.getLocation(r - 1), b = job.getLocation(r);
    db.relterm_list = a == -1 || b == -1 ? "" : job.getResult(a, b);
    if (job.isDone()) job.freeLocationArray();
  }
  return count_;
}

int getReltermString(std::vector<dbMapping>& dbMap, FILE* log, int timeLimitMs,
                     const RelTermExchange& exchange, bool threaded) {
  RelTermRound round(dbMap, log, timeLimitMs, exchange, threaded);
  return round.finish();
}
