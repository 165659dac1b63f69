/// @file index_schedule.h
/// @brief The schedule an index is kept fresh by: the folder it was built
/// from and the calendar on which a timer brings it up to date.
///
/// The record is a small key=value file in the index's home, written by the
/// builder when the index is created and read by each timed update. The
/// account that owns the index may write it, so its reader trusts nothing:
/// the source must be an absolute path and the calendar a plain token of
/// safe characters (it ends up in a unit file).

#ifndef SEARCHRUN_SYSTEM_INDEX_SCHEDULE_H
#define SEARCHRUN_SYSTEM_INDEX_SCHEDULE_H

#include <string>
#include <string_view>

// The record's name in an index's home.
constexpr const char* kScheduleFile = "schedule";
// A longer file is no record: a path of PATH_MAX bytes, each encoded, and a
// calendar.
constexpr size_t kMaxScheduleBytes = 3 * 4096 + 256;
// Longest calendar taken.
constexpr size_t kMaxCalendarChars = 128;

struct IndexSchedule {
  std::string source;    // absolute folder the updates read
  std::string calendar;  // a calendar expression of the timer, e.g. "daily"
};

// True for a calendar that can stand in a unit file as it is: 1 to 128
// letters, digits, blanks and "*-:,./~+", not beginning or ending with a
// blank. Nothing that a unit file would expand ("%"), continue ("\") or end
// (a line break) passes.
bool isSafeCalendar(std::string_view calendar);

// The record's text. REQUIRES: an absolute source and a safe calendar.
std::string formatIndexSchedule(const IndexSchedule& schedule);

// Reads a record's text. False with a message for anything but lines
// "SOURCE=<encoded absolute path>" and "CALENDAR=<safe calendar>", each once;
// lines of other keys and comments ("#") are passed over.
bool parseIndexSchedule(std::string_view text, IndexSchedule& schedule, std::string& error);

// Reads the record of the index in `home` (a regular file, never through a
// link). False with a message; `missing` tells whether there is no record
// at all, rather than one that cannot be read.
bool readIndexSchedule(const std::string& home, IndexSchedule& schedule, bool& missing,
                       std::string& error);

#endif  // SEARCHRUN_SYSTEM_INDEX_SCHEDULE_H
