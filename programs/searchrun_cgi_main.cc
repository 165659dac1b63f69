/// @file searchrun_cgi_main.cc
/// @brief Entry of searchrun as the web server starts it: a small program
/// that hands the request to a resident worker of the installation and, when
/// none takes it up, becomes the whole query program (searchrun.full).

#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "system/fsutil.h"
#include "system/run_handoff.h"

extern char** environ;

int main(int argc, char** argv) {
  const std::string root = installationOfProgram(argc > 0 ? argv[0] : nullptr);
  const std::string base = root == "/" ? "" : root;
  std::vector<std::string> args(argv, argv + argc);
  if (!root.empty()) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
      env.emplace_back(*e);
    const int status = handoff::handOver(base + handoff::kFrontSocketPath, args, env);
    if (status != handoff::kNotHandedOver) return status;
  }
  // "--" marks a run a web server asked for: whatever words follow are the
  // request's, never the full program's own options.
  const std::string full = base + handoff::kFullProgramPath;
  std::vector<char*> words{argv[0], const_cast<char*>("--")};
  for (int i = 1; i < argc; ++i)
    words.push_back(argv[i]);
  words.push_back(nullptr);
  execv(full.c_str(), words.data());
  std::fprintf(stderr, "searchrun: cannot run %s\n", full.c_str());
  std::fputs(
      "Status: 500 Internal Server Error\r\nContent-Type: text/plain\r\n\r\n"
      "The search program is not installed completely.\n",
      stdout);
  return 1;
}
