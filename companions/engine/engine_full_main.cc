/// @file engine_full_main.cc
/// @brief Entry of vela_engine.full: one search program run in this process,
/// named by the first argument. The thin search programs run it when the
/// engine service cannot answer for them.

#include <iostream>
#include <string>
#include <vector>

#include "search/engine_wire.h"
#include "companions/engine/search_programs.h"

int main(int argc, char** argv) {
  vela::Tool tool;
  if (argc < 2 || !vela::toolFromName(argv[1], tool)) {
    std::cerr << "usage: vela_engine.full PROGRAM ARGUMENTS...\n"
                 "PROGRAM: vela25_0.exe, date_range.exe, digit_index.exe,\n"
                 "expand_vela_token_list.exe or search_relterm.exe, run in the CGI directory\n"
                 "as that program.\n";
    return vela::kExitFailure;
  }
  return vela::runTool(tool, std::vector<std::string>(argv + 2, argv + argc), vela::RunContext());
}
