/// @file page_writer.cc
/// @brief Answers, links and the problem pages shared by every format.

#include "companions/renderer/page_writer.h"

#include <algorithm>

#include "access/cookie_permit.h"
#include "cgi/cgi_codec.h"
#include "companions/doctext/render_text.h"
#include "output/msg_report.h"
#include "system/address.h"
#include "system/cookie_scope.h"

namespace render {

namespace {

constexpr const char* kHtmlType = "text/html; charset=UTF-8";
constexpr const char* kXmlType = "text/xml; charset=UTF-8";
constexpr const char* kWmlType = "text/vnd.wap.wml; charset=UTF-8";
constexpr const char* kJsonType = "application/json; charset=utf-8";

const char* contentType(PageFormat format) {
  if (isXmlFormat(format)) return kXmlType;
  if (format == PageFormat::kJson) return kJsonType;
  return format == PageFormat::kWml ? kWmlType : kHtmlType;
}

// A link that starts the query program again: the search's own request with
// the paging of the renderer dropped, `drop` removed and `add` set.
std::string searchAgainUrl(const LinkContext& links, const ResultPage& page,
                           std::vector<std::string> drop,
                           const std::vector<std::pair<std::string, std::string>>& add) {
  drop.push_back("outcgipage");
  drop.push_back("ks_key");
  return links.searchUrl + "?" + rewriteQueryString(page.queryUrl, drop, add);
}

// The index_id by which a search names `index` (with its agent's port when
// it lies on another host).
std::string indexUid(const IndexEntry& index) {
  std::string uid;
  make_index_uid(index.host.c_str(), index.name.c_str(), uid);
  if (!index.port.empty()) uid += "$" + index.port;
  return uid;
}

}  // namespace

std::string CgiAnswer::header() const {
  std::string head;
  if (status != 200)
    head += "Status: " + std::to_string(status) + " " + httpReasonPhrase(status) + "\n";
  head += "Content-Type: " + contentType + "\n";
  if (!contentDisposition.empty()) head += "Content-Disposition: " + contentDisposition + "\n";
  head += "X-Content-Type-Options: nosniff\n";
  head += std::string("Content-Security-Policy: ") +
          (sandbox ? kSandboxPolicy : kContentSecurityPolicy) + "\n";
  // Result names and queries stay on this site.
  head += "Referrer-Policy: no-referrer\n";
  if (noStore) head += "Cache-Control: no-store\n";
  if (!permitCookie.empty() && permitKeyIsWellFormed(permitCookie.c_str())) {
    head += "Set-Cookie: ks_key=" + permitCookie + "; Path=" + ::cookiePath(cookiePath.c_str()) +
            "; HttpOnly; SameSite=Strict";
    head += secureCookie ? "; Secure\n" : "\n";
  }
  return head + "\n";
}

std::string CgiAnswer::text() const {
  return header() + body;
}

CgiAnswer renderResultPage(const ResultPage& page, const LinkContext& links) {
  const PageFormat format = links.request.format;
  CgiAnswer answer;
  answer.contentType = contentType(format);
  answer.noStore = page.user != kBuiltInUser;
  answer.body = isXmlFormat(format)           ? xmlResultBody(page, links)
                : format == PageFormat::kWml  ? wmlResultBody(page, links)
                : format == PageFormat::kJson ? jsonResultBody(page, links)
                                              : htmlResultBody(page, links);
  return answer;
}

// The HTML problem page: what went wrong, then the ways on.
std::string problemHtml(const Problem& p, int language, const LinkContext& links) {
  std::string body = htmlHead(language, "Search") + "<main><h1>Search</h1><p class=\"problem\">" +
                     escapeMarkup(p.message) + "</p>\n";
  if (!p.againUrl.empty())
    body += "<p class=\"again\"><a href=\"" + escapeMarkup(p.againUrl) +
            "\">Run the search again</a></p>\n";
  if (p.searchKnown) {
    body += "<form class=\"search\" action=\"" + escapeMarkup(links.searchUrl) +
            "\" method=\"get\" role=\"search\"><label for=\"query\">Search again</label>"
            "<div class=\"row\"><input type=\"search\" id=\"query\" name=\"query\" value=\"" +
            escapeMarkup(p.query) + "\" required><button type=\"submit\">Search</button></div>";
    for (const auto& [name, value] : p.fields)
      body += "<input type=\"hidden\" name=\"" + escapeMarkup(name) + "\" value=\"" +
              escapeMarkup(value) + "\">";
    // The browser sends what is typed here in the page's UTF-8.
    if (std::string_view(localCharset(language)) != "UTF-8")
      body += "<input type=\"hidden\" name=\"query_encoding\" value=\"UTF-8\">";
    body += "</form>\n";
  }
  body += "<p class=\"home\">";
  if (!p.backUrl.empty())
    body += "<a href=\"" + escapeMarkup(p.backUrl) + "\">&laquo; " + escapeMarkup(p.backLabel) +
            "</a> | ";
  body += "<a href=\"" + escapeMarkup(p.searchPageUrl) + "\">Search page</a></p>\n";
  return body + "</main>\n</body></html>\n";
}

CgiAnswer renderProblem(PageFormat format, const Problem& problem, int language,
                        const LinkContext& links) {
  CgiAnswer answer;
  answer.status = problem.status;
  answer.contentType = contentType(format);
  answer.noStore = true;
  const std::string text = escapeMarkup(problem.message);
  const std::string status = std::to_string(problem.status);
  if (isXmlFormat(format)) {
    answer.body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<search_error status=\"" + status +
                  "\" code=\"" + escapeMarkup(problem.code) + "\"><message>" + text +
                  "</message></search_error>\n";
  } else if (format == PageFormat::kWml) {
    answer.body =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE wml PUBLIC \"-//WAPFORUM//DTD WML "
        "1.1//EN\" \"http://www.wapforum.org/DTD/wml_1.1.xml\">\n<wml><card id=\"error\" "
        "title=\"Search\"><p>" +
        text + "</p></card></wml>\n";
  } else if (format == PageFormat::kJson) {
    answer.body = "{\"error\":{\"status\":" + status + ",\"code\":" + jsonString(problem.code) +
                  ",\"message\":" + jsonString(problem.message) + "}}\n";
  } else {
    answer.body = problemHtml(problem, language, links);
  }
  return answer;
}

CgiAnswer renderProblem(PageFormat format, int status, const std::string& message, int language) {
  Problem problem;
  problem.status = status;
  problem.message = message;
  return renderProblem(format, problem, language);
}

std::string pageLinkUrl(const LinkContext& links, const ResultPage& page, int64_t p) {
  const int pageNumber = static_cast<int>(std::clamp<int64_t>(p, 1, INT32_MAX));
  return links.rendererUrl + "?" + pageQueryString(links.request, pageNumber, page.pageSize);
}

std::string sortLinkUrl(const LinkContext& links, const ResultPage& page, const std::string& field,
                        const std::string& order) {
  return searchAgainUrl(links, page, {}, {{"sort", field}, {"order", order}});
}

std::string queryLinkUrl(const LinkContext& links, const ResultPage& page,
                         const std::string& query) {
  // The new query is in the local code page, whatever the first one was sent in.
  // A search by fields would search its clauses again, not the query. The
  // query goes last, after what is kept of the search's own request.
  const std::string from = links.searchUrl + "?" + page.queryUrl;
  if (links.queryLinkBase.empty() || links.queryLinkFrom != from) {
    std::vector<std::string> drop = fieldSearchVariables(page.queryUrl);
    drop.push_back("query_encoding");
    drop.push_back("query");
    links.queryLinkBase = searchAgainUrl(links, page, std::move(drop), {});
    links.queryLinkFrom = from;
  }
  const bool first = links.queryLinkBase.back() == '?';
  return links.queryLinkBase + (first ? "query=" : "&query=") + encodeCGIString(query);
}

std::string allDatesLinkUrl(const LinkContext& links, const ResultPage& page) {
  return searchAgainUrl(links, page,
                        {"part_file", "all_file", "begin_year", "begin_month", "begin_day",
                         "end_year", "end_month", "end_day"},
                        {});
}

std::string classLinkUrl(const LinkContext& links, const ResultPage& page, const std::string& uid) {
  return searchAgainUrl(links, page, {"index_id", "class_name", "class_uid"}, {{"class_uid", uid}});
}

std::string wholeTextLinkUrl(const LinkContext& links, const ResultPage& page) {
  return searchAgainUrl(links, page, {"filenamesearch"}, {});
}

std::string indexLinkUrl(const LinkContext& links, const ResultPage& page,
                         const IndexEntry& index) {
  return searchAgainUrl(links, page, {"index_id", "class_name", "class_uid"},
                        {{"index_id", indexUid(index)}, {"search_no", "1"}});
}

std::string withoutIndexLinkUrl(const LinkContext& links, const ResultPage& page,
                                const IndexEntry& gone) {
  std::vector<std::pair<std::string, std::string>> kept;
  const std::string goneUid = indexUid(gone);
  for (const IndexEntry& e : page.indexes) {
    std::string uid = indexUid(e);
    if (uid != goneUid) kept.emplace_back("index_id", std::move(uid));
  }
  // "search_no" stays the search's own: 1 would search the first index only.
  return searchAgainUrl(links, page, {"index_id", "class_name", "class_uid"}, kept);
}

std::string viewLinkUrl(const LinkContext& links, const ResultPage& page, int64_t rank, bool raw) {
  return links.rendererUrl + "?" + viewQueryString(links.request, rank, page.pageSize, raw);
}

const char* relevanceWord(int score, int bestScore) {
  if (bestScore <= 0) return "";
  const int64_t s = std::max(score, 0);
  if (3 * s >= 2 * int64_t{bestScore}) return "high";
  if (3 * s >= int64_t{bestScore}) return "medium";
  return "low";
}

std::string relevanceNote(int score, int bestScore) {
  const std::string word = relevanceWord(score, bestScore);
  return word.empty() ? "" : " - relevance: " + word;
}

int64_t previousPage(const ResultPage& page) {
  return std::max<int64_t>(1, std::min(page.page, page.pageCount + 1) - 1);
}

std::vector<int64_t> pageWindow(int64_t current, int64_t count) {
  constexpr int64_t kAround = 4;
  std::vector<int64_t> pages;
  if (count < 1) return pages;
  // A page beyond the end still offers the way back.
  const int64_t at = std::clamp<int64_t>(current, 1, count);
  const int64_t from = std::max<int64_t>(1, at - kAround);
  const int64_t to = std::min(count, at + kAround);
  if (from > 1) pages.push_back(1);
  if (from > 2) pages.push_back(0);
  for (int64_t p = from; p <= to; ++p)
    pages.push_back(p);
  if (to < count - 1) pages.push_back(0);
  if (to < count) pages.push_back(count);
  return pages;
}

std::string snippetText(const Snippet& snippet) {
  std::string text = snippet.cutBefore ? "... " : "";
  for (const SnippetPiece& piece : snippet.pieces)
    text += piece.text;
  return text + (snippet.cutAfter ? " ..." : "");
}

}  // namespace render
