/// @file multi_field_request.cc
/// @brief Reading the clauses of a multi-field request.

#include "front/multi_field_request.h"

#include <cstring>
#include <memory>

#include "assemble/field_filter.h"
#include "cgi/cgi_string_parser.h"
#include "front/query_normalize.h"
#include "front/query_option.h"
#include "system/column_mapping.h"
#include "system/index_id.h"
#include "system/layout.h"
#include "system/numbers.h"

namespace {

const char* clauseVariable(const CgiVariableLookup& cgi, const char* stem, int i) {
  return cgi(stem + std::to_string(i));
}

// The clause's query as the engine gets it: cut, widened when asked, with
// no control character and no ";".
std::string clauseQuery(const char* query, const MultiFieldIndex& index) {
  char buffer[kQuerySize];
  const size_t n = strnlen(query, kMultiFieldQueryMax);
  std::memcpy(buffer, query, n);
  buffer[n] = '\0';
  if (index.h2fFlag == 1) changeQuery_H2F(buffer, index.language);
  blankSemicolonsAndControls(buffer, index.language);
  return buffer;
}

// The index id of a uid: the text after the host part and "_" (a uid of 10
// characters or more), up to "$".
std::string indexIdOfUid(const std::string& uid) {
  std::string id = uid.size() >= 10 ? uid.substr(9) : uid;
  return id.substr(0, id.find('$'));
}

}  // namespace

int readMultiFieldClauses(const CgiVariableLookup& cgi, const MultiFieldIndex& index,
                          VelaSearchListVector& list, SearchMultiIndexVector& clauses,
                          std::string& joined) {
  const char* countText = cgi(kMultiFieldCountVariable);
  if (countText == nullptr) return kMultiFieldNotAsked;
  int64_t count = 0;
  if (!parseDecimal(countText, 0, kMaxMultiFieldClauses, count)) return kMultiFieldRefused;
  int built = 0;
  for (int i = 1; i <= count; ++i) {
    const char* query = clauseVariable(cgi, "m_query_", i);
    if (query == nullptr || *query == '\0') continue;
    const char* field = clauseVariable(cgi, "m_field_", i);
    std::string fieldText;
    int32_t column = -1;
    if (field != nullptr) {
      column = index.columns ? index.columns(field) : -1;
      if (column < 0 || column > kSbfMaxFieldNo) continue;
      fieldText = "set_" + std::to_string(column);
    }
    const std::string text = clauseQuery(query, index);
    searchMultiIndex clause;
    clause.initialize(text.c_str(), field ? fieldText.c_str() : nullptr,
                      clauseVariable(cgi, "m_op_", i), clauseVariable(cgi, "m_type_", i));
    clauses.push_back(std::move(clause));
    velaSearchList entry = index.entry;
    entry.sbfString = " ";
    entry.m_match = -1;
    entry.m_digit_field = column;
    list.push_back(std::move(entry));
    if (!joined.empty()) joined += ",";
    joined += text;
    ++built;
  }
  return built;
}

int buildMultiFieldSearch(const CGIStringParser& cgi, const std::string& host, int port,
                          VelaSearchListVector& list, SearchMultiIndexVector& clauses,
                          std::string& joined, int h2fFlag, int language) {
  const CgiVariableLookup lookup = [&cgi](const std::string& name) {
    return cgi.findCgiVariableByName(name.c_str());
  };
  if (lookup(kMultiFieldCountVariable) == nullptr) return kMultiFieldNotAsked;
  const char* uid = lookup("index_id");
  if (uid == nullptr) return kMultiFieldRefused;
  IndexIdFileMgr ids;
  if (!ids.readIndexIdInfo(indexIdOfUid(uid).c_str())) return kMultiFieldRefused;

  MultiFieldIndex index;
  velaSearchList& e = index.entry;
  e.ipAddr = velaSearchList::bounded(host, kIpAddrSize);
  e.owner = velaSearchList::bounded(ids.getIndexOwner(), kOwnerSize);
  e.idxName = velaSearchList::bounded(ids.getIndexId(), kIdxNameSize);
  e.desc = velaSearchList::bounded(ids.getIndexDesc(), kDescSize);
  e.dbType = velaSearchList::bounded(ids.getIndexType(), kDbTypeSize);
  e.port = velaSearchList::bounded(std::to_string(port), kPortSize);
  auto mapping = std::make_shared<ColumnMapping>();
  mapping->openColumnMappingFile(
      ColumnMapping::columnMappingPath(e.owner.c_str(), e.idxName.c_str()).c_str());
  index.columns = [mapping](const char* name) {
    mapping->findDBColumnNo(nullptr);
    return mapping->findDBColumnNo(name);
  };
  index.h2fFlag = h2fFlag;
  index.language = language;
  return readMultiFieldClauses(lookup, index, list, clauses, joined);
}

int buildMultiPropertySearch(const CGIStringParser& cgi, VelaSearchListVector& list,
                             SearchMultiIndexVector& clauses, std::string& joined, int h2fFlag,
                             int language) {
  return buildMultiFieldSearch(cgi, systemGetIPAddress(), systemGetQueryServerPort(), list, clauses,
                               joined, h2fFlag, language);
}
