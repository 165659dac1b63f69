/// @file run_deadline.cc
/// @brief The run's deadline and the watch on its client.

#include "system/run_deadline.h"
#include "system/clock.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <climits>

namespace {

long long g_deadlineMs = 0;  // on the monotonic clock; 0: none
int g_clientFd = -1;

}  // namespace

void setRunDeadline(long long ms) {
  g_deadlineMs = ms > 0 ? monotonicMs() + ms : 0;
}

void watchRunClient(int fd) {
  g_clientFd = fd;
}

int runClientFd() {
  return g_clientFd;
}

bool runClientGone() {
  if (g_clientFd < 0) return false;
  // Nothing is asked for: poll reports an error or hang-up by itself, which
  // on the write end of a pipe or socket means the reader has closed it.
  pollfd p{g_clientFd, 0, 0};
  return poll(&p, 1, 0) == 1 && (p.revents & (POLLERR | POLLHUP)) != 0;
}

bool runMustEnd() {
  return (g_deadlineMs > 0 && monotonicMs() >= g_deadlineMs) || runClientGone();
}

int boundedByRun(int limitMs) {
  if (g_deadlineMs == 0) return limitMs;
  const long long left = std::max(1LL, g_deadlineMs - monotonicMs());
  if (limitMs <= 0) return static_cast<int>(std::min<long long>(left, INT_MAX));
  return static_cast<int>(std::min<long long>(left, limitMs));
}
