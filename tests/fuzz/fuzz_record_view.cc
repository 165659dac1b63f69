/// @file fuzz_record_view.cc
/// @brief Arbitrary bytes through the record-view readers: the agent's
/// reader of requests and this host's readers of its answers. What they
/// accept, written again, reads back the same: a writer that drops or mixes
/// up a field shows as a difference.

#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "search/remote_record_view.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

namespace {

auto fieldsOf(const RemoteViewRequest& r) {
  return std::tie(r.mode, r.user, r.owner, r.index, r.ids, r.number, r.terms);
}

auto fieldsOf(const RemoteRecordView& r) {
  return std::tie(r.found, r.fileName, r.location, r.hasTime, r.time, r.hasSize, r.size, r.title,
                  r.firstLine, r.docTitle, r.cutBefore, r.cutAfter, r.similar, r.pieces);
}

// Texts longer than the agent sends are cut when written again.
bool fitsUncut(const RemoteRecordView& r) {
  for (const std::string* t : {&r.fileName, &r.location, &r.title, &r.firstLine, &r.docTitle})
    if (t->size() > kMaxViewText) return false;
  for (const auto& piece : r.pieces)
    if (piece.first.size() > kMaxViewText) return false;
  return true;
}

void request(std::string_view bytes) {
  RemoteViewRequest r, back;
  std::string again;
  if (!parseRecordViewRequest(bytes, r)) return;
  check(buildRecordViewRequest(r, again) && parseRecordViewRequest(again, back) &&
        fieldsOf(back) == fieldsOf(r));
}

void answers(std::string_view bytes) {
  const size_t records = 1 + bytes.size() % 3;
  std::vector<RemoteRecordView> views, back;
  std::string again, body, bodyBack;
  if (parseSnippetAnswer(bytes, records, views)) {
    for (const RemoteRecordView& v : views)
      appendSnippetRecord(v, again);
    closeSnippetAnswer(again);
    check(views.size() == records && parseSnippetAnswer(again, records, back));
    for (size_t i = 0; i < records; ++i)
      check(!fitsUncut(views[i]) || fieldsOf(views[i]) == fieldsOf(back[i]));
  }
  RemoteRecordView view, viewBack;
  if (parseDocumentAnswer(bytes, view, body)) {
    buildDocumentAnswer(view, body, again);
    check(parseDocumentAnswer(again, viewBack, bodyBack) && bodyBack == body &&
          (!fitsUncut(view) || fieldsOf(view) == fieldsOf(viewBack)));
  }
  if (parseSimilarAnswer(bytes, body)) {
    buildSimilarAnswer(body, again);
    check(parseSimilarAnswer(again, bodyBack) && bodyBack == body);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  request(bytes);
  answers(bytes);
  check(returnCodeOf(bytes) >= 0);
  return 0;
}
