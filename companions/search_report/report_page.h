/// @file report_page.h
/// @brief The search report as one self-contained HTML page: no script and
/// no external resource (the site's Content-Security-Policy allows neither),
/// inline style and inline SVG bar charts, readable on a phone.

#ifndef SEARCHRUN_COMPANIONS_SEARCH_REPORT_REPORT_PAGE_H
#define SEARCHRUN_COMPANIONS_SEARCH_REPORT_REPORT_PAGE_H

#include <cstdint>
#include <string>
#include <vector>

#include "companions/search_report/search_stats.h"

namespace report {

struct PageContext {
  int language = -1;      // the installation's (layout.h codes): the code page of the log texts
  std::string madeAt;     // local time the report was made
  bool logOn = true;      // OutputQueryInfo=Y
  bool logFolder = true;  // the log directory could be opened
};

// One bar of a chart.
struct Bar {
  std::string key;    // data-key of the bar, for readers of the page
  std::string label;  // under the bar ("" for none)
  std::string title;  // shown when pointed at
  uint64_t value = 0;
};

// An SVG bar chart, as wide as its container; charts of many bars keep a
// least width and scroll inside their frame instead of widening the page.
std::string barChart(const std::vector<Bar>& bars, const std::string& caption);

// The whole page.
std::string renderReportPage(const SearchStats& stats, const PageContext& context);

// Milliseconds as seconds with three decimals ("7.250").
std::string formatSeconds(int64_t millis);

}  // namespace report

#endif  // SEARCHRUN_COMPANIONS_SEARCH_REPORT_REPORT_PAGE_H
