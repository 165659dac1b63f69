/// @file local_search_filters.h
/// @brief The screens and filters every search of an index of this host
/// gets, whoever asked for it: a request made on this host, or the request
/// of another host that this host's agent serves.

#ifndef SEARCHRUN_POLICY_LOCAL_SEARCH_FILTERS_H
#define SEARCHRUN_POLICY_LOCAL_SEARCH_FILTERS_H

#include "assemble/field_filter.h"
#include "assemble/filter_inclist.h"
#include "assemble/property_filter.h"
#include "policy/access_filters.h"
#include "search/search_request.h"

// The filter objects of one request's searches. A search armed with them
// points at them: they must outlive it.
class LocalSearchFilters {
 public:
  // `screen` is the query screen of the exclusion lists (unset: every query
  // is kept), given by the caller so that a program without the lists holds
  // none of their code.
  explicit LocalSearchFilters(QueryTermScreen screen = QueryTermScreen()) : m_screen(screen) {}
  LocalSearchFilters(const LocalSearchFilters&) = delete;
  LocalSearchFilters& operator=(const LocalSearchFilters&) = delete;

  // Sets in `search` the query screen, the superseded-record filter, the
  // property filters, the field filter of searches by field and the
  // access-right filters, which show `who` what `who` may read (nobody
  // vouched for: what everyone may read, at most).
  void arm(SearchRequest& search, const AccessIdentity& who = AccessIdentity());

 private:
  QueryTermScreen m_screen;
  IncListRecordFilter m_incList;
  PropertySource m_propertySource;
  AccessJobFilters m_access;
  search_field m_field;
};

#endif  // SEARCHRUN_POLICY_LOCAL_SEARCH_FILTERS_H
