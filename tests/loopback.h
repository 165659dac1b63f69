/// @file loopback.h
/// @brief Connections on the loopback addresses the tests give each program
/// of their own (127.0.0.2, ...): a free port, a connection from a chosen
/// source address, and waiting for a daemon to listen.

#ifndef SEARCHRUN_TESTS_LOOPBACK_H
#define SEARCHRUN_TESTS_LOOPBACK_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace testutil {

inline sockaddr_in loopbackAddress(const std::string& address, uint16_t port = 0) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &sa.sin_addr);
  return sa;
}

// A port of `address` that nothing listens on just now; 0 when none is free.
inline uint16_t freePort(const std::string& address) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in sa = loopbackAddress(address);
  socklen_t size = sizeof sa;
  const bool bound = fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&sa), size) == 0 &&
                     getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &size) == 0;
  if (fd >= 0) close(fd);
  return bound ? ntohs(sa.sin_port) : 0;
}

// A connection to address:port, from `source` when one is given (the
// address a daemon sees as the client's); -1 on failure.
inline int connectTo(const std::string& address, uint16_t port, const std::string& source = "") {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const sockaddr_in from = loopbackAddress(source);
  const sockaddr_in to = loopbackAddress(address, port);
  if ((source.empty() || bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) == 0) &&
      connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0)
    return fd;
  close(fd);
  return -1;
}

// Waits up to ten seconds for something to listen on address:port.
inline bool waitForListener(const std::string& address, uint16_t port) {
  for (int i = 0; i < 2000; ++i) {
    const int fd = connectTo(address, port);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    usleep(5000);
  }
  return false;
}

}  // namespace testutil

#endif  // SEARCHRUN_TESTS_LOOPBACK_H
