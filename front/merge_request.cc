/// @file merge_request.cc
/// @brief The merge request of the run's query options.

#include "front/merge_request.h"

#include "assemble/multi_field_merge.h"
#include "front/query_normalize.h"
#include "front/query_option.h"
#include "front/request_state.h"

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
  request.retQuerySize = sizeof options.retQuery;
  request.addRetQuery = addRetQuery;
  return request;
}

MergeOutcome searchSelectedIndexes(VelaSearchListVector& list,
                                   const SearchMultiIndexVector* clauses, int searchNum,
                                   MergeRequest& request, RecordList& result) {
  MergeOutcome merged;
  if (clauses) {
    // The query as typed is the clauses' (the request's "query" is at most
    // the mark "_SEARCH_MULTI_FIELD_").
    request.orgQuery = strMultiIndexQuery.c_str();
    merged =
        getRecordListForDBMultiField(list, *clauses, searchNum, request, getUsedQueryTerm, result);
    queryOption.dbNum = 1;
  } else {
    merged = getRecordList(list, searchNum, request, result);
  }
  nExecuteIncIndxCount += merged.incSearches;
  return merged;
}
