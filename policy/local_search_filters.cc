/// @file local_search_filters.cc
/// @brief The filters of the searches of this host's indexes.

#include "policy/local_search_filters.h"

void LocalSearchFilters::arm(SearchRequest& search, const AccessIdentity& who) {
  search.incList = &m_incList;
  m_access.setIdentity(who);
  search.jobFilters = &m_access;
  search.screen = m_screen;
  search.propertySource = &m_propertySource;
  search.fieldFilter = &m_field;
}
