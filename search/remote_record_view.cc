/// @file remote_record_view.cc
/// @brief The record-view exchange with another host's agent.

#include "search/remote_record_view.h"

#include "search/remote_request.h"
#include "system/delimiters.h"
#include "system/numbers.h"
#include "system/recorded_path.h"

namespace {

constexpr size_t kRecordFields = 9;
constexpr size_t kSnippetFields = kRecordFields + 2;
constexpr char kPieceSeparator = '\x1F';

// The parts of `text` between occurrences of `delim`; a text ended by the
// delimiter gives no empty last part.
std::vector<std::string_view> split(std::string_view text, std::string_view delim) {
  std::vector<std::string_view> parts;
  size_t from = 0;
  while (from < text.size()) {
    const size_t at = text.find(delim, from);
    if (at == std::string_view::npos) {
      parts.push_back(text.substr(from));
      break;
    }
    parts.push_back(text.substr(from, at - from));
    from = at + delim.size();
  }
  return parts;
}

bool endsWith(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

bool hasControlByte(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

// Ids a mode takes, and the largest number it takes.
bool modeBounds(std::string_view mode, size_t& maxIds, uint32_t& maxNumber) {
  maxIds = 1;
  maxNumber = 0;
  if (mode == kViewModeSnippet) {
    maxIds = kMaxViewRecords;
    maxNumber = kMaxViewSnippetBytes;
  } else if (mode == kViewModeSimilar) {
    maxNumber = 1;
  } else if (mode != kViewModeText && mode != kViewModeRaw) {
    return false;
  }
  return true;
}

bool validRequest(const RemoteViewRequest& r) {
  size_t maxIds = 0;
  uint32_t maxNumber = 0;
  if (!modeBounds(r.mode, maxIds, maxNumber) || r.ids.empty() || r.ids.size() > maxIds ||
      r.number > maxNumber || (r.mode == kViewModeSnippet && r.number == 0) ||
      r.terms.size() > kMaxViewTerms || r.user.size() > kMaxViewUserBytes || r.owner.empty() ||
      r.index.empty() || hasControlByte(r.owner) || hasControlByte(r.index))
    return false;
  for (uint32_t id : r.ids)
    if (id == 0) return false;
  for (const std::string& term : r.terms)
    if (term.empty() || term.size() > kMaxViewTermBytes) return false;
  return true;
}

void appendText(std::string_view text, std::string& bytes) {
  bytes += encodeRecordedPath(text.substr(0, kMaxViewText));
  bytes += kFieldView;
}

void appendNumber(bool known, uint32_t value, std::string& bytes) {
  if (known) bytes += std::to_string(value);
  bytes += kFieldView;
}

// A decimal number, or nothing when unknown; no leading zero (a second
// spelling).
bool readNumber(std::string_view text, bool& known, uint32_t& value) {
  known = !text.empty();
  int64_t n = 0;
  if (known && ((text.front() == '0' && text.size() > 1) || !parseDecimal(text, 0, UINT32_MAX, n)))
    return false;
  value = static_cast<uint32_t>(n);
  return true;
}

void appendRecordFields(const RemoteRecordView& r, std::string& bytes) {
  appendRecordSummary(r, bytes);
  appendText(r.docTitle, bytes);
  bytes += std::to_string((r.cutBefore ? 1 : 0) + (r.cutAfter ? 2 : 0));
  bytes += kFieldView;
}

bool readRecordFields(const std::vector<std::string_view>& f, size_t at, RemoteRecordView& r) {
  const std::string_view cut = f[at + 8];
  if (cut.size() != 1 || cut[0] < '0' || cut[0] > '3') return false;
  r.cutBefore = (cut[0] - '0') & 1;
  r.cutAfter = (cut[0] - '0') & 2;
  return readRecordSummary(f, at, r) && decodeRecordedPath(f[at + 7], r.docTitle);
}

// "record-flag": a record number from 1 and a flag of 0 or 1.
bool validSimilar(std::string_view text) {
  if (text.empty()) return true;
  const size_t dash = text.find('-');
  int64_t record = 0;
  return dash != std::string_view::npos && text.substr(dash + 1).size() == 1 &&
         (text[dash + 1] == '0' || text[dash + 1] == '1') && text[0] != '0' &&
         parseDecimal(text.substr(0, dash), 1, INT32_MAX, record);
}

bool readPieces(std::string_view text, std::vector<std::pair<std::string, bool>>& pieces) {
  pieces.clear();
  if (text.empty()) return true;
  for (std::string_view piece : split(text, std::string_view(&kPieceSeparator, 1))) {
    if (piece.empty() || (piece[0] != '+' && piece[0] != '-')) return false;
    auto& out = pieces.emplace_back(std::string(), piece[0] == '+');
    if (!decodeRecordedPath(piece.substr(1), out.first) || out.first.empty()) return false;
  }
  // A separator at the end would be a second spelling of the same pieces.
  return text.back() != kPieceSeparator;
}

// The one group of a request body or answer: the text before its E, which
// must end `bytes` (after `tail`) and occur nowhere else.
bool oneGroup(std::string_view bytes, std::string_view& group) {
  if (!endsWith(bytes, kGroupEndView)) return false;
  group = bytes.substr(0, bytes.size() - kGroupEndView.size());
  return group.find(kGroupEndView) == std::string_view::npos;
}

}  // namespace

bool buildRecordViewRequest(const RemoteViewRequest& request, std::string& bytes) {
  bytes.clear();
  if (!validRequest(request)) return false;
  std::string text = std::string(kRecordViewCommand) + std::string(kCommandWordView);
  text += request.mode + std::string(kFieldView);
  text += encodeRecordedPath(request.user) + std::string(kFieldView);
  text += request.owner + std::string(kFieldView) + request.index + std::string(kFieldView);
  for (uint32_t id : request.ids)
    text += std::to_string(id) + " ";
  text += std::string(kFieldView) + std::to_string(request.number) + std::string(kFieldView);
  for (size_t i = 0; i < request.terms.size(); ++i) {
    if (i > 0) text += ' ';
    // A blank inside a term would make two terms of it.
    std::string term = encodeRecordedPath(request.terms[i]);
    for (size_t at = term.find(' '); at != std::string::npos; at = term.find(' ', at))
      term.replace(at, 1, "%20");
    text += term;
  }
  bytes = text + std::string(kGroupEndView) + std::string(kCommandEndView);
  return true;
}

bool parseRecordViewRequest(std::string_view bytes, RemoteViewRequest& request) {
  request = RemoteViewRequest{};
  const std::string head = std::string(kRecordViewCommand) + std::string(kCommandWordView);
  if (bytes.substr(0, head.size()) != head || !endsWith(bytes, kCommandEndView)) return false;
  std::string_view body = bytes.substr(head.size());
  body.remove_suffix(kCommandEndView.size());
  std::string_view group;
  if (body.find(kCommandEndView) != std::string_view::npos || !oneGroup(body, group)) return false;
  // Every field but the last ends with F; the last (terms) may be empty.
  const std::string marked = std::string(group) + "\x01";
  const std::vector<std::string_view> f = split(marked, kFieldView);
  if (f.size() != 7) return false;
  std::string_view terms = f[6];
  terms.remove_suffix(1);
  request.mode = f[0];
  int64_t number = 0;
  if (!decodeRecordedPath(f[1], request.user) || f[4].empty() || f[4].back() != ' ' ||
      f[5].empty() || (f[5][0] == '0' && f[5].size() > 1) ||
      !parseDecimal(f[5], 0, kMaxViewSnippetBytes, number))
    return false;
  request.owner = f[2];
  request.index = f[3];
  request.number = static_cast<uint32_t>(number);
  for (std::string_view id : split(f[4], " ")) {
    int64_t value = 0;
    if (request.ids.size() == kMaxViewRecords || id.empty() || id.front() == '0' ||
        !parseDecimal(id, 1, UINT32_MAX, value))
      return false;
    request.ids.push_back(static_cast<uint32_t>(value));
  }
  if (!terms.empty()) {
    if (terms.front() == ' ' || terms.back() == ' ') return false;
    for (std::string_view term : split(terms, " ")) {
      if (request.terms.size() == kMaxViewTerms) return false;
      if (!decodeRecordedPath(term, request.terms.emplace_back())) return false;
    }
  }
  return validRequest(request);
}

void appendSnippetRecord(const RemoteRecordView& record, std::string& bytes) {
  appendRecordFields(record, bytes);
  bytes += validSimilar(record.similar) ? record.similar : std::string();
  bytes += kFieldView;
  std::string pieces;
  for (const auto& [text, term] : record.pieces) {
    if (text.empty()) continue;
    if (!pieces.empty()) pieces += kPieceSeparator;
    pieces += term ? '+' : '-';
    pieces += encodeRecordedPath(text.substr(0, kMaxViewText));
  }
  bytes += pieces;
  bytes += kFieldView;
}

void closeSnippetAnswer(std::string& bytes) {
  bytes += kGroupEndView;
}

void buildDocumentAnswer(const RemoteRecordView& record, std::string_view body,
                         std::string& bytes) {
  bytes.clear();
  appendRecordFields(record, bytes);
  bytes += kGroupEndView;
  bytes += body;
}

void buildSimilarAnswer(std::string_view terms, std::string& bytes) {
  bytes = encodeRecordedPath(terms);
  bytes += kFieldView;
  bytes += kGroupEndView;
}

bool parseSnippetAnswer(std::string_view bytes, size_t records,
                        std::vector<RemoteRecordView>& out) {
  out.clear();
  std::string_view group;
  if (records == 0 || !oneGroup(bytes, group) || !endsWith(group, kFieldView)) return false;
  const std::vector<std::string_view> f = split(group, kFieldView);
  if (f.size() != records * kSnippetFields) return false;
  out.resize(records);
  for (size_t r = 0; r < records; ++r) {
    const size_t at = r * kSnippetFields;
    if (!readRecordFields(f, at, out[r]) || !validSimilar(f[at + kRecordFields]) ||
        !readPieces(f[at + kRecordFields + 1], out[r].pieces))
      return false;
    out[r].similar = f[at + kRecordFields];
  }
  return true;
}

bool parseDocumentAnswer(std::string_view bytes, RemoteRecordView& record, std::string& body) {
  record = RemoteRecordView{};
  body.clear();
  const size_t end = bytes.find(kGroupEndView);
  if (end == std::string_view::npos) return false;
  const std::string_view head = bytes.substr(0, end);
  if (!endsWith(head, kFieldView)) return false;
  const std::vector<std::string_view> f = split(head, kFieldView);
  if (f.size() != kRecordFields || !readRecordFields(f, 0, record)) return false;
  body = bytes.substr(end + kGroupEndView.size());
  return true;
}

bool parseSimilarAnswer(std::string_view bytes, std::string& terms) {
  terms.clear();
  std::string_view group;
  if (!oneGroup(bytes, group) || !endsWith(group, kFieldView)) return false;
  group.remove_suffix(kFieldView.size());
  return group.find(kFieldView) == std::string_view::npos && decodeRecordedPath(group, terms);
}

void appendRecordSummary(const RecordSummary& r, std::string& bytes) {
  bytes += r.found ? "1" : "0";
  bytes += kFieldView;
  appendText(r.fileName, bytes);
  appendText(r.location, bytes);
  appendNumber(r.hasTime, r.time, bytes);
  appendNumber(r.hasSize, r.size, bytes);
  appendText(r.title, bytes);
  appendText(r.firstLine, bytes);
}

bool readRecordSummary(const std::vector<std::string_view>& f, size_t at, RecordSummary& r) {
  if (f[at] != "0" && f[at] != "1") return false;
  r.found = f[at] == "1";
  return decodeRecordedPath(f[at + 1], r.fileName) && decodeRecordedPath(f[at + 2], r.location) &&
         readNumber(f[at + 3], r.hasTime, r.time) && readNumber(f[at + 4], r.hasSize, r.size) &&
         decodeRecordedPath(f[at + 5], r.title) && decodeRecordedPath(f[at + 6], r.firstLine);
}

int returnCodeOf(std::string_view bytes) {
  const std::string head = std::string(kReturnCodeWord) + std::string(kFieldView);
  int64_t code = 0;
  if (bytes.substr(0, head.size()) != head || !endsWith(bytes, kGroupEndView)) return 0;
  const std::string_view number =
      bytes.substr(head.size(), bytes.size() - head.size() - kGroupEndView.size());
  return parseDecimal(number, 1, INT32_MAX, code) ? static_cast<int>(code) : 0;
}
