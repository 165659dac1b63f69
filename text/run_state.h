/// @file run_state.h
/// @brief The text library's process-wide state put back as the program
/// started it: for a process that makes runs one after another.

#ifndef SEARCHRUN_TEXT_RUN_STATE_H
#define SEARCHRUN_TEXT_RUN_STATE_H

// The Japanese class table and counts, the charset table directories, the
// last conversion failure and where conversions report. Call between runs.
void resetTextRunState();

#endif  // SEARCHRUN_TEXT_RUN_STATE_H
