/// @file result_block.h
/// @brief The search result block that every search job hands to the merge:
/// the writer of one section and a bounded reader of one section.
///
/// One section per index of a job, back to back:
///   n FD pairs FD L FD keys END
/// n and L are decimal ASCII; pairs are n times (score, record id) as 7-bit
/// groups; keys are one per hit (a 7-bit-group number, or a text followed by
/// g_result_value_delim); L counts the key bytes plus the closing END. A
/// block may hold zero bytes (a score or a time of 0): carry it as a
/// std::string or with an explicit length, never as a C string.

#ifndef SEARCHRUN_SEARCH_RESULT_BLOCK_H
#define SEARCHRUN_SEARCH_RESULT_BLOCK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "search/uint7.h"

// The three-byte delimiters of a block.
extern const char g_result_field_delim[3];  // 0x12 0x13 0x14 between fields
extern const char g_result_end_delim[3];    // 0x15 0x16 0x17 at the end of a section
extern const char g_result_value_delim[3];  // 0x12 0x14 0x16 after a text key
constexpr size_t kResultDelimSize = 3;

// Longest text key (a file name, an owner, a database cell); longer texts
// are cut to this many bytes.
constexpr size_t kMaxTextKey = 1023;

// What the keys of a section are, by the request's sort field.
enum class SortKeyKind {
  kNone,    // any other field: no keys, L is 3
  kNumber,  // "date", "size", "score", "index", "none": one 7-bit-group number per hit
  kText,    // "filename", "owner", "DB_<column>": one text + g_result_value_delim per hit
};
// The kind for `sortField` (compared exactly; null is kNone).
SortKeyKind sortKeyKindOf(const char* sortField);

// The growing parts of one section: the pairs and the keys, kept apart
// until the section is written because n and L come first.
struct ResultSection {
  uint32_t n = 0;
  std::string pairs;
  std::string keys;

  void addPair(uint32_t score, uint32_t recid) {
    // Every hit passes here: both numbers go in with one append.
    unsigned char bytes[2 * kUInt7MaxBytes];
    unsigned char* cursor = bytes;
    g_addUInt_7U(score, cursor);
    g_addUInt_7U(recid, cursor);
    pairs.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(cursor - bytes));
    ++n;
  }
  void addNumberKey(uint32_t value) { g_addUInt_7U(value, keys); }
  // Appends at most kMaxTextKey bytes of `text` and the value delimiter.
  void addTextKey(const char* text, size_t size);
  void addTextKey(const std::string& text) { addTextKey(text.data(), text.size()); }
};

// Appends the section to `block`: n, FD, pairs, FD, L, FD, keys, END.
void appendResultSection(const ResultSection& section, std::string& block);

// One section as read back. Text keys point into the block (not owned,
// valid while the block lives) and exclude their value delimiter.
struct ResultKey {
  uint32_t number = 0;
  const char* text = nullptr;
  size_t textSize = 0;
};
struct ResultPair {
  uint32_t score = 0;
  uint32_t recid = 0;
};
struct ResultSectionView {
  uint32_t n = 0;
  std::vector<ResultPair> pairs;   // n entries
  const char* keyBytes = nullptr;  // the L - 3 key bytes (kText: the texts with their delimiters)
  size_t keySize = 0;
  std::vector<ResultKey> keys;  // n entries for kNumber and kText, none for kNone
};

// Reads one section at `cursor` and advances past it. False (cursor marked
// failed, `out` unspecified) when n or L is not a decimal number followed by
// FD, a pair or key runs past the block or past L, the FD after the pairs or
// the END after the keys is missing, or a text section does not hold exactly
// n values. Record ids are read in the 4-byte form. Numeric keys must fill
// the key part exactly; for kNone the key part is skipped whole. A section
// claiming more hits than its bytes could hold is rejected before any
// allocation.
bool readResultSection(ByteCursor& cursor, SortKeyKind kind, ResultSectionView& out);

#endif  // SEARCHRUN_SEARCH_RESULT_BLOCK_H
