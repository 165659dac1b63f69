/// @file request_state.h
/// @brief The process-wide objects of one request run, shared by the request
/// flow and the stages it calls, and the one way a stage stops a request.

#ifndef SEARCHRUN_FRONT_REQUEST_STATE_H
#define SEARCHRUN_FRONT_REQUEST_STATE_H

#include <cstdio>
#include <functional>
#include <string>
#include <utility>

#include "cgi/cgi_string_parser.h"
#include "front/search_again.h"
#include "output/msg_report.h"
#include "output/msg_table.h"

// Size of the title and message buffers of a message page.
constexpr size_t kMessageSize = 256;

// The request's variables, read once at the start of the run and kept until
// the process ends.
extern CGIStringParser cgi_variable;
extern KestraneMsgTable cgi_msg_table;
extern KestraneMsgReport cgi_msg_report;
extern int pid;
extern std::string strMultiIndexQuery;
extern char output_title[kMessageSize];
extern char output_message[kMessageSize];
extern int langFlag;
// The run-time log; both name the same stream once it is open (null before).
extern FILE* g_fplog;
extern FILE* g_fplog_running;
// Index uids whose remote host did not know them.
extern int remote_index_not_found_count;
// Incremental index parts searched.
extern int nExecuteIncIndxCount;

// Exit statuses of a run that ends with a message page: refused requests end
// normally, resource failures with 1.
constexpr int kRefused = 0;
constexpr int kResourceFailure = 1;

// How a run ends when it answers with a message page instead of the
// renderer's: which message, which page fills which tag, which exit status.
struct RunEnd {
  enum class Page {
    kError,             // the message as it stands
    kVariableNotFound,  // $$CGI_NAME$$ = value
    kFileNotFound,      // $$FILENAME$$ = value (what the file is, never its path)
    kIndex,             // $$UI_INDEX_NAME$$ = value (the index description)
    kNumber,            // $$NUMBER$$ = number
  };
  std::string message;
  int exitStatus = kResourceFailure;
  Page page = Page::kError;
  std::string value;
  int number = 0;
  // The API return code when it differs from the message number.
  const char* apiCode = nullptr;
  // What the page's search form leaves out of the request: the variable at
  // fault, so that searching again from the page does not refuse again.
  FormOmissions omit;

  static RunEnd error(std::string message, int exitStatus) {
    RunEnd end;
    end.message = std::move(message);
    end.exitStatus = exitStatus;
    return end;
  }
};

// The one place a run writes its message pages: message `end.message` into
// output_message with its API code, the HTML header with the message's HTTP
// status (messageHttpStatus) and the page titled output_title, whose search
// form leaves out end.omit, on standard output. Returns end.exitStatus.
int answerRunEnd(const RunEnd& end);

// The query the message pages' search form offers (as typed, in the page's
// code page): sets the form for the whole request.
void setSearchAgainQuery(std::string query);

// The standard error answer (RunEnd::error(number, ...)); kept for the
// stages that end the run with a plain message.
void reportMessage(const char* number);

// Runs `serve` (the request part of a run) and returns its exit status; a
// run out of memory answers with message "0008". Then the answer and the
// run-time log reach their files.
int serveAndFinish(const std::function<int()>& serve);

// Writes a timing marker into the run-time log; nothing before it is open.
void markTime(const char* label);

// A worker process serves runs one after another, and nothing one user's
// run leaves in the process may reach the next user's page or rights: every
// library's process-wide state goes back to the program's start. Called
// between runs, after the answer is out.
void resetRequestState();

#endif  // SEARCHRUN_FRONT_REQUEST_STATE_H
