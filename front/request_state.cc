/// @file request_state.cc
/// @brief Process-wide objects of the request run.

#include "front/request_state.h"

#include "system/log.h"

CGIStringParser cgi_variable;
KestraneMsgTable cgi_msg_table;
KestraneMsgReport cgi_msg_report;
int pid = 0;
std::string strMultiIndexQuery;
char output_title[kMessageSize];
char output_message[kMessageSize];
int langFlag = -1;
FILE* g_fplog = nullptr;
FILE* g_fplog_running = nullptr;
int remote_index_not_found_count = 0;
int nExecuteIncIndxCount = 0;

void reportMessage(const char* number, const char* apiCode) {
  cgi_msg_table.getMessage(number, output_message);
  cgi_msg_report.setAPIRetCode(apiCode ? apiCode : number);
  cgi_msg_report.outputContentType(stdout, 1, nullptr);
  cgi_msg_report.outputHtmlMessage(stdout, 3, output_title, output_message, nullptr);
  std::fflush(stdout);
}

void markTime(const char* label) {
  if (g_fplog_running) logTimeInfo(g_fplog_running, label);
}
