/// @file index_lists.cc
/// @brief Bounded readers of record list files and database field texts.

#include "search/index_lists.h"

#include <new>

#include "search/result_files.h"

namespace {

constexpr size_t kEntrySize = kListEntryBytes;

// The span [entry i - 1, entry i) of a run of end offsets over `texts`
// (entry -1 is 0); empty when an offset is missing, decreasing or out of range.
std::string_view spanOf(const std::string& texts, const std::string& offsets, uint64_t i) {
  uint32_t begin = 0;
  uint32_t end = 0;
  const auto endAt = [&offsets](uint64_t e, uint32_t& v) { return uint32At(offsets, e, v); };
  if (i >= UINT32_MAX || !textListSpan(static_cast<uint32_t>(i + 1), endAt, begin, end) ||
      end > texts.size())
    return {};
  return std::string_view(texts).substr(begin, end - begin);
}

// Maps the failure of readWholeFile: no memory, or the file is unreadable.
int loadInto(const std::string& path, std::string& out, int missing) {
  try {
    return readWholeFile(path, out) ? kListOk : missing;
  } catch (const std::bad_alloc&) {
    return kListNoMemory;
  }
}

}  // namespace

int TextListReader::load(const std::string& dir, const char* name) {
  const std::string path = dir + "/" + name;
  int rc = loadInto(path, texts_, kListMissing);
  if (rc != kListOk) return rc;
  if (texts_.empty()) return kListEmpty;
  rc = loadInto(path + kListIndexSuffix, offsets_, kListNoIndex);
  if (rc != kListOk) return rc;
  return offsets_.size() < kEntrySize ? kListShortIndex : kListOk;
}

std::string_view TextListReader::text(uint32_t recid) const {
  if (recid == 0) return {};
  return spanOf(texts_, offsets_, uint64_t{recid} - 1);
}

int NumberListReader::load(const std::string& dir, const char* name) {
  const int rc = loadInto(dir + "/" + name, values_, kListMissing);
  if (rc != kListOk) return rc;
  return values_.size() < kEntrySize ? kListEmpty : kListOk;
}

uint32_t NumberListReader::value(uint32_t recid) const {
  uint32_t value = 0;
  if (recid == 0 || !uint32At(values_, uint64_t{recid} - 1, value)) return 0;
  return value;
}

int DbFieldTexts::load(const std::string& home) {
  home_ = home;
  blocks_.clear();
  const int rc = loadInto(home + "/" + kDbFieldInfoFile, info_, kListMissing);
  if (rc != kListOk) return rc;
  return info_.size() < 2 * kEntrySize ? kListEmpty : kListOk;
}

const DbFieldTexts::Block& DbFieldTexts::block(uint32_t k) {
  auto found = blocks_.find(k);
  if (found != blocks_.end()) return found->second;
  Block& b = blocks_[k];
  b.present = readWholeFile(home_ + "/" + dbFieldTextsFile(k), b.texts) &&
              readWholeFile(home_ + "/" + dbFieldEndsFile(k), b.offsets);
  return b;
}

std::string_view DbFieldTexts::cell(uint32_t recid, uint32_t column) {
  static constexpr std::string_view kNoBlock = " ";
  uint32_t columns = 0;
  // A column the index part does not hold (one added to the index after
  // this part was built) has no cell here, never another column's.
  if (!uint32At(info_, 0, columns) || column >= columns) return kNoBlock;
  // The last block whose first record is at most recid.
  bool inBlock = false;
  uint32_t blockNo = 0;
  uint32_t first = 0;
  const uint64_t entries = info_.size() / kEntrySize;
  for (uint64_t e = 1; e < entries; ++e) {
    uint32_t start = 0;
    uint32At(info_, e, start);
    if (start <= recid) {
      inBlock = true;
      blockNo = static_cast<uint32_t>(e - 1);
      first = start;
    }
  }
  if (!inBlock) return kNoBlock;
  const Block& b = block(blockNo);
  if (!b.present) return kNoBlock;
  const uint64_t c = uint64_t{recid - first} * columns + column;
  return spanOf(b.texts, b.offsets, c);
}
