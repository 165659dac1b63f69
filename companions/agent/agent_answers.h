/// @file agent_answers.h
/// @brief The work of the host agent for one request of another host: the
/// search of this host's indexes, an index's description, related terms and
/// the details of records. Runs in a process of its own per request (the
/// local search keeps process-wide state), with the CGI directory of the
/// installation as its working directory.

#ifndef SEARCHRUN_COMPANIONS_AGENT_AGENT_ANSWERS_H
#define SEARCHRUN_COMPANIONS_AGENT_AGENT_ANSWERS_H

#include <string>
#include <string_view>

namespace agent {

// The answer to one whole request. A request this host will not serve (an
// unknown command, a malformed request, an index that is not one of its
// own, a search over its limits, a failed search) gets a "RETURN_CODE"
// answer (agent_wire.h gives the codes; a failed search job its own code).
// Every program it runs may take the installation's program time limit
// ("PROGRAM_TIME_LIMIT", system/run_limits.h).
std::string answerRequest(std::string_view request);

std::string answerSearch(std::string_view request);
std::string answerIndexInfo(std::string_view request);
std::string answerRelatedTerms(std::string_view request);
std::string answerRecordInfo(std::string_view request);
// The record view (search/remote_record_view.h), decided for the user the
// request names when named users are trusted, else for nobody (what
// everyone may read), as the searches of other hosts are.
std::string answerRecordView(std::string_view request);

// Whether a request's named user is taken at its word: only when the agent
// serves just the hosts of its allow list, which admitted that user
// themselves. Off by default.
void setNamedUsersTrusted(bool trusted);

}  // namespace agent

#endif  // SEARCHRUN_COMPANIONS_AGENT_AGENT_ANSWERS_H
