/// @file document_read.cc
/// @brief Reading a document for its view.

#include "companions/records/document_read.h"

#include <string_view>

#include "companions/doctext/snippet.h"
#include "companions/doctext/stored_text.h"
#include "companions/records/local_files.h"

namespace render {

bool readDocumentView(int fd, const std::string& name, int language, DocumentView& view) {
  view = DocumentView{};
  std::string bytes;
  if (!readFromStart(fd, kMaxViewBytes + 1, bytes)) return false;
  view.cut = bytes.size() > kMaxViewBytes;
  if (view.cut) bytes.resize(kMaxViewBytes);
  view.text = documentReadableText(bytes, name, language, view.cut);
  documentTitle(
      [&bytes](size_t n, std::string_view& head) {
        head = std::string_view(bytes).substr(0, n);
        return true;
      },
      name, language, view.title);
  return true;
}

bool readRecordView(const RecordDetails& d, int fd, int language, DocumentView& view) {
  if (d.storedDamaged) return false;
  if (d.storedText.empty()) return readDocumentView(fd, d.location, language, view);
  view = DocumentView{};
  return inflateStoredText(d.storedText, kMaxViewBytes, view.text, view.cut);
}

bool recordSnippet(const RecordDetails& d, const DocumentHead& head, int language,
                   const std::vector<std::string>& terms, size_t maxBytes, Snippet& out) {
  if (d.storedDamaged) return false;
  if (d.storedText.empty())
    return documentSnippet(head, d.location, language, terms, maxBytes, out);
  std::string text;
  bool cut = false;
  if (!inflateStoredText(d.storedText, kMaxDocumentBytes, text, cut) || text.empty()) return false;
  out = makeSnippet(text, terms, maxBytes);
  return true;
}

}  // namespace render
