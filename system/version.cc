/// @file version.cc
/// @brief The version block and the command-line checks.

#include "system/version.h"

#include <strings.h>

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

bool isVersionRequest(int argc, char** argv) {
  return argc == 2 && argv != nullptr && argv[1] != nullptr && strcasecmp(argv[1], "-ver") == 0;
}

int verifyProgramVersion(int argc, char** argv) {
  if (!isVersionRequest(argc, argv)) return 0;
  fputs(getProgramVersion(), stdout);
  fflush(stdout);
  exit(0);
}

int checkArgcForApache2_0_40(int argc, char** argv) {
  const char* query = getenv("QUERY_STRING");
  if (argc != 2 || query == nullptr || argv == nullptr || argv[1] == nullptr) return 0;
  const long n = static_cast<long>(strcspn(query, "&")) - 1;
  if (n >= 1) return strncmp(argv[1], query, static_cast<size_t>(n)) == 0 ? 1 : 0;
  return argv[1][0] == '\0' ? 1 : 0;
}
