/// @file loopback_server.h
/// @brief A TCP server on a loopback address for the tests of the exchanges
/// with other hosts: it takes one connection after another, reads each
/// request up to its end mark (or the client's half-close) and hands it to
/// the test's reply function, then closes the connection.

#ifndef SEARCHRUN_TESTS_LOOPBACK_SERVER_H
#define SEARCHRUN_TESTS_LOOPBACK_SERVER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testutil {

class LoopbackServer {
 public:
  // Gets the request and the connection; whatever it writes is the answer.
  using Reply = std::function<void(const std::string& request, int fd)>;

  // Listens on address:0 (a free port). listening() is false when that failed.
  LoopbackServer(const char* address, Reply reply) : reply_(std::move(reply)) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    inet_pton(AF_INET, address, &addr.sin_addr);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        listen(fd_, 16) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return;
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~LoopbackServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (fd_ >= 0) close(fd_);
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  bool listening() const { return port_ != 0; }
  uint16_t port() const { return port_; }
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  // True once the server is being torn down: a reply that waits checks it.
  bool stopping() const { return stop_; }

  // Writes all of `bytes`; false once the client has gone.
  static bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
      const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
  }
  // Waits until the client closes its side or the server stops.
  void waitForClose(int fd) const {
    char buf[256];
    while (!stop_) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 20) > 0 && recv(fd, buf, sizeof buf, 0) <= 0) return;
    }
  }

 private:
  static constexpr std::string_view kEnd{"\x18\x19\x1A", 3};

  void serve() {
    while (!stop_) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (c < 0) continue;
      std::string request = readRequest(c);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      reply_(request, c);
      close(c);
    }
  }
  std::string readRequest(int c) const {
    std::string request;
    char buf[4096];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
      if (request.size() >= kEnd.size() &&
          request.compare(request.size() - kEnd.size(), kEnd.size(), kEnd) == 0)
        break;
      pollfd p{c, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      const ssize_t n = recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, static_cast<size_t>(n));
    }
    return request;
  }

  Reply reply_;
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
};

}  // namespace testutil

#endif  // SEARCHRUN_TESTS_LOOPBACK_SERVER_H
