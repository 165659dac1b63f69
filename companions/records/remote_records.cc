/// @file remote_records.cc
/// @brief The record-details exchange with another host's agent.

#include "companions/records/remote_records.h"

#include <algorithm>

#include "companions/doctext/library_convert.h"
#include "system/agent_hosts.h"
#include "system/delimiters.h"
#include "system/net_exchange.h"
#include "system/numbers.h"
#include "system/recorded_path.h"

namespace render {

namespace {

constexpr std::string_view kWordDelim(kCommandWordDelim, kDelimSize);
constexpr std::string_view kEndMark(kCommandEndDelim, kDelimSize);
constexpr std::string_view kField(kFieldDelim, kDelimSize);
constexpr std::string_view kGroupEnd(kGroupEndDelim, kDelimSize);
constexpr size_t kFieldsPerRecord = 7;

bool hasControlByte(std::string_view text) {
  for (unsigned char c : text)
    if (c < 0x20 || c == 0x7F) return true;
  return false;
}

// The body between the command word and the end mark, which must end the
// request and appear nowhere else.
bool requestBody(std::string_view bytes, std::string_view& body) {
  const std::string head = std::string(kRecordInfoCommand) + std::string(kWordDelim);
  if (bytes.substr(0, head.size()) != head) return false;
  body = bytes.substr(head.size());
  if (body.size() < kEndMark.size() || body.find(kEndMark) != body.size() - kEndMark.size())
    return false;
  body.remove_suffix(kEndMark.size());
  return body.size() >= kGroupEnd.size() &&
         body.substr(body.size() - kGroupEnd.size()) == kGroupEnd;
}

bool parseIds(std::string_view text, std::vector<uint32_t>& ids, size_t& total) {
  if (text.empty() || text.back() != ' ') return false;
  for (std::string_view id : splitFields(text, " ")) {
    int64_t value = 0;
    // A leading zero would give one record a second spelling.
    if (++total > kMaxRemoteRecords || id.empty() || id.front() == '0' ||
        !parseDecimal(id, 1, UINT32_MAX, value))
      return false;
    ids.push_back(static_cast<uint32_t>(value));
  }
  return true;
}

std::string hostKey(const RecordLine& line) {
  return line.host + ":" + line.port;
}

std::string recordKey(const std::string& host, const std::string& owner, const std::string& index,
                      uint32_t recid) {
  return host + std::string(kField) + owner + std::string(kField) + index + std::string(kField) +
         std::to_string(recid);
}

// The exchange of `request` with the agent at host:port (an allowed agent
// only: the hosts come from a result file, which lists only allowed agents;
// checked again so that no file makes the renderer connect elsewhere).
bool exchange(const std::string& host, const std::string& port, const std::string& request,
              std::string& answer) {
  int64_t portNumber = 0;
  if (!isAllowedAgent(host, port) || !parseDecimal(port, 1, 65535, portNumber)) return false;
  // Finding the host is the C library's name service.
  requireFullRuntime();
  return getData(host.c_str(), static_cast<uint16_t>(portNumber), request, answer,
                 systemGetNetLimits()) == kNetOk;
}

// One exchange with the agent at host:port; false when it gives no details.
bool fetchFrom(const std::string& host, const std::string& port,
               const std::vector<RemoteRecordGroup>& groups,
               std::vector<std::vector<RecordDetails>>& out) {
  std::string request, answer;
  return buildRecordInfoRequest(groups, request) && exchange(host, port, request, answer) &&
         parseRecordInfoAnswer(answer, groups, out);
}

// The views of one index's hits; false when the agent gives none.
bool fetchViews(const std::string& host, const std::string& port, const RemoteRecordGroup& group,
                const RemoteViewContext& context, std::vector<RemoteRecordView>& out) {
  out.clear();
  RemoteViewRequest request;
  request.mode = kViewModeSnippet;
  request.user = context.user;
  request.owner = group.owner;
  request.index = group.index;
  request.number =
      static_cast<uint32_t>(std::clamp<size_t>(context.snippetBytes, 1, kMaxViewSnippetBytes));
  for (const std::string& term : context.terms)
    if (!term.empty() && term.size() <= kMaxViewTermBytes && request.terms.size() < kMaxViewTerms)
      request.terms.push_back(term);
  for (size_t from = 0; from < group.ids.size(); from += kMaxViewRecords) {
    const size_t to = std::min(group.ids.size(), from + kMaxViewRecords);
    request.ids.assign(group.ids.begin() + static_cast<ptrdiff_t>(from),
                       group.ids.begin() + static_cast<ptrdiff_t>(to));
    std::string bytes, answer;
    std::vector<RemoteRecordView> part;
    if (!buildRecordViewRequest(request, bytes) || !exchange(host, port, bytes, answer) ||
        !parseSnippetAnswer(answer, request.ids.size(), part))
      return false;
    out.insert(out.end(), part.begin(), part.end());
  }
  // Without snippets the page shows none: the agent's are dropped.
  if (context.snippetBytes == 0)
    for (RemoteRecordView& view : out)
      view.pieces.clear();
  return true;
}

}  // namespace

bool fetchRemoteDocument(const RecordLine& line, const std::string& user, bool raw,
                         RemoteRecordView& view, std::string& body) {
  view = RemoteRecordView{};
  body.clear();
  if (line.recid < 1) return false;
  RemoteViewRequest request;
  request.mode = raw ? kViewModeRaw : kViewModeText;
  request.user = user;
  request.owner = line.owner;
  request.index = line.index;
  request.ids = {static_cast<uint32_t>(line.recid)};
  std::string bytes, answer;
  return buildRecordViewRequest(request, bytes) && exchange(line.host, line.port, bytes, answer) &&
         parseDocumentAnswer(answer, view, body) && view.found &&
         // The bytes of a document are all of it, as its size was recorded.
         (!raw || (view.hasSize && body.size() == view.size));
}

bool buildRecordInfoRequest(const std::vector<RemoteRecordGroup>& groups, std::string& bytes) {
  bytes.clear();
  size_t total = 0;
  if (groups.empty() || groups.size() > kMaxRemoteGroups) return false;
  std::string text = std::string(kRecordInfoCommand) + std::string(kWordDelim);
  for (const RemoteRecordGroup& group : groups) {
    total += group.ids.size();
    if (group.ids.empty() || total > kMaxRemoteRecords || hasControlByte(group.owner) ||
        hasControlByte(group.index))
      return false;
    text += group.owner + std::string(kField) + group.index + std::string(kField);
    for (uint32_t id : group.ids) {
      if (id == 0) return false;
      text += std::to_string(id) + " ";
    }
    text += kGroupEnd;
  }
  bytes = text + std::string(kEndMark);
  return true;
}

bool parseRecordInfoRequest(std::string_view bytes, std::vector<RemoteRecordGroup>& groups) {
  groups.clear();
  std::string_view body;
  if (!requestBody(bytes, body)) return false;
  size_t total = 0;
  for (std::string_view text : splitFields(body, kGroupEnd)) {
    // The split takes a closing F for a terminator: a group ended by one
    // would read like one without, a second spelling of the same request.
    const bool closingField =
        text.size() >= kField.size() && text.substr(text.size() - kField.size()) == kField;
    const std::vector<std::string_view> fields = splitFields(text, kField);
    if (groups.size() == kMaxRemoteGroups || closingField || fields.size() != 3 ||
        hasControlByte(fields[0]) || hasControlByte(fields[1]))
      return false;
    RemoteRecordGroup& group = groups.emplace_back();
    group.owner = fields[0];
    group.index = fields[1];
    if (!parseIds(fields[2], group.ids, total)) return false;
  }
  return true;
}

bool parseRecordInfoAnswer(std::string_view bytes, const std::vector<RemoteRecordGroup>& asked,
                           std::vector<std::vector<RecordDetails>>& out) {
  out.clear();
  if (bytes.size() < kGroupEnd.size() || bytes.substr(bytes.size() - kGroupEnd.size()) != kGroupEnd)
    return false;
  const std::vector<std::string_view> groups = splitFields(bytes, kGroupEnd);
  if (groups.size() != asked.size()) return false;
  for (size_t g = 0; g < groups.size(); ++g) {
    // Every field ends with F, so the count is exact; an empty text is a
    // field like any other.
    const std::vector<std::string_view> fields = splitFields(groups[g], kField);
    const size_t records = asked[g].ids.size();
    if (groups[g].size() < kField.size() ||
        groups[g].substr(groups[g].size() - kField.size()) != kField ||
        fields.size() != records * kFieldsPerRecord)
      return false;
    std::vector<RecordDetails>& list = out.emplace_back(records);
    for (size_t r = 0; r < records; ++r)
      if (!readRecordSummary(fields, r * kFieldsPerRecord, list[r])) return false;
  }
  return true;
}

void RemoteRecords::want(const RecordLine& line) {
  if (line.recid < 1) return;
  std::vector<RemoteRecordGroup>& groups = asked_[hostKey(line)];
  auto group = std::find_if(groups.begin(), groups.end(), [&](const RemoteRecordGroup& g) {
    return g.owner == line.owner && g.index == line.index;
  });
  if (group == groups.end()) group = groups.insert(groups.end(), {line.owner, line.index, {}});
  group->ids.push_back(static_cast<uint32_t>(line.recid));
}

void RemoteRecords::fetch(const RemoteViewContext& context) {
  for (const auto& [key, all] : asked_) {
    const size_t colon = key.rfind(':');
    const std::string host = key.substr(0, colon);
    const std::string port = key.substr(colon + 1);
    std::vector<RemoteRecordGroup> groups;
    for (const RemoteRecordGroup& group : all) {
      std::vector<RemoteRecordView> views;
      if (!fetchViews(host, port, group, context, views)) {
        groups.push_back(group);
        continue;
      }
      for (size_t r = 0; r < group.ids.size(); ++r) {
        const std::string at = recordKey(key, group.owner, group.index, group.ids[r]);
        static_cast<RecordSummary&>(got_[at]) = views[r];
        views_[at] = views[r];
      }
    }
    std::vector<std::vector<RecordDetails>> details;
    if (groups.empty() || !fetchFrom(host, port, groups, details)) continue;
    for (size_t g = 0; g < groups.size(); ++g)
      for (size_t r = 0; r < groups[g].ids.size(); ++r)
        got_[recordKey(key, groups[g].owner, groups[g].index, groups[g].ids[r])] = details[g][r];
  }
}

const RemoteRecordView* RemoteRecords::view(const RecordLine& line) const {
  const auto found = views_.find(
      recordKey(hostKey(line), line.owner, line.index, static_cast<uint32_t>(line.recid)));
  return found == views_.end() ? nullptr : &found->second;
}

RecordDetails RemoteRecords::details(const RecordLine& line) const {
  const auto found = got_.find(
      recordKey(hostKey(line), line.owner, line.index, static_cast<uint32_t>(line.recid)));
  return found == got_.end() ? RecordDetails{} : found->second;
}

}  // namespace render
