/// @file agent_wire.cc
/// @brief Command words, request caps and the related-term request.

#include "companions/agent/agent_wire.h"

#include "companions/records/record_lookup.h"
#include "companions/records/remote_records.h"
#include "search/remote_record_view.h"
#include "search/remote_request.h"
#include "system/delimiters.h"
#include "system/numbers.h"

namespace agent {

namespace {

constexpr std::string_view kWordDelim(kCommandWordDelim, kDelimSize);
constexpr std::string_view kEndMark(kCommandEndDelim, kDelimSize);
constexpr std::string_view kField(kFieldDelim, kDelimSize);
constexpr std::string_view kGroupEnd(kGroupEndDelim, kDelimSize);

// "%d " per id, as the merge writes a recid list: the first `count` ids.
bool parseIdList(std::string_view text, size_t count, std::vector<uint32_t>& ids) {
  ids.clear();
  size_t from = 0;
  while (ids.size() < count) {
    const size_t blank = text.find(' ', from);
    if (blank == std::string_view::npos) return false;
    int64_t id = 0;
    if (!parseDecimal(text.substr(from, blank - from), 1, INT32_MAX, id)) return false;
    ids.push_back(static_cast<uint32_t>(id));
    from = blank + 1;
  }
  return true;
}

bool parseRelTermGroup(std::string_view group, RelTermIndex& index) {
  const std::vector<std::string_view> fields = render::splitFields(group, kField);
  int64_t count = 0;
  if (fields.size() != 6 || !parseDecimal(fields[4], 1, kMaxRelTermIds, count)) return false;
  index.host = fields[0];
  index.owner = fields[1];
  index.index = fields[2];
  index.port = fields[3];
  return parseIdList(fields[5], static_cast<size_t>(count), index.ids);
}

}  // namespace

std::string refusalAnswer(int code) {
  std::string bytes;
  buildReturnCodeAnswer(code, bytes);
  return bytes;
}

bool commandWordOf(std::string_view request, std::string_view& word) {
  const size_t at = request.substr(0, kMaxCommandWord + kDelimSize).find(kWordDelim);
  if (at == std::string_view::npos) return false;
  word = request.substr(0, at);
  return true;
}

bool isAgentCommand(std::string_view word) {
  return word == kAgentSearchCommand || word == kIndexInfoCommand || word == kAgentRelTermCommand ||
         word == render::kRecordInfoCommand || word == kRecordViewCommand;
}

size_t requestCapFor(std::string_view bytes) {
  std::string_view word;
  if (!commandWordOf(bytes, word)) {
    const std::string_view search(kAgentSearchCommand);
    const bool maySearch = search.substr(0, bytes.size()) == bytes.substr(0, search.size());
    return maySearch ? kMaxSearchRequestBytes : kMaxOtherRequestBytes;
  }
  if (word == kAgentSearchCommand) return kMaxSearchRequestBytes;
  if (word == kAgentRelTermCommand) return kMaxRelTermRequestBytes;
  return kMaxOtherRequestBytes;
}

serve::Framing frameRequest(std::string_view bytes, size_t fresh) {
  std::string_view word;
  const bool hasWord = commandWordOf(bytes, word);
  if (!hasWord && bytes.size() >= kMaxCommandWord + kDelimSize) return serve::Framing::kBad;
  const size_t cap = requestCapFor(bytes);
  // The end mark may straddle the previous read.
  const size_t from = fresh >= kDelimSize - 1 ? fresh - (kDelimSize - 1) : 0;
  const size_t end = bytes.find(std::string_view(kCommandEndDelim, kDelimSize), from);
  if (end == std::string_view::npos)
    return bytes.size() >= cap ? serve::Framing::kBad : serve::Framing::kNeedMore;
  return hasWord && end + kDelimSize == bytes.size() && bytes.size() <= cap ? serve::Framing::kDone
                                                                            : serve::Framing::kBad;
}

bool parseRelTermRequest(std::string_view bytes, std::vector<RelTermIndex>& out) {
  out.clear();
  std::string_view word;
  if (!commandWordOf(bytes, word) || word != kAgentRelTermCommand) return false;
  std::string_view body = bytes.substr(word.size() + kDelimSize);
  if (body.size() < kEndMark.size() || body.substr(body.size() - kEndMark.size()) != kEndMark)
    return false;
  body.remove_suffix(kEndMark.size());
  if (body.find(kEndMark) != std::string_view::npos || body.size() < kGroupEnd.size() ||
      body.substr(body.size() - kGroupEnd.size()) != kGroupEnd)
    return false;
  for (std::string_view group : render::splitFields(body, kGroupEnd)) {
    if (out.size() == kMaxRelTermIndexes) return false;
    if (!parseRelTermGroup(group, out.emplace_back())) return false;
  }
  return true;
}

}  // namespace agent
