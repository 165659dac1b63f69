/// @file child_process.h
/// @brief Children of a run: started without a shell, waited for with a
/// wall-clock limit, and never left behind when the run itself is ended by
/// a signal (the web server gives up on a request, the client goes away).

#ifndef SEARCHRUN_SYSTEM_CHILD_PROCESS_H
#define SEARCHRUN_SYSTEM_CHILD_PROCESS_H

#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// How a wait ended.
enum class ChildWait {
  kEnded,     // the child ended; its raw wait status is stored
  kTimedOut,  // the limit passed: the child was killed (SIGKILL) and reaped
  kFailed,    // the child could not be waited for
};

// Waits for `pid` at most `limitMs` milliseconds (0 or less: no limit).
// Interruptions by signals are retried. A child still running at the limit
// is killed and reaped, so it never outlives the wait. A reaped child is
// unregistered.
ChildWait waitForChild(pid_t pid, int limitMs, int& rawStatus);

// A program to run as a child, without a shell.
struct ChildProgram {
  // argv[0] is the program: found along PATH when it holds no "/".
  std::vector<std::string> argv;
  // The environment, "NAME=value" each; empty: this process's own.
  std::vector<std::string> env;
  enum class Streams {
    kInherit,  // the caller's standard streams (stdio buffers are flushed first)
    kQuiet,    // standard output and error to /dev/null
    kToFd,     // standard output to `outFd`
  } streams = Streams::kInherit;
  int outFd = -1;
  // Standard input from this descriptor; -1: the caller's.
  int inFd = -1;
  // Wall-clock limit in milliseconds (0 or less: none).
  int limitMs = 0;
  // Work of the caller done once the child runs, before the wait (never
  // when no child started); its time counts against the limit. The child
  // is killed if the run is ended by a signal meanwhile.
  std::function<void()> whileRunning;
};

// Exit status of a child whose program could not be started (as a shell
// answers for a command not found).
constexpr int kChildNotStartedExitCode = 127;

struct ChildOutcome {
  enum class How {
    kEnded,     // the child ended by itself; rawStatus is its wait status
    kTimedOut,  // killed at the limit; rawStatus is the wait status (SIGKILL)
    kNoChild,   // no child could be made
    kWaitFailed,
  } how = How::kNoChild;
  int rawStatus = -1;
};

// Starts the program as a registered child (see below) and waits for it.
// The one place the system starts programs and waits for them. A program
// whose output is not wanted (kQuiet, the caller's environment and input)
// may be run by the program service instead, when one is set.
ChildOutcome runChildProgram(const ChildProgram& program);

// runChildProgram in two parts, for a child that is to run while the caller
// goes on (never through the program service). Starts the program as a
// registered child: its pid, or -1 with `outcome` what runChildProgram
// would have answered. The program's limit and work are not used here.
pid_t startChildProgram(const ChildProgram& program, ChildOutcome& outcome);
// Waits for a child startChildProgram started, as runChildProgram does:
// `whileRunning` first (its time counting), then at most `limitMs`.
ChildOutcome awaitChildProgram(pid_t pid, int limitMs,
                               const std::function<void()>& whileRunning = {});

// Runs some programs without a process of their own, as a resident server
// runs the engine programs: starting a process costs more than many of
// their runs. A run it takes ends as the program's own would: the same
// files written, the same exit status, killed (kTimedOut) at the limit.
class ProgramService {
 public:
  // True, with `outcome`, when the service made the run; false when the
  // program must be started (not one of the service's, or the service is
  // not there or did not take it up).
  virtual bool run(const ChildProgram& program, ChildOutcome& outcome) = 0;
  // Hands over runs that are to come, so that they run at once and side by
  // side; each is claimed by the later runChildProgram of the same argv and
  // limit. Programs the service does not run are left for then.
  virtual void prefetch(const std::vector<ChildProgram>& programs) = 0;
  // Gives up a run handed over by prefetch that will never be claimed: the
  // service is told to leave it, so that it writes none of its files.
  virtual void forget(const ChildProgram& program) { (void)program; }
  // Makes the run of a program whose standard output is the answer of this
  // process (the page renderer) and hands back what it wrote, for the
  // caller to write: true, with `outcome` and `output`, when the service
  // made the run. The program's whileRunning work is done once the run is
  // handed over; `workDone` says whether it was, also when false is given
  // back (nothing was written then, and the program is to be started
  // without that work). `givenFd`, when not -1, is the open file the
  // program's first word names, to go along rather than be read from disk.
  virtual bool runForOutput(const ChildProgram& program, ChildOutcome& outcome, std::string& output,
                            bool& workDone, int givenFd) {
    (void)program, (void)outcome, (void)output, (void)givenFd;
    workDone = false;
    return false;
  }
  // Whether runForOutput may take the program at `path`: it is one of the
  // service's, and the service is there.
  virtual bool takesOutputOf(const std::string& path) {
    (void)path;
    return false;
  }

 protected:
  ~ProgramService() = default;
};

// The service of this process (null: none, the default); not owned.
void setProgramService(ProgramService* service);
// The service's runForOutput and takesOutputOf; false without a service.
bool runProgramForOutput(const ChildProgram& program, ChildOutcome& outcome, std::string& output,
                         bool& workDone, int givenFd = -1);
bool serviceTakesOutputOf(const std::string& path);
// Hands `programs` to the service ahead of their runs; nothing without one.
void prefetchPrograms(const std::vector<ChildProgram>& programs);
// Removes the scratch output `path` of `program`, a run that may have been
// handed over and never claimed: the service is told to leave the run first,
// so that it cannot write the file again after it is gone.
void removeScratchOutput(const ChildProgram& program, const std::string& path);

// fork() for a child that the run waits for: the child is registered (see
// below) before any ending signal can be handled, so it can never be missed.
// Returns as fork does; in the child the signal mask is the caller's.
pid_t forkRegisteredChild();

// While a child runs, it is registered so that a signal ending the run can
// end the child too. At most a handful run at once (one, in practice).
void registerChild(pid_t pid);
void unregisterChild(pid_t pid);

// Installs handlers for SIGTERM, SIGINT, SIGHUP and SIGPIPE that kill every
// registered child and then end the process with the signal's default
// action. Idempotent.
void endChildrenWithRun();

// The end of a run in a process that goes on to make others: every
// registered child still running is killed with its group and reaped (one
// already reaped elsewhere is only forgotten), the signal handlers of
// endChildrenWithRun give way to what was there before, and the service is
// dropped.
void endRunChildren();

#endif  // SEARCHRUN_SYSTEM_CHILD_PROCESS_H
