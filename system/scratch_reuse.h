/// @file scratch_reuse.h
/// @brief Scratch files handed on to later searches instead of removed.
///
/// A search claims a dozen or more scratch files and removes them within
/// milliseconds. Creating a file is the dear part: a file system without a
/// journal passes over every inode freed in the last minutes before it
/// hands out a new one, so the cost of each new file grows with the traffic.
/// A scratch file whose every run has been answered is therefore emptied and
/// kept under one of kSpareSlots fixed names in its directory; a later claim
/// renames a kept file to its own fresh random name, without replacing
/// anything, and takes it only when it is still what was kept: an empty
/// regular file of this account, of one name, of the scratch mode.
///
/// A file is kept only when no one can still write into it: every request
/// that named it went to the engine service of this process and was
/// answered (the service closes what it writes before it answers). A run
/// left to a program, given up, timed out or never claimed leaves its files
/// to be removed, as before.

#ifndef SEARCHRUN_SYSTEM_SCRATCH_REUSE_H
#define SEARCHRUN_SYSTEM_SCRATCH_REUSE_H

#include <string>
#include <vector>

#include "system/secure_file.h"

// Kept files per scratch directory, at most.
constexpr int kSpareSlots = 128;
// Names of the kept files: this prefix and a slot number.
constexpr const char* kSparePrefix = ".spare";

// Renames a kept file of `dir` to `name` (a fresh name in `dir`) and opens
// it for writing into `fd`; false when none was found in a few tries. A
// file found that is not as kept is removed, never used.
bool takeSpareScratch(const std::string& dir, const std::string& name, UniqueFd& fd);

// Bookkeeping of the scratch files this process claimed, by path. Words
// that name no claimed file are ignored.
void noteScratchClaimed(const std::string& path);
// A request naming `words` went to the engine service.
void noteScratchSent(const std::vector<std::string>& words);
// The service answered such a request.
void noteScratchAnswered(const std::vector<std::string>& words);

// Done with a claimed scratch file: kept for later claims when that is safe
// (see above) and a slot is free, removed otherwise.
void releaseScratchFile(const std::string& path);

#endif  // SEARCHRUN_SYSTEM_SCRATCH_REUSE_H
