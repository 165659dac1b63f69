/// @file build_report.cc
/// @brief The builder's progress line, notes and summary.

#include "companions/builder/build_report.h"

#include <cmath>

namespace vela {

namespace {

// A progress line is rewritten at most this often: a build of many small
// documents must not spend its time writing to the terminal.
constexpr std::chrono::milliseconds kRedraw{200};

std::string counts(const std::map<std::string, size_t, std::less<>>& byName) {
  std::string out;
  for (const auto& [name, n] : byName)
    out += (out.empty() ? "" : ", ") + std::to_string(n) + " " + name;
  return out;
}

size_t sum(const std::map<std::string, size_t, std::less<>>& byName) {
  size_t n = 0;
  for (const auto& entry : byName)
    n += entry.second;
  return n;
}

std::string duration(double seconds) {
  const long s = std::lround(seconds);
  if (s < 60) return std::to_string(s) + " s";
  if (s < 3600) return std::to_string(s / 60) + " min " + std::to_string(s % 60) + " s";
  return std::to_string(s / 3600) + " h " + std::to_string(s % 3600 / 60) + " min";
}

}  // namespace

BuildReport::BuildReport(std::ostream& out, bool terminal, bool quiet, Clock clock)
    : out_(out), terminal_(terminal), quiet_(quiet), clock_(std::move(clock)) {}

void BuildReport::begin(const char* what, size_t total) {
  endLine();
  what_ = what;
  total_ = total;
  done_ = 0;
  start_ = clock_();
  shown_ = start_;
}

void BuildReport::step() {
  ++done_;
  if (!terminal_ || quiet_) return;
  const auto now = clock_();
  if (now - shown_ < kRedraw && done_ != total_) return;
  shown_ = now;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  std::string line = what_ + ": " + std::to_string(done_) + " of " + std::to_string(total_);
  if (seconds > 0) {
    const double rate = done_ / seconds;
    line += ", " + std::to_string(std::lround(rate)) + "/s";
    if (done_ < total_) line += ", " + duration((total_ - done_) / rate) + " left";
  }
  // The blanks wipe what a longer line before left.
  out_ << "\r" << line << "      " << std::flush;
  lineOpen_ = true;
}

void BuildReport::indexed(std::string_view format) {
  auto it = indexed_.find(format);
  if (it == indexed_.end()) it = indexed_.emplace(std::string(format), 0).first;
  ++it->second;
}

void BuildReport::skipped(std::string_view path, std::string_view reason) {
  auto it = skipped_.find(reason);
  if (it == skipped_.end()) it = skipped_.emplace(std::string(reason), 0).first;
  ++it->second;
  note("skipped " + std::string(path) + ": " + std::string(reason));
}

void BuildReport::note(std::string_view text) {
  endLine();
  out_ << "index_builder: " << text << "\n";
}

std::string BuildReport::summary() const {
  const size_t in = sum(indexed_), out = sum(skipped_);
  if (in == 0 && out == 0) return "";
  std::string text = "indexed " + std::to_string(in) + (in == 1 ? " document" : " documents");
  if (in > 0) text += " (" + counts(indexed_) + ")";
  if (out > 0) text += "; skipped " + std::to_string(out) + " (" + counts(skipped_) + ")";
  return text;
}

void BuildReport::finish() {
  endLine();
  const std::string text = summary();
  if (!quiet_ && !text.empty()) out_ << "index_builder: " << text << "\n";
}

void BuildReport::endLine() {
  if (!lineOpen_) return;
  out_ << "\n";
  lineOpen_ = false;
}

}  // namespace vela
