/// @file descriptor_passing.cc
/// @brief SCM_RIGHTS messages.

#include "system/descriptor_passing.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
// Room for the descriptors of any message this system sends.
constexpr size_t kMostDescriptors = 8;
}  // namespace

ssize_t sendWithDescriptors(int socket, const void* data, size_t size,
                            const std::vector<int>& fds) {
  if (fds.size() > kMostDescriptors) {
    errno = EINVAL;
    return -1;
  }
  iovec iov{const_cast<void*>(data), size};
  alignas(cmsghdr) char control[CMSG_SPACE(kMostDescriptors * sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &iov;
  message.msg_iovlen = 1;
  if (!fds.empty()) {
    message.msg_control = control;
    message.msg_controllen = CMSG_SPACE(fds.size() * sizeof(int));
    cmsghdr* given = CMSG_FIRSTHDR(&message);
    given->cmsg_level = SOL_SOCKET;
    given->cmsg_type = SCM_RIGHTS;
    given->cmsg_len = CMSG_LEN(fds.size() * sizeof(int));
    std::memcpy(CMSG_DATA(given), fds.data(), fds.size() * sizeof(int));
  }
  ssize_t sent;
  do
    sent = sendmsg(socket, &message, MSG_NOSIGNAL);
  while (sent < 0 && errno == EINTR);
  return sent;
}

ssize_t receiveWithDescriptors(int socket, void* data, size_t size, std::vector<int>& fds,
                               size_t max) {
  fds.clear();
  iovec iov{data, size};
  alignas(cmsghdr) char control[CMSG_SPACE(kMostDescriptors * sizeof(int))] = {};
  msghdr message{};
  message.msg_iov = &iov;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  ssize_t got;
  do
    got = recvmsg(socket, &message, MSG_CMSG_CLOEXEC | MSG_WAITALL);
  while (got < 0 && errno == EINTR);
  if (got > 0) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
      const size_t n = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
      for (size_t i = 0; i < n; ++i) {
        int fd;
        std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
        if (fds.size() < max)
          fds.push_back(fd);
        else
          close(fd);
      }
    }
  }
  // Descriptors cut off by a short control buffer, or that came with too
  // few bytes, are not trusted to be the ones sent.
  if (got != static_cast<ssize_t>(size) || (message.msg_flags & MSG_CTRUNC)) {
    for (int fd : fds)
      close(fd);
    fds.clear();
  }
  return got;
}
