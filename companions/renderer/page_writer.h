/// @file page_writer.h
/// @brief The answers of the renderer: a result page as HTML, XML, JSON or
/// WML, the links between pages, to the documents of the hits and back to the
/// query program, and the pages that refuse a request or report a result that
/// cannot be read.
///
/// Every answer is UTF-8 and every text from a file or a request is escaped
/// for its place (escapeMarkup). Every answer forbids content sniffing and
/// carries a content security policy that allows nothing but the page's own
/// inline style, forms and images of the site; no answer names a server
/// path or a file of the installation. The XML answer, for programs:
///
///   <search_result version="1|2|3">          xml, xml2, xml3
///     <query><typed/><understood/><terms><term/>...</terms>
///       <fields><field op="and|or|not" name="">value</field>...</fields>
///       (a search by fields only: its clauses; no op on the first, no name
///       for a clause over whole rows)
///     </query>
///     <index/>                               the index searched ("all" ...)
///     <run_time ms=""/>  <sort field="" order=""/>
///     <date_window from="y/m/d" to="y/m/d"/>  only with a date window
///     <hits total="" page="" per_page="" pages="" count="" complete="yes|no">
///       <hit rank="">
///         <file/> <title/> <location/> (path below the index's source
///         folder, only when known)
///         <date epoch=""/> (ISO 8601) <size bytes=""/>
///         <index id="" owner="" host=""/> (description) <score/>
///         <relevance/> (high, medium or low against the best hit of the
///         result; only when that is known) <record/> (record id) <snippet/>
///         <view/> (a row of a database index of this host: the link to the
///         view of its cells, relative to the CGI directory)
///       </hit>...
///     </hits>
///     <related_terms><term/>...</related_terms>
///     <similar_keywords><keyword score=""/>...</similar_keywords>
///     <classes><class uid=""/>...</classes>
///     <indexes><index id="" owner="" hits=""/>...</indexes>
///   </search_result>
/// and for a refused request or an unreadable result
///   <search_error status="400|403|404|410|500" code=""><message/></search_error>
///
/// The JSON answer carries the same (one object, UTF-8, every text a string,
/// "null" for what is not known):
///
///   {"version": 1, "result": "queryNNN..." (the result's name),
///    "query": {"typed", "understood", "terms": [], "disallowed": bool,
///              "fields": [{"op", "field", "value"}] (the clauses of a search
///              by fields, op and field null where <field> has none; null
///              for any other search)},
///    "index": "..." (as <index/>), "run_time_ms", "sort": {"field", "order"},
///    "date_window": {"from", "to"} or null,
///    "total", "page", "per_page", "pages", "count", "complete": bool,
///    "links": {"self", "first", "previous", "next", "last"} (links to pages
///              of the result, relative to the CGI directory; null where
///              there is no such page),
///    "hits": [{"rank", "file", "title", "location", "date" (ISO 8601),
///              "epoch", "size", "index": {"id", "owner", "host", "name"},
///              "score", "relevance", "record", "snippet",
///              "view" (link to the document view, or for a row of a
///              database index the view of its cells, relative to the CGI
///              directory; null for a hit of another host),
///              "similar" (the search for documents like it; null when
///              there is none)}],
///    "related_terms": [], "similar_keywords": [{"keyword", "score"}],
///    "classes": [{"uid", "name"}], "indexes": [{"id", "owner", "hits", "name"}]}
/// and for a refusal {"error": {"status": 404, "code": "2102", "message": "..."}},
/// the shape of searchrun's message answers too.

#ifndef SEARCHRUN_COMPANIONS_RENDERER_PAGE_WRITER_H
#define SEARCHRUN_COMPANIONS_RENDERER_PAGE_WRITER_H

#include <cstdint>
#include <string>
#include <vector>

#include "companions/renderer/render_request.h"
#include "companions/renderer/result_page.h"

namespace render {

// The policy every answer carries: the result pages use one inline style
// element and no script; links to other pages are navigations, which the
// policy does not govern.
constexpr const char* kContentSecurityPolicy =
    "default-src 'none'; style-src 'unsafe-inline'; img-src 'self'; form-action 'self'; "
    "base-uri 'none'; frame-ancestors 'none'";

// One CGI answer.
struct CgiAnswer {
  int status = 200;
  std::string contentType;  // with its charset
  std::string body;
  // No cache may keep the answer: a signed-in user's page, or a problem.
  bool noStore = false;
  // A permit key handed to the browser as the "ks_key" cookie, so that the
  // key never has to travel in a link; "" for none. A key that is not
  // well-formed (permitKeyIsWellFormed) is never written.
  std::string permitCookie;
  // The cookie goes back only to this directory (cookiePath of SCRIPT_NAME;
  // a path that is not safe in a header line is written as "/"), and only
  // over HTTPS when the request came that way.
  std::string cookiePath = "/";
  bool secureCookie = false;
  // A "Content-Disposition:" value; "" for none.
  std::string contentDisposition;
  // The body is a document's own bytes: the policy sandboxes it, so that
  // nothing in it ever runs in this site's origin.
  bool sandbox = false;
  // The header ("Status:" line unless 200, "Content-Type:", the security
  // headers, "Content-Disposition:", "Cache-Control:" and "Set-Cookie:" when
  // asked for, blank line).
  std::string header() const;
  // The header and the body.
  std::string text() const;
};

// The policy of an answer that is a document's own bytes.
constexpr const char* kSandboxPolicy = "default-src 'none'; sandbox; frame-ancestors 'none'";

// Where the links of a page lead: the renderer and the query program, both
// in the CGI directory. No link ever carries a permit key.
struct LinkContext {
  RenderRequest request;
  std::string rendererUrl = "getfilelist.exe";
  std::string searchUrl = "searchrun";
  // What every query link of a page shares (each related term and
  // suggestion has one), made at the first and kept with the query string
  // it was made from (after the search's URL).
  mutable std::string queryLinkFrom;
  mutable std::string queryLinkBase;
};

// The page of the request in its format; no cache keeps the page of a user
// other than kBuiltInUser.
CgiAnswer renderResultPage(const ResultPage& page, const LinkContext& links);

// Codes of the renderer's problems (searchrun's messages use other numbers).
namespace problem_code {
constexpr const char* kBadRequest = "2101";
constexpr const char* kNoResult = "2102";  // expired, or never there
constexpr const char* kNoHit = "2103";
constexpr const char* kSignIn = "2104";
constexpr const char* kResultUnreadable = "2105";
constexpr const char* kRecordsUnreadable = "2106";
constexpr const char* kDocumentNotShown = "2107";
constexpr const char* kDocumentUnreadable = "2108";
}  // namespace problem_code

// A refusal or failure, and the ways on from it that an HTML page offers.
struct Problem {
  int status = 500;  // 400, 403, 404, 410 or 500
  std::string code;  // problem_code
  std::string message;
  // The search the page offers to run again, when known: its query (UTF-8)
  // for the form's box, its other variables (searchFormFields) as the
  // form's hidden fields, and a link that runs it unchanged ("" for none).
  bool searchKnown = false;
  std::string query;
  std::vector<std::pair<std::string, std::string>> fields;
  std::string againUrl;
  // A link back, e.g. to the result page ("" for none).
  std::string backUrl;
  std::string backLabel;
  // The installation's search page: a way back on every page.
  std::string searchPageUrl = "../search/index.html";
};

// The problem in the request's format; never kept by a cache. The message
// must name no file or server path. An HTML page is in the installation's
// `language` (layout.h code) and carries a search form (the search's when
// known, less the renderer's own variables) and the links of `problem`.
CgiAnswer renderProblem(PageFormat format, const Problem& problem, int language,
                        const LinkContext& links = {});
// A problem without a search to offer.
CgiAnswer renderProblem(PageFormat format, int status, const std::string& message,
                        int language = -1);

// Link to page p of the same result, with the page size of this one.
std::string pageLinkUrl(const LinkContext& links, const ResultPage& page, int64_t p);
// The search again, sorted by field in order, from its first page. Links
// that start the search again keep the search's own request less the
// renderer's paging and any "ks_key" an older result still holds.
std::string sortLinkUrl(const LinkContext& links, const ResultPage& page, const std::string& field,
                        const std::string& order);
// The search again with another query (bytes in the local code page).
std::string queryLinkUrl(const LinkContext& links, const ResultPage& page,
                         const std::string& query);
// The search again without its date window.
std::string allDatesLinkUrl(const LinkContext& links, const ResultPage& page);
// The search again in the whole text, not only in one property ("Look in").
std::string wholeTextLinkUrl(const LinkContext& links, const ResultPage& page);
// The search again over the indexes of a class.
std::string classLinkUrl(const LinkContext& links, const ResultPage& page, const std::string& uid);
// The search again over the one index `index` (its uid as index_id, and
// search_no=1 to search it alone).
std::string indexLinkUrl(const LinkContext& links, const ResultPage& page, const IndexEntry& index);
// The search again over the indexes it searched (page.indexes) but `gone`.
std::string withoutIndexLinkUrl(const LinkContext& links, const ResultPage& page,
                                const IndexEntry& gone);
// The document view of hit `rank`, or with `raw` its bytes.
std::string viewLinkUrl(const LinkContext& links, const ResultPage& page, int64_t rank,
                        bool raw = false);

// How a hit's score compares with the best of its result, in a word people
// read: "high" (at least two thirds of it), "medium" (at least a third),
// "low"; "" when the best score is not known (0).
const char* relevanceWord(int score, int bestScore);
// What an HTML page shows of it beside a hit's date and size: " - relevance:
// WORD", or "" when it is not known. Every page that shows a hit uses it.
std::string relevanceNote(int score, int bestScore);

// The page a "previous" link leads to: the one before, or the last page
// from beyond the end.
int64_t previousPage(const ResultPage& page);

// Page numbers to offer around `current` (1 to count): the first and the
// last, and four on either side of the current one; 0 marks a gap.
std::vector<int64_t> pageWindow(int64_t current, int64_t count);

// The start of every HTML page of the renderer, up to and with "<body>": the
// language of the installation, the viewport of phones, the title (escaped
// here) and the pages' one style element.
std::string htmlHead(int language, const std::string& title);

// The bodies of a result page per format.
std::string htmlResultBody(const ResultPage& page, const LinkContext& links);
std::string xmlResultBody(const ResultPage& page, const LinkContext& links);
std::string wmlResultBody(const ResultPage& page, const LinkContext& links);
std::string jsonResultBody(const ResultPage& page, const LinkContext& links);

// The snippet as plain text, "..." marking where it is cut.
std::string snippetText(const Snippet& snippet);

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_RENDERER_PAGE_WRITER_H
