/// @file run_handoff.cc
/// @brief A run handed to a resident worker; the workers and their keeper.

#include "system/run_handoff.h"

#include <dirent.h>
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <stdio_ext.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "system/clock.h"
#include "system/descriptor_passing.h"
#include "system/local_socket.h"
#include "system/numbers.h"

namespace handoff {
namespace {

constexpr char kMagic[4] = {'H', 'R', 'N', '3'};
// The run is claimed through a pipe the caller hands over with its streams,
// holding one byte: the worker that reads the byte makes the run and says
// so ('T'); a caller that hears nothing in time reads the byte itself, and
// makes the run only if it got it. Whoever gets the byte makes the run, so
// it is never made twice, and the worker starts at once, without waiting
// for the caller's word. The worker reports the end with one status byte.
// It says 'T' only with the end: a word at the start would wake the caller
// for nothing, and a run longer than the caller's wait is found taken by
// the byte gone.
constexpr char kTaken = 'T';
constexpr char kClaim = 'C';
constexpr char kEnded = 'E';
// How long a worker waits for the rest of a request, and for the go.
constexpr int kExchangeMs = 1000;
// A worker's heap: freed memory up to this much is kept between runs, and
// blocks from this size up are mapped on their own.
constexpr int kKeptFreeBytes = 32 << 20;
constexpr int kMappedBlockBytes = 4 << 20;

void putU32(std::string& out, uint32_t v) {
  out.append(reinterpret_cast<const char*>(&v), 4);
}

bool getU32(std::string_view& in, uint32_t& v) {
  if (in.size() < 4) return false;
  std::memcpy(&v, in.data(), 4);
  in.remove_prefix(4);
  return true;
}

bool getString(std::string_view& in, std::string& s) {
  uint32_t n = 0;
  if (!getU32(in, n) || in.size() < n) return false;
  s.assign(in.data(), n);
  in.remove_prefix(n);
  return s.find('\0') == std::string::npos;
}

bool sendAll(int fd, const char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = send(fd, p, n, MSG_NOSIGNAL);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

// Reads exactly n bytes; false on end of stream, failure or the socket's
// receive time running out.
bool recvAll(int fd, char* p, size_t n) {
  while (n > 0) {
    const ssize_t r = recv(fd, p, n, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

bool waitReadable(int fd, int ms) {
  pollfd p{fd, POLLIN, 0};
  for (;;) {
    const int n = poll(&p, 1, ms);
    if (n < 0 && errno == EINTR) continue;
    return n == 1;
  }
}

void setReceiveLimit(int fd, int ms) {
  const timeval limit{ms / 1000, (ms % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

}  // namespace

std::string encodeRun(const HandedRun& run) {
  std::string out(kMagic, sizeof kMagic);
  putU32(out, static_cast<uint32_t>(run.umask));
  putU32(out, static_cast<uint32_t>(run.args.size()));
  putU32(out, static_cast<uint32_t>(run.env.size()));
  auto put = [&out](const std::string& s) {
    putU32(out, static_cast<uint32_t>(s.size()));
    out += s;
  };
  put(run.cwd);
  for (const auto& a : run.args)
    put(a);
  for (const auto& e : run.env)
    put(e);
  return out;
}

bool decodeRun(std::string_view in, HandedRun& run) {
  if (in.size() < sizeof kMagic || std::memcmp(in.data(), kMagic, sizeof kMagic) != 0) return false;
  in.remove_prefix(sizeof kMagic);
  uint32_t mask = 0, nargs = 0, nenv = 0;
  if (!getU32(in, mask) || !getU32(in, nargs) || !getU32(in, nenv)) return false;
  // Every string takes at least its length word: counts the bytes cannot
  // hold are refused before anything is reserved for them.
  if (mask > 0777 || nargs == 0 || nargs > in.size() / 4 || nenv > in.size() / 4) return false;
  HandedRun out;
  out.umask = static_cast<mode_t>(mask);
  if (!getString(in, out.cwd) || out.cwd.empty() || out.cwd[0] != '/') return false;
  out.args.resize(nargs);
  for (auto& a : out.args)
    if (!getString(in, a)) return false;
  out.env.resize(nenv);
  for (auto& e : out.env)
    if (!getString(in, e) || e.find('=') == std::string::npos || e[0] == '=') return false;
  if (!in.empty()) return false;
  run = std::move(out);
  return true;
}

int handOver(const std::string& socketPath, const std::vector<std::string>& args,
             const std::vector<std::string>& env, int takeUpMs) {
  sockaddr_un addr{};
  if (socketPath.empty() || socketPath.size() >= sizeof addr.sun_path) return kNotHandedOver;
  HandedRun run;
  char cwd[PATH_MAX];
  if (!getcwd(cwd, sizeof cwd)) return kNotHandedOver;
  run.cwd = cwd;
  run.umask = umask(0);
  umask(run.umask);
  run.args = args;
  run.env = env;
  const std::string body = encodeRun(run);
  if (body.size() > kMaxRequestBytes) return kNotHandedOver;

  int claim[2];
  if (pipe2(claim, O_CLOEXEC | O_NONBLOCK) != 0) return kNotHandedOver;
  const bool armed = write(claim[1], &kClaim, 1) == 1;
  close(claim[1]);
  const int fd = armed ? socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0) : -1;
  if (fd < 0) {
    close(claim[0]);
    return kNotHandedOver;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, socketPath.data(), socketPath.size());
  // The length travels with the streams and the claim, the request after it.
  const uint32_t len = static_cast<uint32_t>(body.size());
  ssize_t sent = -1;
  char taken = 0;
  bool handed =
      connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && peerIsThisAccount(fd);
  if (handed)
    sent = sendWithDescriptors(fd, &len, sizeof len,
                               {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO, claim[0]});
  handed =
      handed && sent == static_cast<ssize_t>(sizeof len) && sendAll(fd, body.data(), body.size());
  const bool said =
      handed && waitReadable(fd, takeUpMs) && recvAll(fd, &taken, 1) && taken == kTaken;
  // Without the worker's word, the byte decides: still there, the run is
  // this caller's; gone, a worker has it, whatever it said.
  char byte = 0;
  const bool mine = !said && read(claim[0], &byte, 1) == 1;
  close(claim[0]);
  if (mine) {
    close(fd);
    return kNotHandedOver;
  }
  // From here the run is the worker's: whatever happens, it is not made
  // again here.
  // A word that came after the wait is still ahead of the end.
  char end[2] = {};
  int status = 1;
  bool ended = recvAll(fd, end, 1);
  if (ended && !said && end[0] == kTaken) ended = recvAll(fd, end, 1);
  if (ended && end[0] == kEnded && recvAll(fd, end + 1, 1))
    status = static_cast<unsigned char>(end[1]);
  else
    fputs("searchrun: the worker making the run ended before it\n", stderr);
  close(fd);
  return status;
}

namespace {

// The worker's state while it makes a run, for the exit of a run that ends
// the process.
struct Worker {
  int conn = -1;
  pid_t caller = 0;
  int nullFd = -1;
  int logFd = -1;
  bool inRun = false;
};
Worker g_worker;

}  // namespace

pid_t runProcessId() {
  return g_worker.caller > 0 ? g_worker.caller : getpid();
}

namespace {

// Receives the length word, the three streams and the claim, then the
// request.
bool receiveRun(int conn, HandedRun& run, int fds[4]) {
  uint32_t len = 0;
  std::vector<int> passed;
  const ssize_t got = receiveWithDescriptors(conn, &len, sizeof len, passed, 4);
  bool ok =
      got == static_cast<ssize_t>(sizeof len) && passed.size() == 4 && len <= kMaxRequestBytes;
  if (ok) {
    std::string body(len, '\0');
    ok = recvAll(conn, body.data(), len) && decodeRun(body, run);
  }
  if (!ok) {
    for (int fd : passed)
      close(fd);
    return false;
  }
  std::copy(passed.begin(), passed.end(), fds);
  return true;
}

// Gives the caller's streams back (its web server waits for the last
// holder of the output to close it) and reports the status.
void endRun(int status) {
  if (!g_worker.inRun) return;
  g_worker.inRun = false;
  fflush(stdout);
  fflush(stderr);
  fcntl(g_worker.conn, F_SETFL, fcntl(g_worker.conn, F_GETFL) & ~O_ASYNC);
  dup2(g_worker.nullFd, STDIN_FILENO);
  dup2(g_worker.nullFd, STDOUT_FILENO);
  dup2(g_worker.logFd, STDERR_FILENO);
  const char end[3] = {kTaken, kEnded, static_cast<char>(status & 0xff)};
  sendAll(g_worker.conn, end, sizeof end);
  close(g_worker.conn);
  g_worker.conn = -1;
  g_worker.caller = 0;
}

// The caller went away while its run was made (its web server gave up):
// the run ends as the program ends when the web server stops it.
void onCallerGone(int) {
  raise(SIGTERM);
}

// Closes every descriptor from 3 up but the worker's own. Nothing a run
// opens outlives it: state kept for the next run must hold no descriptor,
// whose number the next run's files may take.
void closeStrays(std::vector<int> keep) {
  std::sort(keep.begin(), keep.end());
  unsigned from = 3;
  for (int fd : keep) {
    if (fd < 3) continue;
    if (static_cast<unsigned>(fd) > from) close_range(from, static_cast<unsigned>(fd) - 1, 0);
    from = static_cast<unsigned>(fd) + 1;
  }
  close_range(from, ~0U, 0);
}

// The descriptors open in this process; more than any bound when they
// cannot be counted.
size_t openDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return SIZE_MAX;
  size_t count = 0;
  while (const dirent* entry = readdir(dir))
    if (entry->d_name[0] != '.') ++count;
  closedir(dir);
  return count - 1;  // the listing's own
}

void resetProcess(const Program& program) {
  if (program.reset) program.reset();
  for (int sig : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGIO})
    signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  // Children the run left behind are ended with it, as with the program's
  // process; the ones it waited for are gone already.
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }
  clearenv();
  __fpurge(stdin);
  clearerr(stdin);
  clearerr(stdout);
}

[[noreturn]] void workerLoop(int listenFd, const Program& program, size_t runs) {
  // Memory a run frees is kept for the next run rather than handed back at
  // its end: each page taken afresh costs a fault, and the runs of a worker
  // need much the same memory one after another. Only blocks larger than any
  // usual run needs are mapped apart and returned at once.
  mallopt(M_MMAP_THRESHOLD, kMappedBlockBytes);
  mallopt(M_TRIM_THRESHOLD, kKeptFreeBytes);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  char home[PATH_MAX];
  if (!getcwd(home, sizeof home)) _exit(1);
  g_worker.nullFd = open("/dev/null", O_RDWR | O_CLOEXEC);
  g_worker.logFd = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (g_worker.nullFd < 0 || g_worker.logFd < 0) _exit(1);
  // A run may end the process with exit() anywhere; its caller hears of it.
  on_exit([](int status, void*) { endRun(status); }, nullptr);
  static std::vector<std::string> env, args;
  for (size_t made = 0; made < runs;) {
    const int conn = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (conn < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      // A listener shut by the stopping server (EINVAL) takes no more runs.
      _exit(errno == EINVAL ? 0 : 1);
    }
    HandedRun run;
    int fds[4];
    setReceiveLimit(conn, kExchangeMs);
    const pid_t caller = peerOfThisAccount(conn);
    if (caller == 0 || !receiveRun(conn, run, fds)) {
      close(conn);
      continue;
    }
    // A run from elsewhere would read another installation's settings
    // through this one's: its caller makes it itself.
    char claim = 0;
    const bool claimed = run.cwd == home && read(fds[3], &claim, 1) == 1;
    close(fds[3]);
    if (!claimed) {
      for (int i = 0; i < 3; ++i)
        close(fds[i]);
      close(conn);
      continue;
    }
    ++made;
    g_worker.conn = conn;
    g_worker.caller = caller;
    signal(SIGIO, onCallerGone);
    fcntl(conn, F_SETOWN, getpid());
    fcntl(conn, F_SETFL, fcntl(conn, F_GETFL) | O_ASYNC);
    for (int i = 0; i < 3; ++i)
      dup2(fds[i], i);
    for (int i = 0; i < 3; ++i)
      if (fds[i] > 2) close(fds[i]);
    umask(run.umask);
    env = std::move(run.env);
    clearenv();
    for (auto& e : env)
      putenv(e.data());
    args = std::move(run.args);
    std::vector<char*> argv;
    for (auto& a : args)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    g_worker.inRun = true;
    const int status = program.main(static_cast<int>(args.size()), argv.data());
    endRun(status);
    resetProcess(program);
    // The request's words and environment are not kept past its run.
    std::vector<std::string>().swap(env);
    std::vector<std::string>().swap(args);
    if (!program.keepsDescriptors) {
      closeStrays({listenFd, g_worker.nullFd, g_worker.logFd});
    } else if (openDescriptors() > kMaxKeptDescriptors) {
      break;  // replaced by a fresh worker
    }
  }
  exit(0);
}

}  // namespace

bool readServeWords(int argc, char** argv, std::string& socketPath, ServeOptions& options) {
  if (argc < 3 || std::strcmp(argv[1], "--serve") != 0 || argv[2][0] == '-') return false;
  socketPath = argv[2];
  for (int i = 3; i < argc; i += 2) {
    int64_t n = 0;
    if (std::strcmp(argv[i], "--workers") != 0 || i + 1 >= argc ||
        !parseDecimal(argv[i + 1], 1, 64, n))
      return false;
    options.workers = static_cast<size_t>(n);
  }
  return true;
}

int serveRuns(const std::string& socketPath, const Program& program, const ServeOptions& options) {
  sigset_t handled;
  sigemptyset(&handled);
  for (int sig : {SIGCHLD, SIGTERM, SIGINT})
    sigaddset(&handled, sig);
  sigprocmask(SIG_BLOCK, &handled, nullptr);
  const int sigFd = signalfd(-1, &handled, SFD_CLOEXEC);
  const int listenFd = sigFd < 0 ? -1 : listenLocal(socketPath, false);
  if (listenFd < 0) {
    std::fprintf(stderr, "cannot listen on %s: %s\n", socketPath.c_str(), std::strerror(errno));
    return 1;
  }
  struct stat mine {};
  lstat(socketPath.c_str(), &mine);
  std::vector<pid_t> workers;
  auto start = [&] {
    const pid_t pid = fork();
    if (pid == 0) {
      close(sigFd);
      workerLoop(listenFd, program, std::max<size_t>(1, options.runsPerWorker));
    }
    if (pid > 0) workers.push_back(pid);
  };
  for (size_t i = 0; i < std::max<size_t>(1, options.workers); ++i)
    start();
  // Workers that end at once again and again (a broken installation) are
  // replaced at most this often.
  long long windowStart = monotonicMs();
  size_t startedInWindow = 0;
  for (;;) {
    signalfd_siginfo info;
    const ssize_t n = read(sigFd, &info, sizeof info);
    if (n != sizeof info) {
      if (n < 0 && errno == EINTR) continue;
      break;
    }
    if (info.ssi_signo != SIGCHLD) break;
    pid_t pid;
    while ((pid = waitpid(-1, nullptr, WNOHANG)) > 0) {
      const auto it = std::find(workers.begin(), workers.end(), pid);
      if (it == workers.end()) continue;
      workers.erase(it);
      if (monotonicMs() - windowStart > 1000) {
        windowStart = monotonicMs();
        startedInWindow = 0;
      }
      if (++startedInWindow > 4 * options.workers) {
        const timespec pause{1, 0};
        nanosleep(&pause, nullptr);
      }
      start();
    }
  }
  // No run is handed over any more: the listener shut wakes the workers
  // waiting for one, which end, and refuses new callers, which make their
  // runs themselves. A run a worker took is made to its end (it was claimed:
  // its caller no longer makes it), then that worker ends too.
  shutdown(listenFd, SHUT_RDWR);
  struct stat now;
  if (lstat(socketPath.c_str(), &now) == 0 && now.st_ino == mine.st_ino) unlink(socketPath.c_str());
  for (pid_t pid : workers)
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  close(listenFd);
  close(sigFd);
  return 0;
}

}  // namespace handoff
