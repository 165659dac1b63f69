/// @file cgi_input.cc
/// @brief CONTENT_LENGTH and the POST body.

#include "cgi/cgi_input.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "system/numbers.h"

size_t cgiBodyLength() {
  const int n = parseAtoi(std::getenv("CONTENT_LENGTH"));
  if (n <= 0) return 0;
  return std::min(size_t(n), kMaxCgiBodyBytes);
}

std::string readCgiBody(int fd, size_t length) {
  std::string body(length, '\0');
  size_t got = 0;
  // A pipe hands the body over in pieces; one read may bring only the first.
  while (got < length) {
    const ssize_t n = ::read(fd, &body[got], length - got);
    if (n > 0) {
      got += size_t(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  body.resize(got);
  return body;
}

std::string cutAtZero(const char* text, size_t length) {
  if (text == nullptr) return std::string();
  const void* zero = std::memchr(text, '\0', length);
  if (zero != nullptr) length = size_t(static_cast<const char*>(zero) - text);
  return std::string(text, length);
}
