/// @file fsutil.cc
/// @brief Directories: creating, removing, walking.

#include "system/fsutil.h"

#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "system/secure_file.h"

bool makeDirectory(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  // The web server may run programs with a umask of 0: never let a
  // directory of ours become writable by everyone.
  if (mkdir(path, 0755) == 0) return true;
  struct stat st;
  return errno == EEXIST && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

bool resolvedPath(const std::string& path, std::string& out) {
  if (path.empty()) return false;
  UniqueFd fd(open(path.c_str(), O_PATH | O_CLOEXEC));
  if (!fd) return false;
  // The kernel names what it opened; an entry removed meanwhile (no link
  // left) would carry a " (deleted)" mark, and realpath would fail on it.
  char proc[40];
  char target[PATH_MAX];
  struct stat st;
  snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd.get());
  const ssize_t n = readlink(proc, target, sizeof target);
  if (n > 0 && static_cast<size_t>(n) < sizeof target && target[0] == '/' &&
      fstat(fd.get(), &st) == 0 && st.st_nlink > 0) {
    out.assign(target, static_cast<size_t>(n));
    return true;
  }
  // No /proc (a chroot, an early boot): the C library walks the path.
  char* real = realpath(path.c_str(), nullptr);
  if (real == nullptr) return false;
  out = real;
  free(real);
  return true;
}

namespace {

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  // Keep going after a failure so that as much as possible is removed; the
  // caller checks what is left.
  remove(path);
  return 0;
}

bool isDirectoryNoFollow(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

bool deltree(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  struct stat st;
  if (lstat(path, &st) != 0) return errno == ENOENT;
  nftw(path, removeEntry, 16, FTW_DEPTH | FTW_PHYS);
  return lstat(path, &st) != 0 && errno == ENOENT;
}

int deltree_savefile(const char* dir, const char* keepName) {
  if (dir == nullptr) return -1;
  std::string base(dir);
  if (base.size() > 1 && base.back() == '/') base.pop_back();
  DIR* d = opendir(base.c_str());
  if (d == nullptr) {
    fprintf(stderr, "Unable to open store directory: %s\n", strerror(errno));
    return -1;
  }
  int result = 0;
  while (const dirent* e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    const std::string path = base + "/" + e->d_name;
    if (isDirectoryNoFollow(path)) {
      if (deltree_savefile(path.c_str(), keepName) != 0) result = -1;
    } else if (keepName == nullptr || strcasecmp(e->d_name, keepName) != 0) {
      if (unlink(path.c_str()) != 0) result = -1;
    }
  }
  closedir(d);
  return result;
}

std::string parentOfWorkingDirectory() {
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return "";
  char* slash = strrchr(cwd, '/');
  if (slash == nullptr) return "";
  if (slash == cwd) return "/";
  *slash = '\0';
  return cwd;
}

int TraverseDir::init(const char* path) {
  deInit();
  dir_ = path ? opendir(path) : nullptr;
  return dir_ ? 0 : -1;
}

int TraverseDir::findNext() {
  name_.clear();
  if (dir_ == nullptr) return -1;
  while (const dirent* e = readdir(dir_)) {
    if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) {
      name_ = e->d_name;
      return 0;
    }
  }
  return -1;
}

void TraverseDir::deInit() {
  if (dir_) closedir(dir_);
  dir_ = nullptr;
  name_.clear();
}

std::string installationOfProgram(const char* argv0) {
  char self[PATH_MAX];
  std::string path;
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n > 0) {
    path.assign(self, static_cast<size_t>(n));
  } else if (argv0 != nullptr && std::strchr(argv0, '/') != nullptr &&
             realpath(argv0, self) != nullptr) {
    path = self;
  } else {
    return "";
  }
  for (int up = 0; up < 2; ++up) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "";
    path.resize(slash == 0 ? 1 : slash);
  }
  return path;
}
