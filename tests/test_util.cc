/// @file test_util.cc
/// @brief Scratch directories and file helpers for the unit tests.

#include "tests/test_util.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace testutil {

TempDir::TempDir() {
  const char* base = std::getenv("TMPDIR");
  std::string tmpl = std::string(base && *base ? base : "/tmp") + "/srtest.XXXXXX";
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::sub(const std::string& rel) const {
  return path_ + "/" + rel;
}

void makeDirs(const std::string& path) {
  fs::create_directories(path);
}

void writeFile(const std::string& path, const std::string& bytes) {
  fs::path p(path);
  if (p.has_parent_path()) fs::create_directories(p.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool fileExists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::string makeInstallSkeleton(const std::string& root) {
  for (const char* d : {"search-cgi/tmp", "setting", "tmp", "logs", "permit"}) {
    fs::create_directories(root + "/" + d);
  }
  return root + "/search-cgi";
}

ScopedCwd::ScopedCwd(const std::string& dir) {
  old_ = fs::current_path().string();
  fs::current_path(dir);
}

ScopedCwd::~ScopedCwd() {
  std::error_code ec;
  fs::current_path(old_, ec);
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : name_(name) {
  const char* old = std::getenv(name);
  had_ = old != nullptr;
  if (had_) old_ = old;
  if (value) {
    setenv(name, value, 1);
  } else {
    unsetenv(name);
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_) {
    setenv(name_.c_str(), old_.c_str(), 1);
  } else {
    unsetenv(name_.c_str());
  }
}

StdoutCapture::StdoutCapture() {
  std::fflush(stdout);
  char tmpl[] = "/tmp/srcapture.XXXXXX";
  int fd = mkstemp(tmpl);
  if (fd < 0) throw std::runtime_error("mkstemp failed");
  file_ = tmpl;
  saved_ = dup(STDOUT_FILENO);
  dup2(fd, STDOUT_FILENO);
  close(fd);
}

std::string StdoutCapture::finish() {
  if (saved_ < 0) return {};
  std::fflush(stdout);
  dup2(saved_, STDOUT_FILENO);
  close(saved_);
  saved_ = -1;
  std::string out = readFile(file_);
  unlink(file_.c_str());
  return out;
}

StdoutCapture::~StdoutCapture() {
  finish();
}

}  // namespace testutil
