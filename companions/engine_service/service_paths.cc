/// @file service_paths.cc
/// @brief The files of the engine service of an installation.

#include "companions/engine_service/service_paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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
  return p;
}

bool isPrivateDirectory(const std::string& dir) {
  struct stat st;
  return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
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
