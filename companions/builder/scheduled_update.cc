/// @file scheduled_update.cc
/// @brief Timed updates: the recorded source read, the update run, and the
/// rebuild that keeps the inc part from growing without end.

#include "companions/builder/scheduled_update.h"

#include <filesystem>

#include "companions/builder/index_builder_parts.h"
#include "system/address.h"
#include "system/config.h"
#include "system/index_id.h"
#include "system/index_schedule.h"
#include "system/layout.h"
#include "system/recorded_path.h"

namespace vela {

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kMiB = uint64_t{1} << 20;
// Larger than any disk: a limit of 2^20 MiB is a TiB.
constexpr int64_t kMaxRebuildIncMb = int64_t{1} << 20;

}  // namespace

uint64_t rebuildIncLimitBytes() {
  int64_t mb = kDefaultRebuildIncMb;
  cfgDecimalValue(kIndexUpdateSettings, kRebuildIncKey, 0, kMaxRebuildIncMb, mb);
  return static_cast<uint64_t>(mb) * kMiB;
}

std::string scheduleLockPath(const std::string& home) {
  const fs::path h(home);
  return (h.parent_path() / ("." + h.filename().string() + ".schedule.lock")).string();
}

uint64_t directoryBytes(const std::string& dir) {
  uint64_t total = 0;
  std::error_code ec;
  for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code sizeEc;
    if (it->is_symlink(sizeEc) || !it->is_regular_file(sizeEc)) continue;
    const uintmax_t size = it->file_size(sizeEc);
    if (!sizeEc) total += size;
  }
  return total;
}

int runScheduledUpdate(const BuildContext& ctx, const std::string& id, uint64_t rebuildPastBytes,
                       ScheduledRun& outcome, std::string& error) {
  IndexIdFileMgr ids;
  if (!isSafeIndexName(id.c_str()) || !ids.readIndexIdInfo(id.c_str())) {
    error = "unknown index id " + id;
    return 1;
  }
  const std::string owner = ids.getIndexOwner();
  if (!isSafeOwnerName(owner) || prepareIndexDir(owner, error).empty()) {
    if (error.empty()) error = "index " + id + " names no safe owner";
    return 1;
  }
  const std::string home = systemGetIndexHome(owner.c_str(), id.c_str());
  // A lock of its own, not the builder's: the update and the rebuild each
  // take the builder's lock, and no second timed run may slip in between.
  IndexLock lock(scheduleLockPath(home));
  if (!lock.opened()) {
    error = "cannot open the lock file " + scheduleLockPath(home) +
            " (it must be a regular file, not a link)";
    return 1;
  }
  if (!lock.locked()) {
    outcome = ScheduledRun::kSkipped;
    return 0;
  }
  IndexSchedule schedule;
  bool missing = false;
  if (!readIndexSchedule(home, schedule, missing, error)) {
    if (missing)
      error = "index " + id +
              " has no recorded source folder: create it with --schedule to update it on a "
              "timer";
    return 1;
  }
  ctx.report.note("updating " + id + " from " + encodeRecordedPath(schedule.source));
  if (updateIndex(ctx, id, schedule.source, error) != 0) return 1;
  outcome = ScheduledRun::kUpdated;
  const uint64_t incBytes = directoryBytes(incHome(home));
  // Only a document index's inc part is folded back; a database index keeps
  // growing its own until it is created again.
  if (rebuildPastBytes == 0 || incBytes <= rebuildPastBytes ||
      ids.getIndexType() != std::string("doc"))
    return 0;
  ctx.report.note("the inc part of " + id + " holds " + std::to_string(incBytes / kMiB) +
                  " MiB, past " + kRebuildIncKey + ": rebuilding");
  if (rebuildIndex(ctx, id, error) != 0) return 1;
  outcome = ScheduledRun::kRebuilt;
  return 0;
}

}  // namespace vela
