/// @file cgi_test_util.h
/// @brief Fixtures of the request reading tests: standard input fed through a
/// pipe, and a stand-in charset converter.

#ifndef SEARCHRUN_TESTS_FRONT_CGI_TEST_UTIL_H
#define SEARCHRUN_TESTS_FRONT_CGI_TEST_UTIL_H

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "cgi/conversion_hooks.h"

namespace cgitest {

// Standard input reads `bytes` from a pipe for the life of the object. A
// thread writes them in pieces of `chunk` bytes, so that a reader sees the
// body arrive in several reads. What the reader leaves unread is dropped.
class ScopedStdinPipe {
 public:
  explicit ScopedStdinPipe(std::string bytes, size_t chunk = 4096) : bytes_(std::move(bytes)) {
    int fds[2];
    if (pipe(fds) != 0) std::abort();
    old_pipe_handler_ = std::signal(SIGPIPE, SIG_IGN);
    saved_stdin_ = dup(STDIN_FILENO);
    dup2(fds[0], STDIN_FILENO);
    close(fds[0]);
    writer_ = std::thread([this, out = fds[1], chunk] {
      for (size_t done = 0; done < bytes_.size();) {
        const ssize_t n = write(out, bytes_.data() + done, std::min(chunk, bytes_.size() - done));
        if (n <= 0) break;
        done += size_t(n);
      }
      close(out);
    });
  }
  ~ScopedStdinPipe() {
    // Closing the last read end lets a writer blocked on a full pipe finish.
    dup2(saved_stdin_, STDIN_FILENO);
    close(saved_stdin_);
    writer_.join();
    std::signal(SIGPIPE, old_pipe_handler_);
  }

 private:
  std::string bytes_;
  int saved_stdin_ = -1;
  std::thread writer_;
  void (*old_pipe_handler_)(int) = SIG_DFL;
};

// Target code page asked for by the last call of fakeConverter.
inline std::string& lastConverterTarget() {
  static std::string target;
  return target;
}

// Knows two characters: U+4E2D becomes the two bytes A4 A4, and U+6587 the
// reference "&#25991;" (longer than its escape). Like a real converter it
// turns a text cut short by a zero byte into something ("?"); anything else fails.
inline int fakeConverter(const char* src, const char* src_name, char* dest, const char* dest_name,
                         int dest_size) {
  if (std::strcmp(src_name, "UTF-16BE") != 0) return -2;
  lastConverterTarget() = dest_name;
  const bool cut = std::strlen(src) < 2;
  const unsigned code =
      cut ? 0
          : unsigned(static_cast<unsigned char>(src[0])) << 8 | static_cast<unsigned char>(src[1]);
  const char* out = cut ? "?" : code == 0x4E2D ? "\xA4\xA4" : code == 0x6587 ? "&#25991;" : nullptr;
  if (out == nullptr) return -6;
  std::snprintf(dest, size_t(dest_size), "%s", out);
  return 0;
}

// Installs a converter for the life of the object.
class ScopedConverter {
 public:
  explicit ScopedConverter(CharsetConverterFn fn = fakeConverter) { setLocalPageConverter(fn); }
  ~ScopedConverter() { setLocalPageConverter(nullptr); }
};

}  // namespace cgitest

#endif  // SEARCHRUN_TESTS_FRONT_CGI_TEST_UTIL_H
