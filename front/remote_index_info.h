/// @file remote_index_info.h
/// @brief Description of an index that lives on another host.

#ifndef SEARCHRUN_FRONT_REMOTE_INDEX_INFO_H
#define SEARCHRUN_FRONT_REMOTE_INDEX_INFO_H

#include <string>

#include "front/query_encoding.h"

// Asks the agent of `address`:`port` for owner, description and type of its
// index `index`, within the exchange limits of the installation and with an
// answer of at most 1,023 bytes. True when all three were received; the
// outputs are cut to 63, 63 and 15 bytes. False, with the outputs untouched,
// when nothing may be sent (the port is not a number from 1 to 65535, the
// host and port are not an agent host of the installation, agent_hosts.h,
// the name is not a safe index name), the agent cannot be reached in time
// (then `*unreachable` is set, when given), or its answer is not the four
// fields with an owner of the owner rule. Writes its steps to the run-time
// log.
bool get_remote_index_info(const char* address, const char* port, const char* index,
                           std::string& owner, std::string& desc, std::string& type,
                           bool* unreachable = nullptr);

#endif  // SEARCHRUN_FRONT_REMOTE_INDEX_INFO_H
