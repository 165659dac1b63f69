/// @file agent_load.cc
/// @brief Load on a running host agent: many clients at once, each sending
/// one request per connection as another host's searchrun does. Prints the
/// throughput, the latency percentiles, failures, and the agent's resident
/// memory after the first 100 requests and after the last.
///
///   agent_load ADDRESS PORT AGENT_PID REQUEST_FILE REQUESTS CLIENTS
///
/// REQUEST_FILE holds the bytes of the request, sent as they are; an answer
/// counts as failed when it is empty or a "RETURN_CODE" answer.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

double now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec + ts.tv_nsec / 1e9;
}

// VmRSS of the process, in KiB; -1 when unknown.
long residentKiB(const std::string& pid) {
  std::ifstream status("/proc/" + pid + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return -1;
}

bool exchange(const sockaddr_in& agent, const std::string& request) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  std::string answer;
  if (connect(fd, reinterpret_cast<const sockaddr*>(&agent), sizeof agent) == 0 &&
      send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char piece[65536];
    ssize_t n;
    while ((n = recv(fd, piece, sizeof piece, 0)) > 0)
      answer.append(piece, static_cast<size_t>(n));
  }
  close(fd);
  return !answer.empty() && answer.rfind("RETURN_CODE", 0) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 7) {
    std::fprintf(stderr,
                 "usage: agent_load ADDRESS PORT AGENT_PID REQUEST_FILE REQUESTS CLIENTS\n");
    return 2;
  }
  sockaddr_in agent{};
  agent.sin_family = AF_INET;
  agent.sin_port = htons(static_cast<uint16_t>(std::stoi(argv[2])));
  if (inet_pton(AF_INET, argv[1], &agent.sin_addr) != 1) return 2;
  const std::string pid = argv[3];
  std::ifstream file(argv[4], std::ios::binary);
  const std::string request((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
  const int requests = std::stoi(argv[5]);
  const int clients = std::stoi(argv[6]);

  std::atomic<int> next{0}, done{0}, failed{0};
  std::atomic<long> rssAfterFirst{-1};
  std::mutex mutex;
  std::vector<double> latencies;
  latencies.reserve(static_cast<size_t>(requests));
  const double start = now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c)
    threads.emplace_back([&] {
      while (next++ < requests) {
        const double begin = now();
        if (!exchange(agent, request)) ++failed;
        const double took = now() - begin;
        {
          std::lock_guard<std::mutex> lock(mutex);
          latencies.push_back(took);
        }
        if (++done == 100) rssAfterFirst = residentKiB(pid);
      }
    });
  for (std::thread& t : threads)
    t.join();
  const double seconds = now() - start;
  std::sort(latencies.begin(), latencies.end());
  auto ms = [&](double q) {
    return latencies.empty() ? 0
                             : 1000 * latencies[static_cast<size_t>(q * (latencies.size() - 1))];
  };
  std::printf("requests %d, clients %d, failed %d\n", requests, clients, failed.load());
  std::printf("throughput %.1f requests/s over %.2f s\n", requests / seconds, seconds);
  std::printf("latency ms: median %.1f, p99 %.1f, max %.1f\n", ms(0.5), ms(0.99), ms(1.0));
  std::printf("agent RSS KiB: after 100 requests %ld, after %d requests %ld\n",
              rssAfterFirst.load(), requests, residentKiB(pid));
  return failed == 0 ? 0 : 1;
}
