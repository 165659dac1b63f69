/// @file merge_request.h
/// @brief What the searches of the selected indexes need of a request,
/// handed down to the merge. Shared by both request fronts.

#ifndef SEARCHRUN_FRONT_MERGE_REQUEST_H
#define SEARCHRUN_FRONT_MERGE_REQUEST_H

#include <cstdio>

#include "assemble/record_merge.h"

struct queryOptionTag;

// The merge request of `options`, its filters not yet armed
// (LocalSearchFilters); the run-time log is `runLog` (may be null).
MergeRequest mergeRequestOf(queryOptionTag& options, int remoteIndexNotFound, FILE* runLog);

#endif  // SEARCHRUN_FRONT_MERGE_REQUEST_H
