/// @file run_state.cc
/// @brief Putting the services' process-wide state back between runs.

#include "system/run_state.h"

#include <optional>
#include <string>

#include "system/agent_hosts.h"
#include "system/child_process.h"
#include "system/clock.h"
#include "system/layout.h"
#include "system/log.h"
#include "system/net_exchange.h"
#include "system/run_deadline.h"
#include "system/scratch_files.h"

// Weak: the editions without the debug log hold none of its code, and
// resetting it must not link it in; there it is null.
[[gnu::weak]] void resetLogState();

void resetSystemRunState() {
  // Children first: they may still be writing the run's scratch files.
  endRunChildren();
  setRunDeadline(0);
  watchRunClient(-1);
  scratch::forgetAll();
  // Kept settings texts stay: each use checks the file first, so a text
  // serves the next run only while the file is the one that was read.
  systemResetCaches();
  systemForgetNetLimits();
  resetRunLogState();
  if (resetLogState != nullptr) resetLogState();
  setTimeSourceForTests({});
  setSleeperForTests({});
  setAgentHostsForTests(std::nullopt);
}
