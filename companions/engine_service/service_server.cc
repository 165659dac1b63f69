/// @file service_server.cc
/// @brief The reading thread, the request queue and the workers of the
/// engine service.

#include "companions/engine_service/service_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "system/secure_file.h"

namespace velaservice {

namespace {

long long nowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

struct Job {
  int fd = -1;
  vela::ToolRequest request;
};

// Whole requests between the reading thread and the workers. Bounded: a
// request that finds it full is not taken, so no client waits in a line
// longer than the workers can work off.
class JobQueue {
 public:
  explicit JobQueue(size_t cap) : cap_(cap) {}
  bool push(Job&& job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (closed_ || jobs_.size() >= cap_) return false;
      jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
    return true;
  }
  // Waits for a job; false once the queue is closed.
  bool pop(Job& job) {
    std::unique_lock<std::mutex> lock(mutex_);
    ready_.wait(lock, [this] { return closed_ || !jobs_.empty(); });
    if (closed_) return false;
    job = std::move(jobs_.front());
    jobs_.pop_front();
    return true;
  }
  // Ends the waits; returns the jobs no worker has taken.
  std::deque<Job> close() {
    std::deque<Job> left;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      closed_ = true;
      left.swap(jobs_);
    }
    ready_.notify_all();
    return left;
  }

 private:
  const size_t cap_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Job> jobs_;
  bool closed_ = false;
};

// Clients dropped, by why; reported now and then rather than one line each,
// so a flood of bad clients cannot flood the log.
struct Drops {
  std::atomic<uint64_t> foreign{0}, malformed{0}, slow{0}, busy{0}, gone{0};

  void report() {
    const std::pair<std::atomic<uint64_t>*, const char*> kinds[] = {
        {&foreign, "of another account"},
        {&malformed, "malformed or too large"},
        {&slow, "too slow to send their request"},
        {&busy, "over capacity"},
        {&gone, "gone before their turn"}};
    std::string text;
    for (const auto& [count, what] : kinds) {
      const uint64_t n = count->exchange(0);
      if (n > 0) text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + what;
    }
    if (!text.empty()) logLine("clients dropped: " + text);
  }
};

bool clientThere(int fd) {
  pollfd p{fd, POLLRDHUP, 0};
  if (poll(&p, 1, 0) < 0) return errno == EINTR;
  return (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0;
}

bool sendAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;  // gone, or the send time-out passed
    }
  }
  return true;
}

void work(JobQueue& queue, const RequestHandler& handler, const ServerLimits& limits,
          Drops& drops) {
  Job job;
  while (queue.pop(job)) {
    UniqueFd fd(job.fd);
    if (!clientThere(fd.get())) {
      ++drops.gone;
      continue;
    }
    const int flags = fcntl(fd.get(), F_GETFL);
    if (flags >= 0) fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    const timeval limit{limits.answerTimeoutMs / 1000, (limits.answerTimeoutMs % 1000) * 1000};
    setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (!sendAll(fd.get(), std::string(1, vela::kStartedByte))) continue;
    const int raw = fd.get();
    vela::ToolAnswer answer = handler(job.request, [raw] { return clientThere(raw); });
    std::string bytes;
    if (!vela::encodeAnswer(answer, bytes)) {
      answer = vela::ToolAnswer{205, "",
                                std::string(vela::toolName(job.request.tool)) +
                                    ": the answer is too large to hand over\n"};
      vela::encodeAnswer(answer, bytes);
    }
    sendAll(fd.get(), bytes);
  }
}

// A connection whose request is still arriving.
struct Reading {
  int fd;
  std::string bytes;
  long long deadline;
};

class Reader {
 public:
  Reader(int listenFd, const ServerLimits& limits, JobQueue& queue, Drops& drops)
      : listenFd_(listenFd), limits_(limits), queue_(queue), drops_(drops) {}
  ~Reader() {
    for (const Reading& r : reading_)
      close(r.fd);
  }

  // One round: waits at most until `untilMs` for the sockets and `signalFd`.
  // False when a signal to stop arrived.
  bool round(int signalFd, long long untilMs) {
    const long long now = nowMs();
    long long wake = untilMs;
    for (const Reading& r : reading_)
      wake = std::min(wake, r.deadline);
    std::vector<pollfd> fds;
    fds.push_back({signalFd, POLLIN, 0});
    const bool acceptNow = now >= acceptPausedUntil_;
    fds.push_back({acceptNow ? listenFd_ : -1, POLLIN, 0});
    for (const Reading& r : reading_)
      fds.push_back({r.fd, POLLIN, 0});
    const int timeout = static_cast<int>(std::max(0LL, std::min(wake - now, 1000LL)));
    if (poll(fds.data(), fds.size(), acceptNow ? timeout : std::min(timeout, 50)) < 0 &&
        errno != EINTR)
      return true;
    if (fds[0].revents & POLLIN) return false;
    // The connections read first: accepting appends to reading_.
    std::vector<Reading> kept;
    const long long after = nowMs();
    for (size_t i = 0; i < reading_.size(); ++i) {
      Reading& r = reading_[i];
      if (fds[i + 2].revents != 0 && !readSome(r)) continue;
      if (r.fd < 0) continue;  // handed to a worker
      if (after >= r.deadline) {
        close(r.fd);
        ++drops_.slow;
        continue;
      }
      kept.push_back(std::move(r));
    }
    reading_.swap(kept);
    if (fds[1].revents & POLLIN) acceptAll(after);
    return true;
  }

 private:
  void acceptAll(long long now) {
    for (;;) {
      const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        // Out of descriptors: the pending clients wait a moment in the
        // backlog (or run their search themselves) instead of spinning.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          acceptPausedUntil_ = now + 100;
          logLine(std::string("cannot accept clients: ") + std::strerror(errno));
        }
        return;
      }
      ucred peer{};
      socklen_t size = sizeof peer;
      if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid()) {
        close(fd);
        ++drops_.foreign;
      } else if (reading_.size() >= limits_.maxReading) {
        close(fd);
        ++drops_.busy;
      } else {
        reading_.push_back({fd, std::string(), now + limits_.requestTimeoutMs});
      }
    }
  }

  // Reads what has arrived; false when the connection was closed here.
  bool readSome(Reading& r) {
    char piece[16384];
    for (;;) {
      const ssize_t n = recv(r.fd, piece, sizeof piece, 0);
      if (n > 0) {
        r.bytes.append(piece, static_cast<size_t>(n));
        if (r.bytes.size() > vela::kMaxRequestBytes) break;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      close(r.fd);  // the client went away, or its socket failed
      ++drops_.gone;
      return false;
    }
    Job job;
    size_t used = 0;
    switch (vela::decodeRequest(r.bytes, job.request, used)) {
      case vela::Decoded::kNeedMore:
        return true;
      case vela::Decoded::kDone:
        if (used == r.bytes.size()) break;
        [[fallthrough]];  // more than one request: not one of the programs
      case vela::Decoded::kBad:
        close(r.fd);
        ++drops_.malformed;
        return false;
    }
    job.fd = r.fd;
    if (!queue_.push(std::move(job))) {
      close(r.fd);
      ++drops_.busy;
      return false;
    }
    r.fd = -1;
    return true;
  }

  const int listenFd_;
  const ServerLimits& limits_;
  JobQueue& queue_;
  Drops& drops_;
  std::vector<Reading> reading_;
  long long acceptPausedUntil_ = 0;
};

}  // namespace

void logLine(const std::string& text) {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  const std::string line = std::string(stamp) + " vela_service: " + text + "\n";
  writeAll(STDERR_FILENO, line);
}

int serve(int listenFd, const ServerLimits& limits, const RequestHandler& handler,
          const Housekeeping& housekeeping) {
  UniqueFd listener(listenFd);
  signal(SIGPIPE, SIG_IGN);
  // An ignored signal never reaches the descriptor: a starter that ignored
  // these must not leave a service that cannot be stopped (a SIGHUP ignored
  // on purpose, as by nohup, stays ignored).
  signal(SIGTERM, SIG_DFL);
  signal(SIGINT, SIG_DFL);
  sigset_t stops;
  sigemptyset(&stops);
  for (int sig : {SIGTERM, SIGINT, SIGHUP})
    sigaddset(&stops, sig);
  if (pthread_sigmask(SIG_BLOCK, &stops, nullptr) != 0) return 1;
  UniqueFd signals(signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK));
  if (!signals) {
    logLine(std::string("no signal descriptor: ") + std::strerror(errno));
    return 1;
  }
  JobQueue queue(limits.maxQueued);
  Drops drops;
  std::vector<std::thread> workers;
  try {
    for (size_t i = 0; i < limits.workers; ++i)
      workers.emplace_back(work, std::ref(queue), std::cref(handler), std::cref(limits),
                           std::ref(drops));
  } catch (const std::system_error& e) {
    logLine(std::string("cannot start the workers: ") + e.what());
    queue.close();
    for (std::thread& t : workers)
      t.join();
    return 1;
  }
  {
    Reader reader(listener.get(), limits, queue, drops);
    long long nextHousekeeping = nowMs() + 1000;
    int rounds = 0;
    for (;;) {
      if (!reader.round(signals.get(), nextHousekeeping)) {
        logLine("asked to stop");
        break;
      }
      if (nowMs() < nextHousekeeping) continue;
      nextHousekeeping = nowMs() + 1000;
      if (++rounds % 10 == 0) drops.report();
      if (!housekeeping()) break;
    }
  }
  listener.reset();
  for (Job& job : queue.close())
    close(job.fd);
  for (std::thread& t : workers)
    t.join();
  drops.report();
  return 0;
}

}  // namespace velaservice
