/// @file agent_daemon.cc
/// @brief Request framing and job processes of the host agent.

#include "companions/agent/agent_daemon.h"

#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "companions/agent/agent_wire.h"
#include "companions/serve/socket_server.h"
#include "system/child_process.h"
#include "system/delimiters.h"
#include "system/secure_file.h"

namespace agent {

namespace {

// The job gets this long beyond its own limit to end its programs itself.
constexpr int kJobGraceMs = 2000;

std::string jobFailed(const std::string& why) {
  serve::logLine(kDaemonName, "a job failed: " + why);
  return refusalAnswer(kAgentJobFailed);
}

std::string describe(const ChildOutcome& outcome) {
  switch (outcome.how) {
    case ChildOutcome::How::kTimedOut:
      return "killed at its time limit";
    case ChildOutcome::How::kNoChild:
      return "no process could be started";
    case ChildOutcome::How::kWaitFailed:
      return "could not be waited for";
    case ChildOutcome::How::kEnded:
      break;
  }
  const int raw = outcome.rawStatus;
  if (WIFSIGNALED(raw)) return "ended by signal " + std::to_string(WTERMSIG(raw));
  return "ended with status " + std::to_string(WEXITSTATUS(raw));
}

}  // namespace

std::string answerWithJob(const JobSettings& settings, const std::string& request) {
  std::string_view word;
  if (!commandWordOf(request, word) || !isAgentCommand(word))
    return refusalAnswer(kAgentBadRequest);
  // Memory files: nothing lands on a disk, and nothing is left behind.
  UniqueFd in(memfd_create("agent-request", MFD_CLOEXEC));
  UniqueFd out(memfd_create("agent-answer", MFD_CLOEXEC));
  if (!in || !out || !writeAll(in.get(), request) || lseek(in.get(), 0, SEEK_SET) != 0)
    return jobFailed("no memory file for the request");
  ChildProgram job;
  job.argv = {settings.program,
              "--time-limit",
              std::to_string(settings.timeLimitSeconds),
              "--max-answer",
              std::to_string(settings.maxAnswerBytes),
              "--named-users",
              settings.namedUsersTrusted ? "1" : "0"};
  job.streams = ChildProgram::Streams::kToFd;
  job.outFd = out.get();
  job.inFd = in.get();
  job.limitMs = settings.timeLimitSeconds * 1000 + kJobGraceMs;
  const ChildOutcome outcome = runChildProgram(job);
  if (outcome.how != ChildOutcome::How::kEnded || !WIFEXITED(outcome.rawStatus) ||
      WEXITSTATUS(outcome.rawStatus) != 0)
    return jobFailed(describe(outcome));
  struct stat st;
  if (fstat(out.get(), &st) != 0 || st.st_size <= 0 ||
      static_cast<uint64_t>(st.st_size) > settings.maxAnswerBytes)
    return jobFailed("no answer, or one too large");
  std::string answer(static_cast<size_t>(st.st_size), '\0');
  if (pread(out.get(), answer.data(), answer.size(), 0) != st.st_size)
    return jobFailed("its answer could not be read");
  return answer;
}

}  // namespace agent
