/// @file process_runner.cc
/// @brief Starting external programs without a shell, and decoding their end.

#include "search/process_runner.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "system/child_process.h"
#include "system/secure_file.h"

namespace {

using Streams = ChildProgram::Streams;

enum class Outcome { kWaited, kRefused, kNoChild, kTimedOut };

int g_runLimitMs = kDefaultProgramTimeLimit * 1000;

struct RunResult {
  Outcome outcome;
  int status;  // raw wait status when kWaited
};

bool programOf(const char* cmd, Streams streams, int outFd, ChildProgram& program) {
  int count = 0;
  if (GetArgvFromCmd(cmd, program.argv, count) == 0 || count > kMaxArgvWords) return false;
  program.streams = streams;
  program.outFd = outFd;
  program.limitMs = g_runLimitMs;
  return true;
}

RunResult run(const char* cmd, Streams streams, int outFd = -1) {
  ChildProgram program;
  if (!programOf(cmd, streams, outFd, program)) return {Outcome::kRefused, -1};
  const ChildOutcome outcome = runChildProgram(program);
  switch (outcome.how) {
    case ChildOutcome::How::kEnded:
    case ChildOutcome::How::kWaitFailed:
      return {Outcome::kWaited, outcome.rawStatus};
    case ChildOutcome::How::kTimedOut:
      return {Outcome::kTimedOut, outcome.rawStatus};
    case ChildOutcome::How::kNoChild:
      break;
  }
  return {Outcome::kNoChild, -1};
}

bool tooLong(const char* cmd) {
  return cmd != nullptr && std::strlen(cmd) > kMaxCommandLine;
}

// The exit code of a normally ended run, or kExecFailed.
int exitCodeOrFailure(int status) {
  int code = 0;
  if (GetExitCode(status, code) != 0 || code == kExecReservedExitCode) return kExecFailed;
  return code;
}

// True when the status says that the program never ran.
bool notStarted(int status) {
  int code = 0;
  if (status == -1 || status == kExecNotFoundExitCode) return true;
  return GetExitCode(status, code) == 0 && code == kExecNotFoundExitCode;
}

void logCommand(FILE* log, const char* cmd) {
  if (log == nullptr) return;
  std::fprintf(log, "cmd:<%s>\n", cmd ? cmd : "");
  std::fflush(log);
}

// Opens a file for reading, retrying while the system reports a passing
// condition. -1 with errno set when it cannot be opened.
int openForReading(const char* path) {
  constexpr int kAttempts = 10;
  const timespec pause{0, 100 * 1000 * 1000};
  for (int attempt = 1;; ++attempt) {
    UniqueFd fd = openRegularFile(path);
    if (fd) return fd.release();
    const bool passing = errno == EINTR || errno == EAGAIN || errno == ETIMEDOUT;
    if (!passing || attempt == kAttempts) return -1;
    nanosleep(&pause, nullptr);
  }
}

// True for an empty file whose data were last changed before its status:
// markResultUnwritten made it so, and every write, cut (even of an empty
// file) or replacement since would have set both times alike.
bool leftAsClaimed(int fd) {
  struct stat st;
  if (fstat(fd, &st) != 0 || st.st_size != 0) return false;
  return st.st_mtim.tv_sec < st.st_ctim.tv_sec ||
         (st.st_mtim.tv_sec == st.st_ctim.tv_sec && st.st_mtim.tv_nsec < st.st_ctim.tv_nsec);
}

}  // namespace

int GetArgvFromCmd(const char* cmd, CmdArgv& argv, int& count) {
  argv.clear();
  count = 0;
  if (cmd == nullptr) return 0;
  const char* p = cmd;
  for (;;) {
    while (*p == ' ')
      ++p;
    if (*p == '\0') break;
    char stop = ' ';
    if (*p == '"' || *p == '\'') stop = *p++;
    const char* start = p;
    while (*p != '\0' && *p != stop)
      ++p;
    if (count < kMaxArgvWords) argv.emplace_back(start, static_cast<size_t>(p - start));
    ++count;
    if (*p == stop) ++p;
  }
  return count;
}

int FreeArgvOfCmd(CmdArgv& argv) {
  argv.clear();
  return 0;
}

int GetExitCode(int status, int& code) {
  const int low7 = status & 0x7F;
  if (low7 == 0) {
    code = (status >> 8) & 0xFF;
    return 0;
  }
  if ((status & 0xFF) != 0x7F) {
    code = low7;
    return 1;
  }
  code = (status >> 8) & 0xFF;
  return 2;
}

void setProgramTimeLimit(int seconds) {
  g_runLimitMs = seconds > 0 ? seconds * 1000 : kDefaultProgramTimeLimit * 1000;
}

void resetSearchRunState() {
  setProgramTimeLimit(0);
}

bool programOfCommand(const char* cmd, ChildProgram& program) {
  return !tooLong(cmd) && programOf(cmd, Streams::kQuiet, -1, program);
}

int TS_system(const char* cmd) {
  if (tooLong(cmd)) return -1;
  return run(cmd, Streams::kQuiet).status;
}

FILE* ExecuteCmd(const char* cmd, const char* resultPath, FILE* log) {
  logCommand(log, cmd);
  const int status = TS_system(cmd);
  const char* failure = nullptr;
  if (notStarted(status)) {
    failure = "create process failed\n";
  } else if (exitCodeOrFailure(status) == kExecFailed) {
    // The result file exists even so: its scratch name was claimed by
    // creating it empty. Only the exit status tells a failed run from a
    // search without hits.
    failure = "command failed\n";
  }
  if (failure != nullptr) {
    if (log != nullptr) {
      std::fputs(failure, log);
      std::fflush(log);
    }
    return nullptr;
  }
  if (resultPath == nullptr) return nullptr;
  // An empty file the program wrote is a search without hits: that is how
  // engine programs put in place of ours answer one, and the reader says so
  // (kBinoutNoHits). The claim as it was made is no answer at all.
  const bool inMemory = scratch::inMemory(resultPath);
  FILE* result = scratch::open(resultPath);
  if (inMemory ? result == nullptr : result != nullptr && leftAsClaimed(fileno(result))) {
    if (result != nullptr) std::fclose(result);
    if (log != nullptr) {
      std::fputs("command wrote no result\n", log);
      std::fflush(log);
    }
    return nullptr;
  }
  return result;
}

int executed_wait(const char* cmd) {
  if (tooLong(cmd)) return kExecFailed;
  const RunResult result = run(cmd, Streams::kQuiet);
  if (result.outcome == Outcome::kNoChild) return kExecNoChild;
  if (result.outcome == Outcome::kRefused) return kExecFailed;
  return exitCodeOrFailure(result.status);
}

int executed_wait_with_high_priority(const char* cmd) {
  return executed_wait(cmd);
}

int executed_wait_with_priority_setting(const char* cmd, const char*, int) {
  return executed_wait(cmd);
}

int executed_wait_with_low_priority(const char* cmd, const char*) {
  return exitCodeOrFailure(TS_system(cmd));
}

int executed_ecgi(const char* cmd) {
  return run(cmd, Streams::kInherit).status;
}

int getExecResultFromStdOut(const char* cmd, const char* outPath) {
  if (outPath == nullptr) return kExecNoFile;
  // The name was claimed (created empty) by the caller; nothing but a regular
  // file of that name is ever written.
  UniqueFd fd = openRegularForRewrite(outPath);
  if (!fd) return kExecNoFile;
  const RunResult result = run(cmd, Streams::kToFd, fd.get());
  fd.reset();
  if (result.outcome == Outcome::kNoChild) return kExecNoChild;
  if (result.outcome != Outcome::kWaited) return kExecFailed;
  const int check = openForReading(outPath);
  if (check < 0) return kExecFailed;
  close(check);
  return 0;
}

int getExecResultFromFile(const char* cmd, std::string& result, const char* resultPath, FILE* log) {
  logCommand(log, cmd);
  TS_system(cmd);
  UniqueFd fd = resultPath ? openRegularFile(resultPath) : UniqueFd();
  if (!fd) return kExecNoFile;
  std::string read;
  readAll(fd.get(), read, kMaxResultBytes);
  result += read;
  return result.empty() ? kExecEmptyResult : 0;
}
