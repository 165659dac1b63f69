/// @file remote_similar_doc.cc
/// @brief The similar-document terms of another host's record.

#include "front/remote_similar_doc.h"

#include "search/remote_record_view.h"
#include "system/address.h"
#include "system/agent_hosts.h"
#include "system/net_exchange.h"
#include "system/numbers.h"

namespace {

// Terms that go into the query as this host's dictionary would give them:
// no byte that could end a field or open a phrase.
bool plainTerms(const std::string& terms) {
  for (unsigned char c : terms)
    if (c < 0x20 || c == 0x7F || c == '"') return false;
  return !terms.empty();
}

}  // namespace

bool remoteSimilarDocTerms(const SimilarDocMarker& marker, const VelaSearchListVector& selected,
                           const std::optional<std::string>& user, size_t capacity,
                           std::string& terms) {
  terms.clear();
  int64_t record = 0;
  if (!parseDecimal(marker.record, 1, INT32_MAX, record)) return false;
  const velaSearchList* remote = nullptr;
  for (const velaSearchList& entry : selected) {
    if (entry.idxName != marker.indexId) continue;
    if (isLocalIPAddress(entry.ipAddr.c_str())) return false;
    if (!remote) remote = &entry;
  }
  int64_t port = 0;
  if (!remote || !isAllowedAgent(remote->ipAddr, remote->port) ||
      !parseDecimal(remote->port, 1, 65535, port))
    return false;
  RemoteViewRequest request;
  request.mode = kViewModeSimilar;
  request.user = user.value_or("");
  request.owner = remote->owner;
  request.index = remote->idxName;
  request.ids = {static_cast<uint32_t>(record)};
  request.number = marker.increment ? 1 : 0;
  std::string bytes, answer, list;
  if (!buildRecordViewRequest(request, bytes) ||
      getData(remote->ipAddr.c_str(), static_cast<uint16_t>(port), bytes, answer,
              systemGetNetLimits()) != kNetOk ||
      !parseSimilarAnswer(answer, list) || !plainTerms(list) || list.size() + 1 > capacity)
    return false;
  terms = list;
  return true;
}
