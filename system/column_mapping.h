/// @file column_mapping.h
/// @brief The columns of a database index ("column_mapping.txt"): name,
/// type, the engine's field number and the position in the file.

#ifndef SEARCHRUN_SYSTEM_COLUMN_MAPPING_H
#define SEARCHRUN_SYSTEM_COLUMN_MAPPING_H

#include <cstdint>
#include <string>

// Lines of the mapping file are cut to this many characters.
constexpr size_t kColumnMappingLineMax = 1023;

// One column. Owns its texts; does not own the next node (the list does).
class ColumnNode {
 public:
  const char* getFieldName() const { return m_hasName ? m_fieldName.c_str() : nullptr; }
  const char* getFieldType() const { return m_hasType ? m_fieldType.c_str() : nullptr; }
  int32_t getFieldNo() const { return m_fieldNo; }
  int32_t getFieldListNo() const { return m_fieldListNo; }
  ColumnNode* getNextNode() const { return m_next; }

  // A null text clears the field.
  void setFieldName(const char* name);
  void setFieldType(const char* type);
  void setFieldNo(int32_t no) { m_fieldNo = no; }
  void setFieldListNo(int32_t no) { m_fieldListNo = no; }
  void setNextNode(ColumnNode* next) { m_next = next; }
  // Releases both texts.
  void freeMemory();

 private:
  std::string m_fieldName;
  std::string m_fieldType;
  bool m_hasName = false;
  bool m_hasType = false;
  int32_t m_fieldNo = 0;
  int32_t m_fieldListNo = 0;
  ColumnNode* m_next = nullptr;
};

// The columns of one index in file order. The inherited node is the list
// head and carries no column. Each of the two finders keeps its own cursor
// in this list (reset by passing null), so lookups in two lists never
// disturb each other.
class ColumnMapping : public ColumnNode {
 public:
  ColumnMapping() = default;
  ~ColumnMapping();
  ColumnMapping(const ColumnMapping&) = delete;
  ColumnMapping& operator=(const ColumnMapping&) = delete;

  // Appends one node per line with at least five commas: field 4 is the
  // name, field 5 the type, the text after the last comma the number; the
  // list number counts the accepted lines from 0 (continuing after nodes
  // already in the list). A missing file adds nothing.
  void openColumnMappingFile(const char* path);
  void addColumnNode(const char* name, const char* type, int32_t no, int32_t listNo);

  // Field number of the first column named exactly `name`; -1 when none.
  int32_t searchFieldName(const char* name) const;
  // Null: cursor to the first column, -1. Otherwise the field number (list
  // number) of the next column of that name from the cursor on, which then
  // moves past it; -1 when none is left (the cursor is then at the end).
  int32_t findDBColumnNo(const char* name);
  int32_t findDBColumnListNo(const char* name);

  // Release every node; the list is empty again and both cursors reset.
  void removeAllColumnNode();
  void freeMemory() { removeAllColumnNode(); }

  // Writes the list to standard output.
  void PrintColumnNode() const;

  // The mapping file of database index `index` of `owner`:
  // owner home + "/db/" + index + "/column_mapping.txt"; "" without an owner home.
  static std::string columnMappingPath(const char* owner, const char* index);

 private:
  static int32_t findFrom(ColumnNode*& cursor, const char* name, bool listNo);

  ColumnNode* m_last = nullptr;
  ColumnNode* m_noCursor = nullptr;
  ColumnNode* m_listNoCursor = nullptr;
  int32_t m_count = 0;
};

#endif  // SEARCHRUN_SYSTEM_COLUMN_MAPPING_H
