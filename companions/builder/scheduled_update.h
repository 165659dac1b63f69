/// @file scheduled_update.h
/// @brief What a timer runs to keep an index fresh: an update from the
/// folder recorded with the index, and a rebuild once its inc part has grown
/// large.

#ifndef SEARCHRUN_COMPANIONS_BUILDER_SCHEDULED_UPDATE_H
#define SEARCHRUN_COMPANIONS_BUILDER_SCHEDULED_UPDATE_H

#include <cstdint>
#include <string>

#include "companions/builder/index_builder.h"

namespace vela {

// The settings file of timed updates, relative to the CGI directory, and its
// key: the size in MiB of an inc part past which an update is followed by a
// rebuild (0: never).
constexpr const char* kIndexUpdateSettings = "../setting/index_update.cfg";
constexpr const char* kRebuildIncKey = "REBUILD_INC_MB";
constexpr int64_t kDefaultRebuildIncMb = 64;

// REBUILD_INC_MB of the settings, in bytes; the default when the file or
// key is missing or not a number of MiB.
uint64_t rebuildIncLimitBytes();

enum class ScheduledRun {
  kSkipped,  // another timed update of the index is running
  kUpdated,
  kRebuilt,  // updated, then rebuilt
};

// Updates index `id` from its recorded source, then rebuilds it when its inc
// part holds more than `rebuildPastBytes` (0: never). Timed updates of one
// index never overlap: a run that finds another running returns kSkipped at
// once. 0, or 1 with a message (no recorded source, or the update or rebuild
// failed).
int runScheduledUpdate(const BuildContext& ctx, const std::string& id, uint64_t rebuildPastBytes,
                       ScheduledRun& outcome, std::string& error);

// The lock file that keeps timed updates of the index in `home` apart.
std::string scheduleLockPath(const std::string& home);

// The bytes of the regular files below `dir` (links are not followed).
uint64_t directoryBytes(const std::string& dir);

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_SCHEDULED_UPDATE_H
