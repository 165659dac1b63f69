/// @file socket_server_test.cc
/// @brief The shared socket server under clients that open connections and
/// send nothing: others, from other addresses or later from the same one,
/// are still answered.

#include "companions/serve/socket_server.h"
#include "tests/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A server answering "ok:" and the line it was sent, on a loopback port of
// its own, in a thread of the test.
class LineServer {
 public:
  explicit LineServer(serve::ServerConfig config) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
        listen(fd_, 1024) != 0 || getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return;
    port_ = ntohs(addr.sin_port);
    config.framer = [](std::string_view bytes, size_t) {
      return !bytes.empty() && bytes.back() == '\n' ? serve::Framing::kDone
                                                    : serve::Framing::kNeedMore;
    };
    if (!config.handler)
      config.handler = [](const std::string& request, const std::function<bool()>&) {
        return "ok:" + request;
      };
    config.housekeeping = [this] { return !stop_; };
    thread_ = std::thread([this, config] { serve::serve(fd_, config); });
  }
  ~LineServer() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

int connectFrom(const std::string& source, uint16_t port) {
  return testutil::connectTo("127.0.0.1", port, source);
}

// Sends `parts` on fd, pausing `pauseMs` between them, and reads the answer
// until the server closes the connection (at most 10 seconds); closes fd.
std::string talk(int fd, const std::vector<std::string>& parts, int pauseMs = 0) {
  std::string answer;
  if (fd < 0) return answer;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
    send(fd, parts[i].data(), parts[i].size(), MSG_NOSIGNAL);
  }
  char buf[256];
  for (int waited = 0; waited < 100; ++waited) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    answer.append(buf, static_cast<size_t>(n));
  }
  close(fd);
  return answer;
}

std::string ask(const std::string& source, uint16_t port) {
  return talk(connectFrom(source, port), {"hello\n"});
}

// Connections from `source` that send nothing.
std::vector<int> idle(const std::string& source, uint16_t port, int count) {
  std::vector<int> fds;
  for (int i = 0; i < count; ++i) {
    const int fd = connectFrom(source, port);
    EXPECT_GE(fd, 0) << source << " " << i;
    if (fd >= 0) fds.push_back(fd);
  }
  return fds;
}

serve::ServerConfig deadlines(int firstByteMs, int requestMs) {
  serve::ServerConfig config;
  config.firstByteTimeoutMs = firstByteMs;
  config.requestTimeoutMs = requestMs;
  return config;
}

void closeAll(const std::vector<int>& fds) {
  for (const int fd : fds)
    close(fd);
}

class SocketServerTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Hundreds of connections, each end a descriptor of this process.
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
      limit.rlim_cur = limit.rlim_max;
      setrlimit(RLIMIT_NOFILE, &limit);
    }
  }
};

TEST_F(SocketServerTest, IdleConnectionsFromOneAddressKeepNoOtherOut) {
  LineServer server(deadlines(300, 5000));
  ASSERT_NE(server.port(), 0);
  const std::vector<int> silent = idle("127.0.0.2", server.port(), 300);
  EXPECT_EQ(ask("127.0.0.3", server.port()), "ok:hello\n");
  // Once the silent ones are dropped, their address is served again.
  std::string answer;
  for (int tries = 0; tries < 50 && answer.empty(); ++tries) {
    answer = ask("127.0.0.2", server.port());
    if (answer.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(answer, "ok:hello\n");
  closeAll(silent);
}

TEST_F(SocketServerTest, ANewcomerTakesThePlaceOfTheAddressThatHoldsMost) {
  // Nobody is dropped for being slow here: only the room decides.
  serve::ServerConfig config = deadlines(60000, 60000);
  config.maxReading = 64;
  config.maxReadingPerAddress = 16;
  LineServer server(config);
  ASSERT_NE(server.port(), 0);
  std::vector<int> silent;
  for (int a = 10; a < 16; ++a) {  // 96 connections for 64 places
    const std::vector<int> more = idle("127.0.0." + std::to_string(a), server.port(), 16);
    silent.insert(silent.end(), more.begin(), more.end());
  }
  for (const char* source : {"127.0.0.3", "127.0.0.4", "127.0.0.3"})
    EXPECT_EQ(ask(source, server.port()), "ok:hello\n") << source;
  closeAll(silent);
}

TEST_F(SocketServerTest, OnlyASilentStartIsCutShort) {
  LineServer server(deadlines(200, 10000));
  ASSERT_NE(server.port(), 0);
  // A request begun at once may take its time to end.
  EXPECT_EQ(talk(connectFrom("127.0.0.2", server.port()), {"hel", "lo\n"}, 1500), "ok:hello\n");
  // One that begins only after the first deadline finds the connection gone.
  EXPECT_EQ(talk(connectFrom("127.0.0.2", server.port()), {"", "hello\n"}, 1500), "");
}

// Reads from fd until the server closes it or nothing comes for `quietMs`;
// the byte count.
size_t drain(int fd, int quietMs) {
  size_t got = 0;
  std::vector<char> buf(1 << 16);
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, quietMs) <= 0) break;
    const ssize_t n = recv(fd, buf.data(), buf.size(), 0);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  return got;
}

TEST_F(SocketServerTest, ALargeAnswerWaitsForASlowReaderButNotForOneThatStopped) {
  // Far more than the sockets hold, so that sending must wait for the reader.
  constexpr size_t kAnswer = 48u << 20;
  serve::ServerConfig config;
  config.workers = 1;
  config.answerTimeoutMs = 400;
  config.handler = [](const std::string& request, const std::function<bool()>&) {
    return request == "big\n" ? std::string(kAnswer, 'x') : "ok:" + request;
  };
  LineServer server(config);
  ASSERT_NE(server.port(), 0);
  const int slow = connectFrom("127.0.0.2", server.port());
  ASSERT_GE(slow, 0);
  send(slow, "big\n", 4, MSG_NOSIGNAL);
  std::this_thread::sleep_for(std::chrono::milliseconds(250));
  EXPECT_EQ(drain(slow, 2000), kAnswer);
  close(slow);
  // A client that never reads holds the only worker no longer than the
  // answer's time limit: the next client is answered.
  const int stalled = connectFrom("127.0.0.2", server.port());
  ASSERT_GE(stalled, 0);
  send(stalled, "big\n", 4, MSG_NOSIGNAL);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(ask("127.0.0.3", server.port()), "ok:hello\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  close(stalled);
}

TEST_F(SocketServerTest, NoMoreRequestsAreAnsweredAtOnceThanThereAreWorkers) {
  // The threads take turns at reading; the one that reads a request may
  // answer it, but never as one worker too many.
  std::atomic<int> now{0}, most{0};
  serve::ServerConfig config;
  config.workers = 2;
  config.handler = [&](const std::string& request, const std::function<bool()>&) {
    const int at = ++now;
    for (int seen = most.load(); at > seen && !most.compare_exchange_weak(seen, at);) {
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    --now;
    return "ok:" + request;
  };
  LineServer server(config);
  ASSERT_NE(server.port(), 0);
  std::vector<std::thread> clients;
  std::vector<std::string> answers(7);
  for (size_t i = 0; i < answers.size(); ++i)
    clients.emplace_back([&, i] { answers[i] = ask("127.0.0.2", server.port()); });
  for (std::thread& t : clients)
    t.join();
  for (const std::string& answer : answers)
    EXPECT_EQ(answer, "ok:hello\n");
  EXPECT_EQ(most.load(), 2);
}

}  // namespace

namespace {

TEST_F(SocketServerTest, ARequestOfManyReadsIsFramedWhole) {
  serve::ServerConfig config = deadlines(2000, 4000);
  config.handler = [](const std::string& request, const std::function<bool()>&) {
    return "ok:" + std::to_string(request.size());
  };
  LineServer server(config);
  ASSERT_NE(server.port(), 0);
  // Longer than a read takes at once, and in two parts apart in time.
  const std::string line = std::string(40000, 'x') + "\n";
  EXPECT_EQ(talk(connectFrom("127.0.0.1", server.port()),
                 {line.substr(0, 30000), line.substr(30000)}, 50),
            "ok:40001");
}

}  // namespace
