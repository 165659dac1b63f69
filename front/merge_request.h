/// @file merge_request.h
/// @brief What the searches of the selected indexes need of a request,
/// handed down to the merge. Shared by both request fronts.

#ifndef SEARCHRUN_FRONT_MERGE_REQUEST_H
#define SEARCHRUN_FRONT_MERGE_REQUEST_H

#include <cstdio>

#include "assemble/multi_field_clause.h"
#include "assemble/record_merge.h"

struct queryOptionTag;

// The merge request of `options`, its filters not yet armed
// (LocalSearchFilters); the run-time log is `runLog` (may be null).
MergeRequest mergeRequestOf(queryOptionTag& options, int remoteIndexNotFound, FILE* runLog);

// Searches the selected indexes of `list` with `request` (armed) and
// merges their hits into `result`: as the clauses of a multi-field request
// when `clauses` is not null (one per entry; queryOption.dbNum becomes 1),
// else the entries themselves. Adds the inc searches run to
// nExecuteIncIndxCount.
MergeOutcome searchSelectedIndexes(VelaSearchListVector& list,
                                   const SearchMultiIndexVector* clauses, int searchNum,
                                   MergeRequest& request, RecordList& result);

#endif  // SEARCHRUN_FRONT_MERGE_REQUEST_H
