/// @file request_state.h
/// @brief The process-wide objects of one request run, shared by the request
/// flow and the stages it calls, and the one way a stage stops a request.

#ifndef SEARCHRUN_FRONT_REQUEST_STATE_H
#define SEARCHRUN_FRONT_REQUEST_STATE_H

#include <cstdio>
#include <string>

#include "cgi/cgi_string_parser.h"
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

// The standard error answer on standard output: message `number` into
// output_message, API code `apiCode` (or `number` when null), the HTML
// header and the error page titled output_title. The caller ends the run.
void reportMessage(const char* number, const char* apiCode = nullptr);

// Writes a timing marker into the run-time log; nothing before it is open.
void markTime(const char* label);

#endif  // SEARCHRUN_FRONT_REQUEST_STATE_H
