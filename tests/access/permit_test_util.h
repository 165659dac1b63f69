/// @file permit_test_util.h
/// @brief A temporary installation, run from its CGI directory, for the
/// permit tests.

#ifndef SEARCHRUN_TESTS_ACCESS_PERMIT_TEST_UTIL_H
#define SEARCHRUN_TESTS_ACCESS_PERMIT_TEST_UTIL_H

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "tests/test_util.h"

class PermitTest : public ::testing::Test {
 protected:
  PermitTest() : cgi_(testutil::makeInstallSkeleton(dir_.path())), cwd_(cgi_) {}

  // The permit file of a key, as an absolute path.
  std::string permitFile(const std::string& key) const {
    return dir_.sub("permit/" + key + ".ksp");
  }
  // "ks_key=KEY" -> "KEY"
  static std::string keyOf(const std::string& answer) {
    const std::string prefix = "ks_key=";
    return answer.compare(0, prefix.size(), prefix) == 0 ? answer.substr(prefix.size()) : "";
  }
  static struct stat statOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(0, ::stat(path.c_str(), &st)) << path;
    return st;
  }

  testutil::TempDir dir_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
};

#endif  // SEARCHRUN_TESTS_ACCESS_PERMIT_TEST_UTIL_H
