/// @file byte_order_check.cc
/// @brief The binary files' byte order on the host it runs on, without a
/// test framework so that it builds for any CPU: the query output file and the
/// record-info files of an index hold their integers in this host's order and
/// read back whole.
///
///   byte_order_check            checks; exit status 0 when all hold
///   byte_order_check write P Q  writes a result file at P with query text Q

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "output/query_output.h"
#include "system/index_format.h"

namespace {

int failures = 0;

void check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

bool bigEndianHost() {
  const uint32_t one = 1;
  unsigned char first;
  std::memcpy(&first, &one, 1);
  return first == 0;
}

bool writeResult(const std::string& path, const std::string& query) {
  CQueryOutput out;
  if (!out.WriteOutputFile(path)) return false;
  out.SetQueryMatchCount(1);
  out.SetOutputCountPerPage(10);
  out.SetMultiDbCount(1);
  out.SetRecordCount(0x01020304);
  return out.OutputSetData() && out.OutputQueryInfo("query=" + query, query, query, "all", "") &&
         out.OutputMultiDbInfo() && out.OutputMultiDbURL(0, "all") && out.OutputRecordDataInfo() &&
         out.OutputRecordData(0, "record") && out.CloseOutputFile();
}

// The record-info files written and read on this host: each record back.
bool recordInfoReadsBack(const std::string& dir) {
  const std::vector<std::string> infos = {"@P:a\n", "@P:bb\n", "@P:ccc\n"};
  // Small data files, so that the bounds and the extra offsets are used too.
  const RecInfoFiles files = encodeRecordInfo(infos, 10);
  bool written = writeFileExclusive(dir + "/" + kRecInfoFile, files.header, 0600) &&
                 writeFileExclusive(dir + "/" + kRecOffsetFile, files.offsets, 0600);
  for (size_t k = 0; k < files.data.size(); ++k)
    written = written && writeFileExclusive(dir + "/" + recDataFileName(k), files.data[k], 0600);
  RecordInfoReader reader(dir);
  bool same = written && files.data.size() > 1;
  for (uint32_t r = 3; r >= 1; --r) {
    std::string record;
    same = same && reader.read(r, record) == RecInfoStatus::kOk &&
           recordInfoLine(record) == infos[r - 1];
  }
  unlink((dir + "/" + kRecInfoFile).c_str());
  unlink((dir + "/" + kRecOffsetFile).c_str());
  for (size_t k = 0; k < files.data.size(); ++k)
    unlink((dir + "/" + recDataFileName(k)).c_str());
  return same;
}

// Kept texts: streams of records 1 and 3 (record 2 has none), their ends
// 64-bit in the host's order.
bool keptTextsReadBack(const std::string& dir) {
  std::string ends;
  for (uint64_t end : {3, 3, 8})
    appendUInt64(ends, end);
  const unsigned char three[8] = {0, 0, 0, 0, 0, 0, 0, 3}, threeLittle[8] = {3};
  bool same = std::memcmp(ends.data(), bigEndianHost() ? three : threeLittle, 8) == 0 &&
              writeFileExclusive(dir + "/" + kStoredTextsFile, "abcdefgh", 0600) &&
              writeFileExclusive(dir + "/" + kStoredTextEndsFile, ends, 0600);
  StoredTextReader reader(dir);
  std::string stream;
  same = same && reader.read(3, stream, 100) == StoredTextStatus::kFound && stream == "defgh" &&
         reader.read(2, stream, 100) == StoredTextStatus::kNone &&
         reader.read(1, stream, 100) == StoredTextStatus::kFound && stream == "abc";
  unlink((dir + "/" + kStoredTextsFile).c_str());
  unlink((dir + "/" + kStoredTextEndsFile).c_str());
  return same;
}

std::string readBytes(const std::string& path, size_t n) {
  std::string bytes(n, '\0');
  FILE* in = std::fopen(path.c_str(), "rb");
  if (!in) return "";
  bytes.resize(std::fread(&bytes[0], 1, n, in));
  std::fclose(in);
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "write") == 0) return writeResult(argv[2], argv[3]) ? 0 : 1;
  std::printf("host: %s-endian\n", bigEndianHost() ? "big" : "little");
  char dir[] = "/tmp/byteorderXXXXXX";
  if (!mkdtemp(dir)) return 2;
  const std::string path = std::string(dir) + "/query12345";
  check(writeResult(path, "apple"), "a result file is written");
  // Slot 0 of the index is the header's position, 80.
  const std::string head = readBytes(path, 4);
  const unsigned char big[4] = {0, 0, 0, 80}, little[4] = {80, 0, 0, 0};
  check(head.size() == 4 && std::memcmp(head.data(), bigEndianHost() ? big : little, 4) == 0,
        "the index holds its first position in the host's byte order");
  CQueryOutput in;
  check(in.ReadOutputFile(path), "the result file reads back");
  check(in.GetRecordCount() == 0x01020304, "a header integer reads back whole");
  check(in.GetMatchCount() == 1 && in.GetRecordData(0) == "record", "a record line reads back");
  unlink(path.c_str());
  // The first bound of a record-info header, after format, name and paths.
  std::string header = encodeRecordInfo({"x"}).header;
  const unsigned char one[4] = {0, 0, 0, 2}, oneLittle[4] = {2, 0, 0, 0};
  check(header.size() >= 4 && std::memcmp(header.data() + header.size() - 4,
                                          bigEndianHost() ? one : oneLittle, 4) == 0,
        "the record-info header holds its bound in the host's byte order");
  check(recordInfoReadsBack(dir), "record-info files read back record by record");
  check(keptTextsReadBack(dir), "kept texts read back by their 64-bit ends");
  rmdir(dir);
  return failures == 0 ? 0 : 1;
}
