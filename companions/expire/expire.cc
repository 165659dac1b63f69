/// @file expire.cc
/// @brief Age-based removal of results, scratch files and permits.

#include "companions/expire/expire.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>

#include "access/cookie_permit.h"
#include "system/config.h"
#include "system/layout.h"
#include "system/numbers.h"

namespace expire {

namespace {

constexpr size_t kMinDigits = 5;

bool isStemChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

}  // namespace

bool isExpirableName(const std::string& name) {
  size_t i = 0;
  while (i < name.size() && isStemChar(name[i]))
    ++i;
  if (i == 0) return false;
  size_t digits = 0;
  while (i + digits < name.size() && name[i + digits] >= '0' && name[i + digits] <= '9')
    ++digits;
  return digits >= kMinDigits;
}

int expireDirectory(const std::string& dir, long maxAgeSeconds, time_t now) {
  const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (dirFd < 0) return -1;
  DIR* stream = fdopendir(dirFd);
  if (stream == nullptr) {
    close(dirFd);
    return -1;
  }
  int removed = 0;
  while (const dirent* entry = readdir(stream)) {
    const std::string name = entry->d_name;
    if (!isExpirableName(name)) continue;
    // Looked at and removed relative to the directory opened, so that no
    // link along the way can send the removal elsewhere.
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode)) continue;
    if (now < st.st_mtime || now - st.st_mtime <= maxAgeSeconds) continue;
    if (unlinkat(dirFd, name.c_str(), 0) == 0) ++removed;
  }
  closedir(stream);
  return removed;
}

long resultMaxAgeMinutes() {
  std::string text;
  int64_t minutes = 0;
  if (!findCfgValue("../setting/search_option.cfg", "RESULT_EXPIRE_MINUTES", kCfgLineMax, text) ||
      !parseDecimal(text, 1, 525600, minutes))
    return kDefaultResultMinutes;
  return static_cast<long>(minutes);
}

PassResult expirePass(long maxAgeMinutes, time_t now) {
  const long minutes = maxAgeMinutes > 0 ? maxAgeMinutes : resultMaxAgeMinutes();
  PassResult pass;
  pass.results = expireDirectory("../tmp", minutes * 60, now);
  pass.scratch = expireDirectory("../search-cgi/tmp", minutes * 60, now);
  pass.permits =
      permitExpireDir(kPermitDir, static_cast<unsigned>(systemGetUserLoginTimeOut()), now);
  return pass;
}

}  // namespace expire
