/// @file run_handoff.h
/// @brief Handing a whole program run to a resident worker. A CGI program
/// started for every request pays, on each request, for a fresh process
/// image to be mapped, faulted in and torn down again; a worker that stays
/// does not. The process the web server starts passes its standard streams,
/// arguments, environment, umask and working directory to an idle worker,
/// waits, and ends with the run's exit status; the worker makes the run as
/// the program would, restores itself to its state before the run, and
/// waits for the next.
///
/// A run is handed over only when a worker takes it up at once: when none
/// listens, none is idle within a moment, or the worker's directory is not
/// the caller's, the caller makes the run itself and nothing of it has
/// happened elsewhere.

#ifndef SEARCHRUN_SYSTEM_RUN_HANDOFF_H
#define SEARCHRUN_SYSTEM_RUN_HANDOFF_H

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace handoff {

// What a run needs beyond its three standard streams.
struct HandedRun {
  std::string cwd;
  mode_t umask = 022;
  std::vector<std::string> args;
  std::vector<std::string> env;
};

// Most bytes of a run's words, environment and directory together.
constexpr size_t kMaxRequestBytes = 1 << 20;

std::string encodeRun(const HandedRun& run);
// False for anything that is not one complete, well-formed run.
bool decodeRun(std::string_view bytes, HandedRun& run);

constexpr int kNotHandedOver = -1;

// Below an installation: where its workers take requests, and the whole
// query program a request falls back to.
constexpr const char* kFrontSocketPath = "/run/front.sock";
constexpr const char* kFullProgramPath = "/binind/searchrun.full";
// How long a caller waits for an idle worker before it makes the run itself.
constexpr int kDefaultTakeUpMs = 250;

// Hands this process's run (its standard streams 0-2, `args`, `env`, umask
// and working directory) to a worker listening on `socketPath` and waits for
// it. Returns the run's exit status (128 + a signal's number for a run a
// signal ended), or kNotHandedOver when no worker took it up within
// `takeUpMs`: the caller then makes the run itself.
int handOver(const std::string& socketPath, const std::vector<std::string>& args,
             const std::vector<std::string>& env, int takeUpMs = kDefaultTakeUpMs);

// The process the web server started for the run being made: the caller
// while a worker makes a handed run, else this process. It names the run in
// logs, where a worker's own pid would be the same for many runs.
pid_t runProcessId();

// What a worker runs: the program's main, and what puts the program's
// process-wide state back as it was before the first run.
struct Program {
  int (*main)(int argc, char** argv) = nullptr;
  void (*reset)() = nullptr;
  // The program's own state keeps descriptors from one run to the next
  // (open indexes, say). Which descriptors a run left open cannot then be
  // told from those, so none is closed behind the state's back: a worker
  // that holds more than kMaxKeptDescriptors after a run is replaced
  // instead, which bounds what runs leak.
  bool keepsDescriptors = false;
};

constexpr size_t kMaxKeptDescriptors = 512;

struct ServeOptions {
  size_t workers = 4;
  // A worker makes at most this many runs, then makes room for a fresh one:
  // what a run leaks stays bounded.
  size_t runsPerWorker = 1000;
};

// The words of a program started as the workers' server: "--serve SOCKET
// [--workers N]" (N from 1 to 64), from argv[1] on. False for any others.
bool readServeWords(int argc, char** argv, std::string& socketPath, ServeOptions& options);

// Listens on `socketPath` (replacing a socket left there; only this account
// may connect) and keeps `options.workers` worker processes serving it, each
// making runs of `program` one at a time in the working directory this
// process has. A worker that ends (a run that exited or was killed, or its
// runs used up) is replaced. Returns, with the workers ended, when SIGTERM
// or SIGINT arrives (0), or when the socket cannot be made (1).
int serveRuns(const std::string& socketPath, const Program& program, const ServeOptions& options);

}  // namespace handoff

#endif  // SEARCHRUN_SYSTEM_RUN_HANDOFF_H
