/// @file multi_field_request.h
/// @brief The multi-field request: a search of one database index of this
/// host by several field queries, each a clause of its own, combined with
/// "and", "or" and "not".
///
/// Variables: "MultiDBFieldCount" (how many clauses are announced, 0 to
/// 256), "index_id" (the index), and per clause i from 1: "m_query_<i>"
/// (the query; a clause without one is left out), "m_field_<i>" (a column
/// name of the index's column mapping; absent: all fields), "m_op_<i>" ("&"
/// or "and", "|" or "or", "!" or "not"; absent: "and") and "m_type_<i>"
/// (the property searched; absent: the content).

#ifndef SEARCHRUN_FRONT_MULTI_FIELD_REQUEST_H
#define SEARCHRUN_FRONT_MULTI_FIELD_REQUEST_H

#include <cstdint>
#include <functional>
#include <string>

#include "assemble/multi_field_clause.h"
#include "system/vela_search_list.h"

class CGIStringParser;

// Results of buildMultiPropertySearch besides the number of clauses.
constexpr int kMultiFieldNotAsked = 0;
constexpr int kMultiFieldRefused = -1;
// The variable that makes a request a multi-field request.
constexpr const char* kMultiFieldCountVariable = "MultiDBFieldCount";
// A clause's query is cut to this many bytes.
constexpr size_t kMultiFieldQueryMax = 4095;

// A variable of the request by name; null when absent.
using CgiVariableLookup = std::function<const char*(const std::string& name)>;
// The field number of a column name; -1 when the index has no such column.
using ColumnNumberLookup = std::function<int32_t(const char* name)>;

// What every clause's entry shares: the index searched.
struct MultiFieldIndex {
  velaSearchList entry;  // host, owner, index name, port, description, type
  ColumnNumberLookup columns;
  int h2fFlag = 0;   // the request's half-width to full-width option
  int language = 3;  // the installation's language code
};

// The clauses of the request, each appended to `clauses` with an entry of
// `index` in `list` (m_digit_field = the clause's field number, -1 when it
// has none) and its query appended to `joined` (comma-separated). A clause
// without a query, or whose column the mapping lacks or numbers outside
// 0..16,383, is left out. Returns the number of clauses built;
// kMultiFieldNotAsked without "MultiDBFieldCount"; kMultiFieldRefused when
// that count is not a number from 0 to 256 (nothing is appended then).
int readMultiFieldClauses(const CgiVariableLookup& cgi, const MultiFieldIndex& index,
                          VelaSearchListVector& list, SearchMultiIndexVector& clauses,
                          std::string& joined);

// The request's multi-field search of the index named by "index_id" (an
// index uid; its host part is not read: the index is this host's, searched
// at `host` and `port`). As readMultiFieldClauses, and kMultiFieldRefused
// also when "index_id" is missing or names no index of this host.
int buildMultiFieldSearch(const CGIStringParser& cgi, const std::string& host, int port,
                          VelaSearchListVector& list, SearchMultiIndexVector& clauses,
                          std::string& joined, int h2fFlag, int language);

// buildMultiFieldSearch at this host's address and query server port as the
// installation's layout names them.
int buildMultiPropertySearch(const CGIStringParser& cgi, VelaSearchListVector& list,
                             SearchMultiIndexVector& clauses, std::string& joined, int h2fFlag,
                             int language);

#endif  // SEARCHRUN_FRONT_MULTI_FIELD_REQUEST_H
