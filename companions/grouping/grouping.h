/// @file grouping.h
/// @brief Groups of the hits of a search result by one field of their
/// record lines, and the ".group" side file the page renderer shows.
///
/// The ".group" file (text, local code page):
///   line 1: the field the hits are grouped by ("host", "owner" or "index")
///   then one line per group, most hits first (ties by value):
///     <hits>\t<value>
/// A value never holds a tab or a line break.

#ifndef SEARCHRUN_COMPANIONS_GROUPING_GROUPING_H
#define SEARCHRUN_COMPANIONS_GROUPING_GROUPING_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace grouping {

// The fields a result can be grouped by, as the position of the field in a
// record line; -1 for any other name.
int fieldPosition(const std::string& field);

// Count per value of field `position` over the record lines, most first.
// Lines with fewer fields are left out.
std::vector<std::pair<int64_t, std::string>> groupLines(const std::vector<std::string>& lines,
                                                        int position);

// The ".group" text of `groups`.
std::string groupFileText(const std::string& field,
                          const std::vector<std::pair<int64_t, std::string>>& groups);

// Reads the result file `result`, groups its hits by `field` and creates
// `out` (never over an existing file or through a link). False with
// `error` set on any failure.
bool groupResultFile(const std::string& result, const std::string& out, const std::string& field,
                     std::string& error);

}  // namespace grouping

#endif  // SEARCHRUN_COMPANIONS_GROUPING_GROUPING_H
