/// @file relterm_tool.h
/// @brief The terms typical of a set of records of one index: the words of
/// their record term dictionary entries that two or more of them share and
/// few other records hold (relterm_shared.h); for an index built without
/// term frequencies, or a single record, the words the engine's relevance
/// feedback finds in them and seldom elsewhere; when neither finds any (an
/// index of a handful of records), the strongest words of their dictionary
/// entries.
///
///   search_relterm.exe -L COUNT -D HOME/relterm -o OUT -n ID...
/// writes at most COUNT terms, one per line, into OUT (an existing file of
/// the caller's); HOME is the index directory.

#ifndef SEARCHRUN_COMPANIONS_ENGINE_RELTERM_TOOL_H
#define SEARCHRUN_COMPANIONS_ENGINE_RELTERM_TOOL_H

#include <cstdint>
#include <string>
#include <vector>

#include "companions/engine/search_programs.h"

namespace relterm {

// Most terms asked for.
constexpr int kMaxTerms = 100;

struct ToolArgs {
  int count = 10;             // -L
  std::string home;           // -D without its last component
  std::string output;         // -o
  std::vector<uint32_t> ids;  // after -n
};

// A whole run of the tool, which vela::runTool hands here for
// Tool::kRelTerm: arguments read, the index home and the
// output admitted, the terms written into the output in the installation's
// code page (write and rename). Returns the exit status.
int runTool(const std::vector<std::string>& args, const vela::RunContext& ctx,
            const vela::PathAdmission& admit);

// Reads the arguments (without the program name). False with a message
// when one is missing or bad; ids that are no record number are an error.
bool parseToolArgs(const std::vector<std::string>& args, ToolArgs& out, std::string& error);

// The terms (UTF-8) for the records `ids` (best first) of the index at
// `home`, best first, at most `count`. Ids that name no record are ignored.
// Throws Xapian::Error when the index cannot be read.
std::vector<std::string> typicalTerms(const std::string& home, const std::vector<uint32_t>& ids,
                                      int count, vela::IndexDbCache* databases = nullptr);

// The same with how they were found: `shared` when from the terms the
// records share (then none is no reason to look further).
struct FoundTerms {
  std::vector<std::string> terms;
  bool shared = false;
};
FoundTerms findTypicalTerms(const std::string& home, const std::vector<uint32_t>& ids, int count,
                            vela::IndexDbCache* databases = nullptr);

// The same by relevance feedback over the first records of `ids` alone.
std::vector<std::string> feedbackTerms(const std::string& home, const std::vector<uint32_t>& ids,
                                       int count, vela::IndexDbCache* databases = nullptr);

// The same from the index's record term dictionary alone: the terms of the
// records summed by weight (ties by name).
std::vector<std::string> dictionaryTerms(const std::string& home, const std::vector<uint32_t>& ids,
                                         int count);

}  // namespace relterm

#endif  // SEARCHRUN_COMPANIONS_ENGINE_RELTERM_TOOL_H
