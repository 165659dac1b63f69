/// @file search_run_index_list.cc
/// @brief The indexes a request names by "index_id", and their
/// search-by-field conditions.

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "cgi/cgi_string_parser.h"
#include "front/remote_index_info.h"
#include "front/request_state.h"
#include "front/search_run.h"
#include "system/delimiters.h"
#include "system/index_id.h"
#include "system/layout.h"
#include "system/lines.h"
#include "system/run_deadline.h"
#include "system/secure_file.h"
#include "system/strings.h"

namespace {

// Fills owner, desc and type of a local index from its id file; false when
// the index is unknown. A name that could leave the id directory is unknown.
bool describeLocalIndex(const std::string& indexName, velaSearchList& entry) {
  if (!isSafeIndexName(indexName.c_str())) return false;
  IndexIdFileMgr ids;
  ids.clean();
  if (!ids.readIndexIdInfo(indexName.c_str())) return false;
  entry.owner = velaSearchList::bounded(ids.getIndexOwner(), kOwnerSize);
  entry.idxName = velaSearchList::bounded(ids.getIndexId(), kIdxNameSize);
  entry.desc = velaSearchList::bounded(ids.getIndexDesc(), kDescSize);
  entry.dbType = velaSearchList::bounded(ids.getIndexType(), kDbTypeSize);
  return true;
}

bool describeRemoteIndex(const std::string& ip, const std::string& port,
                         const std::string& indexName, velaSearchList& entry, bool& unreachable) {
  std::string owner, desc, type;
  if (!get_remote_index_info(ip.c_str(), port.c_str(), indexName.c_str(), owner, desc, type,
                             &unreachable)) {
    return false;
  }
  entry.owner = velaSearchList::bounded(owner, kOwnerSize);
  entry.desc = velaSearchList::bounded(desc, kDescSize);
  entry.dbType = velaSearchList::bounded(type, kDbTypeSize);
  entry.idxName = velaSearchList::bounded(indexName, kIdxNameSize);
  return true;
}

// One "index_id" variable, decoded.
struct NamedIndex {
  std::string ip, name, port;
  bool operator==(const NamedIndex& o) const {
    return ip == o.ip && name == o.name && port == o.port;
  }
};

void logNamedIndex(FILE* log, int processId, const char* uid, const NamedIndex& n) {
  if (!log) return;
  std::fprintf(log, "[%d]-cgi_value [%s] m_index_ip [%s] m_index_id [%s] port [%s]\n", processId,
               blankControlCharacters(uid ? uid : "").c_str(), blankControlCharacters(n.ip).c_str(),
               blankControlCharacters(n.name).c_str(), blankControlCharacters(n.port).c_str());
  std::fflush(log);
}

// The "index_id" variables of the request, in request order.
std::vector<NamedIndex> namedIndexes(const CGIStringParser& cgi, FILE* log, int processId) {
  std::vector<NamedIndex> named;
  for (int k = 0; k < cgi.getCgiVariableNum(); ++k) {
    if (std::strcmp(cgi.findNameByIndex(k), "index_id") != 0) continue;
    const char* uid = cgi.findValueByIndex(k);
    NamedIndex n;
    systemDecodeIndexID(uid, n.ip, n.name, n.port);
    logNamedIndex(log, processId, uid, n);
    named.push_back(std::move(n));
  }
  return named;
}

// How one distinct index of the request was looked up.
struct LookedUp {
  NamedIndex named;
  bool found = false;
  bool remote = false;
  velaSearchList entry;
};

}  // namespace

ExplicitIndexList buildExplicitIndexList(const CGIStringParser& cgi, VelaSearchListVector& list,
                                         FILE* log, int processId, int maxIndexes) {
  ExplicitIndexList result;
  std::vector<NamedIndex> named;
  // Each distinct index is looked up once: an index named twice costs
  // nothing twice, not even a connection.
  std::vector<LookedUp> distinct;
  try {
    named = namedIndexes(cgi, log, processId);
    for (const NamedIndex& n : named) {
      if (std::none_of(distinct.begin(), distinct.end(),
                       [&n](const LookedUp& d) { return d.named == n; }))
        distinct.emplace_back().named = n;
    }
  } catch (const std::bad_alloc&) {
    result.outOfMemory = true;
    return result;
  }
  // The limit holds before any index is looked at, so a long request costs
  // nothing but its refusal. It counts the searches, so copies count once.
  if (maxIndexes >= 0 && list.size() + distinct.size() > static_cast<size_t>(maxIndexes)) {
    result.tooMany = true;
    return result;
  }
  std::vector<std::pair<std::string, std::string>> unreachableHosts;
  for (LookedUp& d : distinct) {
    const NamedIndex& n = d.named;
    d.remote = !isLocalIPAddress(n.ip.c_str());
    try {
      if (!d.remote) {
        d.found = describeLocalIndex(n.name, d.entry);
      } else {
        // A host that did not answer is not asked again in this run, and no
        // host is asked once the run must end.
        const std::pair<std::string, std::string> host{n.ip, n.port};
        bool unreachable = false;
        d.found = !runMustEnd() &&
                  std::find(unreachableHosts.begin(), unreachableHosts.end(), host) ==
                      unreachableHosts.end() &&
                  describeRemoteIndex(n.ip, n.port, n.name, d.entry, unreachable);
        if (unreachable) unreachableHosts.push_back(host);
      }
      d.entry.ipAddr = velaSearchList::bounded(n.ip, kIpAddrSize);
      d.entry.port = velaSearchList::bounded(n.port, kPortSize);
    } catch (const std::bad_alloc&) {
      result.outOfMemory = true;
      return result;
    }
  }
  // Every variable keeps its position, so that "search_no" and the index
  // descriptors count as the request does; the search takes each index once
  // (planSearchJobs).
  for (const NamedIndex& n : named) {
    const LookedUp& d = *std::find_if(distinct.begin(), distinct.end(),
                                      [&n](const LookedUp& x) { return x.named == n; });
    if (!d.found) {
      if (d.remote)
        ++remote_index_not_found_count;
      else
        ++result.unknown;
      continue;
    }
    try {
      // Two uids may name one index ("D1" and "7F000001_D1").
      if (std::any_of(list.begin(), list.end(),
                      [&d](const velaSearchList& e) { return e.sameIndexAs(d.entry); }))
        ++result.duplicates;
      list.push_back(d.entry);
    } catch (const std::bad_alloc&) {
      result.outOfMemory = true;
      return result;
    }
    ++result.added;
    if (list.back().dbType != "db") ++result.fileNameIndexCount;
  }
  return result;
}
