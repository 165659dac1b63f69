/// @file remote_relterm.cc
/// @brief The related-term request and its answer.

#include "search/remote_relterm.h"

#include <climits>

#include "search/remote_request.h"
#include "system/delimiters.h"
#include "system/numbers.h"

namespace {

constexpr std::string_view kF = kFieldView;
constexpr std::string_view kE = kGroupEndView;

bool holdsDelimiter(std::string_view text) {
  for (std::string_view d : {kFieldView, kGroupEndView, kCommandWordView, kCommandEndView})
    if (text.find(d) != std::string_view::npos) return true;
  return false;
}

bool cleanTerm(std::string_view term) {
  if (term.empty() || term.size() > kRelTermMaxTermBytes) return false;
  for (unsigned char c : term)
    if (c < 0x20 || c == 0x7F) return false;
  return true;
}

// The refusal's code; kRemoteBadAnswer when it is not one whole refusal.
int refusalCode(std::string_view answer) {
  answer.remove_prefix(sizeof kReturnCodeWord - 1 + kF.size());
  const size_t end = answer.find(kE);
  int64_t code = 0;
  if (end == std::string_view::npos || end + kE.size() != answer.size() ||
      !parseDecimal(answer.substr(0, end), 1, INT_MAX, code))
    return kRemoteBadAnswer;
  return static_cast<int>(code);
}

}  // namespace

bool buildRelTermRequest(const std::vector<RelTermRequestIndex>& indexes, std::string& bytes) {
  bytes.clear();
  if (indexes.empty() || indexes.size() > kRelTermMaxIndexes) return false;
  std::string out = std::string(kAgentRelTermCommand) + kCommandWordDelim;
  for (const RelTermRequestIndex& i : indexes) {
    if (i.count < 1 || i.count > 100) return false;
    for (const std::string* text : {&i.host, &i.owner, &i.index, &i.port, &i.ids})
      if (holdsDelimiter(*text)) return false;
    out += i.host + kFieldDelim + i.owner + kFieldDelim + i.index + kFieldDelim + i.port +
           kFieldDelim + std::to_string(i.count) + kFieldDelim + i.ids + kGroupEndDelim;
  }
  bytes = out + kCommandEndDelim;
  return true;
}

int parseRelTermAnswer(std::string_view answer, size_t indexes, std::vector<std::string>& parts) {
  parts.clear();
  const std::string refusal = std::string(kReturnCodeWord) + kFieldDelim;
  if (answer.substr(0, refusal.size()) == refusal) return refusalCode(answer);
  std::vector<std::string> read;
  for (size_t i = 0; i < indexes; ++i) {
    const size_t end = answer.find(kE);
    if (end == std::string_view::npos) return kRemoteBadAnswer;
    std::string_view terms = answer.substr(0, end);
    answer.remove_prefix(end + kE.size());
    std::string part;
    while (!terms.empty()) {
      const size_t at = terms.find(kF);
      const std::string_view term = terms.substr(0, at);
      if (cleanTerm(term)) part.append(term).append(kF);
      terms.remove_prefix(at == std::string_view::npos ? terms.size() : at + kF.size());
    }
    read.push_back(part + kGroupEndDelim);
  }
  if (!answer.empty()) return kRemoteBadAnswer;
  parts = std::move(read);
  return 0;
}
