/// @file tmpfile.cc
/// @brief Fresh names for scratch and result files.

#include "system/tmpfile.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <string>

#include "system/fsutil.h"
#include "system/numbers.h"
#include "system/scratch_reuse.h"
#include "system/secure_file.h"

namespace {

constexpr int kTries = 10;
// How long a counted figure of the results directory stands.
constexpr long long kUsageFreshNs = 1000LL * 1000 * 1000;

// The figure kept in `path` if it was counted less than kUsageFreshNs ago;
// -1 otherwise (none, unreadable, from the future).
long long freshUsage(const std::string& path) {
  UniqueFd fd = openRegularFile(path);
  struct stat st;
  std::string text;
  if (!fd || fstat(fd.get(), &st) != 0 || !readUpTo(fd.get(), text, 32)) return -1;
  timespec now;
  if (clock_gettime(CLOCK_REALTIME, &now) != 0) return -1;
  const long long age = (static_cast<long long>(now.tv_sec) - st.st_mtim.tv_sec) * 1000000000LL +
                        (now.tv_nsec - st.st_mtim.tv_nsec);
  int64_t bytes = 0;
  if (age < 0 || age >= kUsageFreshNs || !parseDecimal(text, 0, INT64_MAX, bytes)) return -1;
  return bytes;
}

}  // namespace

bool GetTempFilename(const char* dir, const char* prefix, std::string& out, UniqueFd& fd) {
  if (dir == nullptr || prefix == nullptr) return false;
  for (int i = 0; i < kTries; ++i) {
    std::string name = std::string(dir) + "/" + prefix;
    if (!systemRandomDigits(kTempNameDigits, name)) return false;
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

bool systemGetCGITmpFile(std::string& out, const char* prefix, UniqueFd& fd) {
  const std::string parent = parentOfWorkingDirectory();
  if (parent.empty()) return false;
  const std::string dir = (parent == "/" ? "" : parent) + "/search-cgi/tmp";
  std::string name = dir + "/" + (prefix ? prefix : "");
  if (prefix != nullptr && systemRandomDigits(kTempNameDigits, name) &&
      takeSpareScratch(dir, name, fd)) {
    out = std::move(name);
  } else if (!GetTempFilename(dir.c_str(), prefix, out, fd)) {
    return false;
  }
  noteScratchClaimed(out);
  return true;
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
  const std::string usage = std::string(dir) + "/" + kResultsUsageFile;
  const long long kept = freshUsage(usage);
  if (kept >= 0 && kept <= limit / 2) return kept;
  const long long counted = directoryBytes(dir, limit);
  // Another run may be writing the same figure: either one stands.
  if (counted >= 0) replaceFileAtomically(usage, std::to_string(counted), kTempFileMode, false);
  return counted;
}
