/// @file multi_field_clause.cc
/// @brief The clauses of a multi-field search and their stored field lists.

#include "assemble/multi_field_clause.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "system/delimiters.h"
#include "system/lines.h"
#include "system/secure_file.h"

namespace {

bool absent(const char* text) {
  return text == nullptr || *text == '\0';
}

bool isStoredName(const char* name) {
  const size_t n = std::strlen(name);
  if (n == 0 || n > 64) return false;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    if (!std::isalnum(c) && c != '_' && c != '-') return false;
  }
  return true;
}

}  // namespace

int multiFieldPropertyCode(const char* property) {
  static const char* const kNames[] = {"title",    "subject", "company", "author",
                                       "filename", "comment", "keyword"};
  if (absent(property)) return 0;
  for (int i = 0; i < 7; ++i)
    if (strcasecmp(property, kNames[i]) == 0) return i + 1;
  return 0;  // "none", "content" and anything else
}

bool searchMultiIndex::m_is_set_fieldno(const char* field) {
  return field != nullptr && std::strncmp(field, "set_", 4) == 0;
}

bool searchMultiIndex::m_read_sbf_dir_file(const char* field) {
  return field != nullptr && std::isdigit(static_cast<unsigned char>(field[0]));
}

bool searchMultiIndex::m_is_sbf_string(const char* field) {
  return field != nullptr && field[0] == 'N' && field[1] == kFieldDelim[0];
}

void searchMultiIndex::initialize(const char* query, const char* field, const char* op,
                                  const char* property) {
  m_query_term = query ? query : "";
  if (absent(op) || std::strcmp(op, "&") == 0) {
    m_operator = "and";
  } else if (std::strcmp(op, "|") == 0) {
    m_operator = "or";
  } else if (std::strcmp(op, "!") == 0) {
    m_operator = "not";
  } else {
    m_operator = op;
  }
  if (absent(field)) {
    m_sbf_string = kNoFieldSelection;
  } else if (m_is_set_fieldno(field)) {
    m_sbf_string = std::string("N") + kFieldDelim + (field + 4) + kFieldDelim;
  } else if (m_read_sbf_dir_file(field)) {
    read_sbf_file(field, kStoredSbfDir);
  } else if (m_is_sbf_string(field)) {
    m_sbf_string = field;
  } else {
    read_sbf_file(field, kUserSbfDir);
  }
  m_property = multiFieldPropertyCode(property);
}

void searchMultiIndex::read_sbf_file(const char* name, const char* dir) {
  m_sbf_string = kNoFieldSelection;
  if (name == nullptr || dir == nullptr || !isStoredName(name)) return;
  const UniqueFile in(fopenRegular(std::string("../") + dir + "/sbf_" + name + ".cfg"));
  std::string line;
  if (!in || !readBoundedLine(in.get(), kStoredSbfLineMax, line)) return;
  const size_t group = line.find(kGroupEndView);
  m_sbf_string = group == std::string::npos ? line : line.substr(group + kDelimSize);
}

ClauseOperator searchMultiIndex::op() const {
  if (m_operator == "or") return ClauseOperator::kOr;
  if (m_operator == "not") return ClauseOperator::kNot;
  return ClauseOperator::kAnd;
}
