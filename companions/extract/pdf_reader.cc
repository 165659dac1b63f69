/// @file pdf_reader.cc
/// @brief PDF through poppler: the text of each page in reading order and
/// the document information.

#include <poppler-document.h>
#include <poppler-global.h>
#include <poppler-page.h>

#include <climits>
#include <memory>

#include "companions/extract/readers.h"

namespace extract {

namespace {

std::string utf8(const poppler::ustring& text) {
  const poppler::byte_array bytes = text.to_utf8();
  std::string out(bytes.begin(), bytes.end());
  // Some writers end an information string with the NUL of a C string.
  while (!out.empty() && out.back() == '\0')
    out.pop_back();
  return out;
}

void quiet(const std::string&, void*) {}

}  // namespace

bool readPdf(const Input& input, ExtractedDoc& doc, std::string& error) {
  poppler::set_debug_error_function(quiet, nullptr);
  if (input.bytes.size() > static_cast<size_t>(INT_MAX)) return error = "PDF too large", false;
  std::unique_ptr<poppler::document> pdf(poppler::document::load_from_raw_data(
      input.bytes.data(), static_cast<int>(input.bytes.size())));
  if (!pdf) return error = "not a readable PDF", false;
  if (pdf->is_locked()) {
    addNote(doc, "encrypted: no text");
    return true;
  }
  doc.title = utf8(pdf->info_key("Title"));
  doc.subject = utf8(pdf->info_key("Subject"));
  doc.author = utf8(pdf->info_key("Author"));
  doc.keywords = utf8(pdf->info_key("Keywords"));
  const int pages = pdf->pages();
  for (int i = 0; i < pages; ++i) {
    std::unique_ptr<poppler::page> page(pdf->create_page(i));
    if (page)
      doc.text += utf8(page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout));
    // poppler ends a page's text with a form feed of its own, or not.
    if (doc.text.empty() || doc.text.back() != '\f') doc.text += '\f';
  }
  return true;
}

}  // namespace extract
