/// @file document_read.cc
/// @brief Reading a document for its view.

#include "companions/records/document_read.h"

#include <string_view>

#include "companions/doctext/snippet.h"
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

}  // namespace render
