/// @file host_searches.h
/// @brief The searches this host's agent runs for another host: indexes of
/// this host, each searched as a local job built, armed and run exactly as
/// the merge of a request does it, and their result blocks joined, in list
/// order, into the one answer a remote job expects.

#ifndef SEARCHRUN_ASSEMBLE_HOST_SEARCHES_H
#define SEARCHRUN_ASSEMBLE_HOST_SEARCHES_H

#include <string>

#include "search/search_request.h"
#include "system/vela_search_list.h"

struct HostSearchResult {
  std::string matched;  // the first matched string a job reported; "" when none
  int hits = 0;         // the jobs' hits, all told
  std::string block;    // one section per index, in list order (result_block.h)
};

// Searches every entry of `list` on this host (whatever its address says)
// with the request's settings and the engine option string `velaOption`.
// Returns 0 with `out` filled, or the code of the first job that failed
// (the later ones do not run; kSearchNoMemory when the jobs could not be
// built), with `out` unspecified.
int searchHostIndexes(const VelaSearchListVector& list, const SearchRequest& request,
                      const std::string& velaOption, HostSearchResult& out);

#endif  // SEARCHRUN_ASSEMBLE_HOST_SEARCHES_H
