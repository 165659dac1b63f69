/// @file date_range_main.cc
/// @brief Entry of date_range.exe; the work is done in search_programs.cc.

#include "companions/engine/search_programs.h"

int main(int argc, char** argv) {
  return vela::runDateRange(std::vector<std::string>(argv + 1, argv + argc));
}
