/// @file renderer_fixture.h
/// @brief Helpers of the renderer tests: query output files written with the
/// query program's own writer, record lines and descriptors, a checker that
/// tells whether an answer is well-formed XML, and a strict JSON reader.

#ifndef SEARCHRUN_TESTS_RENDERER_RENDERER_FIXTURE_H
#define SEARCHRUN_TESTS_RENDERER_RENDERER_FIXTURE_H

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>
#include <cstdint>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "output/query_output.h"
#include "tests/json.h"
#include "tests/test_util.h"

namespace rendertest {

constexpr const char* D = "\x12\x13\x14";

inline std::string recordLine(const std::string& owner, const std::string& index, int score,
                              int recid, const std::string& host = "127.0.0.1") {
  return host + ":20001" + D + owner + D + index + D + std::to_string(score) + D +
         std::to_string(recid) + "\n";
}

inline std::string descriptor(const std::string& owner, const std::string& desc,
                              const std::string& index, const std::string& host = "127.0.0.1") {
  return host + D + owner + D + desc + D + index + D + "20001" + D;
}

// What a query output file holds, with the values a plain search gives.
struct ResultSpec {
  std::string user = "TESSERA";
  int perPage = 10, recordCount = INT_MIN;  // INT_MIN: as many as lines
  std::string sortField = "score";
  std::string mainPage = "NONE", queryUrl = "user=TESSERA&query=report";
  std::string keyword = "report", term = "report", relTerms;
  std::string selected = std::string(" ") + D + " " + D + "all";
  std::vector<std::string> descriptors, lines;
};

// A side file as searchrun leaves it: readable and writable by its account only.
inline void writePrivate(const std::string& path, const std::string& bytes) {
  testutil::writeFile(path, bytes);
  chmod(path.c_str(), 0600);
}

// The result file as searchrun leaves it (mode 0600, whatever the umask).
inline bool writeResult(const std::string& path, const ResultSpec& s) {
  CQueryOutput out;
  if (!out.WriteOutputFile(path)) return false;
  const int n = static_cast<int>(s.lines.size());
  out.SetQueryMatchCount(n);
  out.SetRecordCount(s.recordCount == INT_MIN ? n : s.recordCount);
  out.SetSortField(s.sortField.c_str());
  out.SetSortOrder("desc");
  out.SetMainPageUrl(s.mainPage);
  out.SetRelTermOption(1);
  out.SetOutputCountPerPage(s.perPage);
  out.SetMatchMode(2);
  out.SetQueryUser(s.user);
  out.SetMultiDbCount(static_cast<int>(s.descriptors.size()));
  out.OutputSetData();
  out.OutputQueryInfo(s.queryUrl, s.keyword, s.term, s.selected, s.relTerms);
  out.OutputMultiDbInfo();
  for (size_t i = 0; i < s.descriptors.size(); ++i)
    out.OutputMultiDbURL(static_cast<int>(i), s.descriptors[i]);
  out.OutputRecordDataInfo();
  for (int i = 0; i < n; ++i)
    out.OutputRecordData(i, s.lines[i]);
  return out.CloseOutputFile() && chmod(path.c_str(), 0600) == 0;
}

// Enough XML for the renderer's answers: an optional declaration and
// DOCTYPE, one root element with balanced tags, double-quoted attributes, the
// predefined and numeric entities only, no control character XML cannot carry.
inline bool wellFormedXml(const std::string& xml, std::string& why) {
  static const std::regex bad(
      R"(&(?!(amp|lt|gt|quot|apos|#[0-9]+);)|[\x00-\x08\x0B\x0C\x0E-\x1F])");
  static const std::regex token(
      R"((<[?!][^>]*>)|<(/?)([\w:-]+)(?:\s+[\w:-]+="[^"<]*")*\s*(/?)>|[^<]+)");
  if (std::regex_search(xml, bad)) return why = "bad entity or control character", false;
  std::vector<std::string> open;
  int roots = 0;
  size_t pos = 0;
  for (std::sregex_iterator it(xml.begin(), xml.end(), token), end; it != end; ++it) {
    const std::smatch& m = *it;
    if (static_cast<size_t>(m.position()) != pos) break;  // a "<" that opens no tag
    pos += m.length();
    if (m[1].matched || !m[3].matched) {  // a declaration, or text
      const bool blank = !m[1].matched && m.str().find_first_not_of(" \n") == std::string::npos;
      if (open.empty() && !blank && (roots > 0 || !m[1].matched))
        return why = "outside the root element: " + m.str(), false;
      continue;
    }
    if (open.empty() && roots++ > 0) return why = "a second root element", false;
    if (m.length(2) == 0) {
      if (m.length(4) == 0) open.push_back(m.str(3));
    } else if (open.empty() || open.back() != m.str(3)) {
      return why = "unbalanced " + m.str(), false;
    } else {
      open.pop_back();
    }
  }
  if (pos != xml.size() || !open.empty() || roots != 1)
    return why = "bad tag, unclosed or no root element at " + std::to_string(pos), false;
  return true;
}

// Every part stands somewhere in the page.
inline void expectParts(const std::string& page, const std::vector<std::string>& parts) {
  for (const std::string& part : parts)
    EXPECT_NE(page.find(part), std::string::npos) << part << "\n" << page;
}

// No part stands anywhere in the page.
inline void expectNone(const std::string& page, const std::vector<std::string>& parts) {
  for (const std::string& part : parts)
    EXPECT_EQ(page.find(part), std::string::npos) << part << "\n" << page;
}

using testjson::Json;

// Reads `text` as strictly as a program reading the answer would (half a
// surrogate pair is no text); false with the reason in `why` otherwise.
inline bool parseJson(const std::string& text, Json& out, std::string& why) {
  std::optional<Json> value = Json::parse(text, 64, Json::LoneSurrogates::kRefused, &why);
  if (value) out = std::move(*value);
  return value.has_value();
}

}  // namespace rendertest

#endif  // SEARCHRUN_TESTS_RENDERER_RENDERER_FIXTURE_H
