/// @file related_term_tool.cc
/// @brief Runs of the related-term tool.

#include "search/related_term_tool.h"

#include <sys/wait.h>
#include <unistd.h>

#include "system/child_process.h"
#include "system/delimiters.h"
#include "system/index_format.h"
#include "system/index_stats.h"
#include "system/layout.h"
#include "system/scratch_files.h"
#include "system/secure_file.h"
#include "system/tmpfile.h"

namespace {

// Most bytes of the tool's output that are read.
constexpr size_t kMaxToolOutput = 64 * 1024;

uint32_t recordCount(const std::string& owner, const std::string& index) {
  uint32_t count = 0;
  double size = 0;
  systemGetIndexNumRec(owner.c_str(), index.c_str(), count, size);
  return count;
}

void logCommand(FILE* log, const std::vector<std::string>& argv) {
  if (!log) return;
  std::string line;
  for (const std::string& word : argv)
    line += (line.empty() ? "" : " ") + word;
  std::fprintf(log, "getReltermCommand:%s\n", line.c_str());
  std::fflush(log);
}

// The tool's output of a planned run; false when it did not end with
// status 0 or wrote nothing. The scratch output goes either way.
bool runTool(RelTermRun& run, FILE* log, std::string& output) {
  logCommand(log, run.program.argv);
  const ChildOutcome outcome = runChildProgram(run.program);
  std::string bytes;
  const bool ran = outcome.how == ChildOutcome::How::kEnded && WIFEXITED(outcome.rawStatus) &&
                   WEXITSTATUS(outcome.rawStatus) == 0;
  const bool read = ran && scratch::read(run.scratch, bytes, kMaxToolOutput) && !bytes.empty();
  scratch::remove(run.scratch);
  run.scratch.clear();
  if (read) output = std::move(bytes);
  return read;
}

// A run of the tool for `ids` of the index directory `home`, its scratch
// output claimed; false when no scratch name is free.
bool planRun(const std::string& home, const std::vector<uint32_t>& ids, int timeLimitMs,
             RelTermRun& run) {
  if (!scratch::claim("query", run.scratch)) return false;
  run.program.argv = relTermToolArgv(home, run.scratch, ids);
  run.program.streams = ChildProgram::Streams::kQuiet;
  run.program.limitMs = timeLimitMs;
  return true;
}

bool hasControlByte(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

}  // namespace

std::vector<std::string> relTermToolArgv(const std::string& indexHome, const std::string& output,
                                         const std::vector<uint32_t>& ids) {
  std::vector<std::string> argv = {
      kRelTermTool, "-L", std::to_string(kRelTermToolTerms), "-D", indexHome + "/relterm", "-o",
      output,       "-n"};
  for (uint32_t id : ids)
    argv.push_back(std::to_string(id));
  return argv;
}

void appendToolTerms(std::string_view output, std::string& part) {
  size_t from = 0;
  while (from < output.size()) {
    size_t end = output.find('\n', from);
    if (end == std::string_view::npos) end = output.size();
    std::string_view line = output.substr(from, end - from);
    from = end + 1;
    while (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    if (line.empty()) break;
    if (hasControlByte(line)) continue;
    part.append(line);
    part += kFieldDelim;
  }
}

RelTermPlan::~RelTermPlan() {
  for (const RelTermRun* run : {&org, &inc})
    if (!run->scratch.empty()) removeScratchOutput(run->program, run->scratch);
}

void planRelatedTerms(const std::string& owner, const std::string& index,
                      const std::vector<uint32_t>& ids, int timeLimitMs, RelTermPlan& plan) {
  const uint32_t orgCount = recordCount(owner, index);
  std::vector<uint32_t> orgIds, incIds;
  for (uint32_t id : ids)
    (id > orgCount ? incIds : orgIds).push_back(id > orgCount ? id - orgCount : id);
  const std::string incIndex = incPartOf(index);
  if (!orgIds.empty() &&
      !planRun(systemGetIndexHome(owner.c_str(), index.c_str()), orgIds, timeLimitMs, plan.org)) {
    plan.rc = kRelTermToolFailed;
    return;
  }
  if (incIds.empty()) return;
  if (recordCount(owner, incIndex) == 0) {
    plan.rc = kRelTermIncEmpty;
  } else if (!planRun(systemGetIndexHome(owner.c_str(), incIndex.c_str()), incIds, timeLimitMs,
                      plan.inc)) {
    plan.rc = kRelTermToolFailed;
  }
}

std::vector<ChildProgram> RelTermPlan::programs() const {
  std::vector<ChildProgram> runs;
  if (rc != 0) return runs;
  for (const RelTermRun* run : {&org, &inc})
    if (!run->scratch.empty()) runs.push_back(run->program);
  return runs;
}

int relatedTermsOfPlan(RelTermPlan& plan, FILE* log, std::string& part) {
  part = kGroupEndDelim;
  std::string orgOutput, incOutput;
  // The org run fails first, as it would have run first.
  if (!plan.org.scratch.empty() && !runTool(plan.org, log, orgOutput)) return kRelTermToolFailed;
  if (plan.rc != 0) return plan.rc;
  if (!plan.inc.scratch.empty() && !runTool(plan.inc, log, incOutput)) return kRelTermToolFailed;
  part.clear();
  appendToolTerms(orgOutput, part);
  appendToolTerms(incOutput, part);
  part += kGroupEndDelim;
  return 0;
}

int relatedTermsOfIndex(const std::string& owner, const std::string& index,
                        const std::vector<uint32_t>& ids, int timeLimitMs, FILE* log,
                        std::string& part) {
  RelTermPlan plan;
  planRelatedTerms(owner, index, ids, timeLimitMs, plan);
  return relatedTermsOfPlan(plan, log, part);
}
