/// @file related_terms.cc
/// @brief Runs of the related-term tool for the agent.

#include "companions/agent/related_terms.h"

#include <unistd.h>

#include "companions/renderer/local_files.h"
#include "companions/renderer/record_lookup.h"
#include "system/child_process.h"
#include "system/delimiters.h"
#include "system/index_stats.h"
#include "system/layout.h"
#include "system/tmpfile.h"

namespace agent {

namespace {

// Most bytes of the tool's output that are read.
constexpr size_t kMaxToolOutput = 64 * 1024;

uint32_t recordCount(const std::string& owner, const std::string& index) {
  uint32_t count = 0;
  double size = 0;
  systemGetIndexNumRec(owner.c_str(), index.c_str(), count, size);
  return count;
}

// The tool's output for `ids` of one index directory; false when it did not
// run to its end or wrote nothing. The ids go one word each, as the tool
// reads them, straight into the argument vector: no command line, no shell
// and no word limit stand between them.
bool runTool(const std::string& owner, const std::string& index, const std::vector<uint32_t>& ids,
             int timeLimitMs, std::string& output) {
  std::string scratch;
  if (!systemGetCGITmpFile(scratch, "query")) return false;
  ChildProgram tool;
  tool.argv = {kRelTermTool,
               "-L",
               "10",
               "-D",
               systemGetIndexHome(owner.c_str(), index.c_str()) + "/relterm",
               "-o",
               scratch,
               "-n"};
  for (uint32_t id : ids)
    tool.argv.push_back(std::to_string(id));
  tool.streams = ChildProgram::Streams::kQuiet;
  tool.limitMs = timeLimitMs;
  const ChildOutcome outcome = runChildProgram(tool);
  const bool ran = outcome.how == ChildOutcome::How::kEnded && WIFEXITED(outcome.rawStatus) &&
                   render::readFilePrefix(scratch, kMaxToolOutput, output) && !output.empty();
  unlink(scratch.c_str());
  return ran;
}

bool hasControlByte(const std::string& text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

// The terms of one output: its lines up to the first empty one.
void appendTerms(const std::string& output, std::string& part) {
  for (std::string line : render::splitLines(output, kMaxToolOutput, kMaxToolOutput)) {
    while (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (line.empty()) break;
    if (hasControlByte(line)) continue;
    part += line;
    part += kFieldDelim;
  }
}

}  // namespace

std::string relatedTermsOf(const std::string& owner, const std::string& index,
                           const std::vector<uint32_t>& ids, int timeLimitMs) {
  const std::string end = kGroupEndDelim;
  if (access(kRelTermTool, X_OK) != 0) return end;
  const uint32_t orgCount = recordCount(owner, index);
  std::vector<uint32_t> orgIds, incIds;
  for (uint32_t id : ids)
    (id > orgCount ? incIds : orgIds).push_back(id > orgCount ? id - orgCount : id);
  const std::string incIndex = index + "_inc";
  std::string orgOutput, incOutput;
  if (!orgIds.empty() && !runTool(owner, index, orgIds, timeLimitMs, orgOutput)) return end;
  if (!incIds.empty() && (recordCount(owner, incIndex) == 0 ||
                          !runTool(owner, incIndex, incIds, timeLimitMs, incOutput)))
    return end;
  std::string part;
  appendTerms(orgOutput, part);
  appendTerms(incOutput, part);
  return part + end;
}

}  // namespace agent
