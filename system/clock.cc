/// @file clock.cc
/// @brief The time of day and waiting.

#include "system/clock.h"

#include <unistd.h>

#include <cstdio>

namespace {

std::function<timeval()>& timeSource() {
  static std::function<timeval()> source;
  return source;
}

std::function<void(unsigned)>& sleeper() {
  static std::function<void(unsigned)> fn;
  return fn;
}

}  // namespace

timeval systemTimeOfDay() {
  if (timeSource()) return timeSource()();
  timeval tv;
  gettimeofday(&tv, nullptr);
  return tv;
}

void systemSleepSeconds(unsigned seconds) {
  if (sleeper()) {
    sleeper()(seconds);
  } else {
    sleep(seconds);
  }
}

struct tm systemLocalTime(time_t t) {
  struct tm out {};
  localtime_r(&t, &out);
  return out;
}

void setTimeSourceForTests(std::function<timeval()> source) {
  timeSource() = std::move(source);
}

void setSleeperForTests(std::function<void(unsigned)> fn) {
  sleeper() = std::move(fn);
}

// "yyyy/mm/dd<sep>hh:mm:ss.ms" in local time, milliseconds not padded.
std::string systemStampText(const timeval& tv, char separator) {
  const struct tm t = systemLocalTime(tv.tv_sec);
  char text[64];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d%c%02d:%02d:%02d.%d", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, separator, t.tm_hour, t.tm_min, t.tm_sec,
                static_cast<int>(tv.tv_usec / 1000));
  return text;
}

long long monotonicMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}
