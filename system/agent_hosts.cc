/// @file agent_hosts.cc
/// @brief The list of reachable agents.

#include "system/agent_hosts.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "system/address.h"
#include "system/config.h"
#include "system/numbers.h"

namespace {

constexpr const char* kSettingsPath = "../setting/search_option.cfg";
// One settings line: some hundred hosts.
constexpr size_t kListMax = kCfgLineMax + 1;

bool parsePort(std::string_view text, uint16_t& port) {
  int64_t value = 0;
  if (!parseDecimal(text, 1, 65535, value)) return false;
  port = static_cast<uint16_t>(value);
  return true;
}

// One "a.b.c.d:port" entry.
bool parseEntry(std::string_view entry, AgentHost& host) {
  const size_t colon = entry.rfind(':');
  if (colon == std::string_view::npos) return false;
  const std::string address(entry.substr(0, colon));
  return ipv4Value(address.c_str(), host.address) && isAgentAddress(host.address) &&
         parsePort(entry.substr(colon + 1), host.port);
}

std::string dottedText(uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string(address >> 16 & 0xFF) + "." +
         std::to_string(address >> 8 & 0xFF) + "." + std::to_string(address & 0xFF);
}

}  // namespace

bool isAgentAddress(uint32_t address) {
  const uint32_t first = address >> 24;
  return first != 0 && first < 224;
}

std::vector<AgentHost> parseAgentHosts(std::string_view text, std::vector<std::string>* refused) {
  std::vector<AgentHost> hosts;
  size_t at = 0;
  while (at < text.size()) {
    const size_t begin = text.find_first_not_of(" \t,", at);
    if (begin == std::string_view::npos) break;
    size_t end = text.find_first_of(" \t,", begin);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view entry = text.substr(begin, end - begin);
    AgentHost host;
    if (parseEntry(entry, host)) {
      if (std::find(hosts.begin(), hosts.end(), host) == hosts.end()) hosts.push_back(host);
    } else if (refused) {
      refused->emplace_back(entry);
    }
    at = end;
  }
  return hosts;
}

bool isListedAgent(const std::string& ip, const std::string& port,
                   const std::vector<AgentHost>& hosts) {
  AgentHost wanted;
  if (!ipv4Value(ip.c_str(), wanted.address) || !parsePort(port, wanted.port)) return false;
  // Only the plain spelling: a resolver may read "010.0.0.5" as octal, and
  // connect elsewhere than the entry it matched.
  if (ip != dottedText(wanted.address) || port != std::to_string(wanted.port)) return false;
  return isAgentAddress(wanted.address) &&
         std::find(hosts.begin(), hosts.end(), wanted) != hosts.end();
}

namespace {

std::optional<std::string>& listForTests() {
  static std::optional<std::string> list;
  return list;
}

}  // namespace

void setAgentHostsForTests(std::optional<std::string> list) {
  listForTests() = std::move(list);
}

std::vector<AgentHost> systemGetAgentHosts() {
  if (listForTests()) return parseAgentHosts(*listForTests());
  return parseAgentHosts(getCfgFileTokenValue(kSettingsPath, "AGENT_HOSTS", kListMax));
}

bool isAllowedAgent(const std::string& ip, const std::string& port) {
  return isListedAgent(ip, port, systemGetAgentHosts());
}
