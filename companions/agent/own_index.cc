/// @file own_index.cc
/// @brief The index check of the host agent.

#include "companions/agent/own_index.h"

#include "system/address.h"
#include "system/index_id.h"

namespace agent {

bool findOwnIndex(const std::string& owner, const std::string& name, velaSearchList& entry) {
  // A name with a zero byte would be checked shorter than it is.
  if (name.find('\0') != std::string::npos || !isSafeIndexName(name.c_str())) return false;
  IndexIdFileMgr ids;
  if (!ids.readIndexIdInfo(name.c_str()) || owner != ids.getIndexOwner()) return false;
  entry.owner = ids.getIndexOwner();
  entry.idxName = ids.getIndexId();
  entry.desc = ids.getIndexDesc();
  entry.dbType = ids.getIndexType();
  return true;
}

}  // namespace agent
