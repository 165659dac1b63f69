/// @file child_process.cc
/// @brief Bounded waits for children, and children that end with the run.

#include "system/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <initializer_list>
#include <iterator>

#include "system/clock.h"
#include "system/log.h"
#include "system/run_deadline.h"
#include "system/scratch_files.h"

extern char** environ;

namespace {

constexpr int kSlots = 8;
std::atomic<pid_t> g_children[kSlots];

constexpr int kEndingSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGPIPE};
// What the ending signals did before endChildrenWithRun, while its
// handlers are installed.
struct sigaction g_actionsBefore[std::size(kEndingSignals)];
bool g_handlersInstalled = false;

bool reapNow(pid_t pid, int& rawStatus, bool& failed) {
  for (;;) {
    const pid_t got = waitpid(pid, &rawStatus, WNOHANG);
    if (got == pid) return true;
    if (got == 0) return false;
    if (errno == EINTR) continue;
    failed = true;
    return false;
  }
}

// A child leads a process group of its own, so what it started ends with
// it; a child that has not made its group yet is killed alone.
void killWithGroup(pid_t pid) {
  if (kill(-pid, SIGKILL) != 0) kill(pid, SIGKILL);
}

void killAndReap(pid_t pid, int& rawStatus) {
  killWithGroup(pid);
  while (waitpid(pid, &rawStatus, 0) < 0 && errno == EINTR) {
  }
}

// A descriptor that becomes readable when the child ends, so the wait needs
// no polling; -1 where the kernel has none.
int childEndDescriptor(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

void onEndingSignal(int sig) {
  for (std::atomic<pid_t>& slot : g_children) {
    const pid_t pid = slot.load();
    if (pid > 0) killWithGroup(pid);
  }
  signal(sig, SIG_DFL);
  raise(sig);
}

ChildWait waitBounded(pid_t pid, int limitMs, int& rawStatus);

}  // namespace

ChildWait waitForChild(pid_t pid, int limitMs, int& rawStatus) {
  const ChildWait how = waitBounded(pid, limitMs, rawStatus);
  if (how != ChildWait::kFailed) unregisterChild(pid);
  return how;
}

namespace {

ChildWait waitBounded(pid_t pid, int limitMs, int& rawStatus) {
  rawStatus = 0;
  // The run waits here anyway: its log lines are written meanwhile.
  writeHeldLogLines();
  limitMs = boundedByRun(limitMs);
  const int clientFd = runClientFd();
  if (limitMs <= 0 && clientFd < 0) {
    while (waitpid(pid, &rawStatus, 0) < 0) {
      if (errno != EINTR) return ChildWait::kFailed;
    }
    return ChildWait::kEnded;
  }
  const long long deadline = limitMs > 0 ? monotonicMs() + limitMs : LLONG_MAX;
  const int endFd = childEndDescriptor(pid);
  int pauseMs = 1;
  ChildWait how = ChildWait::kEnded;
  for (;;) {
    bool failed = false;
    if (reapNow(pid, rawStatus, failed)) break;
    if (failed) {
      how = ChildWait::kFailed;
      break;
    }
    const long long left = deadline - monotonicMs();
    if (left <= 0 || runClientGone()) {
      killAndReap(pid, rawStatus);
      how = ChildWait::kTimedOut;
      break;
    }
    // The client's descriptor wakes the wait when the client goes.
    const int sliceMs = static_cast<int>(std::min<long long>(left, INT_MAX));
    if (endFd >= 0) {
      pollfd p[2] = {{endFd, POLLIN, 0}, {clientFd, 0, 0}};
      poll(p, clientFd >= 0 ? 2 : 1, sliceMs);
    } else {
      // Short pauses first: most programs of a run end within milliseconds.
      const int ms = std::min(sliceMs, pauseMs);
      const timespec pause{ms / 1000, (ms % 1000) * 1000000L};
      nanosleep(&pause, nullptr);
      if (pauseMs < 50) pauseMs *= 2;
    }
  }
  if (endFd >= 0) close(endFd);
  return how;
}

}  // namespace

pid_t forkRegisteredChild() {
  sigset_t ending, saved;
  sigemptyset(&ending);
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
    sigaddset(&ending, sig);
  sigprocmask(SIG_BLOCK, &ending, &saved);
  const pid_t pid = fork();
  if (pid > 0) {
    // Both sides make the group, so it exists whichever runs first.
    setpgid(pid, pid);
    registerChild(pid);
  } else if (pid == 0) {
    setpgid(0, 0);
  }
  sigprocmask(SIG_SETMASK, &saved, nullptr);
  return pid;
}

void registerChild(pid_t pid) {
  for (std::atomic<pid_t>& slot : g_children) {
    pid_t empty = 0;
    if (slot.compare_exchange_strong(empty, pid)) return;
  }
}

void unregisterChild(pid_t pid) {
  for (std::atomic<pid_t>& slot : g_children) {
    pid_t expected = pid;
    if (slot.compare_exchange_strong(expected, 0)) return;
  }
}

void endChildrenWithRun() {
  struct sigaction action {};
  action.sa_handler = onEndingSignal;
  sigemptyset(&action.sa_mask);
  for (size_t i = 0; i < std::size(kEndingSignals); ++i)
    sigaction(kEndingSignals[i], &action, g_handlersInstalled ? nullptr : &g_actionsBefore[i]);
  g_handlersInstalled = true;
}

namespace {

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  pointers.reserve(texts.size() + 1);
  for (std::string& text : texts)
    pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Only what async-signal-safe calls allow happens between fork and exec.
// Starts the program as a registered child in a group of its own, with
// the signal mask of the caller. The child shares the caller's memory until
// it has exec'd (no copy of the caller is made, nor paid for later in
// faults on its pages). A program that cannot be started is a child that
// ended at once with kChildNotStartedExitCode, as a forked one would have.
pid_t spawnRegisteredChild(char* const* argv, char* const* env, ChildProgram::Streams streams,
                           int outFd, int inFd, int& notStarted) {
  notStarted = 0;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  if (posix_spawnattr_init(&attr) != 0) {
    posix_spawn_file_actions_destroy(&actions);
    return -1;
  }
  if (inFd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, inFd, STDIN_FILENO);
    if (inFd > STDERR_FILENO && inFd != outFd) posix_spawn_file_actions_addclose(&actions, inFd);
  }
  if (streams == ChildProgram::Streams::kQuiet) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  } else if (streams == ChildProgram::Streams::kToFd) {
    posix_spawn_file_actions_adddup2(&actions, outFd, STDOUT_FILENO);
    if (outFd > STDERR_FILENO) posix_spawn_file_actions_addclose(&actions, outFd);
  }
  sigset_t ending, saved;
  sigemptyset(&ending);
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
    sigaddset(&ending, sig);
  sigprocmask(SIG_BLOCK, &ending, &saved);
  posix_spawnattr_setsigmask(&attr, &saved);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);
  pid_t pid = -1;
  const int failed = posix_spawnp(&pid, argv[0], &actions, &attr, argv, env ? env : environ);
  if (failed == 0) {
    registerChild(pid);
  } else {
    pid = -1;
    notStarted = failed;
  }
  sigprocmask(SIG_SETMASK, &saved, nullptr);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

}  // namespace

namespace {

std::atomic<ProgramService*> g_programService{nullptr};

bool serviceMayRun(const ChildProgram& program) {
  return program.streams == ChildProgram::Streams::kQuiet && program.env.empty() &&
         program.inFd < 0 && !program.whileRunning;
}

}  // namespace

void setProgramService(ProgramService* service) {
  g_programService = service;
}

void endRunChildren() {
  for (std::atomic<pid_t>& slot : g_children) {
    const pid_t pid = slot.exchange(0);
    if (pid <= 0) continue;
    // Only a child not yet reaped is still ours: its pid, and its group's,
    // cannot have been given to another process.
    int rawStatus = 0;
    pid_t got;
    while ((got = waitpid(pid, &rawStatus, WNOHANG)) < 0 && errno == EINTR) {
    }
    if (got == 0) killAndReap(pid, rawStatus);
  }
  if (g_handlersInstalled) {
    for (size_t i = 0; i < std::size(kEndingSignals); ++i) {
      sigaction(kEndingSignals[i], &g_actionsBefore[i], nullptr);
      g_actionsBefore[i] = {};
    }
    g_handlersInstalled = false;
  }
  g_programService = nullptr;
}

bool runProgramForOutput(const ChildProgram& program, ChildOutcome& outcome, std::string& output,
                         bool& workDone, int givenFd) {
  workDone = false;
  ProgramService* service = g_programService;
  return service != nullptr && !program.argv.empty() &&
         service->runForOutput(program, outcome, output, workDone, givenFd);
}

bool serviceTakesOutputOf(const std::string& path) {
  ProgramService* service = g_programService;
  return service != nullptr && service->takesOutputOf(path);
}

void prefetchPrograms(const std::vector<ChildProgram>& programs) {
  ProgramService* service = g_programService;
  if (service == nullptr) return;
  std::vector<ChildProgram> wanted;
  for (const ChildProgram& program : programs)
    if (!program.argv.empty() && serviceMayRun(program)) wanted.push_back(program);
  if (!wanted.empty()) service->prefetch(wanted);
}

void removeScratchOutput(const ChildProgram& program, const std::string& path) {
  if (ProgramService* service = g_programService; service != nullptr && !program.argv.empty())
    service->forget(program);
  if (!path.empty()) scratch::remove(path);
}

pid_t startChildProgram(const ChildProgram& program, ChildOutcome& outcome) {
  outcome = ChildOutcome{};
  if (program.argv.empty()) return -1;
  // Everything the child needs is built before the fork: it must not
  // allocate.
  std::vector<std::string> argvTexts = program.argv;
  std::vector<std::string> envTexts = program.env;
  std::vector<char*> argv = pointersTo(argvTexts);
  std::vector<char*> env = pointersTo(envTexts);
  char* const* envp = envTexts.empty() ? nullptr : env.data();
  if (program.streams == ChildProgram::Streams::kInherit) std::fflush(nullptr);
  int notStarted = 0;
  const pid_t pid = spawnRegisteredChild(argv.data(), envp, program.streams, program.outFd,
                                         program.inFd, notStarted);
  // A program that could not be exec'd is a child that ended at once, as a
  // forked one would have; no child at all (no memory or processes left)
  // is no run.
  if (pid < 0 && notStarted != 0 && notStarted != EAGAIN && notStarted != ENOMEM) {
    outcome.how = ChildOutcome::How::kEnded;
    outcome.rawStatus = kChildNotStartedExitCode << 8;
  }
  return pid;
}

ChildOutcome awaitChildProgram(pid_t pid, int limitMs, const std::function<void()>& whileRunning) {
  if (whileRunning) {
    const long long started = monotonicMs();
    whileRunning();
    if (limitMs > 0) limitMs = static_cast<int>(std::max(1LL, limitMs - (monotonicMs() - started)));
  }
  ChildOutcome outcome;
  switch (waitForChild(pid, limitMs, outcome.rawStatus)) {
    case ChildWait::kEnded:
      outcome.how = ChildOutcome::How::kEnded;
      break;
    case ChildWait::kTimedOut:
      outcome.how = ChildOutcome::How::kTimedOut;
      break;
    case ChildWait::kFailed:
      outcome.how = ChildOutcome::How::kWaitFailed;
      outcome.rawStatus = -1;
      break;
  }
  return outcome;
}

ChildOutcome runChildProgram(const ChildProgram& program) {
  ChildOutcome outcome;
  if (program.argv.empty()) return outcome;
  if (ProgramService* service = g_programService;
      service != nullptr && serviceMayRun(program) && service->run(program, outcome))
    return outcome;
  // A process reads and writes its files on disk. A name taken there in the
  // meantime is someone else's file: the run is not made.
  if (!scratch::toDisk(program.argv)) return outcome;
  const pid_t pid = startChildProgram(program, outcome);
  if (pid < 0) return outcome;
  return awaitChildProgram(pid, program.limitMs, program.whileRunning);
}
