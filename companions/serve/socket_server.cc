/// @file socket_server.cc
/// @brief The threads of a daemon, taking turns at reading and answering.

#include "companions/serve/socket_server.h"

#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include "system/clock.h"
#include "system/secure_file.h"

namespace serve {

namespace {

struct Job {
  int fd = -1;
  std::string request;
};

// Bytes of requests held, read or queued, for all clients together.
class HeldBytes {
 public:
  explicit HeldBytes(size_t cap) : cap_(cap) {}
  bool take(size_t n) {
    size_t now = held_.load();
    do {
      if (n > cap_ || now > cap_ - n) return false;
    } while (!held_.compare_exchange_weak(now, now + n));
    return true;
  }
  void give(size_t n) { held_ -= n; }

 private:
  const size_t cap_;
  std::atomic<size_t> held_{0};
};

// Whole requests and the threads that serve them. The threads take turns
// at reading: the one that reads a whole request while a place is free
// answers it itself and wakes another to read on. A request is then served
// by a thread already running, and the wake that costs most on a busy
// machine, from the reader to an idle worker, is off the client's path.
// At most `workers` requests are answered at once; there is one thread
// more, so that someone reads while they are.
class Pool {
 public:
  Pool(size_t workers, size_t cap) : workers_(workers), cap_(cap) {}
  // Queues a whole request; false when the queue is full or closed.
  bool push(Job&& job) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_ || jobs_.size() >= cap_) return false;
    jobs_.push_back(std::move(job));
    return true;
  }
  // Whether the reader should stop reading and answer a queued request.
  bool answerable() {
    std::lock_guard<std::mutex> lock(mutex_);
    return canAnswer();
  }
  enum class Turn { kAnswer, kRead, kStop };
  // Waits until the thread has a request to answer (then in `job`), may
  // read, or must stop. `finished` is true when it comes back from
  // answering one, `read` when from reading.
  Turn next(Job& job, bool finished, bool read) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (finished) --answering_;
    if (read) reading_ = false;
    ready_.wait(lock, [this] { return stopping_ || canAnswer() || !reading_; });
    if (stopping_) return Turn::kStop;
    if (canAnswer()) {
      job = std::move(jobs_.front());
      jobs_.pop_front();
      ++answering_;
      // Someone must read on while this thread answers, and the requests
      // read with this one are taken up side by side, each by a thread of
      // its own, not one after another as each taker wakes the next.
      size_t wake = std::min(jobs_.size(), workers_ - answering_) + (reading_ ? 0 : 1);
      // Woken with the lock still held, a thread on this processor would
      // run at once only to sleep again on the lock.
      lock.unlock();
      for (; wake > 0; --wake)
        ready_.notify_one();
      return Turn::kAnswer;
    }
    reading_ = true;
    return Turn::kRead;
  }
  // Ends the waits; returns the requests nobody took up.
  std::deque<Job> stop() {
    std::deque<Job> left;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
      left.swap(jobs_);
    }
    ready_.notify_all();
    return left;
  }

 private:
  bool canAnswer() const { return !jobs_.empty() && answering_ < workers_; }

  const size_t workers_;
  const size_t cap_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Job> jobs_;
  size_t answering_ = 0;
  bool reading_ = false;  // a thread has the turn at reading
  bool stopping_ = false;
};

// Clients dropped, by why; reported now and then rather than one line each,
// so a flood of bad clients cannot flood the log.
struct Drops {
  std::atomic<uint64_t> refused{0}, malformed{0}, slow{0}, busy{0}, crowding{0}, gone{0};

  void report(const ServerConfig& config) {
    const std::pair<std::atomic<uint64_t>*, const char*> kinds[] = {
        {&refused, config.refusedPeers.c_str()},
        {&malformed, "malformed or too large"},
        {&slow, "too slow to send their request"},
        {&busy, "over capacity"},
        {&crowding, "from an address holding too many connections"},
        {&gone, "gone before their turn"}};
    std::string text;
    for (const auto& [count, what] : kinds) {
      const uint64_t n = count->exchange(0);
      if (n > 0) text += (text.empty() ? "" : ", ") + std::to_string(n) + " " + what;
    }
    if (!text.empty()) logLine(config.program, "clients dropped: " + text);
  }
};

// What the reading thread and the workers share.
struct Shared {
  const ServerConfig& config;
  Pool pool;
  HeldBytes held;
  Drops drops;
};

bool clientThere(int fd) {
  pollfd p{fd, POLLRDHUP, 0};
  if (poll(&p, 1, 0) < 0) return errno == EINTR;
  return (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) == 0;
}

// Sends all of `bytes` on a non-blocking socket, waiting at most `waitMs`
// each time the client reads nothing; false when it is gone or too slow.
bool sendAll(int fd, const std::string& bytes, int waitMs) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd, POLLOUT, 0};
      const int ready = poll(&p, 1, waitMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return false;
    } else {
      return false;  // gone
    }
  }
  return true;
}

void answer(Shared& shared, Job& job) {
  const ServerConfig& config = shared.config;
  UniqueFd fd(job.fd);
  const std::string request = std::move(job.request);
  shared.held.give(request.size());
  if (!clientThere(fd.get())) {
    ++shared.drops.gone;
    return;
  }
  // The socket stays non-blocking: a send that would block waits in poll,
  // bounded as a send time-out would bound it.
  const int wait = config.answerTimeoutMs;
  if (!config.startedBytes.empty() && !sendAll(fd.get(), config.startedBytes, wait)) return;
  const int raw = fd.get();
  sendAll(fd.get(), config.handler(request, [raw] { return clientThere(raw); }), wait);
}

// A connection whose request is still arriving.
struct Reading {
  int fd;
  std::string bytes;
  long long accepted;
  std::string address;  // peerAddress
};

// The IP address of the client on fd, as its bytes; "" for a client that
// has none (a Unix socket). False when the client is gone already.
bool peerAddress(int fd, std::string& address) {
  sockaddr_storage peer{};
  socklen_t size = sizeof peer;
  if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0) return false;
  address.clear();
  if (peer.ss_family == AF_INET) {
    const auto& in = reinterpret_cast<const sockaddr_in&>(peer);
    address.assign(reinterpret_cast<const char*>(&in.sin_addr), sizeof in.sin_addr);
  } else if (peer.ss_family == AF_INET6) {
    const auto& in6 = reinterpret_cast<const sockaddr_in6&>(peer);
    address.assign(reinterpret_cast<const char*>(&in6.sin6_addr), sizeof in6.sin6_addr);
  }
  return true;
}

bool isLocalListener(int fd) {
  sockaddr_storage own{};
  socklen_t size = sizeof own;
  return getsockname(fd, reinterpret_cast<sockaddr*>(&own), &size) == 0 && own.ss_family == AF_UNIX;
}

class Reader {
 public:
  Reader(int listenFd, Shared& shared)
      : listener_(listenFd),
        listenFd_(listenFd),
        local_(isLocalListener(listenFd)),
        config_(shared.config),
        shared_(shared) {}
  ~Reader() { close(); }

  // Stops reading: the listening socket is closed, so that clients turn
  // away at once, and the connections still sending are dropped.
  void close() {
    listener_.reset();
    for (const Reading& r : reading_)
      drop(r);
    reading_.clear();
  }

  // One round: waits at most until `untilMs` for the sockets and `signalFd`.
  // False when a signal to stop arrived.
  bool round(int signalFd, long long untilMs) {
    const long long now = monotonicMs();
    long long wake = untilMs;
    for (const Reading& r : reading_)
      wake = std::min(wake, deadlineOf(r));
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
    const long long after = monotonicMs();
    for (size_t i = 0; i < reading_.size(); ++i) {
      Reading& r = reading_[i];
      if (fds[i + 2].revents != 0 && !readSome(r)) continue;
      if (r.fd < 0) continue;  // handed to a worker
      if (after >= deadlineOf(r)) {
        drop(r);
        ++shared_.drops.slow;
        continue;
      }
      kept.push_back(std::move(r));
    }
    reading_.swap(kept);
    if (fds[1].revents & POLLIN) acceptAll(after);
    return true;
  }

 private:
  void drop(const Reading& r) {
    ::close(r.fd);
    shared_.held.give(r.bytes.size());
  }

  // A silent client has only the first deadline; once it has begun, the
  // whole request's.
  long long deadlineOf(const Reading& r) const {
    const int limit = r.bytes.empty()
                          ? std::min(config_.firstByteTimeoutMs, config_.requestTimeoutMs)
                          : config_.requestTimeoutMs;
    return r.accepted + limit;
  }

  // Whether a connection from `address` may join the readers; makes room
  // for it when every place is taken and an address holds more than its
  // share, by dropping the oldest connection of the address that holds the
  // most: idle connections from a few addresses can then never keep out a
  // client from another.
  bool admit(const std::string& address) {
    std::map<std::string, size_t> held;
    for (const Reading& r : reading_)
      ++held[r.address];
    const size_t mine = held[address];
    if (!address.empty() && mine >= config_.maxReadingPerAddress) {
      ++shared_.drops.crowding;
      return false;
    }
    if (reading_.size() < config_.maxReading) return true;
    const auto most = std::max_element(
        held.begin(), held.end(), [](const auto& a, const auto& b) { return a.second < b.second; });
    if (most->second <= mine + 1) {
      ++shared_.drops.busy;
      return false;
    }
    const auto oldest = std::find_if(reading_.begin(), reading_.end(),
                                     [&](const Reading& r) { return r.address == most->first; });
    drop(*oldest);
    reading_.erase(oldest);
    ++shared_.drops.crowding;
    return true;
  }

  void acceptAll(long long now) {
    for (;;) {
      const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
      if (fd < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        // Out of descriptors: the pending clients wait a moment in the
        // backlog instead of the loop spinning.
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          acceptPausedUntil_ = now + 100;
          logLine(config_.program, std::string("cannot accept clients: ") + std::strerror(errno));
        }
        return;
      }
      // A client of a Unix socket has no address to look up.
      std::string address;
      if (!local_ && !peerAddress(fd, address)) {
        ::close(fd);
        ++shared_.drops.gone;
      } else if (config_.peerCheck && !config_.peerCheck(fd)) {
        ::close(fd);
        ++shared_.drops.refused;
      } else {
        // A client that sent its whole request with the connect takes no
        // place among the readers: a burst of such clients from one host
        // is not refused for the count of its address.
        Reading r{fd, std::string(), now, std::move(address)};
        if (!readSome(r) || r.fd < 0) continue;
        if (admit(r.address)) {
          reading_.push_back(std::move(r));
        } else {
          drop(r);
        }
      }
    }
  }

  // Reads what has arrived; false when the connection was closed here.
  bool readSome(Reading& r) {
    char piece[16384];
    Framing framing = Framing::kNeedMore;
    for (;;) {
      const ssize_t n = recv(r.fd, piece, sizeof piece, 0);
      if (n > 0) {
        if (!shared_.held.take(static_cast<size_t>(n))) {
          drop(r);
          ++shared_.drops.busy;
          return false;
        }
        const size_t fresh = r.bytes.size();
        r.bytes.append(piece, static_cast<size_t>(n));
        if (r.bytes.size() > config_.maxRequestBytes) {
          framing = Framing::kBad;
          break;
        }
        // Framed piece by piece: a request whole in its first piece costs
        // no read that would only find nothing more.
        framing = config_.framer(r.bytes, fresh);
        if (framing != Framing::kNeedMore) break;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
      drop(r);  // the client went away, or its socket failed
      ++shared_.drops.gone;
      return false;
    }
    if (framing == Framing::kNeedMore) return true;
    if (framing == Framing::kBad) {
      drop(r);
      ++shared_.drops.malformed;
      return false;
    }
    Job job{r.fd, std::move(r.bytes)};
    const size_t size = job.request.size();
    if (!shared_.pool.push(std::move(job))) {
      ::close(r.fd);
      shared_.held.give(size);
      ++shared_.drops.busy;
      return false;
    }
    r.fd = -1;
    r.bytes.clear();
    return true;
  }

  UniqueFd listener_;
  const int listenFd_;
  const bool local_;  // a Unix socket
  const ServerConfig& config_;
  Shared& shared_;
  std::vector<Reading> reading_;
  long long acceptPausedUntil_ = 0;
};

}  // namespace

void logLine(const std::string& program, const std::string& text) {
  const time_t now = time(nullptr);
  tm local{};
  localtime_r(&now, &local);
  char stamp[32];
  strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
  const std::string line = std::string(stamp) + " " + program + ": " + text + "\n";
  writeAll(STDERR_FILENO, line);
}

namespace {

// What the thread that reads keeps between turns.
struct ReadTurn {
  Reader& reader;
  int signalFd;
  long long nextHousekeeping;
  int rounds = 0;
};

// Reads until a whole request can be answered (true) or serving ends (false).
bool readOn(Shared& shared, ReadTurn& turn) {
  const ServerConfig& config = shared.config;
  for (;;) {
    if (!turn.reader.round(turn.signalFd, turn.nextHousekeeping)) {
      logLine(config.program, "asked to stop");
      return false;
    }
    if (monotonicMs() >= turn.nextHousekeeping) {
      turn.nextHousekeeping = monotonicMs() + 1000;
      if (++turn.rounds % 10 == 0) shared.drops.report(config);
      if (config.housekeeping && !config.housekeeping()) return false;
    }
    if (shared.pool.answerable()) return true;
  }
}

void takeTurns(Shared& shared, ReadTurn& turn) {
  Job job;
  bool answered = false, read = false;
  for (;;) {
    switch (shared.pool.next(job, answered, read)) {
      case Pool::Turn::kStop:
        return;
      case Pool::Turn::kAnswer:
        answer(shared, job);
        answered = true;
        read = false;
        break;
      case Pool::Turn::kRead:
        if (!readOn(shared, turn)) {
          turn.reader.close();
          for (Job& left : shared.pool.stop()) {
            close(left.fd);
            shared.held.give(left.request.size());
          }
          return;
        }
        answered = false;
        read = true;
        break;
    }
  }
}

}  // namespace

int serve(int listenFd, const ServerConfig& config) {
  UniqueFd listener(listenFd);
  signal(SIGPIPE, SIG_IGN);
  // An ignored signal never reaches the descriptor: a starter that ignored
  // these must not leave a daemon that cannot be stopped (a SIGHUP ignored
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
    logLine(config.program, std::string("no signal descriptor: ") + std::strerror(errno));
    return 1;
  }
  const size_t workers = std::max<size_t>(config.workers, 1);
  Shared shared{config, Pool(workers, config.maxQueued), HeldBytes(config.maxHeldBytes), {}};
  Reader reader(listener.release(), shared);
  ReadTurn turn{reader, signals.get(), monotonicMs() + 1000};
  // This thread and `workers` more: one reads while `workers` answer.
  std::vector<std::thread> threads;
  try {
    for (size_t i = 0; i < workers; ++i)
      threads.emplace_back(takeTurns, std::ref(shared), std::ref(turn));
  } catch (const std::system_error& e) {
    logLine(config.program, std::string("cannot start the workers: ") + e.what());
    shared.pool.stop();
    for (std::thread& t : threads)
      t.join();
    return 1;
  }
  takeTurns(shared, turn);
  for (std::thread& t : threads)
    t.join();
  shared.drops.report(config);
  return 0;
}

}  // namespace serve
