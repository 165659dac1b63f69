/// @file net_exchange.cc
/// @brief One bounded TCP exchange: connect with a time-out, send the whole
/// request, read until the peer closes, all within one deadline and under a
/// cap on the answer's size.

#include "system/net_exchange.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <mutex>
#include <optional>

#include "system/config.h"
#include "system/run_deadline.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSettingsPath = "../setting/search_option.cfg";
constexpr int64_t kMaxTimeoutMs = 3600 * 1000;
constexpr int64_t kMinAnswerMb = 1;
constexpr int64_t kMaxAnswerMb = 1024;
constexpr size_t kReceiveChunk = 64 * 1024;

class Socket {
 public:
  explicit Socket(int fd) : fd_(fd) {}
  ~Socket() {
    if (fd_ >= 0) close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// Milliseconds left until `deadline`, at least 0 and at most `cap`.
int msLeft(Clock::time_point deadline, int cap) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  if (left <= 0) return 0;
  return static_cast<int>(std::min<int64_t>(left, cap));
}

// Waits until `fd` is ready for `events` or `timeoutMs` passes; EINTR does
// not end the wait early. True when ready (an error or hang-up counts as
// ready: the next call on the socket reports it).
bool waitFor(int fd, short events, Clock::time_point deadline, int capMs) {
  for (;;) {
    const int ms = msLeft(deadline, capMs);
    if (ms == 0) return false;
    // The run's client is watched too: an exchange for a client that has
    // gone ends at once.
    const int clientFd = runClientFd();
    pollfd p[2] = {{fd, events, 0}, {clientFd, 0, 0}};
    const int r = poll(p, clientFd >= 0 ? 2 : 1, ms);
    if (r > 0 && p[1].revents != 0 && runClientGone()) return false;
    if (r > 0) return true;
    if (r == 0) {
      // poll may wake a little early; the loop checks the clock again.
      continue;
    }
    if (errno != EINTR) return false;
  }
}

bool resolveIPv4(const char* host, in_addr& out) {
  if (host == nullptr || *host == '\0') return false;
  if (inet_pton(AF_INET, host, &out) == 1) return true;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
  out = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr;
  freeaddrinfo(found);
  return true;
}

// A non-blocking socket connected to host:port, or -1. The connect waits at
// most the connect time-out and never past the exchange's deadline.
int connectTo(const char* host, uint16_t port, const NetLimits& limits,
              Clock::time_point deadline) {
  sockaddr_in addr{};
  if (!resolveIPv4(host, addr.sin_addr)) return -1;
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (errno == EINPROGRESS || errno == EINTR) {
    const auto connectDeadline =
        std::min(deadline, Clock::now() + std::chrono::milliseconds(limits.connectTimeoutMs));
    int err = 0;
    socklen_t len = sizeof err;
    if (waitFor(fd, POLLOUT, connectDeadline, INT32_MAX) &&
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0)
      return fd;
  }
  close(fd);
  return -1;
}

bool sendAll(int fd, std::string_view data, Clock::time_point deadline) {
  size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!waitFor(fd, POLLOUT, deadline, INT32_MAX)) return false;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

int receiveAll(int fd, std::string& answer, size_t maxBytes, const AnswerLimit& limit,
               Clock::time_point deadline) {
  char chunk[kReceiveChunk];
  size_t allowed = maxBytes;
  for (;;) {
    if (!waitFor(fd, POLLIN, deadline, INT32_MAX)) return kNetFailed;
    // One byte beyond what is allowed is asked for, so an answer of exactly
    // that size is told apart from a longer one.
    const size_t room = allowed - answer.size() + 1;
    const ssize_t n = recv(fd, chunk, std::min(room, sizeof chunk), 0);
    if (n == 0) return kNetOk;
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
      return kNetFailed;
    }
    const size_t got = static_cast<size_t>(n);
    if (got >= room) {
      answer.append(chunk, got - 1);
      return kNetTooLarge;
    }
    answer.append(chunk, got);
    if (limit) {
      allowed = std::min(maxBytes, limit(answer));
      if (answer.size() > allowed) return kNetTooLarge;
    }
  }
}

}  // namespace

NetLimits readNetLimits(const char* path) {
  NetLimits limits;
  int64_t value = 0;
  if (cfgDecimalValue(path, "AGENT_CONNECT_TIMEOUT_MS", 1, kMaxTimeoutMs, value))
    limits.connectTimeoutMs = static_cast<int>(value);
  if (cfgDecimalValue(path, "AGENT_EXCHANGE_TIMEOUT_MS", 1, kMaxTimeoutMs, value))
    limits.exchangeTimeoutMs = static_cast<int>(value);
  if (cfgDecimalValue(path, "AGENT_MAX_ANSWER_MB", kMinAnswerMb, kMaxAnswerMb, value))
    limits.maxAnswerBytes = static_cast<size_t>(value) << 20;
  return limits;
}

namespace {

// The threads of a run exchange at once; the first reads the limits.
std::mutex g_netLimitsMutex;
std::optional<NetLimits> g_netLimits;

}  // namespace

NetLimits systemGetNetLimits() {
  std::lock_guard<std::mutex> lock(g_netLimitsMutex);
  if (!g_netLimits) g_netLimits = readNetLimits(kSettingsPath);
  return *g_netLimits;
}

void systemForgetNetLimits() {
  std::lock_guard<std::mutex> lock(g_netLimitsMutex);
  g_netLimits.reset();
}

int getData(const char* host, uint16_t port, std::string_view request, std::string& answer) {
  return getData(host, port, request, answer, systemGetNetLimits());
}

int getData(const char* host, uint16_t port, std::string_view request, std::string& answer,
            const NetLimits& limits) {
  return getData(host, port, request, answer, limits, AnswerLimit());
}

int getData(const char* host, uint16_t port, std::string_view request, std::string& answer,
            const NetLimits& limits, const AnswerLimit& limit) {
  answer.clear();
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(boundedByRun(limits.exchangeTimeoutMs));
  Socket sock(connectTo(host, port, limits, deadline));
  if (sock.fd() < 0 || !sendAll(sock.fd(), request, deadline)) return kNetFailed;
  return receiveAll(sock.fd(), answer, limits.maxAnswerBytes, limit, deadline);
}

int sendData(const char* host, uint16_t port, std::string_view text) {
  const NetLimits limits = systemGetNetLimits();
  const auto deadline =
      Clock::now() + std::chrono::milliseconds(boundedByRun(limits.exchangeTimeoutMs));
  Socket sock(connectTo(host, port, limits, deadline));
  if (sock.fd() < 0 || !sendAll(sock.fd(), text, deadline)) return kNetFailed;
  return kNetOk;
}

bool getIpByHost(const char* name, std::string& out) {
  in_addr addr{};
  if (!resolveIPv4(name, addr)) return false;
  char text[INET_ADDRSTRLEN];
  if (inet_ntop(AF_INET, &addr, text, sizeof text) == nullptr) return false;
  out = text;
  return true;
}
