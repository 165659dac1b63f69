/// @file render_request.h
/// @brief What the renderer is asked for: the result, the page, the page size
/// and the answer format, read from searchrun's command line or from a web
/// server request; and the links that lead from one page to the next.
///
/// Two callers start getfilelist.exe. searchrun replaces itself by it (or runs
/// it through the shell) with an empty REQUEST_METHOD and the arguments
///   getfilelist.exe BASE PAGE_SIZE PAGE [FORMAT]
/// where BASE is "../tmp/query" and 30 digits, PAGE_SIZE and PAGE are numbers or "N"
/// (not given) and FORMAT is "xml", "xml2", "xml3", "wml" or "json". The web
/// server starts it for the links between result pages, with the variables
///   result=queryNNN...  page=P  no=PAGE_SIZE  format=FORMAT
/// and for the document of one hit:
///   result=queryNNN...  view=N  [no=PAGE_SIZE]  [raw=1]
/// where N is the hit's position in the whole result (from 1): its text as
/// a page, or with raw=1 its bytes as they are.
/// Only names of the form of a result ("query" and exactly kTempNameDigits
/// digits, optionally "_fast") are ever accepted, and the name is the only
/// thing of a request that reaches the file system, so a request can name
/// nothing outside ../tmp. A permit key never travels in a link: a page
/// hands it to the browser as a cookie (page_writer.h).

#ifndef SEARCHRUN_COMPANIONS_RENDERER_RENDER_REQUEST_H
#define SEARCHRUN_COMPANIONS_RENDERER_RENDER_REQUEST_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

class CGIStringParser;

namespace render {

enum class PageFormat { kHtml, kXml, kXml2, kXml3, kWml, kJson };

// "xml", "xml2", "xml3", "wml" and "json" (exactly); anything else is HTML.
PageFormat parsePageFormat(std::string_view word);
// The word of a format: "" for HTML, else as parsePageFormat reads it.
const char* pageFormatWord(PageFormat format);
bool isXmlFormat(PageFormat format);

// Largest page size served; a larger request gets pages of this size.
constexpr int kMaxPageSize = 1000;

struct RenderRequest {
  std::string result;  // the result's base name without directory
  int pageSize = 0;    // records per page; 0: the page size stored in the result
  int page = 1;        // from 1
  PageFormat format = PageFormat::kHtml;
  bool fromWebServer = false;
  int64_t view = 0;  // position of the hit whose document is asked for; 0: none
  bool raw = false;  // the document's bytes rather than its text
  // The search's own request (raw, still escaped, without a permit key or
  // the renderer's paging), carried by the links between pages so that a
  // page whose result has expired can run the search again; "" for none.
  std::string again;
};

// Longest search request a link carries; a longer one is not carried.
constexpr size_t kMaxAgainBytes = 8192;

// The search request a link carries for `queryUrl` (a result's raw request
// text): without "ks_key" and "outcgipage"; "" when longer than
// kMaxAgainBytes.
std::string againRequest(std::string_view queryUrl);

// The query of a search request (raw, as againRequest gives it) in UTF-8:
// converted from its declared "query_encoding", else from the local code
// page of `language`; "" when it has none, or when it is a search by fields
// (whose query is at most a mark: its clauses are what is searched).
std::string searchQueryOf(std::string_view raw, int language);

// True for "query" followed by exactly kTempNameDigits (tmpfile.h) decimal
// digits and optionally "_fast".
bool isValidResultName(std::string_view name);

// Reads searchrun's command line (argv[0] is the program). The base name may
// carry the directory "../tmp/". A page size or page that is "N", not a
// number, or below 1 gives the default (0 and 1); a page size above
// kMaxPageSize gives kMaxPageSize. False, with the reason in `why`, when the
// base name is missing or not the name of a result.
bool parseArgumentRequest(int argc, const char* const* argv, RenderRequest& out, std::string& why);

// Reads a web server request from its CGI variables ("result", "page", "no",
// "format", "view", "raw", "again"; numbers as above, a view that is not a
// number from 1 up is none, raw counts only as "1" beside a view, "again"
// as againRequest keeps it). False, with the reason, when "result" is
// missing or not the name of a result; format and again are read even then.
bool parseWebRequest(const CGIStringParser& vars, RenderRequest& out, std::string& why);

// A raw (still escaped) query string without the variables named in `drop`
// or `add` (names compared after decoding), with the pairs of `add` appended:
// the names as they are (plain words of our own), the values URL-encoded.
// Empty pieces ("a&&b") are dropped.
std::string rewriteQueryString(std::string_view raw, const std::vector<std::string>& drop,
                               const std::vector<std::pair<std::string, std::string>>& add);

// The name of the result without "_fast" (what links name).
std::string fullResultName(const RenderRequest& req);

// The query string of a link to `page` of the same result:
// "result=NAME&page=P&no=N[&format=F][&again=REQUEST]" (no "_fast": the
// link is followed after the full result is written).
std::string pageQueryString(const RenderRequest& req, int page, int pageSize);

// The query string of the document of hit `rank` of the same result:
// "result=NAME&view=N&no=PAGE_SIZE[&raw=1][&again=REQUEST]" (the page size
// leads back to the page that holds the hit).
std::string viewQueryString(const RenderRequest& req, int64_t rank, int pageSize, bool raw);

// The variables of a search request (raw, still escaped, as a result keeps
// it) that a form starting the search again carries unchanged, in request
// order, decoded and in UTF-8 (values in the local code page of `language`
// are converted): all but the query itself and its declared encoding, the
// renderer's paging ("outcgipage"), any permit key ("ks_key"), which never
// goes into a page, and the variables of a search by fields
// (isFieldSearchVariable), which would search the old clauses instead of
// the query typed into the form. Empty names are left out.
std::vector<std::pair<std::string, std::string>> searchFormFields(std::string_view raw,
                                                                  int language);

// One clause of a search by fields, as its request named it (UTF-8).
struct FieldClause {
  // How it joins the clauses before it: "and", "or" or "not" ("" for the
  // first, whose operator searchrun does not apply).
  std::string op;
  std::string field;  // a column name; "" when the clause searches whole rows
  std::string value;  // the clause's query as typed
};

// Most clauses searchrun reads of one search by fields.
constexpr int kMaxFieldClauses = 256;

// True for a variable of a search by fields: "MultiDBFieldCount", which
// makes searchrun run the clauses instead of the query, and the clause
// variables "m_query_<i>", "m_field_<i>", "m_op_<i>" and "m_type_<i>".
bool isFieldSearchVariable(std::string_view name);

// The names (decoded) of the variables of a search request (raw) for which
// isFieldSearchVariable holds, in request order.
std::vector<std::string> fieldSearchVariables(std::string_view raw);

// The clauses of the search by fields of a search request (raw, as a result
// keeps it), as searchrun reads them: clause i from 1 to "MultiDBFieldCount"
// (0 to kMaxFieldClauses), left out without a query, or when it names a
// field (bytes as the request gives them) that `knownField` refuses. An
// operator "&" or "|" or "!" is "and", "or", "not"; any other is searched as
// "and" and named so. Empty for a request that is no search by fields.
std::vector<FieldClause> fieldClausesOf(
    std::string_view raw, int language,
    const std::function<bool(const std::string& field)>& knownField);

// The clauses in words, fields before their values and the operators
// between them: "name bash and size [100-500]"; a clause without a field is
// "any field VALUE".
std::string fieldClausesText(const std::vector<FieldClause>& clauses);

}  // namespace render

#endif  // SEARCHRUN_COMPANIONS_RENDERER_RENDER_REQUEST_H
