/// @file front_workers.h
/// @brief The resident searchrun workers the engine service keeps beside it:
/// with them, a search request costs the web server the start of a small
/// program instead of the whole query program's.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_SERVICE_FRONT_WORKERS_H
#define SEARCHRUN_COMPANIONS_ENGINE_SERVICE_FRONT_WORKERS_H

#include <sys/types.h>

#include <string>

namespace velaservice {

// Runs `program --serve SOCKET --workers N` in the working directory (the
// CGI directory) with the service's standard error, and keeps it running
// while the service runs: one that ends is started again, at most once in
// kRestartPauseMs. It ends with the service, also when the service is
// killed.
class FrontWorkers {
 public:
  static constexpr long long kRestartPauseMs = 5000;

  FrontWorkers(std::string program, std::string socket, int workers);
  ~FrontWorkers();
  FrontWorkers(const FrontWorkers&) = delete;
  FrontWorkers& operator=(const FrontWorkers&) = delete;

  // Starts them when they do not run (and may be started again); for the
  // service's housekeeping.
  void keepRunning();
  pid_t pid() const { return pid_; }

 private:
  void start();

  const std::string program_;
  const std::string socket_;
  const int workers_;
  pid_t pid_ = -1;
  long long startedMs_ = 0;
};

}  // namespace velaservice

#endif  // SEARCHRUN_COMPANIONS_ENGINE_SERVICE_FRONT_WORKERS_H
