/// @file agent_daemon.h
/// @brief The socket side of the host agent: which bytes make a request,
/// and the job process that answers each one, so that the daemon's own
/// threads only read, wait and write.

#ifndef SEARCHRUN_COMPANIONS_AGENT_AGENT_DAEMON_H
#define SEARCHRUN_COMPANIONS_AGENT_AGENT_DAEMON_H

#include <cstddef>
#include <string>
#include <string_view>

#include "companions/serve/socket_server.h"

namespace agent {

// The daemon's name in its log lines.
constexpr const char* kDaemonName = "search_agent";

// A request is whole at its end mark, which must be its last bytes and
// must come within the cap of its command (agent_wire.h). Text that names
// no command word early enough is no request.
serve::Framing frameRequest(std::string_view bytes, size_t fresh);

struct JobSettings {
  std::string program;         // the job program (absolute path)
  int timeLimitSeconds = 100;  // wall-clock limit of one job
  size_t maxAnswerBytes = 64u << 20;
};

// The answer to one whole request: an unknown command is refused at once;
// the others run the job program with the request on its standard input
// and its standard output as the answer. A job that does not end by itself
// with status 0 and an answer of 1 to maxAnswerBytes bytes is answered
// with kAgentJobFailed and logged.
std::string answerWithJob(const JobSettings& settings, const std::string& request);

}  // namespace agent

#endif  // SEARCHRUN_COMPANIONS_AGENT_AGENT_DAEMON_H
