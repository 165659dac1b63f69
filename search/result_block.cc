/// @file result_block.cc
/// @brief Writing and reading one section of a search result block.

#include "search/result_block.h"

#include <cstring>

#include "system/delimiters.h"
#include "system/numbers.h"

const char g_result_field_delim[3] = {kFieldDelim[0], kFieldDelim[1], kFieldDelim[2]};
const char g_result_end_delim[3] = {kGroupEndDelim[0], kGroupEndDelim[1], kGroupEndDelim[2]};
const char g_result_value_delim[3] = {kValueDelim[0], kValueDelim[1], kValueDelim[2]};

namespace {

// A decimal count never needs more digits than a 32-bit value has.
constexpr size_t kMaxDecimalDigits = 10;

void appendDelim(const char (&delim)[3], std::string& out) {
  out.append(delim, kResultDelimSize);
}

bool delimAt(const unsigned char* p, const unsigned char* end, const char (&delim)[3]) {
  return static_cast<size_t>(end - p) >= kResultDelimSize &&
         std::memcmp(p, delim, kResultDelimSize) == 0;
}

bool fail(ByteCursor& cursor) {
  cursor.failed = true;
  return false;
}

// Reads "digits FD" at the cursor.
bool readDecimalField(ByteCursor& cursor, uint32_t& value) {
  const unsigned char* p = cursor.pos;
  while (p < cursor.end && *p >= '0' && *p <= '9' && p - cursor.pos <= int(kMaxDecimalDigits))
    ++p;
  int64_t parsed = 0;
  const std::string_view digits(reinterpret_cast<const char*>(cursor.pos), size_t(p - cursor.pos));
  if (digits.empty() || digits.size() > kMaxDecimalDigits ||
      !delimAt(p, cursor.end, g_result_field_delim) || !parseDecimal(digits, 0, UINT32_MAX, parsed))
    return fail(cursor);
  value = static_cast<uint32_t>(parsed);
  cursor.pos = p + kResultDelimSize;
  return true;
}

bool readNumberKeys(ByteCursor keys, uint32_t n, std::vector<ResultKey>& out) {
  out.resize(n);
  for (ResultKey& key : out)
    key.number = g_getUInt_7U(keys);
  return keys.ok() && keys.remaining() == 0;
}

bool readTextKeys(const char* bytes, size_t size, uint32_t n, std::vector<ResultKey>& out) {
  // Every text key takes at least its delimiter.
  if (n > size / kResultDelimSize) return false;
  out.resize(n);
  const char* p = bytes;
  const char* const end = bytes + size;
  for (ResultKey& key : out) {
    const char* found = nullptr;
    for (const char* q = p; static_cast<size_t>(end - q) >= kResultDelimSize; ++q) {
      if (std::memcmp(q, g_result_value_delim, kResultDelimSize) == 0) {
        found = q;
        break;
      }
    }
    if (found == nullptr) return false;
    key.text = p;
    key.textSize = static_cast<size_t>(found - p);
    p = found + kResultDelimSize;
  }
  return p == end;
}

}  // namespace

SortKeyKind sortKeyKindOf(const char* sortField) {
  if (sortField == nullptr) return SortKeyKind::kNone;
  for (const char* number : {"date", "size", "score", "index", "none"})
    if (std::strcmp(sortField, number) == 0) return SortKeyKind::kNumber;
  if (std::strcmp(sortField, "filename") == 0 || std::strcmp(sortField, "owner") == 0 ||
      std::strncmp(sortField, "DB_", 3) == 0)
    return SortKeyKind::kText;
  return SortKeyKind::kNone;
}

void ResultSection::addTextKey(const char* text, size_t size) {
  if (size > kMaxTextKey) size = kMaxTextKey;
  const size_t start = keys.size();
  keys.append(text, size);
  // A value that holds the delimiter itself would split into two keys and
  // make the whole section unreadable; a blank takes the place of its first
  // byte.
  for (size_t i = start; i + kResultDelimSize <= keys.size(); ++i)
    if (std::memcmp(keys.data() + i, g_result_value_delim, kResultDelimSize) == 0) keys[i] = ' ';
  appendDelim(g_result_value_delim, keys);
}

void appendResultSection(const ResultSection& section, std::string& block) {
  block.append(std::to_string(section.n));
  appendDelim(g_result_field_delim, block);
  block.append(section.pairs);
  appendDelim(g_result_field_delim, block);
  block.append(std::to_string(section.keys.size() + kResultDelimSize));
  appendDelim(g_result_field_delim, block);
  block.append(section.keys);
  appendDelim(g_result_end_delim, block);
}

bool readResultSection(ByteCursor& cursor, SortKeyKind kind, ResultSectionView& out) {
  if (!cursor.ok()) return false;
  out = ResultSectionView();
  if (!readDecimalField(cursor, out.n)) return false;
  // A pair takes at least two bytes: refuse counts the block cannot hold
  // before reserving anything for them.
  if (out.n > cursor.remaining() / 2) return fail(cursor);
  out.pairs.resize(out.n);
  for (ResultPair& pair : out.pairs) {
    pair.score = g_getUInt_7U(cursor);
    pair.recid = g_getUInt_7U_4(cursor);
  }
  if (!cursor.ok() || !delimAt(cursor.pos, cursor.end, g_result_field_delim)) return fail(cursor);
  cursor.pos += kResultDelimSize;

  uint32_t length = 0;
  if (!readDecimalField(cursor, length)) return false;
  if (length < kResultDelimSize || length > cursor.remaining()) return fail(cursor);
  out.keyBytes = reinterpret_cast<const char*>(cursor.pos);
  out.keySize = length - kResultDelimSize;
  const unsigned char* const endDelim = cursor.pos + out.keySize;
  if (!delimAt(endDelim, cursor.end, g_result_end_delim)) return fail(cursor);

  bool keysOk = true;
  if (kind == SortKeyKind::kNumber) {
    if (out.n > out.keySize) return fail(cursor);  // a number takes at least one byte
    keysOk = readNumberKeys(ByteCursor(cursor.pos, endDelim), out.n, out.keys);
  } else if (kind == SortKeyKind::kText) {
    keysOk = readTextKeys(out.keyBytes, out.keySize, out.n, out.keys);
  }
  if (!keysOk) return fail(cursor);
  cursor.pos = endDelim + kResultDelimSize;
  return true;
}
