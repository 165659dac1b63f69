/// @file extract_client.cc
/// @brief doc_extract as a bounded child, its failures as reasons.

#include "companions/extract/extract_client.h"

#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cctype>

#include "companions/extract/bounded_run.h"

namespace extract {

namespace {

std::string firstLineOf(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  if (line.size() > 200) line.resize(200);
  return line;
}

std::string reasonOf(const RunOutcome& run, const ExtractLimits& limits) {
  using How = RunOutcome::How;
  switch (run.how) {
    case How::kNotStarted:
      return "could not start the document reader";
    case How::kTimedOut:
      return "timed out after " + std::to_string(limits.wallMs / 1000) + " s";
    case How::kOutputCap:
      return "text over " + std::to_string(limits.maxRecordBytes) + " bytes";
    case How::kSignalled:
      if (run.signal == SIGXCPU || run.signal == SIGKILL)
        return "CPU time over " + std::to_string(limits.cpuSeconds) + " s";
      return "document reader ended by signal " + std::to_string(run.signal);
    case How::kExited:
      break;
  }
  if (run.exitCode == kNotExecutedExitCode) return "document reader not found";
  const std::string said = firstLineOf(run.err);
  // An allocation refused at the address-space limit ends the reader with
  // a failure of its own (or std::bad_alloc).
  if (said.find("bad_alloc") != std::string::npos || said.find("memory") != std::string::npos)
    return "memory over " + std::to_string(limits.memoryBytes >> 20) + " MiB";
  return said.empty() ? "document reader failed (status " + std::to_string(run.exitCode) + ")"
                      : said;
}

}  // namespace

namespace {

ExtractResult runReader(const std::vector<std::string>& argv, int inFd,
                        const ExtractLimits& limits) {
  RunBounds bounds;
  bounds.cpuSeconds = limits.cpuSeconds;
  bounds.addressBytes = limits.memoryBytes;
  bounds.wallMs = limits.wallMs;
  bounds.maxOutput = limits.maxRecordBytes;
  const RunOutcome run = runBounded(argv, inFd, bounds);
  ExtractResult result;
  if (run.how != RunOutcome::How::kExited || run.exitCode != 0) {
    result.reason = reasonOf(run, limits);
    return result;
  }
  std::string error;
  if (!decodeRecord(run.out, result.doc, error)) {
    result.reason = "unreadable record: " + error;
    return result;
  }
  result.ok = true;
  return result;
}

}  // namespace

ExtractResult extractDocument(const std::string& program, const std::string& path,
                              const ExtractLimits& limits) {
  // "--" so that a file name beginning with "-" is never an option.
  return runReader({program, "--", path}, -1, limits);
}

ExtractResult extractBytes(const std::string& program, const std::string& name,
                           std::string_view bytes, const ExtractLimits& limits) {
  ExtractResult result;
  const int fd = memfd_create("document", MFD_CLOEXEC);
  if (fd < 0) {
    result.reason = "cannot hand the document over";
    return result;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  if (done == bytes.size() && lseek(fd, 0, SEEK_SET) == 0)
    result = runReader({program, "--name", name}, fd, limits);
  else
    result.reason = "cannot hand the document over";
  close(fd);
  return result;
}

bool extractorReads(const std::string& name) {
  static const char* const kExtensions[] = {"pdf", "docx", "xlsx", "pptx", "odt", "ods",
                                            "odp", "epub", "doc",  "xls",  "ppt", "rtf",
                                            "eml", "mbox", "gz",   "bz2",  "xz"};
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
  std::string ext = name.substr(dot + 1);
  for (char& c : ext)
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const char* known : kExtensions)
    if (ext == known) return true;
  return false;
}

}  // namespace extract
