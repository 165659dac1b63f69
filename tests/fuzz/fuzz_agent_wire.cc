/// @file fuzz_agent_wire.cc
/// @brief What the host agent reads from another host before any work, and
/// what a page reads back from an agent: the framing of a request, the
/// related-term and record-details requests, the record-details answer, and
/// the engine option string a search carries.
///
/// The agent and the renderer are companion programs, which fuzz builds
/// leave out; these readers depend on the libraries only, so their sources
/// are compiled here.

#include <string_view>
#include <vector>

#include "companions/agent/agent_wire.cc"
#include "companions/doctext/code_pages.cc"
#include "companions/doctext/html_entities.cc"
#include "companions/doctext/library_convert_iconv.cc"
#include "companions/doctext/render_text.cc"
#include "companions/records/local_files.cc"
#include "companions/records/record_lookup.cc"
#include "companions/records/remote_records.cc"
#include "search/vela_command.h"
#include "system/delimiters.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const std::string_view end(kCommandEndDelim, kDelimSize);
  // Fed in two reads, the framing agrees with a whole read; a whole request
  // ends at its only end mark, within its cap.
  const serve::Framing whole = agent::frameRequest(input, 0);
  const size_t half = size / 2;
  if (agent::frameRequest(std::string_view(input).substr(0, half), 0) == serve::Framing::kNeedMore)
    check(agent::frameRequest(input, half) == whole);
  if (whole == serve::Framing::kDone)
    check(input.find(end) == size - kDelimSize && size <= agent::requestCapFor(input));

  std::vector<agent::RelTermIndex> relTerms;
  if (agent::parseRelTermRequest(input, relTerms)) {
    check(!relTerms.empty() && relTerms.size() <= agent::kMaxRelTermIndexes);
    for (const agent::RelTermIndex& index : relTerms)
      check(!index.ids.empty() && index.ids.size() <= agent::kMaxRelTermIds);
  }

  // A request read back builds the same bytes.
  std::vector<render::RemoteRecordGroup> groups;
  std::string rebuilt;
  if (render::parseRecordInfoRequest(input, groups))
    check(render::buildRecordInfoRequest(groups, rebuilt) && rebuilt == input);
  // An answer read back, written again, reads back the same.
  const std::vector<render::RemoteRecordGroup> asked{{"o", "i", {1, 2}}, {"o", "j", {3}}};
  std::vector<std::vector<render::RecordDetails>> details, again;
  if (render::parseRecordInfoAnswer(input, asked, details)) {
    std::string answer;
    for (const auto& group : details) {
      for (const render::RecordDetails& d : group)
        appendRecordSummary(d, answer);
      answer += kGroupEndDelim;
    }
    check(render::parseRecordInfoAnswer(answer, asked, again));
    for (size_t g = 0; g < details.size(); ++g)
      for (size_t r = 0; r < details[g].size(); ++r) {
        const render::RecordDetails &a = details[g][r], &b = again[g][r];
        // Texts are sent cut to kMaxViewText bytes.
        const auto cut = [](const std::string& t) { return t.substr(0, kMaxViewText); };
        check(a.found == b.found && cut(a.fileName) == b.fileName &&
              cut(a.location) == b.location && cut(a.title) == b.title &&
              cut(a.firstLine) == b.firstLine && a.time == b.time && a.hasTime == b.hasTime &&
              a.size == b.size && a.hasSize == b.hasSize);
      }
  }

  // An option is taken only when it is exactly what this host would build.
  SearchRequest options;
  options.sortField = size % 2 ? "none" : "score";
  std::string query;
  if (parseVelaOption(input, options, query))
    check(buildVelaOption(options, query.c_str()) == input);
  return 0;
}
