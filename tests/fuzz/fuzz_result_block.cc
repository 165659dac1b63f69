/// @file fuzz_result_block.cc
/// @brief Search result blocks of arbitrary bytes through the section
/// reader, for every kind of sort key; a block the writer rebuilds from a
/// section read back must read the same.

#include <cstddef>
#include <cstdint>
#include <string>

#include "search/result_block.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// Writes `view` again and checks that it reads back to the same pairs.
void roundTrip(const CResultSectionView& view, SortKeyKind kind) {
  CResultSection section;
  for (size_t i = 0; i < view.pairs.size(); ++i) {
    section.addPair(view.pairs[i].score, view.pairs[i].recid);
    if (kind == SortKeyKind::kNumber) section.addNumberKey(view.keys[i].number);
    if (kind == SortKeyKind::kText) section.addTextKey(view.keys[i].text, view.keys[i].textSize);
  }
  std::string block;
  appendResultSection(section, block);
  CByteCursor cursor(block.data(), block.size());
  CResultSectionView again;
  check(readResultSection(cursor, kind, again) && cursor.remaining() == 0);
  check(again.n == view.n);
  for (size_t i = 0; i < view.pairs.size(); ++i)
    check(again.pairs[i].score == view.pairs[i].score &&
          again.pairs[i].recid == view.pairs[i].recid);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  for (SortKeyKind kind : {SortKeyKind::kNone, SortKeyKind::kNumber, SortKeyKind::kText}) {
    CByteCursor cursor(data, size);
    CResultSectionView view;
    while (cursor.remaining() > 0 && readResultSection(cursor, kind, view)) {
      check(view.pairs.size() == view.n);
      check(kind == SortKeyKind::kNone ? view.keys.empty() : view.keys.size() == view.n);
      const char* begin = reinterpret_cast<const char*>(data);
      check(view.keyBytes >= begin && view.keyBytes + view.keySize <= begin + size);
      for (const CResultKey& key : view.keys)
        check(
            kind != SortKeyKind::kText ||
            (key.text >= view.keyBytes && key.text + key.textSize <= view.keyBytes + view.keySize));
      roundTrip(view, kind);
    }
  }
  return 0;
}
