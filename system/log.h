/// @file log.h
/// @brief The debug report log, the run clock and the daily search log.
///
/// Every entry reaches its file before the call returns, save the run-time
/// log's lines while they are held (holdRunTimeLogLines). A log that cannot
/// be opened is skipped silently.

#ifndef SEARCHRUN_SYSTEM_LOG_H
#define SEARCHRUN_SYSTEM_LOG_H

#include <sys/time.h>

#include <cstdio>
#include <string>

#include "system/search_log_line.h"

// Where the debug log and the search log go. The threaded editions keep
// the files and switches their sites have always had:
// - the debug log is switched on only by a line equal (ignoring case) to
//   the log name followed by "=Y" in "ts.debug" of the working directory,
//   and written to the log name there ("ts_debug.log" when no name is set);
// - the search log is switched on by the line "EnabledSearchInfo=Y" of
//   "../setting/ts_adv_log.cfg", and every search goes to the one file
//   "../index_log/search.log"; reading the switch is told in the debug log.
enum class LogForm { kNewer, kThreaded };
// Chosen once, before the first entry of the run.
void setLogForm(LogForm form);
LogForm logForm();

// Names the debug log of this run ("searchrun.log"); an empty name keeps the
// debug log off.
void SetLogFileName(const char* name);

// Appends the formatted text (no time stamp, no line break added) to the
// debug log when debug is on. Whether it is on is decided at the first call
// with a log name: "system.debug.cfg" in the working directory, or else one
// level up, holds a line equal (ignoring case) to "debug_mode=Y" or to the
// log name followed by "=Y". The log is then "debug/<name>", or
// "../debug/<name>" when the switch file was found one level up; the
// directory is created when missing.
void ReportLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Starts the run clock.
void initRunInfo();
// Milliseconds since initRunInfo and since the previous reading (or since
// initRunInfo for the first); makes this reading the previous one.
void getTimeInfo(unsigned& elapsed, unsigned& delta);
// Writes "<elapsed>,<delta>: <label>\n" and flushes. Nothing for a NULL stream.
void logTimeInfo(FILE* stream, const char* label);
// Writes "<label>\t<yyyy/mm/dd>\t<hh:mm:ss>.<ms>\n" (milliseconds not padded)
// with the local time of now and flushes. Nothing for a NULL stream.
void print_time_info(FILE* stream, const char* label);

// Appends one line to the day's search log when "OutputQueryInfo" of
// "../setting/ts_adv_log.cfg" is exactly "Y". The file is
// <search-log directory>/<yyyymmdd>.log, named by the local date of begin.
// The line: begin and end as "yyyy/mm/dd\thh:mm:ss.ms\t", then, tab-separated,
// REMOTE_ADDR, text1, SERVER_NAME, text2, text3, text4, queryText and
// recordCount. A missing environment variable or NULL text is written
// "NULL"; tabs and line breaks inside a text become blanks so that one search
// is always one line. indexCount is not written.
void RecSearchLog(const timeval& begin, const timeval& end, unsigned indexCount,
                  unsigned recordCount, const char* text1, const char* text2, const char* text3,
                  const char* text4, const char* queryText);

// A search that failed (message `code`, such as "0004") gets the line of
// RecSearchLog with a count of 0 and one field more: kFailedSearchMark and
// the code. Readers of the 12 fields of a line still read it.
void RecFailedSearchLog(const timeval& begin, const timeval& end, const char* text1,
                        const char* text2, const char* text3, const char* text4,
                        const char* queryText, const char* code);

// The query log of the threaded editions: appends to "../logs/query.log"
// the local date and time of `when` (not padded), then, tab-separated,
// REMOTE_ADDR, text1, SERVER_NAME, text2 to text4, queryText and count (a
// missing text is "NULL"; tabs and line breaks in a text become blanks).
void RecQueryLog(const timeval& when, const char* text1, const char* text2, const char* text3,
                 const char* text4, const char* queryText, int count);
// True when the first number in `path` is 1: queries are then also appended,
// one a line, to "../logs/query_term.log" by RecQueryTermLog.
bool GetSaveQueryTermLogFlag(const char* path = "save_query_term.log");
void RecQueryTermLog(const char* queryText);

// Sets the process id that begins every line of the debug log ("[pid]-")
// and of the run-time log opened by openRunTimeLog; 0 (the start value)
// writes no prefix.
void setLogProcessId(int pid);

// Opens the run-time log at `path` for appending: created with mode 0640
// when missing; never through a symbolic link, never anything but a regular
// file (a FIFO cannot stall the run). When the file has grown beyond
// `maxBytes` (0: no limit), it is first renamed to `path` + ".1" (replacing
// the older one) and a fresh file begins. Every line written to the stream
// reaches the file whole, in one write, prefixed with "[pid]-" unless it
// begins with "[pid]" already, so that lines of concurrent runs never mix
// and each can be told apart. Null when the log cannot be opened.
FILE* openRunTimeLog(const char* path, long long maxBytes);

// Whether the run-time logs opened from now on hold their lines in memory
// (up to 64 KB each) instead of writing each line at once. Held lines are
// written, whole and in order, by writeHeldLogLines, when their log is
// closed, and when the process exits: a run that waits anyway, for the
// engine or a program, writes them then rather than stopping for each.
void holdRunTimeLogLines(bool hold);
void writeHeldLogLines();

// Every line of `text` that begins after a line break (or at the start,
// when `atLineStart`) prefixed with "[pid]-" (setLogProcessId), unless it
// carries the prefix; for the writers of the logs.
std::string prefixLogLines(const std::string& text, bool atLineStart);

// Back to the start of a program: resetRunLogState forgets the process id,
// the log form and the run clock; resetLogState those and the debug log's
// name and decision.
void resetLogState();
void resetRunLogState();

#endif  // SEARCHRUN_SYSTEM_LOG_H
