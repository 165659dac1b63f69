/// @file bounded_run.h
/// @brief Runs a program that reads hostile input: fork and exec of its
/// words (no shell), with CPU time and address space limited in the child
/// before exec, a wall-clock deadline and a cap on the output it may write.
/// Past the deadline or the cap the child and everything it started is
/// killed; the caller learns which bound ended it.

#ifndef SEARCHRUN_COMPANIONS_EXTRACT_BOUNDED_RUN_H
#define SEARCHRUN_COMPANIONS_EXTRACT_BOUNDED_RUN_H

#include <cstddef>
#include <string>
#include <vector>

namespace extract {

struct RunBounds {
  int cpuSeconds = 0;           // RLIMIT_CPU; 0: inherited
  size_t addressBytes = 0;      // RLIMIT_AS; 0: inherited
  int wallMs = 0;               // killed after this long; 0: no deadline
  size_t maxOutput = 0;         // standard output kept; killed past it; 0: no cap
  size_t maxErrorBytes = 4096;  // standard error kept (the rest is read and dropped)
};

struct RunOutcome {
  enum class How {
    kExited,      // exitCode holds its status
    kSignalled,   // ended by `signal` (SIGXCPU, SIGKILL at RLIMIT_CPU's hard limit, SIGSEGV...)
    kTimedOut,    // killed at the deadline
    kOutputCap,   // killed for writing more than maxOutput
    kNotStarted,  // no pipe or no fork; the program missing shows as exit 127
  } how = How::kNotStarted;
  int exitCode = -1;
  int signal = 0;
  std::string out;
  std::string err;
};

// Runs argv (argv[0] looked up along PATH when it holds no "/") with its
// standard input from `inFd` (-1: /dev/null) and every other descriptor of
// this process closed. The child leads a process group of its own.
RunOutcome runBounded(const std::vector<std::string>& argv, int inFd, const RunBounds& bounds);

// Exit status of a child whose program could not be executed.
constexpr int kNotExecutedExitCode = 127;

}  // namespace extract

#endif  // SEARCHRUN_COMPANIONS_EXTRACT_BOUNDED_RUN_H
