/// @file report_log.cc
/// @brief The debug report log. Apart from the other logs so that an
/// edition without it holds none of its code.

#include <strings.h>

#include <cstdarg>
#include <cstdio>
#include <memory>
#include <string>

#include "system/fsutil.h"
#include "system/lines.h"
#include "system/log.h"
#include "system/secure_file.h"

namespace {

constexpr size_t kLogPathMax = 1023;

constexpr size_t kSwitchLineMax = 1022;

struct DebugState {
  std::string name;
  bool decided = false;
  bool on = false;
  bool oneUp = false;
  bool atLineStart = true;
  std::string path;  // of the log, once decided
};

DebugState& debugState() {
  static DebugState state;
  return state;
}

bool isSwitchLine(const std::string& line, const std::string& name, bool threaded) {
  return (!threaded && strcasecmp(line.c_str(), "debug_mode=Y") == 0) ||
         strcasecmp(line.c_str(), (name + "=Y").c_str()) == 0;
}

void decideDebug(DebugState& s) {
  s.decided = true;
  const bool threaded = logForm() == LogForm::kThreaded;
  std::unique_ptr<FILE, FileCloser> in(fopenRegular(threaded ? "ts.debug" : "system.debug.cfg"));
  if (!in && !threaded) {
    in.reset(fopenRegular("../system.debug.cfg"));
    s.oneUp = true;
  }
  if (!in) return;
  std::string line;
  while (!s.on && readBoundedLine(in.get(), kSwitchLineMax, line))
    s.on = isSwitchLine(line, s.name, threaded);
  if (threaded) {
    s.path = s.name.empty() ? "ts_debug.log" : s.name;
  } else {
    s.path = std::string(s.oneUp ? "../debug/" : "debug/") + s.name;
    if (s.on) makeDirectory(s.oneUp ? "../debug" : "debug");
  }
}

}  // namespace

void SetLogFileName(const char* name) {
  std::string& stored = debugState().name;
  stored = name ? name : "";
  if (stored.size() > kLogPathMax) stored.resize(kLogPathMax);
}

void ReportLog(const char* format, ...) {
  DebugState& s = debugState();
  if (s.name.empty() && logForm() != LogForm::kThreaded) return;
  if (!s.decided) decideDebug(s);
  if (!s.on) return;
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
  const UniqueFd out = openAppendFile(s.path, 0640);
  if (!out) return;
  writeAll(out.get(), prefixLogLines(text, s.atLineStart));
  s.atLineStart = text.back() == '\n';
}

void resetLogState() {
  resetRunLogState();
  debugState() = DebugState();
}
