/// @file bounded_run.cc
/// @brief A child under resource limits, read through pipes until it ends,
/// its deadline passes or its output overflows.

#include "companions/extract/bounded_run.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

namespace extract {

namespace {

long long nowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void setLimit(int resource, rlim_t value) {
  rlimit lim{value, value};
  setrlimit(resource, &lim);
}

void closeFrom(int lowest) {
#ifdef SYS_close_range
  if (syscall(SYS_close_range, lowest, ~0U, 0) == 0) return;
#endif
  const long top = sysconf(_SC_OPEN_MAX);
  for (long fd = lowest; fd < (top > 0 ? top : 1024); ++fd)
    close(static_cast<int>(fd));
}

// Only async-signal-safe calls between fork and exec.
[[noreturn]] void execChild(char* const* argv, int inFd, int outFd, int errFd,
                            const RunBounds& bounds) {
  setpgid(0, 0);
  signal(SIGPIPE, SIG_DFL);
  if (inFd < 0) inFd = open("/dev/null", O_RDONLY);
  if (inFd >= 0) dup2(inFd, STDIN_FILENO);
  dup2(outFd, STDOUT_FILENO);
  dup2(errFd, STDERR_FILENO);
  closeFrom(STDERR_FILENO + 1);
  // The hard CPU limit a second later: SIGXCPU first, which a program may
  // catch; SIGKILL then ends it whatever it does.
  if (bounds.cpuSeconds > 0) {
    rlimit cpu{static_cast<rlim_t>(bounds.cpuSeconds), static_cast<rlim_t>(bounds.cpuSeconds + 1)};
    setrlimit(RLIMIT_CPU, &cpu);
  }
  if (bounds.addressBytes > 0) setLimit(RLIMIT_AS, bounds.addressBytes);
  setLimit(RLIMIT_CORE, 0);
  if (argv[0][0] == '/' || argv[0][0] == '.')
    execv(argv[0], argv);
  else
    execvp(argv[0], argv);
  _exit(kNotExecutedExitCode);
}

struct Pipe {
  int fd[2] = {-1, -1};
  ~Pipe() {
    for (int f : fd)
      if (f >= 0) close(f);
  }
  bool open() { return pipe2(fd, O_CLOEXEC) == 0; }
  void closeEnd(int i) {
    if (fd[i] >= 0) close(fd[i]);
    fd[i] = -1;
  }
};

// Appends what is readable; false at end of stream. Bytes past `keep` are
// read and dropped.
bool drain(int fd, std::string& into, size_t keep, bool& over) {
  char buf[65536];
  const ssize_t n = read(fd, buf, sizeof buf);
  if (n < 0) return errno == EINTR || errno == EAGAIN;
  if (n == 0) return false;
  const size_t room = keep > into.size() ? keep - into.size() : 0;
  into.append(buf, std::min(room, static_cast<size_t>(n)));
  if (static_cast<size_t>(n) > room) over = true;
  return true;
}

}  // namespace

RunOutcome runBounded(const std::vector<std::string>& argv, int inFd, const RunBounds& bounds) {
  RunOutcome outcome;
  if (argv.empty()) return outcome;
  std::vector<std::string> words(argv);
  std::vector<char*> pointers;
  for (std::string& w : words)
    pointers.push_back(w.data());
  pointers.push_back(nullptr);
  Pipe out, err;
  if (!out.open() || !err.open()) return outcome;
  const long long deadline = bounds.wallMs > 0 ? nowMs() + bounds.wallMs : LLONG_MAX;
  const pid_t pid = fork();
  if (pid < 0) return outcome;
  if (pid == 0) execChild(pointers.data(), inFd, out.fd[1], err.fd[1], bounds);
  setpgid(pid, pid);
  out.closeEnd(1);
  err.closeEnd(1);
  const size_t outCap = bounds.maxOutput > 0 ? bounds.maxOutput : SIZE_MAX;
  bool outOpen = true, errOpen = true, outOver = false, errOver = false, timedOut = false;
  while (outOpen || errOpen) {
    const long long left = deadline - nowMs();
    if (left <= 0) {
      timedOut = true;
      break;
    }
    pollfd p[2] = {{outOpen ? out.fd[0] : -1, POLLIN, 0}, {errOpen ? err.fd[0] : -1, POLLIN, 0}};
    const int n = poll(p, 2, static_cast<int>(std::min<long long>(left, INT_MAX)));
    if (n < 0 && errno != EINTR) break;
    if (n <= 0) continue;
    if (p[0].revents) outOpen = drain(out.fd[0], outcome.out, outCap, outOver);
    if (p[1].revents) errOpen = drain(err.fd[0], outcome.err, bounds.maxErrorBytes, errOver);
    if (outOver) break;
  }
  // Both streams closed does not mean the child has ended; give it what is
  // left of the deadline to do so.
  int status = 0;
  bool ended = false;
  if (!timedOut && !outOver) {
    while (!ended) {
      siginfo_t info{};
      // WNOWAIT: the child stays unreaped, so its group id cannot be taken
      // by a new process before the group is killed below.
      const int got = waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT);
      if (got == 0 && info.si_pid == pid)
        ended = true;
      else if (got < 0 && errno != EINTR)
        break;
      else if (nowMs() >= deadline) {
        timedOut = true;
        break;
      } else {
        const timespec pause{0, 2000000L};
        nanosleep(&pause, nullptr);
      }
    }
  }
  // Whatever the child started ends with it.
  if (kill(-pid, SIGKILL) != 0 && !ended) kill(pid, SIGKILL);
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (outOver) {
    outcome.how = RunOutcome::How::kOutputCap;
  } else if (timedOut) {
    outcome.how = RunOutcome::How::kTimedOut;
  } else if (WIFEXITED(status)) {
    outcome.how = RunOutcome::How::kExited;
    outcome.exitCode = WEXITSTATUS(status);
  } else {
    outcome.how = RunOutcome::How::kSignalled;
    outcome.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  }
  return outcome;
}

}  // namespace extract
