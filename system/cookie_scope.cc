/// @file cookie_scope.cc
/// @brief Path and Secure attribute of the cookies an answer sets.

#include "system/cookie_scope.h"

#include <strings.h>

#include <cstdlib>
#include <cstring>

namespace {

// Longer script names are no installation's; "/" is the safe answer.
constexpr size_t kMaxPathLength = 512;

// The characters of a URL path that mean nothing special in a Set-Cookie
// line: unreserved ones, "%" escapes, "/" and the sub-delimiters but ";" and
// ",", which end an attribute or (to older clients) a cookie.
bool isPathCharacter(char c) {
  if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  return std::strchr("-._~%/!$&()*+=:@", c) != nullptr;
}

}  // namespace

std::string cookiePath(const char* scriptName) {
  if (scriptName == nullptr || scriptName[0] != '/') return "/";
  const std::string name = scriptName;
  if (name.size() > kMaxPathLength) return "/";
  for (char c : name)
    if (!isPathCharacter(c)) return "/";
  const std::string dir = name.substr(0, name.rfind('/') + 1);
  // The directory a browser would compare is the one written: a dot segment
  // would scope the cookie to a path no page is served from.
  if (dir.find("/./") != std::string::npos || dir.find("/../") != std::string::npos ||
      dir.find("//") != std::string::npos)
    return "/";
  return dir;
}

bool requestOverHttps(const char* https, const char* requestScheme) {
  if (https != nullptr && (strcasecmp(https, "on") == 0 || std::strcmp(https, "1") == 0))
    return true;
  return requestScheme != nullptr && strcasecmp(requestScheme, "https") == 0;
}

std::string cookieAttributes(const char* scriptName, const char* https, const char* requestScheme) {
  std::string attributes = "; Path=" + cookiePath(scriptName) + "; HttpOnly; SameSite=Strict";
  if (requestOverHttps(https, requestScheme)) attributes += "; Secure";
  return attributes;
}

std::string cookieAttributes() {
  return cookieAttributes(std::getenv("SCRIPT_NAME"), std::getenv("HTTPS"),
                          std::getenv("REQUEST_SCHEME"));
}
