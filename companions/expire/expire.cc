/// @file expire.cc
/// @brief Age-based removal of results, scratch files, permits and daily
/// search logs.

#include "companions/expire/expire.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>

#include "access/cookie_permit.h"
#include "system/clock.h"
#include "system/config.h"
#include "system/layout.h"
#include "system/numbers.h"
#include "system/tmpfile.h"

namespace expire {

namespace {

constexpr size_t kMinDigits = 5;
constexpr const char* kSearchOptions = "../setting/search_option.cfg";

bool isStemChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// Removes from `dir` every regular file whose name and status `expired`
// accepts; -1 when the directory cannot be read (0 when it does not exist
// and `missingIsEmpty`).
int removeFiles(const std::string& dir, bool missingIsEmpty,
                const std::function<bool(const std::string&, const struct stat&)>& expired) {
  // The folder itself may be a link the installation's owner made (a packaged
  // installation keeps its data apart); nothing inside it is followed.
  const int dirFd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd < 0) return missingIsEmpty && errno == ENOENT ? 0 : -1;
  DIR* stream = fdopendir(dirFd);
  if (stream == nullptr) {
    close(dirFd);
    return -1;
  }
  int removed = 0;
  while (const dirent* entry = readdir(stream)) {
    const std::string name = entry->d_name;
    // Looked at and removed relative to the directory opened, so that no
    // link along the way can send the removal elsewhere.
    struct stat st;
    if (fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (!S_ISREG(st.st_mode) || !expired(name, st)) continue;
    if (unlinkat(dirFd, name.c_str(), 0) == 0) ++removed;
  }
  closedir(stream);
  return removed;
}

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long daysFromCivil(long year, int month, int day) {
  year -= month <= 2;
  const long era = (year >= 0 ? year : year - 399) / 400;
  const long yearOfEra = year - era * 400;
  const long dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

int daysInMonth(long year, int month) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// The value of a number setting of search_option.cfg, or `fallback` when it
// is missing or out of [min, max].
long searchOption(const char* key, int64_t min, int64_t max, long fallback) {
  std::string text;
  int64_t value = 0;
  if (!findCfgValue(kSearchOptions, key, kCfgLineMax, text) || !parseDecimal(text, min, max, value))
    return fallback;
  return static_cast<long>(value);
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
  return removeFiles(dir, false, [=](const std::string& name, const struct stat& st) {
    return isExpirableName(name) && now >= st.st_mtime && now - st.st_mtime > maxAgeSeconds;
  });
}

bool isDailyLogName(const std::string& name, long& day) {
  if (name.size() != 12 || name.compare(8, 4, ".log") != 0) return false;
  int64_t year = 0, month = 0, date = 0;
  if (!parseDecimal(name.substr(0, 4), 1, 9999, year) ||
      !parseDecimal(name.substr(4, 2), 1, 12, month) ||
      !parseDecimal(name.substr(6, 2), 1, daysInMonth(year, static_cast<int>(month)), date))
    return false;
  day = daysFromCivil(year, static_cast<int>(month), static_cast<int>(date));
  return true;
}

int expireDailyLogs(const std::string& dir, long keepDays, time_t now) {
  // The logs are named by the local date of their searches.
  const struct tm local = systemLocalTime(now);
  const long today = daysFromCivil(local.tm_year + 1900L, local.tm_mon + 1, local.tm_mday);
  return removeFiles(dir, true, [=](const std::string& name, const struct stat&) {
    long day = 0;
    return isDailyLogName(name, day) && today - day > keepDays;
  });
}

long resultMaxAgeMinutes() {
  return searchOption("RESULT_EXPIRE_MINUTES", 1, 525600, kDefaultResultMinutes);
}

long searchLogKeepDays() {
  return searchOption("SEARCH_LOG_KEEP_DAYS", 0, kMaxSearchLogDays, kDefaultSearchLogDays);
}

PassResult expirePass(long maxAgeMinutes, time_t now) {
  const long minutes = maxAgeMinutes > 0 ? maxAgeMinutes : resultMaxAgeMinutes();
  PassResult pass;
  pass.results = expireDirectory("../tmp", minutes * 60, now);
  // The figure of what the results take only ever grows between counts;
  // near the limit runs would refuse new results for a while yet. Without
  // it, the next run counts what is left.
  if (pass.results > 0) unlink((std::string("../tmp/") + kResultsUsageFile).c_str());
  pass.scratch = expireDirectory("../search-cgi/tmp", minutes * 60, now);
  pass.permits =
      permitExpireDir(kPermitDir, static_cast<unsigned>(systemGetUserLoginTimeOut()), now);
  const long keepDays = searchLogKeepDays();
  pass.searchLogs =
      keepDays == 0 ? 0 : expireDailyLogs(systemGetSystemQueryLogHome(), keepDays, now);
  return pass;
}

}  // namespace expire
