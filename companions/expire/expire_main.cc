/// @file expire_main.cc
/// @brief Entry of "expire_results": one pass for a timer, or passes at an
/// interval in the foreground for a service manager.

#include <limits.h>
#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "companions/expire/expire.h"
#include "companions/serve/daemon_options.h"
#include "system/fsutil.h"

namespace {

constexpr const char* kUsage =
    "Usage: expire_results [--root ROOT] [--max-age MINUTES] [--every SECONDS]\n"
    "Removes search results and scratch files older than RESULT_EXPIRE_MINUTES\n"
    "(setting/search_option.cfg, default 60), permits idle longer than\n"
    "LOGIN_TIMEOUT, and daily search logs (yyyymmdd.log) of days more than\n"
    "SEARCH_LOG_KEEP_DAYS ago (default 30; 0 keeps them all). When it removes\n"
    "results it also removes tmp/.usage, the figure of what results take, so\n"
    "that the next search counts what is left. Run it as the account the web\n"
    "server runs searches as.\n"
    "\n"
    "Options:\n"
    "  --root ROOT        the installation (default: the folder above this program's)\n"
    "  --max-age MINUTES  overrides RESULT_EXPIRE_MINUTES\n"
    "  --every SECONDS    stays in the foreground and repeats the pass\n";

volatile sig_atomic_t g_stop = 0;

void onStop(int) {
  g_stop = 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string root;
  int64_t maxAge = 0;
  int64_t every = 0;
  if (const int rc = serve::readDaemonOptions(
          argc, argv, "expire_results", kUsage,
          {serve::textOption("--root", root), serve::numberOption("--max-age", maxAge, 1, 525600),
           serve::numberOption("--every", every, 1, 86400)},
          nullptr))
    return rc < 0 ? 0 : rc;
  if (root.empty()) root = installationOfProgram();
  if (root.empty() || chdir((root + "/search-cgi").c_str()) != 0) {
    std::fprintf(stderr, "expire_results: %s is no installation\n", root.c_str());
    return 1;
  }
  signal(SIGTERM, onStop);
  signal(SIGINT, onStop);
  do {
    const expire::PassResult pass =
        expire::expirePass(static_cast<long>(maxAge), std::time(nullptr));
    std::printf("expired %d results, %d scratch files, %d permits, %d search logs\n", pass.results,
                pass.scratch, pass.permits, pass.searchLogs);
    std::fflush(stdout);
    const char* unreadable = pass.results < 0 || pass.scratch < 0 ? "../tmp or ../search-cgi/tmp"
                             : pass.searchLogs < 0 ? "the directory of the search logs"
                                                   : nullptr;
    if (unreadable != nullptr) {
      std::fprintf(stderr, "expire_results: %s cannot be read\n", unreadable);
      if (every == 0) return 1;
    }
    for (int64_t slept = 0; every > 0 && slept < every && !g_stop; ++slept)
      sleep(1);
  } while (every > 0 && !g_stop);
  return 0;
}
