/// @file collection_weight.cc
/// @brief The weighting of the engine: term weights from the statistics of
/// the searched collection, whatever parts it is made of.

#include "companions/engine/engine_query.h"

#include <algorithm>
#include <cmath>

#include "companions/engine/collection_stats.h"

namespace vela {

CollectionWeight::CollectionWeight(double averageLength)
    : averageLength_(averageLength > 0 ? averageLength : 1) {
  need_stat(WDF);
  need_stat(DOC_LENGTH);
}

double CollectionWeight::get_sumpart(Xapian::termcount wdf, Xapian::termcount doclen,
                                     Xapian::termcount) const {
  // Only heading terms are held without frequency: they weigh by presence,
  // whatever the length of the record.
  if (wdf == 0) return factor_;
  const double norm = (1 - kB) + kB * static_cast<double>(doclen) / averageLength_;
  const double f = static_cast<double>(wdf);
  return factor_ * (kK1 + 1) * f / (kK1 * norm + f);
}

double CollectionWeight::get_maxpart() const {
  return factor_ * (kK1 + 1);
}

double inverseFrequency(uint64_t freq, uint64_t docs) {
  const double n = static_cast<double>(std::min(freq, docs));
  return std::log(1 + (static_cast<double>(docs) - n + 0.5) / (n + 0.5));
}

double groupInverseFrequency(const std::vector<std::string>& terms, const CollectionStats& stats) {
  auto freqOf = [&](const std::string& t) {
    const auto f = stats.termFreq.find(t);
    return f == stats.termFreq.end() ? 0 : f->second;
  };
  if (terms.size() == 1) return inverseFrequency(freqOf(terms[0]), stats.docCount);
  const double docs = static_cast<double>(stats.docCount);
  double absent = 1;
  for (const std::string& t : terms)
    absent *= docs > 0 ? 1 - std::min(1.0, static_cast<double>(freqOf(t)) / docs) : 1;
  const double held = docs * (1 - absent);
  return std::log(1 + (docs - held + 0.5) / (held + 0.5));
}

}  // namespace vela
