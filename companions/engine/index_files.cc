/// @file index_files.cc
/// @brief Writers and readers of the record lists and record-info files.

#include "companions/engine/index_files.h"

#include <cstring>
#include <map>

#include "companions/engine/result_file.h"
#include "system/secure_file.h"

namespace vela {

namespace {

bool writeTextList(const std::string& dir, const std::string& name,
                   const std::vector<RecordInfo>& records,
                   const std::string& (*field)(const RecordInfo&)) {
  std::string texts, ends;
  for (const RecordInfo& r : records) {
    texts += field(r);
    appendUInt32(ends, static_cast<uint32_t>(texts.size()));
  }
  return writeNewFile(dir + "/" + name, texts) && writeNewFile(dir + "/" + name + "_index", ends);
}

const std::string& fileNameOf(const RecordInfo& r) {
  return r.fileName;
}
const std::string& ownerOf(const RecordInfo& r) {
  return r.owner;
}

// .vela_recinfo, .vela_recoffset and the data files.
bool writeRecordInfo(const std::string& dir, const std::vector<RecordInfo>& records) {
  std::vector<std::string> dataFiles(1);
  std::vector<uint32_t> bounds;
  std::string offsets;
  uint32_t recid = 1;
  for (const RecordInfo& r : records) {
    std::string text = r.info + "@\n";
    if (dataFiles.back().size() + text.size() > kMaxDataFileBytes && !dataFiles.back().empty()) {
      appendUInt32(offsets, static_cast<uint32_t>(dataFiles.back().size()));
      bounds.push_back(recid);
      dataFiles.emplace_back();
    }
    appendUInt32(offsets, static_cast<uint32_t>(dataFiles.back().size()));
    dataFiles.back() += text;
    ++recid;
  }
  appendUInt32(offsets, static_cast<uint32_t>(dataFiles.back().size()));
  bounds.push_back(recid);

  std::string info;
  appendUInt32(info, 1);  // variable-size records
  const std::string name = "vela";
  appendUInt32(info, static_cast<uint32_t>(name.size()));
  info += name;
  appendUInt32(info, static_cast<uint32_t>(dataFiles.size()));
  for (size_t k = 0; k < dataFiles.size(); ++k) {
    std::string file = "vela_recdata_" + std::to_string(k);
    appendUInt32(info, static_cast<uint32_t>(file.size()));
    info += file;
    if (!writeNewFile(dir + "/" + file, dataFiles[k])) return false;
  }
  for (uint32_t b : bounds)
    appendUInt32(info, b);
  return writeNewFile(dir + "/.vela_recoffset", offsets) &&
         writeNewFile(dir + "/.vela_recinfo", info);
}

// Longest list file read: five bytes (the longest 7-bit-group id) for each
// record id there can be.
constexpr size_t kMaxListFileBytes = size_t{5} * (kMaxRecordId + 1);

bool readWholeFile(const std::string& path, std::string& out) {
  return readRegularFile(path, out, kMaxListFileBytes);
}

}  // namespace

void appendUInt32(std::string& out, uint32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);
  out.append(b, 4);
}

void appendDouble(std::string& out, double v) {
  char b[8];
  std::memcpy(b, &v, 8);
  out.append(b, 8);
}

bool writeNewFile(const std::string& path, const std::string& bytes) {
  return writeFileExclusive(path, bytes, kIndexFileMode);
}

bool writeRecordFiles(const std::string& dir, const std::vector<RecordInfo>& records,
                      double indexedBytes) {
  std::string times, sizes, identities, log;
  for (const RecordInfo& r : records) {
    appendUInt32(times, r.time);
    appendUInt32(sizes, r.size);
    appendFileIdentity(identities, r.identity);
  }
  appendUInt32(log, static_cast<uint32_t>(records.size()));
  appendDouble(log, indexedBytes);
  return writeTextList(dir, "morna_filename_list", records, fileNameOf) &&
         writeTextList(dir, "morna_owner_list", records, ownerOf) &&
         writeNewFile(dir + "/" + kTimeListFile, times) &&
         writeNewFile(dir + "/morna_size_list", sizes) &&
         writeNewFile(dir + "/" + kIdentityListFile, identities) && writeRecordInfo(dir, records) &&
         writeNewFile(dir + "/" + kRecordCountFile, log);
}

bool writeIncrementalFiles(const std::string& dir, const std::vector<uint32_t>& orgIds,
                           double supersededBytes) {
  std::string list, recsize;
  for (uint32_t id : orgIds)
    appendUInt7(list, id);
  appendUInt32(recsize, static_cast<uint32_t>(orgIds.size()));
  appendDouble(recsize, supersededBytes);
  return writeNewFile(dir + "/" + kIncIdListFile, list) &&
         writeNewFile(dir + "/" + kIncRecSizeFile, recsize);
}

bool readUInt32File(const std::string& path, std::vector<uint32_t>& out) {
  std::string bytes;
  if (!readWholeFile(path, bytes)) return false;
  out.resize(bytes.size() / 4);
  for (size_t i = 0; i < out.size(); ++i)
    std::memcpy(&out[i], bytes.data() + i * 4, 4);
  return true;
}

std::string orgHomeOf(const std::string& home) {
  constexpr std::string_view kInc = "_inc";
  if (home.size() > kInc.size() && home.compare(home.size() - kInc.size(), kInc.size(), kInc) == 0)
    return home.substr(0, home.size() - kInc.size());
  return home;
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
  std::vector<uint32_t> ids;
  if (!readWholeFile(incDir + "/" + kIncIdListFile, bytes)) return ids;
  size_t i = 0;
  while (i < bytes.size() && bytes[i] != '\0') {
    uint32_t v = 0;
    int shift = 0;
    bool done = false;
    while (i < bytes.size() && shift < 35) {
      auto c = static_cast<unsigned char>(bytes[i++]);
      v |= static_cast<uint32_t>(c & 0x7F) << shift;
      shift += 7;
      if (!(c & 0x80)) {
        done = true;
        break;
      }
    }
    if (!done) break;
    ids.push_back(v);
  }
  return ids;
}

}  // namespace vela
