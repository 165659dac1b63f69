/// @file html_page.cc
/// @brief The HTML result page: what a person needs to pick a hit, the paging
/// and the ways on (sort choices, related terms, similar keywords, classes).

#include <cstdio>
#include <string>

#include "companions/renderer/page_writer.h"
#include "companions/renderer/render_text.h"
#include "system/strings.h"

namespace render {

namespace {

constexpr const char* kStyle =
    // Long unbroken runs in a document ("=====...") must wrap on a phone.
    "body{font-family:sans-serif;margin:1em 2em;overflow-wrap:anywhere}"
    "ol.hits li{margin-bottom:1em}"
    ".file{font-size:110%}.location{color:#1a6b1a;font-size:90%}.snippet "
    "b{background:#ffe680}.meta{color:#555;font-size:90%}"
    ".paging a,.paging b{margin-right:.5em}.sort b{margin-right:.3em}";

std::string esc(std::string_view text) {
  return escapeMarkup(text);
}

std::string anchor(const std::string& url, const std::string& escapedText) {
  return "<a href=\"" + esc(url) + "\">" + escapedText + "</a>";
}

std::string grouped(int64_t n) {
  std::string digits = std::to_string(n);
  RefineMatchCount(digits);
  return digits;
}

std::string seconds(int ms) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", ms / 1000.0);
  return buf;
}

void summary(const ResultPage& page, std::string& out) {
  out += "<div class=\"summary\" id=\"summary\"><p>";
  const std::string typed = "<b>" + esc(page.queryTyped) + "</b>";
  if (page.queryDisallowed) {
    out += "This query is not allowed.";
  } else if (page.totalHits == 0) {
    out += "No documents match " + typed + ".";
  } else {
    const int64_t first = (page.page - 1) * page.pageSize + 1;
    const int64_t last = std::min<int64_t>(first + page.pageSize - 1, page.totalHits);
    out += first > page.totalHits
               ? std::string("Results")
               : "Results <b>" + grouped(first) + "</b> - <b>" + grouped(last) + "</b>";
    out += " of <b>" + grouped(page.totalHits) + "</b> for " + typed;
  }
  // The selected-search descriptor says "all" when no single index was chosen.
  if (page.selectedIndex == "all") {
    out += " in all indexes";
  } else if (!page.selectedIndex.empty()) {
    out += " in <b>" + esc(page.selectedIndex) + "</b>";
  }
  out += " (" + seconds(page.runTimeMs) + " seconds)</p>";
  if (!page.queryUnderstood.empty() && page.queryUnderstood != page.queryTyped)
    out += "<p class=\"understood\">Searched for: " + esc(page.queryUnderstood) + "</p>";
  std::string options;
  if (page.fuzzy) options += " fuzzy matching;";
  if (page.thesaurus) options += " thesaurus;";
  if (!page.dateFrom.empty())
    options += " dated from " + esc(page.dateFrom) + " to " + esc(page.dateTo) + ";";
  if (!options.empty()) out += "<p class=\"options\">Options:" + options + "</p>";
  out += "</div>\n";
}

void sortChoices(const ResultPage& page, const LinkContext& links, std::string& out) {
  static const char* const kFields[][2] = {{"score", "relevance"},
                                           {"date", "date"},
                                           {"size", "size"},
                                           {"filename", "file name"},
                                           {"owner", "owner"}};
  out += "<div class=\"sort\" id=\"sort\">Sort by:";
  for (const auto& f : kFields) {
    out += " ";
    out += page.sortField == f[0] ? std::string("<b>") + f[1] + "</b>"
                                  : anchor(sortLinkUrl(links, page, f[0], page.sortOrder), f[1]);
  }
  out += " | Order:";
  for (const char* order : {"desc", "asc"}) {
    const char* label = order[0] == 'd' ? "descending" : "ascending";
    out += " ";
    out += page.sortOrder == order ? std::string("<b>") + label + "</b>"
                                   : anchor(sortLinkUrl(links, page, page.sortField, order), label);
  }
  out += "</div>\n";
}

std::string snippetHtml(const Snippet& snippet) {
  std::string html = snippet.cutBefore ? "... " : "";
  for (const SnippetPiece& piece : snippet.pieces)
    html += piece.term ? "<b>" + esc(piece.text) + "</b>" : esc(piece.text);
  return html + (snippet.cutAfter ? " ..." : "");
}

void hitItem(const HitView& hit, std::string& out) {
  // The location is text, not a link: a browser opens no server path from a
  // web page, and the folder above it is the server's business.
  out += "<li class=\"hit\"><div class=\"file\">" + esc(hit.fileName) + "</div>";
  const std::string& title = hit.title.empty() ? hit.firstLine : hit.title;
  if (!title.empty() && title != hit.fileName)
    out += "<div class=\"title\">" + esc(title) + "</div>";
  if (!hit.location.empty() && hit.location != hit.fileName)
    out += "<div class=\"location\">" + esc(hit.location) + "</div>";
  if (!hit.snippet.empty()) out += "<div class=\"snippet\">" + snippetHtml(hit.snippet) + "</div>";
  out += "<div class=\"meta\">";
  if (hit.time != 0) out += esc(formatDate(hit.time)) + " - ";
  if (hit.hasSize) out += formatSize(hit.size) + " - ";
  out += "<span class=\"index\">" + esc(hit.indexDesc) + "</span> - score " +
         std::to_string(hit.line.score) + "</div></li>\n";
}

void hitList(const ResultPage& page, std::string& out) {
  if (!page.hits.empty()) {
    out += "<ol class=\"hits\" start=\"" + std::to_string(page.hits.front().rank) + "\">\n";
    for (const HitView& hit : page.hits)
      hitItem(hit, out);
    out += "</ol>\n";
  }
  if (page.linesMissing)
    out +=
        "<p class=\"missing\">The rest of this page is still being prepared; please load it "
        "again in a moment.</p>\n";
}

void paging(const ResultPage& page, const LinkContext& links, std::string& out) {
  if (page.pageCount < 2) return;
  out += "<div class=\"paging\" id=\"paging\">";
  if (page.page > 1)
    out += anchor(pageLinkUrl(links, page, previousPage(page)), "&laquo; Previous");
  for (int64_t p : pageWindow(page.page, page.pageCount)) {
    out += p == 0           ? std::string("<span>...</span>")
           : p == page.page ? "<b>" + std::to_string(p) + "</b>"
                            : anchor(pageLinkUrl(links, page, p), std::to_string(p));
  }
  if (page.page < page.pageCount)
    out += anchor(pageLinkUrl(links, page, page.page + 1), "Next &raquo;");
  out += "</div>\n";
}

// A titled list of links that start the search again; the place is kept
// even when empty, so that page styles can rely on it.
void termSection(const char* id, const char* title, const std::vector<TermLink>& terms,
                 const ResultPage& page, const LinkContext& links, std::string& out) {
  out += std::string("<div class=\"terms\" id=\"") + id + "\">";
  if (!terms.empty()) {
    out += std::string(title) + ":";
    for (const TermLink& t : terms)
      out += " " + anchor(queryLinkUrl(links, page, t.local), esc(t.text));
  }
  out += "</div>\n";
}

void classSection(const ResultPage& page, const LinkContext& links, std::string& out) {
  out += "<div class=\"classes\" id=\"classes\">";
  if (!page.classes.empty()) {
    out += "Classes:";
    for (const ClassEntry& c : page.classes)
      out += " " + anchor(classLinkUrl(links, page, c.uid), esc(c.name));
  }
  out += "</div>\n";
}

void indexSection(const ResultPage& page, std::string& out) {
  if (page.indexes.empty()) return;
  out += "<div class=\"indexes\" id=\"indexes\">Indexes searched:<ul>";
  for (const IndexEntry& e : page.indexes) {
    out += "<li>" + esc(e.desc.empty() ? e.name : e.desc) + " - ";
    out += e.matches < 0 ? std::string("not searched") : grouped(e.matches) + " hits";
    out += "</li>";
  }
  out += "</ul></div>\n";
}

}  // namespace

std::string htmlResultBody(const ResultPage& page, const LinkContext& links) {
  const std::string query = page.queryTyped.empty() ? page.queryUnderstood : page.queryTyped;
  std::string out =
      "<!DOCTYPE html>\n<html><head><meta charset=\"UTF-8\"><title>Search: " + esc(query) +
      "</title><style>" + kStyle + "</style></head><body>\n";
  if (!page.mainPageUrl.empty())
    out += "<p class=\"home\">" + anchor(page.mainPageUrl, "New search") + "</p>\n";
  summary(page, out);
  if (page.totalHits > 0) sortChoices(page, links, out);
  hitList(page, out);
  paging(page, links, out);
  termSection("related-terms", "Related terms", page.relatedTerms, page, links, out);
  termSection("similar-keywords", "Similar keywords", page.similarKeywords, page, links, out);
  classSection(page, links, out);
  indexSection(page, out);
  return out + "</body></html>\n";
}

}  // namespace render
