/// @file remote_relterm.h
/// @brief The related-term exchange with the agent of another host: the
/// request "agent_get_rel_term" and the reader of its answer.
///
///   request  "agent_get_rel_term" 04 05 06
///            { host F owner F index F port F count F ids E } per index
///            18 19 1A                       (ids: "%d " per id)
///   answer   { term F ... E } per index, in request order
///            "RETURN_CODE" F code E          (a refusal)

#ifndef SEARCHRUN_SEARCH_REMOTE_RELTERM_H
#define SEARCHRUN_SEARCH_REMOTE_RELTERM_H

#include <string>
#include <string_view>
#include <vector>

struct RelTermRequestIndex {
  std::string host;
  std::string owner;
  std::string index;
  std::string port;
  int count = 0;    // ids used, 1 to 100
  std::string ids;  // "%d " per id
};

// Most indexes of one request, and longest term kept of an answer.
constexpr size_t kRelTermMaxIndexes = 100;
constexpr size_t kRelTermMaxTermBytes = 255;

// The request's bytes. False when a text holds a protocol delimiter, a
// count is not 1 to 100, or there are no or more than kRelTermMaxIndexes
// indexes.
bool buildRelTermRequest(const std::vector<RelTermRequestIndex>& indexes, std::string& bytes);

// Reads the answer for `indexes` indexes into one part per index (its terms
// each followed by F, and E). An empty part is an index without terms. A
// term holding a control byte or longer than kRelTermMaxTermBytes is left
// out. Returns 0; the agent's code (above 0) for a refusal; or
// kRemoteBadAnswer (remote_request.h) when a part lacks its E or bytes
// follow the last one, with `parts` empty.
int parseRelTermAnswer(std::string_view answer, size_t indexes, std::vector<std::string>& parts);

#endif  // SEARCHRUN_SEARCH_REMOTE_RELTERM_H
