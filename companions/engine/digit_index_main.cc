/// @file digit_index_main.cc
/// @brief Entry of digit_index.exe; the work is done in search_programs.cc.

#include "companions/engine/search_programs.h"

int main(int argc, char** argv) {
  return vela::runDigitIndex(std::vector<std::string>(argv + 1, argv + argc));
}
