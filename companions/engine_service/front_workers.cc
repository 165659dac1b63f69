/// @file front_workers.cc
/// @brief The searchrun workers' process, started and kept by the service.

#include "companions/engine_service/front_workers.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "companions/serve/socket_server.h"
#include "system/clock.h"

namespace velaservice {

FrontWorkers::FrontWorkers(std::string program, std::string socket, int workers)
    : program_(std::move(program)), socket_(std::move(socket)), workers_(workers) {}

FrontWorkers::~FrontWorkers() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  while (waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
  }
}

void FrontWorkers::keepRunning() {
  if (pid_ > 0) {
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == 0) return;
    serve::logLine(
        "vela_service",
        "the searchrun workers ended (status " +
            std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) + ")");
    pid_ = -1;
  }
  if (startedMs_ != 0 && monotonicMs() - startedMs_ < kRestartPauseMs) return;
  start();
}

void FrontWorkers::start() {
  startedMs_ = monotonicMs();
  if (access(program_.c_str(), X_OK) != 0) return;
  // Everything the child needs is made before the fork: the service has
  // threads, and the child only execs.
  std::string count = std::to_string(workers_);
  char* argv[] = {const_cast<char*>(program_.c_str()),
                  const_cast<char*>("--serve"),
                  const_cast<char*>(socket_.c_str()),
                  const_cast<char*>("--workers"),
                  count.data(),
                  nullptr};
  char path[] = "PATH=/usr/bin:/bin";
  char* envp[] = {path, nullptr};
  const pid_t parent = getpid();
  const pid_t child = fork();
  if (child == 0) {
    // Workers that outlived a killed service would hold a socket no
    // service stands behind.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(0);
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD})
      signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argv[0], argv, envp);
    _exit(127);
  }
  if (child > 0) pid_ = child;
}

}  // namespace velaservice
