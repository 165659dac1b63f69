/// @file scratch_reuse.cc
/// @brief Scratch files handed on to later searches instead of removed.

#include "system/scratch_reuse.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <random>
#include <unordered_map>

#include "system/tmpfile.h"

namespace {

// Slots tried per claim and per release: with the slots about half full,
// four tries find one nearly always, and a miss costs one failed rename.
constexpr int kProbes = 4;

struct Claim {
  int pending = 0;        // requests sent and not (yet) answered
  bool answered = false;  // at least one was
};

std::mutex g_mutex;
std::unordered_map<std::string, Claim>& claims() {
  static std::unordered_map<std::string, Claim> map;
  return map;
}

// Which slot to try: no secret (the name a file is claimed under is), only
// spread, so that runs side by side seldom reach for the same one.
int randomSlot() {
  static thread_local std::minstd_rand pick([] {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<unsigned>(getpid()) * 2654435761u ^ static_cast<unsigned>(now.tv_nsec);
  }());
  return static_cast<int>(pick() % kSpareSlots);
}

std::string slotPath(const std::string& dir, int slot) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%03d", kSparePrefix, slot);
  return dir + "/" + name;
}

// A regular file of this account, of one name and the scratch mode: what a
// claim creates.
bool isOurScratch(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_nlink == 1 && st.st_uid == geteuid() &&
         (st.st_mode & 07777) == kTempFileMode;
}

void adjust(const std::vector<std::string>& words, bool answered) {
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const std::string& word : words) {
    const auto found = claims().find(word);
    if (found == claims().end()) continue;
    if (!answered) {
      ++found->second.pending;
    } else if (found->second.pending > 0) {
      --found->second.pending;
      found->second.answered = true;
    }
  }
}

}  // namespace

bool takeSpareScratch(const std::string& dir, const std::string& name, UniqueFd& fd) {
  for (int i = 0; i < kProbes; ++i) {
    const std::string slot = slotPath(dir, randomSlot());
    if (renameat2(AT_FDCWD, slot.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) != 0) continue;
    UniqueFd taken(open(name.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    if (taken && fstat(taken.get(), &st) == 0 && isOurScratch(st) && st.st_size == 0) {
      fd = std::move(taken);
      return true;
    }
    unlink(name.c_str());
  }
  return false;
}

void noteScratchClaimed(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  claims()[path] = Claim();
}

void noteScratchSent(const std::vector<std::string>& words) {
  adjust(words, false);
}

void noteScratchAnswered(const std::vector<std::string>& words) {
  adjust(words, true);
}

void releaseScratchFile(const std::string& path) {
  if (path.empty()) return;
  bool keep = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto found = claims().find(path);
    if (found != claims().end()) {
      keep = found->second.answered && found->second.pending == 0;
      claims().erase(found);
    }
  }
  if (keep) {
    // Emptied through a descriptor of the very file, before it gets a name
    // another run may take.
    UniqueFd fd(open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat st;
    keep = fd && fstat(fd.get(), &st) == 0 && isOurScratch(st) &&
           (st.st_size == 0 || ftruncate(fd.get(), 0) == 0);
  }
  if (keep) {
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash);
    for (int i = 0; i < kProbes; ++i) {
      if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, slotPath(dir, randomSlot()).c_str(),
                    RENAME_NOREPLACE) == 0)
        return;
    }
  }
  unlink(path.c_str());
}
