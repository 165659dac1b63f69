/// @file relterm_shared.cc
/// @brief Related terms from the record term dictionary.

#include "companions/engine/relterm_shared.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "companions/engine/index_db_cache.h"
#include "companions/engine/record_term_rules.h"
#include "system/secure_file.h"

namespace relterm {

namespace {

// Largest frequency file read: far beyond the dictionary of any index.
constexpr size_t kMaxFrequencyBytes = 256u << 20;

// Hits read at most.
constexpr uint32_t kSharedRecords = 20;

// How much a record uses a term, from its dictionary weight
// (recordTermWeight: ten times (1 + ln wdf) * ln(1 + records / n)) and its
// length against the index's average: the use wdf is saturated and set
// against the length as relevance feedback does, 2 wdf / (length + wdf).
// Without it a long record (a change log of years) would give its words to
// every search it turns up in.
double usage(int32_t weight, uint32_t n, uint32_t records, double length) {
  double wdf = 1;
  if (n != 0 && weight > 0) {
    const double idf = std::log(1 + static_cast<double>(records) / n);
    wdf = std::exp(std::max(0.0, weight / (10 * idf) - 1));
  }
  return 2 * wdf / (std::max(length, 0.0) + wdf);
}

}  // namespace

std::shared_ptr<const SharedTermFiles> loadSharedTermFiles(const std::string& home) {
  auto files = std::make_shared<SharedTermFiles>();
  std::string bytes;
  UniqueFd fd = openRegularFile(home + "/" + kRecordTermFreqFile);
  if (!fd || !readAll(fd.get(), bytes, kMaxFrequencyBytes) ||
      !files->frequencies.load(std::move(bytes)) || !files->table.open(home))
    return nullptr;
  return files;
}

std::shared_ptr<const SharedTermFiles> sharedTermFiles(const std::string& home,
                                                       vela::IndexDbCache* cache,
                                                       const vela::IndexBuild* build) {
  if (!cache) return loadSharedTermFiles(home);
  const auto load = [&] { return loadSharedTermFiles(home); };
  return std::static_pointer_cast<const SharedTermFiles>(
      build ? cache->derived(home, "relterm", load, *build)
            : cache->derived(home, "relterm", load));
}

double offerWeight(uint32_t r, uint32_t n, uint32_t hits, uint32_t records) {
  // Counts from files that disagree (a damaged one) still give a weight.
  const double rr = r, nn = std::max(n, r), big = std::max(records, std::max(n, r));
  const double hh = std::max(hits, r);
  const double elsewhere = std::max(0.0, big - nn - hh + rr);
  double odds = (rr + 0.5) * (elsewhere + 0.5) / ((nn - rr + 0.5) * (hh - rr + 0.5));
  // Odds near or below even would weigh a shared word at nothing or less;
  // it still tells more than a word none of the hits share.
  if (odds < 2) odds = odds / 2 + 1;
  return rr * std::log(odds);
}

std::vector<std::string> sharedTerms(const SharedTermFiles& files, const std::vector<uint32_t>& ids,
                                     int count, uint32_t& hits, const RecordLength& length) {
  hits = 0;
  const TermFrequencies& freq = files.frequencies;
  const uint32_t records = freq.indexRecords();
  // Each hit's terms with how much the hit uses them.
  std::vector<std::pair<int32_t, double>> held;
  std::vector<MATCHINF> entries;
  for (uint32_t id : ids) {
    if (hits >= kSharedRecords) break;
    if (id > INT32_MAX || !files.table.read(static_cast<int>(id), entries) || entries.empty())
      continue;
    ++hits;
    const size_t first = held.size();
    const double relative = length ? length(id) : 1;
    for (const MATCHINF& m : entries)
      held.emplace_back(m.termId, usage(m.weight, freq.records(m.termId), records, relative));
    // A damaged list naming a term twice must not count as two hits.
    std::sort(held.begin() + static_cast<std::ptrdiff_t>(first), held.end());
    held.erase(std::unique(held.begin() + static_cast<std::ptrdiff_t>(first), held.end(),
                           [](const auto& a, const auto& b) { return a.first == b.first; }),
               held.end());
  }
  std::sort(held.begin(), held.end());
  std::vector<std::pair<double, const char*>> scored;
  for (size_t i = 0; i < held.size();) {
    size_t j = i;
    double used = 0;
    for (; j < held.size() && held[j].first == held[i].first; ++j)
      used += held[j].second;
    const uint32_t r = static_cast<uint32_t>(j - i);
    const int32_t term = held[i].first;
    i = j;
    if (r < 2) continue;
    const uint32_t n = freq.records(term);
    if (records >= 4 && 2 * uint64_t{n} > records) continue;
    const char* name = freq.name(term);
    if (!name || !vela::isCharacteristicTerm(name)) continue;
    scored.emplace_back(offerWeight(r, n, hits, records) / r * used, name);
  }
  const size_t keep = std::min(scored.size(), static_cast<size_t>(std::max(count, 0)));
  std::partial_sort(scored.begin(), scored.begin() + static_cast<std::ptrdiff_t>(keep),
                    scored.end(), [](const auto& a, const auto& b) {
                      return a.first != b.first ? a.first > b.first
                                                : std::string_view(a.second) < b.second;
                    });
  std::vector<std::string> terms;
  for (size_t i = 0; i < keep; ++i)
    terms.emplace_back(scored[i].second);
  return terms;
}

}  // namespace relterm
