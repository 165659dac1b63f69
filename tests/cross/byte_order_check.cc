/// @file byte_order_check.cc
/// @brief The binary files' byte order on the host it runs on, without a
/// test framework so that it builds for any CPU: the query output file holds
/// its integers in this host's order and reads back whole.
///
///   byte_order_check            checks; exit status 0 when all hold
///   byte_order_check write P Q  writes a result file at P with query text Q

#include <unistd.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "output/query_output.h"

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
  rmdir(dir);
  return failures == 0 ? 0 : 1;
}
