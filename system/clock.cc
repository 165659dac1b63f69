/// @file clock.cc
/// @brief The time of day and waiting.

#include "system/clock.h"

#include <unistd.h>

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
