/// @file agent_job_main.cc
/// @brief Entry of search_agent_job, the process in which the host agent
/// answers one request: the request on standard input, the answer on
/// standard output, the CGI directory of the installation as the working
/// directory. A process per request keeps the local search's process-wide
/// state (settings caches, the query screen, the scratch directory) as it
/// is in a search of this host, and a crash or a hang to one request.

#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "companions/agent/agent_answers.h"
#include "companions/agent/agent_wire.h"
#include "companions/records/local_files.h"
#include "system/child_process.h"
#include "system/log.h"
#include "system/numbers.h"
#include "system/secure_file.h"

namespace {

// At the time limit the run ends as at SIGTERM: the programs it started end
// with it.
void onTimeLimit(int) {
  raise(SIGTERM);
}

}  // namespace

int main(int argc, char** argv) {
  // The daemon's threads block the signals that stop it; this process must
  // not inherit that.
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  endChildrenWithRun();
  int64_t timeLimit = 0;
  int64_t maxAnswer = 64 << 20;
  int64_t namedUsers = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (!(a == "--time-limit" && parseDecimal(argv[i + 1], 1, 3600, timeLimit)) &&
        !(a == "--max-answer" && parseDecimal(argv[i + 1], 1, INT64_MAX, maxAnswer)) &&
        !(a == "--named-users" && parseDecimal(argv[i + 1], 0, 1, namedUsers)))
      return 2;
  }
  agent::setNamedUsersTrusted(namedUsers == 1);
  if (timeLimit > 0) {
    signal(SIGALRM, onTimeLimit);
    alarm(static_cast<unsigned>(timeLimit));
  }
  SetLogFileName("search_agent.log");
  std::string request;
  if (!render::readPrefix(STDIN_FILENO, agent::kMaxSearchRequestBytes + 1, request)) return 1;
  std::string answer = request.size() > agent::kMaxSearchRequestBytes
                           ? agent::refusalAnswer(agent::kAgentBadRequest)
                           : agent::answerRequest(request);
  if (answer.size() > static_cast<uint64_t>(maxAnswer))
    answer = agent::refusalAnswer(agent::kAgentJobFailed);
  return writeAll(STDOUT_FILENO, answer) ? 0 : 1;
}
