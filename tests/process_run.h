/// @file process_run.h
/// @brief The one way the tests run a program to its end: fork and exec of
/// its words (never a shell), its standard input fed and its standard output
/// and error read at once (a child that writes more than a pipe holds before
/// reading its input never stalls), within an optional time and output bound.

#ifndef SEARCHRUN_TESTS_PROCESS_RUN_H
#define SEARCHRUN_TESTS_PROCESS_RUN_H

#include <cstddef>
#include <limits>
#include <string>
#include <vector>

namespace testutil {

struct ProcessSpec {
  std::string path;                                       // the program, as execve takes it
  std::vector<std::string> args;                          // after argv[0] (the path)
  std::vector<std::string> env;                           // exactly this environment ("NAME=value")
  std::string cwd;                                        // working directory
  std::string input;                                      // standard input
  int limitMs = -1;                                       // killed after this long; -1: no bound
  size_t maxOutput = std::numeric_limits<size_t>::max();  // out + err, killed past it
  bool ownGroup = false;  // in a process group of its own, killed with it
};

struct ProcessResult {
  bool finished = false;  // exited by itself within the bounds
  bool killed = false;    // killed for a bound
  int exitStatus = -1;    // exit code, 128 + signal number when killed; 126: no such cwd,
                          // 127: no such program
  std::string out;
  std::string err;
  long maxRssKb = 0;  // the child's peak resident memory
};

ProcessResult runProcess(const ProcessSpec& spec);

}  // namespace testutil

#endif  // SEARCHRUN_TESTS_PROCESS_RUN_H
