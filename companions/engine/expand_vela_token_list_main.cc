/// @file expand_vela_token_list_main.cc
/// @brief Entry of expand_vela_token_list.exe; the work is done in search_programs.cc.

#include "companions/engine/search_programs.h"

int main(int argc, char** argv) {
  return vela::runExpandTokens(std::vector<std::string>(argv + 1, argv + argc));
}
