/// @file service_main.cc
/// @brief Entry of vela_service, the resident engine of one installation:
/// takes the installation's service lock, listens on its socket and serves
/// the thin search programs until it is told to stop or its socket is taken
/// away.

#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "companions/engine/service_request.h"
#include "companions/engine_service/front_workers.h"
#include "companions/engine_service/page_service.h"
#include "companions/serve/daemon_options.h"
#include "companions/serve/listeners.h"
#include "companions/serve/socket_server.h"
#include "search/engine_service_paths.h"
#include "system/kept_files.h"
#include "system/local_socket.h"
#include "system/numbers.h"
#include "system/secure_file.h"

namespace {

constexpr const char* kProgram = "vela_service";

void logLine(const std::string& text) {
  serve::logLine(kProgram, text);
}

constexpr const char* kUsage =
    "Usage: vela_service --root ROOT [OPTION]...\n"
    "Serves the search programs of the installation at ROOT (vela25_0.exe,\n"
    "date_range.exe, digit_index.exe, expand_vela_token_list.exe) on the socket\n"
    "ROOT/run/engine.sock, keeping their indexes open, and renders the result pages\n"
    "searchrun would start getfilelist.exe for. Runs in the foreground and\n"
    "logs to standard error; SIGTERM or SIGINT ends it. Run it as the account the\n"
    "web server runs searches as. One service runs per installation: a second one\n"
    "waits for the first to end (or, with --exit-if-running, leaves at once).\n"
    "\n"
    "Options:\n"
    "  --threads N           searches run at once (1 to 64, default 4)\n"
    "  --max-open N          indexes kept open between searches (0 to 1000, default 16)\n"
    "  --client-timeout MS   time a client has to send its request (10 to 60000,\n"
    "                        default 2000)\n"
    "  --front-workers N     searchrun workers kept beside the service (0 to 64;\n"
    "                        default FRONT_WORKERS of engine_service.cfg, else 4):\n"
    "                        searchrun hands its requests to them instead of\n"
    "                        running the whole query program for each\n"
    "  --exit-if-running     leaves at once, with no error, when a service of the\n"
    "                        installation already runs\n"
    "  --starter-lock-fd FD  the lock a search holds while it starts the service:\n"
    "                        released once the service listens\n";

struct Options {
  std::string root;
  int64_t threads = 4;
  int64_t maxOpen = vela::kDefaultOpenIndexes;
  int64_t clientTimeoutMs = 2000;
  bool exitIfRunning = false;
  int64_t starterLockFd = -1;
  int64_t frontWorkers = -1;
};

int fail(const std::string& problem) {
  logLine(problem);
  return 1;
}

// The pid of the service holding the lock, as it wrote it; "" when unknown.
std::string holderOf(int lockFd) {
  char text[32] = {0};
  const ssize_t n = pread(lockFd, text, sizeof text - 1, 0);
  std::string pid(text, n > 0 ? static_cast<size_t>(n) : 0);
  while (!pid.empty() && (pid.back() == '\n' || pid.back() == ' '))
    pid.pop_back();
  return pid;
}

// Takes the service lock of the installation, waiting for a running service
// to end unless told to leave; the descriptor stays open (and the lock held)
// for the life of the process. -1 when this process must not serve.
int takeServiceLock(const std::string& path, bool exitIfRunning, int& status) {
  // The run directory is private to the account, so the file may be opened
  // by name; it must still be a plain file of this account.
  UniqueFd fd(open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600));
  struct stat st;
  if (!fd || fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
    status = fail("cannot use the lock file " + path);
    return -1;
  }
  if (flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK) {
      status = fail("cannot lock " + path + ": " + std::strerror(errno));
      return -1;
    }
    if (exitIfRunning) {
      status = 0;
      return -1;
    }
    logLine("waiting for the service already running (pid " + holderOf(fd.get()) + ") to end");
    while (flock(fd.get(), LOCK_EX) != 0) {
      if (errno != EINTR) {
        status = fail("cannot lock " + path + ": " + std::strerror(errno));
        return -1;
      }
    }
  }
  const std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd.get(), 0) != 0 || pwrite(fd.get(), pid.data(), pid.size(), 0) < 0)
    logLine("cannot note the pid in " + path);
  return fd.release();
}

// A listening socket at `path` that only this account may connect to.
int listenAt(const std::string& path, ino_t& ino) {
  // The lock is held: whatever socket stands there is a dead service's.
  UniqueFd fd(listenLocal(path, true));
  struct stat st;
  if (!fd && errno == ENAMETOOLONG) {
    logLine("the socket path " + path + " is too long for a socket");
  } else if (!fd && errno == ENOTSOCK) {
    logLine(path + " is there and is no socket");
  } else if (!fd || lstat(path.c_str(), &st) != 0) {
    logLine("cannot listen on " + path + ": " + std::strerror(errno));
  } else {
    ino = st.st_ino;
    return fd.release();
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  if (const int rc = serve::readDaemonOptions(
          argc, argv, "vela_service", kUsage,
          {serve::textOption("--root", o.root),
           serve::flagOption("--exit-if-running", o.exitIfRunning),
           serve::numberOption("--threads", o.threads, 1, 64),
           serve::numberOption("--max-open", o.maxOpen, 0, 1000),
           serve::numberOption("--client-timeout", o.clientTimeoutMs, 10, 60000),
           serve::numberOption("--starter-lock-fd", o.starterLockFd, 3, 1023),
           serve::numberOption("--front-workers", o.frontWorkers, 0, 64)},
          "--root"))
    return rc < 0 ? 0 : rc;
  vela::ServedInstallation inst;
  std::string error;
  if (!vela::findInstallation(o.root, inst, error)) return fail(error);
  const velaservice::ServicePaths paths = velaservice::servicePaths(inst.root);
  if (!velaservice::ensureRunDirectory(paths.runDir, error)) return fail(error);
  int status = 1;
  const int lock = takeServiceLock(paths.lock, o.exitIfRunning, status);
  if (lock < 0) return status;
  ino_t socketIno = 0;
  UniqueFd listener(listenAt(paths.socket, socketIno));
  // Listening (or failed): the next search may find the service, or start one.
  if (o.starterLockFd >= 0) close(static_cast<int>(o.starterLockFd));
  if (!listener) return 1;

  // The programs it runs for, and the renderer whose pages it makes, work in
  // the CGI directory and read the installation from there.
  if (chdir(inst.cgiDir.c_str()) != 0) return fail("no CGI directory " + inst.cgiDir);
  if (o.frontWorkers < 0) {
    const std::string setting = velaservice::serviceSetting(paths, "FRONT_WORKERS");
    if (setting.empty() || !parseDecimal(setting, 0, 64, o.frontWorkers)) o.frontWorkers = 4;
  }
  // Started before the service's threads, and kept by its housekeeping.
  std::optional<velaservice::FrontWorkers> front;
  if (o.frontWorkers > 0) {
    // Workers with the engine inside make a run's searches themselves.
    const bool inside = access(paths.engineFront.c_str(), X_OK) == 0;
    front.emplace(inside ? paths.engineFront : paths.fullFront, paths.frontSocket,
                  static_cast<int>(o.frontWorkers));
    front->keepRunning();
  }
  vela::RequestRunner runner(inst, static_cast<size_t>(o.maxOpen));
  vela::PageService pages(inst);
  serve::ServerConfig config;
  config.program = kProgram;
  config.workers = static_cast<size_t>(o.threads);
  config.requestTimeoutMs = static_cast<int>(o.clientTimeoutMs);
  config.maxRequestBytes = vela::kMaxRequestBytes;
  // A client that sees no started byte in time runs the search itself.
  config.startedBytes = std::string(1, vela::kStartedByte);
  // Only the service's own account: the searches of the web server.
  config.peerCheck = serve::samePeerAccount;
  config.refusedPeers = "of another account";
  config.framer = [](std::string_view bytes, size_t) {
    vela::ToolRequest request;
    size_t used = 0;
    switch (vela::decodeRequest(bytes, request, used)) {
      case vela::Decoded::kNeedMore:
        return serve::Framing::kNeedMore;
      case vela::Decoded::kDone:
        // More than one request: not one of the programs.
        return used == bytes.size() ? serve::Framing::kDone : serve::Framing::kBad;
      case vela::Decoded::kBad:
        break;
    }
    return serve::Framing::kBad;
  };
  config.handler = [&runner, &pages](const std::string& bytes, const std::function<bool()>& there) {
    vela::ToolRequest request;
    size_t used = 0;
    vela::decodeRequest(bytes, request, used);  // whole: the framer said so
    const bool page = request.tool == vela::Tool::kPage;
    vela::ToolAnswer answer;
    {
      // A job sees one state of each settings file, looked at once.
      const KeptFilesThreadRun job;
      answer = page ? pages.serve(request) : runner.serve(request, there);
    }
    std::string encoded;
    const bool withFiles = !request.files.empty();
    // A result or a page too large to carry is made by the program itself:
    // with no answer, the client starts it.
    if (!vela::encodeAnswer(answer, encoded, withFiles) && (withFiles || page))
      return std::string();
    if (encoded.empty()) {
      answer = vela::ToolAnswer{
          205,
          "",
          std::string(vela::toolName(request.tool)) + ": the answer is too large to hand over\n",
          {}};
      vela::encodeAnswer(answer, encoded);
    }
    return encoded;
  };
  int second = 0;
  config.housekeeping = [&] {
    // A socket removed or replaced (the installation taken away) ends
    // the service: no client can reach it any more.
    struct stat st;
    if (lstat(paths.socket.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode) || st.st_ino != socketIno) {
      logLine(paths.socket + " is gone");
      return false;
    }
    if (++second % 5 == 0) {
      runner.databases().dropReplaced();
      pages.keptDirectories().dropStale();
    }
    if (front) front->keepRunning();
    return true;
  };
  logLine("serving " + inst.root + " on " + paths.socket + " (pid " + std::to_string(getpid()) +
          ", " + std::to_string(o.threads) + " threads)");
  const int rc = serve::serve(listener.release(), config);
  struct stat st;
  if (lstat(paths.socket.c_str(), &st) == 0 && st.st_ino == socketIno) unlink(paths.socket.c_str());
  logLine("stopped");
  return rc;
}
