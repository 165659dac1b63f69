/// @file engine_exchange.h
/// @brief The engine service seen from its clients: one request asked and
/// answered (what a thin search program does), and the engine runs of a
/// whole search handed to the service at once (what searchrun does, so that
/// no run needs a process of its own).
///
/// A run is handed over only when the program is one of the installation's
/// search programs (ROOT/binind or ROOT/search-cgi, by its installed name),
/// the caller works in the installation's CGI directory, and EXCHANGE is not
/// switched off in ROOT/setting/engine_service.cfg: the same conditions under
/// which the program itself would ask the service. Whatever the service does
/// not take up in time (no service, busy, stalled, ended before answering)
/// is left to the caller, who starts the program as before; the program then
/// asks the service itself, or starts it, or runs the full engine. A run's
/// scratch files held in memory (system/scratch_files.h) travel with its
/// request, and the results written to them come back in the answer.

#ifndef SEARCHRUN_SEARCH_ENGINE_EXCHANGE_H
#define SEARCHRUN_SEARCH_ENGINE_EXCHANGE_H

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "search/engine_service_paths.h"
#include "search/engine_wire.h"
#include "system/child_process.h"

namespace velaservice {

// Longest wait for the service to take a request up, by default: about what
// the search costs when the program makes it itself, so a stalled service
// at most doubles a search.
constexpr int kDefaultStartWaitMs = 25;

enum class Asked {
  kAnswered,   // `answer` holds the service's answer
  kNoService,  // nothing listens on the socket
  kNoAnswer,   // the service did not (or could not) answer this request
  kTimedOut,   // taken up, but not answered by the caller's deadline
};

// How long to wait for the service to take a request up (WAIT_MS).
int startWaitMs(const ServicePaths& paths);

// One request on its way to the service: connected and sent, answer to come.
class PendingRequest {
 public:
  // Connects to the service at `socketPath` and sends the request, within
  // `startWaitMs`; `asked` says kNoService or kNoAnswer when that failed.
  PendingRequest(const std::string& socketPath, const vela::ToolRequest& request, int startWaitMs);
  PendingRequest(const PendingRequest&) = delete;
  PendingRequest& operator=(const PendingRequest&) = delete;
  ~PendingRequest();

  // Waits for the answer: the service must take the request up within
  // `startWaitMs` from now (or have done so), and answer within
  // `answerDeadlineMs` (a CLOCK_MONOTONIC time in ms; negative: no limit).
  Asked await(int startWaitMs, long long answerDeadlineMs, vela::ToolAnswer& answer);
  // Nothing listened on the socket.
  bool noService() const { return failed_ == Asked::kNoService; }
  // The request went out whole.
  bool sent() const { return failed_ == Asked::kAnswered; }

 private:
  int fd_ = -1;
  Asked failed_ = Asked::kAnswered;  // kAnswered: nothing failed yet
  bool started_ = false;
  std::string got_;
};

// Sends the request to the service at `socketPath` and waits for its
// answer, without a limit once the service has taken it up.
Asked askService(const std::string& socketPath, const vela::ToolRequest& request, int startWaitMs,
                 vela::ToolAnswer& answer);

// The engine inside this process: a program that links it (the service's
// searchrun workers) answers the requests of its runs itself, as the
// service would answer them, with no socket, thread or process between.
class LocalEngine {
 public:
  // The service's answer to `request`, files carried as they would travel.
  // `stillWanted` is asked before a result is written.
  virtual vela::ToolAnswer answer(const vela::ToolRequest& request,
                                  const std::function<bool()>& stillWanted) = 0;

 protected:
  ~LocalEngine() = default;
};

// The engine of this process (null: none, the default); not owned. Set
// before the first run, for the life of the process.
void setLocalEngine(LocalEngine* engine);

// A request for the engine of this process, made by a helper thread when it
// was handed over ahead, or by its claimer.
struct LocalJob;

}  // namespace velaservice

// The engine runs of one search, made by the engine service of the
// installation whose CGI directory is the working directory. Safe for use
// by the threads of one search.
class EngineExchange final : public ProgramService {
 public:
  EngineExchange();
  ~EngineExchange();  // requests never claimed are dropped (the service stops them)
  EngineExchange(const EngineExchange&) = delete;
  EngineExchange& operator=(const EngineExchange&) = delete;

  // False when nothing can be handed over (not in a CGI directory, or
  // EXCHANGE=no); run and prefetch then take nothing.
  bool usable() const { return usable_; }

  bool run(const ChildProgram& program, ChildOutcome& outcome) override;
  void prefetch(const std::vector<ChildProgram>& programs) override;
  void forget(const ChildProgram& program) override;
  // The page renderer ("getfilelist.exe" or its twin, installed in the CGI
  // directory): the service renders the page from the same words and the
  // run's page variables (vela::kPageVariables). A given file goes along
  // when the request can carry it; when not, nothing is handed over. Nor is
  // the page of a run whose environment sets TZ.
  bool runForOutput(const ChildProgram& program, ChildOutcome& outcome, std::string& output,
                    bool& workDone, int givenFd) override;
  bool takesOutputOf(const std::string& path) override;

  // Runs made by the service, and runs left to a process, so far.
  size_t served() const;
  size_t leftToProcesses() const;

 private:
  struct Sent {
    std::unique_ptr<velaservice::PendingRequest> request;
    // A request for the engine of this process.
    std::shared_ptr<velaservice::LocalJob> local;
    long long sentAtMs = 0;
  };
  // Asks the service, or the engine of this process (at once on a helper
  // thread when `ahead`); false when there is neither (a run to be left to
  // the program).
  bool send(vela::ToolRequest&& request, Sent& sent, bool ahead = false);
  // The answer to `sent`, within `deadline` (CLOCK_MONOTONIC ms, -1: none).
  velaservice::Asked await(Sent& sent, long long deadline, vela::ToolAnswer& answer);
  // The request for `program` (a page request when `page`); false when it
  // is no program of the service, or not of that kind.
  bool requestFor(const ChildProgram& program, vela::ToolRequest& request, bool page = false);
  static std::string keyOf(const ChildProgram& program);

  bool usable_ = false;
  std::string root_;
  std::string cgiDir_;
  velaservice::ServicePaths paths_;
  int startWaitMs_ = velaservice::kDefaultStartWaitMs;
  mutable std::mutex mutex_;
  std::map<std::string, std::string> programDirs_;  // as written -> resolved
  std::multimap<std::string, Sent> sent_;
  size_t served_ = 0;
  size_t left_ = 0;
};

#endif  // SEARCHRUN_SEARCH_ENGINE_EXCHANGE_H
