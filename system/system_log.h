/// @file system_log.h
/// @brief The dated system log that other programs of the system keep under
/// ../system_log/index/<name>/.
///
/// The owner argument is accepted for the callers' sake and not used.

#ifndef SEARCHRUN_SYSTEM_SYSTEM_LOG_H
#define SEARCHRUN_SYSTEM_SYSTEM_LOG_H

#include <cstdio>
#include <string>

// Value that means "no value" for writeDataToLog.
constexpr int kNoLogValue = 3276;

// Creates ../system_log, ../system_log/index and ../system_log/index/<name>
// where missing and returns the last.
std::string getLogDirectory(const char* owner, const char* name);
// getLogDirectory + "/" + file.
std::string getLogFile(const char* owner, const char* name, const char* file);

// Opens the log file for appending and writes "----- [OPEN] <date time> -----".
// NULL when it cannot be opened; the caller closes it with closeLogFile.
FILE* openLogFile(const char* owner, const char* name, const char* file);
// Writes the same opening line to a stream opened elsewhere.
void setLogFileOpen(FILE* stream);
// Writes "[<date time>.<number, 4 digits or more>] <text>", then " [<extra>]"
// for each non-NULL extra, then " [<value>]" unless value is kNoLogValue,
// and a line feed; flushes. Nothing for a NULL stream.
void writeDataToLog(FILE* stream, int number, const char* text, const char* extra1,
                    const char* extra2, int value);
// Writes "----- [CLOSE] <date time> -----" and closes the stream.
void closeLogFile(FILE* stream);

// The local date and time of now as "yyyy/mm/dd hh:mm:ss".
std::string outputDateTime();

#endif  // SEARCHRUN_SYSTEM_SYSTEM_LOG_H
