/// @file program_readers.cc
/// @brief The older binary office formats and RTF, read by the Debian
/// programs made for them (catdoc, xls2csv, catppt, unrtf), run as bounded
/// children on a file.

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "companions/extract/bounded_run.h"
#include "companions/extract/readers.h"
#include "system/tmpfile.h"

namespace extract {

namespace {

// The bytes as a file the program can open: a fresh, exclusively created
// file in the temporary directory, removed when done.
class ScratchCopy {
 public:
  bool make(std::string_view bytes) {
    const char* dir = getenv("TMPDIR");
    UniqueFd fd;
    if (!GetTempFilename(dir && *dir == '/' ? dir : "/tmp", "doc_extract.", path_, fd))
      return false;
    made_ = true;
    return writeAll(fd.get(), bytes.data(), bytes.size());
  }
  ~ScratchCopy() {
    if (made_) unlink(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  bool made_ = false;
};

// unrtf begins its text with "###" comment lines, a blank line and a rule
// of dashes.
std::string withoutUnrtfHeader(const std::string& out) {
  size_t pos = 0;
  while (pos < out.size() && (out.compare(pos, 3, "###") == 0 ||
                              out.compare(pos, 5, "-----") == 0 || out[pos] == '\n')) {
    const size_t nl = out.find('\n', pos);
    pos = nl == std::string::npos ? out.size() : nl + 1;
  }
  return out.substr(pos);
}

// The program where Debian installs it: the caller's PATH is not trusted
// to choose which program reads a document.
std::string installedProgram(const char* name) {
  for (const char* dir : {"/usr/bin/", "/bin/", "/usr/local/bin/"}) {
    const std::string path = std::string(dir) + name;
    if (access(path.c_str(), X_OK) == 0) return path;
  }
  return name;  // not found: the run reports it missing
}

}  // namespace

bool readWithProgram(const Input& input, Format format, ExtractedDoc& doc, std::string& error) {
  ScratchCopy copy;
  std::string path = input.path;
  if (path.empty()) {
    if (!copy.make(input.bytes)) return error = "cannot write a scratch copy", false;
    path = copy.path();
  }
  std::vector<std::string> argv;
  switch (format) {
    case Format::kDoc:
      argv = {"catdoc", "-d", "utf-8", "-w", "--", path};
      break;
    case Format::kXls:
      argv = {"xls2csv", "-d", "utf-8", "-q", "0", "-c", "\t", "--", path};
      break;
    case Format::kPpt:
      argv = {"catppt", "-d", "utf-8", "--", path};
      break;
    case Format::kRtf:
      argv = {"unrtf", "--text", "--nopict", path};
      break;
    default:
      return error = "no program for this format", false;
  }
  // This process already runs under the caller's CPU and memory limits,
  // which the program inherits; the deadline keeps a stuck one from using
  // up the caller's.
  RunBounds bounds;
  bounds.wallMs = 30000;
  bounds.maxOutput = size_t{64} << 20;
  const std::string program = argv[0];
  argv[0] = installedProgram(program.c_str());
  RunOutcome run = runBounded(argv, -1, bounds);
  if (run.how == RunOutcome::How::kOutputCap) {
    addNote(doc, "text cut short");
  } else if (run.how != RunOutcome::How::kExited || run.exitCode != 0) {
    error = program + (run.how == RunOutcome::How::kTimedOut ? " timed out" : " failed");
    if (run.how == RunOutcome::How::kExited && run.exitCode == kNotExecutedExitCode)
      error = program + " is not installed";
    return false;
  }
  doc.text = format == Format::kRtf ? withoutUnrtfHeader(run.out) : std::move(run.out);
  return true;
}

}  // namespace extract
