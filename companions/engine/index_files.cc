/// @file index_files.cc
/// @brief Writers and readers of the record lists and record-info files.

#include "companions/engine/index_files.h"

#include <cstring>
#include <map>

#include "companions/engine/result_file.h"
#include "system/index_format.h"
#include "system/secure_file.h"

namespace vela {

namespace {

bool writeTextList(const std::string& dir, const std::string& name,
                   const std::vector<RecordInfo>& records,
                   const std::string& (*field)(const RecordInfo&)) {
  TextList list;
  for (const RecordInfo& r : records)
    list.add(field(r));
  return writeNewFile(dir + "/" + name, list.texts) &&
         writeNewFile(dir + "/" + name + kListIndexSuffix, list.ends);
}

const std::string& fileNameOf(const RecordInfo& r) {
  return r.fileName;
}
const std::string& ownerOf(const RecordInfo& r) {
  return r.owner;
}

// The record-info files and the data files.
bool writeRecordInfo(const std::string& dir, const std::vector<RecordInfo>& records) {
  std::vector<std::string> infos;
  infos.reserve(records.size());
  for (const RecordInfo& r : records)
    infos.push_back(r.info);
  const RecInfoFiles files = encodeRecordInfo(infos, kMaxDataFileBytes);
  for (size_t k = 0; k < files.data.size(); ++k)
    if (!writeNewFile(dir + "/" + recDataFileName(k), files.data[k])) return false;
  return writeNewFile(dir + "/" + kRecOffsetFile, files.offsets) &&
         writeNewFile(dir + "/" + kRecInfoFile, files.header);
}

// Longest list file read: five bytes (the longest 7-bit-group id) for each
// record id there can be.
constexpr size_t kMaxListFileBytes = size_t{5} * (kMaxRecordId + 1);

bool readWholeFile(const std::string& path, std::string& out) {
  return readRegularFile(path, out, kMaxListFileBytes);
}

}  // namespace

bool writeNewFile(const std::string& path, const std::string& bytes) {
  return writeFileExclusive(path, bytes, kIndexFileMode);
}

bool writeRecordFiles(const std::string& dir, const std::vector<RecordInfo>& records,
                      double indexedBytes) {
  std::string times, sizes, identities;
  for (const RecordInfo& r : records) {
    appendUInt32(times, r.time);
    appendUInt32(sizes, r.size);
    appendFileIdentity(identities, r.identity);
  }
  const std::string log = encodeCountAndSize(static_cast<uint32_t>(records.size()), indexedBytes);
  return writeTextList(dir, kFileNameListFile, records, fileNameOf) &&
         writeTextList(dir, kOwnerListFile, records, ownerOf) &&
         writeNewFile(dir + "/" + kTimeListFile, times) &&
         writeNewFile(dir + "/" + kSizeListFile, sizes) &&
         writeNewFile(dir + "/" + kIdentityListFile, identities) && writeRecordInfo(dir, records) &&
         writeNewFile(dir + "/" + kRecordCountFile, log);
}

bool writeIncrementalFiles(const std::string& dir, const std::vector<uint32_t>& orgIds,
                           double supersededBytes) {
  return writeNewFile(dir + "/" + kIncIdListFile, encodeIncIdList(orgIds)) &&
         writeNewFile(dir + "/" + kIncRecSizeFile,
                      encodeCountAndSize(static_cast<uint32_t>(orgIds.size()), supersededBytes));
}

bool readUInt32File(const std::string& path, std::vector<uint32_t>& out) {
  std::string bytes;
  if (!readWholeFile(path, bytes)) return false;
  out.resize(bytes.size() / 4);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = uint32From(bytes.data() + i * 4);
  return true;
}

std::string orgHomeOf(const std::string& home) {
  return orgPartOf(home);
}

std::vector<uint32_t> copyGroups(const std::vector<std::string>& digests) {
  std::map<std::string_view, std::pair<uint32_t, uint32_t>> seen;  // first id, count
  for (uint32_t i = 0; i < digests.size(); ++i)
    if (!digests[i].empty()) ++seen.try_emplace(digests[i], i + 1, 0).first->second.second;
  std::vector<uint32_t> first(digests.size(), 0);
  for (uint32_t i = 0; i < digests.size(); ++i)
    if (!digests[i].empty()) {
      const auto& group = seen.at(digests[i]);
      if (group.second > 1) first[i] = group.first;
    }
  return first;
}

std::vector<uint32_t> readIncrementalIdList(const std::string& incDir) {
  std::string bytes;
  if (!readWholeFile(incDir + "/" + kIncIdListFile, bytes)) return {};
  return decodeIncIdList(bytes);
}

}  // namespace vela
