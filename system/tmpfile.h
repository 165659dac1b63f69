/// @file tmpfile.h
/// @brief Fresh names for scratch files.
///
/// A name is claimed by creating the file, empty, so that two runs started in
/// the same second can never be handed the same name. The caller owns the file
/// and may write over it.

#ifndef SEARCHRUN_SYSTEM_TMPFILE_H
#define SEARCHRUN_SYSTEM_TMPFILE_H

#include <string>

// Claims dir + "/" + prefix + a number of at least five digits ("%05u"). The
// first number tried is seed, or a random one when seed is 0; up to 100 names
// are tried. False when all 100 exist already, or when the directory does not
// take new files.
bool GetTempFilename(const char* dir, const char* prefix, unsigned seed, std::string& out);

// A fresh "../tmp/queryNNNNN".
bool systemGetTmpFile(std::string& out);

// A fresh name with the given prefix in the CGI scratch directory, the
// absolute path of "../search-cgi/tmp" (the parent of the working directory
// followed by "/search-cgi/tmp").
bool systemGetCGITmpFile(std::string& out, const char* prefix);

#endif  // SEARCHRUN_SYSTEM_TMPFILE_H
