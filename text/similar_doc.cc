/// @file similar_doc.cc
/// @brief The similar-document query.

#include "text/similar_doc.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "system/address.h"
#include "system/config.h"
#include "system/index_format.h"
#include "system/index_id.h"
#include "system/layout.h"
#include "system/numbers.h"
#include "text/record_term.h"

namespace {

// Longest setting value read, and longest marker looked at.
constexpr size_t kSettingValueMax = 14;
constexpr size_t kMarkerMax = 1023;
constexpr int kMaxTermCountLimit = 10;
// Path buffer of an index directory: the inc part's suffix needs room in it.
constexpr size_t kIndexPathMax = 1024;

bool endsWith(const std::string& text, const char* tail) {
  const size_t n = std::strlen(tail);
  return text.size() >= n && text.compare(text.size() - n, n, tail) == 0;
}

}  // namespace

SimilarDocSettings SimilarDocReadConfigFile(const char* path) {
  SimilarDocSettings s;
  const std::string count = getCfgFileTokenValue(path, "MAX_TERM_COUNT", kSettingValueMax + 1);
  if (!count.empty()) s.maxTermCount = std::min(parseAtoi(count), kMaxTermCountLimit);
  const std::string least =
      getCfgFileTokenValue(path, "TERM_FREQ_THREASHOLD", kSettingValueMax + 1);
  if (!least.empty()) {
    s.termFreqThreshold = parseAtoi(least);
    if (s.termFreqThreshold < 0) s.termFreqThreshold = 1;
  }
  return s;
}

bool SimilarDocIsValidQueryString(const std::string& text) {
  const size_t head = std::strlen(kSimilarDocPrefix), tail = std::strlen(kSimilarDocSuffix);
  return text.size() > head + tail && text.compare(0, head, kSimilarDocPrefix) == 0 &&
         endsWith(text, kSimilarDocSuffix);
}

bool parseSimilarDocMarker(const std::string& text, SimilarDocMarker& out) {
  if (!SimilarDocIsValidQueryString(text)) return false;
  std::string work = text.substr(0, kMarkerMax);
  if (!endsWith(work, kSimilarDocSuffix)) return false;
  work.resize(work.size() - std::strlen(kSimilarDocSuffix));
  work.erase(0, std::strlen(kSimilarDocPrefix));
  const size_t idEnd = work.find('-');
  if (idEnd == std::string::npos) return false;
  const size_t recordEnd = work.find('-', idEnd + 1);
  if (recordEnd == std::string::npos) return false;
  out.indexId = work.substr(0, idEnd);
  out.record = work.substr(idEnd + 1, recordEnd - idEnd - 1);
  out.increment = recordEnd + 1 < work.size() && work[recordEnd + 1] == '1';
  return true;
}

std::string makeSimilarDocMarker(const std::string& indexId, unsigned long record, bool increment) {
  return kSimilarDocPrefix + indexId + "-" + std::to_string(record) + "-" +
         (increment ? "1" : "0") + kSimilarDocSuffix;
}

bool similarDocTermList(const std::string& indexHome, int record, int maxTerms, int threshold,
                        size_t capacity, std::string& out) {
  if (maxTerms <= 0 || capacity == 0) return false;
  RecordTerm terms;
  terms.SetIndexHome(indexHome.c_str());
  std::vector<MATCHINF> pairs(static_cast<size_t>(maxTerms));
  const int n = terms.GetRecordTermId(record, pairs.data(), maxTerms);
  std::string list;
  bool taken = false;
  for (int i = 0; i < n; ++i) {
    if (pairs[static_cast<size_t>(i)].weight < threshold) break;
    const char* name = terms.GetTermName(pairs[static_cast<size_t>(i)].termId);
    // A stray comma would only be an empty alternative: a nameless term is
    // left out rather than written as nothing.
    if (!name || !*name) continue;
    const size_t more = std::strlen(name) + (taken ? 1 : 0);
    if (list.size() + more > capacity - 1) break;
    if (taken) list += ',';
    list += name;
    taken = true;
  }
  if (!taken) return false;
  out = list;
  return true;
}

bool SimilarDocGetQueryStringAPI(const std::string& indexId, const std::string& record,
                                 bool increment, int termCount, std::string& out, size_t outSize) {
  IndexIdFileMgr ids;
  if (!isSafeIndexName(indexId.c_str()) || !ids.readIndexIdInfo(indexId.c_str())) return false;
  std::string home = systemGetIndexHome(ids.getIndexOwner(), indexId.c_str());
  if (home.empty()) return false;
  if (increment) {
    if (home.size() + kIncPartSuffix.size() > kIndexPathMax - 1) return false;
    home = incPartOf(home);
  }
  int64_t number = 0;
  if (!parseDecimal(record, 1, INT32_MAX, number)) return false;
  const SimilarDocSettings s = SimilarDocReadConfigFile(kSimilarPageCfgPath);
  return similarDocTermList(home, static_cast<int>(number), termCount, s.termFreqThreshold, outSize,
                            out);
}

bool SimilarDocGetQueryString(char* buffer, size_t size) {
  if (!buffer || size == 0) return false;
  SimilarDocMarker marker;
  if (!parseSimilarDocMarker(std::string(buffer, strnlen(buffer, size)), marker)) return false;
  const SimilarDocSettings s = SimilarDocReadConfigFile(kSimilarPageCfgPath);
  std::string list;
  if (!SimilarDocGetQueryStringAPI(marker.indexId, marker.record, marker.increment, s.maxTermCount,
                                   list, size))
    return false;
  std::memcpy(buffer, list.c_str(), list.size() + 1);
  return true;
}
