/// @file descriptor_passing.h
/// @brief Open descriptors sent along with bytes over a Unix socket.

#ifndef SEARCHRUN_SYSTEM_DESCRIPTOR_PASSING_H
#define SEARCHRUN_SYSTEM_DESCRIPTOR_PASSING_H

#include <sys/types.h>

#include <cstddef>
#include <vector>

// Sends the `size` bytes at `data` (at least one) with `fds` riding on
// them; what sendmsg gives (no SIGPIPE, EINTR retried).
ssize_t sendWithDescriptors(int socket, const void* data, size_t size, const std::vector<int>& fds);

// Receives exactly `size` bytes into `data`, and the descriptors that came
// with them (close-on-exec), at most `max`: any beyond are closed, as are
// all when the bytes fall short. What recvmsg gives; `fds` empty unless all
// bytes came.
ssize_t receiveWithDescriptors(int socket, void* data, size_t size, std::vector<int>& fds,
                               size_t max);

#endif  // SEARCHRUN_SYSTEM_DESCRIPTOR_PASSING_H
