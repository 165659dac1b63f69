/// @file grouping_main.cc
/// @brief grouping.exe: groups the hits of a search result by a field, for
/// the result page (searchrun's threaded editions run it for "group").

#include <cstring>
#include <iostream>
#include <string>

#include "companions/grouping/grouping.h"

namespace {

constexpr const char* kUsage =
    "usage: grouping.exe -group RESULT OUTPUT FIELD\n"
    "  groups the hits of the search result file RESULT by FIELD (host, owner\n"
    "  or index) and writes the groups, most hits first, to OUTPUT (a new\n"
    "  file; conventionally RESULT.group, which the result page shows).\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::cout << kUsage;
    return 0;
  }
  if (argc != 5 || std::strcmp(argv[1], "-group") != 0) {
    std::cerr << kUsage;
    return 2;
  }
  std::string error;
  if (!grouping::groupResultFile(argv[2], argv[3], argv[4], error)) {
    std::cerr << "grouping.exe: " << error << "\n";
    return 1;
  }
  return 0;
}
