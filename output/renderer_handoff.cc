/// @file renderer_handoff.cc
/// @brief Starting the page renderer with fork/exec, never through a shell.

#include "output/renderer_handoff.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "system/child_process.h"
#include "system/layout.h"
#include "system/log.h"

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

}  // namespace

int runRendererAndWait(const GetFileListArguments& args, int limitMs) {
  logCommand(args);
  ChildProgram program;
  program.argv = {convertsEveryPage() ? kConvertingRendererInWorkDir : kRendererInWorkDir,
                  args.base, args.pageSize, args.page};
  if (!args.format.empty()) program.argv.push_back(args.format);
  for (char* entry : rendererEnvironment()) {
    if (entry != nullptr) program.env.emplace_back(entry);
  }
  program.limitMs = limitMs;
  const ChildOutcome outcome = runChildProgram(program);
  if (outcome.how == ChildOutcome::How::kNoChild || outcome.how == ChildOutcome::How::kWaitFailed)
    return -1;
  const int status = outcome.rawStatus;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
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
