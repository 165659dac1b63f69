/// @file remote_search.cc
/// @brief The search of a remote host's indexes: one request to its agent
/// for every index of the job, and an answer checked until the merge can
/// read it like a local result.

#include <cstdio>

#include "search/remote_request.h"
#include "search/vela_search.h"
#include "system/agent_hosts.h"
#include "system/net_exchange.h"
#include "system/numbers.h"

namespace {

// True when `block` is exactly `sections` sections of `kind` holding `hits`
// hits in all, or empty with no hits (an agent's answer for no hits). The
// merge reads as many sections as the job has indexes: a short block, or
// counts that disagree with it, must never reach it. `perIndex` takes the
// hits of each section (all 0 for an empty block).
bool blockMatches(const std::string& block, int hits, int sections, SortKeyKind kind,
                  std::vector<int>& perIndex) {
  perIndex.assign(sections > 0 ? static_cast<size_t>(sections) : 0, 0);
  if (block.empty()) return hits == 0;
  ByteCursor cursor(block.data(), block.size());
  ResultSectionView section;
  int64_t total = 0;
  for (int i = 0; i < sections; ++i) {
    if (!readResultSection(cursor, kind, section)) return false;
    total += section.n;
    perIndex[static_cast<size_t>(i)] = static_cast<int>(section.n);
  }
  return cursor.remaining() == 0 && total == hits;
}

}  // namespace

void velaSearch::logRemote(const char* what, int code) const {
  if (!m_fplog) return;
  std::fprintf(m_fplog, "remote search of %d index(es) at %s port %s: %s (%d)\n", m_numDb,
               m_ipAddr.c_str(), m_port.c_str(), what, code);
  std::fflush(m_fplog);
}

int velaSearch::RemoteSearch() {
  m_returnQuery.clear();
  m_numRec = 0;
  m_indexHits.clear();
  std::string().swap(m_velaResult);
  int64_t port = 0;
  if (!parseDecimal(m_port, 1, 65535, port)) {
    logRemote("no port", kRemoteBadPort);
    return kRemoteBadPort;
  }
  // The host came with the request: only an agent the administrator listed
  // is ever connected to.
  if (!isAllowedAgent(m_ipAddr, m_port)) {
    logRemote("not an agent host of this installation", kRemoteUnreachable);
    return kRemoteUnreachable;
  }

  RemoteSearchRequest request;
  request.velaOption = m_velaOption;
  request.searchMode = m_fg_search_file_name;
  request.sortField = m_sortField;
  request.beginFile = m_beginFile;
  request.endFile = m_endFile;
  request.beginTime = m_beginTime;
  request.endTime = m_endTime;
  request.host = m_ipAddr;
  request.port = m_port;
  for (size_t i = 0; i < m_owner.size(); ++i)
    request.indexes.push_back({m_owner[i], m_idxName[i], m_sbfString[i], m_dbType[i]});
  std::string bytes;
  if (!buildRemoteSearchRequest(request, bytes)) {
    logRemote("a text of the request holds a delimiter", kRemoteBadRequest);
    return kRemoteBadRequest;
  }

  std::string answerBytes;
  const NetLimits limits = systemGetNetLimits();
  const SortKeyKind kind = sortKeyKindOf(m_sortField.c_str());
  const size_t sections = m_numDb > 0 ? static_cast<size_t>(m_numDb) : 0;
  const int sent =
      getData(m_ipAddr.c_str(), static_cast<uint16_t>(port), bytes, answerBytes, limits,
              [&](std::string_view received) {
                return remoteSearchAnswerLimit(received, sections, kind, limits.maxAnswerBytes);
              });
  if (sent == kNetTooLarge) {
    logRemote("answer too large", kRemoteBadAnswer);
    return kRemoteBadAnswer;
  }
  if (sent != kNetOk) {
    logRemote("agent not reached or no whole answer in time", kRemoteUnreachable);
    return kRemoteUnreachable;
  }
  RemoteSearchAnswer answer;
  const int rc = parseRemoteSearchAnswer(answerBytes, answer);
  std::string().swap(answerBytes);
  if (rc != 0) {
    logRemote(rc == kRemoteBadAnswer ? "answer unreadable" : "agent refused", rc);
    return rc;
  }
  std::vector<int> perIndex;
  if (!blockMatches(answer.block, answer.hits, m_numDb, kind, perIndex)) {
    logRemote("result block does not match the indexes and hits", kRemoteBadAnswer);
    return kRemoteBadAnswer;
  }
  m_returnQuery.swap(answer.matched);
  m_numRec = answer.hits;
  m_indexHits.swap(perIndex);
  m_velaResult.swap(answer.block);
  return kSearchOk;
}
