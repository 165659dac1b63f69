/// @file renderer_handoff.h
/// @brief Starting the page renderer "getfilelist.exe" on a written result,
/// without a shell: either as a child the run waits for (first page of a
/// large result) or in place of the run.

#ifndef SEARCHRUN_OUTPUT_RENDERER_HANDOFF_H
#define SEARCHRUN_OUTPUT_RENDERER_HANDOFF_H

#include <functional>
#include <string>
#include <vector>

#include "system/child_process.h"

class WaitingRenderer;

// The renderer's command line after its name: the result's base name, the
// page size ("N" when the request gave none), the page ("N" likewise) and the
// answer format ("", "xml", "xml2", "xml3" or "wml").
struct GetFileListArguments {
  std::string base;
  std::string pageSize;
  std::string page;
  std::string format;
};

// Both forms write "getfilelist.exe B pageSize page format\n" into the report
// log, flush standard output (so nothing buffered is lost or written twice),
// and start the renderer from the working directory with the environment of
// the run plus an empty REQUEST_METHOD, so that it never reads a request of
// its own. Standard output and the working directory are inherited: what the
// renderer writes is the answer to the request.

// The exit status of a renderer child that could not be started.
constexpr int kRendererNotStarted = kChildNotStartedExitCode;

// The first pages of a result held in a memory file (`fd`) instead of the
// file `path`: a renderer waiting for its words, or the program service,
// is handed the bytes with them and reads them under that name, so that no
// file is made and removed for it; for a renderer started instead, the
// bytes are written to `path` first (which the caller removes afterwards,
// as it would have anyway).
struct HeldResultFile {
  int fd = -1;
  std::string path;
};

// What runRendererAndWait gives when a held file could neither be handed
// over nor written to its path: no renderer was started.
constexpr int kHeldFileNotWritten = -2;

// Runs "./getfilelist.exe" as a child and waits for it. Its arguments are
// base, pageSize and page, then format only when it is not empty (the words
// of "./getfilelist.exe B pageSize page format"). Returns the child's exit
// status, 128 + the signal number when a signal ended it, 127 when the
// program could not be started in the child, and -1 when no child could be
// made. A renderer still running after `limitMs` milliseconds (0: no limit)
// is killed (128 + SIGKILL). REQUEST_METHOD of this process is left as it
// was. `meanwhile`, when given, runs once the renderer has started and
// before the wait (not at all when it could not be started).
int runRendererAndWait(const GetFileListArguments& args, int limitMs = 0,
                       std::function<void()> meanwhile = {}, WaitingRenderer* waiting = nullptr,
                       const HeldResultFile* held = nullptr);

// A renderer started before its page is known, so that starting it and its
// reading of the installation's settings overlap the search: it waits for
// its command line on a socket, and leaves without writing a byte when it
// gets none (the run answered by itself, or ended).
class WaitingRenderer {
 public:
  // Starts "getfilelist.exe --await-arguments" (or its converting twin, as
  // the hand-over would choose) with the environment of the run plus
  // `extraEnv` ("NAME=value" each) and an empty REQUEST_METHOD. ready() is
  // false when it could not be started: the hand-over then starts one.
  explicit WaitingRenderer(const std::vector<std::string>& extraEnv);
  ~WaitingRenderer();  // one never used is let go and reaped
  WaitingRenderer(const WaitingRenderer&) = delete;
  WaitingRenderer& operator=(const WaitingRenderer&) = delete;

  bool ready() const { return pid_ > 0; }
  // Hands `words` (the command line after the program's name) over, with
  // the open file `givenFd` when it is not -1, runs `meanwhile` and waits at
  // most `limitMs` (0: no limit). The status as runRendererAndWait gives it;
  // -1 when the renderer could not take the words (it has ended): it wrote
  // nothing, `meanwhile` did not run, and another may be started.
  int render(const std::vector<std::string>& words, int limitMs,
             const std::function<void()>& meanwhile = {}, int givenFd = -1);

 private:
  pid_t pid_ = -1;
  int fd_ = -1;
};

// Whether the program service (system/child_process.h) is there to make
// the pages: a renderer started ahead of its page would then be wasted.
bool pagesByService();

// The page of `args` made by the program service and written to standard
// output, the same words and log line as execRenderer's: the status the
// renderer would have ended with; -1 when the service made none (nothing
// was written, execRenderer is the way then). runRendererAndWait asks the
// service likewise before it starts a renderer of its own.
int renderByService(const GetFileListArguments& args, bool withFormat);

// Replaces the process by "getfilelist.exe" (argument 0 "getfilelist.exe",
// then base, pageSize, page, and format only when `withFormat`, i.e. when the
// answer format option is above 0). Sets REQUEST_METHOD to "" in this process
// first. Returns only when the program could not be started: the value is
// the error number (errno) of the failed start; the start itself returned -1.
int execRenderer(const GetFileListArguments& args, bool withFormat);

// execRenderer's hand-over to a renderer that waits for it (same log line,
// same words): the status it ended with, as the process's own would be.
// -1 when it could not take the words: execRenderer is the way then.
int handOverToWaitingRenderer(WaitingRenderer& waiting, const GetFileListArguments& args,
                              bool withFormat);

#endif  // SEARCHRUN_OUTPUT_RENDERER_HANDOFF_H
