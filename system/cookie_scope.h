/// @file cookie_scope.h
/// @brief Where and how a cookie of this installation may travel: only to
/// the CGI directory that set it, and only over HTTPS when it came that way.

#ifndef SEARCHRUN_SYSTEM_COOKIE_SCOPE_H
#define SEARCHRUN_SYSTEM_COOKIE_SCOPE_H

#include <string>

// The directory of `scriptName` (SCRIPT_NAME) with its final "/", where both
// searchrun and the renderer live; "/" when the name is missing, relative,
// too long, or holds anything but the characters of a plain URL path (no
// ";", ",", quotes, spaces, control characters, "\" or ".." segments): the
// value goes into a header, so request text that could end or extend the
// header line never does.
std::string cookiePath(const char* scriptName);

// True when the request came over HTTPS: the CGI variable HTTPS is "on" or
// "1" (any case), or REQUEST_SCHEME is "https". Either may be null.
bool requestOverHttps(const char* https, const char* requestScheme);

// The attributes that follow "NAME=VALUE" in a Set-Cookie line of this
// program's answer: "; Path=DIR; HttpOnly; SameSite=Strict", and "; Secure"
// over HTTPS, from SCRIPT_NAME, HTTPS and REQUEST_SCHEME.
std::string cookieAttributes(const char* scriptName, const char* https, const char* requestScheme);
// The same for the CGI environment of this process.
std::string cookieAttributes();

#endif  // SEARCHRUN_SYSTEM_COOKIE_SCOPE_H
