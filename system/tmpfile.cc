/// @file tmpfile.cc
/// @brief Fresh names for scratch files.

#include "system/tmpfile.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <random>

#include "system/clock.h"
#include "system/fsutil.h"

namespace {

constexpr int kTries = 100;

// Seeds differ between processes started in the same second.
unsigned seedFrom(unsigned base) {
  return base ^ (static_cast<unsigned>(getpid()) << 16) ^ static_cast<unsigned>(getpid());
}

}  // namespace

bool GetTempFilename(const char* dir, const char* prefix, unsigned seed, std::string& out) {
  if (dir == nullptr || prefix == nullptr) return false;
  const unsigned now = static_cast<unsigned>(systemTimeOfDay().tv_sec);
  std::minstd_rand random(seedFrom(now));
  unsigned number = seed != 0 ? seed : static_cast<unsigned>(random());
  for (int i = 0; i < kTries; ++i) {
    char digits[16];
    snprintf(digits, sizeof digits, "%05u", number);
    std::string name = std::string(dir) + "/" + prefix + digits;
    const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      close(fd);
      out = std::move(name);
      return true;
    }
    if (errno != EEXIST) return false;
    random.seed(seedFrom(now + number));
    number = static_cast<unsigned>(random());
  }
  return false;
}

bool systemGetTmpFile(std::string& out) {
  return GetTempFilename("../tmp", "query", 0, out);
}

bool systemGetCGITmpFile(std::string& out, const char* prefix) {
  const std::string parent = parentOfWorkingDirectory();
  if (parent.empty()) return false;
  const std::string dir = (parent == "/" ? "" : parent) + "/search-cgi/tmp";
  return GetTempFilename(dir.c_str(), prefix, 0, out);
}
