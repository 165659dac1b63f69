/// @file fuzz_result_block.cc
/// @brief Search result blocks of arbitrary bytes through the section
/// reader, for every kind of sort key; a block the writer rebuilds from a
/// section read back must read the same.

#include "search/result_block.h"
#include "tests/fuzz/fuzz_scratch.h"

using fuzzscratch::check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* begin = reinterpret_cast<const char*>(data);
  for (SortKeyKind kind : {SortKeyKind::kNone, SortKeyKind::kNumber, SortKeyKind::kText}) {
    ByteCursor cursor(data, size);
    ResultSectionView view;
    while (cursor.remaining() > 0 && readResultSection(cursor, kind, view)) {
      check(view.pairs.size() == view.n);
      check(kind == SortKeyKind::kNone ? view.keys.empty() : view.keys.size() == view.n);
      check(view.keyBytes >= begin && view.keyBytes + view.keySize <= begin + size);
      ResultSection section;
      for (size_t i = 0; i < view.n; ++i) {
        const ResultKey& key = view.keys.empty() ? ResultKey{} : view.keys[i];
        check(
            kind != SortKeyKind::kText ||
            (key.text >= view.keyBytes && key.text + key.textSize <= view.keyBytes + view.keySize));
        section.addPair(view.pairs[i].score, view.pairs[i].recid);
        if (kind == SortKeyKind::kNumber) section.addNumberKey(key.number);
        if (kind == SortKeyKind::kText) section.addTextKey(key.text, key.textSize);
      }
      // Written again, it reads back to the same pairs.
      std::string block;
      appendResultSection(section, block);
      ByteCursor again(block.data(), block.size());
      ResultSectionView back;
      check(readResultSection(again, kind, back) && again.remaining() == 0 && back.n == view.n);
      for (size_t i = 0; i < view.n; ++i)
        check(back.pairs[i].score == view.pairs[i].score &&
              back.pairs[i].recid == view.pairs[i].recid);
    }
  }
  return 0;
}
