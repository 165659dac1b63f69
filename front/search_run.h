/// @file search_run.h
/// @brief The request flow of the query program: from process start to the
/// hand-over to the page renderer, with every way a run ends.

#ifndef SEARCHRUN_FRONT_SEARCH_RUN_H
#define SEARCHRUN_FRONT_SEARCH_RUN_H

#include <sys/time.h>

#include <optional>
#include <string>
#include <vector>

#include "front/request_state.h"
#include "policy/access_filters.h"
#include "system/record_mapping.h"
#include "system/run_limits.h"
#include "system/vela_search_list.h"

class ResultClaim;

class WaitingRenderer;

class CGIStringParser;

// Serves the one request of this process and returns the exit status.
// Standard output carries the answer (a message page or the renderer's).
int searchrunMain(int argc, char** argv);
// Forgets the request text the run kept (resetRequestState).
void forgetKeptRequest();

// The "search_no" variable: its decimal value, 1 when it is absent.
int readSearchNum(const char* value);

// Outcome of building the list from the "index_id" variables.
struct ExplicitIndexList {
  int added = 0;               // entries appended
  int fileNameIndexCount = 0;  // of those, entries whose type is not "db"
  int duplicates = 0;          // entries naming an index listed before them
  int unknown = 0;             // local indexes not known here (or unsafe names)
  bool outOfMemory = false;    // an entry could not be allocated
  bool tooMany = false;        // more distinct indexes than allowed: none was looked at
};

// Appends one entry per "index_id" variable of `cgi`, in request order, that
// names a known local index or an index its host's agent describes (remote
// indexes are searched through that agent). Unknown and unsafe local names
// are skipped; a remote index its agent does not describe counts in
// remote_index_not_found_count. A uid named again is looked up once and
// appended again, so that positions count as the request's do (the search
// takes each index once). When the list would pass `maxIndexes` distinct
// uids (negative: no limit) nothing is added or asked of any host:
// `tooMany`. A remote host is asked only when it is an
// agent host of the installation, at most until it fails to answer, and not
// after the run must end (run_deadline.h). Logs each variable into `log`
// when it is open.
ExplicitIndexList buildExplicitIndexList(const CGIStringParser& cgi, VelaSearchListVector& list,
                                         FILE* log, int processId, int maxIndexes = -1);

// Path of the search-by-field file of number `sbfRandomNo`.
std::string searchByFieldPath(int sbfRandomNo);

// Gives each entry of `list` named by a line of the search-by-field file its
// condition (the first matching entry only). A missing file changes nothing.
void applySearchByFieldFile(const std::string& path, VelaSearchListVector& list);

// The file-name property state of a run (0, or -1 when the property search
// cannot apply to the selected indexes). Writes its report-log lines.
int filePropertySearchState(int dbNum, int fileNameSearch, int searchNum,
                            const VelaSearchListVector& list, int fileNameIndexCount);

// The index descriptor strings handed to the output (one per selectable
// index, position 0 meaning all of them) and the descriptor of the selected
// search (`searchNum`; empty when it names no position).
void buildIndexDescriptors(const VelaSearchListVector& list, bool propertyMode, int searchNum,
                           std::vector<std::string>& descriptors, std::string& selected);

// What the end of a run needs of it.
struct RunOutput {
  const VelaSearchListVector* list = nullptr;
  const RecordList* result = nullptr;
  bool propertyMode = false;
  int searchNum = 0;
  int runPropertySearchIndex = 0;
  timeval tvStart{};
  std::string user;
  // The "query" variable in the local code page when a declared encoding
  // converted it; otherwise the variable goes to the result as received.
  std::optional<std::string> typedQuery;
  // The permit key when the request carried it as a variable (and it was
  // valid); empty otherwise.
  std::string permitKeyFromRequest;
  // Wall-clock limit of the renderer when it runs as a child.
  int programTimeLimitMs = 0;
  // The field the hits are grouped by (the "group" variable of the older
  // front); empty: no grouping.
  std::string group;
  // The query was a similar-document link (replaced by a record's terms).
  bool similarDocQuery = false;
  // Whom the run shows what: the suggestions are checked against it.
  AccessIdentity identity;
  // Bytes the results directory may hold before a new result is refused
  // (0: no budget).
  long long resultsMaxBytes = 0;
  // The renderer started during the search, waiting for its page; null:
  // the hand-over starts one.
  WaitingRenderer* renderer = nullptr;
  // The result's base name and side files, made while the engines searched;
  // null or holding nothing: the hand-over claims a name itself.
  ResultClaim* claim = nullptr;
};

// Whether a run writes the similar keyword file when it finds keywords:
// they are wanted, and the query is one term the user typed.
bool wantsSimilarKeywordFile(bool similarDocQuery);

// Whether the results directory holds more than `maxBytes` (0: no budget),
// so that no new result may be written.
bool resultsDirectoryFull(long long maxBytes);

// Logs a search that ended with message `code` instead of a result, so that
// an administrator sees searches that fail.
void logFailedSearch(const RunOutput& run, const char* code);

// The refusal of a request longer than the limit allows (message 1076), or
// nothing. Checked before the run log opens: an oversized request is neither
// kept nor logged.
std::optional<RunEnd> refuseOversizedRequest(const char* request, const RunLimits& limits);

// The grouping program run in the working directory for a "group" variable.
constexpr const char* kGroupingProgram = "./grouping.exe";

// The environment variable that hands the permit key to the renderer.
constexpr const char* kPermitKeyVariable = "KS_PERMIT_KEY";

// Writes the result files into ../tmp, logs the search and hands over to the
// page renderer, which answers the request. Returns the exit status when the
// run ends here: a result file could not be written (1, after a page unless
// the renderer answered already), the renderer ran as a child (its status),
// or could not be started (1, after message "0009"); on success of the
// hand-over it does not return.
int writeResultAndHandOver(const RunOutput& run);

#endif  // SEARCHRUN_FRONT_SEARCH_RUN_H
