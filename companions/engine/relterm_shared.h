/// @file relterm_shared.h
/// @brief The terms the best hits of a search share, from the index's
/// record term dictionary alone: each record's strongest words, weighed by
/// how many of the hits hold them against how many records of the index do.
/// A word of one hit only says what that record is about, not the search.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_RELTERM_SHARED_H
#define SEARCHRUN_COMPANIONS_ENGINE_RELTERM_SHARED_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "text/record_term.h"

namespace vela {
class IndexDbCache;
struct IndexBuild;
}

namespace relterm {

// The dictionary files of one build of an index, as the tool reads them.
struct SharedTermFiles {
  RecordTermTable table;
  TermFrequencies frequencies;
};

// The files of the index at `home`; null when the index has no term
// frequencies (built before they were written) or its files cannot be read.
std::shared_ptr<const SharedTermFiles> loadSharedTermFiles(const std::string& home);

// The same, kept in `cache` while the build at `home` stays (null: read
// now); `build`, when given, is the build the caller's database is of.
std::shared_ptr<const SharedTermFiles> sharedTermFiles(const std::string& home,
                                                       vela::IndexDbCache* cache,
                                                       const vela::IndexBuild* build = nullptr);

// The offer weight of a term that `r` of `hits` records and `n` of the
// index's `records` hold: r times the log of the odds that a record holding
// it is a hit against that one is not, as relevance feedback weighs it.
double offerWeight(uint32_t r, uint32_t n, uint32_t hits, uint32_t records);

// A record's length against the average of its index (1: as long as most).
using RecordLength = std::function<double(uint32_t id)>;

// The terms (UTF-8) two or more of the records `ids` share, best first, at
// most `count`; `hits` is set to the number of ids that are records with
// terms. Words that more than half of an index of four records or more
// hold, and those no characteristic term, are left out. A record counts for
// less the longer it is (`length`; none: every record as long as most).
std::vector<std::string> sharedTerms(const SharedTermFiles& files, const std::vector<uint32_t>& ids,
                                     int count, uint32_t& hits, const RecordLength& length = {});

}  // namespace relterm

#endif  // SEARCHRUN_COMPANIONS_ENGINE_RELTERM_SHARED_H
