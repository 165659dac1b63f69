/// @file clock.h
/// @brief The time of day and waiting, behind a switch that tests can turn.

#ifndef SEARCHRUN_SYSTEM_CLOCK_H
#define SEARCHRUN_SYSTEM_CLOCK_H

#include <sys/time.h>

#include <ctime>
#include <functional>
#include <string>

// The current time of day (gettimeofday unless a test replaced it).
timeval systemTimeOfDay();
// Waits the given number of seconds (unless a test replaced the waiting).
void systemSleepSeconds(unsigned seconds);

// CLOCK_MONOTONIC in milliseconds: for waits and limits, which a change of
// the time of day must not move.
long long monotonicMs();

// Local calendar time of t (the process's time zone).
struct tm systemLocalTime(time_t t);
// "yyyy/mm/dd<separator>hh:mm:ss.ms" of tv in local time (milliseconds not
// padded).
std::string systemStampText(const timeval& tv, char separator);

// For tests: replace the time source / the waiting; an empty function
// restores the real one.
void setTimeSourceForTests(std::function<timeval()> source);
void setSleeperForTests(std::function<void(unsigned)> sleeper);

#endif  // SEARCHRUN_SYSTEM_CLOCK_H
