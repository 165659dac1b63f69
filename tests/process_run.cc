/// @file process_run.cc
/// @brief Running a program to its end for a test.

#include "tests/process_run.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace testutil {

namespace {

using Clock = std::chrono::steady_clock;

void closeAll(std::initializer_list<int> fds) {
  for (int fd : fds)
    if (fd >= 0) close(fd);
}

}  // namespace

ProcessResult runProcess(const ProcessSpec& spec) {
  ProcessResult run;
  int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1};
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
    closeAll({in[0], in[1], out[0], out[1], err[0], err[1]});
    return run;
  }
  signal(SIGPIPE, SIG_IGN);
  // Everything the child needs is made before the fork: between fork and
  // exec only async-signal-safe calls are allowed.
  std::vector<std::string> envCopy = spec.env;
  std::vector<char*> envp;
  for (std::string& s : envCopy)
    envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings = {spec.path};
  argStrings.insert(argStrings.end(), spec.args.begin(), spec.args.end());
  std::vector<char*> argv;
  for (std::string& a : argStrings)
    argv.push_back(a.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid == 0) {
    if (spec.ownGroup) setpgid(0, 0);
    if (dup2(in[0], 0) < 0 || dup2(out[1], 1) < 0 || dup2(err[1], 2) < 0 ||
        chdir(spec.cwd.c_str()) != 0)
      _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  closeAll({in[0], out[1], err[1]});
  if (pid < 0) {
    closeAll({in[1], out[0], err[0]});
    return run;
  }
  if (spec.ownGroup) setpgid(pid, pid);  // either side may come first

  int inFd = in[1], outFd = out[0], errFd = err[0];
  fcntl(inFd, F_SETFL, O_NONBLOCK);
  size_t written = 0;
  if (spec.input.empty()) {
    close(inFd);
    inFd = -1;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(spec.limitMs);
  char buf[65536];
  while (outFd >= 0 || errFd >= 0) {
    long long left = -1;
    if (spec.limitMs >= 0)
      left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (spec.limitMs >= 0 && left <= 0) run.killed = true;
    if (run.out.size() + run.err.size() > spec.maxOutput) run.killed = true;
    if (run.killed) {
      kill(spec.ownGroup ? -pid : pid, SIGKILL);
      break;
    }
    pollfd fds[3];
    int n = 0, iOut = -1, iErr = -1, iIn = -1;
    if (outFd >= 0) fds[iOut = n++] = {outFd, POLLIN, 0};
    if (errFd >= 0) fds[iErr = n++] = {errFd, POLLIN, 0};
    if (inFd >= 0) fds[iIn = n++] = {inFd, POLLOUT, 0};
    if (poll(fds, static_cast<nfds_t>(n), static_cast<int>(left)) < 0 && errno != EINTR) break;
    auto drain = [&](int idx, int& fd, std::string& sink) {
      if (idx < 0 || !(fds[idx].revents & (POLLIN | POLLHUP | POLLERR))) return;
      const ssize_t got = read(fd, buf, sizeof buf);
      if (got > 0) {
        sink.append(buf, static_cast<size_t>(got));
      } else if (got == 0 || errno != EINTR) {
        close(fd);
        fd = -1;
      }
    };
    drain(iOut, outFd, run.out);
    drain(iErr, errFd, run.err);
    if (iIn >= 0 && (fds[iIn].revents & (POLLOUT | POLLERR | POLLHUP))) {
      const ssize_t put = write(inFd, spec.input.data() + written, spec.input.size() - written);
      if (put > 0) written += static_cast<size_t>(put);
      // A program that reads no more of its input is no failure.
      if ((put < 0 && errno != EAGAIN && errno != EINTR) || written == spec.input.size()) {
        close(inFd);
        inFd = -1;
      }
    }
  }
  closeAll({inFd, outFd, errFd});
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  run.maxRssKb = usage.ru_maxrss;
  run.finished = !run.killed && WIFEXITED(status);
  run.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return run;
}

}  // namespace testutil
