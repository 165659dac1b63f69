/// @file older_run.cc
/// @brief The request flow of the threaded editions: the older front's
/// input, settings and messages, then the search, the merge and the end of
/// the run shared with the full edition.

#include <sys/time.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "access/sign_in.h"
#include "assemble/record_merge.h"
#include "assemble/related_terms.h"
#include "assemble/result_order.h"
#include "cgi/conversion_hooks.h"
#include "front/merge_request.h"
#include "front/multi_field_request.h"
#include "front/older_front.h"
#include "front/query_encoding.h"
#include "front/query_normalize.h"
#include "front/query_option.h"
#include "front/request_state.h"
#include "front/search_run.h"
#include "policy/local_search_filters.h"
#include "search/engine_exchange.h"
#include "system/child_process.h"
#include "system/log.h"
#include "system/run_deadline.h"
#include "system/run_limits.h"
#include "system/scratch_files.h"
#include "system/strings.h"
#include "system/version.h"
#ifndef SEARCHRUN_WITHOUT_CHARSET_ENGINE
#include "text/charset_encoding.h"
#endif
#include "text/jp_conv.h"

// A build property; the edition targets set it.
#ifndef SEARCHRUN_THREADED_VERSION_NO
#define SEARCHRUN_THREADED_VERSION_NO "0.0"
#endif

namespace {

constexpr const char* kRunTimeLogPath = "../logs/searchrun_time.log";
constexpr const char* kDbEncodePath = "../Db/DB_ENCODE";

using MaybeEnd = std::optional<RunEnd>;

struct OlderRun {
  timeval tvStart{};
  int searchNum = 1;
  VelaSearchListVector list;
  SearchMultiIndexVector clauses;  // a multi-field request's, one per list entry
  bool propertyMode = false;
  int runPropertySearchIndex = 0;
  RecordList result;
  LocalSearchFilters filters;
};

// A page of the message table; the run ends with `status`.
int messagePage(const char* code, int status) {
  return answerRunEnd(RunEnd::error(code, status));
}

// Plain lines as the answer (the cases the older front answers without a
// page); returns `status`.
int plainAnswer(const std::string& text, int status) {
  std::fputs("Content-type:text/html\n\n", stdout);
  std::fputs(text.c_str(), stdout);
  std::fflush(stdout);
  return status;
}

std::string workingDirectory() {
  char dir[PATH_MAX];
  return getcwd(dir, sizeof dir) ? dir : ".";
}

// The request text, rewritten, parsed into cgi_variable. A run end when
// there is none.
MaybeEnd readRequest() {
  std::string text;
  const OlderInput input = readOlderRequestText(text);
  if (input == OlderInput::kNoMemory) return RunEnd::error("0008", kResourceFailure);
  if (input != OlderInput::kOk) return RunEnd::error("0007", kResourceFailure);
  text = unwrapOlderRequest(std::move(text));
  // A class search names the class's indexes in the text itself, so that
  // the query URL of the result carries them to the follow-up pages.
  const OlderClassOutcome classSearch = rewriteOlderClassRequest(text, ini_option);
  if (classSearch.kind == OlderClassOutcome::kFailed)
    return RunEnd::error("0005", kResourceFailure);
  if (classSearch.kind == OlderClassOutcome::kNotFound) {
    // The server's own words are the message (no code of the table names it).
    return RunEnd::error(classSearch.message, kResourceFailure);
  }
  text = appendWmlIndexDatabase(std::move(text));
  cgi_variable.setSysLanuage(langFlag);
  const int count = cgi_variable.initialize(text.c_str());
  if (count == kCgiNoMemory) return RunEnd::error("0008", kResourceFailure);
  // A request without variables has nothing to search: one page ends it.
  if (count <= 0) return RunEnd::error("0007", kResourceFailure);
  return std::nullopt;
}

// The query as declared in "query_encoding" made local text, then the
// older rewrites.
void prepareQuery(OlderRun& run) {
#ifndef SEARCHRUN_WITHOUT_CHARSET_ENGINE
  if (const char* encoding = cgi_variable.findCgiVariableByName("query_encoding")) {
    std::string converted;
    if (queryOption.orgQuery[0] != '\0' &&
        transferCodeToLocalPage(queryOption.orgQuery, encoding, converted))
      std::snprintf(queryOption.orgQuery, sizeof queryOption.orgQuery, "%s", converted.c_str());
    queryOption.applyLocalQueryRules(langFlag);
  }
#endif
  gettimeofday(&run.tvStart, nullptr);
  if (queryOption.h2f_flag == 1) changeQuery_H2F(queryOption.orgQuery, langFlag);
  if (langFlag == 1) changeQuery_Space(queryOption.orgQuery, langFlag);
  changeQuery_DBCS_contact_bool(queryOption.orgQuery, langFlag);
}

MaybeEnd openRunLog() {
  g_fplog = openRunTimeLog(kRunTimeLogPath, 0);
  g_fplog_running = g_fplog;
  if (!g_fplog) return RunEnd::error("0001", kResourceFailure);
  std::fprintf(g_fplog, "[%d]-QUERY_STRING <%s>\n", pid,
               blankControlCharacters(cgi_variable.getBackupQueryString()).c_str());
  std::fprintf(g_fplog, "[%d]-QUERY <%s>\n", pid,
               blankControlCharacters(queryOption.orgQuery).c_str());
  std::fflush(g_fplog);
  return std::nullopt;
}

// The "database" variables, within the settings' limit. The number is the
// plain answer when "search_no" names no selected index.
MaybeEnd selectIndexes(OlderRun& run, std::string& plain) {
  const char* searchNo = cgi_variable.findCgiVariableByName("search_no");
  if (!searchNo) return RunEnd::error("0006", kResourceFailure);
  run.searchNum = readSearchNum(searchNo);
  const int built = buildSearchMultiIndex(cgi_variable, ini_option, run.list, run.clauses,
                                          strMultiIndexQuery, queryOption.h2f_flag, langFlag);
  if (built == kMultiFieldRefused) return RunEnd::error("1004", kResourceFailure);
  run.propertyMode = built > 0;
  queryOption.dbNum = run.propertyMode ? built : buildDatabaseList(cgi_variable, run.list);
  if (queryOption.dbNum > ini_option.max_selected_search_index)
    return RunEnd::error("1035", kResourceFailure);
  if (queryOption.dbNum > 0 && run.searchNum > queryOption.dbNum) {
    plain = "searchNum:" + std::to_string(run.searchNum) +
            "<br>queryOption.dbNum:" + std::to_string(queryOption.dbNum) + "<br>";
    return RunEnd::error("", kResourceFailure);
  }
  int fileNameIndexCount = 0;
  for (const velaSearchList& e : run.list)
    fileNameIndexCount += e.dbType != "db";
  run.runPropertySearchIndex = filePropertySearchState(
      queryOption.dbNum, queryOption.file_name_search, run.searchNum, run.list, fileNameIndexCount);
  if (run.propertyMode) run.runPropertySearchIndex = -2;
  if (queryOption.sbfRandomNo > 0)
    applySearchByFieldFile(searchByFieldPath(queryOption.sbfRandomNo), run.list);
  return std::nullopt;
}

MaybeEnd searchAndMerge(OlderRun& run) {
  markTime("b-function 'getRecordList'");
  MergeRequest request = mergeRequestOf(queryOption, 0, g_fplog_running);
  // Nobody signs in to these editions: a protected index shows them what
  // everyone may read, as it shows a visitor nobody vouches for. Property
  // and stored-field searches need their filters as in the full edition.
  AccessIdentity anonymous;
  anonymous.user = kBuiltInUser;
  run.filters.arm(request.search, anonymous);
  const MergeOutcome merged = searchSelectedIndexes(
      run.list, run.propertyMode ? &run.clauses : nullptr, run.searchNum, request, run.result);
  if (merged.message) return RunEnd::error(merged.message, kMergeExitStatus);
  markTime("a-function 'getRecordList'");
  if (run.result.empty()) return std::nullopt;
  // The related-term jobs run in worker threads, all at once.
  if (queryOption.relterm_output == 1) {
    markTime("b-function 'getReltermString'");
    getReltermString(run.result.dbMap, g_fplog_running, ini_option.get_rel_term_time, nullptr,
                     true);
    markTime("a-function 'getReltermString'");
  }
  const int mode =
      resultSortMode(queryOption.sortField, run.result.dbCount(), nExecuteIncIndxCount);
  if (mode >= 0) {
    markTime("b-function 'sortByRec'");
    sortByRec(run.result.recMap.data(), 0, static_cast<int>(run.result.recordCount()) - 1, mode);
    markTime("a-function 'sortByRec'");
  }
  return std::nullopt;
}

int serveRequest(const RunLimits& limits) {
  langFlag = verifyLanguage(kDbEncodePath);
  if (langFlag < 0) return plainAnswer(std::string("[") + kDbEncodePath + "]<br>", 1);
  if (!msg_table.initialize("default")) {
    return plainAnswer(
        "Error[0000] Cannot open file \"ts_msg_table_default.cfg\" under velacgi directory!", 1);
  }
  if (const char* code = ini_option.initialize(workingDirectory()))
    return messagePage(code, kResourceFailure);
  if (MaybeEnd end = readRequest()) return answerRunEnd(*end);
  queryOption.wholeCGIString = cgi_variable.getBackupQueryString();
  queryOption.initialize(cgi_variable, langFlag);
  if (const char* failure = applyOlderQueryOptions(cgi_variable, langFlag, queryOption))
    return plainAnswer(failure, 255);
  if (MaybeEnd end = refuseOversizedRequest(queryOption.wholeCGIString, limits))
    return answerRunEnd(*end);
  OlderRun run;
  prepareQuery(run);
  if (MaybeEnd end = openRunLog()) return answerRunEnd(*end);
  std::string plain;
  if (MaybeEnd end = selectIndexes(run, plain))
    return plain.empty() ? answerRunEnd(*end) : plainAnswer(plain, end->exitStatus);
  if (MaybeEnd end = searchAndMerge(run)) return answerRunEnd(*end);

  RunOutput output;
  output.list = &run.list;
  output.result = &run.result;
  output.propertyMode = run.propertyMode;
  output.searchNum = run.searchNum;
  output.runPropertySearchIndex = run.runPropertySearchIndex;
  output.tvStart = run.tvStart;
  const char* group = cgi_variable.findCgiVariableByName("group");
  output.group = group ? group : "";
  output.resultsMaxBytes = limits.resultsMaxBytes;
  return writeResultAndHandOver(output);
}

}  // namespace

#ifdef SEARCHRUN_WITHOUT_DEBUG_LOG
// This edition has no debug log: reports go nowhere, and the debug log's
// writer is never linked in.
void ReportLog(const char* /*format*/, ...) {}
#endif

int searchrunOlderMain(int argc, char** argv) {
  pid = static_cast<int>(getpid());
  setLogProcessId(pid);
  endChildrenWithRun();
  watchRunClient(STDOUT_FILENO);
  const RunLimits limits = readRunLimits(kSearchOptionPath);
  setRunDeadline(limits.runTimeLimit * 1000LL);
#ifndef SEARCHRUN_WITHOUT_VERSION_REPORT
  // The threaded editions' own block: their version, no build number.
  if (isVersionRequest(argc, argv)) {
    std::printf("\nVERSION_NO: %s\nBUILD_DATE: %s, %s\n\n", SEARCHRUN_THREADED_VERSION_NO, __DATE__,
                __TIME__);
    std::fflush(stdout);
    return 0;
  }
#else
  (void)argc, (void)argv;
#endif
  setLogForm(LogForm::kThreaded);
#ifndef SEARCHRUN_WITHOUT_DEBUG_LOG
  SetLogFileName("searchrun.log");
#endif
  initRunInfo();
#ifndef SEARCHRUN_WITHOUT_CHARSET_ENGINE
  setLocalPageConverter(charEncodingConverter);
#endif
  setHalfWidthKanaWidener(widenJPQueryKana);
  EngineExchange engines;  // as the newer front: no process per engine run
  if (engines.usable()) {
    setProgramService(&engines);
    // Their scratch files then travel with the runs instead of lying on disk.
    scratch::keepInMemory(true);
  }
  const int status = serveAndFinish([&limits] { return serveRequest(limits); });
  setProgramService(nullptr);
  return status;
}
