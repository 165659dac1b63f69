/// @file record_merge.h
/// @brief The merge of a request's searches: the selected indexes become
/// search jobs (one per local index, one per remote host), the jobs run one
/// after another, and their result blocks are read into one RecordList.
///
/// The stages are separate functions so that each can be driven on its own:
/// planSearchJobs decides the jobs, createSearchJobs builds them,
/// runSearchJobs runs them, mergeJobResults reads their blocks. getRecordList
/// chains them for the request flow and says which message ends the request;
/// the request flow writes the page.

#ifndef SEARCHRUN_ASSEMBLE_RECORD_MERGE_H
#define SEARCHRUN_ASSEMBLE_RECORD_MERGE_H

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "search/result_block.h"
#include "search/search_request.h"
#include "search/vela_search.h"
#include "system/address.h"
#include "system/record_mapping.h"
#include "system/vela_search_list.h"

// Message codes the merge ends a request with (all with exit status 1).
inline constexpr const char* kMsgNoIndexSelected = "1003";
inline constexpr const char* kMsgRemoteIndexNotFound = "1065";
inline constexpr const char* kMsgSearchFailed = "0004";
inline constexpr const char* kMsgMergeNoMemory = "0008";
// Exit status of a run that the merge ends.
constexpr int kMergeExitStatus = 1;

// One search job to build: the list positions of its indexes in job order.
// The first entry initialises the job; a remote job appends the others.
struct SearchJobPlan {
  enumLocalRemote where = fgLocal;
  std::vector<size_t> entries;
};

using LocalAddressTest = bool (*)(const char* ip);

// The jobs for `list`. searchNum 0: every entry in list order but those that
// name an index an entry before them names (repeatsAnEarlierEntry), each
// local entry a job of its own, each remote entry joining the remote job of
// the same host text (first come) or starting one. searchNum n >= 1: entry n - 1
// alone; no job when n is past the list's end. A negative searchNum selects
// nothing. In a property search (`propertySearch`) entries whose type begins
// with "db" get no job. `isLocal` decides which hosts are this one.
std::vector<SearchJobPlan> planSearchJobs(const VelaSearchListVector& list, int searchNum,
                                          bool propertySearch,
                                          LocalAddressTest isLocal = isLocalIPAddress);

// Appends the planned jobs to `jobs`, built with the request's settings
// (sort field, file and time bounds, search mode, run log, query screen,
// inc-list filter, property filters, and for local jobs the field filter)
// and the engine option text shared by all jobs. Nothing runs yet. Null, or
// kMsgMergeNoMemory when a job could not take its indexes.
const char* createSearchJobs(const VelaSearchListVector& list,
                             const std::vector<SearchJobPlan>& plans, const SearchRequest& request,
                             const std::string& velaOption, std::vector<velaSearch>& jobs);

// Runs the jobs in order, each after the request's job filters (when given)
// have armed it. Null when all succeeded; kMsgSearchFailed at the first job
// that fails (the later ones do not run), whose position goes to `*failed`
// and whose code (Execute) to `*code` when given. Failures are logged into
// the request's run log. `whileEnginesRun`, when given, runs once the
// engine runs of every job are handed out, before the jobs wait for them.
const char* runSearchJobs(std::vector<velaSearch>& jobs, const SearchRequest& request,
                          size_t* failed = nullptr, int* code = nullptr,
                          const std::function<void()>& whileEnginesRun = {});

// Stores in every list entry that a job searched (same host text, owner and
// index name) that job's hit count; entries no job searched keep theirs.
void storeMatchCounts(VelaSearchListVector& list, const std::vector<velaSearch>& jobs);

// Merges one job's reported query into retQuery (kQuerySize bytes).
using RetQueryMerge = void (*)(char* retQuery, const char* reported);

// Reads the result blocks of finished jobs, in job order, into `out` (which
// must be empty): one dbMapping per index of a job and one recordMapping per
// hit, with sort keys of the kind of `sortField`. Every job's reported query
// is merged into `retQuery` (kQuerySize bytes) through `addRetQuery` (when
// given), and every job is released (freeMemory) once read. Null on success; otherwise
// kMsgSearchFailed (a section that does not read back whole, hit counts that
// disagree with the job's m_numRec) or kMsgMergeNoMemory, with `out` left
// unspecified. A job with no hits and an empty block stands for one empty
// section per index.
const char* mergeJobResults(std::vector<velaSearch>& jobs, const char* sortField, char* retQuery,
                            RetQueryMerge addRetQuery, RecordList& out);

// Appends one finished job's indexes and hits to `out`: the reading step of
// mergeJobResults, without the query and the release. Null on success, else
// kMsgSearchFailed; what was appended before a failure stays.
const char* appendJobResult(const velaSearch& job, SortKeyKind kind, RecordList& out);

// What the merge of a request works from.
struct MergeRequest {
  SearchRequest search;
  int dbNum = 0;                // indexes selected
  int remoteIndexNotFound = 0;  // index uids their remote host did not know
  const char* orgQuery = "";    // the query as typed, after the rewrites
  // retQuerySize bytes: receives the query as the engines understood it.
  char* retQuery = nullptr;
  size_t retQuerySize = kQuerySize;
  // How reported queries merge (the query normalisation's term-wise merge).
  RetQueryMerge addRetQuery = nullptr;
  // Work of the caller that may overlap the engines (runSearchJobs).
  std::function<void()> whileEnginesRun;
};

// How the merge of a request ended.
struct MergeOutcome {
  // Null when the run goes on; else the message that ends it (exit status
  // kMergeExitStatus): kMsgNoIndexSelected, kMsgRemoteIndexNotFound,
  // kMsgSearchFailed or kMsgMergeNoMemory.
  const char* message = nullptr;
  // The description of the index whose search failed (kMsgSearchFailed).
  std::string failedIndex;
  // Commands run on inc indexes.
  int incSearches = 0;
};

// The merge of the request: the selected indexes of `list`, all of them
// (searchNum 0) or the searchNum-th alone, searched and merged into `out`
// (must be empty). Fills the entries' m_match and request.retQuery (the
// typed query when no job reported one). On failure `out` is empty; the
// caller answers with the outcome's message.
MergeOutcome getRecordList(VelaSearchListVector& list, int searchNum, const MergeRequest& request,
                           RecordList& out);

// Keeps the first reported query: copies `reported` (cut to fit `size`
// bytes with its terminator) only while retQuery is empty.
void keepFirstRetQuery(char* retQuery, size_t size, const char* reported);
// The same into kQuerySize bytes; fits RetQueryMerge.
void keepFirstRetQuery(char* retQuery, const char* reported);

#endif  // SEARCHRUN_ASSEMBLE_RECORD_MERGE_H
