/// @file fuzz_builder_html_meta.cc
/// @brief Arbitrary bytes as an HTML document whose <meta> fields become
/// document properties: names come out lower case and trimmed, and each
/// property within its size; and as a plain-text document, whose title is
/// its first line only when that reads as a title.

#include "companions/builder/doc_extract.h"
#include "companions/builder/property_index.h"
#include "tests/fuzz/fuzz_scratch.h"

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
  for (const std::string& value : vela::documentProperties(text, meta))
    fuzzscratch::check(value.size() <= vela::kMaxPropertyBytes);
  const std::string title = vela::extractText(utf8).title;
  fuzzscratch::check(title.empty() || (vela::readsAsTitle(title) && title.size() <= 128 &&
                                       title == vela::firstLine(utf8, 128)));
  return 0;
}
