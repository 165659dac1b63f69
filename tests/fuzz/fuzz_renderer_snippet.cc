/// @file fuzz_renderer_snippet.cc
/// @brief The page renderer's reading of documents: code page conversion,
/// the visible text of HTML and snippet windows over any bytes, the same
/// snippet whether a document is read at once or in steps, a document's
/// whole text and title for its view, and the terms marked in it.
///
/// The renderer is a companion program, which fuzz builds leave out; these
/// parts depend on the libraries only, so their sources are compiled here.

#include "companions/doctext/code_pages.cc"
#include "companions/doctext/html_entities.cc"
#include "companions/doctext/html_text.cc"
#include "companions/doctext/library_convert_iconv.cc"
#include "companions/doctext/render_text.cc"
#include "companions/doctext/snippet.cc"
#include "companions/doctext/words.cc"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

namespace {

bool sameSnippet(const render::Snippet& a, const render::Snippet& b) {
  if (a.cutBefore != b.cutBefore || a.cutAfter != b.cutAfter || a.pieces.size() != b.pieces.size())
    return false;
  for (size_t i = 0; i < a.pieces.size(); ++i)
    if (a.pieces[i].text != b.pieces[i].text || a.pieces[i].term != b.pieces[i].term) return false;
  return true;
}

}  // namespace

// Input: a byte picking the language and the snippet length, the query
// terms up to a line feed, then the document.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int language = data[0] % 5 - 1;
  const size_t maxBytes = data[0] * 2u;
  const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
  const size_t nl = std::min(rest.find('\n'), rest.size());
  const std::string document = rest.substr(std::min(nl + 1, rest.size()));
  const std::string local = render::localToUtf8(document, language);
  check(render::isUtf8(local));
  // The document as the renderer reads it from a file, as HTML and as text.
  for (const char* name : {"a.html", "a.txt"})
    check(render::isUtf8(render::documentText(document, name, language)));
  const auto terms = render::highlightTerms(render::localToUtf8(rest.substr(0, nl), language));
  check(terms.size() <= render::kMaxTerms);
  // Read in steps from any first step, the snippet is the whole head's.
  const size_t firstStep = 1 + (size_t{data[0]} * 131) % (document.size() + 1);
  for (const char* name : {"a.html", "a.txt"}) {
    const std::string text = render::documentText(document, name, language);
    render::Snippet stepped;
    const bool shown = render::documentSnippet(
        [&document](size_t n, std::string_view& bytes) {
          bytes = std::string_view(document).substr(0, n);
          return true;
        },
        name, language, terms, maxBytes, stepped, firstStep);
    check(shown == !text.empty());
    if (shown) check(sameSnippet(stepped, render::makeSnippet(text, terms, maxBytes)));
  }
  // The view: every byte of the text kept, only split where terms are.
  for (const char* name : {"a.html", "a.txt"}) {
    const std::string text = render::documentReadableText(document, name, language, data[0] & 1);
    check(render::isUtf8(text));
    std::string joined;
    for (const render::SnippetPiece& piece : render::markTerms(text, terms)) {
      check(!piece.text.empty());
      joined += piece.text;
    }
    check(joined == text);
    std::string title;
    if (render::documentTitle(
            [&document](size_t n, std::string_view& bytes) {
              bytes = std::string_view(document).substr(0, n);
              return true;
            },
            name, language, title))
      check(!title.empty() && title.size() <= render::kMaxTitleBytes && render::isUtf8(title));
  }
  const render::Snippet snippet =
      render::makeSnippet(render::htmlVisibleText(local), terms, maxBytes);
  size_t bytes = 0;
  for (const render::SnippetPiece& piece : snippet.pieces) {
    check(!piece.text.empty() && render::isUtf8(piece.text));
    bytes += piece.text.size();
  }
  // A window is longer than asked only to hold the first term whole.
  check(bytes <= maxBytes + render::kMaxTermBytes);
  return 0;
}
