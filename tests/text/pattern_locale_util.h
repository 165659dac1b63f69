/// @file pattern_locale_util.h
/// @brief Character-class locales for tests of multi-byte matching: the
/// built-in UTF-8 one, and a Big5 one compiled into a scratch directory
/// (Big5 trail bytes can equal ASCII letters, which UTF-8 never shows).

#ifndef SEARCHRUN_TESTS_TEXT_PATTERN_LOCALE_UTIL_H
#define SEARCHRUN_TESTS_TEXT_PATTERN_LOCALE_UTIL_H

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <clocale>
#include <memory>
#include <string>

#include "tests/test_util.h"

namespace patterntest {

// Switches LC_CTYPE for the life of the object and back to "C" afterwards.
class ScopedCtype {
 public:
  explicit ScopedCtype(const char* name) : ok_(std::setlocale(LC_CTYPE, name) != nullptr) {}
  ~ScopedCtype() { std::setlocale(LC_CTYPE, "C"); }
  ScopedCtype(const ScopedCtype&) = delete;
  ScopedCtype& operator=(const ScopedCtype&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

// Runs localedef quietly; true when it wrote the locale.
inline bool runLocaledef(const std::string& input, const std::string& charmap,
                         const std::string& out) {
  const pid_t child = ::fork();
  if (child < 0) return false;
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
      ::dup2(null, 1);
      ::dup2(null, 2);
    }
    ::execlp("localedef", "localedef", "-i", input.c_str(), "-f", charmap.c_str(), out.c_str(),
             static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return false;
  // localedef exits 1 for mere warnings; the locale is there all the same.
  return WIFEXITED(status) && WEXITSTATUS(status) <= 1 && testutil::fileExists(out + "/LC_CTYPE");
}

// A Big5 locale "zh_TW.BIG5" found through LOCPATH while the object lives.
// ok() is false where the platform has no locale sources; tests then skip.
class Big5Locale {
 public:
  Big5Locale()
      : ok_(runLocaledef("zh_TW", "BIG5", dir_.sub("zh_TW.BIG5"))),
        path_("LOCPATH", dir_.path().c_str()) {}
  bool ok() const { return ok_; }

 private:
  testutil::TempDir dir_;
  bool ok_;
  testutil::ScopedEnv path_;
};

}  // namespace patterntest

#endif  // SEARCHRUN_TESTS_TEXT_PATTERN_LOCALE_UTIL_H
