/// @file listeners.cc
/// @brief TCP listeners and client checks of the daemons.

#include "companions/serve/listeners.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "system/local_socket.h"
#include "system/secure_file.h"

namespace serve {

int listenTcp(const std::string& address, uint16_t port, std::string& error) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  if (port == 0 || !parseIPv4(address, addr.sin_addr.s_addr)) {
    error = "no address to listen on: " + address + ":" + std::to_string(port);
    return -1;
  }
  UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const int on = 1;
  if (!fd || setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(fd.get(), 512) != 0) {
    error =
        "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
    return -1;
  }
  return fd.release();
}

bool samePeerAccount(int fd) {
  return peerIsThisAccount(fd);
}

bool parseIPv4(const std::string& text, uint32_t& out) {
  in_addr addr{};
  // Only the strict dotted form: no host names, no short or octal forms.
  if (inet_pton(AF_INET, text.c_str(), &addr) != 1) return false;
  out = addr.s_addr;
  return true;
}

PeerCheck addressAllowList(std::vector<uint32_t> addresses) {
  return [addresses = std::move(addresses)](int fd) {
    sockaddr_in peer{};
    socklen_t size = sizeof peer;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &size) != 0 ||
        peer.sin_family != AF_INET)
      return false;
    return std::find(addresses.begin(), addresses.end(), peer.sin_addr.s_addr) != addresses.end();
  };
}

}  // namespace serve
