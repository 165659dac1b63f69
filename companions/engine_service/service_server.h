/// @file service_server.h
/// @brief The socket side of the engine service: accepting clients, reading
/// their requests within a size cap and a time limit, handing whole requests
/// to a small pool of workers, and answering. What a request means is the
/// handler's business (service_request.h).
///
/// One thread reads every connection (poll), so a client that stalls,
/// trickles or sends garbage holds no worker: it is dropped at the cap or
/// the time limit. Only clients of the service's own account are served
/// (the peer's credentials). A worker that takes a request up first sends
/// the started byte; a client that sees none in time runs the search
/// itself. A connection the service cannot take (too many clients, a full
/// queue, shutting down) is closed unanswered, which tells the client the
/// same at once.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_SERVICE_SERVICE_SERVER_H
#define SEARCHRUN_COMPANIONS_ENGINE_SERVICE_SERVICE_SERVER_H

#include <cstddef>
#include <functional>
#include <string>

#include "companions/engine/request_wire.h"

namespace velaservice {

struct ServerLimits {
  size_t workers = 4;
  // A request must arrive whole within this time of its connection.
  int requestTimeoutMs = 2000;
  // Connections still sending their request; more are closed at once.
  size_t maxReading = 256;
  // Whole requests waiting for a worker; more are closed at once.
  size_t maxQueued = 64;
  // Time an answer may wait for a client that does not read it.
  int answerTimeoutMs = 5000;
};

// Runs one request; `clientThere` tells whether the client still waits.
using RequestHandler = std::function<vela::ToolAnswer(const vela::ToolRequest& request,
                                                      const std::function<bool()>& clientThere)>;

// Called about once a second from the reading thread; serving ends when it
// answers false.
using Housekeeping = std::function<bool()>;

// Writes one line, with a time stamp, to standard error.
void logLine(const std::string& text);

// Serves the listening socket `listenFd` until SIGTERM, SIGINT or SIGHUP
// arrives or `housekeeping` answers false, then closes it (so clients turn
// away at once) and lets the workers finish the runs they have begun.
// Requests not yet begun are dropped (their clients run them themselves).
// The calling thread reads; the signals are blocked in every thread of the
// process from the call on. Returns 0, or 1 when the signals or the workers
// could not be set up.
int serve(int listenFd, const ServerLimits& limits, const RequestHandler& handler,
          const Housekeeping& housekeeping);

}  // namespace velaservice

#endif  // SEARCHRUN_COMPANIONS_ENGINE_SERVICE_SERVICE_SERVER_H
