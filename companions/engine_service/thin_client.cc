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

long long nowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Waits until `fd` is ready for `events` or the deadline passes (-1: no
// deadline). False at the deadline or on an error.
bool waitFor(int fd, short events, long long deadline) {
  for (;;) {
    const long long left = deadline < 0 ? -1 : deadline - nowMs();
    if (deadline >= 0 && left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = poll(&p, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool sendWithin(int fd, const std::string& bytes, long long deadline) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitFor(fd, POLLOUT, deadline)) return false;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

// Reads what has arrived into `into`; 1 for more bytes, 0 at the end of the
// stream, -1 on an error or when nothing came by the deadline.
int receive(int fd, std::string& into, long long deadline) {
  char piece[16384];
  for (;;) {
    const ssize_t n = recv(fd, piece, sizeof piece, 0);
    if (n > 0) {
      into.append(piece, static_cast<size_t>(n));
      return 1;
    }
    if (n == 0) return 0;
    if (errno == EINTR) continue;
    if ((errno != EAGAIN && errno != EWOULDBLOCK) || !waitFor(fd, POLLIN, deadline)) return -1;
  }
}

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

// A value of the service settings, blanks around it dropped.
std::string setting(const ServicePaths& paths, const char* key) {
  const std::string value = getCfgFileTokenValue(paths.settings.c_str(), key);
  const size_t begin = value.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  return value.substr(begin, value.find_last_not_of(" \t\r") - begin + 1);
}

void closeFrom(int first) {
  if (close_range(static_cast<unsigned>(first), ~0U, 0) == 0) return;
  const long max = sysconf(_SC_OPEN_MAX);
  for (long fd = first; fd < (max > 0 ? max : 1024); ++fd)
    close(static_cast<int>(fd));
}

}  // namespace

Asked askService(const std::string& socketPath, const vela::ToolRequest& request, int startWaitMs,
                 vela::ToolAnswer& answer) {
  std::string bytes;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (!vela::encodeRequest(request, bytes) || socketPath.size() >= sizeof addr.sun_path)
    return Asked::kNoAnswer;
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) return Asked::kNoAnswer;
  if (connect(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    // A full backlog (EAGAIN) is a busy service, not a missing one.
    return errno == ENOENT || errno == ECONNREFUSED ? Asked::kNoService : Asked::kNoAnswer;
  }
  // Only a service of this account hears the request.
  ucred peer{};
  socklen_t size = sizeof peer;
  if (getsockopt(fd.get(), SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid())
    return Asked::kNoAnswer;
  const long long deadline = nowMs() + startWaitMs;
  std::string got;
  if (!sendWithin(fd.get(), bytes, deadline) || receive(fd.get(), got, deadline) != 1 ||
      got[0] != vela::kStartedByte)
    return Asked::kNoAnswer;
  got.erase(0, 1);
  for (;;) {
    size_t used = 0;
    switch (vela::decodeAnswer(got, answer, used)) {
      case vela::Decoded::kDone:
        return used == got.size() ? Asked::kAnswered : Asked::kNoAnswer;
      case vela::Decoded::kBad:
        return Asked::kNoAnswer;
      case vela::Decoded::kNeedMore:
        break;
    }
    if (receive(fd.get(), got, -1) != 1) return Asked::kNoAnswer;
  }
}

bool autoStartAllowed(const ServicePaths& paths) {
  const std::string value = setting(paths, "AUTO_START");
  for (const char* off : {"no", "0", "off", "false"})
    if (strcasecmp(value.c_str(), off) == 0) return false;
  return isPrivateDirectory(paths.runDir) && access(paths.service.c_str(), X_OK) == 0;
}

int startWaitMs(const ServicePaths& paths) {
  int64_t ms = kDefaultStartWaitMs;
  parseDecimal(setting(paths, "WAIT_MS"), 1, 60000, ms);
  return static_cast<int>(ms);
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
