/// @file field_filter.cc
/// @brief The setting of a field index, and field hits turned into row hits.

#include "assemble/field_filter.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

#include "system/delimiters.h"
#include "system/lines.h"
#include "system/numbers.h"
#include "system/secure_file.h"

namespace {

// Engine record ids are positive 32-bit numbers; no table starts beyond.
constexpr int64_t kMaxOffset = std::numeric_limits<int32_t>::max();

bool bitSet(const std::vector<uint8_t>& bits, int64_t n) {
  return (bits[static_cast<size_t>(n / 8)] >> (n % 8)) & 1u;
}

void setBit(std::vector<uint8_t>& bits, int64_t n) {
  bits[static_cast<size_t>(n / 8)] |= static_cast<uint8_t>(1u << (n % 8));
}

std::string_view trimmed(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
    line.remove_suffix(1);
  return line;
}

// "a,b" with a in [0, maxA] and b in [0, maxB].
bool parsePair(std::string_view line, int64_t maxA, int64_t maxB, int64_t& a, int64_t& b) {
  const size_t comma = line.find(',');
  return comma != std::string_view::npos && parseDecimal(line.substr(0, comma), 0, maxA, a) &&
         parseDecimal(line.substr(comma + 1), 0, maxB, b);
}

// The next line that is not blank; false at the end.
bool nextLine(FILE* in, std::string& line, bool skipBlank) {
  while (readBoundedLine(in, kSbfSettingLineMax, line)) {
    if (!skipBlank || !trimmed(line).empty()) return true;
  }
  return false;
}

bool readTable(FILE* in, const std::string& first, const SbfTable* before, SbfTable& t) {
  std::string line;
  int64_t count = 0;
  if (!parsePair(trimmed(first), kMaxOffset, kMaxOffset, t.ridnum, t.recnum)) return false;
  if (before && (t.ridnum < before->ridnum || t.recnum < before->recnum)) return false;
  if (!nextLine(in, line, false) || !parseDecimal(trimmed(line), 1, kSbfMaxFieldNo + 1, count))
    return false;
  t.fieldnum = static_cast<int>(count);
  t.fieldno.assign(static_cast<size_t>(count) + 1, -1);
  for (int64_t i = 0; i < count; ++i) {
    int64_t position = 0;
    int64_t field = 0;
    if (!nextLine(in, line, false) ||
        !parsePair(trimmed(line), count, kSbfMaxFieldNo, position, field) || position < 1)
      return false;
    t.fieldno[static_cast<size_t>(position)] = static_cast<int>(field);
  }
  return true;
}

}  // namespace

bool readSbfSetting(FILE* in, std::vector<SbfTable>& tables) {
  tables.clear();
  std::string line;
  while (nextLine(in, line, true)) {
    if (tables.size() == kSbfMaxTables) return false;
    SbfTable table;
    if (!readTable(in, line, tables.empty() ? nullptr : &tables.back(), table)) return false;
    tables.push_back(std::move(table));
  }
  return true;
}

bool search_field::loadFieldSettings(const std::string& sbfHome, const std::string& sbfString) {
  hash_recid_list.clear();
  std::fill(hash_sbf_list.begin(), hash_sbf_list.end(), 0);
  m_largeRows.clear();
  setSearchByField(sbfString);
  return readDbSetting(sbfHome);
}

int search_field::filterFieldResult(const VelaOut& raw, VelaOut** out) {
  return filterDbField(raw, out);
}

bool search_field::setSearchByField(std::string_view sbf) {
  const std::string_view sep = kFieldView;
  size_t at = sbf.find(sep);
  while (at != std::string_view::npos) {
    const size_t from = at + sep.size();
    const size_t next = sbf.find(sep, from);
    if (next == std::string_view::npos) break;
    int64_t n = 0;
    if (!parseDecimal(sbf.substr(from, next - from), 0, kSbfMaxFieldNo, n)) break;
    setBit(hash_sbf_list, n);
    at = next;
  }
  return true;
}

bool search_field::readDbSetting(const std::string& dir) {
  m_tables.clear();
  m_tablesRead = false;
  const UniqueFile in(fopenRegular(dir + "/" + kSbfSettingFile));
  if (!in) return false;
  std::vector<SbfTable> tables;
  if (!readSbfSetting(in.get(), tables)) return false;
  m_tables = std::move(tables);
  m_tablesRead = true;
  return true;
}

int64_t search_field::checkRecID(int64_t recid) {
  if (m_tables.empty()) return 0;
  size_t k = 0;
  while (k + 1 < m_tables.size() && recid > m_tables[k + 1].recnum)
    ++k;
  const SbfTable& t = m_tables[k];
  if (recid <= t.recnum) return 0;
  const int64_t rel = recid - t.recnum - 1;
  const int64_t position = rel % t.fieldnum + 1;
  const int64_t rowId = rel / t.fieldnum + 1 + t.ridnum;
  if (rowId > kSbfMaxRowId) return 0;
  if (!checkSBFInfo(t.fieldno[static_cast<size_t>(position)])) return 0;
  return checkDupRid(rowId) ? rowId : 0;
}

bool search_field::checkSBFInfo(int64_t n) const {
  return n >= 0 && n <= kSbfMaxFieldNo && bitSet(hash_sbf_list, n);
}

bool search_field::checkDupRid(int64_t r) {
  if (r < 0) return false;
  if (r < kSbfRowBitmapIds) {
    if (hash_recid_list.empty()) hash_recid_list.assign(kSbfRowBitmapIds / 8, 0);
    if (bitSet(hash_recid_list, r)) return false;
    setBit(hash_recid_list, r);
    return true;
  }
  return m_largeRows.insert(r).second;
}

int search_field::filterDbField(const VelaOut& in, VelaOut** out) {
  int selected = 0;
  for (int32_t i = 0; i < in.m_match_count; ++i)
    selected += in.m_rec[i].m_output_flag != 0;
  VelaOut* kept = VelaOut::initAlloc(selected);
  if (!kept) return kBinoutNoMemory;
  std::memcpy(kept->m_matched_str, in.m_matched_str, sizeof kept->m_matched_str);
  int32_t n = 0;
  try {
    for (int32_t i = 0; i < in.m_match_count; ++i) {
      const VelaRecord& rec = in.m_rec[i];
      if (rec.m_output_flag == 0) continue;
      const int64_t rowId = checkRecID(rec.m_recid);
      if (rowId != 0) kept->m_rec[n++] = {static_cast<int32_t>(rowId), rec.m_score, 1};
    }
  } catch (const std::bad_alloc&) {  // the set of large row ids
    kept->deinitFree();
    return kBinoutNoMemory;
  }
  kept->m_match_count = kept->m_output_count = n;
  *out = kept;
  return kBinoutOk;
}
