/// @file scratch_files.cc
/// @brief The registry of a run's memory scratch files.

#include "system/scratch_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <mutex>

#include "system/secure_file.h"
#include "system/tmpfile.h"

bool markResultUnwritten(const char* path) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  const timespec times[2] = {{0, UTIME_OMIT}, {now.tv_sec - 1, now.tv_nsec}};
  return utimensat(AT_FDCWD, path, times, AT_SYMLINK_NOFOLLOW) == 0;
}

namespace scratch {

namespace {

struct MemoryFile {
  std::string bytes;
  bool written = false;
};

std::atomic<bool> g_inMemory{false};
std::mutex g_mutex;
std::map<std::string, MemoryFile>& files() {
  static std::map<std::string, MemoryFile> held;
  return held;
}

// A stdio stream over a copy of the bytes: the parsers of results read
// streams, and a memory file must read as the disk file would.
struct StringCookie {
  std::string bytes;
  size_t at = 0;
};

ssize_t cookieRead(void* cookie, char* buf, size_t size) {
  auto* c = static_cast<StringCookie*>(cookie);
  const size_t n = std::min(size, c->bytes.size() - c->at);
  std::memcpy(buf, c->bytes.data() + c->at, n);
  c->at += n;
  return static_cast<ssize_t>(n);
}

int cookieSeek(void* cookie, off64_t* offset, int whence) {
  auto* c = static_cast<StringCookie*>(cookie);
  const long long base = whence == SEEK_SET   ? 0
                         : whence == SEEK_CUR ? static_cast<long long>(c->at)
                                              : static_cast<long long>(c->bytes.size());
  const long long to = base + *offset;
  if (to < 0 || to > static_cast<long long>(c->bytes.size())) return -1;
  c->at = static_cast<size_t>(to);
  *offset = to;
  return 0;
}

int cookieClose(void* cookie) {
  delete static_cast<StringCookie*>(cookie);
  return 0;
}

FILE* streamOver(std::string bytes) {
  auto* cookie = new StringCookie{std::move(bytes), 0};
  cookie_io_functions_t io{cookieRead, nullptr, cookieSeek, cookieClose};
  FILE* stream = fopencookie(cookie, "rb", io);
  if (stream == nullptr) delete cookie;
  return stream;
}

}  // namespace

void keepInMemory(bool on) {
  g_inMemory = on;
}

void forgetAll() {
  g_inMemory = false;
  std::lock_guard<std::mutex> lock(g_mutex);
  files().clear();
}

bool claim(const char* prefix, std::string& path) {
  path.clear();
  if (!g_inMemory) return systemGetCGITmpFile(path, prefix);
  const std::string dir = systemCGITmpDirectory();
  std::string name;
  if (dir.empty() || !freshTempName(dir, prefix, name)) return false;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!files().emplace(name, MemoryFile{}).second) return false;
  path = std::move(name);
  return true;
}

bool inMemory(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return files().count(path) > 0;
}

bool write(const std::string& path, const std::string& bytes) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto found = files().find(path);
    if (found != files().end()) {
      found->second.bytes = bytes;
      found->second.written = true;
      return true;
    }
  }
  return overwriteRegularFile(path, bytes);
}

bool read(const std::string& path, std::string& bytes, size_t limit) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto found = files().find(path);
    if (found != files().end()) {
      if (!found->second.written) return false;
      bytes = found->second.bytes.substr(0, limit);
      return true;
    }
  }
  const UniqueFd fd = openRegularFile(path);
  return fd && readUpTo(fd.get(), bytes, limit);
}

FILE* open(const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto found = files().find(path);
    if (found != files().end())
      return found->second.written ? streamOver(found->second.bytes) : nullptr;
  }
  return fopenRegular(path);
}

void remove(const std::string& path) {
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (files().erase(path) > 0) return;
  }
  unlink(path.c_str());
}

std::vector<Attached> attachedTo(const std::vector<std::string>& argv) {
  std::vector<Attached> attached;
  std::lock_guard<std::mutex> lock(g_mutex);
  if (files().empty()) return attached;
  for (const std::string& word : argv) {
    const auto found = files().find(word);
    if (found == files().end()) continue;
    const bool seen = std::any_of(attached.begin(), attached.end(),
                                  [&](const Attached& a) { return a.path == word; });
    if (!seen) attached.push_back({word, found->second.bytes});
  }
  return attached;
}

void takeResult(const std::string& path, std::string bytes) {
  std::lock_guard<std::mutex> lock(g_mutex);
  const auto found = files().find(path);
  if (found == files().end()) return;
  found->second.bytes = std::move(bytes);
  found->second.written = true;
}

bool toDisk(const std::vector<std::string>& argv) {
  std::lock_guard<std::mutex> lock(g_mutex);
  bool all = true;
  for (const std::string& word : argv) {
    const auto found = files().find(word);
    if (found == files().end()) continue;
    const MemoryFile& file = found->second;
    UniqueFd fd = createExclusive(word, kTempFileMode);
    if (!fd) {
      all = false;
      continue;
    }
    bool stored = file.written ? writeAll(fd.get(), file.bytes) : markResultUnwritten(word.c_str());
    if (!stored) {
      unlink(word.c_str());
      all = false;
      continue;
    }
    files().erase(found);
  }
  return all;
}

}  // namespace scratch
