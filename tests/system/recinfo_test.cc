/// @file recinfo_test.cc
/// @brief Record info lines from generated record-info files.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "system/recinfo.h"
#include "tests/test_util.h"

namespace {

using namespace std::string_literals;

// Builds ".vela_recinfo" in host byte order.
class RecInfoFile {
 public:
  RecInfoFile& i32(int32_t v) {
    char b[4];
    memcpy(b, &v, 4);
    bytes_.append(b, 4);
    return *this;
  }
  RecInfoFile& text(const std::string& s) {
    i32(static_cast<int32_t>(s.size()));
    bytes_ += s;
    return *this;
  }
  // A complete header: files named by path, with their upper bounds.
  static std::string header(int32_t format, int32_t recordSize,
                            const std::vector<std::string>& paths,
                            const std::vector<int32_t>& bounds) {
    RecInfoFile f;
    f.i32(format);
    if (format == 6) f.i32(recordSize);
    f.text("engine name").i32(static_cast<int32_t>(paths.size()));
    for (const auto& p : paths)
      f.text(p);
    for (int32_t b : bounds)
      f.i32(b);
    return f.bytes_;
  }
  const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

class RecInfo : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return index_ + "/" + name; }
  void write(const std::string& name, const std::string& bytes) const {
    testutil::writeFile(path(name), bytes);
  }
  int lookup(std::vector<int> numbers) {
    numbers.push_back(0);
    testing::internal::CaptureStderr();
    const int rc =
        TS2InfoForID(index_.c_str(), numbers.data(), lines_, static_cast<int>(numbers.size()));
    stderr_ = testing::internal::GetCapturedStderr();
    return rc;
  }
  // Variable-size records: each data file's records followed by the offsets
  // with one extra entry per file.
  void writeVariable(const std::vector<std::vector<std::string>>& files) {
    std::vector<std::string> paths;
    std::vector<int32_t> bounds;
    RecInfoFile offsets;
    int32_t next = 1;
    for (size_t k = 0; k < files.size(); ++k) {
      std::string data;
      for (const auto& rec : files[k]) {
        offsets.i32(static_cast<int32_t>(data.size()));
        data += rec;
      }
      offsets.i32(static_cast<int32_t>(data.size()));
      write("v" + std::to_string(k), data);
      paths.push_back("/build/host/v" + std::to_string(k));
      next += static_cast<int32_t>(files[k].size());
      bounds.push_back(next);
    }
    write(".vela_recinfo", RecInfoFile::header(1, 0, paths, bounds));
    write(".vela_recoffset", offsets.bytes());
  }

  testutil::TempDir dir_;
  const std::string index_ = dir_.sub("index");
  std::vector<std::string> lines_;
  std::string stderr_;
};

TEST_F(RecInfo, FixedSizeRecordsAcrossDataFiles) {
  // Record r: "rec=<r>", NUL padding, "@\n"; 120 bytes each.
  const int32_t bounds[] = {1001, 2001, 2501};
  for (int k = 0, r = 1; k < 3; ++k) {
    std::string data;
    for (; r < bounds[k]; ++r) {
      std::string rec = "rec=" + std::to_string(r);
      rec.resize(118, '\0');
      data += rec + "@\n";
    }
    write("part" + std::to_string(k), data);
  }
  write(".vela_recinfo",
        RecInfoFile::header(6, 120, {"a/part0", "part1", "/x/y/part2"}, {1001, 2001, 2501}));
  const std::vector<int> numbers = {1000, 1001, 1, 2000, 2001, 2500};
  ASSERT_EQ(lookup(numbers), 0) << stderr_;
  ASSERT_EQ(lines_.size(), numbers.size());
  for (size_t i = 0; i < numbers.size(); ++i) {
    const std::string expected = "rec=" + std::to_string(numbers[i]);
    EXPECT_EQ(lines_[i], expected + std::string(118 - expected.size(), ' '));
  }
}

TEST_F(RecInfo, VariableSizeRecordsAndTheAtSign) {
  writeVariable(
      {{"alpha@\n", "beta@", "gam@xy", "de\0lta"s, "keep@abcd"}, {"second file@\n", "ok"}});
  ASSERT_EQ(lookup({1, 2, 3, 4, 5, 6, 7, 1}), 0) << stderr_;
  EXPECT_EQ(lines_, (std::vector<std::string>{"alpha", "beta", "gam", "de lta", "keep@abcd",
                                              "second file", "ok", "alpha"}));
  const int numbers[] = {2, 0, 3, 1};  // 0 ends the list, and so does the count
  EXPECT_EQ(TS2InfoForID(index_.c_str(), numbers, lines_, 3), 0);
  EXPECT_EQ(lines_, (std::vector<std::string>{"beta"}));
  EXPECT_EQ(TS2InfoForID(index_.c_str(), numbers + 2, lines_, 1), 0);
  EXPECT_EQ(lines_, (std::vector<std::string>{"gam"}));
}

TEST_F(RecInfo, MissingFilesAndRecords) {
  EXPECT_EQ(lookup({1}), kRecInfoMissing);
  EXPECT_EQ(stderr_, "Cannot find index's files.\n");
  write(".vela_recinfo", RecInfoFile::header(1, 0, {"v0"}, {5}));
  EXPECT_EQ(lookup({1}), kRecInfoMissing);
  EXPECT_EQ(stderr_, "Cannot find index's (rd) files.\n");
  writeVariable({{"x", "two@\n"}});
  EXPECT_EQ(lookup({2, 3}), kRecInfoTooLarge);
  EXPECT_EQ(stderr_, "too large id 3\n");
  EXPECT_EQ(lines_, (std::vector<std::string>{"two"}));  // stored before the failure
  EXPECT_EQ(lookup({-1}), kRecInfoTooLarge);
  EXPECT_EQ(lookup({1}), kRecInfoNullRecord);
  EXPECT_EQ(stderr_, "Null Record\n");
  write(".vela_recinfo", RecInfoFile::header(6, 10, {"absent"}, {5}));
  EXPECT_EQ(lookup({1}), kRecInfoUnreadable);
  write(".vela_recinfo", RecInfoFile::header(6, 1, {"v0"}, {5}));
  EXPECT_EQ(lookup({1}), kRecInfoNullRecord);
}

TEST_F(RecInfo, DamagedOffsets) {
  writeVariable({{"x", "fine@\n"}});
  // Offsets that run backwards, past the data file, or off the offsets file.
  write(".vela_recoffset", RecInfoFile().i32(5).i32(1).i32(1000).bytes());
  EXPECT_EQ(lookup({1}), kRecInfoNullRecord);
  EXPECT_EQ(lookup({2}), kRecInfoUnreadable);
  write(".vela_recoffset", RecInfoFile().i32(0).bytes());
  EXPECT_EQ(lookup({1}), kRecInfoUnreadable);
}

TEST_F(RecInfo, DamagedHeaders) {
  std::vector<std::string> many(101, "v0");
  std::vector<int32_t> bounds(101, 5);
  write(".vela_recinfo", RecInfoFile::header(6, 10, many, bounds));
  EXPECT_EQ(lookup({1}), kRecInfoBadHeader);
  EXPECT_EQ(stderr_, "big_file_num >  RECORD_FILE_COUNT_MAX\n");

  const std::string good = RecInfoFile::header(6, 10, {"v0"}, {5});
  for (size_t cut = 0; cut < good.size(); ++cut) {
    write(".vela_recinfo", good.substr(0, cut));
    EXPECT_EQ(lookup({1}), kRecInfoBadHeader) << cut;
  }
  const std::string badPaths[] = {"dir/..", "dir/", ".", std::string("v\0x", 3)};
  for (const auto& p : badPaths) {
    write(".vela_recinfo", RecInfoFile::header(6, 10, {p}, {5}));
    EXPECT_EQ(lookup({1}), kRecInfoBadHeader) << p;
  }
  write(".vela_recinfo", RecInfoFile().i32(6).i32(10).i32(-1).bytes());
  EXPECT_EQ(lookup({1}), kRecInfoBadHeader);
  write(".vela_recinfo", RecInfoFile().i32(6).i32(10).i32(1 << 30).bytes());
  EXPECT_EQ(lookup({1}), kRecInfoBadHeader);
}

TEST_F(RecInfo, DataFilesStayInTheIndexDirectory) {
  testutil::writeFile(dir_.sub("outside_v0"), "secret@\n");
  write("v0", "inside@\n");
  write(".vela_recinfo", RecInfoFile::header(6, 8, {"../outside_v0"}, {2}));
  EXPECT_EQ(lookup({1}), kRecInfoUnreadable);  // "outside_v0" is looked for inside only
  write(".vela_recinfo", RecInfoFile::header(6, 8, {"../../v0"}, {2}));
  ASSERT_EQ(lookup({1}), 0);
  EXPECT_EQ(lines_, (std::vector<std::string>{"inside"}));
}

}  // namespace
