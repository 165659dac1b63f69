/// @file own_index.h
/// @brief Whether an (owner, index) pair that another host names is one of
/// this host's indexes: the only way request text ever leads to a path.

#ifndef SEARCHRUN_COMPANIONS_AGENT_OWN_INDEX_H
#define SEARCHRUN_COMPANIONS_AGENT_OWN_INDEX_H

#include <string>

#include "system/vela_search_list.h"

namespace agent {

// True when `name` is a safe index name (isSafeIndexName) whose index id
// file exists, names that id and names `owner` as its owner. Then `entry`
// holds owner, index name, description and type as the id file gives them
// (the address and port are left alone). No file is looked at for an
// unsafe name.
bool findOwnIndex(const std::string& owner, const std::string& name, velaSearchList& entry);

}  // namespace agent

#endif  // SEARCHRUN_COMPANIONS_AGENT_OWN_INDEX_H
