/// @file thin_main.cc
/// @brief Entry of a thin search program; which one is fixed when it is
/// built (VELA_THIN_TOOL, the name it is installed under).

#include "search/engine_wire.h"
#include "companions/engine_service/thin_client.h"

int main(int argc, char** argv) {
  vela::Tool tool = vela::Tool::kEngine;
  vela::toolFromName(VELA_THIN_TOOL, tool);
  return velaservice::runThinProgram(tool, argc, argv);
}
