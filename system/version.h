/// @file version.h
/// @brief The version block shown by "-ver" and the command-line checks.

#ifndef SEARCHRUN_SYSTEM_VERSION_H
#define SEARCHRUN_SYSTEM_VERSION_H

// "\nVERSION_NO: <version>\nBUILD NUMBER: <n>\nBUILD_DATE: <date>, <time>\n\n".
const char* getProgramVersion();
int getBuildNumber();

// True for exactly one argument equal to "-ver" in any letter case.
bool isVersionRequest(int argc, char** argv);

// For a version request prints the version block on standard output and ends
// the process with status 0; otherwise returns 0.
int verifyProgramVersion(int argc, char** argv);

// 1 when the web server passed the query string as the single argument too:
// QUERY_STRING is set and, with n the length of its first "&"-segment minus
// one, the first n characters of argv[1] equal its first n (or, for n below
// 1, argv[1] is empty). 0 otherwise.
int checkArgcForApache2_0_40(int argc, char** argv);

#endif  // SEARCHRUN_SYSTEM_VERSION_H
