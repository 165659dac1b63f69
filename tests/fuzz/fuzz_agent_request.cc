/// @file fuzz_agent_request.cc
/// @brief Requests of arbitrary bytes through the agent's readers of a
/// search request and of an index description request; what they accept,
/// written again, reads back the same.

#include <string>
#include <string_view>

#include "search/remote_request.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

namespace {

bool sameIndexes(const RemoteSearchRequest& a, const RemoteSearchRequest& b) {
  if (a.indexes.size() != b.indexes.size()) return false;
  for (size_t i = 0; i < a.indexes.size(); ++i) {
    const RemoteIndex &x = a.indexes[i], &y = b.indexes[i];
    if (x.owner != y.owner || x.idxName != y.idxName || x.sbfString != y.sbfString ||
        x.dbType != y.dbType)
      return false;
  }
  return true;
}

void searchRequest(std::string_view bytes) {
  RemoteSearchRequest request;
  if (!parseRemoteSearchRequest(bytes, request)) return;
  check(!request.indexes.empty() && request.indexes.size() <= kRemoteMaxIndexes);
  std::string again;
  check(buildRemoteSearchRequest(request, again));
  RemoteSearchRequest back;
  check(parseRemoteSearchRequest(again, back));
  check(back.velaOption == request.velaOption && back.searchMode == request.searchMode &&
        back.sortField == request.sortField && back.beginFile == request.beginFile &&
        back.endFile == request.endFile && back.beginTime == request.beginTime &&
        back.endTime == request.endTime && back.host == request.host && back.port == request.port &&
        sameIndexes(back, request));
}

void indexInfoRequest(std::string_view bytes) {
  std::string name, again, back;
  if (!parseIndexInfoRequest(bytes, name)) return;
  check(buildIndexInfoRequest(name, again) && again == bytes);
  check(parseIndexInfoRequest(again, back) && back == name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  searchRequest(bytes);
  indexInfoRequest(bytes);
  return 0;
}
