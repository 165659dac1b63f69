/// @file related_term_tool.h
/// @brief The related terms of one index of this host for a list of its
/// record ids, from runs of the related-term tool over the org index and
/// the inc index. The query program asks it for its own indexes, and the
/// agent for another host's request.
///
///   ../search-cgi/search_relterm.exe -L 10 -D HOME/relterm -o OUT -n ID...
/// writes the terms typical of the records, one per line, into OUT.

#ifndef SEARCHRUN_SEARCH_RELATED_TERM_TOOL_H
#define SEARCHRUN_SEARCH_RELATED_TERM_TOOL_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "system/child_process.h"

// The tool, relative to the CGI directory.
constexpr const char* kRelTermTool = "../search-cgi/search_relterm.exe";
// Terms the tool is asked for per run.
constexpr int kRelTermToolTerms = 10;

// Codes of a local related-term job.
constexpr int kRelTermIncEmpty = 1007;    // ids of the inc index, which has no records
constexpr int kRelTermToolFailed = 1016;  // the tool failed, or wrote nothing

// The argument vector of one run (the ids as words of their own: no command
// line stands between them and the tool, so no word limit applies).
std::vector<std::string> relTermToolArgv(const std::string& indexHome, const std::string& output,
                                         const std::vector<uint32_t>& ids);

// Appends the terms of a tool output to `part`: its lines up to the first
// empty one, carriage returns at their ends dropped, each term followed by
// F. A line holding a control byte (it could hold a delimiter) is left out.
void appendToolTerms(std::string_view output, std::string& part);

// The part of index `index` of `owner` (names already checked) for `ids` in
// merged numbering (org ids, then inc ids shifted by the org record count):
// each term followed by F, and E at the end. Returns 0, kRelTermIncEmpty or
// kRelTermToolFailed; on failure `part` is E alone. Each run may take
// `timeLimitMs`; each command is written to `log` when given.
int relatedTermsOfIndex(const std::string& owner, const std::string& index,
                        const std::vector<uint32_t>& ids, int timeLimitMs, FILE* log,
                        std::string& part);

// The same in two steps, so that the runs of every index can be handed
// over at once (prefetchPrograms): planned (scratch outputs claimed, no
// program run yet), then run and read.
struct RelTermRun {
  std::string scratch;  // empty: no run
  ChildProgram program;
};
struct RelTermPlan {
  RelTermPlan() = default;
  RelTermPlan(const RelTermPlan&) = delete;
  RelTermPlan& operator=(const RelTermPlan&) = delete;
  ~RelTermPlan();  // removes scratch outputs of runs never made
  // The runs planned; none when planning failed.
  std::vector<ChildProgram> programs() const;
  RelTermRun org, inc;
  int rc = 0;  // kRelTermIncEmpty or kRelTermToolFailed found while planning
};
void planRelatedTerms(const std::string& owner, const std::string& index,
                      const std::vector<uint32_t>& ids, int timeLimitMs, RelTermPlan& plan);
int relatedTermsOfPlan(RelTermPlan& plan, FILE* log, std::string& part);

#endif  // SEARCHRUN_SEARCH_RELATED_TERM_TOOL_H
