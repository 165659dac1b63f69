/// @file searchrun_main.cc
/// @brief Entry of the whole query program (searchrun.full): one run per
/// process as the small searchrun hands it over ("--" and the request's
/// words), or, with --serve, the resident workers that make runs one after
/// another for the small searchrun.

#include <cstring>
#include <string>
#include <vector>

#include "front/request_state.h"
#include "front/search_run.h"
#include "system/run_handoff.h"

namespace {

constexpr const char* kUsage =
    "Usage: searchrun.full --serve SOCKET [--workers N]\n"
    "Keeps N workers (1 to 64, default 4) that make the search runs the\n"
    "installation's searchrun hands over on SOCKET, one at a time each, in the\n"
    "working directory (the installation's CGI directory). Runs in the\n"
    "foreground until SIGTERM or SIGINT; the engine service starts it.\n";

int serve(int argc, char** argv) {
  handoff::ServeOptions options;
  std::string socket;
  if (!handoff::readServeWords(argc, argv, socket, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  return handoff::serveRuns(socket, {searchrunMain, resetRequestState}, options);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (argc >= 2 && std::strcmp(argv[1], "--serve") == 0) return serve(argc, argv);
  // The request's own words follow "--".
  if (argc >= 2 && std::strcmp(argv[1], "--") == 0) {
    argv[1] = argv[0];
    return searchrunMain(argc - 1, argv + 1);
  }
  return searchrunMain(argc, argv);
}
