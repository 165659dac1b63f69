/// @file engine_service_paths.h
/// @brief Where the engine service of an installation and its clients meet:
/// the run directory with the socket, the service lock and the log of a
/// service a search started, and the switch that keeps searches from
/// starting one.
///
///   ROOT/run/                    private to the server account (0700)
///   ROOT/run/engine.sock         the service's socket (0600)
///   ROOT/run/engine.lock         held (flock) by the one service; its pid
///   ROOT/run/engine.start        held by a search while it starts the service
///   ROOT/run/engine.log          standard error of a service a search started
///   ROOT/run/front.sock          the searchrun workers the service keeps
///   ROOT/setting/engine_service.cfg   AUTO_START=no keeps searches from
///                                     starting the service; WAIT_MS how long
///                                     a search waits for a busy service;
///                                     EXCHANGE=no keeps searchrun from
///                                     handing its engine runs to the service
///                                     itself (each program is started and
///                                     decides, as a program put in place of
///                                     ours needs); FRONT_WORKERS how many
///                                     searchrun workers the service keeps
///                                     (0: none, every search is a program)

#ifndef SEARCHRUN_SEARCH_ENGINE_SERVICE_PATHS_H
#define SEARCHRUN_SEARCH_ENGINE_SERVICE_PATHS_H

#include <string>

namespace velaservice {

struct ServicePaths {
  std::string runDir;
  std::string socket;
  std::string lock;
  std::string startLock;
  std::string log;
  std::string settings;
  std::string service;     // ROOT/binind/vela_service
  std::string fullEngine;  // ROOT/binind/vela_engine.full
  std::string frontSocket;
  std::string fullFront;  // ROOT/binind/searchrun.full
  // ROOT/binind/vela_front: the same workers with the engine inside.
  std::string engineFront;
};

ServicePaths servicePaths(const std::string& root);

// A value of the service settings, blanks around it dropped; "" when unset.
std::string serviceSetting(const ServicePaths& paths, const char* key);
// True when the value of `key` switches something off ("no", "0", "off",
// "false", any case).
bool settingIsOff(const ServicePaths& paths, const char* key);

// True when `dir` is a directory of this account that no other account may
// write. The run directory may be a link that the owner of the installation
// made (a packaged installation keeps its data apart from its programs):
// only that owner can place one there.
bool isPrivateDirectory(const std::string& dir);

// Makes the run directory (0700) when it is missing; false, with the
// reason, when it is not private (isPrivateDirectory) afterwards.
bool ensureRunDirectory(const std::string& dir, std::string& error);

}  // namespace velaservice

#endif  // SEARCHRUN_SEARCH_ENGINE_SERVICE_PATHS_H
