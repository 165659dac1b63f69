/// @file system_fixture.h
/// @brief A scratch installation for the system tests: the working directory
/// is its search-cgi directory and every cache starts empty.

#ifndef SEARCHRUN_TESTS_SYSTEM_SYSTEM_FIXTURE_H
#define SEARCHRUN_TESTS_SYSTEM_SYSTEM_FIXTURE_H

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "system/clock.h"
#include "system/layout.h"
#include "system/log.h"
#include "tests/test_util.h"

class InstallTest : public ::testing::Test {
 protected:
  InstallTest() : cgi_(testutil::makeInstallSkeleton(tmp_.path())), cwd_(cgi_), tz_("TZ", "UTC") {
    tzset();
    resetState();
  }
  ~InstallTest() override {
    resetState();
    setTimeSourceForTests({});
    setSleeperForTests({});
  }

  // A path below the installation root.
  std::string root(const std::string& rel) const { return tmp_.sub(rel); }
  void writeSetting(const std::string& name, const std::string& text) const {
    testutil::writeFile(root("setting/" + name), text);
  }
  // SYSTEM_DIRECTORY = ROOT/system (created), DOMAIN_NAME = corp.
  std::string useSystemDirectory() const {
    writeSetting("system_info.cfg", "SYSTEM_DIRECTORY=" + root("system") + "\nDOMAIN_NAME=corp\n");
    testutil::makeDirs(root("system"));
    return root("system");
  }
  // Every later reading of the clock gives this second and microsecond.
  static void fixClock(time_t seconds, long micros = 0) {
    setTimeSourceForTests([seconds, micros] {
      timeval tv;
      tv.tv_sec = seconds;
      tv.tv_usec = micros;
      return tv;
    });
  }

  static void resetState() {
    systemResetCaches();
    resetLogStateForTests();
  }

  testutil::TempDir tmp_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
  testutil::ScopedEnv tz_;
};

#endif  // SEARCHRUN_TESTS_SYSTEM_SYSTEM_FIXTURE_H
