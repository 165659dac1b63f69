/// @file fuzz_builder_html_meta.cc
/// @brief Arbitrary bytes as an HTML document whose <meta> fields become
/// document properties: names come out lower case and trimmed, and each
/// property within its size; and as a plain-text document, whose title is
/// its first line only when that reads as a title. The words the builder
/// indexes of the page are the words the renderer shows of it.

#include "companions/builder/doc_extract.h"
#include "companions/builder/property_index.h"
#include "companions/doctext/snippet.h"
#include "companions/doctext/words.h"
#include "tests/fuzz/fuzz_scratch.h"

namespace {

std::vector<std::string> wordsOf(std::string_view text) {
  std::vector<std::string> words;
  for (const doctext::TextToken& t : doctext::tokenize(doctext::foldText(text)))
    words.push_back(t.text);
  return words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view utf8(reinterpret_cast<const char*>(data), size);
  const vela::HtmlMeta meta = vela::htmlMetaFields(utf8);
  for (const auto& [name, content] : meta) {
    for (char c : name)
      fuzzscratch::check(c < 'A' || c > 'Z');
    fuzzscratch::check(content.empty() || (content.front() != ' ' && content.back() != ' '));
  }
  vela::RecordText text;
  text.name = "doc.html";
  text.doc = vela::extractHtml(utf8);
  fuzzscratch::check(wordsOf(text.doc.body) == wordsOf(render::htmlVisibleText(utf8)));
  for (const doctext::TextToken& t : doctext::tokenize(doctext::foldText(text.doc.body)))
    fuzzscratch::check(!t.text.empty() && t.text.size() <= doctext::kMaxTermBytes);
  for (const std::string& value : vela::documentProperties(text, meta))
    fuzzscratch::check(value.size() <= vela::kMaxPropertyBytes);
  const std::string title = vela::extractText(utf8).title;
  fuzzscratch::check(title.empty() || (vela::readsAsTitle(title) && title.size() <= 128 &&
                                       title == vela::firstLine(utf8, 128)));
  return 0;
}
