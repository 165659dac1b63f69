/// @file index_stats.h
/// @brief Record counts, sizes and status words kept in small binary files of
/// an index directory (host byte order).

#ifndef SEARCHRUN_SYSTEM_INDEX_STATS_H
#define SEARCHRUN_SYSTEM_INDEX_STATS_H

#include <cstdint>

// The record count file of the index: record count and index size in bytes. Each is 0
// when the file is missing or too short to hold it.
void systemGetIndexNumRec(const char* owner, const char* index, uint32_t& count, double& size);

// The superseded-record count file of the incremental directory: the count and size
// of deleted records, 0 when missing.
void systemGetDeletedIncIndexNumRec(const char* owner, const char* index, int32_t& count,
                                    double& size);

// Counts for display: the index's count and size less its deleted records
// (each subtracted only when it is positive and not larger than what it is
// taken from), and the incremental directory's own count and size.
void systemGetShowIndexNumRec(const char* owner, const char* index, uint32_t& count, double& size,
                              uint32_t& incCount, double& incSize);

// "db_attach_file.num" of the index and of its incremental directory, 0 when
// missing.
void systemGetDbAttachFileCount(const char* owner, const char* index, int32_t& count,
                                int32_t& incCount);

// "index.status" in dir. Set: 0 when written, 1 when the file cannot be
// written. Get: the stored status, 1 when the file cannot be read.
int similarIndexSetStatus(const char* dir, int32_t status);
int32_t similarIndexGetStatus(const char* dir);

#endif  // SEARCHRUN_SYSTEM_INDEX_STATS_H
