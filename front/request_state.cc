/// @file request_state.cc
/// @brief Process-wide objects of the request run.

#include "front/request_state.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "assemble/class_search.h"
#include "cgi/conversion_hooks.h"
#include "front/older_front.h"
#include "front/query_normalize.h"
#include "front/query_option.h"
#include "front/search_run.h"
#include "output/result_files.h"
#include "search/process_runner.h"
#include "system/child_process.h"
#include "system/kept_files.h"
#include "system/log.h"
#include "system/run_state.h"
#include "text/run_state.h"

#ifndef SEARCHRUN_OLDER_FRONT
#include "front/similar_keyword_output.h"
#include "policy/query_exclude.h"
#endif

// Weak: only the threaded editions hold their settings; resetting them must
// not link them into the others, where this is null.
[[gnu::weak]] void resetOlderSettings();

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

void resetRequestState() {
  // What the run wrote to its log reaches the file.
  if (g_fplog) std::fclose(g_fplog);
  g_fplog = g_fplog_running = nullptr;
  // The next run looks at the settings files afresh.
  endKeptFilesRun();
  endKeptFilesThreadRun();
  // The user's permit key went to the renderer through the environment.
  unsetenv(kPermitKeyVariable);
  // The run's engine service ended with it: nothing below may reach it.
  setProgramService(nullptr);
  // A claim the run did not end keeps no file of it open.
  forgetClaimedFiles();
#ifndef SEARCHRUN_OLDER_FRONT
  // The passes and checks remove their scratch results while the scratch
  // registry still holds them.
  dropSimilarKeywordPasses();
  forgetKeptRequest();
  cgi_msg_table = KestraneMsgTable();
  cgi_msg_report = KestraneMsgReport();
  resetPolicyRunState();
#endif
  if (resetOlderSettings != nullptr) resetOlderSettings();
  cgi_variable.freeMemory();
  cgi_variable.setSysLanuage(-1);
  pid = 0;
  std::string().swap(strMultiIndexQuery);
  std::memset(output_title, 0, sizeof output_title);
  std::memset(output_message, 0, sizeof output_message);
  langFlag = -1;
  remote_index_not_found_count = 0;
  nExecuteIncIndxCount = 0;
  std::string().swap(searchAgainQuery);
  queryOption = queryOptionTag();
  resetH2FUserTable();
  resetAssembleRunState();
  resetSearchRunState();
  resetCgiRunState();
  resetTextRunState();
  // Last: the libraries above may still remove scratch files and end
  // children through it.
  resetSystemRunState();
}
