/// @file index_db_cache.h
/// @brief Engine databases kept open between the runs of the engine service,
/// so that a search does not pay for opening its index again, and never
/// searches a build of the index that has been replaced.
///
/// The index builder switches a new build in by renaming its staging
/// directory over the index home, so a new build is a new directory: a
/// database is taken again only while the home and its database directory
/// are still the ones it was opened from. A database is used by one run at a
/// time (the engine library is not safe for concurrent use of one handle);
/// runs of the same index at the same time each get their own.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_INDEX_DB_CACHE_H
#define SEARCHRUN_COMPANIONS_ENGINE_INDEX_DB_CACHE_H

#include <sys/types.h>
#include <xapian.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vela {

class SuggestKeys;

// Which build of an index stands at its home.
struct IndexBuild {
  dev_t homeDev = 0;
  ino_t homeIno = 0;
  dev_t dbDev = 0;
  ino_t dbIno = 0;
  bool operator==(const IndexBuild& o) const {
    return homeDev == o.homeDev && homeIno == o.homeIno && dbDev == o.dbDev && dbIno == o.dbIno;
  }
  bool operator!=(const IndexBuild& o) const { return !(*this == o); }
};

// The build now at `home`; false when the home or its database directory
// cannot be looked at.
bool currentBuild(const std::string& home, IndexBuild& build);

class IndexDbCache {
 public:
  // At most `maxIdle` databases stay open between runs (0: none); the least
  // recently used go first.
  explicit IndexDbCache(size_t maxIdle);
  IndexDbCache(const IndexDbCache&) = delete;
  IndexDbCache& operator=(const IndexDbCache&) = delete;

  // A database held by one run; given back to its cache when the lease ends.
  class Lease {
   public:
    Lease(Lease&& other) noexcept;
    Lease& operator=(Lease&&) = delete;
    Lease(const Lease&) = delete;
    ~Lease();
    const Xapian::Database& db() const { return *db_; }
    // The build the database is of.
    const IndexBuild& build() const { return build_; }
    // The look-alike keys of the database, null when it has none that fit
    // it or is opened for one run only; loaded on the first call and kept
    // with its build (derived).
    const SuggestKeys* suggestKeys() const;
    // The copy groups of the database's records (kContentCopiesFile), null
    // when the build has none that fit it; kept with its build (derived),
    // or read for the lease of a run without a cache.
    const std::vector<uint32_t>* copyGroups() const;

   private:
    friend class IndexDbCache;
    Lease(IndexDbCache* cache, std::string home, const IndexBuild& build, Xapian::Database db,
          bool reusable);
    IndexDbCache* cache_;
    std::string home_;
    IndexBuild build_;
    std::optional<Xapian::Database> db_;
    bool reusable_;
    mutable std::shared_ptr<const SuggestKeys> keys_;
    mutable bool keysLoaded_ = false;
    mutable std::shared_ptr<const std::vector<uint32_t>> groups_;
    mutable bool groupsLoaded_ = false;
  };

  // The database of the build now at `home`: an idle one of that build, or
  // one opened now (idle ones of earlier builds are closed). Throws what
  // openIndexDb throws.
  Lease acquire(const std::string& home);
  // A database opened for one run and closed after it, for a run without a
  // cache.
  static Lease openOnce(const std::string& home);

  // Closes the idle databases whose home holds another build by now (or is
  // gone), so a replaced build's files do not stay open.
  void dropReplaced();

  // What runs derive from the files of the build now at `home` (a decoded
  // dictionary, say), kept under `kind` while that build stays in place:
  // `make` runs (outside the lock) when none is kept for this build, and
  // what it gives, null included, is kept. At most maxIdle of each kind
  // stay, the least recently used go first; with maxIdle 0 or a home that
  // cannot be looked at, `make` runs every time.
  std::shared_ptr<const void> derived(const std::string& home, const std::string& kind,
                                      const std::function<std::shared_ptr<const void>()>& make);
  // The same for a run that holds `build` (a lease's): what is kept for that
  // build serves without looking at the home again.
  std::shared_ptr<const void> derived(const std::string& home, const std::string& kind,
                                      const std::function<std::shared_ptr<const void>()>& make,
                                      const IndexBuild& build);
  // Times `make` ran.
  uint64_t derivedCount() const;

  size_t idleCount() const;
  // Databases opened so far.
  uint64_t openCount() const;

 private:
  struct Idle {
    std::string home;
    IndexBuild build;
    Xapian::Database db;
  };
  void giveBack(Lease& lease);
  struct Derived {
    std::string home;
    std::string kind;
    IndexBuild build;
    std::shared_ptr<const void> data;
  };

  const size_t maxIdle_;
  mutable std::mutex mutex_;
  std::list<Idle> idle_;  // the most recently used first
  uint64_t opens_ = 0;
  std::list<Derived> derived_;  // the most recently used first
  uint64_t derivations_ = 0;
};

// The database of `home` for one run: from `cache`, or opened once when it
// is null.
IndexDbCache::Lease leaseIndexDb(IndexDbCache* cache, const std::string& home);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_ENGINE_INDEX_DB_CACHE_H
