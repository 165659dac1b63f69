/// @file listener.cc
/// @brief A stand-in for whatever listens where a request should never
/// reach, for the attack script: it listens on a loopback address, writes
/// its port to a file, keeps every byte each connection sends (one line of
/// C-escaped text per connection) and answers nothing, for a bounded time.
///
///   listener ADDRESS PORT_FILE RECORD_FILE SECONDS

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string escaped(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c < 0x20 || c >= 0x7F || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

long long nowMs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return ts.tv_sec * 1000LL + ts.tv_nsec / 1000000;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: listener ADDRESS PORT_FILE RECORD_FILE SECONDS\n");
    return 2;
  }
  const long long end = nowMs() + std::atoll(argv[4]) * 1000LL;
  const int server = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  if (server < 0 || inet_pton(AF_INET, argv[1], &addr.sin_addr) != 1 ||
      bind(server, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(server, 64) != 0)
    return 1;
  socklen_t size = sizeof addr;
  getsockname(server, reinterpret_cast<sockaddr*>(&addr), &size);
  FILE* portFile = std::fopen(argv[2], "w");
  if (!portFile) return 1;
  std::fprintf(portFile, "%d\n", ntohs(addr.sin_port));
  std::fclose(portFile);
  // Every connection stays open, unanswered, until the time is up: a
  // client that waits for an answer waits for its own limit.
  std::vector<int> clients;  // -1 once the client has closed its side
  std::vector<std::string> received;
  const std::string staging = std::string(argv[3]) + ".new";
  bool changed = true;
  while (nowMs() < end) {
    if (changed) {
      // Whole or not at all: the script reads the record while we run.
      FILE* record = std::fopen(staging.c_str(), "w");
      if (!record) return 1;
      for (const std::string& r : received)
        std::fprintf(record, "%s\n", escaped(r).c_str());
      std::fclose(record);
      if (std::rename(staging.c_str(), argv[3]) != 0) return 1;
      changed = false;
    }
    std::vector<pollfd> fds{{server, POLLIN, 0}};
    for (int c : clients)
      fds.push_back({c, POLLIN, 0});
    if (poll(fds.data(), fds.size(), 100) <= 0) continue;
    if (fds[0].revents & POLLIN) {
      const int c = accept(server, nullptr, nullptr);
      if (c >= 0) {
        clients.push_back(c);
        received.emplace_back();
        changed = true;
      }
    }
    for (size_t i = 1; i < fds.size(); ++i) {
      if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      char buf[4096];
      const ssize_t n = read(fds[i].fd, buf, sizeof buf);
      if (n > 0) {
        received[i - 1].append(buf, static_cast<size_t>(n));
        changed = true;
      } else {
        close(fds[i].fd);
        clients[i - 1] = -1;
      }
    }
  }
  for (int c : clients)
    if (c >= 0) close(c);
  return 0;
}
