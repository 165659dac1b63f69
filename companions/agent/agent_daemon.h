/// @file agent_daemon.h
/// @brief The job process that answers each request of the host agent, so
/// that the daemon's own threads only read, wait and write.

#ifndef SEARCHRUN_COMPANIONS_AGENT_AGENT_DAEMON_H
#define SEARCHRUN_COMPANIONS_AGENT_AGENT_DAEMON_H

#include <cstddef>
#include <string>

namespace agent {

// The daemon's name in its log lines.
constexpr const char* kDaemonName = "search_agent";

struct JobSettings {
  std::string program;         // the job program (absolute path)
  int timeLimitSeconds = 100;  // wall-clock limit of one job
  size_t maxAnswerBytes = 64u << 20;
  // The daemon serves only the hosts of its allow list: their requests may
  // name the user they admitted (setNamedUsersTrusted).
  bool namedUsersTrusted = false;
};

// The answer to one whole request: an unknown command is refused at once;
// the others run the job program with the request on its standard input
// and its standard output as the answer. A job that does not end by itself
// with status 0 and an answer of 1 to maxAnswerBytes bytes is answered
// with kAgentJobFailed and logged.
std::string answerWithJob(const JobSettings& settings, const std::string& request);

}  // namespace agent

#endif  // SEARCHRUN_COMPANIONS_AGENT_AGENT_DAEMON_H
