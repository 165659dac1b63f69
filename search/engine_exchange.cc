/// @file engine_exchange.cc
/// @brief Requests to the engine service, one at a time or a search's at
/// once.

#include "search/engine_exchange.h"

#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <system_error>
#include <thread>

#include "system/clock.h"
#include "system/fsutil.h"
#include "system/log.h"
#include "system/numbers.h"
#include "system/scratch_files.h"

namespace velaservice {

namespace {

// Waits until `fd` is ready for `events` or the deadline passes (-1: no
// deadline). False at the deadline or on an error.
bool waitFor(int fd, short events, long long deadline) {
  // The run waits here anyway: its log lines are written meanwhile.
  writeHeldLogLines();
  for (;;) {
    const long long left = deadline < 0 ? -1 : deadline - monotonicMs();
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

}  // namespace

int startWaitMs(const ServicePaths& paths) {
  int64_t ms = kDefaultStartWaitMs;
  parseDecimal(serviceSetting(paths, "WAIT_MS"), 1, 60000, ms);
  return static_cast<int>(ms);
}

PendingRequest::PendingRequest(const std::string& socketPath, const vela::ToolRequest& request,
                               int startWaitMs) {
  failed_ = Asked::kNoAnswer;
  std::string bytes;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (!vela::encodeRequest(request, bytes) || socketPath.size() >= sizeof addr.sun_path) return;
  std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
  fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  if (connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    // A full backlog (EAGAIN) is a busy service, not a missing one.
    if (errno == ENOENT || errno == ECONNREFUSED) failed_ = Asked::kNoService;
    return;
  }
  // Only a service of this account hears the request.
  ucred peer{};
  socklen_t size = sizeof peer;
  static const uid_t own = geteuid();
  if (getsockopt(fd_, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != own) return;
  if (!sendWithin(fd_, bytes, monotonicMs() + startWaitMs)) return;
  failed_ = Asked::kAnswered;
}

PendingRequest::~PendingRequest() {
  if (fd_ >= 0) close(fd_);
}

Asked PendingRequest::await(int startWaitMs, long long answerDeadlineMs, vela::ToolAnswer& answer) {
  if (failed_ != Asked::kAnswered) return failed_;
  failed_ = Asked::kNoAnswer;  // until an answer is whole
  if (!started_) {
    if (receive(fd_, got_, monotonicMs() + startWaitMs) != 1 || got_[0] != vela::kStartedByte)
      return failed_;
    started_ = true;
    got_.erase(0, 1);
  }
  for (;;) {
    size_t used = 0;
    switch (vela::decodeAnswer(got_, answer, used)) {
      case vela::Decoded::kDone:
        if (used != got_.size()) return failed_;
        failed_ = Asked::kAnswered;
        return Asked::kAnswered;
      case vela::Decoded::kBad:
        return failed_;
      case vela::Decoded::kNeedMore:
        break;
    }
    const int got = receive(fd_, got_, answerDeadlineMs);
    if (got == 1) continue;
    if (got < 0 && answerDeadlineMs >= 0 && monotonicMs() >= answerDeadlineMs)
      failed_ = Asked::kTimedOut;
    return failed_;
  }
}

Asked askService(const std::string& socketPath, const vela::ToolRequest& request, int startWaitMs,
                 vela::ToolAnswer& answer) {
  PendingRequest pending(socketPath, request, startWaitMs);
  return pending.await(startWaitMs, -1, answer);
}

struct LocalJob {
  vela::ToolRequest request;
  vela::ToolAnswer answer;
  enum class State { kQueued, kRunning, kDone } state = State::kQueued;
  bool wanted = true;  // false once given up: nothing of it is written
};

namespace {

std::atomic<LocalEngine*> g_localEngine{nullptr};

// Requests handed over ahead are made by helper threads while the run goes
// on, side by side as the service's threads would make them. A claimer that
// finds its request not yet begun makes it itself: waking a helper on an
// idle processor can take longer than the request.
class LocalHelpers {
 public:
  // Never destroyed: a worker may end with exit() while a helper waits.
  static LocalHelpers& get() {
    static LocalHelpers* helpers = new LocalHelpers;
    return *helpers;
  }

  void submit(const std::shared_ptr<LocalJob>& job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(job);
      startHelpers();
    }
    queued_.notify_one();
  }

  // Makes `job`, or waits for the helper making it.
  void finish(LocalJob& job) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (job.state == LocalJob::State::kQueued) {
      unqueue(job);
      job.state = LocalJob::State::kRunning;
      lock.unlock();
      make(job);
      lock.lock();
      job.state = LocalJob::State::kDone;
      done_.notify_all();
      return;
    }
    done_.wait(lock, [&] { return job.state == LocalJob::State::kDone; });
  }

  // Gives `job` up; returns once no helper works on it, so that nothing of
  // it outlives the run.
  void drop(LocalJob& job) {
    std::unique_lock<std::mutex> lock(mutex_);
    job.wanted = false;
    if (job.state == LocalJob::State::kQueued) {
      unqueue(job);
      job.state = LocalJob::State::kDone;
      return;
    }
    done_.wait(lock, [&] { return job.state == LocalJob::State::kDone; });
  }

 private:
  static void make(LocalJob& job) {
    job.answer = g_localEngine.load()->answer(job.request, [&job] { return job.wanted; });
  }

  void unqueue(const LocalJob& job) {
    for (auto it = queue_.begin(); it != queue_.end(); ++it)
      if (it->get() == &job) {
        queue_.erase(it);
        return;
      }
  }

  void startHelpers() {
    if (started_) return;
    started_ = true;
    // One processor stays the claimer's.
    const unsigned cpus = std::thread::hardware_concurrency();
    const unsigned count = std::clamp(cpus > 1 ? cpus - 1 : 1u, 1u, 3u);
    // Signals are the run's, handled by the thread that makes it.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    try {
      for (unsigned i = 0; i < count; ++i)
        std::thread([this] { serve(); }).detach();
    } catch (const std::system_error&) {
      // No helper: every request is made by its claimer.
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
  }

  void serve() {
    {
      // Woken on the processor of the run's thread, a helper waits for it
      // to sleep or for the other processor instead of taking its place.
      sched_param none{};
      pthread_setschedparam(pthread_self(), SCHED_BATCH, &none);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      queued_.wait(lock, [this] { return !queue_.empty(); });
      std::shared_ptr<LocalJob> job = std::move(queue_.front());
      queue_.pop_front();
      job->state = LocalJob::State::kRunning;
      lock.unlock();
      make(*job);
      lock.lock();
      job->state = LocalJob::State::kDone;
      done_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable queued_, done_;
  std::deque<std::shared_ptr<LocalJob>> queue_;
  bool started_ = false;
};

}  // namespace

void setLocalEngine(LocalEngine* engine) {
  g_localEngine = engine;
}

}  // namespace velaservice

namespace {

// The C library's walk over names the kernel has cached: in a process as
// short-lived as a search, the first look into /proc/self (what
// resolvedPath asks) costs about twice as much.
std::string realPath(const std::string& path) {
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return "";
  std::string resolved = real;
  free(real);
  return resolved;
}

// The renderer's twin, linked with the C library's converters.
constexpr const char* kConvertingRendererName = "getfilelist_conv.exe";

std::vector<std::string> processEnvironment() {
  std::vector<std::string> entries;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e)
    entries.emplace_back(*e);
  return entries;
}

// The whole of the open file `fd` from its start, when a request has room
// for it beside the words.
bool readCarried(int fd, std::string& bytes) {
  constexpr size_t kRoomForWords = 8192;
  char buffer[16384];
  for (off_t at = 0;;) {
    const ssize_t n = pread(fd, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (bytes.size() + static_cast<size_t>(n) > vela::kMaxRequestBytes - kRoomForWords)
      return false;
    bytes.append(buffer, static_cast<size_t>(n));
    at += n;
  }
}

bool isWordOf(const ChildProgram& program, const std::string& word) {
  return std::find(program.argv.begin() + 1, program.argv.end(), word) != program.argv.end();
}

std::string parentOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// The installation of each program named so far, by the directory asked
// from and the name as written, for the later runs of this process (a
// resident worker makes many): looked up again once the name leads to
// another file, or the file was moved or its mode changed (its change time
// tells).
struct InstalledProgram {
  std::string root;  // "" when it is no program of the directory's installation
  dev_t dev = 0;
  ino_t ino = 0;
  timespec changed{};
};
std::mutex g_programsMutex;
std::map<std::string, InstalledProgram>& installedPrograms() {
  static std::map<std::string, InstalledProgram> known;
  return known;
}

bool sameFile(const struct stat& st, const InstalledProgram& known) {
  return st.st_dev == known.dev && st.st_ino == known.ino &&
         st.st_ctim.tv_sec == known.changed.tv_sec && st.st_ctim.tv_nsec == known.changed.tv_nsec;
}

// The installation above the folder of `path`, when its CGI directory is
// `cgiDir`; "" otherwise.
std::string installationOf(const std::string& path, const std::string& cgiDir) {
  constexpr size_t kMaxKept = 256;
  const std::string key = cgiDir + '\0' + path;
  struct stat st;
  const bool there = stat(path.c_str(), &st) == 0;
  {
    std::lock_guard<std::mutex> lock(g_programsMutex);
    const auto found = installedPrograms().find(key);
    if (there && found != installedPrograms().end() && sameFile(st, found->second))
      return found->second.root;
  }
  const std::string program = realPath(path);
  std::string root = parentOf(parentOf(program));
  if (program.empty() || access(program.c_str(), X_OK) != 0 ||
      realPath((root == "/" ? "" : root) + "/search-cgi") != cgiDir)
    root.clear();
  struct stat after;
  // Kept only when the file looked at before is the one resolved.
  if (there && stat(path.c_str(), &after) == 0 && after.st_dev == st.st_dev &&
      after.st_ino == st.st_ino) {
    std::lock_guard<std::mutex> lock(g_programsMutex);
    if (installedPrograms().size() >= kMaxKept) installedPrograms().clear();
    installedPrograms()[key] = InstalledProgram{root, st.st_dev, st.st_ino, st.st_ctim};
  }
  return root;
}

}  // namespace

EngineExchange::EngineExchange() {
  char cwd[PATH_MAX];
  usable_ = getcwd(cwd, sizeof cwd) != nullptr;
  if (usable_) cgiDir_ = cwd;
}

EngineExchange::~EngineExchange() {
  // Requests for the engine of this process end with the run.
  for (auto& [key, sent] : sent_)
    if (sent.local) velaservice::LocalHelpers::get().drop(*sent.local);
}

std::string EngineExchange::keyOf(const ChildProgram& program) {
  std::string key = std::to_string(program.limitMs);
  for (const std::string& word : program.argv) {
    key += '\0';
    key += word;
  }
  return key;
}

bool EngineExchange::requestFor(const ChildProgram& program, vela::ToolRequest& request,
                                bool page) {
  const std::string& path = program.argv.front();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return false;
  const std::string name = path.substr(slash + 1);
  // The renderer's twin makes the same pages; the service converts as it does.
  if (page && name == kConvertingRendererName) {
    request.tool = vela::Tool::kPage;
  } else if (!vela::toolFromName(name, request.tool) ||
             page != (request.tool == vela::Tool::kPage)) {
    return false;
  }
  // The program decides by where it is installed, as the program would:
  // the installation above its folder, whose CGI directory we work in.
  auto known = programDirs_.find(path);
  if (known == programDirs_.end())
    known = programDirs_.emplace(path, installationOf(path, cgiDir_)).first;
  const std::string& root = known->second;
  if (root.empty()) return false;
  if (root_.empty()) {
    root_ = root;
    paths_ = velaservice::servicePaths(root_);
    startWaitMs_ = velaservice::startWaitMs(paths_);
    if (velaservice::settingIsOff(paths_, "EXCHANGE")) usable_ = false;
  }
  if (!usable_ || root != root_) return false;
  request.cwd = cgiDir_;
  if (page) {
    const std::vector<std::string> env = program.env.empty() ? processEnvironment() : program.env;
    // A page shows local times: a run with a time zone of its own leaves its
    // page to the renderer, which shows them in that zone.
    for (const std::string& entry : env)
      if (entry.compare(0, 3, "TZ=") == 0) return false;
    request.args = vela::pageArguments(env, {program.argv.begin() + 1, program.argv.end()});
    return true;
  }
  request.args.assign(program.argv.begin() + 1, program.argv.end());
  for (scratch::Attached& file : scratch::attachedTo(program.argv))
    request.files.push_back({std::move(file.path), std::move(file.bytes)});
  return true;
}

void EngineExchange::prefetch(const std::vector<ChildProgram>& programs) {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const ChildProgram& program : programs) {
    vela::ToolRequest request;
    if (!usable_ || program.argv.empty() || !requestFor(program, request)) continue;
    Sent sent;
    // No service: the first program started will find that out and may
    // start one; asking again for each run costs nothing worth saving.
    if (!send(std::move(request), sent, true)) break;
    sent_.emplace(keyOf(program), std::move(sent));
  }
}

void EngineExchange::forget(const ChildProgram& program) {
  // Closing the connection is what tells the service the run is not wanted.
  std::unique_ptr<velaservice::PendingRequest> dropped;
  std::shared_ptr<velaservice::LocalJob> local;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = sent_.find(keyOf(program));
    if (found == sent_.end()) return;
    dropped = std::move(found->second.request);
    local = std::move(found->second.local);
    sent_.erase(found);
  }
  if (local) velaservice::LocalHelpers::get().drop(*local);
}

bool EngineExchange::run(const ChildProgram& program, ChildOutcome& outcome) {
  Sent sent;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!usable_) return false;
    auto found = sent_.find(keyOf(program));
    if (found != sent_.end()) {
      sent = std::move(found->second);
      sent_.erase(found);
    } else {
      vela::ToolRequest request;
      if (!requestFor(program, request)) return false;
      send(std::move(request), sent);
    }
  }
  // The limit runs from the hand-over, as a program's from its start.
  const long long deadline = program.limitMs > 0 ? sent.sentAtMs + program.limitMs : -1;
  vela::ToolAnswer answer;
  const velaservice::Asked asked = await(sent, deadline, answer);
  std::lock_guard<std::mutex> lock(mutex_);
  switch (asked) {
    case velaservice::Asked::kAnswered:
      // Results of the program's memory files, and of those only.
      for (vela::CarriedFile& file : answer.files)
        if (isWordOf(program, file.path)) scratch::takeResult(file.path, std::move(file.bytes));
      outcome.how = ChildOutcome::How::kEnded;
      outcome.rawStatus = (answer.status & 0xff) << 8;
      ++served_;
      return true;
    case velaservice::Asked::kTimedOut:
      // Dropping the request tells the service the run is no longer wanted.
      outcome.how = ChildOutcome::How::kTimedOut;
      outcome.rawStatus = SIGKILL;
      ++served_;
      return true;
    case velaservice::Asked::kNoService:
    case velaservice::Asked::kNoAnswer:
      break;
  }
  ++left_;
  return false;
}

bool EngineExchange::takesOutputOf(const std::string& path) {
  ChildProgram program;
  program.argv = {path};
  vela::ToolRequest request;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!usable_ || !requestFor(program, request, true)) return false;
  if (velaservice::g_localEngine.load() != nullptr) return true;
  // Whether the service is there, by its socket: a start of the renderer
  // ahead of its page is saved only when the service will make the page.
  struct stat st;
  return lstat(paths_.socket.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

bool EngineExchange::runForOutput(const ChildProgram& program, ChildOutcome& outcome,
                                  std::string& output, bool& workDone, int givenFd) {
  workDone = false;
  Sent sent;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    vela::ToolRequest request;
    if (!usable_ || program.argv.size() < 2 || !requestFor(program, request, true)) return false;
    if (givenFd >= 0) {
      request.files.push_back({program.argv[1], {}});
      if (!readCarried(givenFd, request.files.back().bytes)) return false;
    }
    send(std::move(request), sent);
  }
  vela::ToolAnswer answer;
  velaservice::Asked asked = velaservice::Asked::kNoService;
  if (sent.local || sent.request->sent()) {
    if (program.whileRunning) {
      program.whileRunning();
      workDone = true;
    }
    const long long deadline = program.limitMs > 0 ? sent.sentAtMs + program.limitMs : -1;
    asked = await(sent, deadline, answer);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  // An answer with an error text made no page: the renderer makes it.
  if (asked == velaservice::Asked::kAnswered && answer.err.empty()) {
    output = std::move(answer.out);
    outcome.how = ChildOutcome::How::kEnded;
    outcome.rawStatus = (answer.status & 0xff) << 8;
    ++served_;
    return true;
  }
  if (asked == velaservice::Asked::kTimedOut) {
    outcome.how = ChildOutcome::How::kTimedOut;
    outcome.rawStatus = SIGKILL;
    ++served_;
    return true;
  }
  ++left_;
  return false;
}

bool EngineExchange::send(vela::ToolRequest&& request, Sent& sent, bool ahead) {
  sent.sentAtMs = monotonicMs();
  if (velaservice::g_localEngine.load() != nullptr) {
    sent.local = std::make_shared<velaservice::LocalJob>();
    sent.local->request = std::move(request);
    if (ahead) velaservice::LocalHelpers::get().submit(sent.local);
    return true;
  }
  sent.request =
      std::make_unique<velaservice::PendingRequest>(paths_.socket, request, startWaitMs_);
  return !sent.request->noService();
}

velaservice::Asked EngineExchange::await(Sent& sent, long long deadline, vela::ToolAnswer& answer) {
  if (!sent.local) return sent.request->await(startWaitMs_, deadline, answer);
  velaservice::LocalHelpers::get().finish(*sent.local);
  answer = std::move(sent.local->answer);
  // A run past its limit is given up, as the service's would be.
  if (deadline >= 0 && monotonicMs() > deadline) return velaservice::Asked::kTimedOut;
  return velaservice::Asked::kAnswered;
}

size_t EngineExchange::served() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return served_;
}

size_t EngineExchange::leftToProcesses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return left_;
}
