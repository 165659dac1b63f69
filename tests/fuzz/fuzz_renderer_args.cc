/// @file fuzz_renderer_args.cc
/// @brief What the page renderer reads from its callers and from a result:
/// the command line, the web server's request, the query string it rewrites
/// for links and the fields of its search form, the record lines of a result
/// file and the document paths and titles an index records; and what it
/// escapes for HTML and JSON.
///
/// The renderer is a companion program, which fuzz builds leave out; its
/// parsers depend on the libraries only, so their sources are compiled here.

#include <algorithm>
#include <vector>

#include "cgi/cgi_string_parser.h"
#include "companions/doctext/code_pages.cc"
#include "companions/doctext/html_entities.cc"
#include "companions/doctext/library_convert_iconv.cc"
#include "companions/doctext/render_text.cc"
#include "companions/records/local_files.cc"
#include "companions/records/record_lookup.cc"
#include "companions/renderer/render_request.cc"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

namespace {

void checkRequest(bool ok, const render::RenderRequest& r) {
  check(!ok || (render::isValidResultName(r.result) && r.result.find('/') == std::string::npos &&
                r.pageSize >= 0 && r.pageSize <= render::kMaxPageSize && r.page >= 1 &&
                r.view >= 0 && (!r.raw || r.view > 0)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // Command line: the words are the input's zero-separated pieces (up to 7).
  std::vector<const char*> argv{"getfilelist.exe"};
  for (size_t start = 0; start <= size && argv.size() < 8; start += std::strlen(argv.back()) + 1)
    argv.push_back(input.c_str() + start);
  render::RenderRequest request;
  std::string why;
  checkRequest(
      render::parseArgumentRequest(static_cast<int>(argv.size()), argv.data(), request, why),
      request);
  CGIStringParser vars;
  if (vars.initialize(input.data(), input.size()) >= 0)
    checkRequest(render::parseWebRequest(vars, request, why), request);
  // Links never keep a replaced variable.
  const std::string link =
      render::rewriteQueryString(input, {"outcgipage", "ks_key"}, {{"sort", "date"}});
  check(link.size() >= 9 && link.compare(link.size() - 9, 9, "sort=date") == 0);
  CGIStringParser rewritten;
  check(rewritten.initialize(link.c_str()) <= 0 ||
        (!rewritten.findCgiVariableByName("outcgipage") &&
         !rewritten.findCgiVariableByName("ks_key")));
  render::RecordLine line;
  check(!render::parseRecordLine(input, line) || line.recid >= 1);
  // A recorded path never leads a page above the source folder or shows
  // where the folder is; a permit key never rides in a link.
  const std::string location =
      render::locationBelow("/srv/docs", render::decodeRecordedPath(input));
  check(location.empty() ||
        (location[0] != '/' && !render::hasParentComponent(location) &&
         location.find('\0') == std::string::npos && location.find("/srv/docs") != 0));
  if (render::isValidResultName(request.result))
    check(render::pageQueryString(request, 1, 10).find("ks_key") == std::string::npos);
  // A form to search again never carries a key, nor the old query.
  for (const auto& [name, value] : render::searchFormFields(input, 3))
    check(name != "ks_key" && name != "query" && render::isUtf8(name) && render::isUtf8(value));
  // A search a link carries never holds a key, and its query reads as UTF-8.
  const std::string again = render::againRequest(input);
  check(again.size() <= render::kMaxAgainBytes);
  CGIStringParser carried;
  check(carried.initialize(again.c_str()) <= 0 || !carried.findCgiVariableByName("ks_key"));
  check(render::isUtf8(render::searchQueryOf(input, 1)));
  // Column names of a mapping: one per line of six fields at most.
  check(render::columnNamesOf(input).size() <=
        static_cast<size_t>(std::count(input.begin(), input.end(), '\n')) + 1);
  // Whatever the bytes, the escaped text is UTF-8 with no markup left.
  const std::string escaped = render::escapeMarkup(input);
  check(render::isUtf8(escaped) && escaped.find_first_of("<>\"'") == std::string::npos);
  // A JSON string: quoted, UTF-8, no raw control character, quote or markup.
  const std::string json = render::jsonString(input);
  check(json.size() >= 2 && json.front() == '"' && json.back() == '"' && render::isUtf8(json));
  for (size_t i = 1; i + 1 < json.size(); ++i) {
    const auto c = static_cast<unsigned char>(json[i]);
    check(c >= 0x20 && c != '<' && c != '>' && c != '&');
    if (c == '\\')
      ++i;  // the escaped character
    else
      check(c != '"');
  }
  check(render::isUtf8(render::decodeRecordedReferences(render::sanitizeUtf8(input))));
  return 0;
}
