/// @file collection_stats.h
/// @brief The statistics that the engine weighs terms with, taken over every
/// index of the installation rather than the one index a run searches.
///
/// The query back-end searches each selected index in its own run and merges
/// the hits by score. Were each run to weigh a term by its own index, a word
/// that fills a small index would weigh next to nothing there (it is in every
/// record), and the records that are most about it would sink below records
/// of other indexes that mention it once; and a record's score would change
/// with the indexes searched beside it. Statistics of the whole installation
/// give every record one score for a query, whatever the selection.
///
/// The indexes of an installation are its parts below the system directory:
/// every directory in a folder named "index" under SYSTEM/group (an owner's
/// or a group's indexes; org and inc indexes alike) that holds an engine
/// database, except hidden ones (staging of the builder) and field indexes
/// ("_sbf", whose records are table cells, not documents) and the other
/// companions whose records are no documents: file-list indexes ("_file",
/// document properties) and ACL indexes ("_ntfs", "_acl"). They are listed
/// anew for every run, so an index built, updated or rebuilt counts from the
/// next run on (the engine service keeps its listing while the kernel
/// reports no change to any directory it was made from). What a part holds is
/// read from its engine database; a cache
/// keeps it for as long as the part's build stays in place (a new build is a
/// new directory: index_db_cache.h), so the engine service reads a part again
/// only once it has changed, and a program without the service reads the
/// same numbers by opening every part.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_COLLECTION_STATS_H
#define SEARCHRUN_COMPANIONS_ENGINE_COLLECTION_STATS_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include "companions/engine/index_db_cache.h"

namespace vela {

// The numbers a weight needs, summed over the parts of an installation.
struct CollectionStats {
  uint64_t docCount = 0;                     // records
  uint64_t totalLength = 0;                  // index terms of all records, each occurrence counted
  std::map<std::string, uint64_t> termFreq;  // records holding each term asked for
};

// One index directory of an installation as it stands now.
struct IndexPart {
  std::string home;  // without links
  IndexBuild build;
};

// How deep below SYSTEM/group the parts are looked for: an owner's indexes
// lie at <domain>/User/<owner>/index/<id>.
constexpr int kMaxPartDepth = 6;

// The parts of the installation whose system directory (without links) is
// `systemDir`, ordered by home. Links are not followed. `watch`, when given,
// is called with each directory the listing looks at (SYSTEM/group and every
// directory below it that it reads or checks for a database) before it does;
// its false means no listing can be kept, which the caller learns from
// `watched`.
std::vector<IndexPart> findIndexParts(const std::string& systemDir,
                                      const std::function<bool(const std::string&)>& watch = {},
                                      bool* watched = nullptr);

// What parts hold, kept while their builds stay in place. Safe for
// concurrent use.
class PartStatsCache {
 public:
  // Term counts remembered over all parts (each costs about a hundred
  // bytes); once more would be needed, every part forgets its terms and the
  // cache starts again.
  explicit PartStatsCache(size_t maxTerms = kDefaultMaxTerms);

  // The sums over `parts` for `terms`. A part that cannot be read (removed
  // since it was listed) adds nothing.
  void collect(const std::vector<IndexPart>& parts, const std::vector<std::string>& terms,
               CollectionStats& out);

  // Forgets parts replaced by another build than the one in `parts`, and
  // those `parts` does not name whose build no longer stands at their home
  // (indexes removed or replaced).
  void keepOnly(const std::vector<IndexPart>& parts);

  // findIndexParts(systemDir), listed again only once a directory it was
  // made from has changed (an entry made, removed or renamed in it, or the
  // directory itself removed or renamed), as the kernel reports; every run
  // where such reports cannot be had lists anew.
  std::vector<IndexPart> listParts(const std::string& systemDir);
  // Listings made so far, for tests of the reuse.
  uint64_t listings() const;

  PartStatsCache(const PartStatsCache&) = delete;
  PartStatsCache& operator=(const PartStatsCache&) = delete;
  ~PartStatsCache();

  // Engine databases opened so far, for tests of the reuse.
  uint64_t opens() const;

  static constexpr size_t kDefaultMaxTerms = 500000;

 private:
  struct Known {
    IndexBuild build;
    bool counted = false;  // docs and length read
    uint64_t docs = 0;
    uint64_t length = 0;
    std::unordered_map<std::string, uint64_t> freq;
  };
  struct Counts {
    uint64_t docs = 0;
    uint64_t length = 0;
    std::vector<uint64_t> freq;  // of the terms read, in their order
  };
  // Reads a part's counts and the frequencies of `terms` in it, without the
  // lock; false when the part cannot be read.
  bool read(const IndexPart& part, const std::vector<const std::string*>& terms, Counts& got);
  // Keeps what was read of a part whose build is still in place.
  void remember(const IndexPart& part, const std::vector<const std::string*>& terms,
                const Counts& counts);

  const size_t maxTerms_;
  mutable std::mutex mutex_;
  std::map<std::string, Known> parts_;
  size_t terms_ = 0;  // remembered over all parts
  uint64_t opens_ = 0;

  // The listing kept and the change reports of the directories it was made
  // from (-1: none kept).
  mutable std::mutex listingMutex_;
  int watchFd_ = -1;
  std::string listedDir_;
  std::vector<IndexPart> listed_;
  uint64_t listings_ = 0;
  // When the parts kept from outside the listing were last looked at.
  std::atomic<long long> outsidersCheckedMs_{0};
};

// The statistics of one run over index `home`: the parts of the installation
// whose system directory is `systemDir` ("" when it has none), together with
// `home` itself when it is not one of them. `cache` may be null (the
// numbers are read now). `homeResolved`: `home` is already without links
// (a path the service admitted), so it is not resolved again. `homeBuild`:
// the build of `home` the run searches, so that a home outside the listing
// is counted as that build and not looked at again.
void installationStats(const std::string& systemDir, const std::string& home,
                       const std::vector<std::string>& terms, PartStatsCache* cache,
                       CollectionStats& out, bool homeResolved = false,
                       const IndexBuild* homeBuild = nullptr);

// The system directory (without links) named by ROOT/setting/system_info.cfg
// of the installation at `root` (a relative setting is relative to its CGI
// directory); false when it is not set or not there.
bool systemDirectoryOf(const std::string& root, std::string& dir);
// The system directory as ROOT/setting/system_info.cfg names it (made
// absolute, links left in); false when it is not set.
bool configuredSystemDirectory(const std::string& root, std::string& path);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_COLLECTION_STATS_H
