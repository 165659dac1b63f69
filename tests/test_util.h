/// @file test_util.h
/// @brief Small fixtures shared by the unit tests: scratch directories,
/// file helpers and a scoped working directory.

#ifndef SEARCHRUN_TESTS_TEST_UTIL_H
#define SEARCHRUN_TESTS_TEST_UTIL_H

#include <string>

namespace testutil {

// A fresh directory under $TMPDIR (or /tmp), removed with everything below it
// when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + rel
  std::string sub(const std::string& rel) const;

 private:
  std::string path_;
};

// Writes (replacing) a file, creating missing parent directories.
void writeFile(const std::string& path, const std::string& bytes);
// Whole file, or "" when it cannot be read.
std::string readFile(const std::string& path);
bool fileExists(const std::string& path);
void makeDirs(const std::string& path);

// Lays out the skeleton of an installation under root: root/search-cgi (the
// working directory of a run), root/setting, root/tmp, root/logs, root/permit,
// root/search-cgi/tmp. Returns root + "/search-cgi".
std::string makeInstallSkeleton(const std::string& root);

// Changes the working directory for the life of the object.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::string& dir);
  ~ScopedCwd();
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::string old_;
};

// Sets (value non-null) or unsets an environment variable for the life of the
// object, restoring the previous state afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::string old_;
  bool had_;
};

// Runs fn with standard output captured; returns what it wrote.
template <typename Fn>
std::string captureStdout(Fn fn);

// Implementation detail of captureStdout.
class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  std::string finish();

 private:
  int saved_ = -1;
  std::string file_;
};

template <typename Fn>
std::string captureStdout(Fn fn) {
  StdoutCapture cap;
  fn();
  return cap.finish();
}

}  // namespace testutil

#endif  // SEARCHRUN_TESTS_TEST_UTIL_H
