/// @file record_mapping.h
/// @brief The merged result of one request: one `dbMapping` per searched
/// index and one `recordMapping` per hit, as every stage after the search
/// reads them.

#ifndef SEARCHRUN_SYSTEM_RECORD_MAPPING_H
#define SEARCHRUN_SYSTEM_RECORD_MAPPING_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Record ids listed in dbMapping::recid_list per index; later hits are left out.
constexpr int kRecidListMax = 100;

// The sort key of a hit. Which member is set follows from the request's sort
// field (SortKeyKind in search/result_block.h): `number` for numeric fields
// and for fields without keys (then 0), `text` for text fields.
union RecordSortKey {
  int32_t number;    // compared as a signed 32-bit value
  const char* text;  // NUL-terminated, inside the owning dbMapping::sortBuffer
};

// One hit of the merged result. The array is written index after index, in
// block order; ordering moves whole elements.
struct recordMapping {
  uint32_t databaseNum;  // position of this hit's dbMapping
  uint32_t score;        // engine score
  uint32_t recid;        // record id; inc hits already follow the org ids
  RecordSortKey sortField;
};

// One searched index, in job order.
struct dbMapping {
  std::string ipAddr;   // host of the index
  std::string szOwner;  // index owner
  std::string idxName;  // index name
  std::string port;     // agent port of the host
  unsigned long numRec = 0;
  // Text keys of this index's hits, each NUL-terminated; the hits' sortField
  // points here. Null unless the sort field has text keys. The buffer never
  // moves while the dbMapping lives (moving the dbMapping keeps it).
  std::unique_ptr<char[]> sortBuffer;
  int fgRelterm = 0;         // 1 when numRec != 0: the index takes part in related terms
  std::string recid_list;    // first kRecidListMax record ids, each "%d "
  std::string relterm_list;  // related terms, filled after the merge
  int mapping = 0;           // working value of the related-term lookup
};

// The two arrays of one request, owned together so that the text keys of
// `recMap` never outlive their buffers in `dbMap`.
struct RecordList {
  std::vector<dbMapping> dbMap;
  std::vector<recordMapping> recMap;

  unsigned long dbCount() const { return dbMap.size(); }
  unsigned long recordCount() const { return recMap.size(); }
  // What the request flow treats as "no result".
  bool empty() const { return dbMap.empty() || recMap.empty(); }
};

#endif  // SEARCHRUN_SYSTEM_RECORD_MAPPING_H
