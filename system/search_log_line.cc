/// @file search_log_line.cc
/// @brief Joining and splitting the fields of a search-log line.

#include "system/search_log_line.h"

#include <vector>

namespace {

// The members in line order; begin and end each stand for two fields.
constexpr std::string SearchLogFields::*kMembers[] = {
    &SearchLogFields::begin,  &SearchLogFields::end,        &SearchLogFields::remoteAddr,
    &SearchLogFields::user,   &SearchLogFields::serverName, &SearchLogFields::hostAddress,
    &SearchLogFields::owner,  &SearchLogFields::index,      &SearchLogFields::query,
    &SearchLogFields::records};

}  // namespace

std::string formatSearchLogLine(const SearchLogFields& fields) {
  std::string line;
  for (auto member : kMembers) {
    if (!line.empty()) line += kSearchLogSeparator;
    line += fields.*member;
  }
  if (fields.failed)
    line.append(1, kSearchLogSeparator).append(kFailedSearchMark).append(fields.failure);
  return line;
}

bool splitSearchLogLine(std::string_view line, SearchLogFields& out) {
  std::vector<std::string_view> f;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find(kSearchLogSeparator, start);
    f.push_back(line.substr(start, tab == std::string_view::npos ? tab : tab - start));
    if (tab == std::string_view::npos || f.size() > kSearchLogFieldCount + 1) break;
    start = tab + 1;
  }
  if (f.size() != kSearchLogFieldCount && f.size() != kSearchLogFieldCount + 1) return false;
  out = SearchLogFields();
  if (f.size() == kSearchLogFieldCount + 1) {
    const std::string_view mark = kFailedSearchMark;
    const std::string_view last = f[kSearchLogFieldCount];
    if (last.substr(0, mark.size()) != mark || last.size() == mark.size()) return false;
    out.failed = true;
    out.failure = last.substr(mark.size());
  }
  size_t i = 0;
  for (auto member : kMembers) {
    std::string& field = out.*member;
    field = f[i++];
    if (member == &SearchLogFields::begin || member == &SearchLogFields::end)
      field.append(1, kSearchLogSeparator).append(f[i++]);
  }
  return true;
}
