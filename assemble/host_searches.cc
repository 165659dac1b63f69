/// @file host_searches.cc
/// @brief An agent's searches of this host's indexes.

#include "assemble/host_searches.h"

#include <limits>
#include <vector>

#include "assemble/record_merge.h"
#include "search/vela_search.h"

int searchHostIndexes(const VelaSearchListVector& list, const SearchRequest& request,
                      const std::string& velaOption, HostSearchResult& out) {
  out = HostSearchResult();
  std::vector<SearchJobPlan> plans;
  for (size_t i = 0; i < list.size(); ++i)
    plans.push_back({fgLocal, {i}});
  std::vector<velaSearch> jobs;
  if (createSearchJobs(list, plans, request, velaOption, jobs)) return kSearchNoMemory;
  int code = 0;
  if (runSearchJobs(jobs, request, nullptr, &code)) return code;
  long long hits = 0;
  for (velaSearch& job : jobs) {
    if (out.matched.empty()) out.matched = job.m_returnQuery;
    hits += job.m_numRec;
    out.block += job.m_velaResult;
    job.freeMemory();
  }
  // No answer could carry that many hits.
  if (hits > std::numeric_limits<int>::max()) return kSearchNoMemory;
  out.hits = static_cast<int>(hits);
  return 0;
}
