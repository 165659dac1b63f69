/// @file vela_out.cc
/// @brief Result sets of engine runs and the binout file readers.

#include "search/vela_out.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "search/uint7.h"

namespace {

constexpr unsigned char kBinaryHeaderMarker = 0x00;
constexpr size_t kMatchedStrMax = kMatchedStrSize - 1;
// A record is a score and a record id of at least one byte each.
constexpr size_t kMinRecordBytes = 2;

// Offset of the record array inside a VelaOut block.
constexpr size_t recordOffset() {
  return (sizeof(VelaOut) + alignof(VelaRecord) - 1) / alignof(VelaRecord) * alignof(VelaRecord);
}

struct BinoutHeader {
  const unsigned char* matched = nullptr;
  size_t matchedLen = 0;
  uint32_t count = 0;
};

// Reads the whole stream from its start into `data`.
int readWholeStream(FILE* fp, std::vector<unsigned char>& data) {
  if (fp == nullptr) return kBinoutNoHits;
  long size = -1;
  if (std::fseek(fp, 0, SEEK_END) == 0) size = std::ftell(fp);
  if (size == 0) return kBinoutNoHits;
  std::rewind(fp);
  try {
    if (size > 0) data.reserve(static_cast<size_t>(size));
    unsigned char chunk[8192];
    size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, fp)) > 0)
      data.insert(data.end(), chunk, chunk + got);
  } catch (const std::bad_alloc&) {
    return kBinoutNoMemory;
  }
  if (!data.empty()) return kBinoutOk;
  // An unseekable stream that simply holds nothing is an empty file.
  return size < 0 && !std::ferror(fp) ? kBinoutNoHits : kBinoutUnreadable;
}

int parseTextHeader(ByteCursor& cursor, BinoutHeader& head) {
  const void* lf = std::memchr(cursor.pos, '\n', cursor.remaining());
  if (lf == nullptr) return kBinoutUnreadable;
  const auto* lineEnd = static_cast<const unsigned char*>(lf);
  head.matched = cursor.pos;
  head.matchedLen = std::min(static_cast<size_t>(lineEnd - cursor.pos), kMatchedStrMax);
  if (head.matchedLen > 0 && head.matched[head.matchedLen - 1] == '\r') --head.matchedLen;
  cursor.pos = lineEnd + 1;
  head.count = g_getUInt_7U(cursor);
  return kBinoutOk;
}

int parseBinaryHeader(ByteCursor& cursor, BinoutHeader& head) {
  ++cursor.pos;  // the marker
  g_getUInt_7U(cursor);
  const uint32_t kind = g_getUInt_7U(cursor);
  // Kind 0 marks an invalid file; kinds above 2 define no count that could
  // be trusted, so they are refused the same way.
  if (kind == 0 || kind > 2) return kBinoutUnreadable;
  head.count = g_getUInt_7U(cursor);
  if (kind == 2) g_getUInt_7U(cursor);
  if (!cursor.ok() || cursor.remaining() < 1) return kBinoutUnreadable;
  head.matchedLen = *cursor.pos++;
  if (cursor.remaining() < head.matchedLen) return kBinoutUnreadable;
  head.matched = cursor.pos;
  cursor.pos += head.matchedLen;
  return kBinoutOk;
}

// A binout file read whole, its header parsed and `cursor` on the first record.
struct Binout {
  int read(FILE* fp);
  int count() const { return static_cast<int>(head.count); }

  std::vector<unsigned char> data;
  BinoutHeader head;
  ByteCursor cursor{nullptr, nullptr};
};

int Binout::read(FILE* fp) {
  const int rc = readWholeStream(fp, data);
  if (rc != kBinoutOk) return rc;
  cursor = ByteCursor(data.data(), data.size());
  const int hc = data[0] == kBinaryHeaderMarker ? parseBinaryHeader(cursor, head)
                                                : parseTextHeader(cursor, head);
  if (hc != kBinoutOk || !cursor.ok()) return kBinoutUnreadable;
  // A count that the remaining bytes cannot hold means the records end early;
  // refusing it here also keeps a forged count from sizing the allocation.
  if (head.count > INT_MAX || head.count > cursor.remaining() / kMinRecordBytes)
    return kBinoutUnreadable;
  return kBinoutOk;
}

void setMatchedString(VelaOut& out, const BinoutHeader& head) {
  const size_t len = std::min(head.matchedLen, kMatchedStrMax);
  if (len > 0) std::memcpy(out.m_matched_str, head.matched, len);
  out.m_matched_str[len] = '\0';
}

void finishSet(VelaOut& out, int count, const BinoutHeader& head) {
  out.m_match_count = count;
  out.m_output_count = count;
  setMatchedString(out, head);
}

struct Hit {
  uint32_t score;
  uint32_t recid;
};

Hit readHit(ByteCursor& cursor) {
  Hit hit;
  hit.score = g_getUInt_7U(cursor);
  hit.recid = g_getUInt_7U_4(cursor);
  return hit;
}

void appendRecord(VelaOut& out, int& used, long recid, uint32_t score) {
  out.m_rec[used++] = VelaRecord{static_cast<int32_t>(recid), static_cast<int32_t>(score), 1};
}

}  // namespace

VelaOut* VelaOut::initAlloc(int count) {
  if (count < 0) return nullptr;
  const size_t records = static_cast<size_t>(count);
  if (records > (SIZE_MAX - recordOffset()) / sizeof(VelaRecord)) return nullptr;
  void* block = ::operator new(recordOffset() + records * sizeof(VelaRecord), std::nothrow);
  if (block == nullptr) return nullptr;
  VelaOut* out = new (block) VelaOut;
  auto* rec = reinterpret_cast<VelaRecord*>(static_cast<unsigned char*>(block) + recordOffset());
  std::uninitialized_default_construct_n(rec, records);
  out->m_rec = rec;
  return out;
}

void VelaOut::deinitFree() {
  this->~VelaOut();
  ::operator delete(static_cast<void*>(this));
}

int parseVelaOutFromFile(FILE* fp, VelaOut** out) {
  Binout file;
  const int rc = file.read(fp);
  if (rc != kBinoutOk) return rc;
  const int count = file.count();
  VelaOutPtr result(VelaOut::initAlloc(count));
  if (!result) return kBinoutNoMemory;
  int used = 0;
  while (used < count && file.cursor.ok()) {
    const Hit hit = readHit(file.cursor);
    appendRecord(*result, used, hit.recid, hit.score);
  }
  if (!file.cursor.ok()) return kBinoutUnreadable;
  finishSet(*result, count, file.head);
  *out = result.release();
  return kBinoutOk;
}

int parseSearchFileName(FILE* fp, unsigned long orgRecordCount, VelaOut** org, VelaOut** inc,
                        RecIdFilter& property) {
  Binout file;
  const int rc = file.read(fp);
  if (rc != kBinoutOk) return rc;
  const int count = file.count();
  VelaOutPtr orgSet(VelaOut::initAlloc(count));
  VelaOutPtr incSet(VelaOut::initAlloc(count));
  if (!orgSet || !incSet) return kBinoutNoMemory;
  int orgUsed = 0;
  int incUsed = 0;
  for (int i = 0; i < count; ++i) {
    const Hit hit = readHit(file.cursor);
    if (!file.cursor.ok()) return kBinoutUnreadable;
    const long mapped = property.filterRecID(static_cast<long>(hit.recid));
    if (mapped < 0) continue;
    if (static_cast<unsigned long>(mapped) <= orgRecordCount)
      appendRecord(*orgSet, orgUsed, mapped, hit.score);
    else
      appendRecord(*incSet, incUsed,
                   static_cast<long>(static_cast<unsigned long>(mapped) - orgRecordCount),
                   hit.score);
  }
  if (orgUsed > 0) {
    finishSet(*orgSet, orgUsed, file.head);
    *org = orgSet.release();
  }
  if (incUsed > 0) {
    finishSet(*incSet, incUsed, file.head);
    *inc = incSet.release();
  }
  return kBinoutOk;
}
