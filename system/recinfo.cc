/// @file recinfo.cc
/// @brief Info lines of engine records.

#include "system/recinfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "system/secure_file.h"

namespace {

constexpr int32_t kFixedSizeFormat = 6;
constexpr int32_t kMaxDataFiles = 100;
// No real header comes near this; it keeps a damaged length from asking for
// gigabytes.
constexpr int32_t kMaxHeaderText = 4096;

// Reads exactly n bytes at offset; false for anything less.
bool readAt(int fd, int64_t offset, void* bytes, size_t n) {
  if (offset < 0) return false;
  auto* p = static_cast<unsigned char*>(bytes);
  while (n > 0) {
    const ssize_t got = pread(fd, p, n, static_cast<off_t>(offset));
    if (got <= 0) return false;
    p += got;
    offset += got;
    n -= static_cast<size_t>(got);
  }
  return true;
}

// Sequential reader of the header file.
class HeaderReader {
 public:
  explicit HeaderReader(int fd) : fd_(fd) {}
  bool int32(int32_t& value) {
    unsigned char bytes[4];
    if (!readAt(fd_, pos_, bytes, 4)) return false;
    memcpy(&value, bytes, 4);
    pos_ += 4;
    return true;
  }
  // A length-prefixed text of at most kMaxHeaderText bytes.
  bool text(std::string& out) {
    int32_t n;
    if (!int32(n) || n < 0 || n > kMaxHeaderText) return false;
    out.assign(static_cast<size_t>(n), '\0');
    if (n > 0 && !readAt(fd_, pos_, out.data(), out.size())) return false;
    pos_ += n;
    return true;
  }

 private:
  int fd_;
  int64_t pos_ = 0;
};

struct RecInfo {
  bool fixedSize = false;
  int32_t recordSize = 0;
  std::vector<std::string> files;  // full paths in the index directory
  std::vector<int32_t> bounds;
};

// The file name a data file path stands for, "" when it names no file.
std::string dataFileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name == "." || name == ".." || name.find('\0') != std::string::npos) return "";
  return name;
}

int readHeader(int fd, const std::string& dir, RecInfo& info) {
  HeaderReader in(fd);
  int32_t format, fileCount;
  std::string text;
  if (!in.int32(format)) return kRecInfoBadHeader;
  info.fixedSize = format == kFixedSizeFormat;
  if (info.fixedSize && !in.int32(info.recordSize)) return kRecInfoBadHeader;
  if (!in.text(text) || !in.int32(fileCount)) return kRecInfoBadHeader;
  if (fileCount > kMaxDataFiles) {
    fputs("big_file_num >  RECORD_FILE_COUNT_MAX\n", stderr);
    return kRecInfoBadHeader;
  }
  for (int32_t i = 0; i < fileCount; ++i) {
    if (!in.text(text) || dataFileName(text).empty()) return kRecInfoBadHeader;
    info.files.push_back(dir + "/" + dataFileName(text));
  }
  info.bounds.resize(info.files.size());
  for (int32_t& bound : info.bounds) {
    if (!in.int32(bound)) return kRecInfoBadHeader;
  }
  return kRecInfoOk;
}

struct Span {
  int64_t start;
  int64_t size;
};

// Where record r lies in data file k: 0 or a negative code.
int locate(const RecInfo& info, int fdOffsets, int32_t r, size_t k, Span& span) {
  const int64_t first = k == 0 ? 1 : info.bounds[k - 1];
  if (info.fixedSize) {
    span = {(r - first) * info.recordSize, info.recordSize};
    return kRecInfoOk;
  }
  // The offsets keep one extra entry after each data file.
  const int64_t g = static_cast<int64_t>(r) + static_cast<int64_t>(k) - 1;
  unsigned char bytes[8];
  if (!readAt(fdOffsets, g * 4, bytes, sizeof bytes)) return kRecInfoUnreadable;
  uint32_t from, to;
  memcpy(&from, bytes, 4);
  memcpy(&to, bytes + 4, 4);
  span = {from, static_cast<int64_t>(to) - static_cast<int64_t>(from)};
  return kRecInfoOk;
}

}  // namespace

std::string recordInfoLine(std::string record) {
  const size_t n = record.size();
  if (n >= 2 && record[n - 2] == '@') {
    record.resize(n - 2);
  } else if (n >= 1 && record[n - 1] == '@') {
    record.resize(n - 1);
  } else if (n >= 3 && record[n - 3] == '@') {
    record.resize(n - 3);
  }
  for (char& c : record) {
    if (c == '\0') c = ' ';
  }
  return record;
}

namespace {

int readRecord(int fd, const Span& span, std::string& out) {
  struct stat st;
  if (fstat(fd, &st) != 0 || span.start < 0 || span.start + span.size > st.st_size) {
    return kRecInfoUnreadable;
  }
  std::string record(static_cast<size_t>(span.size), '\0');
  if (!readAt(fd, span.start, record.data(), record.size())) return kRecInfoUnreadable;
  out = recordInfoLine(std::move(record));
  return kRecInfoOk;
}

}  // namespace

int TS2InfoForID(const char* indexDir, const int* recordNumbers, std::vector<std::string>& out,
                 int count) {
  out.clear();
  const std::string dir = indexDir ? indexDir : "";
  // Index-side files are read only as regular files, never through a link.
  const UniqueFd header = openRegularFile(dir + "/.vela_recinfo");
  if (!header.valid()) {
    fputs("Cannot find index's files.\n", stderr);
    return kRecInfoMissing;
  }
  RecInfo info;
  if (const int rc = readHeader(header.get(), dir, info); rc != kRecInfoOk) return rc;
  UniqueFd offsets;
  if (!info.fixedSize) {
    offsets = openRegularFile(dir + "/.vela_recoffset");
    if (!offsets.valid()) {
      fputs("Cannot find index's (rd) files.\n", stderr);
      return kRecInfoMissing;
    }
  }
  UniqueFd data;
  size_t openFile = info.files.size();
  for (int i = 0; i < count && recordNumbers != nullptr && recordNumbers[i] != 0; ++i) {
    const int32_t r = recordNumbers[i];
    size_t k = 0;
    while (k < info.bounds.size() && info.bounds[k] <= r)
      ++k;
    if (k == info.bounds.size() || r < (k == 0 ? 1 : info.bounds[k - 1])) {
      fprintf(stderr, "too large id %d\n", r);
      return kRecInfoTooLarge;
    }
    Span span;
    if (const int rc = locate(info, offsets.get(), r, k, span); rc != kRecInfoOk) return rc;
    if (span.size < 2) {
      fputs("Null Record\n", stderr);
      return kRecInfoNullRecord;
    }
    if (k != openFile) {
      data = openRegularFile(info.files[k]);
      openFile = k;
    }
    if (!data.valid()) return kRecInfoUnreadable;
    std::string line;
    if (const int rc = readRecord(data.get(), span, line); rc != kRecInfoOk) return rc;
    out.push_back(std::move(line));
  }
  return kRecInfoOk;
}
