/// @file secure_file.h
/// @brief Opening and creating files so that nothing planted in a directory
/// (a symbolic link, a FIFO, a device) can redirect or stall a program, and
/// names drawn from the system's random source.
///
/// Every program of an installation creates its files through
/// createExclusive (or writeFileExclusive), appends to logs through
/// openAppendFile and reads files it did not just create through
/// openRegularFile, so that a link never decides which file is written or
/// read.

#ifndef SEARCHRUN_SYSTEM_SECURE_FILE_H
#define SEARCHRUN_SYSTEM_SECURE_FILE_H

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Owns one file descriptor; closes it when it goes out of scope.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  explicit operator bool() const { return valid(); }
  // Gives up ownership; the object holds no descriptor afterwards.
  int release();
  // Closes the descriptor held (if any) and takes `fd`.
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Fills `out` with `size` bytes from the system's random source (the kernel's
// generator, else /dev/urandom). False, with `out` unspecified, when neither
// answers; callers then fail rather than fall back to a guessable value.
bool systemRandomBytes(void* out, size_t size);

// `count` decimal digits, each uniformly drawn from the system's random
// source (appended to `out`). False when the source fails.
bool systemRandomDigits(size_t count, std::string& out);

// Creates `path` as a new file, open for writing, with `mode` (before the
// umask). Fails (invalid descriptor, errno set) when anything already stands
// at `path`, a symbolic link included: a planted name is never written
// through.
UniqueFd createExclusive(const std::string& path, mode_t mode);

// Opens an existing file for reading. Refuses (errno ELOOP or EINVAL) a
// symbolic link as the last component and anything but a regular file; a
// FIFO or device never blocks the open. The descriptor keeps O_NONBLOCK,
// which reads of a regular file never heed.
UniqueFd openRegularFile(const std::string& path);
// The same, with the file's status as opened.
UniqueFd openRegularFile(const std::string& path, struct stat& st);

// The same as a stdio stream ("rb"); null when openRegularFile fails.
FILE* fopenRegular(const std::string& path);

// Opens a log or other append-only file, creating it with `mode` when it is
// missing. Refuses a symbolic link and anything but a regular file, as
// openRegularFile does.
UniqueFd openAppendFile(const std::string& path, mode_t mode);

// The same as a stdio stream ("a"); null on failure.
FILE* fopenAppend(const std::string& path, mode_t mode);

// Opens an existing regular file for writing from its start, cut to zero
// length. Refuses links and other kinds of file, as openRegularFile does,
// and a file of another account or with more than one name (errno EPERM).
// For a name the caller itself claimed (a scratch name).
UniqueFd openRegularForRewrite(const std::string& path);

// Replaces the content of such a file by `bytes`, written over the old and
// the rest cut off; false on any failure.
bool overwriteRegularFile(const std::string& path, std::string_view bytes);

// Writes all of `size` bytes, retrying short writes and interruptions.
bool writeAll(int fd, const void* data, size_t size);
bool writeAll(int fd, const std::string& bytes);

// Reads the rest of `fd` into `out` (replacing it), at most `limit` bytes.
// False on a read error or when the file holds more than `limit` bytes.
bool readAll(int fd, std::string& out, size_t limit);
// readAll for a regular file `size` bytes long when it was opened: read in
// one piece where it still is (a short read of a regular file is its end).
bool readRegularAll(int fd, off_t size, std::string& out, size_t limit);

// Creates `path` exclusively (createExclusive) and writes `bytes` into it.
// False, and nothing left behind that this call created, on any failure.
bool writeFileExclusive(const std::string& path, const std::string& bytes, mode_t mode);

// Writes all `from` holds, from its start, into `path`, created
// exclusively. False, and nothing left behind that this call created, on
// any failure.
bool copyFileExclusive(int from, const std::string& path, mode_t mode);

// A file that lives in memory only (no name in any directory, so nothing is
// made or removed on disk), open for reading and writing, of this account
// and mode 0600. `name` is what /proc shows. Invalid (errno set) where the
// system has none.
UniqueFd createMemoryFile(const char* name);

// Reads the regular file at `path` (openRegularFile), at most `limit` bytes.
bool readRegularFile(const std::string& path, std::string& out, size_t limit);

// Replaces `path` by a file holding `bytes`: written to a fresh random name
// beside it (exclusively created, so nothing planted there redirects the
// write), flushed to disk when `durable`, then renamed over `path` (a link
// standing there is replaced, never followed). A reader sees the old content
// or the new, never a part. False on any failure; the temporary file is
// removed.
bool replaceFileAtomically(const std::string& path, std::string_view bytes, mode_t mode,
                           bool durable = true);

// Reads `fd` to its end, but at most `max` bytes, into `out` (replacing it);
// what lies beyond is left unread. False on a read error.
bool readUpTo(int fd, std::string& out, size_t max);

// Exactly n bytes at `offset` of fd; false for anything less (the file ends
// before them, or a read fails).
bool readExactlyAt(int fd, int64_t offset, void* bytes, size_t n);

#endif  // SEARCHRUN_SYSTEM_SECURE_FILE_H
