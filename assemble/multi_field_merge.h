/// @file multi_field_merge.h
/// @brief The multi-field search of one database index: every clause runs
/// as a local search job of its own, the jobs' blocks are read as the merge
/// reads them, and the clauses' hits are combined with "and", "or" and
/// "not" by record id in the presence table (presence_table.h).

#ifndef SEARCHRUN_ASSEMBLE_MULTI_FIELD_MERGE_H
#define SEARCHRUN_ASSEMBLE_MULTI_FIELD_MERGE_H

#include <vector>

#include "assemble/multi_field_clause.h"
#include "assemble/presence_table.h"
#include "assemble/record_merge.h"
#include "search/vela_command.h"

// Combines the sections of `merged` (dbMap[i] and its hits, stored section
// after section, are the hits of the clause whose operator is ops[i]):
// plane 0 starts as the ids of section 0; each later section i narrows it
// ("and": ids in both), widens it ("or") or removes its ids ("not"). When
// any section without hits has the operator "and" (section 0 included), the
// result is empty. Every id left is kept once, with the score and the
// sort key of its first hit in section order, and the kept hits are ordered
// by sortMultiFieldResult. On return `merged` holds one dbMapping (the
// first, with the kept count and the first 100 kept ids), every kept hit
// names it (databaseNum 0) and text keys live in its buffer. Record ids the
// table cannot hold (above 83,886,079) are never present and so never kept.
// Null, or kMsgMergeNoMemory (`merged` unspecified). REQUIRES:
// ops.size() == merged.dbMap.size() >= 1 and the hits stored as the merge
// stores them.
const char* combineClauseHits(const std::vector<ClauseOperator>& ops, const char* sortField,
                              MultiIndexHashTable& table, RecordList& merged);

// The multi-field search of a request: entry i of `list` and clause i of
// `clauses` (the same index, searched with the clause's query, fields and
// property) for every entry of this host; entries of other hosts are left
// out. searchNum must be 0 (all clauses). Each clause's query becomes its
// engine option text through `normalise` (when given). Fills `out` (which
// must be empty) with the combined hits and one dbMapping, and
// request.retQuery. The outcome's message, when set, ends the request:
// kMsgNoIndexSelected (empty list, or searchNum not 0), kMsgSearchFailed,
// kMsgMergeNoMemory.
MergeOutcome getRecordListForDBMultiField(VelaSearchListVector& list,
                                          const SearchMultiIndexVector& clauses, int searchNum,
                                          const MergeRequest& request,
                                          QueryTermNormaliser normalise, RecordList& out,
                                          LocalAddressTest isLocal = isLocalIPAddress);

#endif  // SEARCHRUN_ASSEMBLE_MULTI_FIELD_MERGE_H
