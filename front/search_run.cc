/// @file search_run.cc
/// @brief The fixed order of steps of one request, and every way it ends.

#include "front/search_run.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "access/sign_in.h"
#include "assemble/filter_inclist.h"
#include "assemble/record_merge.h"
#include "assemble/result_order.h"
#include "cgi/cgi_codec.h"
#include "cgi/cgi_service.h"
#include "cgi/cgi_string_parser.h"
#include "cgi/conversion_hooks.h"
#include "front/query_exclude_check.h"
#include "front/query_normalize.h"
#include "front/query_option.h"
#include "front/remote_index_info.h"
#include "front/request_state.h"
#include "front/run_limits.h"
#include "search/process_runner.h"
#include "system/child_process.h"
#include "system/config.h"
#include "system/layout.h"
#include "system/log.h"
#include "system/numbers.h"
#include "system/strings.h"
#include "system/version.h"
#include "text/charset_encoding.h"
#include "text/jp_conv.h"

namespace {

constexpr const char* kMessageTablePath = "../setting/ts_cgi_msg_table.cfg";
constexpr const char* kRunTimeLogPath = "../logs/searchrun_time.log";
constexpr const char* kQueryCfgPath = "../setting/query.cfg";
// Pages name the files they could not write by what they are, never by path.
constexpr const char* kRunTimeLogLabel = "run-time log";

// Exit statuses: refused requests end normally, resource failures with 1.
constexpr int kRefused = 0;
constexpr int kResourceFailure = 1;

// Step 8: the user's permit; returns the exit status when the run must end.
// A valid key that came as a request variable goes to `keyFromRequest`.
bool admitUser(const char* user, int& exitStatus, std::string& keyFromRequest) {
  MyService cookies;
  const SignInResult signIn =
      checkSignIn(user, cgi_variable.findCgiVariableByName("ks_key"), cookies.cookieValue("ks_key"),
                  static_cast<unsigned>(systemGetUserLoginTimeOut()));
  const int result = signIn.result;
  if (result == 0) {
    if (signIn.keyFromRequest) keyFromRequest = signIn.key;
    return true;
  }
  reportMessage(result == -1 ? "3101" : result == -3 ? "3102" : "3100");
  exitStatus = kRefused;
  return false;
}

// Step 9: a query sent in a declared encoding becomes local text, and only
// then gets the rules of local text that reading the options left out.
// Returns the query as typed in the local code page when it was converted:
// the result page shows it, and the page knows only the local code page.
std::optional<std::string> convertDeclaredEncoding() {
  const char* encoding = cgi_variable.findCgiVariableByName("query_encoding");
  if (!encoding) return std::nullopt;
  std::optional<std::string> typed;
  std::string converted;
  if (queryOption.orgQuery[0] != '\0' &&
      transferCodeToLocalPage(queryOption.orgQuery, encoding, converted)) {
    std::snprintf(queryOption.orgQuery, sizeof queryOption.orgQuery, "%s", converted.c_str());
    typed = std::move(converted);
  }
  queryOption.applyLocalQueryRules(langFlag);
  return typed;
}

// Step 12: the run-time log; false after answering when it cannot be opened.
bool openRunLog(const RunLimits& limits) {
  g_fplog = openRunTimeLog(kRunTimeLogPath, limits.runTimeLogMaxBytes);
  g_fplog_running = g_fplog;
  if (g_fplog) return true;
  ReportLog("cannot open %s\n", kRunTimeLogPath);
  cgi_msg_table.getMessage("0001", output_message);
  cgi_msg_report.setAPIRetCode("0001");
  cgi_msg_report.outputFileNotFound(output_title, output_message, kMessageSize, kRunTimeLogLabel,
                                    nullptr);
  return false;
}

void logLine(const char* label, const char* text) {
  std::fprintf(g_fplog, "[%d]-%s <%s>\n", pid, label,
               blankControlCharacters(text ? text : "").c_str());
  std::fflush(g_fplog);
}

// The request as it may be kept: logs, result files and links never carry
// the permit key.
const char* requestWithoutKey(const char* raw) {
  static std::string kept;
  kept = queryStringWithout(raw ? raw : "", "ks_key");
  return kept.c_str();
}

// An installation without its system directory can find no index: that is
// a fault of the set-up, not a request that selects nothing.
bool configurationIsUsable() {
  const char* home = systemGetSystemHome();
  struct stat st;
  if (home != nullptr && stat(home, &st) == 0 && S_ISDIR(st.st_mode)) return true;
  ReportLog("SYSTEM_DIRECTORY of system_info.cfg is missing or no directory\n");
  return false;
}

// Step 26: sorts the merged hits ascending by their keys unless the merge
// order already is the answer (sort by "index" or "none", or by "score" when
// one index without an inc part was searched).
void orderResult(RecordList& result) {
  const int mode = resultSortMode(queryOption.sortField, result.dbCount(), nExecuteIncIndxCount);
  if (mode < 0) return;
  markTime("b-function 'sortByRec'");
  sortByRec(result.recMap.data(), 0, static_cast<int>(result.recordCount()) - 1, mode);
  markTime("a-function 'sortByRec'");
}

// The superseded-record filter every local search applies.
CIncListRecordFilter g_incListFilter;

// What the searches of the indexes need of the request, handed down.
MergeRequest mergeRequestOf(queryOptionTag& options) {
  MergeRequest request;
  SearchRequest& search = request.search;
  search.fgMatchMode = options.fgMatchMode;
  search.fgChinese = options.fgChinese;
  search.fgThesaurus = options.fgThesaurus;
  search.sortField = options.sortField;
  search.beginFile = options.beginFile;
  search.endFile = options.endFile;
  search.beginTime = options.beginTime;
  search.endTime = options.endTime;
  search.searchMode = options.file_name_search;
  search.runLog = g_fplog_running;
  search.screen = screenQueryTermFile;
  search.incList = &g_incListFilter;
  request.dbNum = options.dbNum;
  request.remoteIndexNotFound = remote_index_not_found_count;
  request.orgQuery = options.orgQuery;
  request.retQuery = options.retQuery;
  request.addRetQuery = addRetQuery;
  return request;
}

// The part of the run that needs the request; returns the exit status.
int serveRequest() {
  // Steps 2 to 6: language, request, options, answer format, messages, logs.
  langFlag = systemGetLanguage();
  cgi_variable.setSysLanuage(langFlag);
  cgi_variable.initialize();
  queryOption.wholeCGIString = requestWithoutKey(cgi_variable.getBackupQueryString());
  queryOption.initialize(langFlag);
  if (queryOption.xml_format == 1) cgi_msg_report.setXMLFlag(true);
  if (queryOption.api_version == 2 || queryOption.api_version == 3) {
    cgi_msg_report.setAPIFlag(true);
  }
  if (!cgi_msg_table.initialize(kMessageTablePath)) {
    // Pages still say what went wrong, in the installation's default words.
    cgi_msg_table.initializeBuiltIn();
  }
  cgi_msg_table.getMessage("2006", output_title);
  SetLogFileName("searchrun.log");
  initRunInfo();

  // Steps 7 and 8: admission.
  const char* user = cgi_variable.findCgiVariableByName("user");
  if (!user) {
    cgi_msg_table.getMessage("0006", output_message);
    cgi_msg_report.setAPIRetCode("0006");
    cgi_msg_report.outputCGIVarNotFound(output_title, output_message, kMessageSize, "owner",
                                        nullptr);
    return kRefused;
  }
  int exitStatus = kRefused;
  std::string keyFromRequest;
  if (!admitUser(user, exitStatus, keyFromRequest)) return exitStatus;

  // Steps 9 to 13.
  const std::optional<std::string> typedQuery = convertDeclaredEncoding();
  timeval tvStart{};
  gettimeofday(&tvStart, nullptr);
  normaliseQuery(queryOption.orgQuery, queryOption.h2f_flag, kQueryCfgPath);
  const RunLimits limits = readRunLimits(kSearchOptionPath);
  setProgramTimeLimit(limits.programTimeLimit);
  if (!openRunLog(limits)) return kResourceFailure;
  logLine("QUERY_STRING", queryOption.wholeCGIString);
  logLine("QUERY", queryOption.orgQuery);
  if (!configurationIsUsable()) {
    reportMessage("0009");
    return kResourceFailure;
  }
  // Each wildcard word costs a walk over the words of every index searched.
  if (countWildcardWords(queryOption.orgQuery, langFlag) > limits.maxWildcardTerms) {
    cgi_msg_table.getMessage("1070", output_message);
    cgi_msg_report.setAPIRetCode("1070");
    cgi_msg_report.outputNumberInfo(3, output_title, output_message, kMessageSize,
                                    limits.maxWildcardTerms, nullptr);
    return kRefused;
  }

  // Step 15. (Similar-document queries, step 14, join with their issue.)
  const int searchNum = readSearchNum(cgi_variable.findCgiVariableByName("search_no"));

  // Steps 16 to 18: the index list. The multi-field property search and the
  // class search join before the explicit list once they exist.
  VelaSearchListVector vecVelaSearchList;
  const bool propertyMode = false;
  const ExplicitIndexList explicitList =
      buildExplicitIndexList(cgi_variable, vecVelaSearchList, g_fplog, pid);
  if (explicitList.outOfMemory) {
    reportMessage("0008");
    return kResourceFailure;
  }
  queryOption.dbNum += explicitList.added;
  if (explicitList.duplicates > 0)
    ReportLog("%d index uids named an index already selected\n", explicitList.duplicates);

  // Steps 19 and 20: limits.
  if (!propertyMode) {
    const int limit = limits.maxSearchIndexCount;
    if (queryOption.dbNum > limit) {
      cgi_msg_table.getMessage("1035", output_message);
      cgi_msg_report.setAPIRetCode("1035");
      cgi_msg_report.outputNumberInfo(3, output_title, output_message, kMessageSize, limit,
                                      nullptr);
      return kRefused;
    }
  }
  if (queryOption.dbNum > 0 && searchNum > queryOption.dbNum) {
    reportMessage("1060");
    return kRefused;
  }

  // Steps 21 and 22.
  int run_property_search_index =
      filePropertySearchState(queryOption.dbNum, queryOption.file_name_search, searchNum,
                              vecVelaSearchList, explicitList.fileNameIndexCount);
  if (propertyMode) run_property_search_index = -2;
  if (queryOption.sbfRandomNo > 0) {
    applySearchByFieldFile(searchByFieldPath(queryOption.sbfRandomNo), vecVelaSearchList);
  }

  // Step 23: search every selected index and merge the hits.
  RecordList result;
  markTime("b-function 'getRecordList'");
  const MergeOutcome merged =
      getRecordList(vecVelaSearchList, searchNum, mergeRequestOf(queryOption), result);
  nExecuteIncIndxCount += merged.incSearches;
  if (merged.message) {
    if (merged.message == kMsgSearchFailed) {
      cgi_msg_table.getMessage(merged.message, output_message);
      cgi_msg_report.setAPIRetCode(merged.message);
      cgi_msg_report.outputIndexNotFound(output_title, output_message, kMessageSize,
                                         merged.failedIndex.c_str(), nullptr);
    } else {
      reportMessage(merged.message);
    }
    return kMergeExitStatus;
  }
  markTime("a-function 'getRecordList'");
  const bool noResult = result.empty();

  // Step 26 (related terms, step 25, join with their issue): the ordering.
  if (!noResult) orderResult(result);

  RunOutput output;
  output.list = &vecVelaSearchList;
  output.result = &result;
  output.propertyMode = propertyMode;
  output.searchNum = searchNum;
  output.runPropertySearchIndex = run_property_search_index;
  output.tvStart = tvStart;
  output.user = user;
  output.typedQuery = typedQuery;
  output.permitKeyFromRequest = keyFromRequest;
  output.programTimeLimitMs = limits.programTimeLimit * 1000;
  return writeResultAndHandOver(output);
}

}  // namespace

int readSearchNum(const char* value) {
  return value ? parseAtoi(value) : 1;
}

int filePropertySearchState(int dbNum, int fileNameSearch, int searchNum,
                            const VelaSearchListVector& list, int fileNameIndexCount) {
  int state = 0;
  ReportLog("queryOption.dbNum = [%d]\n", dbNum);
  ReportLog("queryOption.file_name_search = [%d]\n", fileNameSearch);
  if (dbNum > 0 && fileNameSearch >= 1 && fileNameSearch <= 7) {
    ReportLog("searchNum = [%d]\n", searchNum);
    ReportLog("SupportFileNameIndexCount = [%d]\n", fileNameIndexCount);
    if (searchNum != 0) {
      // searchNum lies in 1..dbNum here (checked before), but the list may
      // hold fewer entries than dbNum counts once other forms fill it.
      if (searchNum >= 1 && static_cast<size_t>(searchNum) <= list.size()) {
        const velaSearchList& entry = list[static_cast<size_t>(searchNum) - 1];
        ReportLog("vecVelaSearchList[searchNum-1].dbType = [%s]\n", entry.dbType.c_str());
        if (entry.dbType == "db") state = -1;
      }
    } else if (fileNameIndexCount == 0) {
      state = -1;
    }
  }
  ReportLog("run_property_search_index = [%d]\n", state);
  return state;
}

// The text services the request reading calls through seams.
static void installTextServices() {
  setLocalPageConverter(charEncodingConverter);
  setHalfWidthKanaWidener(widenJPQueryKana);
}

int searchrunMain(int argc, char** argv) {
  pid = static_cast<int>(getpid());
  setLogProcessId(pid);
  // When the web server gives up on the request, nothing the run started
  // goes on without it.
  endChildrenWithRun();
  verifyProgramVersion(argc, argv);
  installTextServices();
  int status;
  try {
    status = serveRequest();
  } catch (const std::bad_alloc&) {
    reportMessage("0008");
    status = kResourceFailure;
  }
  std::fflush(stdout);
  if (g_fplog) {
    std::fclose(g_fplog);
    g_fplog = g_fplog_running = nullptr;
  }
  return status;
}
