/// @file fuzz_agent_answer.cc
/// @brief An agent's answers of arbitrary bytes through the search answer
/// and index description readers; what they accept, written again, reads
/// back the same.

#include <string>
#include <string_view>

#include "search/remote_request.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

namespace {

const std::string_view kF("\x12\x13\x14", 3), kE("\x15\x16\x17", 3);

bool holdsDelimiter(std::string_view text) {
  return text.find(kF) != text.npos || text.find(kE) != text.npos;
}

void searchAnswer(std::string_view bytes) {
  RemoteSearchAnswer answer;
  const int rc = parseRemoteSearchAnswer(bytes, answer);
  if (rc != 0) {
    check(rc > 0 && answer.block.empty());
    return;
  }
  check(answer.hits >= 0 && answer.matched.size() <= 10240);
  check(answer.block.size() <= bytes.size());
  std::string again;
  buildRemoteSearchAnswer(answer.matched, answer.hits, answer.block, again);
  RemoteSearchAnswer back;
  check(parseRemoteSearchAnswer(again, back) == 0);
  check(back.hits == answer.hits && back.block == answer.block);
  if (!holdsDelimiter(answer.matched)) check(back.matched == answer.matched);
}

void indexInfoAnswer(std::string_view bytes) {
  std::string owner, desc, type;
  if (!parseIndexInfoAnswer(bytes, owner, desc, type)) {
    check(owner.empty() && desc.empty() && type.empty());
    return;
  }
  check(owner.size() <= 63 && desc.size() <= 63 && type.size() <= 15);
  std::string again, o, d, t;
  buildIndexInfoAnswer(owner, desc, type, again);
  check(parseIndexInfoAnswer(again, o, d, t));
  if (!holdsDelimiter(owner + desc + type)) check(o == owner && d == desc && t == type);
}

// What the reader lets grow is never more than the cap, and never grows as
// more bytes arrive: a limit once told holds for the rest of the answer.
void answerLimit(std::string_view bytes) {
  constexpr size_t kCap = 1 << 16;
  const size_t sections = 1 + bytes.size() % 3;
  const SortKeyKind kind = bytes.size() % 2 ? SortKeyKind::kNumber : SortKeyKind::kText;
  const size_t whole = remoteSearchAnswerLimit(bytes, sections, kind, kCap);
  check(whole <= kCap);
  for (size_t cut : {bytes.size() / 3, bytes.size() / 2, bytes.size() - bytes.size() / 4})
    check(remoteSearchAnswerLimit(bytes.substr(0, cut), sections, kind, kCap) >= whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  searchAnswer(bytes);
  answerLimit(bytes);
  indexInfoAnswer(bytes);
  return 0;
}
