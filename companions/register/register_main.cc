/// @file register_main.cc
/// @brief Entry of searchrun-register: the command line, the installation
/// this program belongs to, and the run.

#include <sys/stat.h>

#include <iostream>
#include <string>
#include <vector>

#include "companions/register/register.h"
#include "system/fsutil.h"

int main(int argc, char** argv) {
  reg::RegisterOptions options;
  std::string error;
  const std::vector<std::string> args(argv + 1, argv + argc);
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") {
      std::cout << reg::registerHelp();
      return 0;
    }
  if (!reg::parseRegisterArgs(args, options, error)) {
    std::cerr << "searchrun-register: " << error << "\n";
    return 2;
  }
  if (options.root.empty()) options.root = installationOfProgram(argc > 0 ? argv[0] : nullptr);
  // Whatever the administrator's umask: the page and the drop-in are read by
  // other accounts.
  umask(022);
  return reg::runRegister(options, std::cout, std::cerr);
}
