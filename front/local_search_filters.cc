/// @file local_search_filters.cc
/// @brief The filters of the searches of this host's indexes.

#include "front/local_search_filters.h"

#include "assemble/field_filter.h"
#include "assemble/filter_inclist.h"
#include "assemble/property_filter.h"
#include "front/query_exclude_check.h"

namespace {

CIncListRecordFilter g_incListFilter;
CPropertySource g_propertySource;
CAccessJobFilters g_accessFilters;
search_field g_fieldFilter;

}  // namespace

void armLocalSearchFilters(SearchRequest& search, const AccessIdentity& who) {
  search.screen = screenQueryTermFile;
  search.incList = &g_incListFilter;
  search.propertySource = &g_propertySource;
  g_accessFilters.setIdentity(who);
  search.jobFilters = &g_accessFilters;
  search.fieldFilter = &g_fieldFilter;
}
