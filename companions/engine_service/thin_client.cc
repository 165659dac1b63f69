/// @file thin_client.cc
/// @brief The thin search programs: a request to the engine service, or the
/// run made here by the full engine.

#include "companions/engine_service/thin_client.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <strings.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "system/config.h"
#include "system/fsutil.h"
#include "system/numbers.h"
#include "system/secure_file.h"

namespace velaservice {

namespace {

// A service log that grew past this begins afresh when a search starts the
// service again.
constexpr off_t kMaxLogBytes = 1 << 20;
// Descriptor number of the start lock in the started service.
constexpr int kStarterLockFd = 3;

// The working directory when it is the CGI directory of `root`, else "".
std::string cgiWorkingDirectory(const std::string& root) {
  char cwd[PATH_MAX], cgi[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return "";
  const std::string expected = (root == "/" ? "" : root) + "/search-cgi";
  if (realpath(expected.c_str(), cgi) == nullptr || std::strcmp(cwd, cgi) != 0) return "";
  return cwd;
}

int deliver(const vela::ToolAnswer& answer) {
  const bool written = writeAll(STDOUT_FILENO, answer.out);
  writeAll(STDERR_FILENO, answer.err);
  // Output that cannot be handed on fails the run, as it does the program.
  return !written && answer.status == 0 ? 205 : answer.status;
}

// A file of the run directory, opened by name: the directory is private, but
// what stands there must still be a plain file of this account.
UniqueFd openRunFile(const std::string& path, int flags) {
  UniqueFd fd(open(path.c_str(), flags | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600));
  struct stat st;
  if (fd && (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()))
    fd.reset();
  return fd;
}

void closeFrom(int first) {
  if (close_range(static_cast<unsigned>(first), ~0U, 0) == 0) return;
  const long max = sysconf(_SC_OPEN_MAX);
  for (long fd = first; fd < (max > 0 ? max : 1024); ++fd)
    close(static_cast<int>(fd));
}

}  // namespace

bool autoStartAllowed(const ServicePaths& paths) {
  if (settingIsOff(paths, "AUTO_START")) return false;
  return isPrivateDirectory(paths.runDir) && access(paths.service.c_str(), X_OK) == 0;
}

void startService(const ServicePaths& paths, const std::string& root) {
  // Held until the service listens (it inherits the lock): the searches
  // that find no service meanwhile do not start one each.
  UniqueFd starting = openRunFile(paths.startLock, O_RDWR);
  if (!starting || flock(starting.get(), LOCK_EX | LOCK_NB) != 0) return;
  UniqueFd log = openRunFile(paths.log, O_WRONLY | O_APPEND);
  struct stat st;
  if (log && fstat(log.get(), &st) == 0 && st.st_size > kMaxLogBytes &&
      ftruncate(log.get(), 0) != 0)
    log.reset();
  UniqueFd null(open("/dev/null", O_RDWR | O_CLOEXEC | O_NOCTTY));
  if (!null) return;
  // Everything the child needs is made before the fork.
  std::vector<std::string> words{paths.service,
                                 "--root",
                                 root,
                                 "--exit-if-running",
                                 "--starter-lock-fd",
                                 std::to_string(kStarterLockFd)};
  std::vector<char*> argv;
  for (std::string& w : words)
    argv.push_back(w.data());
  argv.push_back(nullptr);
  // The request's environment (the query, cookies) is no business of the
  // service.
  char path[] = "PATH=/usr/bin:/bin";
  char* envp[] = {path, nullptr};
  const int out = log ? log.get() : null.get();

  const pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    // A session of its own, in a grandchild no one waits for: the service
    // outlives this search and never holds its caller's terminal or pipes.
    setsid();
    if (fork() != 0) _exit(0);
    const int lockFd = fcntl(starting.get(), F_DUPFD, 10);
    const int inFd = fcntl(null.get(), F_DUPFD, 10);
    const int outFd = fcntl(out, F_DUPFD, 10);
    if (lockFd < 0 || inFd < 0 || outFd < 0 || dup2(inFd, STDIN_FILENO) < 0 ||
        dup2(outFd, STDOUT_FILENO) < 0 || dup2(outFd, STDERR_FILENO) < 0 ||
        dup2(lockFd, kStarterLockFd) < 0)
      _exit(127);
    closeFrom(kStarterLockFd + 1);
    // What the caller ignored or blocked, the service must still hear.
    for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE})
      signal(sig, SIG_DFL);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    if (chdir("/") != 0) _exit(127);
    execve(argv[0], argv.data(), envp);
    _exit(127);
  }
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

int runThinProgram(vela::Tool tool, int argc, char** argv) {
  const std::string root = installationOfProgram(argc > 0 ? argv[0] : nullptr);
  const ServicePaths paths = servicePaths(root.empty() ? "." : root);
  const std::string cwd = root.empty() ? "" : cgiWorkingDirectory(root);
  if (!cwd.empty()) {
    vela::ToolRequest request;
    request.tool = tool;
    request.cwd = cwd;
    request.args.assign(argv + 1, argv + argc);
    vela::ToolAnswer answer;
    switch (askService(paths.socket, request, startWaitMs(paths), answer)) {
      case Asked::kAnswered:
        return deliver(answer);
      case Asked::kNoService:
        if (autoStartAllowed(paths)) startService(paths, root);
        break;
      case Asked::kNoAnswer:
      case Asked::kTimedOut:
        break;
    }
  }
  std::vector<char*> full{const_cast<char*>("vela_engine.full"),
                          const_cast<char*>(vela::toolName(tool))};
  for (int i = 1; i < argc; ++i)
    full.push_back(argv[i]);
  full.push_back(nullptr);
  execv(paths.fullEngine.c_str(), full.data());
  std::fprintf(stderr, "%s: cannot run %s: %s\n", vela::toolName(tool), paths.fullEngine.c_str(),
               std::strerror(errno));
  return 205;
}

}  // namespace velaservice
