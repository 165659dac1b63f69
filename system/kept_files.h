/// @file kept_files.h
/// @brief Small settings files that a program reads again and again: the
/// engine service for every run it makes, a request in several of its
/// steps. Their text is kept in memory while the file standing at the path
/// is the very one that was read (same device, inode, size, modification
/// and change times), so a file rewritten, replaced by a rename or swapped
/// for a link is always read anew.

#ifndef SEARCHRUN_SYSTEM_KEPT_FILES_H
#define SEARCHRUN_SYSTEM_KEPT_FILES_H

#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

// What tells one state of a file from another: device, inode, size,
// modification and change times. Equal stamps are taken for the same text.
struct FileStamp {
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  struct timespec modified = {}, changed = {};

  static FileStamp of(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
  }
  bool operator==(const FileStamp& o) const {
    return device == o.device && inode == o.inode && size == o.size &&
           modified.tv_sec == o.modified.tv_sec && modified.tv_nsec == o.modified.tv_nsec &&
           changed.tv_sec == o.changed.tv_sec && changed.tv_nsec == o.changed.tv_nsec;
  }
};

// Largest file kept; a larger one is left to a reader that streams it.
constexpr size_t kKeptFileMax = 64 * 1024;

// The text of the regular file at `path`, read as openRegularFile reads (a
// link as the last component, a FIFO or a device is refused). Null, with
// errno set, when it cannot be read; errno is EFBIG when the file holds more
// than kKeptFileMax bytes. Safe for several threads.
std::shared_ptr<const std::string> keptFileText(const std::string& path);

// A run of a program that makes runs one after another (a resident
// worker): between startKeptFilesRun and endKeptFilesRun, a kept file found
// unchanged once in the run is taken as unchanged for the rest of it, and
// one not there (ENOENT) as not there, so the run sees one state of each
// settings file and looks at it once.
// Outside a run, every call looks. Not for a program whose threads make
// different runs at once.
void startKeptFilesRun();
void endKeptFilesRun();

// The same for the calling thread alone, in a program whose threads make
// different runs at once (the jobs of a service): only the looks of this
// thread are spared, and its run wins over the process's.
void startKeptFilesThreadRun();
void endKeptFilesThreadRun();

// A thread's run for as long as the object lives.
class KeptFilesThreadRun {
 public:
  KeptFilesThreadRun() { startKeptFilesThreadRun(); }
  ~KeptFilesThreadRun() { endKeptFilesThreadRun(); }
  KeptFilesThreadRun(const KeptFilesThreadRun&) = delete;
  KeptFilesThreadRun& operator=(const KeptFilesThreadRun&) = delete;
};

// Forgets every kept text, as a program starts.
void forgetKeptFiles();

// The lines of `text` as readBoundedLine reads them from a stream: split at
// line feeds, each cut to `maxChars`, a last line without a line feed
// counted when it is not empty. `line` returns false to stop early.
template <class LineFn>
void forEachBoundedLine(std::string_view text, size_t maxChars, LineFn&& line) {
  size_t pos = 0;
  while (pos < text.size()) {
    const size_t end = std::min(text.find('\n', pos), text.size());
    std::string_view whole = text.substr(pos, end - pos);
    if (!line(whole.substr(0, std::min(whole.size(), maxChars)))) return;
    pos = end + 1;
  }
}

#endif  // SEARCHRUN_SYSTEM_KEPT_FILES_H
