/// @file thin_client.h
/// @brief The thin search programs (vela25_0.exe, date_range.exe,
/// digit_index.exe, expand_vela_token_list.exe): each asks the engine
/// service of its installation to make its run, and makes it itself, through
/// vela_engine.full, when the service cannot. Command lines, result files,
/// output and exit statuses are those of the program either way.
///
/// A program asks the service only when started in its installation's CGI
/// directory (where the back-end starts it), since the service reads the
/// settings of that installation. It runs the search itself when
///   - nothing listens on the socket: then it also starts the service for
///     the searches after it (unless AUTO_START=no in
///     ROOT/setting/engine_service.cfg), detached, its standard error into
///     ROOT/run/engine.log;
///   - the service does not take the request up in time (busy or stalled),
///     drops it, or ends before answering.
/// The time is WAIT_MS of ROOT/setting/engine_service.cfg (1 to 60000,
/// default kDefaultStartWaitMs). Once taken up, a run is waited for as long
/// as it takes; the caller's own time limit bounds it, as it bounds a
/// program.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_SERVICE_THIN_CLIENT_H
#define SEARCHRUN_COMPANIONS_ENGINE_SERVICE_THIN_CLIENT_H

#include <string>

#include "search/engine_exchange.h"

namespace velaservice {

// True when a search may start the service: not switched off, a private run
// directory, the service program there.
bool autoStartAllowed(const ServicePaths& paths);

// Starts the service of `root` detached from this process, unless another
// search is starting it at this moment.
void startService(const ServicePaths& paths, const std::string& root);

// The whole run of a thin program; returns only when the run is done here
// or has failed (the status to exit with).
int runThinProgram(vela::Tool tool, int argc, char** argv);

}  // namespace velaservice

#endif  // SEARCHRUN_COMPANIONS_ENGINE_SERVICE_THIN_CLIENT_H
