/// @file index_id.cc
/// @brief Index id files.

#include "system/index_id.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "system/address.h"
#include "system/clock.h"
#include "system/fsutil.h"
#include "system/kept_files.h"
#include "system/layout.h"
#include "system/secure_file.h"

namespace {

constexpr int kBuildAttempts = 60;
// Field sizes in file order: id, description, owner, type.
constexpr size_t kFieldSizes[] = {IndexIdFileMgr::kIdSize, IndexIdFileMgr::kDescSize,
                                  IndexIdFileMgr::kOwnerSize, IndexIdFileMgr::kTypeSize};

// Copies at most size - 1 characters of text into a zeroed field.
void setField(char* field, size_t size, const char* text) {
  memset(field, 0, size);
  if (text != nullptr) memcpy(field, text, strnlen(text, size - 1));
}

bool writeAll(int fd, const unsigned char* bytes, size_t n) {
  while (n > 0) {
    const ssize_t done = write(fd, bytes, n);
    if (done <= 0) return false;
    bytes += done;
    n -= static_cast<size_t>(done);
  }
  return true;
}

// Writes a fresh file (which must not exist) holding the record.
bool createRecordFile(const std::string& path, const unsigned char* bytes, size_t n) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = writeAll(fd, bytes, n) && fchmod(fd, 0660) == 0;
  ok = close(fd) == 0 && ok;
  if (!ok) unlink(path.c_str());
  return ok;
}

}  // namespace

std::string makeIndexIdForTime(long long t) {
  const long long n = t + (t % 1000) * 1000;
  // The id keeps only the first six of the seven or eight digits.
  char digits[24];
  snprintf(digits, sizeof digits, "%07lld", n % 100000000);
  std::string id(digits, 6);
  std::reverse(id.begin(), id.end());
  return id;
}

void IndexIdFileMgr::clean() {
  memset(id_, 0, sizeof id_);
  memset(desc_, 0, sizeof desc_);
  memset(owner_, 0, sizeof owner_);
  memset(type_, 0, sizeof type_);
}

void IndexIdFileMgr::encode(unsigned char (&bytes)[kFileSize]) const {
  const char* fields[] = {id_, desc_, owner_, type_};
  unsigned char* p = bytes;
  for (size_t i = 0; i < 4; ++i) {
    memcpy(p, fields[i], kFieldSizes[i]);
    p += kFieldSizes[i];
  }
}

void IndexIdFileMgr::decode(const unsigned char (&bytes)[kFileSize]) {
  char* fields[] = {id_, desc_, owner_, type_};
  const unsigned char* p = bytes;
  for (size_t i = 0; i < 4; ++i) {
    memcpy(fields[i], p, kFieldSizes[i]);
    fields[i][kFieldSizes[i] - 1] = '\0';
    p += kFieldSizes[i];
  }
}

std::string IndexIdFileMgr::idFilePath(const char* id) {
  const char* home = systemGetSystemHome();
  if (home == nullptr || id == nullptr) return "";
  return std::string(home) + "/ref/" + id + ".id";
}

bool IndexIdFileMgr::readIndexIdFile(const char* path) {
  clean();
  if (path == nullptr) return false;
  // Every request reads the record of each index it searches: kept while
  // the file is unchanged (a record is replaced by a rename).
  unsigned char bytes[kFileSize];
  if (const auto text = keptFileText(path)) {
    if (text->size() < kFileSize) return false;
    memcpy(bytes, text->data(), kFileSize);
  } else {
    if (errno != EFBIG) return false;
    FILE* in = fopenRegular(path);
    if (in == nullptr) return false;
    const bool whole = fread(bytes, 1, kFileSize, in) == kFileSize;
    fclose(in);
    if (!whole) return false;
  }
  decode(bytes);
  return true;
}

bool IndexIdFileMgr::readIndexIdInfo(const char* id) {
  if (!isSafeIndexName(id)) {
    clean();
    return false;
  }
  const std::string path = idFilePath(id);
  if (path.empty()) {
    clean();
    return false;
  }
  return readIndexIdFile(path.c_str()) && strcmp(id_, id) == 0;
}

bool IndexIdFileMgr::buildIndexIdInfo(const char* owner, const char* type, const char* desc,
                                      std::string* newId) {
  const char* home = systemGetSystemHome();
  if (home == nullptr || !makeDirectory((std::string(home) + "/ref").c_str())) return false;
  for (int attempt = 0; attempt < kBuildAttempts; ++attempt) {
    if (attempt > 0) systemSleepSeconds(1);  // the next second gives the next id
    const std::string id = makeIndexIdForTime(systemTimeOfDay().tv_sec);
    setField(id_, kIdSize, id.c_str());
    setField(desc_, kDescSize, desc);
    setField(owner_, kOwnerSize, owner);
    setField(type_, kTypeSize, type);
    unsigned char bytes[kFileSize];
    encode(bytes);
    if (createRecordFile(idFilePath(id_), bytes, kFileSize)) {
      if (newId) *newId = id_;
      return true;
    }
  }
  clean();
  return false;
}

bool IndexIdFileMgr::replaceRecordFile(const char* id) const {
  unsigned char bytes[kFileSize];
  encode(bytes);
  // A fresh random name beside the file, created exclusively, then renamed
  // over it: readers see the old record or the new one, never a part, and no
  // name planted beforehand is written through.
  return replaceFileAtomically(idFilePath(id),
                               std::string(reinterpret_cast<const char*>(bytes), kFileSize), 0644);
}

bool IndexIdFileMgr::writeIndexIdInfo(const char* id, const char* owner, const char* type,
                                      const char* desc) {
  const char* home = systemGetSystemHome();
  clean();
  if (!isSafeIndexName(id) || home == nullptr ||
      !makeDirectory((std::string(home) + "/ref").c_str()))
    return false;
  setField(id_, kIdSize, id);
  setField(desc_, kDescSize, desc);
  setField(owner_, kOwnerSize, owner);
  setField(type_, kTypeSize, type);
  if (replaceRecordFile(id)) return true;
  clean();
  return false;
}

bool IndexIdFileMgr::updateIndexDesc(const char* id, const char* desc) {
  if (!readIndexIdInfo(id)) return false;
  char wanted[kDescSize];
  setField(wanted, kDescSize, desc);
  if (memcmp(wanted, desc_, kDescSize) == 0) return true;
  memcpy(desc_, wanted, kDescSize);
  return replaceRecordFile(id);
}

bool IndexIdFileMgr::delIndexIdInfo(const char* id) {
  return readIndexIdInfo(id) && unlink(idFilePath(id).c_str()) == 0;
}
