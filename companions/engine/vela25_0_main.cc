/// @file vela25_0_main.cc
/// @brief Entry of vela25_0.exe; the work is done in search_programs.cc.

#include "companions/engine/search_programs.h"

int main(int argc, char** argv) {
  return vela::runEngine(std::vector<std::string>(argv + 1, argv + argc));
}
