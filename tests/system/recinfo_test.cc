/// @file recinfo_test.cc
/// @brief Record info lines from generated record-info files, damaged ones
/// included.

#include "system/recinfo.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/test_util.h"

namespace {

using Lines = std::vector<std::string>;

// 32-bit integers in host byte order.
std::string ints(std::initializer_list<int32_t> values) {
  std::string bytes;
  for (int32_t v : values)
    bytes.append(reinterpret_cast<const char*>(&v), 4);
  return bytes;
}

// ".vela_recinfo" up to its bounds: format (and record size), a name, the
// data file paths.
std::string header(const std::string& format, const Lines& paths) {
  std::string h = format + ints({4}) + "name" + ints({static_cast<int32_t>(paths.size())});
  for (const std::string& p : paths)
    h += ints({static_cast<int32_t>(p.size())}) + p;
  return h;
}

class RecInfo : public ::testing::Test {
 protected:
  void write(const std::string& name, const std::string& bytes) const {
    testutil::writeFile(dir_.sub(name), bytes);
  }
  // Looks the numbers up, a 0 appended; the complaints on stderr are dropped.
  int lookup(std::vector<int> numbers) {
    numbers.push_back(0);
    testing::internal::CaptureStderr();
    const int rc =
        TS2InfoForID(dir_.path().c_str(), numbers.data(), lines_, static_cast<int>(numbers.size()));
    testing::internal::GetCapturedStderr();
    return rc;
  }
  // Records 1-5 in "v0" and 6-7 in "v1"; the offsets keep one extra entry
  // after each file's records.
  void writeVariable() {
    write("v0", std::string("alpha@\nbeta@gam@xyde\0ltakeep@abcd", 33));
    write("v1", "second file@\nok");
    write(".vela_recoffset", ints({0, 7, 12, 18, 24, 33, 0, 13, 15}));
    write(".vela_recinfo", header(ints({1}), {"/build/host/v0", "v1"}) + ints({6, 8}));
  }

  testutil::TempDir dir_;
  Lines lines_;
};

TEST_F(RecInfo, FixedSizeRecordsFromDataFilesInTheIndexDirectory) {
  testutil::TempDir outside;
  testutil::writeFile(outside.sub("part2"), "secret@\n");
  const std::string pad(4, '\0');
  write("part0", "r1" + pad + "@\nr2" + pad + "@\n");
  write("part1", "r3" + pad + "@\nr4" + pad + "@\n");
  write("part2", "r5" + pad + "@\n");
  write(".vela_recinfo",
        header(ints({6, 8}), {"a/part0", "part1", outside.sub("part2")}) + ints({3, 5, 6}));
  ASSERT_EQ(lookup({2, 3, 1, 4, 5}), kRecInfoOk);
  EXPECT_EQ(lines_, (Lines{"r2    ", "r3    ", "r1    ", "r4    ", "r5    "}));
}

TEST_F(RecInfo, VariableSizeRecordsAndTheAtSign) {
  writeVariable();
  ASSERT_EQ(lookup({1, 2, 3, 4, 5, 6, 7, 1}), kRecInfoOk);
  EXPECT_EQ(lines_,
            (Lines{"alpha", "beta", "gam", "de lta", "keep@abcd", "second file", "ok", "alpha"}));
  const int numbers[] = {2, 3, 0, 4};  // the count ends the list, and so does a 0
  EXPECT_EQ(TS2InfoForID(dir_.path().c_str(), numbers, lines_, 1), kRecInfoOk);
  EXPECT_EQ(lines_, (Lines{"beta"}));
  EXPECT_EQ(TS2InfoForID(dir_.path().c_str(), numbers + 1, lines_, 3), kRecInfoOk);
  EXPECT_EQ(lines_, (Lines{"gam"}));
}

TEST_F(RecInfo, MissingOrDamagedFilesAndRecords) {
  EXPECT_EQ(lookup({1}), kRecInfoMissing);
  write(".vela_recinfo", header(ints({1}), {"v0"}) + ints({5}));
  EXPECT_EQ(lookup({1}), kRecInfoMissing);
  writeVariable();
  EXPECT_EQ(lookup({7, 8}), kRecInfoTooLarge);
  EXPECT_EQ(lines_, (Lines{"ok"}));  // stored before the failure
  EXPECT_EQ(lookup({-1}), kRecInfoTooLarge);
  // Offsets that run backwards, past the data file, or off the offsets file.
  write(".vela_recoffset", ints({5, 1, 1000}));
  EXPECT_EQ(lookup({1}), kRecInfoNullRecord);
  EXPECT_EQ(lookup({2}), kRecInfoUnreadable);
  write(".vela_recoffset", ints({0}));
  EXPECT_EQ(lookup({1}), kRecInfoUnreadable);
  write(".vela_recinfo", header(ints({6, 10}), {"absent"}) + ints({5}));
  EXPECT_EQ(lookup({1}), kRecInfoUnreadable);
}

TEST_F(RecInfo, DamagedHeaders) {
  write(".vela_recinfo", header(ints({6, 10}), Lines(101, "v0")));
  EXPECT_EQ(lookup({1}), kRecInfoBadHeader);  // more than 100 data files
  const std::string good = header(ints({6, 10}), {"v0"}) + ints({5});
  for (size_t cut = 0; cut < good.size(); ++cut) {
    write(".vela_recinfo", good.substr(0, cut));
    EXPECT_EQ(lookup({1}), kRecInfoBadHeader) << cut;
  }
  for (const std::string& path : Lines{"dir/..", "dir/", ".", std::string("v\0x", 3)}) {
    write(".vela_recinfo", header(ints({6, 10}), {path}) + ints({5}));
    EXPECT_EQ(lookup({1}), kRecInfoBadHeader) << path;
  }
  for (int32_t length : {-1, 1 << 30}) {
    write(".vela_recinfo", ints({6, 10, length}));
    EXPECT_EQ(lookup({1}), kRecInfoBadHeader) << length;
  }
}

}  // namespace
