/// @file presence_table.cc
/// @brief Segments, planes and bits of the record-id presence table.

#include "assemble/presence_table.h"

#include <cstring>

namespace {

// Bit n of a byte, least significant first.
constexpr uint8_t kBitMask[8] = {1, 2, 4, 8, 16, 32, 64, 128};

bool validPlane(int plane) {
  return plane >= 0 && plane < MultiIndexHashTable::kPlanes;
}

}  // namespace

void MultiIndexHashTable::init() {
  for (auto& segment : m_planes)
    for (Bitmap& plane : segment)
      plane.reset();
  m_outOfMemory = false;
}

bool MultiIndexHashTable::createSegment(int segment) {
  if (segment < 0 || segment >= kSegments) return false;
  if (m_planes[segment][0]) return true;
  // calloc hands out zeroed pages that cost nothing until they are written.
  Bitmap planes[kPlanes];
  for (Bitmap& plane : planes) {
    plane.reset(static_cast<uint8_t*>(m_allocate ? m_allocate(kBitmapBytes)
                                                 : std::calloc(kBitmapBytes, 1)));
    if (!plane) {
      m_outOfMemory = true;
      return false;
    }
  }
  for (int p = 0; p < kPlanes; ++p)
    m_planes[segment][p] = std::move(planes[p]);
  return true;
}

bool MultiIndexHashTable::checkSegment(int segment) const {
  return segment >= 0 && segment < kSegments && m_planes[segment][0] != nullptr;
}

void MultiIndexHashTable::resetPlane(int plane) {
  if (!validPlane(plane)) return;
  for (auto& segment : m_planes)
    if (segment[0]) std::memset(segment[plane].get(), 0, kBitmapBytes);
}

void MultiIndexHashTable::copyPlane(int to, int from) {
  if (!validPlane(to) || !validPlane(from) || to == from) return;
  for (auto& segment : m_planes)
    if (segment[0]) std::memcpy(segment[to].get(), segment[from].get(), kBitmapBytes);
}

uint8_t* MultiIndexHashTable::byteOf(int plane, int64_t id) {
  if (!validPlane(plane) || !holds(id)) return nullptr;
  const int segment = static_cast<int>(id / kIdsPerSegment);
  if (!createSegment(segment)) return nullptr;
  return m_planes[segment][plane].get() + (id % kIdsPerSegment) / 8;
}

bool MultiIndexHashTable::checkRecID(int plane, int64_t id) {
  const uint8_t* byte = byteOf(plane, id);
  return byte && (*byte & kBitMask[id % 8]) != 0;
}

void MultiIndexHashTable::setRecID(int plane, int64_t id) {
  if (uint8_t* byte = byteOf(plane, id)) *byte |= kBitMask[id % 8];
}

void MultiIndexHashTable::unsetRecID(int plane, int64_t id) {
  if (uint8_t* byte = byteOf(plane, id)) *byte &= static_cast<uint8_t>(~kBitMask[id % 8]);
}

size_t MultiIndexHashTable::allocatedBytes() const {
  size_t bytes = 0;
  for (const auto& segment : m_planes)
    if (segment[0]) bytes += kPlanes * kBitmapBytes;
  return bytes;
}

const uint8_t* MultiIndexHashTable::bitmap(int segment, int plane) const {
  if (!checkSegment(segment) || !validPlane(plane)) return nullptr;
  return m_planes[segment][plane].get();
}
