/// @file search_run.cc
/// @brief The fixed order of steps of one request, and every way it ends.

#include "front/search_run.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <utility>

#include "access/cookie_permit.h"
#include "access/sign_in.h"
#include "assemble/class_search.h"
#include "assemble/record_merge.h"
#include "assemble/related_terms.h"
#include "assemble/result_order.h"
#include "cgi/cgi_codec.h"
#include "cgi/cgi_service.h"
#include "cgi/cgi_string_parser.h"
#include "cgi/conversion_hooks.h"
#include "front/merge_request.h"
#include "front/multi_field_request.h"
#include "front/query_normalize.h"
#include "front/query_option.h"
#include "front/remote_index_info.h"
#include "front/remote_similar_doc.h"
#include "front/request_state.h"
#include "front/search_again.h"
#include "front/similar_keyword_output.h"
#include "output/renderer_handoff.h"
#include "output/result_files.h"
#include "policy/local_search_filters.h"
#include "policy/query_exclude_check.h"
#include "policy/wildcard_words.h"
#include "search/engine_exchange.h"
#include "search/process_runner.h"
#include "search/related_term_tool.h"
#include "search/result_block.h"
#include "system/child_process.h"
#include "system/config.h"
#include "system/kept_files.h"
#include "system/layout.h"
#include "system/log.h"
#include "system/numbers.h"
#include "system/run_deadline.h"
#include "system/run_handoff.h"
#include "system/run_limits.h"
#include "system/scratch_files.h"
#include "system/strings.h"
#include "system/tmpfile.h"
#include "system/version.h"
#include "text/charset_encoding.h"
#include "text/jp_conv.h"
#include "text/similar_doc.h"

namespace {

constexpr const char* kMessageTablePath = "../setting/ts_cgi_msg_table.cfg";
constexpr const char* kRunTimeLogPath = "../logs/searchrun_time.log";
constexpr const char* kQueryCfgPath = "../setting/query.cfg";
// Pages name the files they could not write by what they are, never by path.
constexpr const char* kRunTimeLogLabel = "run-time log";

using MaybeEnd = std::optional<RunEnd>;

// What the steps of a run hand on to the later ones.
struct RunState {
  const char* user = nullptr;
  std::string keyFromRequest;
  std::optional<std::string> typedQuery;
  timeval tvStart{};
  RunLimits limits;
  int searchNum = 1;
  VelaSearchListVector list;
  SearchMultiIndexVector clauses;  // a multi-field request's, one per list entry
  bool propertyMode = false;
  int runPropertySearchIndex = 0;
  RecordList result;
  bool similarDocQuery = false;  // the query stands for a record's terms
  LocalSearchFilters filters{screenQueryTermFile};
  std::unique_ptr<WaitingRenderer> renderer;  // started once the search is sure to run
  ResultClaim claim;                          // made while the engines search
};

// The user, and the user's permit. A valid key that came as a
// request variable is kept for the renderer.
MaybeEnd admitUser(RunState& run) {
  run.user = cgi_variable.findCgiVariableByName("user");
  if (!run.user) {
    RunEnd end = RunEnd::error("0006", kRefused);
    end.page = RunEnd::Page::kVariableNotFound;
    end.value = "owner";
    return end;
  }
  MyService cookies;
  const SignInResult signIn = checkSignIn(
      run.user, cgi_variable.findCgiVariableByName("ks_key"), cookies.cookieValue("ks_key"),
      static_cast<unsigned>(systemGetUserLoginTimeOut()), std::getenv("REMOTE_ADDR"));
  if (signIn.result == 0) {
    if (signIn.keyFromRequest) run.keyFromRequest = signIn.key;
    return std::nullopt;
  }
  const int result = signIn.result;
  const char* code = result == PERMIT_ERR_KEY_INVALID   ? "3101"
                     : result == PERMIT_ERR_KEY_TIMEOUT ? "3102"
                     : result == kPermitBackedOff       ? "3103"
                                                        : "3100";
  return RunEnd::error(code, kRefused);
}

// A query sent in a declared encoding becomes local text, and only
// then gets the rules of local text that reading the options left out.
// Returns the query as typed in the local code page when it was converted:
// the result page shows it, and the page knows only the local code page.
// Characters the local code page cannot hold are named in `unholdable`:
// searched as the converter wrote them, they would find nothing, or the
// wrong thing, without a word.
std::optional<std::string> convertDeclaredEncoding(std::string& unholdable) {
  const char* encoding = cgi_variable.findCgiVariableByName("query_encoding");
  if (!encoding) return std::nullopt;
  std::optional<std::string> typed;
  std::string converted;
  if (queryOption.orgQuery[0] != '\0' &&
      transferCodeToLocalPage(queryOption.orgQuery, encoding, converted)) {
    unholdable = codePointNames(unholdableCharacters(queryOption.orgQuery, converted));
    std::snprintf(queryOption.orgQuery, sizeof queryOption.orgQuery, "%s", converted.c_str());
    typed = std::move(converted);
  }
  queryOption.applyLocalQueryRules(langFlag);
  return typed;
}

// The run-time log.
MaybeEnd openRunLog(const RunLimits& limits) {
  // Written while the run waits for the engine, not line by line.
  holdRunTimeLogLines(true);
  g_fplog = openRunTimeLog(kRunTimeLogPath, limits.runTimeLogMaxBytes);
  g_fplog_running = g_fplog;
  if (g_fplog) return std::nullopt;
  ReportLog("cannot open %s\n", kRunTimeLogPath);
  RunEnd end = RunEnd::error("0001", kResourceFailure);
  end.page = RunEnd::Page::kFileNotFound;
  end.value = kRunTimeLogLabel;
  return end;
}

void logLine(const char* label, const char* text) {
  std::fprintf(g_fplog, "[%d]-%s <%s>\n", pid, label,
               blankControlCharacters(text ? text : "").c_str());
  std::fflush(g_fplog);
}

// The request as it may be kept (queryOption.wholeCGIString points into
// it): logs, result files and links never carry the permit key.
std::string keptRequest;

const char* requestWithoutKey(const char* raw) {
  keptRequest = queryStringWithout(raw ? raw : "", "ks_key");
  return keptRequest.c_str();
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

// Sorts the merged hits ascending by their keys unless the merge
// order already is the answer (sort by "index" or "none", or by "score" when
// one index without an inc part was searched).
void orderResult(RecordList& result) {
  const int mode = resultSortMode(queryOption.sortField, result.dbCount(), nExecuteIncIndxCount);
  if (mode < 0) return;
  markTime("b-function 'sortByRec'");
  sortByRec(result.recMap.data(), 0, static_cast<int>(result.recordCount()) - 1, mode);
  markTime("a-function 'sortByRec'");
}

// Language, request, options, answer format, messages, logs.
void readRequest() {
  langFlag = systemGetLanguage();
  cgi_variable.setSysLanuage(langFlag);
  cgi_variable.initialize();
  queryOption.wholeCGIString = requestWithoutKey(cgi_variable.getBackupQueryString());
  queryOption.initialize(langFlag);
  if (queryOption.xml_format == 1) cgi_msg_report.setXMLFlag(true);
  if (queryOption.xml_format == kAnswerJsonFormat) cgi_msg_report.setJsonFlag(true);
  if (queryOption.api_version == 2 || queryOption.api_version == 3) {
    cgi_msg_report.setAPIFlag(true);
  }
  // Pages still say what went wrong when the table is missing, or older than
  // the program: the installation's default words fill what it lacks.
  cgi_msg_table.initialize(kMessageTablePath);
  cgi_msg_table.addMissingBuiltIn();
  cgi_msg_table.getMessage("2006", output_title);
  cgi_msg_report.setPageLanguage(pageLanguageCode(langFlag));
  cgi_msg_report.setPageCharset(pageCharsetName(langFlag));
  // The form shows the query as typed (typographic quotes and all), not as
  // rewritten for the engine; a declared encoding is converted later.
  const char* typed = cgi_variable.findCgiVariableByName("query");
  setSearchAgainQuery(typed && !cgi_variable.findCgiVariableByName("query_encoding")
                          ? std::string(typed, strnlen(typed, kQuerySize - 1))
                          : std::string(queryOption.orgQuery));
  SetLogFileName("searchrun.log");
  initRunInfo();
}

// A sort field or order the request names that no search knows is named
// on a page, not passed over: the user would take the order shown for the
// one asked for.
MaybeEnd refuseUnknownOrder() {
  const char* sort = cgi_variable.findCgiVariableByName("sort");
  const char* order = cgi_variable.findCgiVariableByName("order");
  const char* message = nullptr;
  const char* value = nullptr;
  if (sort && sortKeyKindOf(queryOption.sortField) == SortKeyKind::kNone) {
    message = "1079";
    value = sort;
  } else if (order && std::strcmp(queryOption.sortOrder, "asc") != 0 &&
             std::strcmp(queryOption.sortOrder, "desc") != 0) {
    message = "1080";
    value = order;
  }
  if (!message) return std::nullopt;
  RunEnd end = RunEnd::error(message, kRefused);
  end.page = RunEnd::Page::kVariableNotFound;  // the value goes where $$CGI_NAME$$ stands
  end.value = value;
  end.omit.names = {message[3] == '9' ? "sort" : "order"};
  return end;
}

// The query converted, normalised and checked; the run's limits and log;
// and what the query may cost.
MaybeEnd prepareQuery(RunState& run) {
  std::string unholdable;
  run.typedQuery = convertDeclaredEncoding(unholdable);
  // The form shows the query as typed, in the page's own code page.
  if (run.typedQuery) setSearchAgainQuery(*run.typedQuery);
  if (!unholdable.empty()) {
    RunEnd end = RunEnd::error("1081", kRefused);
    end.page = RunEnd::Page::kVariableNotFound;  // the characters go where $$CGI_NAME$$ stands
    end.value = unholdable;
    return end;
  }
  gettimeofday(&run.tvStart, nullptr);
  normaliseQuery(queryOption.orgQuery, queryOption.h2f_flag, kQueryCfgPath);
  // A search for nothing would only answer "no documents": ask for a query.
  // A date-range search needs none, nor does a multi-field search, whose
  // queries are its clauses'.
  if (queryOption.orgQuery[std::strspn(queryOption.orgQuery, " ")] == '\0' &&
      queryOption.file_name_search != kModeDateRange &&
      !cgi_variable.findCgiVariableByName(kMultiFieldCountVariable))
    return RunEnd::error("1071", kRefused);
  if (MaybeEnd end = refuseUnknownOrder()) return end;
  // A date window that cannot hold a document is named, not ignored.
  if (queryOption.dateWindowProblem != kDateWindowOk) {
    const char* message = queryOption.dateWindowProblem == kDateWindowBadBegin ? "1072"
                          : queryOption.dateWindowProblem == kDateWindowBadEnd ? "1073"
                                                                               : "1074";
    return RunEnd::error(message, kRefused);
  }
  run.limits = readRunLimits(kSearchOptionPath);
  setProgramTimeLimit(run.limits.programTimeLimit);
  setRunDeadline(run.limits.runTimeLimit * 1000LL);
  // Checked before the log: an oversized request is neither kept nor logged.
  if (MaybeEnd end = refuseOversizedRequest(queryOption.wholeCGIString, run.limits)) return end;
  if (MaybeEnd end = openRunLog(run.limits)) return end;
  logLine("QUERY_STRING", queryOption.wholeCGIString);
  logLine("QUERY", queryOption.orgQuery);
  if (!configurationIsUsable()) return RunEnd::error("0009", kResourceFailure);
  // Each wildcard word costs a walk over the words of every index searched.
  if (countWildcardWords(queryOption.orgQuery, langFlag) > run.limits.maxWildcardTerms) {
    RunEnd end = RunEnd::error("1070", kRefused);
    end.page = RunEnd::Page::kNumber;
    end.number = run.limits.maxWildcardTerms;
    return end;
  }
  return std::nullopt;
}

// What the class search needs of the request and the
// installation. The server is the one of this host.
ClassSearchRequest classSearchRequestOf(const RunState& run) {
  ClassSearchRequest request;
  request.className = cgi_variable.findCgiVariableByName("class_name");
  request.classUid = cgi_variable.findCgiVariableByName("class_uid");
  request.user = run.user;
  request.host = systemGetIPAddress();
  request.queryServerPort = systemGetQueryServerPort();
  request.interfacePort = systemGetInterfacePort();
  return request;
}

// The multi-field search, when the request is one. Its clauses'
// wildcard words cost what those of a query do.
MaybeEnd selectMultiFieldIndex(RunState& run) {
  markTime("b-function 'buildMultiPropertySearch'");
  const int built = buildMultiPropertySearch(cgi_variable, run.list, run.clauses,
                                             strMultiIndexQuery, queryOption.h2f_flag, langFlag);
  markTime("a-function 'buildMultiPropertySearch'");
  if (built == kMultiFieldRefused) {
    RunEnd end = RunEnd::error("0000", kResourceFailure);
    end.apiCode = "0049";
    return end;
  }
  if (built <= 0) return std::nullopt;
  run.propertyMode = true;
  queryOption.dbNum = built;
  if (countWildcardWords(strMultiIndexQuery.c_str(), langFlag) > run.limits.maxWildcardTerms) {
    RunEnd end = RunEnd::error("1070", kRefused);
    end.page = RunEnd::Page::kNumber;
    end.number = run.limits.maxWildcardTerms;
    return end;
  }
  return std::nullopt;
}

RunEnd tookTooLong(const RunLimits& limits) {
  RunEnd end = RunEnd::error("1075", kResourceFailure);
  end.page = RunEnd::Page::kNumber;
  end.number = limits.runTimeLimit;
  return end;
}

RunEnd tooManyIndexes(const RunLimits& limits) {
  RunEnd end = RunEnd::error("1035", kRefused);
  end.page = RunEnd::Page::kNumber;
  end.number = limits.maxSearchIndexCount;
  // The form searches as many as may be searched.
  end.omit.indexIdsKept = std::max(limits.maxSearchIndexCount, 0);
  return end;
}

// The indexes of a class, or else those named by
// "index_id".
MaybeEnd selectListedIndexes(RunState& run, int& fileNameIndexCount) {
  const ClassSearchOutcome classList =
      buildClassifiedSearch(classSearchRequestOf(run), class_search, run.list);
  if (classList.message) return RunEnd::error(classList.message, kResourceFailure);
  if (classList.added > 0) {
    queryOption.dbNum = static_cast<int>(run.list.size());
    fileNameIndexCount = classList.fileNameIndexCount;
    return std::nullopt;
  }
  const ExplicitIndexList explicitList =
      buildExplicitIndexList(cgi_variable, run.list, g_fplog, pid, run.limits.maxSearchIndexCount);
  if (explicitList.outOfMemory) return RunEnd::error("0008", kResourceFailure);
  if (explicitList.tooMany) return tooManyIndexes(run.limits);
  // Hosts that kept the run waiting past its deadline: nothing is searched.
  if (runMustEnd()) return tookTooLong(run.limits);
  queryOption.dbNum += explicitList.added;
  fileNameIndexCount = explicitList.fileNameIndexCount;
  // Indexes were chosen but none is here: say so, rather than that none
  // was chosen, and offer the form without them.
  if (queryOption.dbNum == 0 && explicitList.unknown > 0 && remote_index_not_found_count == 0) {
    RunEnd end = RunEnd::error("1078", kRefused);
    end.omit.names = {"index_id", "search_no"};
    return end;
  }
  if (explicitList.duplicates > 0)
    ReportLog("%d index uids named an index already selected\n", explicitList.duplicates);
  return std::nullopt;
}

// The indexes to search, within the limits.
MaybeEnd selectIndexes(RunState& run) {
  run.searchNum = readSearchNum(cgi_variable.findCgiVariableByName("search_no"));
  if (MaybeEnd end = selectMultiFieldIndex(run)) return end;
  int fileNameIndexCount = 0;
  if (!run.propertyMode) {
    if (MaybeEnd end = selectListedIndexes(run, fileNameIndexCount)) return end;
  }

  // The limit is on searches: an index named twice counts once.
  if (!run.propertyMode && distinctIndexCount(run.list) >
                               static_cast<size_t>(std::max(run.limits.maxSearchIndexCount, 0)))
    return tooManyIndexes(run.limits);
  if (queryOption.dbNum > 0 && run.searchNum > queryOption.dbNum) {
    RunEnd end = RunEnd::error("1060", kRefused);
    end.omit.names = {"search_no"};
    return end;
  }

  run.runPropertySearchIndex = filePropertySearchState(
      queryOption.dbNum, queryOption.file_name_search, run.searchNum, run.list, fileNameIndexCount);
  if (run.propertyMode) run.runPropertySearchIndex = -2;
  if (queryOption.sbfRandomNo > 0)
    applySearchByFieldFile(searchByFieldPath(queryOption.sbfRandomNo), run.list);
  return std::nullopt;
}

// Once the indexes are known, a similar-document link stands for
// the terms of its record, but only for a record of a selected index that
// the access filters let `who` see; any other marker is searched as the
// literal text it is (a phrase, so that no part of it becomes an operator
// or a word of its own), which no document holds.
void expandSimilarDocMarker(RunState& run, const AccessIdentity& who) {
  SimilarDocMarker marker;
  char* query = queryOption.orgQuery;
  const size_t size = sizeof queryOption.orgQuery;
  if (!parseSimilarDocMarker(std::string(query, strnlen(query, size)), marker)) return;
  if (similarDocRecordReadable(marker, run.list, who) && SimilarDocGetQueryString(query, size)) {
    run.similarDocQuery = true;
    logLine("SimilarDocQUERY", query);
    return;
  }
  std::string remoteTerms;
  if (remoteSimilarDocTerms(marker, run.list, who.user, size, remoteTerms)) {
    std::memcpy(query, remoteTerms.c_str(), remoteTerms.size() + 1);
    run.similarDocQuery = true;
    logLine("SimilarDocQUERY", query);
    return;
  }
  const std::string literal = "\"" + std::string(query) + "\"";
  if (literal.size() < size) std::memcpy(query, literal.c_str(), literal.size() + 1);
  logLine("SimilarDocQUERY refused", query);
}

AccessIdentity identityOf(const char* user) {
  AccessIdentity who;
  if (user) who.user = user;
  if (const char* domain = cgi_variable.findCgiVariableByName("domain")) who.domain = domain;
  return who;
}

// The merge request, with the query screen of the exclusion lists and the
// access filters, which show the run's user (admitted by admitUser) what the
// user may read.
MergeRequest newerMergeRequest(RunState& run) {
  MergeRequest request = mergeRequestOf(queryOption, remote_index_not_found_count, g_fplog_running);
  run.filters.arm(request.search, identityOf(run.user));
  return request;
}

// Searches every selected index and merges the hits, finds their related
// terms and orders them.
MaybeEnd searchAndMerge(RunState& run) {
  if (!run.propertyMode) expandSimilarDocMarker(run, identityOf(run.user));
  // The look-alikes of a one-word query do not depend on its hits: the
  // engine service finds them while it searches.
  const bool lookAlikes = !run.propertyMode && queryOption.similar_keyword_option == 1 &&
                          !run.similarDocQuery && similarKeywordCheck(queryOption.orgQuery);
  if (lookAlikes)
    startSimilarKeywordPasses(queryOption.orgQuery, langFlag, run.limits.programTimeLimit * 1000);
  markTime("b-function 'getRecordList'");
  MergeRequest request = newerMergeRequest(run);
  // The renderer starts and sets itself up while the engines search: the
  // page then does not wait for a program to start.
  request.whileEnginesRun = [&run] {
    if (!run.claim.held() && !resultsDirectoryFull(run.limits.resultsMaxBytes))
      run.claim.make(kResultDirectory, wantsSimilarKeywordFile(run.similarDocQuery));
    if (run.renderer || pagesByService()) return;
    std::vector<std::string> env;
    if (!run.keyFromRequest.empty())
      env.push_back(std::string(kPermitKeyVariable) + "=" + run.keyFromRequest);
    run.renderer = std::make_unique<WaitingRenderer>(env);
  };
  const MergeOutcome merged = searchSelectedIndexes(
      run.list, run.propertyMode ? &run.clauses : nullptr, run.searchNum, request, run.result);
  // A search cut short by the run's deadline says so, not that an index
  // failed.
  if (merged.message && runMustEnd()) return tookTooLong(run.limits);
  if (merged.message) {
    RunEnd end = RunEnd::error(merged.message, kMergeExitStatus);
    if (std::strcmp(merged.message, kMsgSearchFailed) == 0) {
      end.page = RunEnd::Page::kIndex;
      end.value = merged.failedIndex;
    }
    return end;
  }
  markTime("a-function 'getRecordList'");
  // The related-term runs go out first: the engine works on them while the
  // look-alikes, sent ahead, are read and their checks sent.
  std::optional<RelTermRound> relatedTerms;
  if (!run.result.empty() && queryOption.relterm_output == 1) {
    // An installation without its related-term program is not set up: the
    // page would otherwise pass over the missing terms in silence.
    if (access(kRelTermTool, X_OK) != 0) {
      ReportLog("%s cannot be run\n", kRelTermTool);
      return RunEnd::error("0009", kResourceFailure);
    }
    markTime("b-function 'getReltermString'");
    relatedTerms.emplace(run.result.dbMap, g_fplog_running, run.limits.programTimeLimit * 1000);
  }
  // The look-alikes' checks run beside the related-term runs. A date
  // window that emptied the result checks the query itself first, which
  // may leave them unused.
  if (lookAlikes && !(queryOption.fgSearchDate == 1 && run.result.empty())) {
    markTime("b-function 'sendSimilarKeywordChecks'");
    sendSimilarKeywordChecks(run.list, run.limits.programTimeLimit * 1000);
    markTime("a-function 'sendSimilarKeywordChecks'");
  }
  if (relatedTerms) {
    relatedTerms->finish();
    markTime("a-function 'getReltermString'");
  }
  if (!run.result.empty()) orderResult(run.result);
  return std::nullopt;
}

RunOutput outputOf(RunState& run) {
  RunOutput output;
  output.list = &run.list;
  output.result = &run.result;
  output.propertyMode = run.propertyMode;
  output.searchNum = run.searchNum;
  output.runPropertySearchIndex = run.runPropertySearchIndex;
  output.tvStart = run.tvStart;
  output.user = run.user;
  output.typedQuery = run.typedQuery;
  output.permitKeyFromRequest = run.keyFromRequest;
  output.programTimeLimitMs = run.limits.programTimeLimit * 1000;
  output.similarDocQuery = run.similarDocQuery;
  output.identity = identityOf(run.user);
  output.resultsMaxBytes = run.limits.resultsMaxBytes;
  output.renderer = run.renderer.get();
  output.claim = &run.claim;
  return output;
}

// The part of the run that needs the request; returns the exit status.
int serveRequest() {
  readRequest();
  RunState run;
  for (MaybeEnd (*step)(RunState&) : {admitUser, prepareQuery, selectIndexes, searchAndMerge}) {
    MaybeEnd end = step(run);
    if (!end) continue;
    if (step == searchAndMerge && end->exitStatus != kRefused)
      logFailedSearch(outputOf(run), end->message.c_str());
    return answerRunEnd(*end);
  }
  return writeResultAndHandOver(outputOf(run));
}

}  // namespace

// The text services the request reading calls through seams.
static void installTextServices() {
  setLocalPageConverter(charEncodingConverter);
  setHalfWidthKanaWidener(widenJPQueryKana);
}

int searchrunMain(int argc, char** argv) {
  // One state of the settings for the whole run, each file looked at once.
  startKeptFilesRun();
  pid = static_cast<int>(handoff::runProcessId());
  setLogProcessId(pid);
  // When the web server gives up on the request, nothing the run started
  // goes on without it.
  endChildrenWithRun();
  watchRunClient(STDOUT_FILENO);
  verifyProgramVersion(argc, argv);
  installTextServices();
  // The engine runs of the search go to the engine service, without a
  // process each, whenever it is there to take them.
  EngineExchange engines;
  if (engines.usable()) {
    setProgramService(&engines);
    // Their scratch files then travel with the runs instead of lying on disk.
    scratch::keepInMemory(true);
  }
  const int status = serveAndFinish(serveRequest);
  setProgramService(nullptr);
  endKeptFilesRun();
  return status;
}

void forgetKeptRequest() {
  std::string().swap(keptRequest);
}
