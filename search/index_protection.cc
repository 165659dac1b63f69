/// @file index_protection.cc
/// @brief The protection switches of a job's index, which decide whether the
/// access filters are armed for it. Apart from the search itself, so that a
/// program without access filters holds none of it.

#include "search/vela_search.h"
#include "system/layout.h"
#include "system/protection_switches.h"

bool velaSearch::isNTFSIndex() const {
  return homeHasFileAcl(systemGetIndexHome(getIndexOwner(), getIndexName()));
}

bool velaSearch::isACLBuilderIndex() const {
  return homeHasBuilderAcl(systemGetIndexHome(getIndexOwner(), getIndexName()));
}
