/// @file result_codes.h
/// @brief Result codes that several subsystems give for the same failure:
/// each is also a message number of the installation's message table, so
/// one failure has one number wherever it is met.

#ifndef SEARCHRUN_SYSTEM_RESULT_CODES_H
#define SEARCHRUN_SYSTEM_RESULT_CODES_H

// Memory could not be had.
constexpr int kNoMemoryCode = 1000;
// An engine result file that cannot be read, is malformed or is cut short.
constexpr int kBadResultFileCode = 1021;

// The exit status by which the engine's programs tell the query back-end
// that a run failed.
constexpr int kFailedRunExitStatus = 205;

#endif  // SEARCHRUN_SYSTEM_RESULT_CODES_H
