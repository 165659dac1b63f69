/// @file local_search_filters.cc
/// @brief The filters of the searches of this host's indexes.

#include "front/local_search_filters.h"

#include "assemble/field_filter.h"
#include "assemble/filter_inclist.h"
#include "front/query_exclude_check.h"

namespace {

CIncListRecordFilter g_incListFilter;
search_field g_fieldFilter;

}  // namespace

void armLocalSearchFilters(SearchRequest& search) {
  search.screen = screenQueryTermFile;
  search.incList = &g_incListFilter;
  search.fieldFilter = &g_fieldFilter;
}
