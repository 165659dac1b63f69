/// @file db_sort_column.cc
/// @brief The column of a "DB_" sort field from the index's column mapping.

#include "search/search_request.h"
#include "system/column_mapping.h"

uint32_t columnMappingSortColumn(const std::string& owner, const std::string& index,
                                 const std::string& column) {
  ColumnMapping columns;
  columns.openColumnMappingFile(
      ColumnMapping::columnMappingPath(owner.c_str(), index.c_str()).c_str());
  columns.findDBColumnListNo(nullptr);  // the search starts at the first column
  const int32_t listNo = columns.findDBColumnListNo(column.c_str());
  return listNo < 0 ? 0 : static_cast<uint32_t>(listNo);
}
