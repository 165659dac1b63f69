/// @file search_request.h
/// @brief What one request asks of the searches of its indexes, handed down
/// by the request flow: engine switches, sort field, file and time windows,
/// search mode, the run-time log, and the screens and filters that layers
/// above this one implement.

#ifndef SEARCHRUN_SEARCH_SEARCH_REQUEST_H
#define SEARCHRUN_SEARCH_SEARCH_REQUEST_H

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

class VelaOut;
class velaSearch;
class PropertyFilterSource;
class FieldSearchFilter;

// Size of a query text buffer, terminator included.
constexpr int kQuerySize = 6144;

// Removes the org hits that the inc index supersedes (the incremental
// id-list filter, kept with the assembly). Returns 0 when the hits were
// filtered or the inc index lists none, or an error code that ends the job.
class IncListFilter {
 public:
  virtual int filterOrgHits(const std::string& incHome, uint32_t orgRecordCount, VelaOut& org) = 0;

 protected:
  ~IncListFilter() = default;
};

// Arms the optional filters of one job before it runs (access rights,
// search-by-field conditions, properties), as the layers that own them
// decide.
class SearchJobFilters {
 public:
  virtual void arm(velaSearch& job) = 0;

 protected:
  ~SearchJobFilters() = default;
};

// Consulted once the query has moved into its term file, with the index home
// and the term file path; it may rewrite the term file. False means the
// query is refused for this index (it then has no hits).
using QueryTermScreen =
    std::function<bool(const std::string& indexHome, const std::string& termFile)>;

// The column number a "DB_" sort field names in an index (owner, index name,
// the field without "DB_"); the sort key of every hit is that column's value.
using DbSortColumn = std::function<uint32_t(const std::string& owner, const std::string& index,
                                            const std::string& column)>;

// The column mapping of the index (system/column_mapping.h): the field's
// list number, 0 when the index maps no such column. In its own object, so
// that a program that never sets it does not hold the column mapping.
uint32_t columnMappingSortColumn(const std::string& owner, const std::string& index,
                                 const std::string& column);

struct SearchRequest {
  // Engine switches of the request.
  int fgMatchMode = 0;  // fuzzy matching
  int fgChinese = 0;    // "-P" (prefix words)
  int fgThesaurus = 0;  // thesaurus expansion
  // Sort field: decides the keys each hit carries ("score", "date", "DB_x"...).
  std::string sortField = "score";
  // File-name window ("*": no bound) and time window (0: unset).
  std::string beginFile = "*";
  std::string endFile = "*";
  int32_t beginTime = 0;
  int32_t endTime = 0;
  // The request's file_name_search: 1 to 7 property search, 8 date range.
  int searchMode = 0;
  // The run-time log (may be null: nothing is logged).
  FILE* runLog = nullptr;
  // The query screen of the exclusion lists; unset: every query is kept.
  QueryTermScreen screen;
  // Where a "DB_" sort field's column comes from; unset: every key is 0.
  DbSortColumn dbSortColumn;
  // Filters implemented above this layer; null: not applied.
  IncListFilter* incList = nullptr;
  SearchJobFilters* jobFilters = nullptr;
  // The property filters of property searches (vela_search.h).
  PropertyFilterSource* propertySource = nullptr;
  // The field filter of the local jobs (vela_search.h); jobs run one after
  // another, so one filter serves them all.
  FieldSearchFilter* fieldFilter = nullptr;
};

#endif  // SEARCHRUN_SEARCH_SEARCH_REQUEST_H
