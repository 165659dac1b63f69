/// @file presence_table.h
/// @brief The record-id presence table: two planes of bitmaps over record
/// ids, the working storage of the multi-field combination (plane 0 holds
/// the result so far, plane 1 the step being computed).
///
/// Ids are held in 10 segments of 2^23 ids each (ids 0 to 83,886,079); a
/// segment's two 1 MiB bitmaps come into being, zeroed, the first time an id
/// of the segment is checked, set or cleared, so the table costs 2 MiB while
/// every id lies below 8,388,608 and 20 MiB at most.

#ifndef SEARCHRUN_ASSEMBLE_PRESENCE_TABLE_H
#define SEARCHRUN_ASSEMBLE_PRESENCE_TABLE_H

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

class MultiIndexHashTable {
 public:
  // Gives `bytes` zeroed bytes to be released with std::free, or null.
  using Allocate = void* (*)(size_t bytes);
  // `allocate` (calloc when null) lets a test run out of memory.
  explicit MultiIndexHashTable(Allocate allocate = nullptr) : m_allocate(allocate) {}

  static constexpr int kSegments = 10;
  static constexpr int kPlanes = 2;
  static constexpr int64_t kIdsPerSegment = int64_t{1} << 23;
  static constexpr size_t kBitmapBytes = static_cast<size_t>(kIdsPerSegment / 8);
  static constexpr int64_t kMaxRecId = kSegments * kIdsPerSegment - 1;  // 83,886,079

  // Whether the table can hold `id`. Ids outside 0..kMaxRecId are never
  // present and never stored: a check answers false, a set or a clear does
  // nothing, and no segment is made for them.
  static bool holds(int64_t id) { return id >= 0 && id <= kMaxRecId; }

  // Releases every segment; the table is empty again (and counts no failed
  // allocation).
  void init();
  // Makes both planes of `segment` (zeroed) unless they exist. False when
  // the segment number is outside 0..9 or memory runs out.
  bool createSegment(int segment);
  // Whether `segment` exists (judged by its plane 0).
  bool checkSegment(int segment) const;
  // Zeroes `plane` in every existing segment.
  void resetPlane(int plane);
  // Copies plane `from` over plane `to` in every existing segment.
  void copyPlane(int to, int from);
  // Releases both planes of every segment.
  void freeAll() { init(); }

  // Whether `id` is set in `plane`; makes the id's segment when it does not
  // exist yet (a fresh segment answers false).
  bool checkRecID(int plane, int64_t id);
  void setRecID(int plane, int64_t id);
  void unsetRecID(int plane, int64_t id);

  // True once a segment could not be allocated: the ids of that segment
  // were neither stored nor found, and the result is not to be trusted.
  bool outOfMemory() const { return m_outOfMemory; }
  // Bytes of the bitmaps allocated now.
  size_t allocatedBytes() const;
  // The bitmap of one plane of a segment, or null when the segment does not
  // exist (for tests and benchmarks).
  const uint8_t* bitmap(int segment, int plane) const;

 private:
  struct Free {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  using Bitmap = std::unique_ptr<uint8_t, Free>;

  // The byte of `id` in `plane`, its segment made when missing; null when
  // the id is out of range or the segment cannot be made.
  uint8_t* byteOf(int plane, int64_t id);

  Allocate m_allocate;
  Bitmap m_planes[kSegments][kPlanes];
  bool m_outOfMemory = false;
};

#endif  // SEARCHRUN_ASSEMBLE_PRESENCE_TABLE_H
