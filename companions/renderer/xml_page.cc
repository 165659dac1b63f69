/// @file xml_page.cc
/// @brief The result page for programs (XML, page_writer.h gives its
/// structure) and for small devices (a WML deck).

#include <string>

#include "companions/doctext/render_text.h"
#include "companions/renderer/page_writer.h"

namespace render {

namespace {

std::string esc(std::string_view text) {
  return escapeMarkup(text);
}

std::string element(const char* name, std::string_view text) {
  return std::string("<") + name + ">" + esc(text) + "</" + name + ">";
}

std::string attr(const char* name, std::string_view value) {
  return std::string(" ") + name + "=\"" + esc(value) + "\"";
}

std::string attr(const char* name, int64_t value) {
  return attr(name, std::to_string(value));
}

const char* versionOf(PageFormat format) {
  return format == PageFormat::kXml3 ? "3" : format == PageFormat::kXml2 ? "2" : "1";
}

void xmlHit(const HitView& hit, const ResultPage& page, const LinkContext& links,
            std::string& out) {
  const int bestScore = page.bestScore;
  out += "<hit" + attr("rank", hit.rank) + ">";
  out += element("file", hit.fileName);
  out += element("title", hit.title.empty() ? hit.firstLine : hit.title);
  if (!hit.location.empty()) out += element("location", hit.location);
  if (hit.time != 0)
    out += "<date" + attr("epoch", hit.time) + ">" + esc(formatIsoDate(hit.time)) + "</date>";
  if (hit.hasSize) out += "<size" + attr("bytes", hit.size) + "/>";
  out += "<index" + attr("id", hit.line.index) + attr("owner", hit.line.owner) +
         attr("host", hit.line.host) + ">" + esc(hit.indexDesc) + "</index>";
  out += "<score>" + std::to_string(hit.line.score) + "</score>";
  const std::string relevance = relevanceWord(hit.line.score, bestScore);
  if (!relevance.empty()) out += element("relevance", relevance);
  out += "<record>" + std::to_string(hit.line.recid) + "</record>";
  if (!hit.copies.empty()) {
    out += "<copies" + attr("count", static_cast<int64_t>(hit.copies.size() + 1)) + ">";
    for (const std::string& copy : hit.copies)
      out += element("copy", copy);
    out += "</copies>";
  }
  out += element("snippet", snippetText(hit.snippet));
  // A row of this host opens as its cells (a program has its fields here
  // only through that view).
  if (hit.local && !hit.fields.empty()) out += element("view", viewLinkUrl(links, page, hit.rank));
  out += "</hit>\n";
}

void xmlTerms(const char* list, const char* item, const std::vector<TermLink>& terms,
              std::string& out) {
  out += std::string("<") + list + ">";
  for (const TermLink& t : terms) {
    out += std::string("<") + item + (t.score >= 0 ? attr("score", t.score) : "") + ">" +
           esc(t.text) + "</" + item + ">";
  }
  out += std::string("</") + list + ">\n";
}

// WML reads "$" as the start of a variable.
std::string wmlEsc(std::string_view text) {
  std::string out;
  for (char c : esc(text))
    out += c == '$' ? "$$" : std::string(1, c);
  return out;
}

}  // namespace

std::string xmlResultBody(const ResultPage& page, const LinkContext& links) {
  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<search_result" +
                    attr("version", versionOf(links.request.format)) + ">\n<query>";
  out += element("typed", page.queryTyped) + element("understood", page.queryUnderstood);
  if (page.queryDisallowed) out += "<disallowed/>";
  // A search by fields: each clause, what the search was instead of a query.
  if (!page.fieldClauses.empty()) {
    out += "<fields>";
    for (const FieldClause& c : page.fieldClauses)
      out += "<field" + (c.op.empty() ? "" : attr("op", c.op)) +
             (c.field.empty() ? "" : attr("name", c.field)) + ">" + esc(c.value) + "</field>";
    out += "</fields>";
  }
  out += "<terms>";
  for (const std::string& t : page.terms)
    out += element("term", t);
  out += "</terms></query>\n" + element("index", page.selectedIndex) + "\n";
  out += "<run_time" + attr("ms", page.runTimeMs) + "/><sort" + attr("field", page.sortField) +
         attr("order", page.sortOrder) + "/>\n";
  if (page.dateWindow)
    out += "<date_window" + attr("from", page.dateFrom) + attr("to", page.dateTo) + "/>\n";
  out += "<hits" + attr("total", page.totalHits) + attr("page", page.page) +
         attr("per_page", page.pageSize) + attr("pages", page.pageCount) +
         attr("count", static_cast<int64_t>(page.hits.size())) +
         attr("complete", page.linesMissing ? "no" : "yes") + ">\n";
  for (const HitView& hit : page.hits)
    xmlHit(hit, page, links, out);
  out += "</hits>\n";
  xmlTerms("related_terms", "term", page.relatedTerms, out);
  xmlTerms("similar_keywords", "keyword", page.similarKeywords, out);
  out += "<classes>";
  for (const ClassEntry& c : page.classes)
    out += "<class" + attr("uid", c.uid) + ">" + esc(c.name) + "</class>";
  out += "</classes>\n<indexes>";
  for (const IndexEntry& e : page.indexes)
    out += "<index" + attr("id", e.name) + attr("owner", e.owner) + attr("hits", e.matches) + ">" +
           esc(e.desc) + "</index>";
  return out + "</indexes>\n</search_result>\n";
}

std::string wmlResultBody(const ResultPage& page, const LinkContext& links) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE wml PUBLIC \"-//WAPFORUM//DTD WML "
      "1.1//EN\" \"http://www.wapforum.org/DTD/wml_1.1.xml\">\n<wml><card id=\"result\" "
      "title=\"Search\"><p>";
  out += page.queryDisallowed
             ? std::string("This query is not allowed.")
             : std::to_string(page.totalHits) + " hits for " + wmlEsc(page.queryTyped);
  out += "</p>\n";
  for (const HitView& hit : page.hits) {
    out += "<p>" + std::to_string(hit.rank) + ". " + wmlEsc(hit.fileName);
    const std::string& title = hit.title.empty() ? hit.firstLine : hit.title;
    if (!title.empty()) out += "<br/>" + wmlEsc(title);
    if (hit.time != 0) out += "<br/>" + wmlEsc(formatDate(hit.time));
    out += "</p>\n";
  }
  out += "<p>";
  if (page.page > 1)
    out += "<a href=\"" + wmlEsc(pageLinkUrl(links, page, previousPage(page))) + "\">Previous</a> ";
  if (page.page < page.pageCount)
    out += "<a href=\"" + wmlEsc(pageLinkUrl(links, page, page.page + 1)) + "\">Next</a>";
  return out + "</p></card></wml>\n";
}

}  // namespace render
