/// @file page_writer.h
/// @brief The answers of the renderer: a result page as HTML, XML or WML, the
/// links between pages and back to the query program, and the pages that
/// refuse a request or report a result that cannot be read.
///
/// Every answer is UTF-8 and every text from a file or a request is escaped
/// for its place (escapeMarkup). Every answer forbids content sniffing and
/// carries a content security policy that allows nothing but the page's own
/// inline style, forms and images of the site; no answer names a server
/// path or a file of the installation. The XML answer, for programs:
///
///   <search_result version="1|2|3">          xml, xml2, xml3
///     <query><typed/><understood/><terms><term/>...</terms></query>
///     <index/>                               the index searched ("all" ...)
///     <run_time ms=""/>  <sort field="" order=""/>
///     <date_window from="y/m/d" to="y/m/d"/>  only with a date window
///     <hits total="" page="" per_page="" pages="" count="" complete="yes|no">
///       <hit rank="">
///         <file/> <title/> <location/> (path below the index's source
///         folder, only when known)
///         <date epoch=""/> (ISO 8601) <size bytes=""/>
///         <index id="" owner="" host=""/> (description) <score/>
///         <record/> (record id) <snippet/>
///       </hit>...
///     </hits>
///     <related_terms><term/>...</related_terms>
///     <similar_keywords><keyword score=""/>...</similar_keywords>
///     <classes><class uid=""/>...</classes>
///     <indexes><index id="" owner="" hits=""/>...</indexes>
///   </search_result>
/// and for a refused request or an unreadable result
///   <search_error status="400|403|404|500"><message/></search_error>

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
  bool secureCookie = false;  // the request came over HTTPS
  // The header ("Status:" line unless 200, "Content-Type:", the security
  // headers, "Cache-Control:" and "Set-Cookie:" when asked for, blank line)
  // and the body.
  std::string text() const;
};

// Where the links of a page lead: the renderer and the query program, both
// in the CGI directory. No link ever carries a permit key.
struct LinkContext {
  RenderRequest request;
  std::string rendererUrl = "getfilelist.exe";
  std::string searchUrl = "searchrun";
};

// The page of the request in its format; no cache keeps the page of a user
// other than kBuiltInUser.
CgiAnswer renderResultPage(const ResultPage& page, const LinkContext& links);

// A refusal (status 400, 403, 404) or failure (500) in the request's format;
// never kept by a cache. The message must name no file or server path.
CgiAnswer renderProblem(PageFormat format, int status, const std::string& message);

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
// The search again over the indexes of a class.
std::string classLinkUrl(const LinkContext& links, const ResultPage& page, const std::string& uid);

// The page a "previous" link leads to: the one before, or the last page
// from beyond the end.
int64_t previousPage(const ResultPage& page);

// Page numbers to offer around `current` (1 to count): the first and the
// last, and four on either side of the current one; 0 marks a gap.
std::vector<int64_t> pageWindow(int64_t current, int64_t count);

// The bodies of a result page per format.
std::string htmlResultBody(const ResultPage& page, const LinkContext& links);
std::string xmlResultBody(const ResultPage& page, const LinkContext& links);
std::string wmlResultBody(const ResultPage& page, const LinkContext& links);

// The snippet as plain text, "..." marking where it is cut.
std::string snippetText(const Snippet& snippet);

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_RENDERER_PAGE_WRITER_H
