/// @file log.cc
/// @brief The debug report log, the run clock and the daily search log.

#include "system/log.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "system/clock.h"
#include "system/config.h"
#include "system/fsutil.h"
#include "system/layout.h"
#include "system/lines.h"
#include "system/secure_file.h"

namespace {

int g_logPid = 0;

std::string pidPrefix() {
  return g_logPid > 0 ? "[" + std::to_string(g_logPid) + "]" : std::string();
}

// Prefixes every line of `text` that begins after a line break (or at the
// start, when `atLineStart`) with "[pid]-", unless it carries the prefix.
std::string prefixLines(const std::string& text, bool atLineStart) {
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

// The stream behind the run-time log: whole lines, prefixed, one write each.
struct RunLogCookie {
  int fd;
  std::string pending;
};

ssize_t runLogWrite(void* cookie, const char* data, size_t size) {
  auto* log = static_cast<RunLogCookie*>(cookie);
  log->pending.append(data, size);
  const size_t end = log->pending.rfind('\n');
  if (end != std::string::npos) {
    const std::string lines = prefixLines(log->pending.substr(0, end + 1), true);
    log->pending.erase(0, end + 1);
    // A line that cannot be written is dropped; the run goes on.
    writeAll(log->fd, lines);
  }
  return static_cast<ssize_t>(size);
}

int runLogClose(void* cookie) {
  auto* log = static_cast<RunLogCookie*>(cookie);
  if (!log->pending.empty()) writeAll(log->fd, prefixLines(log->pending + "\n", true));
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

constexpr size_t kLogPathMax = 1023;
constexpr size_t kSwitchLineMax = 1022;

struct DebugState {
  std::string name;
  bool decided = false;
  bool on = false;
  bool oneUp = false;
  bool atLineStart = true;
};

DebugState& debugState() {
  static DebugState state;
  return state;
}

bool isSwitchLine(const std::string& line, const std::string& name) {
  return strcasecmp(line.c_str(), "debug_mode=Y") == 0 ||
         strcasecmp(line.c_str(), (name + "=Y").c_str()) == 0;
}

void decideDebug(DebugState& s) {
  s.decided = true;
  std::unique_ptr<FILE, FileCloser> in(fopenRegular("system.debug.cfg"));
  if (!in) {
    in.reset(fopenRegular("../system.debug.cfg"));
    s.oneUp = true;
  }
  if (!in) return;
  std::string line;
  while (!s.on && readBoundedLine(in.get(), kSwitchLineMax, line))
    s.on = isSwitchLine(line, s.name);
  if (s.on) makeDirectory(s.oneUp ? "../debug" : "debug");
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

// "yyyy/mm/dd<sep>hh:mm:ss.ms" in local time, milliseconds not padded.
std::string stamp(const timeval& tv, char separator) {
  const struct tm t = systemLocalTime(tv.tv_sec);
  char text[64];
  snprintf(text, sizeof text, "%04d/%02d/%02d%c%02d:%02d:%02d.%d", t.tm_year + 1900, t.tm_mon + 1,
           t.tm_mday, separator, t.tm_hour, t.tm_min, t.tm_sec,
           static_cast<int>(tv.tv_usec / 1000));
  return text;
}

// One search-log field: tabs and line breaks would split the line.
std::string logField(const char* text) {
  if (text == nullptr) return "NULL";
  std::string field(text);
  for (char& c : field) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return field;
}

std::string searchLogPath(const timeval& begin) {
  const struct tm t = systemLocalTime(begin.tv_sec);
  char name[32];
  snprintf(name, sizeof name, "%04d%02d%02d.log", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
  return systemGetSystemQueryLogFile(name);
}

// Appends the whole line with one write so that concurrent runs never mix
// their lines.
void appendLine(const std::string& path, const std::string& line) {
  const UniqueFd fd = openAppendFile(path, 0640);
  if (fd) writeAll(fd.get(), line);  // a log line that cannot be written is dropped
}

}  // namespace

void SetLogFileName(const char* name) {
  std::string& stored = debugState().name;
  stored = name ? name : "";
  if (stored.size() > kLogPathMax) stored.resize(kLogPathMax);
}

void ReportLog(const char* format, ...) {
  DebugState& s = debugState();
  if (s.name.empty()) return;
  if (!s.decided) decideDebug(s);
  if (!s.on) return;
  const std::string path = std::string(s.oneUp ? "../debug/" : "debug/") + s.name;
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  const int n = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  std::string text(n > 0 ? static_cast<size_t>(n) : 0, '\0');
  if (n > 0) vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  if (text.empty()) return;
  const UniqueFd out = openAppendFile(path, 0640);
  if (!out) return;
  writeAll(out.get(), prefixLines(text, s.atLineStart));
  s.atLineStart = text.back() == '\n';
}

void setLogProcessId(int pid) {
  g_logPid = pid;
}

FILE* openRunTimeLog(const char* path, long long maxBytes) {
  if (path == nullptr) return nullptr;
  rotateIfLarge(path, maxBytes);
  UniqueFd fd = openAppendFile(path, 0640);
  if (!fd) return nullptr;
  auto* cookie = new RunLogCookie{fd.get(), std::string()};
  const cookie_io_functions_t io{nullptr, runLogWrite, nullptr, runLogClose};
  FILE* stream = fopencookie(cookie, "a", io);
  if (stream == nullptr) {
    delete cookie;
    return nullptr;
  }
  fd.release();
  return stream;
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
  fprintf(stream, "%s\t%s\n", label ? label : "", stamp(systemTimeOfDay(), '\t').c_str());
  fflush(stream);
}

void RecSearchLog(const timeval& begin, const timeval& end, unsigned /*indexCount*/,
                  unsigned recordCount, const char* text1, const char* text2, const char* text3,
                  const char* text4, const char* queryText) {
  if (getCfgFileTokenValue("../setting/ts_adv_log.cfg", "OutputQueryInfo") != "Y") return;
  std::string line = stamp(begin, '\t') + "\t" + stamp(end, '\t') + "\t";
  const char* fields[] = {
      getenv("REMOTE_ADDR"), text1, getenv("SERVER_NAME"), text2, text3, text4, queryText};
  for (const char* text : fields)
    line.append(logField(text)).append("\t");
  line.append(std::to_string(recordCount)).append("\n");
  appendLine(searchLogPath(begin), line);
}

void RecQueryLog(const timeval& when, const char* text1, const char* text2, const char* text3,
                 const char* text4, const char* queryText, int count) {
  const struct tm t = systemLocalTime(when.tv_sec);
  std::string line = std::to_string(t.tm_year + 1900) + "/" + std::to_string(t.tm_mon + 1) + "/" +
                     std::to_string(t.tm_mday) + "\t" + std::to_string(t.tm_hour) + ":" +
                     std::to_string(t.tm_min) + ":" + std::to_string(t.tm_sec) + "\t";
  const char* fields[] = {
      getenv("REMOTE_ADDR"), text1, getenv("SERVER_NAME"), text2, text3, text4, queryText};
  for (const char* text : fields)
    line.append(logField(text)).append("\t");
  line.append(std::to_string(count)).append("\n");
  appendLine("../logs/query.log", line);
}

bool GetSaveQueryTermLogFlag(const char* path) {
  std::unique_ptr<FILE, FileCloser> in(fopenRegular(path));
  int flag = 0;
  return in && fscanf(in.get(), "%d", &flag) == 1 && flag == 1;
}

void RecQueryTermLog(const char* queryText) {
  appendLine("../logs/query_term.log", logField(queryText) + "\n");
}

void resetLogStateForTests() {
  g_logPid = 0;
  debugState() = DebugState();
  runClock() = RunClock();
}
