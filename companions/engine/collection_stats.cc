/// @file collection_stats.cc
/// @brief Listing the indexes of an installation and summing what their
/// engine databases hold.

#include "companions/engine/collection_stats.h"

#include <dirent.h>
#include <errno.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "companions/engine/engine_query.h"
#include "companions/engine/index_db_cache.h"
#include "companions/engine/index_files.h"
#include "system/clock.h"
#include "system/config.h"
#include "system/fsutil.h"

namespace vela {

namespace {

// system_info.cfg is read as the installation's other programs read it.
constexpr size_t kSystemInfoLineMax = 1022;
constexpr size_t kPathMax = 1023;

bool canonical(const std::string& path, std::string& out) {
  return resolvedPath(path, out);
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The names in a directory that are directories themselves (not links),
// hidden ones left out.
std::vector<std::string> subdirectories(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return names;
  while (const dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name.empty() || name[0] == '.') continue;
    struct stat st;
    if (e->d_type == DT_DIR || (e->d_type == DT_UNKNOWN &&
                                lstat((dir + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)))
      names.push_back(name);
  }
  closedir(d);
  return names;
}

// Field indexes hold table cells, the file-list indexes one record per
// document property and the ACL indexes the readers of documents: none of
// them are documents, and counted they would bend every weight.
bool isCompanionIndex(const std::string& name) {
  for (const char* suffix : {"_sbf", "_file", "_ntfs", "_acl"})
    if (endsWith(name, suffix)) return true;
  return false;
}

using Watch = std::function<bool(const std::string&)>;

// Walks below `dir`, which the caller has watched. False when a watch
// failed (the listing is complete all the same).
bool walk(const std::string& dir, bool inIndexFolder, int depth, const Watch& watch,
          std::vector<IndexPart>& out) {
  bool watched = true;
  for (const std::string& name : subdirectories(dir)) {
    const std::string path = dir + "/" + name;
    // Watched before it is looked at: a change after the look is reported.
    if (watch && !watch(path)) watched = false;
    IndexBuild build;
    // A directory with an engine database is an index home (or a field
    // index): nothing below it is another index.
    if (currentBuild(path, build)) {
      if (inIndexFolder && !isCompanionIndex(name)) out.push_back({path, build});
      continue;
    }
    if (depth < kMaxPartDepth && !walk(path, name == "index", depth + 1, watch, out))
      watched = false;
  }
  return watched;
}

// Changes that can alter a listing: entries of a directory made, removed or
// renamed, and the directory itself removed or renamed.
constexpr uint32_t kListingChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                     IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR | IN_DONT_FOLLOW;

}  // namespace

std::vector<IndexPart> findIndexParts(const std::string& systemDir, const Watch& watch,
                                      bool* watched) {
  std::vector<IndexPart> parts;
  const std::string group = systemDir + "/group";
  bool all = !watch || watch(group);
  all = walk(group, false, 1, watch, parts) && all;
  if (watched) *watched = all;
  std::sort(parts.begin(), parts.end(),
            [](const IndexPart& a, const IndexPart& b) { return a.home < b.home; });
  return parts;
}

PartStatsCache::PartStatsCache(size_t maxTerms) : maxTerms_(maxTerms) {}

bool PartStatsCache::read(const IndexPart& part, const std::vector<const std::string*>& missing,
                          Counts& got) {
  try {
    // Opened as a run's index is, so that a switch in the middle of the
    // open gives no counts of two builds.
    const IndexDbCache::Lease lease = IndexDbCache::openOnce(part.home);
    const Xapian::Database& db = lease.db();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++opens_;
    }
    got.docs = db.get_doccount();
    got.length = db.get_total_length();
    got.freq.clear();
    for (const std::string* term : missing)
      got.freq.push_back(term->empty() ? 0 : db.get_termfreq(*term));
  } catch (const Xapian::Error&) {
    return false;
  }
  return true;
}

void PartStatsCache::collect(const std::vector<IndexPart>& parts,
                             const std::vector<std::string>& terms, CollectionStats& out) {
  out = CollectionStats();
  for (const std::string& t : terms)
    out.termFreq.emplace(t, 0);
  // The sums are added to in place: a part's counts are not copied.
  std::vector<std::pair<const std::string*, uint64_t*>> sums;
  for (auto& [term, count] : out.termFreq)
    sums.emplace_back(&term, &count);
  std::vector<size_t> missing;
  std::vector<const std::string*> missingTerms;
  for (const IndexPart& part : parts) {
    bool counted = false;
    uint64_t docs = 0, length = 0;
    missing.clear();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const auto known = parts_.find(part.home);
      const bool valid = known != parts_.end() && known->second.build == part.build;
      if (valid && known->second.counted) {
        counted = true;
        docs = known->second.docs;
        length = known->second.length;
      }
      for (size_t i = 0; i < sums.size(); ++i) {
        const auto f = valid ? known->second.freq.find(*sums[i].first)
                             : std::unordered_map<std::string, uint64_t>::const_iterator();
        if (valid && f != known->second.freq.end()) {
          *sums[i].second += f->second;
        } else {
          missing.push_back(i);
        }
      }
    }
    if (!counted || !missing.empty()) {
      missingTerms.clear();
      for (size_t i : missing)
        missingTerms.push_back(sums[i].first);
      Counts fresh;
      if (!read(part, missingTerms, fresh)) continue;
      docs = fresh.docs;
      length = fresh.length;
      for (size_t k = 0; k < missing.size(); ++k)
        *sums[missing[k]].second += fresh.freq[k];
      // The part may have been replaced while it was read: its numbers then
      // serve this run only.
      IndexBuild now;
      if (currentBuild(part.home, now) && now == part.build) remember(part, missingTerms, fresh);
    }
    out.docCount += docs;
    out.totalLength += length;
  }
}

void PartStatsCache::remember(const IndexPart& part, const std::vector<const std::string*>& terms,
                              const Counts& counts) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (terms_ + terms.size() > maxTerms_) {
    for (auto& entry : parts_)
      entry.second.freq.clear();
    terms_ = 0;
  }
  Known& keep = parts_[part.home];
  if (keep.build != part.build) {
    terms_ -= keep.freq.size();
    keep = Known();
    keep.build = part.build;
  }
  keep.counted = true;
  keep.docs = counts.docs;
  keep.length = counts.length;
  for (size_t k = 0; k < terms.size(); ++k)
    terms_ += keep.freq.emplace(*terms[k], counts.freq[k]).second ? 1 : 0;
}

namespace {
constexpr size_t kMaxOutsiders = 8;
}  // namespace

void PartStatsCache::keepOnly(const std::vector<IndexPart>& parts) {
  std::vector<IndexPart> outsiders;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = parts_.begin(); it != parts_.end();) {
      const auto named = std::find_if(parts.begin(), parts.end(),
                                      [&](const IndexPart& p) { return p.home == it->first; });
      if (named == parts.end()) outsiders.push_back(IndexPart{it->first, it->second.build});
      if (named != parts.end() && named->build != it->second.build) {
        terms_ -= it->second.freq.size();
        it = parts_.erase(it);
      } else {
        ++it;
      }
    }
  }
  // An index outside the listing (the similar-term index, searched between
  // runs over the listed ones) is kept while its build stands: forgetting it
  // whenever another index is searched would read it again on every run.
  // A listed index removed since is gone from its place too. Past a few
  // (companion indexes searched once each), they are all forgotten rather
  // than looked at on every run.
  if (outsiders.size() <= kMaxOutsiders) {
    // Whether they still stand is looked at once a second, not on every
    // run: one kept a moment longer costs only its memory, as every run
    // checks the builds of the parts it counts.
    const long long now = monotonicMs();
    if (now - outsidersCheckedMs_.load() < 1000) return;
    outsidersCheckedMs_ = now;
    const auto standing = [](const IndexPart& p) {
      IndexBuild now;
      return currentBuild(p.home, now) && now == p.build;
    };
    outsiders.erase(std::remove_if(outsiders.begin(), outsiders.end(), standing), outsiders.end());
  }
  if (outsiders.empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  for (const IndexPart& gone : outsiders) {
    const auto at = parts_.find(gone.home);
    if (at == parts_.end() || at->second.build != gone.build) continue;
    terms_ -= at->second.freq.size();
    parts_.erase(at);
  }
}

PartStatsCache::~PartStatsCache() {
  if (watchFd_ >= 0) close(watchFd_);
}

std::vector<IndexPart> PartStatsCache::listParts(const std::string& systemDir) {
  std::lock_guard<std::mutex> lock(listingMutex_);
  if (watchFd_ >= 0 && listedDir_ == systemDir) {
    // Any report at all, or none to be had, and the listing is made anew.
    char reports[4096];
    const ssize_t n = ::read(watchFd_, reports, sizeof reports);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return listed_;
  }
  if (watchFd_ >= 0) close(watchFd_);
  watchFd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  const int fd = watchFd_;
  bool watched = false;
  listed_ = fd < 0 ? findIndexParts(systemDir)
                   : findIndexParts(
                         systemDir,
                         [fd](const std::string& dir) {
                           return inotify_add_watch(fd, dir.c_str(), kListingChanges) >= 0;
                         },
                         &watched);
  ++listings_;
  listedDir_ = systemDir;
  if (!watched && watchFd_ >= 0) {
    close(watchFd_);
    watchFd_ = -1;
  }
  return listed_;
}

uint64_t PartStatsCache::listings() const {
  std::lock_guard<std::mutex> lock(listingMutex_);
  return listings_;
}

uint64_t PartStatsCache::opens() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return opens_;
}

void installationStats(const std::string& systemDir, const std::string& home,
                       const std::vector<std::string>& terms, PartStatsCache* cache,
                       CollectionStats& out, bool homeResolved, const IndexBuild* homeBuild) {
  std::vector<IndexPart> parts;
  if (!systemDir.empty()) parts = cache ? cache->listParts(systemDir) : findIndexParts(systemDir);
  IndexPart own;
  if (homeResolved) own.home = home;
  // A listed part carries its build already: only a home outside the
  // listing is looked at.
  if ((homeResolved || canonical(home, own.home)) &&
      std::none_of(parts.begin(), parts.end(),
                   [&](const IndexPart& p) { return p.home == own.home; })) {
    if (homeResolved && homeBuild && homeBuild->homeIno != 0) {
      own.build = *homeBuild;
      parts.push_back(own);
    } else if (currentBuild(own.home, own.build)) {
      parts.push_back(own);
    }
  }
  if (!cache) {
    PartStatsCache once(SIZE_MAX);
    once.collect(parts, terms, out);
    return;
  }
  cache->collect(parts, terms, out);
  cache->keepOnly(parts);
}

bool configuredSystemDirectory(const std::string& root, std::string& path) {
  const std::string cfg = root + "/setting/system_info.cfg";
  if (!findCfgValue(cfg.c_str(), "SYSTEM_DIRECTORY", kSystemInfoLineMax, path) || path.empty())
    return false;
  if (path.size() > kPathMax) path.resize(kPathMax);
  if (path[0] != '/') path = root + "/search-cgi/" + path;
  return true;
}

bool systemDirectoryOf(const std::string& root, std::string& dir) {
  std::string value;
  return configuredSystemDirectory(root, value) && canonical(value, dir);
}

}  // namespace vela
