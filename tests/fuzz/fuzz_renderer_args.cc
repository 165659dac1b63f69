/// @file fuzz_renderer_args.cc
/// @brief Fuzz target: what the page renderer reads from its callers and from
/// a result: the command line, the web server's request, the query string it
/// rewrites for links, and the record lines of a result file.
///
/// The renderer is a companion program, which fuzz builds leave out; its
/// parsers depend on the libraries only, so their sources are compiled here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "companions/renderer/record_lookup.cc"
#include "companions/renderer/render_request.cc"
#include "companions/renderer/render_text.cc"
#include "front/cgi_string_parser.h"

namespace {

void check(bool ok, const render::RenderRequest& r) {
  if (!ok) return;
  if (!render::isValidResultName(r.result) || r.result.find('/') != std::string::npos)
    __builtin_trap();
  if (r.pageSize < 0 || r.pageSize > render::kMaxPageSize || r.page < 1) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);

  // Command line: the words are the input's zero-separated pieces.
  std::vector<std::string> words{"getfilelist.exe"};
  for (size_t start = 0; start <= input.size() && words.size() < 8;) {
    const size_t end = std::min(input.find('\0', start), input.size());
    words.push_back(input.substr(start, end - start));
    start = end + 1;
  }
  std::vector<const char*> argv;
  for (const std::string& w : words)
    argv.push_back(w.c_str());
  render::RenderRequest request;
  std::string why;
  check(render::parseArgumentRequest(static_cast<int>(argv.size()), argv.data(), request, why),
        request);

  // Web server request.
  CGIStringParser vars;
  if (vars.initialize(input.data(), input.size()) >= 0)
    check(render::parseWebRequest(vars, request, why), request);

  // Links: the rewritten query string never keeps a replaced variable.
  const std::string link = render::rewriteQueryString(input, {"outcgipage"}, {{"sort", "date"}});
  if (link.size() < 9 || link.compare(link.size() - 9, 9, "sort=date") != 0) __builtin_trap();
  CGIStringParser rewritten;
  if (rewritten.initialize(link.c_str()) > 0 && rewritten.findCgiVariableByName("outcgipage"))
    __builtin_trap();

  // Record lines.
  render::RecordLine line;
  if (render::parseRecordLine(input, line) && line.recid < 1) __builtin_trap();

  // Whatever the bytes, the escaped text is UTF-8 with no markup left.
  const std::string escaped = render::escapeMarkup(input);
  if (!render::isUtf8(escaped) || escaped.find_first_of("<>\"'") != std::string::npos)
    __builtin_trap();
  return 0;
}
