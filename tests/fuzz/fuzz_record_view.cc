/// @file fuzz_record_view.cc
/// @brief Arbitrary bytes through the record-view readers: the agent's
/// reader of requests and this host's readers of its answers. What they
/// accept, written again, reads back the same.

#include <string>
#include <string_view>
#include <vector>

#include "search/remote_record_view.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

namespace {

bool sameRequest(const RemoteViewRequest& a, const RemoteViewRequest& b) {
  return a.mode == b.mode && a.user == b.user && a.owner == b.owner && a.index == b.index &&
         a.ids == b.ids && a.number == b.number && a.terms == b.terms;
}

bool sameRecord(const RemoteRecordView& a, const RemoteRecordView& b) {
  return a.found == b.found && a.fileName == b.fileName && a.location == b.location &&
         a.hasTime == b.hasTime && a.time == b.time && a.hasSize == b.hasSize && a.size == b.size &&
         a.title == b.title && a.firstLine == b.firstLine && a.docTitle == b.docTitle &&
         a.cutBefore == b.cutBefore && a.cutAfter == b.cutAfter && a.similar == b.similar &&
         a.pieces == b.pieces;
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
  RemoteViewRequest r;
  if (!parseRecordViewRequest(bytes, r)) return;
  check(!r.ids.empty() && r.ids.size() <= kMaxViewRecords && r.terms.size() <= kMaxViewTerms);
  std::string again;
  check(buildRecordViewRequest(r, again));
  RemoteViewRequest back;
  check(parseRecordViewRequest(again, back) && sameRequest(r, back));
}

void snippetAnswer(std::string_view bytes) {
  const size_t records = 1 + bytes.size() % 3;
  std::vector<RemoteRecordView> views;
  if (!parseSnippetAnswer(bytes, records, views)) return;
  check(views.size() == records);
  std::string again;
  for (const RemoteRecordView& v : views)
    appendSnippetRecord(v, again);
  closeSnippetAnswer(again);
  std::vector<RemoteRecordView> back;
  check(parseSnippetAnswer(again, records, back));
  for (size_t i = 0; i < records; ++i)
    if (fitsUncut(views[i])) check(sameRecord(views[i], back[i]));
}

void documentAnswer(std::string_view bytes) {
  RemoteRecordView view;
  std::string body;
  if (!parseDocumentAnswer(bytes, view, body)) return;
  check(body.size() < bytes.size());
  std::string again, bodyBack;
  buildDocumentAnswer(view, body, again);
  RemoteRecordView back;
  check(parseDocumentAnswer(again, back, bodyBack) && bodyBack == body);
  if (fitsUncut(view)) check(sameRecord(view, back));
}

void similarAnswer(std::string_view bytes) {
  std::string terms;
  if (!parseSimilarAnswer(bytes, terms)) return;
  std::string again, back;
  buildSimilarAnswer(terms, again);
  check(parseSimilarAnswer(again, back) && back == terms);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  request(bytes);
  snippetAnswer(bytes);
  documentAnswer(bytes);
  similarAnswer(bytes);
  check(returnCodeOf(bytes) >= 0);
  return 0;
}
