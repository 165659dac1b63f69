/// @file vela_search.h
/// @brief One search job (`velaSearch`): the search of one index on this
/// host, or of the indexes that one remote host holds, reduced to the search
/// result block the merge reads (result_block.h).
///
/// Lifecycle: initialize (and concate, remote only), arm the optional
/// filters, Execute once, read m_velaResult / m_numRec / m_returnQuery, then
/// freeMemory. The texts handed to initialize and concate are copied.

#ifndef SEARCHRUN_SEARCH_VELA_SEARCH_H
#define SEARCHRUN_SEARCH_VELA_SEARCH_H

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "search/result_block.h"
#include "search/search_request.h"
#include "search/vela_command.h"
#include "search/vela_out.h"
#include "system/child_process.h"
#include "system/result_codes.h"

enum enumLocalRemote { fgLocal = 0, fgRemote = 1 };

// Result codes of a job (besides those of the binout reader, vela_out.h).
constexpr int kSearchOk = 0;
constexpr int kSearchNoMemory = kNoMemoryCode;
// An engine command gave no result: it could not be started, failed, was
// killed (the time limit included) or wrote nothing.
constexpr int kSearchNoStream = 1020;
constexpr int kSearchIncNoStream = kSearchNoStream;  // the same for the inc index
constexpr int kSearchFieldSettings = 1022;  // field settings of a field search not loadable
// The job lacks a part it needs: a field search without a field filter, a
// property search without a property source. Never a silent "no hits".
constexpr int kSearchNotAvailable = 1027;

// Search modes (the request's file_name_search).
constexpr int kModePropertyFirst = 1;
constexpr int kModePropertyLast = 7;
constexpr int kModeDateRange = 8;

// Filters of other subsystems that a job applies when they are armed (the
// pointers are set by whoever builds the job; null means not armed). The job
// does not own them.
class ResultSetFilter {  // access rights of one side (org or inc)
 public:
  // Deselects the hits of `set` the user may not see.
  virtual void filterResultSet(VelaOut& set) = 0;

 protected:
  ~ResultSetFilter() = default;
};
// The file of a field index's settings, in its home.
constexpr const char* kSbfSettingFile = "sbf_setting";
class FieldSearchFilter {  // search-by-field conditions
 public:
  // Loads the field settings from `sbfHome` for the condition `sbfString`,
  // forgetting those of the field index before (the org and the inc field
  // index are each loaded before their hits are filtered); false makes the
  // job fail with kSearchFieldSettings.
  virtual bool loadFieldSettings(const std::string& sbfHome, const std::string& sbfString) = 0;
  // Builds in `*out` (caller owns) the hits of `raw` that meet the condition.
  // 0, kBinoutNoHits (none: not an error) or an error code that ends the job.
  virtual int filterFieldResult(const VelaOut& raw, VelaOut** out) = 0;

 protected:
  ~FieldSearchFilter() = default;
};
class PropertyFilterSource {  // properties of a property search
 public:
  // The record filter for property mode `mode` (1 to 7), set up and owned by
  // the source; null when the mode names no property (the search has no hits).
  virtual RecIdFilter* propertyFilterFor(int mode) = 0;

 protected:
  ~PropertyFilterSource() = default;
};

struct LocalSearchPlan;  // vela_search.cc

class velaSearch : public VelaCommand {
 public:
  // Movable (jobs may live in a std::vector), not copyable.
  velaSearch() = default;
  velaSearch(velaSearch&&) = default;
  velaSearch& operator=(velaSearch&&) = default;
  velaSearch(const velaSearch&) = delete;
  velaSearch& operator=(const velaSearch&) = delete;

  // Starts the job with one index. Null texts count as empty. `searchMode` is
  // the request's file_name_search; `digitField` the numeric field (-1 none).
  // beginFile/endFile "*" mean no bound; times 0 mean unset. Returns 0 (1000
  // is kept for callers that check it; std::bad_alloc is not caught).
  int initialize(const char* velaOption, const char* ipAddr, const char* owner, const char* idxName,
                 const char* port, enumLocalRemote where, FILE* log, const std::string& sbfString,
                 const char* dbType, const char* sortField, const char* beginFile,
                 const char* endFile, int32_t beginTime, int32_t endTime, int searchMode,
                 int digitField);
  // Appends one more index (remote jobs). Returns 0.
  int concate(const char* owner, const char* idxName, const std::string& sbfString,
              const char* dbType);

  // Runs the job. 0 or an error code: kSearchNoMemory, kSearchNoStream,
  // kExecNoFile (a scratch file could not be claimed or written: the query
  // is never passed on the command line instead), kSearchFieldSettings,
  // kIncListBadId (1019, a superseded-record list naming a record beyond the
  // org index), kBinoutUnreadable, a field filter's own code, or
  // kSearchNotAvailable; a remote job answers as RemoteSearch. A command
  // of the org or the inc index that failed
  // (killed, exit 205, not started, past the time limit, no result written)
  // is kSearchNoStream: a broken engine is never taken for "no hits". On
  // success m_velaResult holds one section per index, and a key whose list
  // file is unreadable is written empty rather than left out. The job's
  // scratch files are removed before it returns.
  int Execute();
  // Releases both result sets, the block and the per-index arrays.
  void freeMemory();

  // The engine runs a local job's Execute will make, planned now (scratch
  // files claimed, the query moved into its term file and expanded), so
  // that the runs of all jobs can be handed over at once
  // (prefetchPrograms). Empty for a remote job, and when planning failed:
  // Execute then fails as it would have.
  std::vector<ChildProgram> plannedRuns();
  // Forgets a plan that will not run, with its scratch files.
  void dropPlan();

  const char* getIndexName() const;   // first index; "" when none
  const char* getIndexOwner() const;  // first index; "" when none
  // "doc_ntfs.cfg" in the index home starts with the byte '1', or is there
  // but cannot be read (the index stays protected).
  bool isNTFSIndex() const;
  // The first line of "acl_builder_option.cfg" in the index home starts
  // with '1', or the file is there but cannot be read.
  bool isACLBuilderIndex() const;

  // The local search of the first index (Execute calls it for fgLocal).
  int LocalSearch();
  // The search of all indexes of the job by the agent of m_ipAddr at m_port
  // (Execute calls it for fgRemote), bounded by the exchange limits of
  // systemGetNetLimits. 0, or kRemoteBadPort (port 0 or not a number; nothing
  // is sent), kRemoteBadRequest (a text of the job holds a protocol
  // delimiter; nothing is sent), kRemoteUnreachable (no connection, or no
  // whole answer within the exchange time-out), kRemoteBadAnswer (too large,
  // malformed, or a block that is not one section per index with the hits it
  // claims), or the agent's own code. On success m_returnQuery, m_numRec and
  // m_velaResult are set as a local search sets them (the block may be empty
  // when there are no hits).
  int RemoteSearch();

  // Job settings (initialize).
  std::string m_velaOption;
  enumLocalRemote m_fgLocalRemote = fgLocal;
  // The run log is VelaCommand::m_fplog (may be null).
  std::string m_sortField;
  std::string m_beginFile = "*";
  std::string m_endFile = "*";
  int32_t m_beginTime = 0;
  int32_t m_endTime = 0;
  int m_fg_search_file_name = 0;
  int m_digit_field = -1;
  std::string m_ipAddr;
  std::string m_port;
  std::vector<std::string> m_owner;
  std::vector<std::string> m_idxName;
  std::vector<std::string> m_dbType;
  std::vector<std::string> m_sbfString;
  int m_numDb = 0;

  // Optional filters (see above and search_request.h); null = not armed.
  IncListFilter* m_incListFilter = nullptr;
  ResultSetFilter* m_orgAclFilter = nullptr;
  ResultSetFilter* m_incAclFilter = nullptr;
  FieldSearchFilter* m_fieldFilter = nullptr;
  PropertyFilterSource* m_propertySource = nullptr;
  // The column of a "DB_" sort field; unset: every such key is 0.
  DbSortColumn m_dbSortColumn;

  // Results (Execute). m_velaResult has an explicit length and may hold zero
  // bytes; m_returnQuery is the engine's matched string (at most
  // kReturnQueryMax bytes) or empty when the job has no hits.
  static constexpr size_t kReturnQueryMax = 10240;
  VelaOutPtr m_org_velaout;  // selected hits of the org index
  VelaOutPtr m_inc_velaout;  // selected hits of the inc index, numbered in the inc index
  int m_numRec = 0;
  // A remote job's hits per index, in job order (the sections of its
  // block); empty for a local job, whose one index has m_numRec.
  std::vector<int> m_indexHits;
  int m_incSearches = 0;  // commands run on the inc index
  std::string m_velaResult;
  std::string m_returnQuery;

 private:
  void setReturnQuery(const char* matched);
  void logRemote(const char* what, int code) const;
  FILE* runCommand(const std::string& command, const std::string& resultPath);
  int searchOrg(LocalSearchPlan& plan);
  int searchInc(LocalSearchPlan& plan);
  int planLocalSearch(LocalSearchPlan& plan);
  int planIncSearch(LocalSearchPlan& plan);
  int readFieldResult(FILE* fp, const LocalSearchPlan& plan, const std::string& sbfName,
                      VelaOutPtr& out);
  int filterOrgSet(const LocalSearchPlan& plan);
  int buildResultBlock(const LocalSearchPlan& plan);

  // Made by plannedRuns, taken by the next LocalSearch.
  std::shared_ptr<LocalSearchPlan> m_plan;
};

#endif  // SEARCHRUN_SEARCH_VELA_SEARCH_H
