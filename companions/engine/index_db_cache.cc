/// @file index_db_cache.cc
/// @brief Reuse of open engine databases while their build stays in place.

#include "companions/engine/index_db_cache.h"

#include <sys/stat.h>

#include <exception>
#include <iterator>
#include <utility>

#include "companions/engine/engine_query.h"
#include "companions/engine/index_files.h"
#include "companions/engine/suggest_keys.h"

namespace vela {

bool currentBuild(const std::string& home, IndexBuild& build) {
  struct stat h, d;
  if (stat(home.c_str(), &h) != 0 || stat((home + "/" + kEngineDbDir).c_str(), &d) != 0)
    return false;
  build = IndexBuild{h.st_dev, h.st_ino, d.st_dev, d.st_ino};
  return true;
}

IndexDbCache::IndexDbCache(size_t maxIdle) : maxIdle_(maxIdle) {}

IndexDbCache::Lease::Lease(IndexDbCache* cache, std::string home, const IndexBuild& build,
                           Xapian::Database db, bool reusable)
    : cache_(cache),
      home_(std::move(home)),
      build_(build),
      db_(std::move(db)),
      reusable_(reusable) {}

IndexDbCache::Lease::Lease(Lease&& other) noexcept
    : cache_(other.cache_),
      home_(std::move(other.home_)),
      build_(other.build_),
      db_(std::move(other.db_)),
      reusable_(other.reusable_),
      keys_(std::move(other.keys_)),
      keysLoaded_(other.keysLoaded_),
      groups_(std::move(other.groups_)),
      groupsLoaded_(other.groupsLoaded_) {
  other.cache_ = nullptr;
  other.db_.reset();
}

IndexDbCache::Lease::~Lease() {
  if (cache_ != nullptr && db_) cache_->giveBack(*this);
}

const SuggestKeys* IndexDbCache::Lease::suggestKeys() const {
  // Loading the keys costs more than one pass over the words: only a
  // database kept for later runs has them, kept with its build.
  if (!keysLoaded_ && db_ && cache_ != nullptr) {
    const Xapian::Database& db = *db_;
    keys_ = std::static_pointer_cast<const SuggestKeys>(cache_->derived(
        home_, kSuggestKeysFile,
        [&] { return std::shared_ptr<const void>(loadSuggestKeys(home_, db)); }, build_));
    keysLoaded_ = true;
  }
  return keys_.get();
}

namespace {

// The copy groups of `home` when they are one per record of `db`.
std::shared_ptr<const std::vector<uint32_t>> loadCopyGroups(const std::string& home,
                                                            const Xapian::Database& db) {
  auto groups = std::make_shared<std::vector<uint32_t>>();
  if (!readUInt32File(home + "/" + kContentCopiesFile, *groups) ||
      groups->size() != db.get_lastdocid())
    return nullptr;
  return groups;
}

}  // namespace

const std::vector<uint32_t>* IndexDbCache::Lease::copyGroups() const {
  if (!groupsLoaded_ && db_) {
    const Xapian::Database& db = *db_;
    if (cache_ == nullptr) {
      groups_ = loadCopyGroups(home_, db);
    } else {
      groups_ = std::static_pointer_cast<const std::vector<uint32_t>>(cache_->derived(
          home_, kContentCopiesFile,
          [&] { return std::shared_ptr<const void>(loadCopyGroups(home_, db)); }, build_));
    }
    groupsLoaded_ = true;
  }
  return groups_.get();
}

namespace {

constexpr int kOpenAttempts = 3;

struct SettledOpen {
  Xapian::Database db;
  bool settled;  // `before` stood at the home through the open
};

// Opens the database at `home`, where `before` stood just now. The engine
// opens its files one by one, by name: a build switched in meanwhile gives
// tables of two builds, or fails the open when the old build's files are
// removed under it. So the open is made again, on the build now in place,
// until one build stood through it; a failure while the build stood still
// is the index's own and stands. `before` becomes the build opened.
SettledOpen openSettled(const std::string& home, IndexBuild& before,
                        const std::function<void()>& counted) {
  for (int attempt = 1;; ++attempt) {
    std::optional<Xapian::Database> db;
    std::exception_ptr failure;
    try {
      db.emplace(openIndexDb(home));
      counted();
    } catch (const Xapian::DatabaseError&) {
      failure = std::current_exception();
    }
    IndexBuild after;
    const bool settled = currentBuild(home, after) && after == before;
    if (settled || attempt == kOpenAttempts) {
      if (failure) std::rethrow_exception(failure);
      return SettledOpen{std::move(*db), settled};
    }
    before = after;
  }
}

}  // namespace

IndexDbCache::Lease IndexDbCache::openOnce(const std::string& home) {
  IndexBuild before;
  // A home that is not there: the open says why.
  if (!currentBuild(home, before)) return Lease(nullptr, home, before, openIndexDb(home), false);
  SettledOpen opened = openSettled(home, before, [] {});
  return Lease(nullptr, home, before, std::move(opened.db), false);
}

IndexDbCache::Lease IndexDbCache::acquire(const std::string& home) {
  IndexBuild before;
  // A home that is not there: the open says why, as it does without a cache.
  if (!currentBuild(home, before)) return openOnce(home);
  std::list<Idle> closing;  // closed after the lock is released
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = idle_.begin(); it != idle_.end();) {
      if (it->home != home) {
        ++it;
      } else if (it->build == before) {
        Lease lease(this, home, before, it->db, true);
        idle_.erase(it);
        return lease;
      } else {
        closing.splice(closing.end(), idle_, it++);
      }
    }
  }
  SettledOpen opened = openSettled(home, before, [this] {
    std::lock_guard<std::mutex> lock(mutex_);
    ++opens_;
  });
  // Builds switched under every attempt: serve this run, keep nothing, so
  // that no database is filed under a build it may not be.
  return Lease(this, home, before, std::move(opened.db), opened.settled);
}

void IndexDbCache::giveBack(Lease& lease) {
  Xapian::Database db = *lease.db_;
  lease.db_.reset();
  if (!lease.reusable_ || maxIdle_ == 0) return;
  std::list<Idle> closing;
  std::lock_guard<std::mutex> lock(mutex_);
  idle_.push_front(Idle{lease.home_, lease.build_, std::move(db)});
  while (idle_.size() > maxIdle_)
    closing.splice(closing.begin(), idle_, std::prev(idle_.end()));
}

std::shared_ptr<const void> IndexDbCache::derived(
    const std::string& home, const std::string& kind,
    const std::function<std::shared_ptr<const void>()>& make) {
  IndexBuild before;
  if (maxIdle_ == 0 || !currentBuild(home, before)) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++derivations_;
    return make();
  }
  return derived(home, kind, make, before);
}

std::shared_ptr<const void> IndexDbCache::derived(
    const std::string& home, const std::string& kind,
    const std::function<std::shared_ptr<const void>()>& make, const IndexBuild& before) {
  if (maxIdle_ == 0) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++derivations_;
    return make();
  }
  std::list<Derived> dropping;  // freed after the lock is released
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = derived_.begin(); it != derived_.end(); ++it) {
      if (it->home != home || it->kind != kind) continue;
      if (it->build == before) {
        derived_.splice(derived_.begin(), derived_, it);
        return derived_.front().data;
      }
      dropping.splice(dropping.end(), derived_, it);
      break;
    }
    ++derivations_;
  }
  std::shared_ptr<const void> data = make();
  // As for a database: what was read during a switch is not filed under
  // either build.
  IndexBuild after;
  if (!currentBuild(home, after) || after != before) return data;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto it = derived_.begin(); it != derived_.end(); ++it)
    if (it->home == home && it->kind == kind) {
      dropping.splice(dropping.end(), derived_, it);
      break;
    }
  derived_.push_front(Derived{home, kind, before, data});
  size_t sameKind = 0;
  for (auto it = derived_.begin(); it != derived_.end();) {
    if (it->kind == kind && ++sameKind > maxIdle_) {
      dropping.splice(dropping.end(), derived_, it++);
    } else {
      ++it;
    }
  }
  return data;
}

uint64_t IndexDbCache::derivedCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return derivations_;
}

namespace {

// Moves the entries of `from` whose home holds another build by now (or is
// gone) to `to`.
template <class Entry>
void takeReplaced(std::list<Entry>& from, std::list<Entry>& to) {
  for (auto it = from.begin(); it != from.end();) {
    IndexBuild now;
    if (currentBuild(it->home, now) && now == it->build) {
      ++it;
    } else {
      to.splice(to.end(), from, it++);
    }
  }
}

}  // namespace

void IndexDbCache::dropReplaced() {
  std::list<Idle> closing;
  std::list<Derived> dropping;
  std::lock_guard<std::mutex> lock(mutex_);
  takeReplaced(derived_, dropping);
  takeReplaced(idle_, closing);
}

size_t IndexDbCache::idleCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return idle_.size();
}

uint64_t IndexDbCache::openCount() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return opens_;
}

IndexDbCache::Lease leaseIndexDb(IndexDbCache* cache, const std::string& home) {
  return cache ? cache->acquire(home) : IndexDbCache::openOnce(home);
}

}  // namespace vela
