/// @file log.cc
/// @brief The debug report log, the run clock and the daily search log.

#include "system/log.h"

#include <fcntl.h>
#include <strings.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "system/clock.h"
#include "system/config.h"
#include "system/fsutil.h"
#include "system/layout.h"
#include "system/lines.h"

namespace {

constexpr size_t kLogPathMax = 1023;
constexpr size_t kSwitchLineMax = 1022;

struct DebugState {
  std::string name;
  bool decided = false;
  bool on = false;
  bool oneUp = false;
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
  std::unique_ptr<FILE, FileCloser> in(fopen("system.debug.cfg", "r"));
  if (!in) {
    in.reset(fopen("../system.debug.cfg", "r"));
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
  const int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return;
  const ssize_t written = write(fd, line.data(), line.size());
  (void)written;  // a log line that cannot be written is dropped
  close(fd);
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
  std::unique_ptr<FILE, FileCloser> out(fopen(path.c_str(), "a"));
  if (!out) return;
  va_list args;
  va_start(args, format);
  vfprintf(out.get(), format, args);
  va_end(args);
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

void resetLogStateForTests() {
  debugState() = DebugState();
  runClock() = RunClock();
}
