/// @file process_runner.h
/// @brief The one place that starts external programs and decodes how they
/// ended. Every run is synchronous.
///
/// No shell is involved: a command line is split into words by
/// GetArgvFromCmd and the first word is executed directly (found along the
/// search path when it holds no "/"), so no text of a command line is ever
/// read by a shell. A program that cannot be started ends its child with
/// exit status 127, the status a shell gives for a command not found.

#ifndef SEARCHRUN_SEARCH_PROCESS_RUNNER_H
#define SEARCHRUN_SEARCH_PROCESS_RUNNER_H

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "system/child_process.h"
#include "system/result_codes.h"
#include "system/scratch_files.h"

// Result codes of the runners.
constexpr int kExecNoChild = 1002;      // no child process could be created
constexpr int kExecFailed = 1003;       // did not end normally, ended with 205, or refused
constexpr int kExecEmptyResult = 1004;  // the result file was empty
constexpr int kExecNoFile = 1013;       // the output or result file could not be opened

// A child that ends with this exit code counts as a failed run.
constexpr int kExecReservedExitCode = kFailedRunExitStatus;
// Exit code of a child whose program could not be started.
constexpr int kExecNotFoundExitCode = kChildNotStartedExitCode;

// Wall-clock limit of one program run, in seconds, unless the run sets
// another: a program still running then is killed and its run fails.
constexpr int kDefaultProgramTimeLimit = 60;
// Most bytes getExecResultFromFile reads of a result file.
constexpr size_t kMaxResultBytes = 64u << 20;

// Longest command line that TS_system and the runners built on it accept.
constexpr size_t kMaxCommandLine = 1018;
// An argument vector has 20 entries and ends at its first empty one, so it
// passes at most 19 words.
constexpr int kArgvEntries = 20;
constexpr int kMaxArgvWords = kArgvEntries - 1;

// The words of a command line, at most kMaxArgvWords of them.
using CmdArgv = std::vector<std::string>;

// Splits `cmd` into words: blanks (spaces only) separate words; a word that
// starts with a double or single quote runs to the next quote of the same
// kind, quotes excluded; other words run to the next blank; there is no
// escape character and a word cut off by the end of the line ends there.
// Stores the first kMaxArgvWords words in `argv` (replacing its contents).
// Returns, and stores in `count`, the number of words of the line, which is
// above kMaxArgvWords when words were left out. A null cmd has no words.
int GetArgvFromCmd(const char* cmd, CmdArgv& argv, int& count);
// Empties `argv`; returns 0.
int FreeArgvOfCmd(CmdArgv& argv);

// Decodes a raw wait status. Returns the kind: 0 ended normally (`code` =
// exit code), 1 killed by a signal (`code` = signal number), 2 stopped
// (`code` = stop signal).
int GetExitCode(int status, int& code);

// Sets the wall-clock limit of every later program run (seconds; 0 or less
// restores kDefaultProgramTimeLimit). A program killed at the limit counts as
// killed by a signal (SIGKILL). Every child also ends with the run when a
// signal ends the run (system/child_process.h).
void setProgramTimeLimit(int seconds);

// The search library's process-wide state as the program starts (the
// default time limit): for a process that makes runs one after another.
void resetSearchRunState();

// The program TS_system runs for `cmd` (the same words, streams and time
// limit); false when TS_system would refuse the line.
bool programOfCommand(const char* cmd, ChildProgram& program);

// Runs `cmd` with standard output and standard error sent to /dev/null and
// returns the raw wait status. -1 when no child could be created, or when
// the line is refused: empty, longer than kMaxCommandLine characters or of
// more than kMaxArgvWords words.
int TS_system(const char* cmd);

// Writes "cmd:<cmd>\n" to `log` (when given), runs cmd with TS_system and
// opens `resultPath` for binary reading. Returns the stream (the caller
// closes it), or null when the file does not exist or is no regular file,
// the program could not be started (also logs "create process failed\n"),
// it failed: killed by a signal (the time limit included) or ended with
// kExecReservedExitCode (also logs "command failed\n"), or the result file
// is still as markResultUnwritten left it, or a memory scratch file never
// written (also logs "command wrote no result\n"). An empty file the
// program wrote is a search without hits.
FILE* ExecuteCmd(const char* cmd, const char* resultPath, FILE* log);

// Run `cmd` as TS_system does and return its exit code; kExecFailed when it
// did not end normally, ended with kExecReservedExitCode or was refused;
// kExecNoChild when no child could be created. A missing program gives 127.
int executed_wait(const char* cmd);
int executed_wait_with_high_priority(const char* cmd);
// `unusedText` and `unusedValue` are accepted for the callers' sake only.
int executed_wait_with_priority_setting(const char* cmd, const char* unusedText, int unusedValue);
// As executed_wait, but every failure (no child included) is kExecFailed.
int executed_wait_with_low_priority(const char* cmd, const char* unusedText);

// Runs `cmd` with the caller's standard streams (stdio buffers are flushed
// first) and returns the raw wait status; -1 as TS_system, except that no
// length limit applies.
int executed_ecgi(const char* cmd);

// Runs `cmd` with its standard output written to `outPath`, an existing
// regular file (a claimed scratch name) that is cut to zero length first.
// Returns 0 once the output file can be read back; kExecNoFile when it is
// missing or no regular file, kExecNoChild when no child could be
// created, kExecFailed when the line has no words or more than kMaxArgvWords,
// or the file cannot be opened afterwards. How the program ended is not
// examined: a program that could not be started leaves the file empty.
int getExecResultFromStdOut(const char* cmd, const char* outPath);

// Writes "cmd:<cmd>\n" to `log` (flushed), runs cmd with TS_system and
// appends `resultPath` (a regular file, at most kMaxResultBytes) to `result`. Returns 0;
// kExecNoFile when the file cannot be opened; kExecEmptyResult when `result` is still empty.
int getExecResultFromFile(const char* cmd, std::string& result, const char* resultPath, FILE* log);

#endif  // SEARCHRUN_SEARCH_PROCESS_RUNNER_H
