/// @file field_index.cc
/// @brief Column numbering across tables, the field index's setting and the
/// row digests of database indexes.

#include "companions/builder/field_index.h"

#include <map>
#include <set>

#include "companions/engine/digit_filter.h"
#include "companions/engine/index_files.h"
#include "system/column_mapping.h"

namespace vela {

namespace {

void fnv(uint64_t& h, const std::string& bytes, unsigned char end) {
  for (const char c : bytes) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  h ^= end;
  h *= 1099511628211ull;
}

}  // namespace

std::string oneLocalLine(const CodePage& cp, const std::string& utf8, size_t max) {
  std::string local = cp.fromUtf8(utf8);
  for (char& c : local)
    if (c == '\n' || c == '\r' || c == '\0') c = ' ';
  return std::string(cp.cut(local, max));
}

std::string columnType(const DbTable& table, size_t p) {
  bool any = false;
  for (const CsvRow& row : table.rows) {
    double v;
    if (row[p].empty()) continue;
    if (!parseRangeBound(row[p], 0, v)) return "text";
    any = true;
  }
  return any ? "number" : "text";
}

std::string mappingField(const CodePage& cp, const std::string& utf8) {
  std::string f = oneLocalLine(cp, utf8, 255);
  for (char& c : f)
    if (c == ',') c = ' ';
  return f;
}

bool DbColumns::readMapping(const std::string& path) {
  ColumnMapping mapping;
  mapping.openColumnMappingFile(path.c_str());
  std::set<std::string> names;
  std::set<uint32_t> numbers;
  for (const ColumnNode* n = mapping.getNextNode(); n; n = n->getNextNode()) {
    const int32_t field = n->getFieldNo();
    const std::string name = n->getFieldName() ? n->getFieldName() : "";
    if (field < 1 || static_cast<uint32_t>(field) > kMaxDbFieldNo || !names.insert(name).second ||
        !numbers.insert(static_cast<uint32_t>(field)).second)
      return false;
    DbColumn c;
    c.name = name;
    c.type = n->getFieldType() ? n->getFieldType() : "text";
    c.field = static_cast<uint32_t>(field);
    columns_.push_back(c);
  }
  return true;
}

bool DbColumns::add(const std::vector<DbTable>& tables) {
  uint32_t next = 1;
  for (const DbColumn& c : columns_)
    next = std::max(next, c.field + 1);
  // Per column: whether some table has it as text, and some as a number.
  std::map<int, std::pair<bool, bool>> kinds;
  for (const DbTable& t : tables) {
    for (size_t p = 0; p < t.columns.size(); ++p) {
      int at = indexOf(t.columns[p]);
      if (at < 0) {
        if (next > kMaxDbFieldNo) return false;
        columns_.push_back({mappingField(cp_, t.columns[p]), "text", mappingField(cp_, t.name),
                            static_cast<uint32_t>(p + 1), next++});
        at = static_cast<int>(columns_.size() - 1);
      }
      if (columns_[at].table.empty()) {  // known from the mapping only
        columns_[at].table = mappingField(cp_, t.name);
        columns_[at].position = static_cast<uint32_t>(p + 1);
      }
      auto& kind = kinds[at];
      (columnType(t, p) == "number" ? kind.second : kind.first) = true;
    }
  }
  for (const auto& [at, kind] : kinds)
    columns_[at].type = kind.second && !kind.first ? "number" : "text";
  return true;
}

int DbColumns::indexOf(const std::string& utf8Name) const {
  const std::string name = mappingField(cp_, utf8Name);
  for (size_t i = 0; i < columns_.size(); ++i)
    if (columns_[i].name == name) return static_cast<int>(i);
  return -1;
}

std::string DbColumns::mappingText(const std::string& id) const {
  std::string text;
  for (const DbColumn& c : columns_)
    text += id + "," + c.table + "," + std::to_string(c.position) + "," + c.name + "," + c.type +
            "," + std::to_string(c.field) + "\n";
  return text;
}

std::string sbfSettingText(const std::vector<DbRowGroup>& groups, const DbColumns& columns) {
  std::string text;
  uint64_t rows = 0;
  uint64_t records = 0;
  for (const DbRowGroup& g : groups) {
    const std::vector<std::string>& names = g.table->columns;
    text += std::to_string(rows) + "," + std::to_string(records) + "\n" +
            std::to_string(names.size()) + "\n";
    for (size_t p = 0; p < names.size(); ++p)
      text += std::to_string(p + 1) + "," +
              std::to_string(columns.all()[static_cast<size_t>(columns.indexOf(names[p]))].field) +
              "\n";
    rows += g.rows.size();
    records += g.rows.size() * names.size();
  }
  return text;
}

uint64_t rowDigest(const DbTable& table, size_t row) {
  uint64_t h = 14695981039346656037ull;
  for (const std::string& name : table.columns)
    fnv(h, name, 0x1f);
  fnv(h, "", 0x1e);
  for (const std::string& cell : table.rows[row])
    fnv(h, cell, 0x1f);
  return h;
}

bool writeRowDigests(const std::string& dir, const std::vector<uint64_t>& digests) {
  std::string bytes;
  for (const uint64_t d : digests) {
    appendUInt32(bytes, static_cast<uint32_t>(d));
    appendUInt32(bytes, static_cast<uint32_t>(d >> 32));
  }
  return writeNewFile(dir + "/" + kRowDigestFile, bytes);
}

bool readRowDigests(const std::string& dir, std::vector<uint64_t>& digests) {
  std::vector<uint32_t> halves;
  if (!readUInt32File(dir + "/" + kRowDigestFile, halves)) return false;
  digests.clear();
  for (size_t i = 0; i + 1 < halves.size(); i += 2)
    digests.push_back(halves[i] | uint64_t{halves[i + 1]} << 32);
  return true;
}

}  // namespace vela
