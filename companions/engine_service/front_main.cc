/// @file front_main.cc
/// @brief Entry of vela_front, the searchrun workers the engine service
/// keeps: the whole query program's runs, one at a time each, with the
/// engine and the page renderer in the same process. A run asks them as it
/// would ask the service, through the same requests and with the same
/// answers, but without a socket, a thread or a process between: on a
/// small machine a request's exchanges with another process cost more than
/// the engine's work on them.

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "companions/engine/service_request.h"
#include "companions/engine_service/page_service.h"
#include "front/request_state.h"
#include "front/search_run.h"
#include "search/engine_exchange.h"
#include "system/clock.h"
#include "system/fsutil.h"
#include "system/run_handoff.h"

namespace {

constexpr const char* kUsage =
    "Usage: vela_front --serve SOCKET [--workers N]\n"
    "Keeps N workers (1 to 64, default 4) that make the search runs the\n"
    "installation's searchrun hands over on SOCKET, one at a time each, in the\n"
    "working directory (the installation's CGI directory), with the engine and\n"
    "the page renderer inside: a run's searches, related terms, suggestions and\n"
    "page are made in the worker, as the engine service would make them. Runs in\n"
    "the foreground until SIGTERM or SIGINT; the engine service starts it.\n";

// How often the open indexes and kept folders are looked over for ones
// rebuilt or gone, as the service's housekeeping does.
constexpr long long kHousekeepingMs = 5000;

class WorkerEngine final : public velaservice::LocalEngine {
 public:
  explicit WorkerEngine(const vela::ServedInstallation& inst)
      : runner_(inst, vela::kDefaultOpenIndexes), pages_(inst) {}

  vela::ToolAnswer answer(const vela::ToolRequest& request,
                          const std::function<bool()>& stillWanted) override {
    keepHouse();
    if (request.tool == vela::Tool::kPage) return pages_.serve(request);
    return runner_.serve(request, stillWanted);
  }

 private:
  void keepHouse() {
    std::lock_guard<std::mutex> lock(mutex_);
    const long long now = monotonicMs();
    if (now < nextHousekeeping_) return;
    if (nextHousekeeping_ != 0) {
      runner_.databases().dropReplaced();
      pages_.keptDirectories().dropStale();
    }
    nextHousekeeping_ = now + kHousekeepingMs;
  }

  vela::RequestRunner runner_;
  vela::PageService pages_;
  std::mutex mutex_;
  long long nextHousekeeping_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "--help") == 0) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  handoff::ServeOptions options;
  std::string socket;
  if (!handoff::readServeWords(argc, argv, socket, options)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  // The installation is the one whose CGI directory this is.
  std::string cwd;
  vela::ServedInstallation inst;
  std::string error;
  if (!resolvedPath(".", cwd) || !vela::findInstallation(cwd + "/..", inst, error)) {
    std::fprintf(stderr, "vela_front: %s\n",
                 error.empty() ? "no working directory" : error.c_str());
    return 1;
  }
  WorkerEngine engine(inst);
  velaservice::setLocalEngine(&engine);
  // The engine keeps its indexes open from one run to the next.
  return handoff::serveRuns(socket, {searchrunMain, resetRequestState, true}, options);
}
