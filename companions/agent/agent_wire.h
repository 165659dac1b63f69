/// @file agent_wire.h
/// @brief What the host agent reads off the wire before any work: the
/// command word of a request, how large each kind may be, the related-term
/// request, and the codes of its refusals.
///
/// F = kFieldDelim, E = kGroupEndDelim (system/delimiters.h).
///   related terms  "agent_get_rel_term" 04 05 06
///                  { host F owner F index F port F count F ids E } per index
///                  18 19 1A            (ids: "%d " each; the first count used)
///   answer         { term F ... E } per index, in request order

#ifndef SEARCHRUN_COMPANIONS_AGENT_AGENT_WIRE_H
#define SEARCHRUN_COMPANIONS_AGENT_AGENT_WIRE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "companions/serve/socket_server.h"

namespace agent {

// Codes of the agent's "RETURN_CODE" answers (besides a search job's own).
constexpr int kAgentUnknownIndex = 1041;  // not an index of this host, or not of that owner
constexpr int kAgentBadRequest = 1042;    // malformed, an unknown command, a foreign option
constexpr int kAgentJobFailed = 1043;     // the work did not finish: crashed, timed out, too large
constexpr int kAgentOverLimits = 1044;    // more indexes or wildcards than this host allows

// The "RETURN_CODE" answer with `code`.
std::string refusalAnswer(int code);

// Requests of each kind are at most this large, end mark included.
constexpr size_t kMaxSearchRequestBytes = 1u << 20;
constexpr size_t kMaxRelTermRequestBytes = 256u << 10;
constexpr size_t kMaxOtherRequestBytes = 64u << 10;
// A command word ends within this many bytes, or the text is no request.
constexpr size_t kMaxCommandWord = 32;

// The command word of a request: the bytes before kCommandWordDelim. False
// when that delimiter is not within the first kMaxCommandWord + 3 bytes.
bool commandWordOf(std::string_view request, std::string_view& word);

// True for the commands the agent serves.
bool isAgentCommand(std::string_view word);

// The size a request may reach, judged by what has arrived: the command
// word's own cap once the word is there, the largest cap while it may still
// become the search command.
size_t requestCapFor(std::string_view bytes);

// A request is whole at its end mark, which must be its last bytes and
// must come within the cap of its command. Text that names
// no command word early enough is no request.
serve::Framing frameRequest(std::string_view bytes, size_t fresh);

// One index of a related-term request.
struct RelTermIndex {
  std::string host;
  std::string owner;
  std::string index;
  std::string port;
  std::vector<uint32_t> ids;  // the first `count` ids of the list
};

// Indexes one related-term request may name, and ids per index.
constexpr size_t kMaxRelTermIndexes = 100;
constexpr size_t kMaxRelTermIds = 100;

// Reads a whole related-term request (end mark included, nothing after it).
// False unless every group has its six fields, the count is 1 to
// kMaxRelTermIds (only an index with hits is asked about), the list holds at least that many ids
// (each 1 to 2^31 - 1, separated by single blanks) and there are 1 to kMaxRelTermIndexes groups.
bool parseRelTermRequest(std::string_view bytes, std::vector<RelTermIndex>& out);

}  // namespace agent

#endif  // SEARCHRUN_COMPANIONS_AGENT_AGENT_WIRE_H
