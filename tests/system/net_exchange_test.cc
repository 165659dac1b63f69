/// @file net_exchange_test.cc
/// @brief The bounded TCP exchange against small servers on loopback addresses:
/// binary answers kept whole, the answer cap, the exchange and connect
/// time-outs, and the limits read from the settings; and the list of reachable
/// agents, and the run's deadline as every wait for a child sees it.

#include "system/net_exchange.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "system/agent_hosts.h"
#include "system/child_process.h"
#include "system/run_deadline.h"
#include "tests/loopback_server.h"
#include "tests/test_util.h"

namespace {

using testutil::LoopbackServer;
using Clock = std::chrono::steady_clock;

const std::string kRequest("cmd\4\5\6a\0b\30\31\32", 12);

NetLimits limits(int connectMs, int exchangeMs, size_t maxBytes) {
  NetLimits l;
  l.connectTimeoutMs = connectMs;
  l.exchangeTimeoutMs = exchangeMs;
  l.maxAnswerBytes = maxBytes;
  return l;
}

// A label longer than 63 bytes: the resolver refuses it without asking any
// name server.
const std::string kUnresolvable(80, 'q');

long msSince(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(NetExchange, BinaryRequestAndAnswerArriveWhole) {
  std::string binary("ok\0\x12\x13\x14\0", 8);
  for (int i = 0; i < 300000; ++i)
    binary.push_back(static_cast<char>(i % 7));
  LoopbackServer server("127.0.0.2",
                        [&](const std::string&, int fd) { LoopbackServer::sendAll(fd, binary); });
  ASSERT_TRUE(server.listening());
  std::string answer = "stale";
  ASSERT_EQ(getData("127.0.0.2", server.port(), kRequest, answer, limits(2000, 5000, 1 << 20)),
            kNetOk);
  EXPECT_EQ(answer, binary);
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0], kRequest);
}

// The cap on the answer, and an answer "N|" and N bytes: what follows the
// header is refused at once, however much the peer sends, and a whole answer
// is kept whole.
TEST(NetExchange, AnswerCapAndLimitStopReading) {
  const AnswerLimit header = [](std::string_view received) -> size_t {
    const size_t bar = received.find('|');
    if (bar == received.npos) return SIZE_MAX;
    return bar + 1 + std::stoul(std::string(received.substr(0, bar)));
  };
  const size_t mb = 1 << 20, cap16 = 16 << 20;
  struct Case {
    std::string sent;
    bool limited;
    size_t cap;
    int result;
    size_t atMost;  // bytes the answer may hold afterwards
  } cases[] = {
      {std::string(mb, 'x'), false, mb, kNetOk, mb},
      {std::string(mb + 1, 'x'), false, mb, kNetTooLarge, mb},
      {std::string(8 * mb, 'x'), false, mb, kNetTooLarge, mb},
      {"5|hello", true, cap16, kNetOk, 7},
      {"5|hello" + std::string(8 << 20, 'x'), true, cap16, kNetTooLarge, 128 << 10},
      {"99999999|" + std::string(cap16 + 1, 'x'), true, cap16, kNetTooLarge, cap16},
  };
  for (const Case& c : cases) {
    LoopbackServer server("127.0.0.2",
                          [&](const std::string&, int fd) { LoopbackServer::sendAll(fd, c.sent); });
    std::string answer;
    EXPECT_EQ(getData("127.0.0.2", server.port(), kRequest, answer, limits(2000, 5000, c.cap),
                      c.limited ? header : AnswerLimit()),
              c.result)
        << c.sent.size();
    EXPECT_EQ(answer, c.sent.substr(0, std::min(c.atMost, answer.size())));
    EXPECT_LE(answer.size(), c.atMost) << c.sent.size();
    if (!c.limited) {
      EXPECT_EQ(answer.size(), c.atMost) << c.sent.size();
    }
  }
}

TEST(NetExchange, ExchangeTimeOutEndsAHungOrTricklingPeer) {
  std::unique_ptr<LoopbackServer> hung, trickle;
  hung = std::make_unique<LoopbackServer>(
      "127.0.0.2", [&](const std::string&, int fd) { hung->waitForClose(fd); });
  // A byte every 50 ms keeps any idle timer alive; only a deadline on the
  // whole exchange ends it.
  trickle = std::make_unique<LoopbackServer>("127.0.0.2", [&](const std::string&, int fd) {
    while (!trickle->stopping() && LoopbackServer::sendAll(fd, "x"))
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
  });
  for (LoopbackServer* server : {hung.get(), trickle.get()}) {
    const auto start = Clock::now();
    std::string answer;
    EXPECT_EQ(getData("127.0.0.2", server->port(), kRequest, answer, limits(2000, 400, 1 << 20)),
              kNetFailed);
    const long ms = msSince(start);
    EXPECT_GE(ms, 390);
    EXPECT_LT(ms, 1500);
  }
}

// A listening socket that never accepts: once its queue is full the kernel
// drops further SYNs, so a connect to it neither succeeds nor fails.
class FullBacklog {
 public:
  FullBacklog() {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    inet_pton(AF_INET, "127.0.0.3", &addr.sin_addr);
    socklen_t len = sizeof addr;
    if (bind(listen_, reinterpret_cast<sockaddr*>(&addr), len) != 0 || listen(listen_, 0) != 0 ||
        getsockname(listen_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
      return;
    port_ = ntohs(addr.sin_port);
    // Fill the queue until a connect hangs; that connect proves the drop.
    for (int i = 0; i < 8 && !blocking_; ++i) {
      const int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
      clients_.push_back(c);
      if (connect(c, reinterpret_cast<sockaddr*>(&addr), len) == 0) continue;
      pollfd p{c, POLLOUT, 0};
      blocking_ = poll(&p, 1, 300) == 0;
    }
  }
  ~FullBacklog() {
    for (int c : clients_)
      close(c);
    close(listen_);
  }
  uint16_t port() const { return port_; }
  bool blocking() const { return blocking_; }

 private:
  int listen_ = -1;
  uint16_t port_ = 0;
  bool blocking_ = false;
  std::vector<int> clients_;
};

TEST(NetExchange, ConnectTimeOutBoundsAnUnansweredConnect) {
  FullBacklog peer;
  ASSERT_TRUE(peer.blocking()) << "the kernel answered every connect to a full backlog";
  // The exchange's deadline bounds the connect too when it is the shorter.
  for (const NetLimits& l : {limits(300, 20000, 1 << 20), limits(20000, 300, 1 << 20)}) {
    const auto start = Clock::now();
    std::string answer;
    EXPECT_EQ(getData("127.0.0.3", peer.port(), kRequest, answer, l), kNetFailed);
    EXPECT_GE(msSince(start), 290);
    EXPECT_LT(msSince(start), 1500);
  }
}

TEST(NetExchange, UnreachableOrUnknownHostsFail) {
  // A port with no listener: bind one, note it, close it.
  uint16_t freePort = 0;
  {
    LoopbackServer gone("127.0.0.2", [](const std::string&, int) {});
    freePort = gone.port();
  }
  std::string answer = "stale";
  const NetLimits l = limits(500, 1000, 1 << 20);
  EXPECT_EQ(getData("127.0.0.2", freePort, kRequest, answer, l), kNetFailed);
  EXPECT_EQ(answer, "");
  for (const char* host : {"", kUnresolvable.c_str()})
    EXPECT_EQ(getData(host, freePort, kRequest, answer, l), kNetFailed) << host;
  EXPECT_EQ(sendData("127.0.0.2", freePort, "x"), kNetFailed);
}

TEST(NetExchange, SendDataAndNames) {
  std::unique_ptr<LoopbackServer> server;
  server = std::make_unique<LoopbackServer>(
      "127.0.0.1", [&](const std::string&, int fd) { server->waitForClose(fd); });
  // By name, and without waiting for an answer.
  EXPECT_EQ(sendData("localhost", server->port(), kRequest), kNetOk);
  for (int i = 0; i < 100 && server->requests().empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(server->requests().size(), 1u);
  EXPECT_EQ(server->requests()[0], kRequest);
  std::string ip = "kept";
  EXPECT_FALSE(getIpByHost(kUnresolvable.c_str(), ip));
  EXPECT_EQ(ip, "kept");
  ASSERT_TRUE(getIpByHost("localhost", ip));
  EXPECT_EQ(ip, "127.0.0.1");
}

TEST(NetLimitsSettings, ValuesInRangeReplaceTheDefaults) {
  const NetLimits d;
  struct Case {
    const char* text;
    int connectMs;
    int exchangeMs;
    size_t maxBytes;
  } cases[] = {
      {"AGENT_CONNECT_TIMEOUT_MS=250\nAGENT_EXCHANGE_TIMEOUT_MS= 900 \nAGENT_MAX_ANSWER_MB=3\n",
       250, 900, size_t{3} << 20},
      {"AGENT_CONNECT_TIMEOUT_MS=0\nAGENT_EXCHANGE_TIMEOUT_MS=3600001\nAGENT_MAX_ANSWER_MB=1025\n",
       d.connectTimeoutMs, d.exchangeTimeoutMs, d.maxAnswerBytes},
      {"AGENT_CONNECT_TIMEOUT_MS=5s\nAGENT_EXCHANGE_TIMEOUT_MS=-1\nAGENT_MAX_ANSWER_MB=\n",
       d.connectTimeoutMs, d.exchangeTimeoutMs, d.maxAnswerBytes},
      {"AGENT_CONNECT_TIMEOUT_MS=3600000\nAGENT_MAX_ANSWER_MB=1024\n", 3600000, d.exchangeTimeoutMs,
       size_t{1024} << 20},
  };
  testutil::TempDir dir;
  for (const Case& c : cases) {
    testutil::writeFile(dir.sub("opt.cfg"), c.text);
    const NetLimits l = readNetLimits(dir.sub("opt.cfg").c_str());
    EXPECT_EQ(l.connectTimeoutMs, c.connectMs) << c.text;
    EXPECT_EQ(l.exchangeTimeoutMs, c.exchangeMs) << c.text;
    EXPECT_EQ(l.maxAnswerBytes, c.maxBytes) << c.text;
  }
}

TEST(AgentHosts, OnlyWellFormedEntriesOfAgentAddressesAreKept) {
  std::vector<std::string> refused;
  const std::vector<AgentHost> hosts = parseAgentHosts(
      " 10.0.0.5:9000,10.0.0.5:9000\t127.0.0.2:1 0.0.0.0:80 0.1.2.3:80 255.255.255.255:80 "
      "224.0.0.1:80 239.1.1.1:80 10.0.0.6 10.0.0.7:0 10.0.0.8:65536 host:80 10.0.0.9:80x ,,",
      &refused);
  ASSERT_EQ(2u, hosts.size());  // the repeated entry is kept once
  EXPECT_EQ((AgentHost{0x0A000005u, 9000}), hosts[0]);
  EXPECT_EQ((AgentHost{0x7F000002u, 1}), hosts[1]);
  EXPECT_EQ((std::vector<std::string>{"0.0.0.0:80", "0.1.2.3:80", "255.255.255.255:80",
                                      "224.0.0.1:80", "239.1.1.1:80", "10.0.0.6", "10.0.0.7:0",
                                      "10.0.0.8:65536", "host:80", "10.0.0.9:80x"}),
            refused);

  EXPECT_TRUE(isListedAgent("10.0.0.5", "9000", hosts));
  for (const auto& [ip, port] :
       std::vector<std::pair<std::string, std::string>>{{"10.0.0.5", "9001"},
                                                        {"10.0.0.50", "9000"},
                                                        {"10.0.0.5", "09000x"},
                                                        {"010.0.0.5", "9000"},
                                                        {"10.0.0.5 ", "9000"},
                                                        {"", ""}})
    EXPECT_FALSE(isListedAgent(ip, port, hosts)) << ip << ":" << port;
  // An address no agent has is refused even when a list names it.
  EXPECT_FALSE(isListedAgent("0.0.0.0", "80", {AgentHost{0, 80}}));
  EXPECT_TRUE(parseAgentHosts("").empty());
}

// True while `pid` runs: a process that ended but waits for its new parent
// to reap it counts as ended.
bool running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return false;
  const size_t close = line.rfind(')');
  return close != std::string::npos && close + 2 < line.size() && line[close + 2] != 'Z';
}

// Every wait of a run ends by the run's deadline, whatever its own limit,
// and takes what the child started with it.
TEST(RunDeadline, BoundsEveryWaitAndEndsTheChildsGroup) {
  EXPECT_EQ(5000, boundedByRun(5000));  // no deadline yet
  setRunDeadline(300);
  EXPECT_LE(boundedByRun(60000), 300);
  EXPECT_GE(boundedByRun(60000), 1);
  EXPECT_LE(boundedByRun(0), 300);  // an unlimited wait too
  int pipeFds[2];
  ASSERT_EQ(0, pipe(pipeFds));
  ChildProgram program;
  // The grandchild tells its pid, then both sleep far past every limit.
  program.argv = {"/bin/sh", "-c", "sleep 30 & echo $!; exec sleep 30"};
  program.streams = ChildProgram::Streams::kToFd;
  program.outFd = pipeFds[1];
  program.limitMs = 60000;
  const auto start = Clock::now();
  const ChildOutcome outcome = runChildProgram(program);
  close(pipeFds[1]);
  EXPECT_EQ(ChildOutcome::How::kTimedOut, outcome.how);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  EXPECT_TRUE(runMustEnd());
  char text[32] = {};
  ASSERT_GT(read(pipeFds[0], text, sizeof text - 1), 0);
  close(pipeFds[0]);
  const pid_t grandchild = static_cast<pid_t>(std::atol(text));
  ASSERT_GT(grandchild, 0);
  for (int i = 0; i < 100 && running(grandchild); ++i)
    usleep(10000);
  EXPECT_FALSE(running(grandchild)) << "the grandchild outlived its group";
  setRunDeadline(0);
  EXPECT_FALSE(runMustEnd());
}

// A run whose client closed its end of the answer stops waiting at once.
TEST(RunDeadline, AClientThatHasGoneEndsTheWait) {
  int answer[2];
  ASSERT_EQ(0, pipe(answer));
  watchRunClient(answer[1]);
  EXPECT_FALSE(runClientGone());
  close(answer[0]);
  EXPECT_TRUE(runClientGone());
  ChildProgram program;
  program.argv = {"/bin/sleep", "30"};
  program.limitMs = 60000;
  const auto start = Clock::now();
  EXPECT_EQ(ChildOutcome::How::kTimedOut, runChildProgram(program).how);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  watchRunClient(-1);
  close(answer[1]);
}

}  // namespace
