/// @file tmpfile.h
/// @brief Fresh names for scratch and result files.
///
/// A name is a stem followed by kTempNameDigits decimal digits drawn from the
/// system's random source (about 99 bits), so a name can be neither foreseen
/// nor guessed from the names of other runs. The name is claimed by creating
/// the file exclusively, never through a link; the caller owns the file.

#ifndef SEARCHRUN_SYSTEM_TMPFILE_H
#define SEARCHRUN_SYSTEM_TMPFILE_H

#include <string>

#include "system/secure_file.h"

// Digits after the stem of every fresh name.
constexpr size_t kTempNameDigits = 30;
// Mode of the files claimed: readable and writable by the account of the
// run only, whatever its umask.
constexpr mode_t kTempFileMode = 0600;

// Claims dir + "/" + prefix + kTempNameDigits random digits, created empty
// with kTempFileMode. Up to 10 names are tried (a clash is practically
// impossible). False when none could be created (the directory is missing or
// not writable, the disk is full, or the random source failed). With `fd`,
// the new file stays open for writing there.
bool GetTempFilename(const char* dir, const char* prefix, std::string& out);
// Such a name without claiming it (dir + "/" + prefix + the digits); false
// when the random source failed.
bool freshTempName(const std::string& dir, const char* prefix, std::string& name);
bool GetTempFilename(const char* dir, const char* prefix, std::string& out, UniqueFd& fd);

// A fresh "../tmp/query<digits>".
bool systemGetTmpFile(std::string& out);

// Bytes the files directly in `dir` take on disk (links and directories
// not followed or counted); stops counting past `stopAt`. -1 when the
// directory cannot be read.
long long directoryBytes(const char* dir, long long stopAt);

// directoryBytes of a results directory held to `limit` bytes, for a run
// about to add a result: a figure counted by a run, with what runs added
// since (addResultsUsage), is taken as it stands for five minutes while it
// leaves half the limit free and for two seconds otherwise; then the
// directory is counted again, by one run at a time: runs that come while one
// counts take the figure as it stands. The figure is kept in the
// directory's kResultsUsageFile; expire_results removes it when it removes
// results.
long long resultsDirectoryBytes(const char* dir, long long limit);
// Adds the `bytes` a run's result takes to the figure kept for `dir`; nothing
// when there is none to add to.
void addResultsUsage(const char* dir, long long bytes);
constexpr const char* kResultsUsageFile = ".usage";

// The results directory, "../tmp".
constexpr const char* kResultDirectory = "../tmp";

// A fresh name with the given prefix in the CGI scratch directory, the
// absolute path of "../search-cgi/tmp" (the parent of the working directory
// followed by "/search-cgi/tmp").
bool systemGetCGITmpFile(std::string& out, const char* prefix);
// That directory; "" when the working directory cannot be named.
std::string systemCGITmpDirectory();
bool systemGetCGITmpFile(std::string& out, const char* prefix, UniqueFd& fd);

#endif  // SEARCHRUN_SYSTEM_TMPFILE_H
