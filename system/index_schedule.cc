/// @file index_schedule.cc
/// @brief The schedule record of an index: its text, and a reader that
/// takes only a well-formed record.

#include "system/index_schedule.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "system/recorded_path.h"
#include "system/secure_file.h"

namespace {

constexpr std::string_view kSourceKey = "SOURCE";
constexpr std::string_view kCalendarKey = "CALENDAR";

bool isCalendarChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
         std::strchr(" *-:,./~+", c) != nullptr;
}

// Takes `value` for the key once; false with a message on a second line.
bool takeOnce(std::string_view key, std::string_view value, bool& seen, std::string& out,
              std::string& error) {
  if (seen) {
    error = "the schedule names " + std::string(key) + " twice";
    return false;
  }
  seen = true;
  out = value;
  return true;
}

}  // namespace

bool isSafeCalendar(std::string_view calendar) {
  if (calendar.empty() || calendar.size() > kMaxCalendarChars) return false;
  if (calendar.front() == ' ' || calendar.back() == ' ') return false;
  for (char c : calendar)
    if (c == '\0' || !isCalendarChar(c)) return false;
  return true;
}

std::string formatIndexSchedule(const IndexSchedule& schedule) {
  return "# The folder this index is updated from, and when (a calendar of the timer).\n" +
         std::string(kSourceKey) + "=" + encodeRecordedPath(schedule.source) + "\n" +
         std::string(kCalendarKey) + "=" + schedule.calendar + "\n";
}

bool parseIndexSchedule(std::string_view text, IndexSchedule& schedule, std::string& error) {
  if (text.size() > kMaxScheduleBytes) {
    error = "the schedule is too long";
    return false;
  }
  std::string encodedSource, calendar;
  bool haveSource = false, haveCalendar = false;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (line.empty() || line.front() == '#') continue;
    const size_t eq = line.find('=');
    const std::string_view key = line.substr(0, eq);
    const std::string_view value = eq == std::string_view::npos ? "" : line.substr(eq + 1);
    if (key == kSourceKey) {
      if (!takeOnce(key, value, haveSource, encodedSource, error)) return false;
    } else if (key == kCalendarKey) {
      if (!takeOnce(key, value, haveCalendar, calendar, error)) return false;
    }
  }
  IndexSchedule got;
  if (!haveSource || !decodeRecordedPath(encodedSource, got.source) || got.source.empty() ||
      got.source.front() != '/' || got.source.find('\0') != std::string::npos) {
    error = "the schedule names no absolute source folder";
    return false;
  }
  if (!haveCalendar || !isSafeCalendar(calendar)) {
    error = "the schedule names no calendar of safe characters";
    return false;
  }
  got.calendar = calendar;
  schedule = got;
  return true;
}

bool readIndexSchedule(const std::string& home, IndexSchedule& schedule, bool& missing,
                       std::string& error) {
  const std::string path = home + "/" + kScheduleFile;
  struct stat st;
  missing = lstat(path.c_str(), &st) != 0 && errno == ENOENT;
  std::string text;
  if (missing || !readRegularFile(path, text, kMaxScheduleBytes)) {
    error = missing ? "no schedule is recorded in " + home
                    : path + " cannot be read (it must be a regular file, not a link)";
    return false;
  }
  if (parseIndexSchedule(text, schedule, error)) return true;
  error = path + ": " + error;
  return false;
}
