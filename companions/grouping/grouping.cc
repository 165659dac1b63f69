/// @file grouping.cc
/// @brief Grouping of a result's hits by a field of their record lines.

#include "companions/grouping/grouping.h"

#include <algorithm>
#include <map>

#include "output/query_output.h"
#include "system/delimiters.h"
#include "system/secure_file.h"

namespace grouping {

namespace {

// A record line: host, owner, index, score, record id.
constexpr const char* kFields[] = {"host", "owner", "index"};

// The record lines a result may hold; a larger count is a damaged file.
constexpr int kMaxLines = 10000000;

// Field `position` of a record line; "" for a line of fewer than its five
// fields.
std::string field(const std::string& line, int position) {
  const std::string delim = kFieldDelim;
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t at; (at = line.find(delim, start)) != std::string::npos; start = at + delim.size())
    fields.push_back(line.substr(start, at - start));
  fields.push_back(line.substr(start));
  if (fields.size() < 5) return {};
  std::string value = fields[static_cast<size_t>(position)];
  std::replace_if(
      value.begin(), value.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }, ' ');
  return value;
}

}  // namespace

int fieldPosition(const std::string& name) {
  for (int k = 0; k < 3; ++k)
    if (name == kFields[k]) return k;
  return -1;
}

std::vector<std::pair<int64_t, std::string>> groupLines(const std::vector<std::string>& lines,
                                                        int position) {
  std::map<std::string, int64_t> counts;
  for (const std::string& line : lines) {
    const std::string value = field(line, position);
    if (!value.empty()) ++counts[value];
  }
  std::vector<std::pair<int64_t, std::string>> groups;
  for (const auto& [value, count] : counts)
    groups.emplace_back(count, value);
  std::stable_sort(groups.begin(), groups.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  return groups;
}

std::string groupFileText(const std::string& name,
                          const std::vector<std::pair<int64_t, std::string>>& groups) {
  std::string text = name + "\n";
  for (const auto& [count, value] : groups)
    text += std::to_string(count) + "\t" + value + "\n";
  return text;
}

bool groupResultFile(const std::string& result, const std::string& out, const std::string& name,
                     std::string& error) {
  const int position = fieldPosition(name);
  if (position < 0) {
    error = "no field " + name + " (host, owner or index)";
    return false;
  }
  CQueryOutput file;
  if (!file.ReadOutputFile(result)) {
    error = "cannot read the result " + result;
    return false;
  }
  const int count = file.GetMatchCount();
  if (count < 0 || count > kMaxLines) {
    error = "the result " + result + " is damaged";
    return false;
  }
  std::vector<std::string> lines;
  lines.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i)
    lines.push_back(file.GetRecordData(i));
  if (!writeFileExclusive(out, groupFileText(name, groupLines(lines, position)), kResultFileMode)) {
    error = "cannot create " + out;
    return false;
  }
  return true;
}

}  // namespace grouping
