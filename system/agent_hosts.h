/// @file agent_hosts.h
/// @brief The agents of other hosts that requests may reach: a list the
/// administrator writes ("AGENT_HOSTS" of "../setting/search_option.cfg").
///
/// A request names remote indexes by address and port, so without this list
/// any visitor could make the search connect anywhere (this host's other
/// services, the inside network) with text of the visitor's choosing. No
/// list means no remote index: a site that searches other hosts names them.
///
///   AGENT_HOSTS=10.0.0.5:9000 10.0.0.6:9000, 127.0.0.2:9000
///
/// Entries are "a.b.c.d:port" separated by blanks or commas. An address no
/// agent can have (0.0.0.0/8, which reaches this host; multicast and the
/// reserved block 224.0.0.0 and above, broadcast among them) is never
/// reachable, listed or not.

#ifndef SEARCHRUN_SYSTEM_AGENT_HOSTS_H
#define SEARCHRUN_SYSTEM_AGENT_HOSTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct AgentHost {
  uint32_t address = 0;  // the first number in the highest byte
  uint16_t port = 0;
  bool operator==(const AgentHost& o) const { return address == o.address && port == o.port; }
};

// The entries of a list; an entry that is no address and port (1 to
// 65535), or that names an address no agent can have, is left out and its
// text added to `refused` when given.
std::vector<AgentHost> parseAgentHosts(std::string_view text,
                                       std::vector<std::string>* refused = nullptr);

// False for an address no agent can have (see above).
bool isAgentAddress(uint32_t address);

// True when `ip` (dotted) and `port` (decimal text) name an entry of
// `hosts`.
bool isListedAgent(const std::string& ip, const std::string& port,
                   const std::vector<AgentHost>& hosts);

// The list of this installation, read anew on each call (a few times a run
// at most: once per other host asked), so a changed list holds at once.
std::vector<AgentHost> systemGetAgentHosts();

// For tests: the list as if the settings said `list`; unset: the settings.
void setAgentHostsForTests(std::optional<std::string> list);

// isListedAgent against the installation's list.
bool isAllowedAgent(const std::string& ip, const std::string& port);

#endif  // SEARCHRUN_SYSTEM_AGENT_HOSTS_H
