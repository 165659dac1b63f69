/// @file local_search_filters.cc
/// @brief The filters of the searches of this host's indexes.

#include "front/local_search_filters.h"

#include "assemble/filter_inclist.h"
#include "front/query_exclude_check.h"

namespace {

CIncListRecordFilter g_incListFilter;

}  // namespace

void armLocalSearchFilters(SearchRequest& search) {
  search.screen = screenQueryTermFile;
  search.incList = &g_incListFilter;
}
