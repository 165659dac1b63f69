/// @file index_staging.cc
/// @brief Where the index builder works before an index is in place: the
/// owner's folders, the lock of an index, staging directories and reserved
/// ids (and sweeping those of builders that are gone), and the switch of a
/// staged index into place.

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <vector>

#include "companions/builder/index_builder.h"
#include "companions/builder/index_builder_parts.h"
#include "system/address.h"
#include "system/clock.h"
#include "system/index_format.h"
#include "system/index_id.h"
#include "system/layout.h"
#include "system/recorded_path.h"
#include "system/secure_file.h"

namespace vela {

namespace fs = std::filesystem;

namespace {

// The lock file is the builder's alone.
constexpr mode_t kLockMode = 0600;
// What a reserved id file holds until the index is switched in: shorter than
// a record, so that no reader takes it for an index.
constexpr const char* kReservationTag = "index_builder ";

}  // namespace

IndexLock::IndexLock(const std::string& path) : fd_(createExclusive(path, kLockMode)) {
  if (!fd_ && errno == EEXIST) fd_ = openRegularFile(path);
  locked_ = fd_ && flock(fd_.get(), LOCK_EX | LOCK_NB) == 0;
}

// The staging directory of one part ("org", "inc", "sbf" or "isbf") of the
// index in `home`, beside it: ".<id>.<part>.new<pid>". The pid tells later
// runs whether the builder that made it still runs (sweepStaleStaging).
std::string stagingDir(const std::string& home, const char* part) {
  fs::path h(home);
  return (h.parent_path() /
          ("." + h.filename().string() + "." + part + ".new" + std::to_string(getpid())))
      .string();
}

namespace {

bool processGone(long pid) {
  return pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

// The pid of a name ending in "<prefix><digits>", or -1.
long trailingPid(const std::string& name, const std::string& prefix) {
  const size_t at = name.rfind(prefix);
  if (at == std::string::npos) return -1;
  const std::string digits = name.substr(at + prefix.size());
  if (digits.empty() || digits.size() > 9 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  return std::stol(digits);
}

// Removes, from an owner's index folder, the staging directories that no
// running builder will switch in: those of `ownId` (whose lock this run
// holds) and those whose builder is gone. Also the ".old" directories of an
// interrupted switch, and the ".<name>.new<pid>" directories of builders
// before this naming.
void sweepStaleStaging(const std::string& indexDir, const std::string& ownId) {
  std::error_code ec;
  std::vector<fs::path> stale;
  for (fs::directory_iterator it(indexDir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.size() < 2 || name[0] != '.') continue;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".old") == 0)
      name.resize(name.size() - 4);
    const long pid = trailingPid(name, ".new");
    if (pid <= 0) continue;
    const std::string head = name.substr(1, name.rfind(".new") - 1);
    const size_t dot = head.find('.');
    const std::string part = dot == std::string::npos ? "" : head.substr(dot + 1);
    if (dot != std::string::npos && part != "org" && part != "inc" && part != "sbf" &&
        part != "isbf")
      continue;
    const bool ours = dot != std::string::npos && head.substr(0, dot) == ownId;
    if ((ours && pid != getpid()) || processGone(pid)) stale.push_back(it->path());
  }
  for (const fs::path& p : stale)
    fs::remove_all(p, ec);  // links are removed, never followed
}

std::string lockPath(const std::string& home) {
  fs::path h(home);
  return (h.parent_path() / ("." + h.filename().string() + ".lock")).string();
}

}  // namespace

std::string incHome(const std::string& home) {
  return incPartOf(home);
}

std::string systemHome() {
  const char* h = systemGetSystemHome();
  return h ? h : "";
}

// Makes the directories of `rel` below the existing directory `base` that are
// missing (with kIndexDirMode), and checks that none of them, nor `base`, can
// be written by every account: whoever could would choose what the index
// holds and what is removed in it.
bool makeOwnedDirs(const std::string& base, const std::string& rel, std::string& error) {
  std::string path = base;
  size_t pos = 0;
  for (;;) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      error = "cannot create " + path;
      return false;
    }
    if (st.st_mode & S_IWOTH) {
      error = path + " is writable by every account: take that right away (chmod o-w)";
      return false;
    }
    while (pos < rel.size() && rel[pos] == '/')
      ++pos;
    if (pos >= rel.size()) return true;
    size_t end = rel.find('/', pos);
    if (end == std::string::npos) end = rel.size();
    path += "/" + rel.substr(pos, end - pos);
    pos = end;
    if (mkdir(path.c_str(), kIndexDirMode) != 0 && errno != EEXIST) {
      error = "cannot create " + path + ": " + std::strerror(errno);
      return false;
    }
  }
}

// The owner's index folder, made when missing; "" with a message when the
// system directory is missing or a folder on the way is unsafe.
std::string prepareIndexDir(const std::string& owner, std::string& error) {
  const std::string sys = systemHome();
  std::error_code ec;
  if (sys.empty() || !fs::is_directory(sys, ec)) {
    error = "the system directory (SYSTEM_DIRECTORY of ../setting/system_info.cfg) is missing";
    return "";
  }
  const std::string dir = systemGetOwnerHome(owner.c_str()) + "/index";
  if (dir.compare(0, sys.size(), sys) != 0 || !makeOwnedDirs(sys, dir.substr(sys.size()), error))
    return "";
  return dir;
}

// Switches in a new org and inc pair: org first, since an update run
// afterwards repairs an inc index left from before.
bool switchPair(const std::string& org, const std::string& home, const std::string& inc,
                std::string& error) {
  std::error_code ec;
  if (!switchDirectory(org, home, error)) {
    fs::remove_all(org, ec);
    fs::remove_all(inc, ec);
    return false;
  }
  if (!switchDirectory(inc, incHome(home), error)) {
    fs::remove_all(inc, ec);
    return false;
  }
  return true;
}

// Takes the builder's lock of the index in `home` and clears what earlier
// runs left behind; null with a message when another builder holds it.
std::unique_ptr<IndexLock> lockIndex(const std::string& home, const std::string& id,
                                     std::string& error) {
  auto lock = std::make_unique<IndexLock>(lockPath(home));
  if (lock->locked()) {
    sweepStaleStaging(fs::path(home).parent_path().string(), id);
    return lock;
  }
  error = lock->opened() ? "another builder is working on index " + id
                         : "cannot open the lock file " + lockPath(home) +
                               " (it must be a regular file, not a link)";
  return nullptr;
}

// Finds an existing index by its id file and locks it; null with a message
// when either fails. A database index is found only when `type` is given
// (it receives the index's type).
std::unique_ptr<IndexLock> lockExisting(const std::string& id, std::string& owner,
                                        std::string& home, std::string& error, std::string* type) {
  IndexIdFileMgr mgr;
  if (!mgr.readIndexIdInfo(id.c_str())) {
    error = "unknown index id " + id;
    return nullptr;
  }
  if (type) *type = mgr.getIndexType();
  if (std::string(mgr.getIndexType()) != "doc" && !(type && *type == "db")) {
    error = "index " + id + " is of type " + mgr.getIndexType() + ": build it again with create";
    return nullptr;
  }
  owner = mgr.getIndexOwner();
  if (!isSafeOwnerName(owner)) {
    error = "index " + id + " names the owner " + encodeRecordedPath(owner) +
            ", which is no safe owner name";
    return nullptr;
  }
  if (prepareIndexDir(owner, error).empty()) return nullptr;
  home = systemGetIndexHome(owner.c_str(), id.c_str());
  return lockIndex(home, id, error);
}

// Removes the reservations (id files shorter than a record) of builders
// that are gone: their ids were never switched in.
void sweepStaleReservations() {
  const std::string ref = systemHome() + "/ref";
  std::error_code ec;
  std::vector<std::string> stale;
  for (fs::directory_iterator it(ref, ec), end; !ec && it != end; it.increment(ec)) {
    std::string bytes;
    const std::string path = it->path().string();
    if (it->path().extension() != ".id" || !readRegularFile(path, bytes, 64)) continue;
    if (bytes.compare(0, std::strlen(kReservationTag), kReservationTag) != 0) continue;
    if (!bytes.empty() && bytes.back() == '\n') bytes.pop_back();
    if (processGone(trailingPid(bytes, kReservationTag))) stale.push_back(path);
  }
  for (const std::string& path : stale)
    unlink(path.c_str());
}

// Claims a new id made from the clock (as IndexIdFileMgr does) by creating
// its id file exclusively with a note of this builder instead of a record:
// the id is taken, yet no reader selects the index before the finished one
// is switched in and its record written.
bool reserveIndexId(std::string& id, std::string& error) {
  const std::string ref = systemHome() + "/ref";
  if (mkdir(ref.c_str(), kIndexDirMode) != 0 && errno != EEXIST) {
    error = "cannot create " + ref;
    return false;
  }
  const std::string note = kReservationTag + std::to_string(getpid()) + "\n";
  for (int attempt = 0; attempt < 60; ++attempt) {
    if (attempt > 0) systemSleepSeconds(1);  // the next second gives the next id
    id = makeIndexIdForTime(systemTimeOfDay().tv_sec);
    UniqueFd fd = createExclusive(IndexIdFileMgr::idFilePath(id.c_str()), kIndexFileMode);
    if (fd) {
      if (writeAll(fd.get(), note) && close(fd.release()) == 0) return true;
      unlink(IndexIdFileMgr::idFilePath(id.c_str()).c_str());
      break;
    }
    if (errno != EEXIST) break;
  }
  error = "cannot create an index id file in " + ref;
  return false;
}

bool switchDirectory(const std::string& staged, const std::string& target, std::string& error) {
  std::error_code ec;
  if (!fs::exists(target, ec)) {
    if (std::rename(staged.c_str(), target.c_str()) == 0) return true;
    error = "cannot move " + staged + " to " + target;
    return false;
  }
  if (renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0) {
    fs::remove_all(staged, ec);  // now the old index
    return true;
  }
  // No atomic exchange on this file system: two renames.
  std::string old = staged + ".old";
  if (std::rename(target.c_str(), old.c_str()) != 0) {
    error = "cannot move " + target + " aside";
    return false;
  }
  if (std::rename(staged.c_str(), target.c_str()) != 0) {
    std::rename(old.c_str(), target.c_str());
    error = "cannot move " + staged + " to " + target;
    return false;
  }
  fs::remove_all(old, ec);
  return true;
}

}  // namespace vela
