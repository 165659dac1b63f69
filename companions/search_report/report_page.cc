/// @file report_page.cc
/// @brief Writing the search report page.

#include "companions/search_report/report_page.h"

#include <algorithm>
#include <cstdio>

#include "companions/doctext/render_text.h"
#include "system/layout.h"

namespace report {

namespace {

constexpr const char* kStyle =
    "body{font-family:system-ui,sans-serif;margin:0 auto;max-width:60em;padding:0 1em 2em;"
    "color:#222;line-height:1.4}"
    "h1{font-size:1.5em}h2{font-size:1.2em;margin-top:1.5em}"
    "table{width:100%;border-collapse:collapse}"
    "th,td{text-align:left;padding:.3em .4em;border-bottom:1px solid #ddd;vertical-align:top}"
    ".n{text-align:right;white-space:nowrap}.q{overflow-wrap:anywhere}"
    "dl{display:grid;grid-template-columns:auto 1fr;gap:.2em 1em}dd{margin:0}"
    "figure{margin:0}.chart{overflow-x:auto}svg{display:block;width:100%;max-width:32em;height:"
    "auto}"
    ".nw{white-space:nowrap}svg text{font-size:13px;fill:#555}svg .bar rect{fill:#3b6ea5}svg "
    "line{stroke:#bbb}"
    "figcaption{font-size:.9em;color:#555}.note{background:#fff4d6;padding:.5em}"
    "@media (max-width:30em){.wide{display:none}}";

// Chart geometry in SVG units: a month of days fits a phone's width with
// its text still readable.
constexpr int kStep = 12;
constexpr int kCharWidth = 8;  // of a digit at the chart's font size
constexpr int kTop = 16;
constexpr int kPlot = 100;
constexpr int kBottom = 22;

std::string escape(const std::string& utf8) {
  return render::escapeMarkup(utf8);
}

class Writer {
 public:
  explicit Writer(int language) : language_(language) {}

  // A text of the log: the installation's code page, shown as UTF-8.
  std::string logText(const std::string& local) const {
    return escape(render::localToUtf8(local, language_));
  }

  std::string queryCell(const std::string& query) const {
    std::string cell = "<td class=\"q\"" + langAttribute() + ">";
    // The log writes "NULL" for a search that had no query variable.
    cell += query.empty()     ? "<em>(empty)</em>"
            : query == "NULL" ? "<em>(no query)</em>"
                              : logText(query);
    return cell + "</td>";
  }

 private:
  // Log texts of a CJK installation are marked so that the right glyphs are
  // chosen; the page's own words are English.
  std::string langAttribute() const {
    switch (language_) {
      case kLangCH:
        return " lang=\"zh-Hant\"";
      case kLangJP:
        return " lang=\"ja\"";
      case kLangGB:
        return " lang=\"zh-Hans\"";
      default:
        return "";
    }
  }

  int language_;
};

std::string number(uint64_t n) {
  return std::to_string(n);
}

// A time that breaks between its date and its clock, never inside them.
std::string when(const Stamp& s) {
  const std::string text = s.text();
  const size_t blank = text.find(' ');
  return "<span class=\"nw\">" + text.substr(0, blank) + "</span> <span class=\"nw\">" +
         text.substr(blank + 1) + "</span>";
}

// "1 line", "2 lines"
std::string counted(uint64_t n, const char* one, const char* more) {
  return number(n) + " " + (n == 1 ? one : more);
}

std::string numberCell(uint64_t n) {
  return "<td class=\"n\">" + number(n) + "</td>";
}

std::string section(const std::string& id, const std::string& heading, const std::string& body) {
  return "<section id=\"" + id + "\"><h2>" + heading + "</h2>\n" + body + "</section>\n";
}

std::string queryTable(const Writer& w, const std::vector<QueryCount>& rows, bool withoutHits) {
  if (rows.empty()) {
    return withoutHits ? "<p>No search without hits.</p>\n" : "<p>No searches.</p>\n";
  }
  std::string t = "<table><thead><tr><th class=\"n\">#</th><th>Query</th>";
  t += withoutHits ? "<th class=\"n\">Searches</th>"
                   : "<th class=\"n\">Searches</th><th class=\"n wide\">Without hits</th>";
  t += "<th class=\"wide\">Last searched</th></tr></thead><tbody>\n";
  size_t rank = 0;
  for (const QueryCount& q : rows) {
    t += "<tr>" + numberCell(++rank) + w.queryCell(q.query);
    if (withoutHits) {
      t += numberCell(q.withoutHits);
    } else {
      t += numberCell(q.searches);
      t += "<td class=\"n wide\">" + number(q.withoutHits) + "</td>";
    }
    t += "<td class=\"wide\">" + when(q.last) + "</td></tr>\n";
  }
  return t + "</tbody></table>\n";
}

std::string slowTable(const Writer& w, const std::vector<SlowSearch>& rows) {
  if (rows.empty()) return "<p>No searches.</p>\n";
  std::string t =
      "<table><thead><tr><th class=\"n\">Seconds</th><th>Query</th><th>Began</th>"
      "<th class=\"wide\">Index</th><th class=\"n\">Hits</th></tr></thead><tbody>\n";
  for (const SlowSearch& s : rows) {
    t += "<tr><td class=\"n\">" + formatSeconds(s.millis) + "</td>" + w.queryCell(s.query) +
         "<td>" + when(s.begin) + "</td><td class=\"wide\">" + w.logText(s.index) + "</td>" +
         numberCell(s.records) + "</tr>\n";
  }
  return t + "</tbody></table>\n";
}

std::string summary(const SearchStats& s) {
  auto item = [](const char* term, const std::string& value) {
    return std::string("<dt>") + term + "</dt><dd>" + value + "</dd>";
  };
  return "<dl>" + item("Searches", number(s.searches())) +
         item("Different queries", number(s.distinctQueries())) +
         item("Searches without hits", number(s.searchesWithoutHits())) +
         item("Failed searches", number(s.failedSearches())) +
         item("Mean time", formatSeconds(s.meanMillis()) + " s") +
         item("Days with a log", number(s.filesRead())) + "</dl>\n";
}

const char* why(LogFileResult::Status status) {
  switch (status) {
    case LogFileResult::Status::kNotRegular:
      return "not a regular file (a link, a folder or a device is never read)";
    case LogFileResult::Status::kTooLarge:
      return "too large";
    case LogFileResult::Status::kUnreadable:
      return "cannot be read";
    default:
      return "";
  }
}

std::string skipped(const SearchStats& s) {
  std::string out;
  for (const SkippedFile& f : s.skippedFiles())
    out += "<li>" + escape(f.name) + ": " + why(f.why) + "</li>\n";
  if (s.longLines() > 0)
    out += "<li>" + counted(s.longLines(), "line", "lines") + " over 8 KiB</li>\n";
  if (s.malformedLines() > 0)
    out += "<li>" + counted(s.malformedLines(), "line", "lines") + " of another form</li>\n";
  if (s.outsideWindow() > 0)
    out += "<li>" + counted(s.outsideWindow(), "search", "searches") +
           " dated outside these days</li>\n";
  return out.empty() ? "" : section("skipped", "Not counted", "<ul>" + out + "</ul>\n");
}

std::string hourChart(const SearchStats& s) {
  std::vector<Bar> bars;
  for (int h = 0; h < 24; ++h) {
    char title[32];
    std::snprintf(title, sizeof title, "%02d:00-%02d:59", h, h);
    const uint64_t n = s.perHour()[static_cast<size_t>(h)];
    bars.push_back({std::to_string(h), std::to_string(h),
                    std::string(title) + ": " + counted(n, "search", "searches"), n});
  }
  return barChart(bars, "Searches by the hour they began, local time");
}

std::string dayChart(const SearchStats& s) {
  std::vector<Bar> bars;
  const int64_t first = s.first().serial();
  for (int i = 0; i < s.days(); ++i) {
    const Day d = Day::fromSerial(first + i);
    const uint64_t n = s.perDay()[static_cast<size_t>(i)];
    bars.push_back(
        {d.iso(), d.iso().substr(5), d.iso() + ": " + counted(n, "search", "searches"), n});
  }
  return barChart(bars, "Searches per day, " + s.first().iso() + " to " + s.last().iso());
}

}  // namespace

std::string formatSeconds(int64_t millis) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(millis / 1000),
                static_cast<long long>(millis % 1000));
  return text;
}

std::string barChart(const std::vector<Bar>& bars, const std::string& caption) {
  uint64_t max = 0;
  size_t longestLabel = 1;
  for (const Bar& b : bars) {
    max = std::max(max, b.value);
    longestLabel = std::max(longestLabel, b.label.size());
  }
  const int n = static_cast<int>(bars.size());
  const int left = 8 + static_cast<int>(number(max).size()) * kCharWidth;
  const int height = kTop + kPlot + kBottom;
  const int base = kTop + kPlot;
  // Every so many bars a label, so that labels never touch.
  const int labelWidth = static_cast<int>(longestLabel) * kCharWidth + 4;
  const int stride = std::max(1, (labelWidth + kStep - 1) / kStep);
  const int width = left + n * kStep + std::max(4, labelWidth / 2);
  std::string svg = "<figure><div class=\"chart\"><svg viewBox=\"0 0 " + std::to_string(width) +
                    " " + std::to_string(height) + "\" role=\"img\" aria-label=\"" +
                    escape(caption) + "\" style=\"min-width:" + std::to_string(n * 6 + 40) +
                    "px\">\n";
  const std::string top = std::to_string(kTop), bottom = std::to_string(base);
  svg += "<line x1=\"" + std::to_string(left) + "\" x2=\"" + std::to_string(width) + "\" y1=\"" +
         top + "\" y2=\"" + top + "\"/><line x1=\"" + std::to_string(left) + "\" x2=\"" +
         std::to_string(width) + "\" y1=\"" + bottom + "\" y2=\"" + bottom + "\"/>\n";
  svg += "<text x=\"" + std::to_string(left - 4) + "\" y=\"" + std::to_string(kTop + 4) +
         "\" text-anchor=\"end\">" + number(max) + "</text><text x=\"" + std::to_string(left - 4) +
         "\" y=\"" + std::to_string(base) + "\" text-anchor=\"end\">0</text>\n";
  for (int i = 0; i < n; ++i) {
    const Bar& b = bars[static_cast<size_t>(i)];
    const int h = max == 0 ? 0 : static_cast<int>(b.value * kPlot / max);
    const int x = left + i * kStep;
    svg += "<g class=\"bar\" data-key=\"" + escape(b.key) + "\" data-count=\"" + number(b.value) +
           "\"><title>" + escape(b.title) + "</title><rect x=\"" + std::to_string(x + 2) +
           "\" y=\"" + std::to_string(base - h) + "\" width=\"" + std::to_string(kStep - 4) +
           "\" height=\"" + std::to_string(h) + "\"/></g>";
    if (!b.label.empty() && i % stride == 0) {
      svg += "<text x=\"" + std::to_string(x + kStep / 2) + "\" y=\"" + std::to_string(base + 16) +
             "\" text-anchor=\"middle\">" + escape(b.label) + "</text>";
    }
    svg += "\n";
  }
  return svg + "</svg></div><figcaption>" + escape(caption) + "</figcaption></figure>\n";
}

std::string renderReportPage(const SearchStats& stats, const PageContext& context) {
  const Writer w(context.language);
  const std::string window = stats.first().iso() + " to " + stats.last().iso();
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>Search report " +
      window + "</title><style>" + kStyle + "</style></head><body>\n<h1>Search report</h1>\n";
  page += "<p>" + number(static_cast<uint64_t>(stats.days())) +
          (stats.days() == 1 ? " day, " : " days, ") + window + ". Made " + escape(context.madeAt) +
          ".</p>\n";
  if (!context.logOn) {
    page +=
        "<p class=\"note\">The search log is off: OutputQueryInfo=Y in "
        "setting/ts_adv_log.cfg turns it on.</p>\n";
  }
  if (!context.logFolder) page += "<p class=\"note\">The search log folder cannot be read.</p>\n";
  page += section("summary", "Summary", summary(stats));
  page += section("per-day", "Searches per day", dayChart(stats));
  page += section("per-hour", "Searches per hour of the day", hourChart(stats));
  page += section("top-queries", "Top queries", queryTable(w, stats.topQueries(), false));
  page +=
      section("no-hits", "Queries without hits", queryTable(w, stats.queriesWithoutHits(), true));
  page += section("slowest", "Slowest searches", slowTable(w, stats.slowest()));
  page += skipped(stats);
  return page + "</body></html>\n";
}

}  // namespace report
