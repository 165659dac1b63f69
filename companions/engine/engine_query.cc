/// @file engine_query.cc
/// @brief Running an engine query over an index database: the hits in
/// score or record order, copies collapsed.

#include "companions/engine/engine_query.h"

#include <algorithm>
#include <cmath>

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
  std::set<std::string> shown;
  for (Xapian::doccount first = 0;;) {
    const Xapian::MSet mset = enquire.get_mset(first, want);
    for (auto it = mset.begin(); it != mset.end(); ++it) {
      if (copies && !(*it < copies->hidden.size() && copies->hidden[*it])) {
        const std::string digest = it.get_document().get_value(kContentDigestSlot);
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
