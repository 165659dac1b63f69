/// @file html_page.cc
/// @brief The HTML result page: what a person needs to pick a hit and open
/// it, the search form to search again, the paging and the ways on (sort
/// choices, related terms, similar keywords, classes, single indexes).

#include <strings.h>

#include <cstdio>
#include <string>

#include "companions/doctext/render_text.h"
#include "companions/renderer/page_writer.h"
#include "system/strings.h"

namespace render {

namespace {

constexpr const char* kStyle =
    // Long unbroken runs in a document ("=====...") must wrap on a phone.
    "body{font-family:sans-serif;margin:1em auto;padding:0 1em;max-width:52em;color:#222;"
    "background:#fff;line-height:1.45;overflow-wrap:anywhere}"
    "a{color:#1558b0}a:visited{color:#6a2a9c}"
    "a:focus-visible,input:focus-visible,button:focus-visible{outline:3px solid #1558b0;"
    "outline-offset:2px}"
    "h1{font-size:1.25em;margin:.6em 0 .3em}"
    "form.search{margin:.5em 0}form.search label{display:block;font-weight:bold;margin-bottom:.2em}"
    ".row{display:flex;gap:.5em}.row input{flex:1;min-width:0;font-size:1.05em;padding:.35em}"
    ".row button{font-size:1.05em;padding:.35em .9em}"
    "ol.hits{padding-left:1.6em}ol.hits li{margin-bottom:1.2em}"
    "h2.title{font-size:1.08em;margin:0;font-weight:normal}"
    ".location{color:#1a6b1a;font-size:90%}.meta{color:#555;font-size:90%}"
    "mark{background:#ffe680;color:#222;padding:0 .1em}"
    ".sort,.paging,.terms,.classes{margin:.8em 0}"
    ".sort a,.sort b,.paging a,.paging b,.classes a,.classes b{display:inline-block;"
    "padding:.25em .4em}"
    ".problem,.missing{font-weight:bold}.suggest{font-size:1.05em}"
    ".scope a{display:inline-block;padding:.2em 0}.scope .rm{white-space:nowrap}"
    // A document's own lines, wrapped at the screen's width.
    ".doc{white-space:pre-wrap;border-top:1px solid #ccc;padding-top:.8em}"
    ".doc.text{font-family:monospace;font-size:.95em}.actions a{display:inline-block;"
    "padding:.2em 0}"
    // A row of a database index, column by column.
    "table.cells{border-collapse:collapse;width:100%}table.cells caption{text-align:left;"
    "color:#555}table.cells th,table.cells td{border-top:1px solid #ccc;padding:.35em .5em;"
    "text-align:left;vertical-align:top}table.cells th{width:30%}";

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

// The search form, filled with the query, that keeps everything else of
// the request (never a permit key: searchFormFields leaves it out).
void searchForm(const ResultPage& page, const LinkContext& links, std::string& out) {
  out += "<form class=\"search\" action=\"" + esc(links.searchUrl) +
         "\" method=\"get\" role=\"search\"><label for=\"query\">Search for</label>"
         "<div class=\"row\"><input type=\"search\" id=\"query\" name=\"query\" value=\"" +
         // A search by fields is no query: the box is for a new one.
         esc(page.fieldClauses.empty() ? page.queryTyped : "") +
         "\" required><button type=\"submit\">Search</button></div>";
  for (const auto& [name, value] : page.searchFields)
    out += "<input type=\"hidden\" name=\"" + esc(name) + "\" value=\"" + esc(value) + "\">";
  // The browser sends what is typed here in the page's UTF-8.
  if (std::string_view(localCharset(page.language)) != "UTF-8")
    out += "<input type=\"hidden\" name=\"query_encoding\" value=\"UTF-8\">";
  out += "</form>\n";
}

// The class the search named, as the result lists it; null when it named
// none. The name wins over the id, as it does in the search.
const ClassEntry* searchedClass(const ResultPage& page) {
  const std::pair<std::string, std::string>* named = nullptr;
  for (const auto& field : page.searchFields) {
    if (field.first == "class_name") {
      named = &field;
      break;
    }
    if (field.first == "class_uid" && !named) named = &field;
  }
  if (!named || named->second.empty() || named->second == "NONE_CLASS_SEARCH") return nullptr;
  const bool byName = named->first == "class_name";
  for (const ClassEntry& c : page.classes) {
    if ((byName ? c.name : localToUtf8(c.uid, page.language)) == named->second) return &c;
  }
  return nullptr;
}

// Where the search looked: an index by name, a class, or all of several.
std::string searchedPlace(const ResultPage& page) {
  // The selected-search descriptor says "all" when no single index was chosen.
  if (page.selectedIndex != "all")
    return page.selectedIndex.empty() ? "" : " in <b>" + esc(page.selectedIndex) + "</b>";
  if (const ClassEntry* c = searchedClass(page)) return " in class <b>" + esc(c->name) + "</b>";
  if (page.searched.size() == 1) {
    const IndexEntry& only = page.searched.front();
    return " in <b>" + esc(only.desc.empty() ? only.name : only.desc) + "</b>";
  }
  return page.searched.empty() ? ""
                               : " in all " + std::to_string(page.searched.size()) + " indexes";
}

// Words the user may have meant, where the eye falls after a search that
// found nothing. (After one that found documents they are offered beside
// the related terms: a word spelt right has look-alikes too.)
void didYouMean(const ResultPage& page, const LinkContext& links, std::string& out) {
  if (page.similarKeywords.empty() || page.queryDisallowed || page.totalHits > 0) return;
  out += "<p class=\"suggest\" id=\"similar-keywords\">Did you mean:";
  for (size_t i = 0; i < page.similarKeywords.size(); ++i) {
    const TermLink& t = page.similarKeywords[i];
    out +=
        (i ? ", " : " ") + anchor(queryLinkUrl(links, page, t.local), "<b>" + esc(t.text) + "</b>");
  }
  out += "?</p>";
}

// The date window in words: either end may be open.
std::string windowText(const ResultPage& page) {
  if (page.dateFrom.empty()) return "dated up to " + esc(page.dateTo);
  if (page.dateTo.empty()) return "dated from " + esc(page.dateFrom) + " on";
  return "dated from " + esc(page.dateFrom) + " to " + esc(page.dateTo);
}

// The value of a variable of the search's own request; "" when absent.
std::string searchField(const ResultPage& page, const char* name) {
  for (const auto& [field, value] : page.searchFields)
    if (field == name) return value;
  return "";
}

// What "Look in" chose, in words; "" for the whole text.
std::string lookInText(const ResultPage& page) {
  static const char* const kPlaces[][2] = {{"title", "titles"},        {"subject", "subjects"},
                                           {"company", "companies"},   {"author", "authors"},
                                           {"filename", "file names"}, {"comment", "comments"},
                                           {"keyword", "keywords"}};
  const std::string chosen = searchField(page, "filenamesearch");
  for (const auto& place : kPlaces)
    if (strcasecmp(chosen.c_str(), place[0]) == 0) return place[1];
  return "";
}

// Kept on one line: a bracket alone at a line's end reads as a stray mark.
std::string removeLink(const std::string& url, const std::string& what) {
  return " <span class=\"rm\">(<a href=\"" + esc(url) + "\" aria-label=\"Search again without " +
         esc(what) + "\">remove</a>)</span>";
}

// Everything that narrowed the search besides its words, each with the
// link that searches again without it, so that a user who sees too few hits
// sees why and widens the search in one click.
void scopeLine(const ResultPage& page, const LinkContext& links, std::string& out) {
  std::vector<std::string> parts;
  const std::string lookIn = lookInText(page);
  if (!lookIn.empty())
    parts.push_back(lookIn + " only <span class=\"rm\">(" +
                    anchor(wholeTextLinkUrl(links, page), "search the whole text") + ")</span>");
  // Indexes the user ticked, each removable while another remains; a class
  // is the administrator's grouping and is changed on the search page.
  const bool byClass = searchedClass(page) != nullptr;
  if (!byClass && page.indexes.size() > 1) {
    std::string list;
    for (const IndexEntry& e : page.indexes) {
      const std::string name = e.desc.empty() ? e.name : e.desc;
      list += (list.empty() ? "" : ", ") + esc(name) +
              removeLink(withoutIndexLinkUrl(links, page, e), name);
    }
    parts.push_back("indexes " + list);
  }
  if (page.dateWindow)
    parts.push_back(windowText(page) + removeLink(allDatesLinkUrl(links, page), "the dates"));
  if (page.fuzzy) parts.push_back("fuzzy matching");
  if (page.thesaurus) parts.push_back("thesaurus");
  if (parts.empty()) return;
  out += "<p class=\"scope\" id=\"scope\">Scope: ";
  for (size_t i = 0; i < parts.size(); ++i)
    out += (i ? "; " : "") + parts[i];
  out += ".</p>";
}

// What a search by fields searched: each clause's field and value, with
// the operators between them.
std::string fieldClausesHtml(const std::vector<FieldClause>& clauses) {
  std::string html;
  for (const FieldClause& c : clauses) {
    if (!c.op.empty()) html += " " + c.op + " ";
    html += (c.field.empty() ? std::string("any field") : esc(c.field)) + " <b>" + esc(c.value) +
            "</b>";
  }
  return html;
}

void summary(const ResultPage& page, const LinkContext& links, std::string& out) {
  out += "<div class=\"summary\" id=\"summary\"><p>";
  const std::string typed = page.fieldClauses.empty() ? "<b>" + esc(page.queryTyped) + "</b>"
                                                      : fieldClausesHtml(page.fieldClauses);
  if (page.queryDisallowed) {
    out += "This query is not allowed.";
  } else if (page.totalHits == 0) {
    out += "No documents match " + typed + searchedPlace(page) + ".";
  } else {
    const int64_t first = (page.page - 1) * page.pageSize + 1;
    const int64_t last = std::min<int64_t>(first + page.pageSize - 1, page.totalHits);
    out += "Results <b>" + grouped(first) + "</b> - <b>" + grouped(last) + "</b> of <b>" +
           grouped(page.totalHits) + "</b> for " + typed + searchedPlace(page);
  }
  out += " (" + seconds(page.runTimeMs) + " seconds)</p>";
  didYouMean(page, links, out);
  if (page.totalHits == 0 && !page.queryDisallowed && page.dateWindow) {
    // The filter emptied the result, not the words: say which, and offer
    // the search without it.
    out += "<p class=\"advice\" id=\"window-emptied\">No document " + windowText(page) +
           " matches. " + anchor(allDatesLinkUrl(links, page), "Search all dates") + "</p>";
  } else if (page.totalHits == 0 && !page.queryDisallowed) {
    out +=
        "<p class=\"advice\">Check the spelling, use fewer or other words, or end a word with * "
        "to find the words it begins.</p>";
  }
  if (!page.queryUnderstood.empty() && page.queryUnderstood != page.queryTyped &&
      page.fieldClauses.empty())
    out += "<p class=\"understood\">Searched for: " + esc(page.queryUnderstood) + "</p>";
  scopeLine(page, links, out);
  out += "</div>\n";
}

// The same choices as the search form.
void sortChoices(const ResultPage& page, const LinkContext& links, std::string& out) {
  static const char* const kFields[][2] = {{"score", "relevance"},
                                           {"date", "date"},
                                           {"size", "size"},
                                           {"filename", "file name"},
                                           {"index", "index"}};
  out += "<nav class=\"sort\" id=\"sort\" aria-label=\"Sort\">Sort by:";
  for (const auto& f : kFields) {
    out += " ";
    out += page.sortField == f[0] ? std::string("<b aria-current=\"true\">") + f[1] + "</b>"
                                  : anchor(sortLinkUrl(links, page, f[0], page.sortOrder), f[1]);
  }
  out += " | Order:";
  for (const char* order : {"desc", "asc"}) {
    const char* label = order[0] == 'd' ? "descending" : "ascending";
    out += " ";
    out += page.sortOrder == order ? std::string("<b aria-current=\"true\">") + label + "</b>"
                                   : anchor(sortLinkUrl(links, page, page.sortField, order), label);
  }
  out += "</nav>\n";
}

std::string snippetHtml(const Snippet& snippet) {
  std::string html = snippet.cutBefore ? "... " : "";
  for (const SnippetPiece& piece : snippet.pieces)
    html += piece.term ? "<mark>" + esc(piece.text) + "</mark>" : esc(piece.text);
  return html + (snippet.cutAfter ? " ..." : "");
}

void hitItem(const HitView& hit, const ResultPage& page, const LinkContext& links,
             std::string& out) {
  const std::string& title = !hit.title.empty()       ? hit.title
                             : !hit.firstLine.empty() ? hit.firstLine
                                                      : hit.fileName;
  // A hit of another host has no document here to open.
  out += "<li class=\"hit\"><h2 class=\"title\">" +
         (hit.local ? anchor(viewLinkUrl(links, page, hit.rank), esc(title)) : esc(title)) +
         "</h2>";
  // The location is text below the source folder: the folder above it is
  // the server's business, and a browser opens no server path anyway.
  const std::string& where = hit.location.empty() ? hit.fileName : hit.location;
  out += "<div class=\"location\">" + esc(where) + "</div>";
  if (!hit.copies.empty()) {
    // Copies of one document are one hit; where the others lie on request.
    out += "<details class=\"copies\"><summary>" + std::to_string(hit.copies.size() + 1) +
           " copies</summary><ul>";
    for (const std::string& copy : hit.copies)
      out += "<li>" + esc(copy) + "</li>";
    out += "</ul></details>";
  }
  if (!hit.snippet.empty()) out += "<div class=\"snippet\">" + snippetHtml(hit.snippet) + "</div>";
  out += "<div class=\"meta\">";
  if (hit.time != 0) out += esc(formatDate(hit.time)) + " - ";
  if (hit.hasSize) out += formatSize(hit.size) + " - ";
  out += "<span class=\"index\">" + esc(hit.indexDesc) + "</span>";
  out += relevanceNote(hit.line.score, page.bestScore);
  if (!hit.similarQuery.empty())
    out += " - " + anchor(queryLinkUrl(links, page, hit.similarQuery), "similar documents");
  out += "</div></li>\n";
}

void hitList(const ResultPage& page, const LinkContext& links, std::string& out) {
  if (!page.hits.empty()) {
    out += "<ol class=\"hits\" start=\"" + std::to_string(page.hits.front().rank) + "\">\n";
    for (const HitView& hit : page.hits)
      hitItem(hit, page, links, out);
    out += "</ol>\n";
  }
  if (page.linesMissing)
    out +=
        "<p class=\"missing\">The rest of this page is still being prepared; please load it "
        "again in a moment.</p>\n";
}

void paging(const ResultPage& page, const LinkContext& links, std::string& out) {
  if (page.pageCount < 2) return;
  out += "<nav class=\"paging\" id=\"paging\" aria-label=\"Result pages\">";
  if (page.page > 1)
    out += anchor(pageLinkUrl(links, page, previousPage(page)), "&laquo; Previous");
  for (int64_t p : pageWindow(page.page, page.pageCount)) {
    out += p == 0           ? std::string("<span>...</span>")
           : p == page.page ? "<b aria-current=\"page\">" + std::to_string(p) + "</b>"
                            : anchor(pageLinkUrl(links, page, p), std::to_string(p));
  }
  if (page.page < page.pageCount)
    out += anchor(pageLinkUrl(links, page, page.page + 1), "Next &raquo;");
  out += "</nav>\n";
}

// A titled list of links that start the search again (with the term's
// refinement of the query where it has one); the place is kept even when
// empty, so that page styles can rely on it.
void termSection(const char* id, const char* title, const std::vector<TermLink>& terms,
                 const ResultPage& page, const LinkContext& links, std::string& out) {
  out += std::string("<div class=\"terms\" id=\"") + id + "\">";
  if (!terms.empty()) {
    out += std::string(title) + ":";
    for (const TermLink& t : terms)
      out += " " +
             anchor(queryLinkUrl(links, page, t.refine.empty() ? t.local : t.refine), esc(t.text));
  }
  out += "</div>\n";
}

// The classes of a class search: the one searched, and the same search in
// each of the others.
void classSection(const ResultPage& page, const LinkContext& links, std::string& out) {
  out += "<div class=\"classes\" id=\"classes\">";
  if (!page.classes.empty()) {
    out += "Classes:";
    const ClassEntry* searched = searchedClass(page);
    for (const ClassEntry& c : page.classes)
      out += " " + (&c == searched ? "<b aria-current=\"true\">" + esc(c.name) + "</b>"
                                   : anchor(classLinkUrl(links, page, c.uid), esc(c.name)));
  }
  out += "</div>\n";
}

// Each index's count leads to the same search over that index alone, where
// there is more than one to choose from.
void indexSection(const ResultPage& page, const LinkContext& links, std::string& out) {
  if (page.indexes.empty()) return;
  out += "<div class=\"indexes\" id=\"indexes\">Indexes searched:<ul>";
  for (const IndexEntry& e : page.indexes) {
    out += "<li>" + esc(e.desc.empty() ? e.name : e.desc) + " - ";
    if (e.matches < 0) {
      out += "not searched";
    } else {
      const std::string count = grouped(e.matches) + (e.matches == 1 ? " hit" : " hits");
      out += page.indexes.size() > 1 && e.matches > 0 ? anchor(indexLinkUrl(links, page, e), count)
                                                      : count;
    }
    out += "</li>";
  }
  out += "</ul></div>\n";
}

// The hits grouped by a field, when the search asked for it.
void groupSection(const ResultPage& page, std::string& out) {
  if (page.groups.empty()) return;
  out += "<div class=\"groups\" id=\"groups\">Grouped by " + esc(page.groupField) + ":<ul>";
  for (const auto& [value, hits] : page.groups)
    out += "<li>" + esc(value) + " - " + grouped(hits) + (hits == 1 ? " hit" : " hits") + "</li>";
  out += "</ul></div>\n";
}

}  // namespace

std::string htmlHead(int language, const std::string& title) {
  return std::string("<!DOCTYPE html>\n<html lang=\"") + htmlLanguage(language) +
         "\"><head><meta charset=\"UTF-8\"><meta name=\"viewport\" content=\"width=device-width, "
         "initial-scale=1\"><title>" +
         esc(title) + "</title><style>" + kStyle + "</style></head><body>\n";
}

std::string htmlResultBody(const ResultPage& page, const LinkContext& links) {
  const std::string query = !page.fieldClauses.empty() ? fieldClausesText(page.fieldClauses)
                            : page.queryTyped.empty()  ? page.queryUnderstood
                                                       : page.queryTyped;
  std::string out = htmlHead(page.language, query.empty() ? "Search" : query + " - Search");
  out += "<header>";
  if (!page.mainPageUrl.empty())
    out += "<p class=\"home\">" + anchor(page.mainPageUrl, "&laquo; Search page") + "</p>";
  searchForm(page, links, out);
  out += "</header>\n<main>\n<h1>Search results</h1>\n";
  summary(page, links, out);
  if (page.totalHits > 0) sortChoices(page, links, out);
  groupSection(page, out);
  hitList(page, links, out);
  paging(page, links, out);
  termSection("related-terms", "Related terms", page.relatedTerms, page, links, out);
  if (page.totalHits > 0)
    termSection("similar-keywords", "Similar words", page.similarKeywords, page, links, out);
  classSection(page, links, out);
  indexSection(page, links, out);
  return out + "</main>\n</body></html>\n";
}

}  // namespace render
