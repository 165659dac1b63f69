/// @file sign_in_backoff.cc
/// @brief Back-off records of client addresses that sent wrong permit keys.

#include "access/sign_in_backoff.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <utility>

#include "system/secure_file.h"
#include "system/tmpfile.h"

namespace {

constexpr const char* kSuffix = ".ksb";
constexpr const char* kOverflowName = "overflow.ksb";
constexpr const char* kOtherName = "other.ksb";
// A record is one short line; anything longer is not ours.
constexpr size_t kMaxRecordBytes = 128;
// Past 2^20 times the first delay every policy is at its longest anyway.
constexpr long long kMaxDoublings = 20;

std::string hexBytes(const unsigned char* bytes, size_t count) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < count; ++i) {
    out += kHex[bytes[i] >> 4];
    out += kHex[bytes[i] & 0x0F];
  }
  return out;
}

bool endsWith(const char* name, const char* suffix) {
  const size_t n = std::strlen(name);
  const size_t m = std::strlen(suffix);
  return n > m && std::strcmp(name + n - m, suffix) == 0;
}

// Only a record the server account wrote itself, and nobody else can change,
// is believed.
bool isOwnRecord(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
         (st.st_mode & 022) == 0;
}

UniqueFd openRecord(const std::string& path, int access) {
  return UniqueFd(::open(path.c_str(), access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
}

// A record deleted by a sweep while this process waited for its lock no
// longer counts for anybody.
bool stillLinked(int fd) {
  struct stat st;
  return ::fstat(fd, &st) == 0 && st.st_nlink > 0;
}

}  // namespace

std::string backoffRecordName(const char* address) {
  if (address == nullptr || address[0] == '\0') return "";
  std::string text = address;
  // A zone ("fe80::1%eth0") names the interface, not the host.
  text = text.substr(0, text.find('%'));
  unsigned char v4[4];
  unsigned char v6[16];
  if (::inet_pton(AF_INET, text.c_str(), v4) == 1) return "v4-" + hexBytes(v4, 4) + kSuffix;
  if (::inet_pton(AF_INET6, text.c_str(), v6) == 1) {
    static const unsigned char kMappedV4[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(v6, kMappedV4, sizeof kMappedV4) == 0)
      return "v4-" + hexBytes(v6 + 12, 4) + kSuffix;
    return "v6-" + hexBytes(v6, 8) + kSuffix;
  }
  return kOtherName;
}

SignInBackoff::SignInBackoff(std::string dir, BackoffPolicy policy)
    : m_dir(std::move(dir)), m_policy(policy) {}

bool SignInBackoff::parse(const std::string& text, Record& record) {
  record = Record();
  if (text.empty()) return true;
  const std::string line = text.substr(0, text.find('\n'));
  Record read;
  int used = 0;
  if (std::sscanf(line.c_str(), "KSB1 %lld %lld %lld %lld%n", &read.failures, &read.windowStart,
                  &read.blockedUntil, &read.backoffs, &used) != 4 ||
      static_cast<size_t>(used) != line.size() || read.failures < 0 || read.backoffs < 0)
    return false;
  record = read;
  return true;
}

std::string SignInBackoff::format(const Record& record) {
  char line[kMaxRecordBytes];
  std::snprintf(line, sizeof line, "KSB1 %lld %lld %lld %lld\n", record.failures,
                record.windowStart, record.blockedUntil, record.backoffs);
  return line;
}

bool SignInBackoff::expired(const Record& record, time_t now) const {
  const long long lastEvent =
      std::max(record.windowStart + m_policy.windowSeconds, record.blockedUntil);
  return static_cast<long long>(now) > lastEvent + m_policy.longestDelaySeconds;
}

long SignInBackoff::waitSeconds(const char* address, time_t now) const {
  const std::string own = backoffRecordName(address);
  if (own.empty()) return 0;
  for (const std::string& name : {own, std::string(kOverflowName)}) {
    const UniqueFd fd = openRecord(m_dir + "/" + name, O_RDONLY);
    if (!fd) {
      if (errno == ENOENT) continue;  // an address without a record is counted with the crowd
      return m_policy.firstDelaySeconds;
    }
    std::string text;
    if (!isOwnRecord(fd.get()) || ::flock(fd.get(), LOCK_SH) != 0 ||
        !readUpTo(fd.get(), text, kMaxRecordBytes))
      return m_policy.firstDelaySeconds;
    Record record;
    parse(text, record);  // a damaged record is rewritten by the next failure
    const long long left = record.blockedUntil - static_cast<long long>(now);
    // A clock set back never holds an address past the longest delay.
    return left <= 0 ? 0
                     : static_cast<long>(std::min<long long>(left, m_policy.longestDelaySeconds));
  }
  return 0;
}

bool SignInBackoff::recordFailure(const char* address, time_t now) {
  const std::string own = backoffRecordName(address);
  if (own.empty()) return true;
  std::string name = own;
  struct stat st;
  if (::lstat((m_dir + "/" + own).c_str(), &st) != 0 && errno == ENOENT)
    name = nameForNewRecord(own, now);
  const std::string path = m_dir + "/" + name;
  for (int attempt = 0; attempt < 4; ++attempt) {
    UniqueFd fd = openRecord(path, O_RDWR);
    Record record;
    if (!fd) {
      if (errno != ENOENT) return false;
      // A new record is written under a fresh name, then linked into place:
      // nothing planted at the address's name is ever written through, and
      // a process that claims the name first keeps it.
      std::string fresh;
      UniqueFd created;
      if (!GetTempFilename(m_dir.c_str(), "backoff-", fresh, created)) return false;
      record.failures = 1;
      record.windowStart = now;
      const bool written = writeAll(created.get(), format(record));
      const int linked = written ? ::link(fresh.c_str(), path.c_str()) : -1;
      const int linkError = errno;
      ::unlink(fresh.c_str());
      if (linked == 0) return true;
      if (!written || linkError != EEXIST) return false;
      continue;
    }
    if (!isOwnRecord(fd.get()) || ::flock(fd.get(), LOCK_EX) != 0) return false;
    if (!stillLinked(fd.get())) continue;
    std::string text;
    if (!readUpTo(fd.get(), text, kMaxRecordBytes)) return false;
    if (!parse(text, record) || expired(record, now)) record = Record();
    if (record.windowStart > now || now - record.windowStart >= m_policy.windowSeconds) {
      record.windowStart = now;
      record.failures = 0;
    }
    if (++record.failures >= m_policy.failuresAllowed) {
      const long long doublings = std::min(record.backoffs, kMaxDoublings);
      const long long delay =
          std::min<long long>(static_cast<long long>(m_policy.firstDelaySeconds) << doublings,
                              m_policy.longestDelaySeconds);
      record.blockedUntil = now + delay;
      ++record.backoffs;
      record.failures = 0;
      record.windowStart = now;
    }
    const std::string bytes = format(record);
    return ::pwrite(fd.get(), bytes.data(), bytes.size(), 0) ==
               static_cast<ssize_t>(bytes.size()) &&
           ::ftruncate(fd.get(), static_cast<off_t>(bytes.size())) == 0;
  }
  return false;
}

std::string SignInBackoff::nameForNewRecord(const std::string& own, time_t now) {
  int kept = 0;
  if (sweep(now, kept) < 0) return own;  // the write that follows reports the failure
  return static_cast<unsigned>(kept) < m_policy.maxRecords ? own : kOverflowName;
}

int SignInBackoff::expire(time_t now) {
  int kept = 0;
  return sweep(now, kept);
}

int SignInBackoff::sweep(time_t now, int& kept) {
  kept = 0;
  DIR* stream = ::opendir(m_dir.c_str());
  if (stream == nullptr) return -1;
  int deleted = 0;
  while (const struct dirent* entry = ::readdir(stream)) {
    if (!endsWith(entry->d_name, kSuffix)) continue;
    const std::string path = m_dir + "/" + entry->d_name;
    const UniqueFd fd = openRecord(path, O_RDONLY);
    // A record being changed right now is in use: it stays.
    if (!fd || !isOwnRecord(fd.get()) || ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
      ++kept;
      continue;
    }
    std::string text;
    Record record;
    const bool stale =
        readUpTo(fd.get(), text, kMaxRecordBytes) && (!parse(text, record) || expired(record, now));
    // Unlinked under the lock: a process waiting for it sees the record gone.
    if (stale && ::unlink(path.c_str()) == 0) {
      ++deleted;
    } else {
      ++kept;
    }
  }
  ::closedir(stream);
  return deleted;
}
