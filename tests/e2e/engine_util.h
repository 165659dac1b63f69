/// @file engine_util.h
/// @brief The installation of the search engine tests: indexes built by the
/// installed index builder from documents written below ROOT/docs/<set>; and
/// runs of its programs that may not finish (a deadline, or a start without
/// waiting).

#ifndef SEARCHRUN_TESTS_E2E_ENGINE_UTIL_H
#define SEARCHRUN_TESTS_E2E_ENGINE_UTIL_H

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <utime.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/e2e/e2e_util.h"

namespace enginetest {

// Exit status of a run that missed its deadline and was killed.
constexpr int kTimedOut = -2;

// Starts `path` with `args` in `cwd` (environment: PATH only), its standard
// input empty and its standard output and error into the pipe ends given
// (or /dev/null for -1). Returns the pid, or -1.
inline pid_t startProgram(const std::string& path, const std::vector<std::string>& args,
                          const std::string& cwd, int outFd = -1, int errFd = -1) {
  std::vector<char*> argv{const_cast<char*>(path.c_str())};
  for (const std::string& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  char pathEnv[] = "PATH=/usr/bin:/bin";
  char* envp[] = {pathEnv, nullptr};
  const pid_t pid = fork();
  if (pid != 0) return pid;
  const int null = open("/dev/null", O_RDWR);
  dup2(null, 0);
  dup2(outFd >= 0 ? outFd : null, 1);
  dup2(errFd >= 0 ? errFd : null, 2);
  if (chdir(cwd.c_str()) == 0) execve(path.c_str(), argv.data(), envp);
  _exit(127);
}

// Waits for a started program; its exit status (128 + signal when killed), or
// kTimedOut after killing it when it runs longer than `seconds`.
inline int waitWithin(pid_t pid, double seconds) {
  timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    int status = 0;
    if (waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec + (now.tv_nsec - start.tv_nsec) / 1e9 > seconds) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return kTimedOut;
    }
    usleep(2000);
  }
}

// Runs a program to its end or its deadline; exit status (or kTimedOut) and
// its standard error.
inline e2e::RunResult runWithin(double seconds, const std::string& path,
                                const std::vector<std::string>& args, const std::string& cwd) {
  e2e::RunResult r;
  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) return r;
  const pid_t pid = startProgram(path, args, cwd, -1, err[1]);
  close(err[1]);
  fcntl(err[0], F_SETFL, O_NONBLOCK);
  r.exitStatus = kTimedOut;
  timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (bool open = true; open;) {
    pollfd p{err[0], POLLIN, 0};
    poll(&p, 1, 20);
    char buf[4096];
    ssize_t n;
    while ((n = read(err[0], buf, sizeof buf)) > 0)
      r.err.append(buf, static_cast<size_t>(n));
    open = n != 0;
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (now.tv_sec - start.tv_sec + (now.tv_nsec - start.tv_nsec) / 1e9 > seconds) break;
  }
  close(err[0]);
  r.exitStatus = waitWithin(pid, 0.1);
  return r;
}

class EngineInstall : public e2e::Installation {
 public:
  void doc(const std::string& set, const std::string& rel, const std::string& bytes,
           time_t mtime = 1100000000) const {
    write("docs/" + set + "/" + rel, bytes);
    struct utimbuf times {
      mtime, mtime
    };
    utime(path("docs/" + set + "/" + rel).c_str(), &times);
  }
  std::string docs(const std::string& set) const { return path("docs/" + set); }
  std::string home(const std::string& id) const {
    return path("system/group/domain/User/alice/index/" + id);
  }
  e2e::RunResult builder(const std::vector<std::string>& args) const {
    return run("binind/index_builder", args);
  }
  // Runs binind/<program> in the CGI directory, killed after `seconds`.
  e2e::RunResult within(double seconds, const std::string& program,
                        const std::vector<std::string>& args) const {
    return runWithin(seconds, path("binind/" + program), args, cgiDir());
  }
  // Builds index `id` of owner alice from a document set; returns its home.
  std::string create(const std::string& id, const std::string& set) const {
    e2e::RunResult r = builder({"create", "--owner", "alice", "--id", id, docs(set)});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(r.out, id + "\n");
    return home(id);
  }
};

}  // namespace enginetest

#endif  // SEARCHRUN_TESTS_E2E_ENGINE_UTIL_H
