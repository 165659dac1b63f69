/// @file remote_index_info.cc
/// @brief Remote index description.

#include "front/remote_index_info.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "cgi/conversion_hooks.h"
#include "front/request_state.h"
#include "search/remote_request.h"
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
                           std::string& owner, std::string& desc, std::string& type) {
  int64_t portNumber = 0;
  if (!port || !parseDecimal(port, 1, 65535, portNumber)) return false;
  logLine("query_server_port", port);
  std::string request;
  if (!index || !buildIndexInfoRequest(index, request)) return false;
  NetLimits limits = systemGetNetLimits();
  limits.maxAnswerBytes = kIndexInfoAnswerMax;
  std::string answer;
  const int rc = getData(address, static_cast<uint16_t>(portNumber), request, answer, limits);
  if (rc != kNetOk) {
    logLine("get_remote_index_info failed", std::to_string(rc));
    return false;
  }
  logLine("get_remote_index_info", answer);
  std::string o, d, t;
  if (!parseIndexInfoAnswer(answer, o, d, t)) return false;
  owner.swap(o);
  desc.swap(d);
  type.swap(t);
  logLine("get_remote_index_info (index_owner)", owner);
  logLine("get_remote_index_info (index_desc)", desc);
  logLine("get_remote_index_info (index_type)", type);
  return true;
}
