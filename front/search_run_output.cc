/// @file search_run_output.cc
/// @brief The end of a run: index descriptors, the search log, the result
/// files in ../tmp and the hand-over to the page renderer.

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "assemble/class_search.h"
#include "assemble/result_order.h"
#include "cgi/cgi_string_parser.h"
#ifndef SEARCHRUN_OLDER_FRONT
#include "policy/query_exclude.h"
#endif
#include "front/query_option.h"
#include "front/request_state.h"
#include "front/search_run.h"
#ifndef SEARCHRUN_OLDER_FRONT
#include "front/similar_keyword_output.h"
#endif
#include "output/result_files.h"
#include "system/child_process.h"
#include "system/delimiters.h"
#include "system/layout.h"
#include "system/log.h"
#include "system/tmpfile.h"
#ifndef SEARCHRUN_OLDER_FRONT
#include "text/similar_doc.h"
#endif

static_assert(kAnswerJsonFormat == kAnswerJson, "the request and the renderer name JSON alike");

namespace {

constexpr const char* kDelim = kFieldDelim;

std::string descriptorOf(const std::string& ip, const std::string& owner, const std::string& desc,
                         const std::string& idx, const std::string& port) {
  return ip + kDelim + owner + kDelim + desc + kDelim + idx + kDelim + port + kDelim;
}

// The query as the user typed it, in the local code page when it was sent in
// another encoding; null when the request has none.
const char* typedQuery(const RunOutput& run) {
  return run.typedQuery ? run.typedQuery->c_str() : cgi_variable.findCgiVariableByName("query");
}

// A search without a query variable (a field search builds its query from
// its clauses) is logged with the query it ran.
[[maybe_unused]] const char* loggedQuery(const RunOutput& run) {
  const char* typed = typedQuery(run);
  if (typed != nullptr) return typed;
  return queryOption.orgQuery[0] != '\0' ? queryOption.orgQuery : nullptr;
}

ResultOutputRequest outputRequest(const RunOutput& run) {
  ResultOutputRequest r;
  r.fgMatchMode = queryOption.fgMatchMode;
  r.fgChinese = queryOption.fgChinese;
  r.fgThesaurus = queryOption.fgThesaurus;
  r.h2f_flag = queryOption.h2f_flag;
  r.sortField = queryOption.sortField;
  r.sortOrder = queryOption.sortOrder;
  r.file_name_search = queryOption.file_name_search;
  r.relterm_output = queryOption.relterm_output;
  r.outputMode = queryOption.outputMode;
  r.numRec = queryOption.numRec;
  r.matchType = queryOption.matchType;
  r.sbfRandomNo = queryOption.sbfRandomNo;
  r.orgQuery = queryOption.orgQuery;
  r.retQuery = queryOption.retQuery;
  r.queryUrl = queryOption.wholeCGIString ? queryOption.wholeCGIString : "";
  // Follow-up pages of a class search name the class's indexes.
  class_search.updateClassURLString(r.queryUrl, systemGetIPAddress());
  r.iniFile = cgi_variable.findCgiVariableByName("ini_file");
  r.mainPage = cgi_variable.findCgiVariableByName("main_page");
  // A search by fields searched its clauses, whatever query came with them:
  // the page names those (the output puts them in place of the mark).
  r.query = run.propertyMode ? kMultiFieldQueryTerm : typedQuery(run);
  r.strMultiIndexQuery = strMultiIndexQuery;
#ifdef SEARCHRUN_OLDER_FRONT
  r.olderLayout = true;
#else
  r.isSimilarDocQuery = [](const std::string& term) { return SimilarDocIsValidQueryString(term); };
  r.searchKeywordAllowed = g_search_keyword_allowed != 0;
#endif
  r.user = run.user;
  buildIndexDescriptors(*run.list, run.propertyMode, run.searchNum, r.descriptors,
                        r.selectedDescriptor);
  r.run_property_search_index = run.runPropertySearchIndex;
  r.noResult = run.result->empty();
  r.tvStart = run.tvStart;
  return r;
}

// One line in the day's search log. Searches without hits are
// logged too (with a count of 0): they are what a site most needs to see.
struct LoggedIndex {
  std::string ip, owner, index;
};

// The index a search-log line names: the first hit's, else the first
// selected; "all" for a search of every index.
[[maybe_unused]] LoggedIndex loggedIndex(const RunOutput& run) {
  const RecordList& result = *run.result;
  LoggedIndex logged;
  if (!result.empty()) {
    const dbMapping& first =
        run.searchNum == 0 ? result.dbMap[result.recMap[0].databaseNum] : result.dbMap[0];
    logged = {first.ipAddr, first.szOwner, first.idxName};
  } else if (!run.list->empty()) {
    const velaSearchList& first = (*run.list)[0];
    logged = {first.ipAddr, first.owner, first.idxName};
  }
  if (run.searchNum == 0) logged.index = "all";
  return logged;
}

void logSearch(const RunOutput& run, const timeval& tvEnd) {
#if defined(SEARCHRUN_WITHOUT_SEARCH_LOG)
  (void)run, (void)tvEnd;
#else
  const RecordList& result = *run.result;
  const auto [ip, owner, index] = loggedIndex(run);
  RecSearchLog(run.tvStart, tvEnd, static_cast<unsigned>(result.dbCount()),
               static_cast<unsigned>(result.recordCount()), run.user.c_str(), ip.c_str(),
               owner.c_str(), index.c_str(), loggedQuery(run));
#if defined(SEARCHRUN_OLDER_FRONT)
  // The threaded editions' sites also read their query logs.
  RecQueryLog(run.tvStart, run.user.c_str(), ip.c_str(), owner.c_str(), index.c_str(),
              loggedQuery(run), static_cast<int>(result.recordCount()));
  if (GetSaveQueryTermLogFlag()) RecQueryTermLog(loggedQuery(run));
#endif
#endif
}

// The hits grouped by a field into "<base>.group" for the renderer; a
// grouping that fails leaves the page without groups.
void groupResult(const std::string& base, const std::string& group) {
  ChildProgram program;
  program.argv = {kGroupingProgram, "-group", base, base + ".group", group};
  program.streams = ChildProgram::Streams::kQuiet;
  const ChildOutcome outcome = runChildProgram(program);
  if (outcome.how != ChildOutcome::How::kEnded || outcome.rawStatus != 0)
    ReportLog("grouping by %s failed\n", group.c_str());
}

std::vector<unsigned long> writeOrder(const RecordList& result, unsigned long limit) {
  const OutputOrder order = outputOrder(result.recMap.data(), result.recordCount(), limit,
                                        queryOption.sortField, queryOption.sortOrder);
  std::vector<unsigned long> positions(order.count);
  for (unsigned long i = 0; i < order.count; ++i)
    positions[i] = order.at(i);
  return positions;
}

// What the files of the result `base` take on disk, as the results
// directory is counted.
long long resultBytes(const std::string& base) {
  long long bytes = 0;
  for (const std::string& name :
       {base, resultFileName(base, ResultFile::Filter), resultFileName(base, ResultFile::IndexList),
        resultFileName(base, ResultFile::Class), resultFileName(base, ResultFile::SimilarKeyword),
        base + ".group"}) {
    struct stat st;
    if (lstat(name.c_str(), &st) == 0 && S_ISREG(st.st_mode))
      bytes += static_cast<long long>(st.st_blocks) * 512;
  }
  return bytes;
}

GetFileListArguments rendererArguments(const std::string& base) {
  RendererOptions options;
  options.output_cgi_no = queryOption.output_cgi_no;
  options.output_cgi_page = queryOption.output_cgi_page;
  options.xml_format = queryOption.xml_format;
  options.api_version = queryOption.api_version;
  GetFileListArguments args;
  BuildGetFileListCommand(base, options, args);
  return args;
}

// A renderer that cannot be started is a broken installation: the user gets
// a page that says so, and the run fails.
RunEnd rendererMissing() {
  ReportLog("the page renderer cannot be started\n");
  return RunEnd::error("0009", kResourceFailure);
}

// A result file that cannot be written: the page says what, never where.
RunEnd resultNotWritten() {
  RunEnd end = RunEnd::error("0001", kResourceFailure);
  end.page = RunEnd::Page::kFileNotFound;
  end.value = "search result";
  return end;
}

// The renderer sets the permit key as a cookie when the request carried it
// as a variable, so that the links between pages need not carry it. It goes
// through the environment: never a command line, a file or a log.
void passPermitKey(const RunOutput& run) {
  if (!run.permitKeyFromRequest.empty())
    setenv(kPermitKeyVariable, run.permitKeyFromRequest.c_str(), 1);
}

const char* cgiLookup(const char* name) {
  return cgi_variable.findCgiVariableByName(name);
}

}  // namespace

void buildIndexDescriptors(const VelaSearchListVector& list, bool propertyMode, int searchNum,
                           std::vector<std::string>& descriptors, std::string& selected) {
  const size_t n = propertyMode ? 1 : list.size();
  descriptors.clear();
  selected.clear();
  for (size_t i = 0; i <= n && (i == 0 || i <= list.size()); ++i) {
    const velaSearchList* e = i > 0 ? &list[i - 1] : nullptr;
    if (static_cast<long>(i) == searchNum) {
      const std::string desc = propertyMode && !list.empty() ? list[0].desc : e ? e->desc : "all";
      selected = (e ? e->ipAddr : " ") + kDelim + (e ? e->owner : " ") + kDelim + desc;
    }
    descriptors.push_back(e ? descriptorOf(e->ipAddr, e->owner, e->desc, e->idxName, e->port)
                            : descriptorOf(" ", " ", "all", "all", "all"));
  }
}

namespace {

// The result files and the page, on a claimed base name. A run end when
// the run must answer with a message page; the exit status (in `status`)
// when the renderer ran as a child and answered; on a successful hand-over
// it does not return.
std::optional<RunEnd> writeAndHandOver(const RunOutput& run, const std::string& base, int& status) {
  const RecordList& result = *run.result;
  ResultOutputRequest request = outputRequest(run);
  passPermitKey(run);
  markTime(queryOption.retQuery);
  markTime(queryOption.orgQuery);
  gettimeofday(&request.tvEnd, nullptr);
  logSearch(run, request.tvEnd);

  // Side files.
  markTime("b-_idxfile");
  writeIndexListFile(base, *run.list);
  markTime("b-outputClassInformation");
  class_search.outputClassInformation(resultFileName(base, ResultFile::Class));
  ensureClassFile(base);
  markTime("a-outputClassInformation");
  bool keywordsWritten = false;
#ifndef SEARCHRUN_OLDER_FRONT
  // Words the user may have meant: for one-term queries as typed, not for
  // the term list a similar-document link stands for. (The threaded
  // editions have no similar keywords.)
  const VelaSearchListVector& selected = *run.list;
  const AccessIdentity who = run.identity;
  const int limitMs = run.programTimeLimitMs;
  // A date window that emptied the result of a word the indexes hold is
  // what to change, not the spelling.
  const auto windowEmptied = [&] {
    return queryOption.fgSearchDate == 1 && run.result->empty() &&
           wordReadableIn(queryOption.orgQuery, selected, who, limitMs);
  };
  if (wantsSimilarKeywordFile(run.similarDocQuery) && !windowEmptied()) {
    markTime("b-similarKeywordOutput");
    keywordsWritten = similarKeywordOutput(
        queryOption.orgQuery, resultFileName(base, ResultFile::SimilarKeyword), langFlag, limitMs,
        [&](const std::string& word) { return wordReadableIn(word, selected, who, limitMs); });
    markTime("a-similarKeywordOutput");
  }
  dropSimilarKeywordPasses();
#endif
  // The file a claim made ahead goes again when no keyword came.
  if (!keywordsWritten) removeUnwrittenSimilarKeyword(base);

  // A large HTML result shows its first pages before the whole
  // file is written (a request for no records per page has no first pages).
  const unsigned long fastLimit =
      static_cast<unsigned long>(queryOption.numRec > 0 ? queryOption.numRec * 20L : 0L);
  const bool fastPath = fastLimit > 0 && run.group.empty() &&
                        queryOption.output_cgi_page == kRendererUnset &&
                        queryOption.xml_format == 0 && result.recordCount() > fastLimit;
  const std::string fastFile = resultFileName(base, ResultFile::Fast);
  if (fastPath) {
    markTime("b-block 'generate fast output file'");
    // A renderer waiting for its words, or the engine service, is handed the
    // first pages from a memory file: a file made and removed on every large result costs
    // every later file made in the directory for a while (the file system
    // passes over recently freed entries).
    HeldResultFile held;
    UniqueFd memory;
    if ((run.renderer != nullptr && run.renderer->ready()) || pagesByService())
      memory = createMemoryFile(fastFile.substr(fastFile.rfind('/') + 1).c_str());
    if (memory) {
      held = {memory.get(), fastFile};
      if (!outputResult(UniqueFd(dup(memory.get())), fastFile, request, result,
                        writeOrder(result, fastLimit)))
        return resultNotWritten();
    } else if (!outputResult(fastFile, request, result, writeOrder(result, fastLimit))) {
      return resultNotWritten();
    }
    outputFilterResult(base, queryOption.fgSearchDate, cgiLookup);
    markTime("a-block generate fast output file'");
    // The whole result is written while the renderer shows the first pages,
    // on the other processor: the renderer is given the first pages' file
    // (by name, or open), so it never meets the result's own file half
    // written, and the answer does not wait for the writing. (The file is
    // written in place, as the run claimed it: a fresh file renamed over the
    // claim would add a file made and one removed to every large result.)
    const GetFileListArguments args = rendererArguments(fastFile);
    bool wholeWritten = false;
    markTime("b-execl");
    status = runRendererAndWait(
        args, run.programTimeLimitMs,
        [&] {
          wholeWritten =
              outputResult(base, request, result, writeOrder(result, result.recordCount()));
          // Counted now, while the renderer works, rather than after it.
          if (wholeWritten && run.resultsMaxBytes > 0)
            addResultsUsage(kResultDirectory, resultBytes(base));
        },
        run.renderer, memory ? &held : nullptr);
    markTime("a-ecgi");
    if (status == kHeldFileNotWritten) return resultNotWritten();
    if (status == kRendererNotStarted || status < 0) return rendererMissing();
    // The first pages are the answer now: a later failure is only logged,
    // since a response holds one page.
    if (status != 0) return std::nullopt;
    if (!wholeWritten) {
      status = kResourceFailure;
      return std::nullopt;
    }
    unlink(fastFile.c_str());
    return std::nullopt;
  }

  // The whole result.
  if (!outputResult(base, request, result, writeOrder(result, result.recordCount())))
    return resultNotWritten();
  outputFilterResult(base, queryOption.fgSearchDate, cgiLookup);
  unlink(fastFile.c_str());
  if (!run.group.empty()) groupResult(base, run.group);
  if (run.resultsMaxBytes > 0) addResultsUsage(kResultDirectory, resultBytes(base));

  // The renderer takes over the process.
  markTime("b-execl");
  markTime("run getfilelist");
  const GetFileListArguments args = rendererArguments(base);
  const bool withFormat = queryOption.xml_format > 0;
  // A renderer that set itself up during the search answers in place of
  // the run, which ends as it does.
  // The engine service makes the page when it is there, and no renderer was
  // started for it.
  const int rendered = run.renderer != nullptr
                           ? handOverToWaitingRenderer(*run.renderer, args, withFormat)
                           : renderByService(args, withFormat);
  if (run.renderer != nullptr || rendered >= 0) markTime("a-ecgi");
  if (rendered >= 0) {
    status = rendered;
    return std::nullopt;
  }
  const int error = execRenderer(args, withFormat);
  markTime("a-execl, should not occur");
  ReportLog("Execl RetCode : %d, Error Code : %d\n", -1, error);
  return rendererMissing();
}

}  // namespace

void logFailedSearch(const RunOutput& run, const char* code) {
#if !defined(SEARCHRUN_WITHOUT_SEARCH_LOG) && !defined(SEARCHRUN_OLDER_FRONT)
  timeval tvEnd;
  gettimeofday(&tvEnd, nullptr);
  const LoggedIndex logged = loggedIndex(run);
  RecFailedSearchLog(run.tvStart, tvEnd, run.user.c_str(), logged.ip.c_str(), logged.owner.c_str(),
                     logged.index.c_str(), loggedQuery(run), code);
#else
  (void)run, (void)code;
#endif
}

std::optional<RunEnd> refuseOversizedRequest(const char* request, const RunLimits& limits) {
  if (std::strlen(request) <= static_cast<size_t>(limits.maxRequestBytes)) return std::nullopt;
  RunEnd end = RunEnd::error("1076", kRefused);
  end.page = RunEnd::Page::kNumber;
  end.number = static_cast<int>(limits.maxRequestBytes);
  return end;
}

#ifndef SEARCHRUN_OLDER_FRONT
bool wantsSimilarKeywordFile(bool similarDocQuery) {
  return queryOption.similar_keyword_option == 1 && !similarDocQuery &&
         similarKeywordCheck(queryOption.orgQuery);
}
#endif

bool resultsDirectoryFull(long long maxBytes) {
  return maxBytes > 0 && resultsDirectoryBytes(kResultDirectory, maxBytes) > maxBytes;
}

int writeResultAndHandOver(const RunOutput& run) {
  // The base name of every file of this result: claimed while the engines
  // searched (the directory had room then), or now.
  std::string base;
  if (run.claim != nullptr && run.claim->held()) {
    base = run.claim->base();
    run.claim->handOver();
  } else if (resultsDirectoryFull(run.resultsMaxBytes)) {
    // A full results directory refuses new results until expiry makes room:
    // visitors cannot fill the disk, however fast they ask.
    ReportLog("../tmp holds more than RESULTS_MAX_MB\n");
    return answerRunEnd(RunEnd::error("1077", kResourceFailure));
  } else if (!systemGetTmpFile(base)) {
    ReportLog("no result name can be claimed in ../tmp\n");
    return answerRunEnd(resultNotWritten());
  }
  int status = 0;
  if (const std::optional<RunEnd> end = writeAndHandOver(run, base, status)) {
    // A run that answers with a message shows no result: none is kept.
    removeResultFiles(base);
    return answerRunEnd(*end);
  }
  return status;
}
