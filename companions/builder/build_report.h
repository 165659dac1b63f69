/// @file build_report.h
/// @brief What a build tells whoever runs it: on a terminal, how far a long
/// build has come (documents done of the total, rate, time left); a note for
/// every document left out; and at the end a summary of the documents
/// indexed per format and skipped per reason. Quiet builds (timers,
/// scripts) keep the notes and drop the rest.

#ifndef SEARCHRUN_COMPANIONS_BUILDER_BUILD_REPORT_H
#define SEARCHRUN_COMPANIONS_BUILDER_BUILD_REPORT_H

#include <chrono>
#include <functional>
#include <map>
#include <ostream>
#include <string>
#include <string_view>

namespace vela {

class BuildReport {
 public:
  using Clock = std::function<std::chrono::steady_clock::time_point()>;

  // `terminal`: the progress line may be rewritten in place on `out`.
  BuildReport(std::ostream& out, bool terminal, bool quiet,
              Clock clock = std::chrono::steady_clock::now);
  BuildReport(const BuildReport&) = delete;
  BuildReport& operator=(const BuildReport&) = delete;

  // A phase over `total` documents ("indexing", "rebuilding").
  void begin(const char* what, size_t total);
  // One document of the phase done.
  void step();
  // A document indexed, by its format ("text", "HTML", "PDF", ...).
  void indexed(std::string_view format);
  // A document left out: a note naming it (always written) and a count.
  void skipped(std::string_view path, std::string_view reason);
  // Any other note of the build.
  void note(std::string_view text);

  // "indexed 3 documents (2 text, 1 HTML); skipped 1 (1 not text)"; "" when
  // the build saw no document.
  std::string summary() const;
  // Ends the progress line and writes the summary (not when quiet).
  void finish();

 private:
  void endLine();

  std::ostream& out_;
  bool terminal_, quiet_;
  Clock clock_;
  std::string what_;
  size_t total_ = 0, done_ = 0;
  std::chrono::steady_clock::time_point start_, shown_;
  bool lineOpen_ = false;
  std::map<std::string, size_t, std::less<>> indexed_, skipped_;
};

}  // namespace vela

#endif  // SEARCHRUN_COMPANIONS_BUILDER_BUILD_REPORT_H
