/// @file remote_request.cc
/// @brief Builders and strict readers of the agent's requests and answers.

#include "search/remote_request.h"

#include <algorithm>
#include <climits>
#include <initializer_list>

#include "system/delimiters.h"
#include "system/numbers.h"
#include "system/server_protocol.h"

namespace {

constexpr std::string_view kF = kFieldView;
constexpr std::string_view kE = kGroupEndView;
constexpr std::string_view kOp = kCommandWordView;
constexpr std::string_view kEnd = kCommandEndView;
constexpr std::string_view kPar(kParameterDelim, kDelimSize);
constexpr size_t kMatchedMax = 10240;
constexpr size_t kInfoTextMax = 63;
constexpr size_t kInfoTypeMax = 15;
// Fields of the head of a search request: option to host end with F, the
// port with E.
constexpr size_t kHeadFields = 9;

// `text` up to its first field or group delimiter: what an answer can carry
// of it without being misread.
std::string_view beforeDelimiter(std::string_view text) {
  return text.substr(0, std::min(text.find(kF), text.find(kE)));
}

// A search-by-field string is made of F-framed numbers, so F may appear in
// it; no other delimiter may.
bool cleanSbf(std::string_view sbf) {
  for (std::string_view d : {kE, kOp, kEnd, kPar}) {
    if (sbf.find(d) != std::string_view::npos) return false;
  }
  return true;
}

bool readInt(std::string_view text, int64_t min, int64_t max, int& out) {
  int64_t value = 0;
  if (!parseDecimal(text, min, max, value)) return false;
  out = static_cast<int>(value);
  return true;
}

// Splits `text` at every `delim`: the pieces before each delimiter, and the
// rest after the last one.
std::vector<std::string_view> splitAt(std::string_view text, std::string_view delim,
                                      std::string_view& rest) {
  std::vector<std::string_view> parts;
  size_t at;
  while ((at = text.find(delim)) != std::string_view::npos) {
    parts.push_back(text.substr(0, at));
    text.remove_prefix(at + delim.size());
  }
  rest = text;
  return parts;
}

// The body of a command `word` OP body END that fills `bytes` whole.
bool commandBody(std::string_view bytes, std::string_view word, std::string_view& body) {
  if (bytes.size() < word.size() + 2 * kDelimSize || bytes.substr(0, word.size()) != word ||
      bytes.substr(word.size(), kDelimSize) != kOp ||
      bytes.substr(bytes.size() - kDelimSize) != kEnd)
    return false;
  body = bytes.substr(word.size() + kDelimSize, bytes.size() - word.size() - 2 * kDelimSize);
  return body.find(kOp) == body.npos && body.find(kEnd) == body.npos &&
         body.find(kPar) == body.npos;
}

bool parseHead(std::string_view head, RemoteSearchRequest& request) {
  std::string_view port;
  const std::vector<std::string_view> f = splitAt(head, kF, port);
  if (f.size() != kHeadFields - 1 || hasProtocolDelimiter(port)) return false;
  request.velaOption.assign(f[0]);
  request.sortField.assign(f[2]);
  request.beginFile.assign(f[3]);
  request.endFile.assign(f[4]);
  request.host.assign(f[7]);
  request.port.assign(port);
  return readInt(f[1], INT_MIN, INT_MAX, request.searchMode) &&
         readInt(f[5], INT32_MIN, INT32_MAX, request.beginTime) &&
         readInt(f[6], INT32_MIN, INT32_MAX, request.endTime);
}

// owner F index F sbf F type, where sbf may hold F itself.
bool parseIndexGroup(std::string_view group, RemoteIndex& index) {
  const size_t f1 = group.find(kF);
  if (f1 == group.npos) return false;
  const size_t f2 = group.find(kF, f1 + kDelimSize);
  const size_t last = group.rfind(kF);
  if (f2 == group.npos || last == f2 || last < f2) return false;
  index.owner.assign(group.substr(0, f1));
  index.idxName.assign(group.substr(f1 + kDelimSize, f2 - f1 - kDelimSize));
  index.sbfString.assign(group.substr(f2 + kDelimSize, last - f2 - kDelimSize));
  index.dbType.assign(group.substr(last + kDelimSize));
  return !index.idxName.empty();
}

}  // namespace

bool buildRemoteSearchRequest(const RemoteSearchRequest& request, std::string& bytes) {
  bytes.clear();
  if (request.indexes.empty() || request.indexes.size() > kRemoteMaxIndexes) return false;
  for (const std::string* text : {&request.velaOption, &request.sortField, &request.beginFile,
                                  &request.endFile, &request.host, &request.port}) {
    if (hasProtocolDelimiter(*text)) return false;
  }
  std::string out(kAgentSearchCommand);
  out.append(kOp);
  for (const std::string& field :
       {request.velaOption, std::to_string(request.searchMode), request.sortField,
        request.beginFile, request.endFile, std::to_string(request.beginTime),
        std::to_string(request.endTime), request.host}) {
    out.append(field).append(kF);
  }
  out.append(request.port).append(kE);
  for (const RemoteIndex& index : request.indexes) {
    if (index.idxName.empty() || hasProtocolDelimiter(index.owner) ||
        hasProtocolDelimiter(index.idxName) || hasProtocolDelimiter(index.dbType) ||
        !cleanSbf(index.sbfString))
      return false;
    out.append(index.owner).append(kF).append(index.idxName).append(kF);
    out.append(index.sbfString).append(kF).append(index.dbType).append(kE);
  }
  out.append(kEnd);
  bytes.swap(out);
  return true;
}

bool parseRemoteSearchRequest(std::string_view bytes, RemoteSearchRequest& request) {
  request = RemoteSearchRequest();
  std::string_view body, rest;
  if (!commandBody(bytes, kAgentSearchCommand, body)) return false;
  const std::vector<std::string_view> groups = splitAt(body, kE, rest);
  if (!rest.empty() || groups.size() < 2 || groups.size() > kRemoteMaxIndexes + 1) return false;
  if (!parseHead(groups[0], request)) return false;
  for (size_t i = 1; i < groups.size(); ++i) {
    RemoteIndex index;
    if (!parseIndexGroup(groups[i], index)) return false;
    request.indexes.push_back(std::move(index));
  }
  return true;
}

void buildRemoteSearchAnswer(std::string_view matched, int hits, std::string_view block,
                             std::string& bytes) {
  bytes.assign(beforeDelimiter(matched.substr(0, kMatchedMax)));
  bytes.append(kF).append(std::to_string(hits)).append(kE).append(block);
}

void buildReturnCodeAnswer(int code, std::string& bytes) {
  bytes.assign(kReturnCodeWord).append(kF).append(std::to_string(code)).append(kE);
}

int parseRemoteSearchAnswer(std::string_view bytes, RemoteSearchAnswer& answer) {
  answer = RemoteSearchAnswer();
  const size_t f = bytes.find(kF);
  const size_t e = bytes.find(kE);
  if (f == bytes.npos || e == bytes.npos || e < f + kDelimSize) return kRemoteBadAnswer;
  const std::string_view head = bytes.substr(0, f);
  const std::string_view number = bytes.substr(f + kDelimSize, e - f - kDelimSize);
  const std::string_view block = bytes.substr(e + kDelimSize);
  if (head == kReturnCodeWord) {
    int code = 0;
    if (!block.empty() || !readInt(number, 1, INT_MAX, code)) return kRemoteBadAnswer;
    return code;
  }
  if (!readInt(number, 0, INT32_MAX, answer.hits)) return kRemoteBadAnswer;
  answer.matched.assign(head.substr(0, kMatchedMax));
  answer.block.assign(block);
  return 0;
}

size_t remoteSearchAnswerLimit(std::string_view received, size_t sections, SortKeyKind kind,
                               size_t cap) {
  // Generous bounds of the parts of a section: n and L as decimal numbers
  // with their delimiters and the END, and per hit a pair of 7-bit groups of
  // five bytes at most and its key.
  constexpr uint64_t kSectionFrame = 2 * 20 + 4 * kResultDelimSize;
  constexpr uint64_t kPairMax = 10;
  const uint64_t keyMax = kind == SortKeyKind::kNumber ? 5 : kMaxTextKey + kResultDelimSize;
  constexpr size_t kNumberMax = 20;  // digits of the hit count or code, leading zeros included

  // An agent sends at most 10,240 bytes before F; a longer head is cut on
  // reading, so some room past that is tolerated, but not an endless one.
  constexpr size_t headMax = 64 * 1024;
  const size_t f = received.find(kF);
  if (f == received.npos) return received.size() < headMax + kDelimSize ? cap : 0;
  if (f > headMax) return 0;
  const size_t numberAt = f + kDelimSize;
  const size_t e = received.find(kE, numberAt);
  if (e == received.npos) return received.size() < numberAt + kNumberMax + kDelimSize ? cap : 0;
  if (e > numberAt + kNumberMax) return 0;
  const size_t blockAt = e + kDelimSize;
  int hits = 0;
  // A refusal, or a count that does not read, is whole at its E: whatever
  // follows can only be refused.
  if (received.substr(0, f) == kReturnCodeWord ||
      !readInt(received.substr(numberAt, e - numberAt), 0, INT32_MAX, hits))
    return blockAt;
  if (hits > 0 && blockAt + 2 * static_cast<uint64_t>(hits) > cap) return 0;
  const uint64_t most =
      blockAt + sections * kSectionFrame + static_cast<uint64_t>(hits) * (kPairMax + keyMax);
  return static_cast<size_t>(std::min<uint64_t>(most, cap));
}

bool buildIndexInfoRequest(std::string_view indexName, std::string& bytes) {
  bytes.clear();
  if (indexName.empty() || hasProtocolDelimiter(indexName)) return false;
  bytes.assign(kIndexInfoCommand).append(kOp).append(indexName).append(kE).append(kEnd);
  return true;
}

bool parseIndexInfoRequest(std::string_view bytes, std::string& indexName) {
  indexName.clear();
  std::string_view body;
  if (!commandBody(bytes, kIndexInfoCommand, body) || body.size() <= kDelimSize ||
      body.substr(body.size() - kDelimSize) != kE)
    return false;
  const std::string_view name = body.substr(0, body.size() - kDelimSize);
  if (hasProtocolDelimiter(name)) return false;
  indexName.assign(name);
  return true;
}

void buildIndexInfoAnswer(std::string_view owner, std::string_view desc, std::string_view type,
                          std::string& bytes) {
  bytes.assign(beforeDelimiter(owner)).append(kF).append(kF);
  bytes.append(beforeDelimiter(desc)).append(kF).append(beforeDelimiter(type)).append(kF);
}

bool parseIndexInfoAnswer(std::string_view bytes, std::string& owner, std::string& desc,
                          std::string& type) {
  owner.clear();
  desc.clear();
  type.clear();
  std::string_view rest;
  const std::vector<std::string_view> f = splitAt(bytes, kF, rest);
  if (f.size() != 4 || !rest.empty()) return false;
  owner.assign(f[0].substr(0, kInfoTextMax));
  desc.assign(f[2].substr(0, kInfoTextMax));
  type.assign(f[3].substr(0, kInfoTypeMax));
  return true;
}
