/// @file permit_tool.h
/// @brief The command line of "ks_permit", the sign-in tool that issues,
/// checks, removes and expires cookie permits of an installation.

#ifndef SEARCHRUN_ACCESS_PERMIT_TOOL_H
#define SEARCHRUN_ACCESS_PERMIT_TOOL_H

#include <cstdio>

// Runs one ks_permit command line (argv[0] is the program name):
//   ks_permit [--root ROOT] create --user NAME [--type N]    prints "ks_key=KEY"
//   ks_permit [--root ROOT] check --user NAME --key KEY [--lifetime S]   prints the result code
//   ks_permit [--root ROOT] remove --user NAME --key KEY
//   ks_permit [--root ROOT] expire --max-idle S               prints the number deleted
//   ks_permit --help
// Paths are those of a run in the CGI directory; --root ROOT changes the
// working directory to ROOT/search-cgi first. Answers go to out, complaints
// to err. Returns the exit status: 0 success (check: the permit is valid),
// 1 when the operation was refused or failed, 2 for a bad command line.
int permitToolRun(int argc, const char* const* argv, FILE* out, FILE* err);

#endif  // SEARCHRUN_ACCESS_PERMIT_TOOL_H
