/// @file search_run_index_list.cc
/// @brief The indexes a request names by "index_id", and their
/// search-by-field conditions.

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "cgi/cgi_string_parser.h"
#include "front/remote_index_info.h"
#include "front/request_state.h"
#include "front/search_run.h"
#include "system/delimiters.h"
#include "system/index_id.h"
#include "system/layout.h"
#include "system/lines.h"
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
                         const std::string& indexName, velaSearchList& entry) {
  std::string owner, desc, type;
  if (!get_remote_index_info(ip.c_str(), port.c_str(), indexName.c_str(), owner, desc, type)) {
    return false;
  }
  entry.owner = velaSearchList::bounded(owner, kOwnerSize);
  entry.desc = velaSearchList::bounded(desc, kDescSize);
  entry.dbType = velaSearchList::bounded(type, kDbTypeSize);
  entry.idxName = velaSearchList::bounded(indexName, kIdxNameSize);
  return true;
}

bool isListed(const VelaSearchListVector& list, const velaSearchList& entry) {
  for (const velaSearchList& e : list) {
    if (e.ipAddr == entry.ipAddr && e.port == entry.port && e.owner == entry.owner &&
        e.idxName == entry.idxName)
      return true;
  }
  return false;
}

}  // namespace

ExplicitIndexList buildExplicitIndexList(const CGIStringParser& cgi, VelaSearchListVector& list,
                                         FILE* log, int processId) {
  ExplicitIndexList result;
  for (int k = 0; k < cgi.getCgiVariableNum(); ++k) {
    if (std::strcmp(cgi.findNameByIndex(k), "index_id") != 0) continue;
    const char* uid = cgi.findValueByIndex(k);
    std::string ip, indexName, port;
    systemDecodeIndexID(uid, ip, indexName, port);
    if (log) {
      std::fprintf(log, "[%d]-cgi_value [%s] m_index_ip [%s] m_index_id [%s] port [%s]\n",
                   processId, blankControlCharacters(uid ? uid : "").c_str(),
                   blankControlCharacters(ip).c_str(), blankControlCharacters(indexName).c_str(),
                   blankControlCharacters(port).c_str());
      std::fflush(log);
    }
    try {
      velaSearchList entry;
      if (isLocalIPAddress(ip.c_str())) {
        if (!describeLocalIndex(indexName, entry)) continue;
      } else if (!describeRemoteIndex(ip, port, indexName, entry)) {
        ++remote_index_not_found_count;
        continue;
      }
      entry.ipAddr = velaSearchList::bounded(ip, kIpAddrSize);
      entry.port = velaSearchList::bounded(port, kPortSize);
      // An index named twice is searched once: its hits would otherwise be
      // counted twice, and each copy would cost a whole search.
      if (isListed(list, entry)) {
        ++result.duplicates;
        continue;
      }
      list.push_back(std::move(entry));
    } catch (const std::bad_alloc&) {
      result.outOfMemory = true;
      return result;
    }
    ++result.added;
    if (list.back().dbType != "db") ++result.fileNameIndexCount;
  }
  return result;
}
