/// @file log.cc
/// @brief The debug report log, the run clock and the daily search log.

#include "system/log.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "system/clock.h"
#include "system/config.h"
#include "system/fsutil.h"
#include "system/layout.h"
#include "system/lines.h"
#include "system/secure_file.h"

namespace {

int g_logPid = 0;
LogForm g_logForm = LogForm::kNewer;

std::string pidPrefix() {
  return g_logPid > 0 ? "[" + std::to_string(g_logPid) + "]" : std::string();
}

}  // namespace

void setLogForm(LogForm form) {
  g_logForm = form;
}

LogForm logForm() {
  return g_logForm;
}

std::string prefixLogLines(const std::string& text, bool atLineStart) {
  const std::string prefix = pidPrefix();
  if (prefix.empty()) return text;
  std::string out;
  out.reserve(text.size() + prefix.size() + 1);
  bool start = atLineStart;
  for (size_t i = 0; i < text.size(); ++i) {
    if (start && text.compare(i, prefix.size(), prefix) != 0) out += prefix + "-";
    out += text[i];
    start = text[i] == '\n';
  }
  return out;
}

namespace {

// The stream behind the run-time log: whole lines, prefixed, one write
// each, or held for writeHeldLogLines (holdRunTimeLogLines).
struct RunLogCookie {
  int fd;
  std::string pending;  // the start of a line not yet ended
  bool hold;
  std::mutex heldMutex;
  std::string held;  // whole, prefixed lines not yet written
};

bool g_holdLines = false;
// Memory held for one log at most: past it the lines are written at once.
constexpr size_t kMaxHeldLogBytes = 64 * 1024;

std::mutex g_openLogsMutex;
std::vector<RunLogCookie*>& openLogs() {
  static auto* logs = new std::vector<RunLogCookie*>();
  return *logs;
}

void writeHeld(RunLogCookie& log) {
  std::string lines;
  {
    std::lock_guard<std::mutex> lock(log.heldMutex);
    lines.swap(log.held);
  }
  // A line that cannot be written is dropped; the run goes on.
  if (!lines.empty()) writeAll(log.fd, lines);
}

ssize_t runLogWrite(void* cookie, const char* data, size_t size) {
  auto* log = static_cast<RunLogCookie*>(cookie);
  log->pending.append(data, size);
  const size_t end = log->pending.rfind('\n');
  if (end != std::string::npos) {
    std::string lines = prefixLogLines(log->pending.substr(0, end + 1), true);
    log->pending.erase(0, end + 1);
    if (log->hold) {
      bool full;
      {
        std::lock_guard<std::mutex> lock(log->heldMutex);
        log->held += lines;
        full = log->held.size() >= kMaxHeldLogBytes;
      }
      if (full) writeHeld(*log);
    } else {
      writeAll(log->fd, lines);
    }
  }
  return static_cast<ssize_t>(size);
}

int runLogClose(void* cookie) {
  auto* log = static_cast<RunLogCookie*>(cookie);
  {
    std::lock_guard<std::mutex> lock(g_openLogsMutex);
    auto& logs = openLogs();
    logs.erase(std::remove(logs.begin(), logs.end(), log), logs.end());
  }
  writeHeld(*log);
  if (!log->pending.empty()) writeAll(log->fd, prefixLogLines(log->pending + "\n", true));
  const int rc = close(log->fd);
  delete log;
  return rc;
}

void rotateIfLarge(const char* path, long long maxBytes) {
  struct stat st;
  if (maxBytes <= 0 || lstat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= maxBytes)
    return;
  // Another run may rotate at the same moment; either rename wins and the
  // other finds the fresh file, so no line is ever lost, only an old file.
  rename(path, (std::string(path) + ".1").c_str());
}

struct RunClock {
  uint32_t startSecond = 0;
  uint32_t startOffset = 0;
  uint32_t previous = 0;
};

RunClock& runClock() {
  static RunClock clock;
  return clock;
}

uint32_t clockReading(const RunClock& c) {
  const timeval now = systemTimeOfDay();
  return (static_cast<uint32_t>(now.tv_sec) - c.startSecond) * 1000u +
         static_cast<uint32_t>(now.tv_usec / 1000);
}

}  // namespace

void setLogProcessId(int pid) {
  g_logPid = pid;
}

FILE* openRunTimeLog(const char* path, long long maxBytes) {
  if (path == nullptr) return nullptr;
  rotateIfLarge(path, maxBytes);
  UniqueFd fd = openAppendFile(path, 0640);
  if (!fd) return nullptr;
  auto* cookie = new RunLogCookie{fd.get(), std::string(), g_holdLines, {}, std::string()};
  const cookie_io_functions_t io{nullptr, runLogWrite, nullptr, runLogClose};
  FILE* stream = fopencookie(cookie, "a", io);
  if (stream == nullptr) {
    delete cookie;
    return nullptr;
  }
  fd.release();
  if (cookie->hold) {
    std::lock_guard<std::mutex> lock(g_openLogsMutex);
    openLogs().push_back(cookie);
  }
  return stream;
}

void holdRunTimeLogLines(bool hold) {
  static const bool registered = atexit(writeHeldLogLines) == 0;
  (void)registered;
  g_holdLines = hold;
}

void writeHeldLogLines() {
  std::lock_guard<std::mutex> lock(g_openLogsMutex);
  for (RunLogCookie* log : openLogs())
    writeHeld(*log);
}

void initRunInfo() {
  RunClock& c = runClock();
  c.startSecond = static_cast<uint32_t>(systemTimeOfDay().tv_sec);
  c.startOffset = clockReading(c);
  c.previous = c.startOffset;
}

void getTimeInfo(unsigned& elapsed, unsigned& delta) {
  RunClock& c = runClock();
  const uint32_t now = clockReading(c);
  elapsed = now - c.startOffset;
  delta = now - c.previous;
  c.previous = now;
}

void logTimeInfo(FILE* stream, const char* label) {
  if (stream == nullptr) return;
  unsigned elapsed, delta;
  getTimeInfo(elapsed, delta);
  fprintf(stream, "%u,%u: %s\n", elapsed, delta, label ? label : "");
  fflush(stream);
}

void print_time_info(FILE* stream, const char* label) {
  if (stream == nullptr) return;
  fprintf(stream, "%s\t%s\n", label ? label : "", systemStampText(systemTimeOfDay(), '\t').c_str());
  fflush(stream);
}

void resetRunLogState() {
  g_logPid = 0;
  g_holdLines = false;
  g_logForm = LogForm::kNewer;
  runClock() = RunClock();
}
