/// @file run_state.h
/// @brief Everything of a run that the services keep in the process, put
/// back as the program started it: for a process that makes runs one after
/// another, so that nothing of one reaches the next.

#ifndef SEARCHRUN_SYSTEM_RUN_STATE_H
#define SEARCHRUN_SYSTEM_RUN_STATE_H

// Ends the children the run left running (killed and reaped), puts back the
// signal handling it changed, drops the program service, its deadline and
// client, its memory scratch files, the log settings, the cached settings,
// and the time and test seams. Settings texts kept while their files are
// unchanged (system/kept_files.h) stay. Call between runs, never during one.
void resetSystemRunState();

#endif  // SEARCHRUN_SYSTEM_RUN_STATE_H
