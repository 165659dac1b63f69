/// @file remote_request.h
/// @brief The exchanges with the agent of another host: the search request
/// "agent_vela_search" and its answer, and the index description request
/// "get_index_info" and its answer. Both sides use these: searchrun builds
/// requests and reads answers, the agent reads requests and builds answers.
///
/// F = kFieldDelim, E = kGroupEndDelim (system/delimiters.h).
///   search request  "agent_vela_search" 04 05 06  option F mode F sort F
///                   beginFile F endFile F beginTime F endTime F host F port E
///                   { owner F index F sbf F type E } per index  18 19 1A
///   search answer   matched F hits E block      (block: one section per index)
///                   "RETURN_CODE" F code E      (a refusal)
///   info request    "get_index_info" 04 05 06 index E 18 19 1A
///   info answer     owner F (unused) F description F type F
///
/// Every reader is bounded and trusts nothing: a field holding a delimiter,
/// a number out of range or a missing end mark makes the whole text
/// unusable.

#ifndef SEARCHRUN_SEARCH_REMOTE_REQUEST_H
#define SEARCHRUN_SEARCH_REMOTE_REQUEST_H

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "search/result_block.h"

constexpr char kAgentSearchCommand[] = "agent_vela_search";
constexpr char kAgentRelTermCommand[] = "agent_get_rel_term";
constexpr char kIndexInfoCommand[] = "get_index_info";
constexpr char kReturnCodeWord[] = "RETURN_CODE";

// Codes of a remote job (besides an agent's own code).
constexpr int kRemoteBadPort = 1005;      // the job's port is 0 or not a number
constexpr int kRemoteBadAnswer = 1006;    // no F / E in order, RETURN_CODE 0, answer too large
constexpr int kRemoteUnreachable = 1015;  // the exchange failed (or timed out)
// A text of the job holds a protocol delimiter: the request would be
// misread, so it is not sent.
constexpr int kRemoteBadRequest = 1028;

// Indexes one search request may name (the request front selects at most
// this many in all).
constexpr size_t kRemoteMaxIndexes = 100;

struct RemoteIndex {
  std::string owner;
  std::string idxName;
  std::string sbfString;
  std::string dbType;
};

struct RemoteSearchRequest {
  std::string velaOption;  // the engine option string
  int searchMode = 0;      // file_name_search
  std::string sortField;
  std::string beginFile = "*";
  std::string endFile = "*";
  int32_t beginTime = 0;
  int32_t endTime = 0;
  std::string host;  // the agent's host, as the job names it
  std::string port;
  std::vector<RemoteIndex> indexes;
};

// The request's bytes. False when a text holds a protocol delimiter (the
// request would be misread; a search-by-field string may hold F, which frames
// its field numbers, and nothing else), an index name is empty, or there are
// no or more than kRemoteMaxIndexes indexes.
bool buildRemoteSearchRequest(const RemoteSearchRequest& request, std::string& bytes);
// The agent's reader: false unless `bytes` is one whole well-formed request
// (end mark included, nothing after it, 1 to kRemoteMaxIndexes indexes).
bool parseRemoteSearchRequest(std::string_view bytes, RemoteSearchRequest& request);

// A successful answer: the matched string (cut to 10,240 bytes and before
// any F or E it holds), the hit count and the result block, carried by length.
void buildRemoteSearchAnswer(std::string_view matched, int hits, std::string_view block,
                             std::string& bytes);
// A refusal with a non-zero code.
void buildReturnCodeAnswer(int code, std::string& bytes);

struct RemoteSearchAnswer {
  std::string matched;
  int hits = 0;
  std::string block;
};
// 0 and the answer's parts (matched cut to 10,240 bytes; hits 0 to
// INT32_MAX); the agent's code (above 0) for a "RETURN_CODE" answer that ends
// with its E; or kRemoteBadAnswer.
int parseRemoteSearchAnswer(std::string_view bytes, RemoteSearchAnswer& answer);

// The most bytes an answer to a search of `sections` indexes, with keys of
// `kind`, may hold, judged from its first bytes `received` (a limit for
// getData): the head is at most 64 KiB (an agent sends at most 10,240 bytes of it), a refusal ends
// with its E, and the hit count bounds the block. 0 when the bytes already break that form or when
// even the shortest block of that many hits would pass `cap`.
size_t remoteSearchAnswerLimit(std::string_view received, size_t sections, SortKeyKind kind,
                               size_t cap);

// get_index_info.
bool buildIndexInfoRequest(std::string_view indexName, std::string& bytes);
bool parseIndexInfoRequest(std::string_view bytes, std::string& indexName);
// Each text is cut before any F or E it holds; the unused field is empty.
void buildIndexInfoAnswer(std::string_view owner, std::string_view desc, std::string_view type,
                          std::string& bytes);
// True when the answer is exactly four fields each ended by F; owner and
// description are cut to 63 bytes, type to 15. False (outputs empty)
// otherwise.
bool parseIndexInfoAnswer(std::string_view bytes, std::string& owner, std::string& desc,
                          std::string& type);

#endif  // SEARCHRUN_SEARCH_REMOTE_REQUEST_H
