/// @file agent_answers.cc
/// @brief The host agent's answers.

#include "companions/agent/agent_answers.h"

#include <algorithm>
#include <new>
#include <vector>

#include "assemble/host_searches.h"
#include "companions/agent/agent_wire.h"
#include "companions/agent/own_index.h"
#include "companions/doctext/snippet.h"
#include "companions/records/document_read.h"
#include "companions/records/local_files.h"
#include "companions/records/remote_records.h"
#include "policy/access_filters.h"
#include "policy/local_search_filters.h"
#include "policy/query_exclude_check.h"
#include "policy/wildcard_words.h"
#include "search/process_runner.h"
#include "search/related_term_tool.h"
#include "search/remote_record_view.h"
#include "search/remote_request.h"
#include "search/vela_command.h"
#include "search/vela_search.h"
#include "system/delimiters.h"
#include "system/index_id.h"
#include "system/index_stats.h"
#include "system/layout.h"
#include "system/run_limits.h"
#include "text/similar_doc.h"

namespace agent {

namespace {

bool namedUsersTrusted = false;

// Who a record view is decided for.
AccessIdentity identityOf(const RemoteViewRequest& r) {
  AccessIdentity who;
  if (namedUsersTrusted && !r.user.empty()) who.user = r.user;
  return who;
}

// The settings of a search request that the local search takes as they are:
// texts only compared or used as keys, numbers. The engine option is
// checked on its own.
SearchRequest searchSettingsOf(const RemoteSearchRequest& request) {
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
bool ownIndexesOf(const RemoteSearchRequest& request, VelaSearchListVector& list) {
  for (const RemoteIndex& index : request.indexes) {
    velaSearchList& entry = list.emplace_back();
    if (!findOwnIndex(index.owner, index.idxName, entry)) return false;
    // The type is the id file's: it decides which files are read.
    entry.sbfString = index.sbfString;
    entry.ipAddr = systemGetIPAddress();
  }
  return true;
}

// The record `id` of the request's index as the named user may see it:
// not found when that user may not, so that nothing of it is told.
render::RecordDetails visibleRecord(const RemoteViewRequest& r, render::IndexRecordReader& reader,
                                    uint32_t id) {
  if (visibleRecords(r.owner, r.index, {id}, identityOf(r)).empty()) return render::RecordDetails();
  return reader.read(id);
}

// Details, document title, snippet and similar-document record of each id,
// as the renderer makes them for a hit of its own host.
std::string snippetAnswer(const RemoteViewRequest& r, const render::Installation& inst) {
  render::IndexRecordReader reader(inst, r.owner, r.index);
  const std::vector<uint32_t> visible = visibleRecords(r.owner, r.index, r.ids, identityOf(r));
  std::string answer;
  for (uint32_t id : r.ids) {
    const bool shown = std::find(visible.begin(), visible.end(), id) != visible.end();
    render::RecordDetails d = shown ? reader.read(id) : render::RecordDetails();
    if (d.found) reader.readStoredText(id, d);
    RemoteRecordView view;
    static_cast<RecordSummary&>(view) = d;
    if (d.found && r.index.find('-') == std::string::npos) {
      const bool inc = id > reader.orgCount();
      view.similar = std::to_string(inc ? id - reader.orgCount() : id) + (inc ? "-1" : "-0");
    }
    const UniqueFd fd = d.found ? openRecordedDocument(d, inst.language) : UniqueFd();
    if (fd) {
      render::FileHead head(fd.get());
      const render::DocumentHead read = [&head](size_t n, std::string_view& b) {
        return head.read(n, b);
      };
      if (render::isHtmlName(d.location))
        render::documentTitle(read, d.location, inst.language, view.docTitle);
      render::Snippet snippet;
      if (render::recordSnippet(d, read, inst.language, r.terms, r.number, snippet)) {
        view.cutBefore = snippet.cutBefore;
        view.cutAfter = snippet.cutAfter;
        for (const render::SnippetPiece& p : snippet.pieces)
          view.pieces.emplace_back(p.text, p.term);
      }
    }
    appendSnippetRecord(view, answer);
  }
  closeSnippetAnswer(answer);
  return answer;
}

// The document of one record: its text for the view, or its own bytes.
// Opened with the checks of the local view (below the recorded source
// folder, through no link, as recorded).
std::string documentAnswer(const RemoteViewRequest& r, const render::Installation& inst) {
  render::IndexRecordReader reader(inst, r.owner, r.index);
  render::RecordDetails d = visibleRecord(r, reader, r.ids.front());
  if (d.found && r.mode != kViewModeRaw) reader.readStoredText(r.ids.front(), d);
  const UniqueFd fd = d.found ? openRecordedDocument(d, inst.language) : UniqueFd();
  RemoteRecordView view;
  static_cast<RecordSummary&>(view) = d;
  std::string answer;
  if (!fd) {
    view.found = false;
    buildDocumentAnswer(view, "", answer);
    return answer;
  }
  if (r.mode == kViewModeRaw) {
    if (d.size > kMaxRemoteDocumentBytes) return refusalAnswer(kAgentOverLimits);
    std::string bytes;
    // The bytes the index recorded, and no more: the file matched that size.
    if (!render::readPrefix(fd.get(), d.size, bytes) || bytes.size() != d.size)
      return refusalAnswer(kAgentJobFailed);
    buildDocumentAnswer(view, bytes, answer);
    return answer;
  }
  render::DocumentView doc;
  if (!render::readRecordView(d, fd.get(), inst.language, doc))
    return refusalAnswer(kAgentJobFailed);
  view.docTitle = doc.title;
  view.cutAfter = doc.cut;
  buildDocumentAnswer(view, doc.text, answer);
  return answer;
}

// The term list a similar-document marker of one of this host's records
// stands for, when the named user may see that record.
std::string similarAnswer(const RemoteViewRequest& r) {
  const uint32_t record = r.ids.front();
  const bool inc = r.number == 1;
  std::string terms;
  if (record <= INT32_MAX) {
    uint32_t id = record;
    if (inc) {
      uint32_t orgCount = 0;
      double size = 0;
      systemGetIndexNumRec(r.owner.c_str(), r.index.c_str(), orgCount, size);
      id = record > UINT32_MAX - orgCount ? 0 : record + orgCount;
    }
    const SimilarDocSettings settings = SimilarDocReadConfigFile(kSimilarPageCfgPath);
    if (id == 0 || visibleRecords(r.owner, r.index, {id}, identityOf(r)).empty() ||
        !SimilarDocGetQueryStringAPI(r.index, std::to_string(record), inc, settings.maxTermCount,
                                     terms, kQuerySize))
      terms.clear();
  }
  std::string answer;
  buildSimilarAnswer(terms, answer);
  return answer;
}

}  // namespace

std::string answerSearch(std::string_view bytes) {
  RemoteSearchRequest request;
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
  LocalSearchFilters filters(screenQueryTermFile);
  filters.arm(search);
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
      appendRecordSummary(shown ? reader.read(id) : render::RecordDetails(), answer);
    }
    answer += kGroupEndDelim;
  }
  return answer;
}

void setNamedUsersTrusted(bool trusted) {
  namedUsersTrusted = trusted;
}

std::string answerRecordView(std::string_view bytes) {
  RemoteViewRequest request;
  if (!parseRecordViewRequest(bytes, request)) return refusalAnswer(kAgentBadRequest);
  velaSearchList entry;
  if (!findOwnIndex(request.owner, request.index, entry)) return refusalAnswer(kAgentUnknownIndex);
  const render::Installation inst = render::Installation::read();
  if (request.mode == kViewModeSnippet) return snippetAnswer(request, inst);
  if (request.mode == kViewModeSimilar) return similarAnswer(request);
  return documentAnswer(request, inst);
}

std::string answerRequest(std::string_view request) {
  try {
    std::string_view word;
    if (!commandWordOf(request, word)) return refusalAnswer(kAgentBadRequest);
    if (word == kAgentSearchCommand) return answerSearch(request);
    if (word == kIndexInfoCommand) return answerIndexInfo(request);
    if (word == kAgentRelTermCommand) return answerRelatedTerms(request);
    if (word == render::kRecordInfoCommand) return answerRecordInfo(request);
    if (word == kRecordViewCommand) return answerRecordView(request);
    return refusalAnswer(kAgentBadRequest);
  } catch (const std::bad_alloc&) {
    return refusalAnswer(kSearchNoMemory);
  }
}

}  // namespace agent
