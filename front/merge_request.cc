/// @file merge_request.cc
/// @brief The merge request of the run's query options.

#include "front/merge_request.h"

#include "front/query_normalize.h"
#include "front/query_option.h"

MergeRequest mergeRequestOf(queryOptionTag& options, int remoteIndexNotFound, FILE* runLog) {
  MergeRequest request;
  SearchRequest& search = request.search;
  search.fgMatchMode = options.fgMatchMode;
  search.fgChinese = options.fgChinese;
  search.fgThesaurus = options.fgThesaurus;
  search.sortField = options.sortField;
  search.beginFile = options.beginFile;
  search.endFile = options.endFile;
  search.beginTime = options.beginTime;
  search.endTime = options.endTime;
  search.searchMode = options.file_name_search;
  search.runLog = runLog;
#ifndef SEARCHRUN_OLDER_FRONT
  // The threaded editions have no column mapping: their "DB_" keys are 0.
  search.dbSortColumn = columnMappingSortColumn;
#endif
  request.dbNum = options.dbNum;
  request.remoteIndexNotFound = remoteIndexNotFound;
  request.orgQuery = options.orgQuery;
  request.retQuery = options.retQuery;
  request.addRetQuery = addRetQuery;
  return request;
}
