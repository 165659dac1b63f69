/// @file secure_file.cc
/// @brief Link-proof opening and creating of files, and random names.

#include "system/secure_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int kNoFollow = O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

// Only a regular file passes. The descriptor keeps O_NONBLOCK (which spared
// the open from hanging on a FIFO): reads and writes of a regular file
// never take note of it, and clearing it cost two system calls a file.
UniqueFd keepIfRegular(int fd, off_t* size = nullptr, struct stat* status = nullptr) {
  UniqueFd owned(fd);
  if (!owned) return owned;
  struct stat own;
  struct stat& st = status != nullptr ? *status : own;
  if (fstat(owned.get(), &st) != 0) return UniqueFd();
  if (!S_ISREG(st.st_mode)) {
    errno = EINVAL;
    return UniqueFd();
  }
  if (size != nullptr) *size = st.st_size;
  return owned;
}

// A regular file opened for reading; `size`, when given, is set to its
// length.
UniqueFd openRegularSized(const std::string& path, off_t* size) {
  return keepIfRegular(open(path.c_str(), O_RDONLY | O_NONBLOCK | kNoFollow), size);
}

bool readFromUrandom(unsigned char* out, size_t size) {
  UniqueFd fd(open("/dev/urandom", O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t n = read(fd.get(), out + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      return false;
    }
  }
  return true;
}

FILE* streamOf(UniqueFd fd, const char* mode) {
  if (!fd) return nullptr;
  FILE* stream = fdopen(fd.get(), mode);
  if (stream) fd.release();
  return stream;
}

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int UniqueFd::release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

void UniqueFd::reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

bool systemRandomBytes(void* out, size_t size) {
  auto* bytes = static_cast<unsigned char*>(out);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = getrandom(bytes + done, size - done, 0);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return readFromUrandom(bytes + done, size - done);
    }
  }
  return true;
}

bool systemRandomDigits(size_t count, std::string& out) {
  // Bytes of 250 or more are drawn again, so each digit is exactly uniform.
  unsigned char pool[64];
  size_t used = sizeof pool;
  while (count > 0) {
    if (used == sizeof pool) {
      if (!systemRandomBytes(pool, sizeof pool)) return false;
      used = 0;
    }
    const unsigned char b = pool[used++];
    if (b >= 250) continue;
    out.push_back(static_cast<char>('0' + b % 10));
    --count;
  }
  return true;
}

UniqueFd createExclusive(const std::string& path, mode_t mode) {
  return UniqueFd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | kNoFollow, mode));
}

UniqueFd openRegularFile(const std::string& path, struct stat& st) {
  return keepIfRegular(open(path.c_str(), O_RDONLY | O_NONBLOCK | kNoFollow), nullptr, &st);
}

UniqueFd openRegularFile(const std::string& path) {
  return openRegularSized(path, nullptr);
}

FILE* fopenRegular(const std::string& path) {
  return streamOf(openRegularFile(path), "rb");
}

UniqueFd openAppendFile(const std::string& path, mode_t mode) {
  return keepIfRegular(
      open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | kNoFollow, mode));
}

FILE* fopenAppend(const std::string& path, mode_t mode) {
  return streamOf(openAppendFile(path, mode), "a");
}

namespace {

// An existing regular file of this account with one name, opened for
// writing and left as it is; `size` is set to its length.
UniqueFd openOwnRegularFile(const std::string& path, off_t& size) {
  // Checked before anything is written or cut: O_TRUNC on a FIFO or device
  // would act on it, and a second link to the file could be another user's.
  UniqueFd fd = keepIfRegular(open(path.c_str(), O_WRONLY | O_NONBLOCK | kNoFollow));
  if (!fd) return fd;
  struct stat st;
  if (fstat(fd.get(), &st) != 0 || st.st_uid != geteuid() || st.st_nlink != 1) {
    errno = EPERM;
    return UniqueFd();
  }
  size = st.st_size;
  return fd;
}

}  // namespace

bool overwriteRegularFile(const std::string& path, std::string_view bytes) {
  off_t size = 0;
  UniqueFd fd = openOwnRegularFile(path, size);
  // Written over from the start and cut to the new length after, never to
  // nothing first: see openRegularForRewrite.
  return fd && writeAll(fd.get(), bytes.data(), bytes.size()) &&
         (static_cast<off_t>(bytes.size()) >= size ||
          ftruncate(fd.get(), static_cast<off_t>(bytes.size())) == 0);
}

UniqueFd openRegularForRewrite(const std::string& path) {
  off_t size = 0;
  UniqueFd fd = openOwnRegularFile(path, size);
  if (!fd) return fd;
  // An empty file (a claimed name, as most are) is left as it is: cutting
  // even an empty file to zero marks it, on ext4, as one replaced in place,
  // whose data the file system then starts writing out when it is closed,
  // a cost for every result file that grows with its hits.
  if (size != 0 && ftruncate(fd.get(), 0) != 0) return UniqueFd();
  return fd;
}

bool writeAll(int fd, const void* data, size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const ssize_t n = write(fd, bytes + done, size - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

bool writeAll(int fd, const std::string& bytes) {
  return writeAll(fd, bytes.data(), bytes.size());
}

bool readAll(int fd, std::string& out, size_t limit) {
  out.clear();
  char piece[16384];
  for (;;) {
    const ssize_t n = read(fd, piece, sizeof piece);
    if (n > 0) {
      if (out.size() + static_cast<size_t>(n) > limit) return false;
      out.append(piece, static_cast<size_t>(n));
    } else if (n == 0) {
      return true;
    } else if (errno != EINTR) {
      return false;
    }
  }
}

bool writeFileExclusive(const std::string& path, const std::string& bytes, mode_t mode) {
  UniqueFd fd = createExclusive(path, mode);
  if (!fd) return false;
  const bool ok = writeAll(fd.get(), bytes) && close(fd.release()) == 0;
  if (!ok) unlink(path.c_str());
  return ok;
}

bool copyFileExclusive(int from, const std::string& path, mode_t mode) {
  UniqueFd to = createExclusive(path, mode);
  if (!to) return false;
  char buffer[65536];
  bool ok = true;
  for (off_t at = 0; ok;) {
    const ssize_t n = pread(from, buffer, sizeof buffer, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = writeAll(to.get(), buffer, static_cast<size_t>(n));
    at += n;
  }
  ok = ok && close(to.release()) == 0;
  if (!ok) unlink(path.c_str());
  return ok;
}

UniqueFd createMemoryFile(const char* name) {
  UniqueFd fd(memfd_create(name, MFD_CLOEXEC));
  // A memory file starts open to all (0777): what reads it checks, as for
  // any file, that it is private.
  if (fd && fchmod(fd.get(), 0600) != 0) fd.reset();
  return fd;
}

bool readRegularAll(int fd, off_t size, std::string& out, size_t limit) {
  out.clear();
  if (size < 0 || static_cast<uint64_t>(size) >= limit) return readAll(fd, out, limit);
  // Room for the whole file at once: a string that doubles as it reads
  // touches about three times the memory, and each fresh page costs a fault.
  const size_t want = static_cast<size_t>(size) + 1;
  out.resize(want);
  ssize_t n;
  do {
    n = read(fd, out.data(), want);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    out.clear();
    return false;
  }
  out.resize(static_cast<size_t>(n));
  if (static_cast<size_t>(n) < want) return true;
  // It grew since it was opened: the rest as any file.
  std::string rest;
  if (!readAll(fd, rest, limit - out.size())) return false;
  out += rest;
  return true;
}

bool readRegularFile(const std::string& path, std::string& out, size_t limit) {
  off_t size = 0;
  UniqueFd fd = openRegularSized(path, &size);
  if (!fd) return false;
  return readRegularAll(fd.get(), size, out, limit);
}

bool replaceFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                           bool durable) {
  std::string tmp;
  UniqueFd fd;
  for (int attempt = 0; attempt < 10 && !fd; ++attempt) {
    tmp = path + ".part";
    if (!systemRandomDigits(20, tmp)) return false;
    fd = createExclusive(tmp, mode);
    if (!fd && errno != EEXIST) return false;
  }
  if (!fd) return false;
  bool ok = writeAll(fd.get(), bytes.data(), bytes.size()) && (!durable || fsync(fd.get()) == 0);
  ok = close(fd.release()) == 0 && ok;
  ok = ok && rename(tmp.c_str(), path.c_str()) == 0;
  if (!ok) unlink(tmp.c_str());
  return ok;
}

bool readUpTo(int fd, std::string& out, size_t max) {
  // Grown as the bytes come: a ceiling far above the usual file must not
  // cost clearing it whole.
  out.clear();
  char chunk[16384];
  while (out.size() < max) {
    const ssize_t n = read(fd, chunk, std::min(sizeof chunk, max - out.size()));
    if (n > 0) {
      out.append(chunk, static_cast<size_t>(n));
    } else if (n == 0) {
      break;
    } else if (errno != EINTR) {
      return false;
    }
  }
  return true;
}

bool readExactlyAt(int fd, int64_t offset, void* bytes, size_t n) {
  if (fd < 0 || offset < 0) return false;
  auto* p = static_cast<unsigned char*>(bytes);
  while (n > 0) {
    const ssize_t got = pread(fd, p, n, static_cast<off_t>(offset));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    p += got;
    offset += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}
