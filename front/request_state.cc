/// @file request_state.cc
/// @brief Process-wide objects of the request run.

#include "front/request_state.h"

#include <new>

#include "system/log.h"

#ifdef SEARCHRUN_OLDER_FRONT
#include "front/older_front.h"
#endif

CGIStringParser cgi_variable;
#ifndef SEARCHRUN_OLDER_FRONT
KestraneMsgTable cgi_msg_table;
KestraneMsgReport cgi_msg_report;
#endif
int pid = 0;
std::string strMultiIndexQuery;
char output_title[kMessageSize];
char output_message[kMessageSize];
int langFlag = -1;
FILE* g_fplog = nullptr;
FILE* g_fplog_running = nullptr;
int remote_index_not_found_count = 0;
int nExecuteIncIndxCount = 0;

namespace {
// The query of the message pages' search form.
std::string searchAgainQuery;
}  // namespace

void setSearchAgainQuery(std::string query) {
  searchAgainQuery = std::move(query);
#ifndef SEARCHRUN_OLDER_FRONT
  cgi_msg_report.setSearchForm(searchAgainForm(cgi_variable, searchAgainQuery));
#endif
}

#ifdef SEARCHRUN_OLDER_FRONT
// The threaded editions answer with their own plain pages.
int answerRunEnd(const RunEnd& end) {
  return olderAnswerRunEnd(end);
}
#else
int answerRunEnd(const RunEnd& end) {
  cgi_msg_table.getMessage(end.message.c_str(), output_message);
  cgi_msg_report.setAPIRetCode(end.apiCode ? end.apiCode : end.message.c_str());
  cgi_msg_report.setHttpStatus(messageHttpStatus(end.message.c_str(), end.exitStatus == kRefused));
  if (!end.omit.names.empty() || end.omit.indexIdsKept >= 0)
    cgi_msg_report.setSearchForm(searchAgainForm(cgi_variable, searchAgainQuery, end.omit));
  const char* value = end.value.c_str();
  switch (end.page) {
    case RunEnd::Page::kError:
      cgi_msg_report.outputContentType(stdout, CONTENT_TYPE_HTML, nullptr);
      cgi_msg_report.outputHtmlMessage(stdout, MSG_TYPE_ERROR, output_title, output_message,
                                       nullptr);
      break;
    case RunEnd::Page::kVariableNotFound:
      cgi_msg_report.outputCGIVarNotFound(output_title, output_message, kMessageSize, value,
                                          nullptr);
      break;
    case RunEnd::Page::kFileNotFound:
      cgi_msg_report.outputFileNotFound(output_title, output_message, kMessageSize, value, nullptr);
      break;
    case RunEnd::Page::kIndex:
      cgi_msg_report.outputIndexNotFound(output_title, output_message, kMessageSize, value,
                                         nullptr);
      break;
    case RunEnd::Page::kNumber:
      cgi_msg_report.outputNumberInfo(MSG_TYPE_ERROR, output_title, output_message, kMessageSize,
                                      end.number, nullptr);
      break;
  }
  std::fflush(stdout);
  return end.exitStatus;
}
#endif

void reportMessage(const char* number) {
  answerRunEnd(RunEnd::error(number, kResourceFailure));
}

int serveAndFinish(const std::function<int()>& serve) {
  int status;
  try {
    status = serve();
  } catch (const std::bad_alloc&) {
    status = answerRunEnd(RunEnd::error("0008", kResourceFailure));
  }
  std::fflush(stdout);
  if (g_fplog) {
    std::fclose(g_fplog);
    g_fplog = g_fplog_running = nullptr;
  }
  return status;
}

void markTime(const char* label) {
  if (g_fplog_running) logTimeInfo(g_fplog_running, label);
}
