/// @file agent_answers.cc
/// @brief The host agent's answers.

#include "companions/agent/agent_answers.h"

#include <algorithm>
#include <new>
#include <vector>

#include "assemble/host_searches.h"
#include "companions/agent/agent_wire.h"
#include "companions/agent/own_index.h"
#include "companions/renderer/local_files.h"
#include "companions/renderer/remote_records.h"
#include "front/local_search_filters.h"
#include "front/run_limits.h"
#include "search/process_runner.h"
#include "search/related_term_tool.h"
#include "search/remote_request.h"
#include "search/vela_command.h"
#include "search/vela_search.h"
#include "system/delimiters.h"
#include "system/index_id.h"
#include "system/layout.h"

namespace agent {

namespace {

// The settings of a search request that the local search takes as they are:
// texts only compared or used as keys, numbers. The engine option is
// checked on its own.
SearchRequest searchSettingsOf(const CRemoteSearchRequest& request) {
  SearchRequest search;
  search.sortField = request.sortField;
  search.beginFile = request.beginFile;
  search.endFile = request.endFile;
  search.beginTime = request.beginTime;
  search.endTime = request.endTime;
  search.searchMode = request.searchMode;
  search.dbSortColumn = columnMappingSortColumn;
  return search;
}

// The request's indexes as this host knows them; false at the first that is
// not one of its own.
bool ownIndexesOf(const CRemoteSearchRequest& request, VelaSearchListVector& list) {
  for (const CRemoteIndex& index : request.indexes) {
    velaSearchList& entry = list.emplace_back();
    if (!findOwnIndex(index.owner, index.idxName, entry)) return false;
    // The type is the id file's: it decides which files are read.
    entry.sbfString = index.sbfString;
    entry.ipAddr = systemGetIPAddress();
  }
  return true;
}

}  // namespace

std::string answerSearch(std::string_view bytes) {
  CRemoteSearchRequest request;
  if (!parseRemoteSearchRequest(bytes, request)) return refusalAnswer(kAgentBadRequest);
  const RunLimits limits = readRunLimits(kSearchOptionPath);
  SearchRequest search = searchSettingsOf(request);
  std::string query;
  // Only an option this host would build itself reaches an engine command
  // line: nothing else of the request can ride along.
  if (!parseVelaOption(request.velaOption, search, query) || query.size() >= kQuerySize)
    return refusalAnswer(kAgentBadRequest);
  if (request.indexes.size() > static_cast<size_t>(limits.maxSearchIndexCount) ||
      countWildcardWords(query.c_str(), systemGetLanguage()) > limits.maxWildcardTerms)
    return refusalAnswer(kAgentOverLimits);
  VelaSearchListVector list;
  if (!ownIndexesOf(request, list)) return refusalAnswer(kAgentUnknownIndex);
  setProgramTimeLimit(limits.programTimeLimit);
  armLocalSearchFilters(search);
  HostSearchResult result;
  if (const int code = searchHostIndexes(list, search, request.velaOption, result))
    return refusalAnswer(code);
  std::string answer;
  buildRemoteSearchAnswer(result.matched, result.hits, result.block, answer);
  return answer;
}

std::string answerIndexInfo(std::string_view bytes) {
  std::string name;
  if (!parseIndexInfoRequest(bytes, name)) return refusalAnswer(kAgentBadRequest);
  IndexIdFileMgr ids;
  if (name.find('\0') != std::string::npos || !isSafeIndexName(name.c_str()) ||
      !ids.readIndexIdInfo(name.c_str()))
    return refusalAnswer(kAgentUnknownIndex);
  std::string answer;
  buildIndexInfoAnswer(ids.getIndexOwner(), ids.getIndexDesc(), ids.getIndexType(), answer);
  return answer;
}

std::string answerRelatedTerms(std::string_view bytes) {
  std::vector<RelTermIndex> indexes;
  if (!parseRelTermRequest(bytes, indexes)) return refusalAnswer(kAgentBadRequest);
  velaSearchList entry;
  for (const RelTermIndex& index : indexes)
    if (!findOwnIndex(index.owner, index.index, entry)) return refusalAnswer(kAgentUnknownIndex);
  const int limitMs = readRunLimits(kSearchOptionPath).programTimeLimit * 1000;
  std::string answer;
  // Nobody vouches for the requester: the words of protected records stay.
  // A failed index answers with an empty part: the others keep theirs.
  for (const RelTermIndex& index : indexes) {
    std::string part;
    relatedTermsOfIndex(index.owner, index.index,
                        visibleRecords(index.owner, index.index, index.ids, {}), limitMs, nullptr,
                        part);
    answer += part;
  }
  return answer;
}

std::string answerRecordInfo(std::string_view bytes) {
  std::vector<render::RemoteRecordGroup> groups;
  if (!render::parseRecordInfoRequest(bytes, groups)) return refusalAnswer(kAgentBadRequest);
  velaSearchList entry;
  for (const render::RemoteRecordGroup& group : groups)
    if (!findOwnIndex(group.owner, group.index, entry)) return refusalAnswer(kAgentUnknownIndex);
  const render::Installation inst = render::Installation::read();
  std::string answer;
  for (const render::RemoteRecordGroup& group : groups) {
    render::IndexRecordReader reader(inst, group.owner, group.index);
    // A record nobody vouched for may not see is described as one not found.
    const std::vector<uint32_t> visible = visibleRecords(group.owner, group.index, group.ids, {});
    for (uint32_t id : group.ids) {
      const bool shown = std::find(visible.begin(), visible.end(), id) != visible.end();
      render::appendRecordInfo(shown ? reader.read(id) : render::RecordDetails(), answer);
    }
    answer += kGroupEndDelim;
  }
  return answer;
}

std::string answerRequest(std::string_view request) {
  try {
    std::string_view word;
    if (!commandWordOf(request, word)) return refusalAnswer(kAgentBadRequest);
    if (word == kAgentSearchCommand) return answerSearch(request);
    if (word == kIndexInfoCommand) return answerIndexInfo(request);
    if (word == kAgentRelTermCommand) return answerRelatedTerms(request);
    if (word == render::kRecordInfoCommand) return answerRecordInfo(request);
    return refusalAnswer(kAgentBadRequest);
  } catch (const std::bad_alloc&) {
    return refusalAnswer(kSearchNoMemory);
  }
}

}  // namespace agent
