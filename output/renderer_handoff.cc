/// @file renderer_handoff.cc
/// @brief Starting the page renderer with fork/exec, never through a shell.

#include "output/renderer_handoff.h"

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "output/query_output.h"
#include "system/child_process.h"
#include "system/descriptor_passing.h"
#include "system/layout.h"
#include "system/log.h"
#include "system/secure_file.h"

extern char** environ;

namespace {

constexpr const char* kRendererName = "getfilelist.exe";
constexpr const char* kRendererInWorkDir = "./getfilelist.exe";
// The renderer's twin with the C library's converters: the static renderer
// would hand every page of an installation of another language over to it
// at once, so those pages go to it directly.
constexpr const char* kConvertingRendererName = "getfilelist_conv.exe";
constexpr const char* kConvertingRendererInWorkDir = "./getfilelist_conv.exe";

bool convertsEveryPage() {
  return systemGetLanguage() != kLangEN && access(kConvertingRendererName, X_OK) == 0;
}
constexpr const char* kEmptyRequestMethod = "REQUEST_METHOD=";
constexpr const char* kAwaitArguments = "--await-arguments";

void logCommand(const GetFileListArguments& args) {
  ReportLog("getfilelist.exe %s %s %s %s\n", args.base.c_str(), args.pageSize.c_str(),
            args.page.c_str(), args.format.c_str());
}

// argv for exec: argument 0, then the texts; the pointers live as long as
// args does.
std::vector<char*> makeArgv(const char* arg0, const GetFileListArguments& args, bool withFormat) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(arg0));
  for (const std::string* s : {&args.base, &args.pageSize, &args.page}) {
    argv.push_back(const_cast<char*>(s->c_str()));
  }
  if (withFormat) argv.push_back(const_cast<char*>(args.format.c_str()));
  argv.push_back(nullptr);
  return argv;
}

// The environment of this process with REQUEST_METHOD emptied. Built before
// fork so that the child only has to exec.
std::vector<char*> rendererEnvironment() {
  std::vector<char*> env;
  for (char** e = environ; e && *e; ++e) {
    if (std::strncmp(*e, kEmptyRequestMethod, std::strlen(kEmptyRequestMethod)) != 0) {
      env.push_back(*e);
    }
  }
  env.push_back(const_cast<char*>(kEmptyRequestMethod));
  env.push_back(nullptr);
  return env;
}

// The words after the program's name: base, page size and page, then the
// format when it goes on the command line.
std::vector<std::string> rendererWords(const GetFileListArguments& args, bool withFormat) {
  std::vector<std::string> words = {args.base, args.pageSize, args.page};
  if (withFormat) words.push_back(args.format);
  return words;
}

// A wait status as the exit status of a renderer run.
int renderedStatus(const ChildOutcome& outcome) {
  if (outcome.how == ChildOutcome::How::kNoChild || outcome.how == ChildOutcome::How::kWaitFailed)
    return -1;
  const int status = outcome.rawStatus;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

const char* rendererInWorkDir() {
  return convertsEveryPage() ? kConvertingRendererInWorkDir : kRendererInWorkDir;
}

std::vector<std::string> environmentTexts() {
  std::vector<std::string> texts;
  for (char* entry : rendererEnvironment()) {
    if (entry != nullptr) texts.emplace_back(entry);
  }
  return texts;
}

// The renderer as a child, for its words, with the environment of the run.
ChildProgram rendererProgram(std::vector<std::string> words) {
  ChildProgram program;
  program.argv = {rendererInWorkDir()};
  for (std::string& word : words)
    program.argv.push_back(std::move(word));
  program.env = environmentTexts();
  return program;
}

// The page made by the program service, written as the renderer would
// have written it; false when the service made none (nothing is written,
// and `workDone` says whether the program's work was done meanwhile).
// `givenFd` as runProgramForOutput takes it.
bool renderedByService(const ChildProgram& program, int& status, bool& workDone, int givenFd = -1) {
  ChildOutcome outcome;
  std::string page;
  if (!runProgramForOutput(program, outcome, page, workDone, givenFd)) return false;
  std::fwrite(page.data(), 1, page.size(), stdout);
  std::fflush(stdout);
  status = renderedStatus(outcome);
  return true;
}

// A renderer left without words leaves at once; one that does not is not
// waited for longer than this.
constexpr int kIdleRendererWaitMs = 2000;

}  // namespace

WaitingRenderer::WaitingRenderer(const std::vector<std::string>& extraEnv) {
  int pair[2];
  // A socket rather than a pipe: a renderer that has ended makes the
  // hand-over fail (MSG_NOSIGNAL), not end the run by SIGPIPE.
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) return;
  ChildProgram program;
  program.argv = {rendererInWorkDir(), kAwaitArguments};
  // The additions first: they are what a lookup of their names finds.
  program.env = extraEnv;
  for (std::string& entry : environmentTexts())
    program.env.push_back(std::move(entry));
  program.inFd = pair[1];
  ChildOutcome notStarted;
  pid_ = startChildProgram(program, notStarted);
  close(pair[1]);
  if (pid_ > 0) {
    fd_ = pair[0];
  } else {
    pid_ = -1;
    close(pair[0]);
  }
}

WaitingRenderer::~WaitingRenderer() {
  if (fd_ >= 0) close(fd_);
  if (pid_ > 0) awaitChildProgram(pid_, kIdleRendererWaitMs);
}

int WaitingRenderer::render(const std::vector<std::string>& words, int limitMs,
                            const std::function<void()>& meanwhile, int givenFd) {
  if (pid_ <= 0 || fd_ < 0) return -1;
  std::string bytes;
  for (const std::string& word : words) {
    bytes += word;
    bytes.push_back('\0');
  }
  // What the run wrote goes before the page.
  std::fflush(nullptr);
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = sent == 0 && givenFd >= 0
                          ? sendWithDescriptors(fd_, bytes.data(), bytes.size(), {givenFd})
                          : send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  close(fd_);
  fd_ = -1;
  const pid_t pid = pid_;
  pid_ = -1;
  // Cut short, the words were not taken: the renderer leaves without a
  // page, and the work waits for the one started instead.
  if (sent < bytes.size()) {
    awaitChildProgram(pid, kIdleRendererWaitMs);
    return -1;
  }
  return renderedStatus(awaitChildProgram(pid, limitMs, meanwhile));
}

int runRendererAndWait(const GetFileListArguments& args, int limitMs,
                       std::function<void()> meanwhile, WaitingRenderer* waiting,
                       const HeldResultFile* held) {
  logCommand(args);
  if (waiting != nullptr && waiting->ready()) {
    const int status = waiting->render(rendererWords(args, !args.format.empty()), limitMs,
                                       meanwhile, held != nullptr ? held->fd : -1);
    if (status >= 0) return status;
  }
  ChildProgram program = rendererProgram(rendererWords(args, !args.format.empty()));
  program.limitMs = limitMs;
  program.whileRunning = std::move(meanwhile);
  // The service is handed the held pages along with the words when they
  // fit, else it reads them from disk as a renderer would.
  int status = -1;
  bool workDone = false;
  if (held != nullptr && renderedByService(program, status, workDone, held->fd)) return status;
  if (held != nullptr && !copyFileExclusive(held->fd, held->path, kResultFileMode))
    return kHeldFileNotWritten;
  if (!workDone && renderedByService(program, status, workDone)) return status;
  if (workDone) program.whileRunning = nullptr;
  return renderedStatus(runChildProgram(program));
}

bool pagesByService() {
  return serviceTakesOutputOf(rendererInWorkDir());
}

int renderByService(const GetFileListArguments& args, bool withFormat) {
  int status = -1;
  bool workDone = false;
  if (!renderedByService(rendererProgram(rendererWords(args, withFormat)), status, workDone))
    return -1;
  logCommand(args);
  return status;
}

int handOverToWaitingRenderer(WaitingRenderer& waiting, const GetFileListArguments& args,
                              bool withFormat) {
  if (!waiting.ready()) return -1;
  logCommand(args);
  return waiting.render(rendererWords(args, withFormat), 0);
}

int execRenderer(const GetFileListArguments& args, bool withFormat) {
  logCommand(args);
  setenv("REQUEST_METHOD", "", 1);
  const char* renderer = convertsEveryPage() ? kConvertingRendererName : kRendererName;
  std::vector<char*> argv = makeArgv(renderer, args, withFormat);
  std::fflush(nullptr);
  execv(renderer, argv.data());
  return errno;
}
