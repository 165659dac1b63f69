/// @file pattern_locale_util.h
/// @brief Character-class locales for tests of multi-byte matching: the
/// built-in UTF-8 one, and a Big5 one compiled into a scratch directory
/// (Big5 trail bytes can equal ASCII letters, which UTF-8 never shows).

#ifndef SEARCHRUN_TESTS_TEXT_PATTERN_LOCALE_UTIL_H
#define SEARCHRUN_TESTS_TEXT_PATTERN_LOCALE_UTIL_H

#include <clocale>
#include <cstdlib>
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

// A Big5 locale "zh_TW.BIG5" found through LOCPATH while the object lives.
// ok() is false where the platform has no locale sources; tests then skip.
class Big5Locale {
 public:
  Big5Locale() : ok_(build(dir_.sub("zh_TW.BIG5"))), path_("LOCPATH", dir_.path().c_str()) {}
  bool ok() const { return ok_; }

 private:
  // localedef exits 1 for mere warnings; the locale is there all the same.
  static bool build(const std::string& out) {
    const std::string command = "localedef -i zh_TW -f BIG5 '" + out + "' >/dev/null 2>&1";
    return std::system(command.c_str()) != -1 && testutil::fileExists(out + "/LC_CTYPE");
  }

  testutil::TempDir dir_;
  bool ok_;
  testutil::ScopedEnv path_;
};

}  // namespace patterntest

#endif  // SEARCHRUN_TESTS_TEXT_PATTERN_LOCALE_UTIL_H
