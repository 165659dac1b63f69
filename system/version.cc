/// @file version.cc
/// @brief The version block of the full edition.

#include "system/version.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef SEARCHRUN_VERSION_NO
#define SEARCHRUN_VERSION_NO "0.0"
#endif
#ifndef SEARCHRUN_BUILD_NUMBER
#define SEARCHRUN_BUILD_NUMBER 0
#endif

const char* getProgramVersion() {
  static char block[160];
  if (block[0] == '\0') {
    snprintf(block, sizeof block, "\nVERSION_NO: %s\nBUILD NUMBER: %d\nBUILD_DATE: %s, %s\n\n",
             SEARCHRUN_VERSION_NO, SEARCHRUN_BUILD_NUMBER, __DATE__, __TIME__);
  }
  return block;
}

int getBuildNumber() {
  return SEARCHRUN_BUILD_NUMBER;
}

int verifyProgramVersion(int argc, char** argv) {
  if (!isVersionRequest(argc, argv)) return 0;
  fputs(getProgramVersion(), stdout);
  fflush(stdout);
  exit(0);
}
