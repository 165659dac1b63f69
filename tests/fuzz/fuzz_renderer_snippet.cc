/// @file fuzz_renderer_snippet.cc
/// @brief Fuzz target: the page renderer's reading of documents: the visible
/// text of HTML, code page conversion and snippet windows over any bytes.
///
/// The renderer is a companion program, which fuzz builds leave out; these
/// parts depend on the libraries only, so their sources are compiled here.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "companions/renderer/render_text.cc"
#include "companions/renderer/snippet.cc"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // The first byte picks the language and the snippet length, the next
  // line the query terms; the rest is the document.
  const int language = data[0] % 5 - 1;
  const size_t maxBytes = data[0] * 2u;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t nl = rest.find('\n');
  const std::string query = rest.substr(0, nl);
  const std::string document = nl == std::string::npos ? "" : rest.substr(nl + 1);

  const std::vector<std::string> terms =
      render::highlightTerms(render::localToUtf8(query, language));
  if (terms.size() > render::kMaxTerms) __builtin_trap();
  const std::string text =
      render::htmlVisibleText(render::charsetToUtf8(document, "UTF-8", language, true));
  const render::Snippet snippet = render::makeSnippet(text, terms, maxBytes);
  size_t bytes = 0;
  for (const render::SnippetPiece& piece : snippet.pieces) {
    if (piece.text.empty() || !render::isUtf8(piece.text)) __builtin_trap();
    bytes += piece.text.size();
  }
  // A window is longer than asked only to hold the first term whole.
  if (bytes > maxBytes + render::kMaxTermBytes) __builtin_trap();
  const std::string local = render::localToUtf8(document, language);
  if (!render::isUtf8(local)) __builtin_trap();
  return 0;
}
