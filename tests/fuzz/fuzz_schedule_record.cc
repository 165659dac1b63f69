/// @file fuzz_schedule_record.cc
/// @brief Arbitrary bytes as an index's schedule record, which the index's
/// account may write: a record taken names an absolute folder and a calendar
/// safe in a unit file, and reads back the same once written again.

#include <string>

#include "system/index_schedule.h"
#include "tests/fuzz/fuzz_scratch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  IndexSchedule schedule;
  std::string error;
  if (!parseIndexSchedule(text, schedule, error)) {
    fuzzscratch::check(!error.empty());
    return 0;
  }
  fuzzscratch::check(!schedule.source.empty() && schedule.source[0] == '/' &&
                     schedule.source.find('\0') == std::string::npos);
  fuzzscratch::check(isSafeCalendar(schedule.calendar) &&
                     schedule.calendar.find_first_of("\n\r%\\") == std::string::npos);
  IndexSchedule again;
  fuzzscratch::check(parseIndexSchedule(formatIndexSchedule(schedule), again, error) &&
                     again.source == schedule.source && again.calendar == schedule.calendar);
  return 0;
}
