/// @file multi_field_clause.h
/// @brief One clause of a multi-field search (`searchMultiIndex`): a query,
/// the fields it is searched in (a search-by-field string), how it combines
/// with the clauses before it, and the property it searches.
///
/// A search-by-field string is "N" followed by field numbers, each framed by
/// 0x12 0x13 0x14 ("N", separator, number, separator, number, separator...).
/// "00000" means that no field selection applies; a single blank is the
/// value of an ordinary index entry.

#ifndef SEARCHRUN_ASSEMBLE_MULTI_FIELD_CLAUSE_H
#define SEARCHRUN_ASSEMBLE_MULTI_FIELD_CLAUSE_H

#include <string>
#include <vector>

// No field selection: the clause searches the index itself.
constexpr const char* kNoFieldSelection = "00000";
// Most clauses one request may carry: a hit names its clause in 8 bits.
constexpr int kMaxMultiFieldClauses = 256;
// Directories (below the installation root) of stored search-by-field files:
// the numbered ones and those that users named.
constexpr const char* kStoredSbfDir = "sbf";
constexpr const char* kUserSbfDir = "mysbf";
// The first line of a stored search-by-field file is read up to this many
// characters.
constexpr size_t kStoredSbfLineMax = 1022;

enum class ClauseOperator { kAnd, kOr, kNot };

struct searchMultiIndex {
  std::string m_query_term;
  std::string m_sbf_string = kNoFieldSelection;
  std::string m_operator = "and";  // "and", "or", "not", or the text given
  int m_property = 0;              // property code (the search mode of the clause's job)

  // Fills the clause. Null texts count as absent.
  //  - operator: absent, empty or "&" -> "and"; "|" -> "or"; "!" -> "not";
  //    any other text is kept as given (and combines as "and").
  //  - field: absent or empty -> "00000"; "set_<n>" -> "N" sep n sep; a text
  //    beginning with a digit -> the stored file of that number
  //    (read_sbf_file(field, "sbf")); a search-by-field string ("N" and
  //    0x12) as it is; anything else -> the file a user named
  //    (read_sbf_file(field, "mysbf")).
  //  - property: "none"/"content" 0, "title" 1, "subject" 2, "company" 3,
  //    "author" 4, "filename" 5, "comment" 6, "keyword" 7 (in any case); any
  //    other value 0.
  void initialize(const char* query, const char* field, const char* op, const char* property);

  // Sets m_sbf_string from "../<dir>/sbf_<name>.cfg": its first line, or the
  // text after the first 0x15 0x16 0x17 of it. "00000" when the file cannot
  // be read, or `name` is not 1 to 64 letters, digits, "_" and "-" (a name
  // from a request never leaves the directory).
  void read_sbf_file(const char* name, const char* dir);

  static bool m_is_set_fieldno(const char* field);     // begins with "set_"
  static bool m_read_sbf_dir_file(const char* field);  // begins with a digit
  static bool m_is_sbf_string(const char* field);      // "N" then 0x12

  ClauseOperator op() const;
};

using SearchMultiIndexVector = std::vector<searchMultiIndex>;

// The property code of a property name (see initialize).
int multiFieldPropertyCode(const char* property);

#endif  // SEARCHRUN_ASSEMBLE_MULTI_FIELD_CLAUSE_H
