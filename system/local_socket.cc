/// @file local_socket.cc
/// @brief Listening on an installation's Unix sockets, and who the client is.

#include "system/local_socket.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int listenLocal(const std::string& path, bool nonBlocking) {
  sockaddr_un addr{};
  if (path.empty() || path.size() >= sizeof addr.sun_path) {
    errno = ENAMETOOLONG;
    return -1;
  }
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path.data(), path.size());
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      errno = ENOTSOCK;
      return -1;
    }
    unlink(path.c_str());
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
  if (fd < 0) return -1;
  const mode_t old = umask(0077);
  const bool bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  umask(old);
  if (!bound || listen(fd, 128) != 0) {
    const int why = errno;
    close(fd);
    errno = why;
    return -1;
  }
  return fd;
}

namespace {

bool peerOfAccount(int fd, ucred& cred) {
  socklen_t len = sizeof cred;
  return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) == 0 && cred.uid == geteuid();
}

}  // namespace

bool peerIsThisAccount(int fd) {
  ucred cred{};
  return peerOfAccount(fd, cred);
}

pid_t peerOfThisAccount(int fd) {
  ucred cred{};
  return peerOfAccount(fd, cred) && cred.pid > 0 ? cred.pid : 0;
}
