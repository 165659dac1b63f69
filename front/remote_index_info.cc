/// @file remote_index_info.cc
/// @brief Remote index description.

#include "front/remote_index_info.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "cgi/conversion_hooks.h"
#include "front/request_state.h"
#include "search/remote_request.h"
#include "system/address.h"
#include "system/agent_hosts.h"
#include "system/net_exchange.h"
#include "system/numbers.h"
#include "system/strings.h"

namespace {

// Longest answer taken: four short fields.
constexpr size_t kIndexInfoAnswerMax = 1023;

void logLine(const char* label, const std::string& value) {
  if (!g_fplog) return;
  std::fprintf(g_fplog, "[%d]-%s <%s>\n", pid, label, blankControlCharacters(value).c_str());
  std::fflush(g_fplog);
}

}  // namespace

bool get_remote_index_info(const char* address, const char* port, const char* index,
                           std::string& owner, std::string& desc, std::string& type,
                           bool* unreachable) {
  if (unreachable) *unreachable = false;
  int64_t portNumber = 0;
  if (!address || !port || !parseDecimal(port, 1, 65535, portNumber)) return false;
  // The request names the host: only the agents the administrator listed
  // are ever asked, and only for a name that could be an index.
  if (!isAllowedAgent(address, port)) {
    logLine("not an agent host of this installation", std::string(address) + ":" + port);
    return false;
  }
  if (!index || !isSafeIndexName(index)) return false;
  logLine("query_server_port", port);
  std::string request;
  if (!buildIndexInfoRequest(index, request)) return false;
  NetLimits limits = systemGetNetLimits();
  limits.maxAnswerBytes = kIndexInfoAnswerMax;
  std::string answer;
  const int rc = getData(address, static_cast<uint16_t>(portNumber), request, answer, limits);
  // No answer at all is a host that failed, like one that cannot be
  // reached: neither is asked again in this run.
  if (rc != kNetOk || answer.empty()) {
    logLine("get_remote_index_info failed", std::to_string(rc));
    if (unreachable) *unreachable = true;
    return false;
  }
  logLine("get_remote_index_info", answer);
  std::string o, d, t;
  // The owner names a directory on the agent's host and comes back in
  // later requests to it: it obeys the owner rule of every host.
  if (!parseIndexInfoAnswer(answer, o, d, t) || !isSafeOwnerName(o)) return false;
  owner.swap(o);
  desc.swap(d);
  type.swap(t);
  logLine("get_remote_index_info (index_owner)", owner);
  logLine("get_remote_index_info (index_desc)", desc);
  logLine("get_remote_index_info (index_type)", type);
  return true;
}
