/// @file cookie_permit.cc
/// @brief Permit files: key form, reading and writing under lock, checks,
/// expiry.

#include "access/cookie_permit.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "system/numbers.h"
#include "system/secure_file.h"

namespace {

constexpr size_t kKeyPrefixLength = 5;
constexpr size_t kKeyMinDigits = 7;
// A permit file is a few hundred bytes; anything past this is not ours.
constexpr size_t kMaxPermitFileSize = 4096;
constexpr int kCreateAttempts = 8;

bool isAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool isDigit(char c) {
  return c >= '0' && c <= '9';
}

// Copies at most size - 1 characters of value (up to its end or a zero byte).
void copyField(char* field, size_t size, const char* value, size_t valueLength) {
  size_t n = 0;
  while (n < valueLength && n + 1 < size && value[n] != '\0')
    ++n;
  std::memcpy(field, value, n);
  field[n] = '\0';
}

bool startsWith(const char* line, size_t length, const char* prefix, size_t prefixLength) {
  return length >= prefixLength && std::memcmp(line, prefix, prefixLength) == 0;
}

// Sets both times of the file itself, never of a link's target.
bool refreshTimes(const std::string& path, time_t now) {
  const timespec times[2] = {{now, 0}, {now, 0}};
  return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// A permit admits whoever it names, so only a file the server account wrote
// itself, and nobody else can change, counts.
bool isTrustedPermitFile(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

// The exact user name on one line: bytes that would end the line or be
// mistaken for an escape are written "%XX".
std::string encodeExactUser(const char* user) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char* p = user ? user : ""; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c <= 0x20 || c == 0x7F || c == '%') {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// The current second as file times count it. time() reads a clock that may
// lag a tick behind the one that stamps files, so a permit touched an
// instant ago could look as if it were used in the future.
time_t fileClockNow() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return ts.tv_sec;
}

bool endsWith(const char* name, const char* suffix) {
  size_t n = std::strlen(name);
  size_t m = std::strlen(suffix);
  return n >= m && std::strcmp(name + n - m, suffix) == 0;
}

}  // namespace

bool permitKeyIsWellFormed(const char* key) {
  if (key == nullptr) return false;
  size_t length = std::strlen(key);
  if (length >= CookiePermit::kFieldSize) return false;
  for (size_t i = 0; i < length; ++i) {
    unsigned char c = static_cast<unsigned char>(key[i]);
    if (!isAsciiAlnum(c) && c != '_') return false;
  }
  size_t digits = 0;  // trailing run
  while (digits < length && isDigit(key[length - 1 - digits]))
    ++digits;
  // The prefix may itself end in digits, so the number may start anywhere
  // within the trailing run as long as the prefix stays within 5 characters.
  return digits >= kKeyMinDigits && digits + kKeyPrefixLength >= length;
}

std::string permitRandomDigits() {
  std::string digits;
  if (!systemRandomDigits(kPermitKeyDigits, digits)) return "";
  return digits;
}

char* KS_CookieEncodeUserId(const char* user, char* out) {
  static const char kHex[] = "0123456789ABCDEF";
  const size_t limit = CookiePermit::kFieldSize - 1;
  size_t n = 0;
  for (const char* p = user ? user : ""; *p != '\0'; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    size_t need = c >= 0x80 ? 2 : 1;
    if (n + need > limit) break;
    if (c >= 0x80) {
      out[n++] = kHex[c >> 4];
      out[n++] = kHex[c & 0x0F];
    } else {
      out[n++] = isAsciiAlnum(c) ? static_cast<char>(c) : '_';
    }
  }
  out[n] = '\0';
  return out;
}

CookiePermit::CookiePermit() {
  clearFields();
  std::strcpy(m_dir, kPermitDir);
}

void CookiePermit::clearFields() {
  m_type = 0;
  m_userId[0] = '\0';
  m_key[0] = '\0';
  m_storedUser.clear();
  m_hasStoredUser = false;
}

void CookiePermit::permitSetUser(const char* user) {
  m_user = encodeExactUser(user);
  // Permits of the sign-in side name only the encoded id. Such a permit
  // admits a user whose name is that id itself; a name the encoding changes
  // ("a b", "a.b") could be an alias made to reach another user's permit.
  char id[kFieldSize];
  KS_CookieEncodeUserId(user, id);
  m_plainUser = user != nullptr && std::strcmp(id, user) == 0 ? id : "";
}

bool CookiePermit::permitSetDir(const char* dir) {
  if (dir == nullptr || std::strlen(dir) >= kDirSize) return false;
  std::strcpy(m_dir, dir);
  return true;
}

std::string CookiePermit::permitGenerateFilePath() const {
  return std::string(m_dir) + '/' + m_key + ".ksp";
}

bool CookiePermit::permitParse(const char* bytes, size_t size) {
  static const char kId[] = "KS_ID=";
  static const char kKey[] = "KS_KEY=";
  static const char kType[] = "KS_TYPE=";
  static const char kUser[] = "KS_USER=";
  clearFields();
  size_t pos = 0;
  bool first = true;
  while (pos < size) {
    const char* line = bytes + pos;
    const void* end = std::memchr(line, '\n', size - pos);
    size_t length = end ? static_cast<size_t>(static_cast<const char*>(end) - line) : size - pos;
    pos += length + 1;
    if (first) {
      if (length != std::strlen(kPermitHeader) || std::memcmp(line, kPermitHeader, length) != 0)
        return false;
      first = false;
    } else if (startsWith(line, length, kId, sizeof kId - 1)) {
      copyField(m_userId, kFieldSize, line + sizeof kId - 1, length - (sizeof kId - 1));
    } else if (startsWith(line, length, kKey, sizeof kKey - 1)) {
      copyField(m_key, kFieldSize, line + sizeof kKey - 1, length - (sizeof kKey - 1));
    } else if (startsWith(line, length, kType, sizeof kType - 1)) {
      m_type = parseAtoi(std::string_view(line + sizeof kType - 1, length - (sizeof kType - 1)));
    } else if (startsWith(line, length, kUser, sizeof kUser - 1)) {
      m_storedUser.assign(line + sizeof kUser - 1, length - (sizeof kUser - 1));
      m_hasStoredUser = true;
    }
  }
  return !first;
}

int CookiePermit::permitReadFile() {
  std::string path = permitGenerateFilePath();
  // Non-blocking open: a stray FIFO in the permit directory must not hang
  // the request.
  // An advisory lock taken on the descriptor goes with its close.
  const UniqueFd fd(
      ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY));
  if (fd.get() < 0) return errno == ENOENT ? kPermitNoFile : -1;
  struct stat st;
  if (::fstat(fd.get(), &st) != 0 || !isTrustedPermitFile(st)) return -1;
  if (::flock(fd.get(), LOCK_EX) != 0) return -1;
  std::string bytes(kMaxPermitFileSize, '\0');
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::read(fd.get(), &bytes[done], bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  ::flock(fd.get(), LOCK_UN);
  std::string key = m_key;  // the file names the permit, whatever it says
  bool ok = permitParse(bytes.data(), done);
  copyField(m_key, kFieldSize, key.data(), key.size());
  return ok ? 0 : -1;
}

int CookiePermit::permitWriteFile() {
  std::string path = permitGenerateFilePath();
  const UniqueFd fd(
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (fd.get() < 0) return errno == EEXIST ? 1 : -1;
  std::string text = std::string(kPermitHeader) + "\nKS_ID=" + m_userId + "\nKS_KEY=" + m_key +
                     "\nKS_TYPE=" + std::to_string(m_type) + "\n";
  if (!m_user.empty()) text += "KS_USER=" + m_user + "\n";
  bool ok = ::flock(fd.get(), LOCK_EX) == 0 && writeAll(fd.get(), text);
  ::flock(fd.get(), LOCK_UN);
  if (!ok) ::unlink(path.c_str());
  return ok ? 0 : -1;
}

int CookiePermit::permitCreate(const char* encodedId, int userType, const PermitDigitSource& draw) {
  if (encodedId == nullptr || encodedId[0] == '\0') return -1;
  char prefix[kKeyPrefixLength + 1];
  copyField(prefix, sizeof prefix, encodedId, std::strlen(encodedId));
  copyField(m_userId, kFieldSize, encodedId, std::strlen(encodedId));
  m_type = userType;
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    const std::string digits = draw();
    // Without the random source a key could be guessed: no permit then.
    if (digits.size() < kPermitKeyDigits) return -1;
    const std::string key = prefix + digits;
    if (!permitKeyIsWellFormed(key.c_str())) return -1;
    std::strcpy(m_key, key.c_str());
    int written = permitWriteFile();
    if (written <= 0) return written;
  }
  return -1;
}

int CookiePermit::permitLoad(const char* key, const char* encodedId) {
  clearFields();
  if (!permitKeyIsWellFormed(key) || encodedId == nullptr || encodedId[0] == '\0') return -1;
  std::strcpy(m_key, key);
  int read = permitReadFile();
  if (read != 0) return read;
  if (std::strcmp(m_userId, encodedId) != 0) return -1;
  // The encoded id folds names together ("a.b" and "a_b" read the same):
  // the exact name decides when the caller names the user and the permit
  // stores one.
  if (m_user.empty()) return 0;
  if (m_hasStoredUser) return m_storedUser == m_user ? 0 : -1;
  return !m_plainUser.empty() && m_plainUser == m_userId ? 0 : -1;
}

int CookiePermit::permitCheck(const char* key, const char* encodedId) {
  if (permitLoad(key, encodedId) != 0) return PERMIT_ERR_KEY_INVALID;
  refreshTimes(permitGenerateFilePath(), fileClockNow());
  return PERMIT_ERR_KEY_VALID;
}

int CookiePermit::permitCheck(const char* key, const char* encodedId, unsigned lifeTime,
                              time_t now) {
  if (!permitKeyIsWellFormed(key)) return PERMIT_ERR_KEY_INVALID;
  std::strcpy(m_key, key);
  std::string path = permitGenerateFilePath();
  // The times are taken before the read, which may itself touch them.
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) return PERMIT_ERR_KEY_INVALID;
  if (permitLoad(key, encodedId) != 0) return PERMIT_ERR_KEY_INVALID;
  if (lifeTime != 0) {
    if (now == static_cast<time_t>(-1)) return PERMIT_ERR_KEY_INVALID;
    time_t lastUse = st.st_atime > st.st_ctime ? st.st_atime : st.st_ctime;
    if (now < lastUse) return PERMIT_ERR_KEY_INVALID;
    if (static_cast<unsigned long long>(now - lastUse) > lifeTime) {
      ::unlink(path.c_str());
      return PERMIT_ERR_KEY_TIMEOUT;
    }
  }
  refreshTimes(path, now);
  return PERMIT_ERR_KEY_VALID;
}

int CookiePermit::permitRemove(const char* key, const char* encodedId) {
  int loaded = permitLoad(key, encodedId);
  if (loaded != 0) return loaded;
  return ::unlink(permitGenerateFilePath().c_str()) == 0 ? 0 : -1;
}

int CookiePermit::permitUserType(const char* key, const char* encodedId) {
  if (permitLoad(key, encodedId) != 0) return PERMIT_ERR_KEY_INVALID;
  return m_type;
}

int permitExpireDir(const char* dir, unsigned maxIdleSeconds, time_t now) {
  if (dir == nullptr) return -1;
  DIR* stream = ::opendir(dir);
  if (stream == nullptr) return -1;
  int deleted = 0;
  while (const struct dirent* entry = ::readdir(stream)) {
    if (!endsWith(entry->d_name, ".ksp")) continue;
    std::string path = std::string(dir) + '/' + entry->d_name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (now < st.st_atime) continue;
    if (static_cast<unsigned long long>(now - st.st_atime) <= maxIdleSeconds) continue;
    if (::unlink(path.c_str()) == 0) ++deleted;
  }
  ::closedir(stream);
  return deleted;
}

const char* KS_CookiePermitCreate(const char* user, char* out, size_t outSize, int userType) {
  if (user == nullptr || out == nullptr || user[0] == '\0') return nullptr;
  char id[CookiePermit::kFieldSize];
  KS_CookieEncodeUserId(user, id);
  // Make sure the answer fits before a permit exists that nobody could name.
  if (outSize < kPermitAnswerSize) return nullptr;
  CookiePermit permit;
  permit.permitSetUser(user);
  if (permit.permitCreate(id, userType) != 0) return nullptr;
  std::snprintf(out, outSize, "ks_key=%s", permit.permitGetKey());
  return out;
}

int KS_CookiePermitCheck(const char* user, const char* key) {
  if (key == nullptr) return kPermitNoKey;
  char id[CookiePermit::kFieldSize];
  CookiePermit permit;
  permit.permitSetUser(user);
  return permit.permitCheck(key, KS_CookieEncodeUserId(user, id));
}

int KS_CookiePermitCheck(const char* user, const char* key, unsigned lifeTimeSeconds) {
  if (key == nullptr) return kPermitNoKey;
  char id[CookiePermit::kFieldSize];
  CookiePermit permit;
  permit.permitSetUser(user);
  return permit.permitCheck(key, KS_CookieEncodeUserId(user, id), lifeTimeSeconds, fileClockNow());
}

int KS_CookiePermitRemove(const char* user, const char* key) {
  if (key == nullptr) return kPermitNoKey;
  char id[CookiePermit::kFieldSize];
  CookiePermit permit;
  permit.permitSetUser(user);
  return permit.permitRemove(key, KS_CookieEncodeUserId(user, id));
}

int KS_CookiePermitGetUserType(const char* user, const char* key) {
  if (key == nullptr) return kPermitNoKey;
  char id[CookiePermit::kFieldSize];
  CookiePermit permit;
  permit.permitSetUser(user);
  return permit.permitUserType(key, KS_CookieEncodeUserId(user, id));
}

int KS_CookiePermitExpire(unsigned maxIdleSeconds) {
  return permitExpireDir(kPermitDir, maxIdleSeconds, fileClockNow());
}
