/// @file local_files.cc
/// @brief Bounded, link-proof reads and the renderer's installation settings.

#include "companions/records/local_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "system/config.h"
#include "system/index_format.h"
#include "system/layout.h"
#include "system/lines.h"
#include "system/numbers.h"

namespace render {

namespace {

// Settings files are a few lines; anything far larger is not one of ours.
constexpr size_t kMaxSettingsFile = 256 * 1024;
// Values as layout.cc cuts them.
constexpr size_t kSystemInfoLineMax = 1022;
constexpr size_t kPathMax = 1023;
constexpr unsigned kMaxLoginTimeout = 2592000;

}  // namespace

namespace {

bool readPrefixOf(int fd, size_t limit, std::string& out, bool regular) {
  // Grown as the file gives bytes: most files are far below the limit.
  out.clear();
  char piece[16384];
  while (out.size() < limit) {
    const size_t asked = std::min(sizeof piece, limit - out.size());
    const ssize_t n = read(fd, piece, asked);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      out.clear();
      return false;
    }
    out.append(piece, static_cast<size_t>(n));
    // A regular file gives fewer bytes than asked only at its end.
    if (regular && static_cast<size_t>(n) < asked) break;
  }
  return true;
}

}  // namespace

bool readPrefix(int fd, size_t limit, std::string& out) {
  return readPrefixOf(fd, limit, out, false);
}

bool readRegularPrefix(int fd, size_t limit, std::string& out) {
  return readPrefixOf(fd, limit, out, true);
}

bool readFromStart(int fd, size_t limit, std::string& out) {
  return lseek(fd, 0, SEEK_SET) == 0 && readPrefix(fd, limit, out);
}

bool FileHead::read(size_t n, std::string_view& bytes) {
  if (size_ < n && !atEnd_) {
    if (capacity_ < n) {
      std::unique_ptr<char[]> grown(new char[n]);
      if (size_ > 0) std::memcpy(grown.get(), bytes_.get(), size_);
      bytes_ = std::move(grown);
      capacity_ = n;
    }
    while (size_ < n) {
      const size_t asked = n - size_;
      const ssize_t got = ::read(fd_, bytes_.get() + size_, asked);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return false;
      size_ += static_cast<size_t>(got);
      // A regular file gives fewer bytes than asked only at its end: no
      // read is spent on being told so.
      if (static_cast<size_t>(got) < asked) {
        atEnd_ = true;
        break;
      }
    }
  }
  bytes = std::string_view(bytes_.get(), std::min(n, size_));
  return true;
}

UniqueFd openRegularWithStatus(const std::string& path, struct stat& st) {
  UniqueFd fd(open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
  if (!fd || fstat(fd.get(), &st) != 0) return UniqueFd();
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return UniqueFd();
  }
  // O_NONBLOCK stays: a regular file's reads never take note of it.
  return fd;
}

bool readFilePrefix(const std::string& path, size_t limit, std::string& out) {
  out.clear();
  struct stat st;
  const UniqueFd fd = openRegularWithStatus(path, st);
  return fd && readRegularPrefix(fd.get(), limit, out);
}

std::vector<std::string> splitLines(std::string_view text, size_t maxLines, size_t maxChars) {
  std::vector<std::string> lines;
  while (!text.empty() && lines.size() < maxLines) {
    const size_t nl = text.find('\n');
    const std::string_view line = text.substr(0, nl);
    lines.emplace_back(line.substr(0, std::min(line.size(), maxChars)));
    text = nl == std::string_view::npos ? std::string_view() : text.substr(nl + 1);
  }
  return lines;
}

bool readFirstLineOf(const std::string& path, size_t maxChars, std::string& line) {
  line.clear();
  // One byte more than wanted, so that the "\r" of a "\r\n" just past the
  // limit is not taken for part of the value.
  std::string bytes;
  if (!readFilePrefix(path, maxChars + 1, bytes) || bytes.empty()) return false;
  line = bytes.substr(0, bytes.find('\n'));
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > maxChars) line.resize(maxChars);
  return true;
}

bool findSetting(const std::string& path, const char* key, size_t maxLineChars,
                 std::string& value) {
  value.clear();
  std::string bytes;
  return readFilePrefix(path, kMaxSettingsFile, bytes) &&
         findSettingIn(bytes, key, maxLineChars, value);
}

bool findSettingIn(std::string_view text, const char* key, size_t maxLineChars,
                   std::string& value) {
  value.clear();
  std::string k, v;
  for (const std::string& line : splitLines(text, SIZE_MAX, maxLineChars)) {
    if (line.empty() || line[0] == '#') continue;
    // A zero byte ends the line for the parser, as it does for the library's.
    if (parser_token_string(line.c_str(), k, v) && k == key) {
      value = v;
      return true;
    }
  }
  return false;
}

namespace {

bool isOwnPrivate(const struct stat& st) {
  // The account does not change while the renderer runs.
  static const uid_t self = geteuid();
  return S_ISREG(st.st_mode) && st.st_uid == self && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

bool isOwnPrivateFile(int fd) {
  struct stat st;
  return fstat(fd, &st) == 0 && isOwnPrivate(st);
}

UniqueFd openOwnFile(const std::string& path, bool& missing) {
  struct stat st;
  UniqueFd fd = openRegularWithStatus(path, st);
  missing = !fd && errno == ENOENT;
  if (fd && !isOwnPrivate(st)) fd.reset();
  return fd;
}

Installation Installation::read() {
  // The library's own readers: the settings are read as the system reads
  // them, and kept in memory while unchanged (the engine service makes a
  // page for every search).
  Installation inst;
  std::string line;
  if (readFirstLine(installationFile("..", "lang.cfg").c_str(), 14, line)) {
    static const std::pair<const char*, int> kCodes[] = {
        {"CH", 0}, {"JP", 1}, {"GB", 2}, {"EN", 3}};
    for (const auto& [name, code] : kCodes)
      if (line == name) inst.language = code;
  }
  if (readFirstLine(installationFile("..", "host_address").c_str(), 23, line) && !line.empty())
    inst.hostAddress = line;
  const char* systemInfo = "../setting/system_info.cfg";
  if (findCfgValue(systemInfo, "SYSTEM_DIRECTORY", kSystemInfoLineMax, line))
    inst.systemHome = line.substr(0, kPathMax);
  if (findCfgValue(systemInfo, "DOMAIN_NAME", kSystemInfoLineMax, line))
    inst.domainName = line.substr(0, kPathMax);
  if (findCfgValue("../setting/user_config.cfg", "LOGIN_TIMEOUT", kCfgLineMax, line)) {
    const int seconds = parseAtoi(line);
    if (seconds > 0)
      inst.loginTimeoutSeconds = std::min(static_cast<unsigned>(seconds), kMaxLoginTimeout);
  }
  return inst;
}

std::string Installation::ownerHome(const std::string& owner) const {
  if (systemHome.empty() || owner.empty()) return "";
  // A group path names its folder below "group" itself.
  if (owner[0] == '/' || owner[0] == '\\') return systemHome + "/group" + owner;
  return systemHome + "/group/" + domainName + "/User/" + owner;
}

std::string Installation::indexHome(const std::string& owner, const std::string& index) const {
  const std::string home = ownerHome(owner);
  return home.empty() ? home : home + "/index/" + index;
}

std::string Installation::incIndexHome(const std::string& owner, const std::string& index) const {
  const std::string home = indexHome(owner, index);
  return home.empty() ? home : incPartOf(home);
}

bool Installation::isLocalHost(const std::string& ip) const {
  return hostAddress == "127.0.0.1" || ip == "127.0.0.1" || ip == hostAddress;
}

}  // namespace render
