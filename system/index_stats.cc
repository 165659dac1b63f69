/// @file index_stats.cc
/// @brief Binary counters of an index directory.

#include "system/index_stats.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "system/index_format.h"
#include "system/kept_files.h"
#include "system/layout.h"
#include "system/lines.h"
#include "system/secure_file.h"

namespace {

// Up to n bytes from the start of the file; the number read. A request
// reads these few bytes many times over: they are kept while the file is
// unchanged, and no stream buffer is set up for them.
size_t readPrefix(const std::string& path, unsigned char* bytes, size_t n) {
  if (path.empty()) return 0;
  if (const auto text = keptFileText(path)) {
    const size_t got = std::min(n, text->size());
    std::memcpy(bytes, text->data(), got);
    return got;
  }
  if (errno != EFBIG) return 0;
  const UniqueFd fd = openRegularFile(path);
  if (!fd) return 0;
  std::string got;
  if (!readUpTo(fd.get(), got, n)) return 0;
  std::memcpy(bytes, got.data(), got.size());
  return got.size();
}

// A count and a size, as far as the file holds them.
template <typename Count>
void readCountAndSize(const std::string& path, Count& count, double& size) {
  unsigned char bytes[kCountAndSizeBytes];
  const size_t got = readPrefix(path, bytes, sizeof bytes);
  decodeCountAndSize(std::string_view(reinterpret_cast<const char*>(bytes), got), count, size);
}

int32_t readInt32Or(const std::string& path, int32_t fallback) {
  unsigned char bytes[4];
  if (readPrefix(path, bytes, 4) != 4) return fallback;
  int32_t value;
  memcpy(&value, bytes, 4);
  return value;
}

// dir + "/" + name, or "" (which opens nothing) when dir is unknown.
std::string inDir(const std::string& dir, const char* name) {
  return dir.empty() ? dir : dir + "/" + name;
}

}  // namespace

void systemGetIndexNumRec(const char* owner, const char* index, uint32_t& count, double& size) {
  readCountAndSize(inDir(systemGetIndexHome(owner, index), kRecordCountFile), count, size);
}

void systemGetDeletedIncIndexNumRec(const char* owner, const char* index, int32_t& count,
                                    double& size) {
  readCountAndSize(inDir(systemGetIncIndexHome(owner, index), kIncRecSizeFile), count, size);
}

void systemGetShowIndexNumRec(const char* owner, const char* index, uint32_t& count, double& size,
                              uint32_t& incCount, double& incSize) {
  systemGetIndexNumRec(owner, index, count, size);
  int32_t deleted;
  double deletedSize;
  systemGetDeletedIncIndexNumRec(owner, index, deleted, deletedSize);
  if (deleted > 0 && count >= static_cast<uint32_t>(deleted)) count -= deleted;
  if (deletedSize > 0 && size >= deletedSize) size -= deletedSize;
  readCountAndSize(inDir(systemGetIncIndexHome(owner, index), kRecordCountFile), incCount, incSize);
}

void systemGetDbAttachFileCount(const char* owner, const char* index, int32_t& count,
                                int32_t& incCount) {
  count = readInt32Or(inDir(systemGetIndexHome(owner, index), "db_attach_file.num"), 0);
  incCount = readInt32Or(inDir(systemGetIncIndexHome(owner, index), "db_attach_file.num"), 0);
}

int similarIndexSetStatus(const char* dir, int32_t status) {
  if (dir == nullptr) return 1;
  const std::string bytes(reinterpret_cast<const char*>(&status), sizeof status);
  return replaceFileAtomically(inDir(dir, "index.status"), bytes, 0644) ? 0 : 1;
}

int32_t similarIndexGetStatus(const char* dir) {
  return dir == nullptr ? 1 : readInt32Or(inDir(dir, "index.status"), 1);
}
