/// @file engine_service_paths.cc
/// @brief The files of the engine service of an installation.

#include "search/engine_service_paths.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "system/config.h"
#include "system/run_handoff.h"

namespace velaservice {

ServicePaths servicePaths(const std::string& root) {
  const std::string base = root == "/" ? "" : root;
  ServicePaths p;
  p.runDir = base + "/run";
  p.socket = p.runDir + "/engine.sock";
  p.lock = p.runDir + "/engine.lock";
  p.startLock = p.runDir + "/engine.start";
  p.log = p.runDir + "/engine.log";
  p.settings = base + "/setting/engine_service.cfg";
  p.service = base + "/binind/vela_service";
  p.fullEngine = base + "/binind/vela_engine.full";
  p.frontSocket = base + handoff::kFrontSocketPath;
  p.fullFront = base + handoff::kFullProgramPath;
  p.engineFront = base + "/binind/vela_front";
  return p;
}

std::string serviceSetting(const ServicePaths& paths, const char* key) {
  const std::string value = getCfgFileTokenValue(paths.settings.c_str(), key);
  const size_t begin = value.find_first_not_of(" \t\r");
  if (begin == std::string::npos) return "";
  return value.substr(begin, value.find_last_not_of(" \t\r") - begin + 1);
}

bool settingIsOff(const ServicePaths& paths, const char* key) {
  const std::string value = serviceSetting(paths, key);
  for (const char* off : {"no", "0", "off", "false"})
    if (strcasecmp(value.c_str(), off) == 0) return true;
  return false;
}

bool isPrivateDirectory(const std::string& dir) {
  struct stat st;
  return stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
         (st.st_mode & 022) == 0;
}

bool ensureRunDirectory(const std::string& dir, std::string& error) {
  if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "cannot make " + dir;
    return false;
  }
  if (!isPrivateDirectory(dir)) {
    error = dir + " must be a directory of this account that no other account may write";
    return false;
  }
  return true;
}

}  // namespace velaservice
