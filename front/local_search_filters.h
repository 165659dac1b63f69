/// @file local_search_filters.h
/// @brief The screens and filters every search of an index of this host
/// gets, whoever asked for it: a request made on this host, or the request
/// of another host that this host's agent serves.

#ifndef SEARCHRUN_FRONT_LOCAL_SEARCH_FILTERS_H
#define SEARCHRUN_FRONT_LOCAL_SEARCH_FILTERS_H

#include "front/access_filters.h"
#include "search/search_request.h"

// Sets in `search` the query screen of the exclusion lists, the
// superseded-record filter, the property filters, the field filter of
// searches by field and the access-right filters, which show `who` what
// `who` may read (nobody vouched for: what everyone may read, at most). The
// filter objects live for the whole process.
void armLocalSearchFilters(SearchRequest& search, const AccessIdentity& who = AccessIdentity());

#endif  // SEARCHRUN_FRONT_LOCAL_SEARCH_FILTERS_H
