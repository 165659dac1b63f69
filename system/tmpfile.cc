/// @file tmpfile.cc
/// @brief Fresh names for scratch and result files.

#include "system/tmpfile.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>

#include "system/clock.h"
#include "system/fsutil.h"
#include "system/numbers.h"
#include "system/secure_file.h"

namespace {

constexpr int kTries = 10;
// How long a counted figure of the results directory stands, grown by what
// each run adds: long enough that a site with a search every few seconds
// seldom counts, short enough that what no run added (results removed by
// expiry, a figure lost to two runs adding at once) is soon set right.
constexpr long long kUsageTrustSeconds = 300;
// How long it stands once less than half the limit is free. Runs add what
// they keep, so it can only be too high (by what expiry removed since); a
// recount of a near-full directory costs a status call for each of its tens
// of thousands of results, and must not fall on every run of a busy site.
constexpr long long kNearLimitTrustSeconds = 2;

// The figure as kept: bytes and the second they were counted, each of a
// fixed width, so that a run adds to it in place without a new file.
struct Usage {
  long long bytes = 0;
  long long countedAt = 0;
};

std::string usageText(const Usage& usage) {
  char text[64];
  std::snprintf(text, sizeof text, "%019lld %019lld\n", usage.bytes, usage.countedAt);
  return text;
}

bool parseUsage(const std::string& text, Usage& usage) {
  const size_t space = text.find(' ');
  const size_t end = text.find('\n');
  if (space == std::string::npos || end == std::string::npos || end < space) return false;
  int64_t bytes = 0, at = 0;
  if (!parseDecimal(text.substr(0, space), 0, INT64_MAX, bytes) ||
      !parseDecimal(text.substr(space + 1, end - space - 1), 0, INT64_MAX, at))
    return false;
  usage.bytes = bytes;
  usage.countedAt = at;
  return true;
}

long long nowSeconds() {
  return systemTimeOfDay().tv_sec;
}

// The figure kept in `path`; false when there is none, it cannot be read
// or it was counted in the future.
bool keptUsage(const std::string& path, Usage& usage) {
  UniqueFd fd = openRegularFile(path);
  std::string text;
  return fd && flock(fd.get(), LOCK_SH) == 0 && readUpTo(fd.get(), text, 64) &&
         parseUsage(text, usage) && usage.countedAt <= nowSeconds();
}

}  // namespace

bool freshTempName(const std::string& dir, const char* prefix, std::string& name) {
  if (prefix == nullptr) return false;
  name = dir + "/" + prefix;
  return systemRandomDigits(kTempNameDigits, name);
}

bool GetTempFilename(const char* dir, const char* prefix, std::string& out, UniqueFd& fd) {
  if (dir == nullptr || prefix == nullptr) return false;
  for (int i = 0; i < kTries; ++i) {
    std::string name;
    if (!freshTempName(dir, prefix, name)) return false;
    UniqueFd created = createExclusive(name, kTempFileMode);
    if (created) {
      // The mode asked for is cut by the umask only; a umask can never widen
      // it, so nothing more is needed to keep the file private.
      out = std::move(name);
      fd = std::move(created);
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}

bool GetTempFilename(const char* dir, const char* prefix, std::string& out) {
  UniqueFd fd;
  return GetTempFilename(dir, prefix, out, fd);
}

bool systemGetTmpFile(std::string& out) {
  return GetTempFilename("../tmp", "query", out);
}

std::string systemCGITmpDirectory() {
  const std::string parent = parentOfWorkingDirectory();
  if (parent.empty()) return "";
  return (parent == "/" ? "" : parent) + "/search-cgi/tmp";
}

bool systemGetCGITmpFile(std::string& out, const char* prefix, UniqueFd& fd) {
  const std::string dir = systemCGITmpDirectory();
  return !dir.empty() && GetTempFilename(dir.c_str(), prefix, out, fd);
}

bool systemGetCGITmpFile(std::string& out, const char* prefix) {
  UniqueFd fd;
  return systemGetCGITmpFile(out, prefix, fd);
}

long long directoryBytes(const char* dir, long long stopAt) {
  const int fd = open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return -1;
  DIR* listing = fdopendir(fd);
  if (!listing) {
    close(fd);
    return -1;
  }
  long long total = 0;
  while (const dirent* entry = readdir(listing)) {
    struct stat st;
    if (fstatat(dirfd(listing), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
      continue;
    // What the disk holds, so that a sparse file counts as little as it costs.
    total += static_cast<long long>(st.st_blocks) * 512;
    if (total > stopAt) break;
  }
  closedir(listing);
  return total;
}

long long resultsDirectoryBytes(const char* dir, long long limit) {
  const std::string path = std::string(dir) + "/" + kResultsUsageFile;
  Usage kept;
  const bool haveKept = keptUsage(path, kept);
  if (haveKept) {
    const long long age = nowSeconds() - kept.countedAt;
    if (age < (kept.bytes <= limit / 2 ? kUsageTrustSeconds : kNearLimitTrustSeconds))
      return kept.bytes;
  }
  // One run counts at a time; the runs that come meanwhile take the figure
  // as it stands. The lock is the directory's own, as the figure's file is
  // replaced whole.
  UniqueFd lock(open(dir, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (haveKept && lock && flock(lock.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK)
    return kept.bytes;
  const long long counted = directoryBytes(dir, limit);
  // A figure written by a run that did not take the lock (of an older
  // version) may stand beside this one: either is a count.
  if (counted >= 0)
    replaceFileAtomically(path, usageText({counted, nowSeconds()}), kTempFileMode, false);
  return counted;
}

void addResultsUsage(const char* dir, long long bytes) {
  const std::string path = std::string(dir) + "/" + kResultsUsageFile;
  UniqueFd fd(open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  struct stat st;
  std::string text;
  Usage usage;
  if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid() ||
      st.st_nlink != 1 || flock(fd.get(), LOCK_EX) != 0 || !readUpTo(fd.get(), text, 64) ||
      !parseUsage(text, usage))
    return;
  usage.bytes += std::max(0LL, bytes);
  const std::string updated = usageText(usage);
  // The same width as before: written over in place, nothing to cut.
  if (updated.size() == text.size()) {
    const ssize_t written = pwrite(fd.get(), updated.data(), updated.size(), 0);
    (void)written;  // a figure not grown is counted again within minutes
  }
}
