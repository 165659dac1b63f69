/// @file engine_query.cc
/// @brief Running an engine query over an index database: the hits in
/// score or record order, copies collapsed.

#include "companions/engine/engine_query.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <deque>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "companions/engine/collection_stats.h"
#include "companions/engine/index_files.h"

namespace vela {

Xapian::Database openIndexDb(const std::string& home) {
  return Xapian::Database(home + "/" + kEngineDbDir, Xapian::DB_BACKEND_GLASS);
}

namespace {

uint32_t scoreOf(double weight) {
  const double scaled = std::round(weight * kScoreScale);
  return scaled < 1.0 ? 1 : scaled > 2147483647.0 ? 2147483647u : static_cast<uint32_t>(scaled);
}

// The hits of `mset` in record order: (record id, place in the batch).
std::vector<std::pair<Xapian::docid, uint32_t>> inRecordOrder(const Xapian::Database& db,
                                                              const Xapian::MSet& mset) {
  std::vector<std::pair<Xapian::docid, uint32_t>> byRecord;
  byRecord.reserve(mset.size());
  const Xapian::docid last = db.get_lastdocid();
  uint32_t k = 0;
  if (last / 16 > mset.size()) {
    // Few hits for the index: sorting them costs less than a pass over
    // every record id.
    for (auto it = mset.begin(); it != mset.end(); ++it)
      byRecord.emplace_back(*it, k++);
    std::sort(byRecord.begin(), byRecord.end());
    return byRecord;
  }
  constexpr uint32_t kNoHit = UINT32_MAX;
  std::vector<uint32_t> placeOf(static_cast<size_t>(last) + 1, kNoHit);
  for (auto it = mset.begin(); it != mset.end(); ++it)
    placeOf[*it] = k++;
  for (Xapian::docid id = 1; id <= last; ++id)
    if (placeOf[id] != kNoHit) byRecord.emplace_back(id, placeOf[id]);
  return byRecord;
}

// The content digests of one batch of hits, in the batch's order, read in
// one pass over the digest values in record order and kept back to back in
// one buffer. A document read per hit costs a lookup of its own in the value
// table, and a string per hit an allocation: for thousands of hits both
// weighed more than the match itself.
class HitDigests {
 public:
  HitDigests(const Xapian::Database& db, const Xapian::MSet& mset) : at_(mset.size()) {
    Xapian::ValueIterator value = db.valuestream_begin(kContentDigestSlot);
    const Xapian::ValueIterator end = db.valuestream_end(kContentDigestSlot);
    for (const auto& [docid, place] : inRecordOrder(db, mset)) {
      if (value == end) break;
      value.skip_to(docid);
      if (value == end || value.get_docid() != docid) continue;
      const std::string digest = *value;
      at_[place] = {bytes_.size(), digest.size()};
      bytes_ += digest;
    }
  }
  HitDigests(const HitDigests&) = delete;
  HitDigests& operator=(const HitDigests&) = delete;

  // "" for a record without one. Valid while this object lives.
  std::string_view operator[](size_t place) const {
    return std::string_view(bytes_).substr(at_[place].first, at_[place].second);
  }

 private:
  std::string bytes_;
  std::vector<std::pair<size_t, size_t>> at_;  // offset and size in bytes_, by place
};

}  // namespace

std::vector<Hit> runQuery(const Xapian::Database& db, const Xapian::Query& query, HitOrder order,
                          size_t limit, const CollectionStats& stats, const CopyCollapse* copies) {
  std::vector<Hit> hits;
  if (query.empty()) return hits;
  Xapian::Enquire enquire(db);
  enquire.set_query(query);
  const double average = stats.docCount > 0 ? static_cast<double>(stats.totalLength) /
                                                  static_cast<double>(stats.docCount)
                                            : 1;
  enquire.set_weighting_scheme(CollectionWeight(average));
  enquire.set_docid_order(Xapian::Enquire::ASCENDING);  // equal scores keep record order
  Xapian::doccount want = db.get_doccount();
  const bool limited = limit > 0 && order == HitOrder::kScore;
  if (limited && limit < want) want = static_cast<Xapian::doccount>(limit);
  // Copies are collapsed here, not by the matcher: a hidden record stays a
  // hit as it was (the back-end drops it) and stands for no other, and a
  // record without a digest (of an index built before them) for none.
  // The digests shown point into their batches, which therefore stay (and
  // stay put) until the last batch is done.
  std::deque<HitDigests> batches;
  std::unordered_set<std::string_view> shown;
  const std::vector<uint32_t>* groups = copies ? copies->groups : nullptr;
  std::vector<bool> groupShown(groups ? groups->size() + 1 : 0);
  for (Xapian::doccount first = 0;;) {
    const Xapian::MSet mset = enquire.get_mset(first, want);
    const HitDigests* digests = copies && !groups ? &batches.emplace_back(db, mset) : nullptr;
    if (digests) shown.reserve(shown.size() + mset.size());
    hits.reserve(hits.size() + mset.size());
    size_t k = 0;
    for (auto it = mset.begin(); it != mset.end(); ++it, ++k) {
      const bool standsForCopies = copies && !(*it < copies->hidden.size() && copies->hidden[*it]);
      if (standsForCopies && groups) {
        const uint32_t group = *it <= groups->size() ? (*groups)[*it - 1] : 0;
        if (group != 0 && group <= groups->size()) {
          if (groupShown[group]) continue;
          groupShown[group] = true;
        }
      } else if (standsForCopies) {
        const std::string_view digest = (*digests)[k];
        if (!digest.empty() && !shown.insert(digest).second) continue;
      }
      hits.push_back({*it, scoreOf(it.get_weight())});
      if (limited && hits.size() == limit) return hits;
    }
    // Fewer hits than asked for once copies were left out: the next ones.
    // (An empty index asks for none, and must not ask again for ever.)
    if (!copies || !limited || mset.empty() || mset.size() < want) break;
    first += mset.size();
  }
  if (order == HitOrder::kRecord) {
    std::sort(hits.begin(), hits.end(),
              [](const Hit& a, const Hit& b) { return a.recid < b.recid; });
    if (limit > 0 && hits.size() > limit) hits.resize(limit);
  }
  return hits;
}

}  // namespace vela
