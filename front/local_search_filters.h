/// @file local_search_filters.h
/// @brief The screens and filters every search of an index of this host
/// gets, whoever asked for it: a request made on this host, or the request
/// of another host that this host's agent serves.

#ifndef SEARCHRUN_FRONT_LOCAL_SEARCH_FILTERS_H
#define SEARCHRUN_FRONT_LOCAL_SEARCH_FILTERS_H

#include "search/search_request.h"

// Sets in `search` the query screen of the exclusion lists, the
// superseded-record filter and the field filter of searches by field. The filter objects live for
// the whole process.
void armLocalSearchFilters(SearchRequest& search);

#endif  // SEARCHRUN_FRONT_LOCAL_SEARCH_FILTERS_H
