/// @file command_line.cc
/// @brief The command-line checks every edition makes (version.h), apart
/// from the full edition's version block.

#include <strings.h>

#include <cstdlib>
#include <cstring>

#include "system/version.h"

bool isVersionRequest(int argc, char** argv) {
  return argc == 2 && argv != nullptr && argv[1] != nullptr && strcasecmp(argv[1], "-ver") == 0;
}

int checkArgcForApache2_0_40(int argc, char** argv) {
  const char* query = getenv("QUERY_STRING");
  if (argc != 2 || query == nullptr || argv == nullptr || argv[1] == nullptr) return 0;
  const long n = static_cast<long>(strcspn(query, "&")) - 1;
  if (n >= 1) return strncmp(argv[1], query, static_cast<size_t>(n)) == 0 ? 1 : 0;
  return argv[1][0] == '\0' ? 1 : 0;
}
