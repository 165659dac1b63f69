/// @file kept_files.cc
/// @brief Settings files kept in memory while unchanged.

#include "system/kept_files.h"

#include <errno.h>
#include <sys/stat.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <unordered_map>

#include "system/secure_file.h"

namespace {

// Files kept at once; past it the cache starts afresh (a program reads a
// handful of settings files, the service a handful per installation).
constexpr size_t kKeptFilesMax = 64;
constexpr time_t kStillSeconds = 1;

struct Kept {
  FileStamp stamp;
  std::shared_ptr<const std::string> text;
  uint64_t checkedInRun = 0;
  // Not there when looked for in run checkedInRun: a run asks for many
  // settings files a site never writes, some once per index it searches.
  bool absent = false;
};

// The run under way (startKeptFilesRun); 0: none, every look checks.
std::atomic<uint64_t> g_run{0};
uint64_t g_lastRun = 0;
// The run of this thread alone (startKeptFilesThreadRun); 0: the process's.
thread_local uint64_t t_run = 0;

std::mutex keptMutex;
std::unordered_map<std::string, Kept>& keptFiles() {
  static auto* files = new std::unordered_map<std::string, Kept>();
  return *files;
}

}  // namespace

std::shared_ptr<const std::string> keptFileText(const std::string& path) {
  bool known;
  const uint64_t run = t_run != 0 ? t_run : g_run.load();
  {
    std::lock_guard<std::mutex> lock(keptMutex);
    const auto found = keptFiles().find(path);
    known = found != keptFiles().end();
    if (known && run != 0 && found->second.checkedInRun == run) {
      if (found->second.absent) errno = ENOENT;
      return found->second.text;
    }
    // Absent in an earlier run: looked for afresh.
    if (known && found->second.absent) known = false;
  }
  if (known) {
    // The status of what stands at the path now, a link not followed: the
    // kept text serves only while it is the same regular file.
    struct stat now;
    if (lstat(path.c_str(), &now) != 0) return nullptr;
    std::lock_guard<std::mutex> lock(keptMutex);
    const auto found = keptFiles().find(path);
    if (S_ISREG(now.st_mode) && found != keptFiles().end() &&
        found->second.stamp == FileStamp::of(now)) {
      found->second.checkedInRun = run;
      return found->second.text;
    }
  }
  // Opening refuses a link (ELOOP) and anything but a regular file (EINVAL)
  // as the look above did.
  struct stat opened;
  UniqueFd fd = openRegularFile(path, opened);
  if (!fd) {
    if (errno == ENOENT && run != 0) {
      std::lock_guard<std::mutex> lock(keptMutex);
      auto& files = keptFiles();
      if (files.size() >= kKeptFilesMax) files.clear();
      Kept& kept = files[path];
      kept = Kept{};
      kept.checkedInRun = run;
      kept.absent = true;
      errno = ENOENT;
    }
    return nullptr;
  }
  if (static_cast<size_t>(opened.st_size) > kKeptFileMax) {
    errno = EFBIG;
    return nullptr;
  }
  auto text = std::make_shared<std::string>();
  if (!readRegularAll(fd.get(), opened.st_size, *text, kKeptFileMax)) {
    errno = EFBIG;
    return nullptr;
  }
  // Kept under the status of the file actually read; a file that changed
  // while it was read is read anew next time, as its size or times differ.
  // File times move in clock ticks: a file changed within the last second
  // could change again, size kept, without its times telling. It is kept
  // only once it has been still for longer.
  struct timespec clock;
  clock_gettime(CLOCK_REALTIME, &clock);
  if (clock.tv_sec - opened.st_ctim.tv_sec <= kStillSeconds) return text;
  std::lock_guard<std::mutex> lock(keptMutex);
  auto& files = keptFiles();
  if (files.size() >= kKeptFilesMax) files.clear();
  files[path] = Kept{FileStamp::of(opened), text, run};
  return text;
}

void startKeptFilesRun() {
  std::lock_guard<std::mutex> lock(keptMutex);
  g_run = ++g_lastRun;
}

void endKeptFilesRun() {
  g_run = 0;
}

void startKeptFilesThreadRun() {
  std::lock_guard<std::mutex> lock(keptMutex);
  t_run = ++g_lastRun;
}

void endKeptFilesThreadRun() {
  t_run = 0;
}

void forgetKeptFiles() {
  std::lock_guard<std::mutex> lock(keptMutex);
  keptFiles().clear();
}
