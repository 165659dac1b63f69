/// @file index_round_trip_test.cc
/// @brief An org and an inc index part written by the index builder's
/// writer, read back by every reader of the index directory: the record
/// info lines, the counts, the search's lists, the superseded-record filter
/// and the renderer's record lookup.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "assemble/filter_inclist.h"
#include "companions/engine/index_files.h"
#include "companions/records/record_lookup.h"
#include "search/index_lists.h"
#include "system/index_format.h"
#include "system/index_stats.h"
#include "system/layout.h"
#include "system/recinfo.h"
#include "tests/test_util.h"

namespace {

vela::RecordInfo record(const std::string& name, const std::string& owner, uint32_t time,
                        uint32_t size, const std::string& title) {
  vela::RecordInfo r;
  r.fileName = name;
  r.owner = owner;
  r.time = time;
  r.size = size;
  r.info = "@P:docs/" + name + "\n@T:" + title + "\n@B:first line of " + name + "\n";
  return r;
}

class IndexRoundTrip : public ::testing::Test {
 protected:
  IndexRoundTrip() : cwd_(testutil::makeInstallSkeleton(root_.path())) {
    testutil::writeFile(root_.sub("setting/system_info.cfg"),
                        "SYSTEM_DIRECTORY=" + root_.sub("sys") + "\nDOMAIN_NAME=dom\n");
    systemResetCaches();
    org_ = systemGetIndexHome("alice", "news");
    inc_ = systemGetIncIndexHome("alice", "news");
    testutil::makeDirs(org_);
    testutil::makeDirs(inc_);
    // Names with bytes of every kind a file name may hold, an empty owner.
    orgRecords_ = {record("a.txt", "ann", 100, 5, "Alpha"),
                   record("b c\xE9.pdf", "", 0xFFFFFFFFu, 0, "B"),
                   record("c.txt", "carl", 300, 70000, "")};
    incRecords_ = {record("b2.pdf", "bob", 400, 9, "B again"),
                   record("d.txt", "dora", 500, 1, "D")};
    EXPECT_TRUE(vela::writeRecordFiles(org_, orgRecords_, 1000.0));
    EXPECT_TRUE(vela::writeRecordFiles(inc_, incRecords_, 40.0));
    // The inc part holds record 2 again.
    EXPECT_TRUE(vela::writeIncrementalFiles(inc_, {2}, 300.0));
  }
  ~IndexRoundTrip() override { systemResetCaches(); }

  const std::vector<vela::RecordInfo>& part(bool inc) const {
    return inc ? incRecords_ : orgRecords_;
  }

  testutil::TempDir root_;
  testutil::ScopedCwd cwd_;
  std::string org_, inc_;
  std::vector<vela::RecordInfo> orgRecords_, incRecords_;
};

TEST_F(IndexRoundTrip, TheWriterNamesThePartsAsTheInstallationDoes) {
  EXPECT_EQ(inc_, incPartOf(org_));
  EXPECT_EQ(vela::orgHomeOf(inc_), org_);
  EXPECT_EQ(vela::readIncrementalIdList(inc_), std::vector<uint32_t>{2});
}

TEST_F(IndexRoundTrip, InfoLinesAndCountsReadBack) {
  for (bool inc : {false, true}) {
    const std::vector<vela::RecordInfo>& records = part(inc);
    std::vector<int> ids;
    for (size_t r = records.size(); r >= 1; --r)
      ids.push_back(static_cast<int>(r));
    ids.push_back(0);
    std::vector<std::string> lines;
    ASSERT_EQ(
        TS2InfoForID((inc ? inc_ : org_).c_str(), ids.data(), lines, static_cast<int>(ids.size())),
        kRecInfoOk);
    ASSERT_EQ(lines.size(), records.size());
    for (size_t i = 0; i < lines.size(); ++i)
      EXPECT_EQ(lines[i], records[records.size() - 1 - i].info);
  }
  uint32_t count = 0, incCount = 0;
  double size = 0, incSize = 0;
  systemGetIndexNumRec("alice", "news", count, size);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(size, 1000.0);
  // The superseded record leaves the org part's count and size shown.
  systemGetShowIndexNumRec("alice", "news", count, size, incCount, incSize);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(size, 700.0);
  EXPECT_EQ(incCount, 2u);
  EXPECT_EQ(incSize, 40.0);
  int32_t deleted = 0;
  double deletedSize = 0;
  systemGetDeletedIncIndexNumRec("alice", "news", deleted, deletedSize);
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(deletedSize, 300.0);
}

TEST_F(IndexRoundTrip, TheSearchListsReadBack) {
  for (bool inc : {false, true}) {
    const std::string& dir = inc ? inc_ : org_;
    TextListReader names, owners;
    NumberListReader times, sizes;
    ASSERT_EQ(names.load(dir, kFileNameList), kListOk);
    ASSERT_EQ(owners.load(dir, kOwnerList), kListOk);
    ASSERT_EQ(times.load(dir, kTimeList), kListOk);
    ASSERT_EQ(sizes.load(dir, kSizeList), kListOk);
    const std::vector<vela::RecordInfo>& records = part(inc);
    for (uint32_t r = 1; r <= records.size(); ++r) {
      EXPECT_EQ(names.text(r), records[r - 1].fileName) << r;
      EXPECT_EQ(owners.text(r), records[r - 1].owner) << r;
      EXPECT_EQ(times.value(r), records[r - 1].time) << r;
      EXPECT_EQ(sizes.value(r), records[r - 1].size) << r;
    }
    const auto past = static_cast<uint32_t>(records.size() + 1);
    EXPECT_EQ(names.text(past), "");
    EXPECT_EQ(times.value(past), 0u);
  }
}

TEST_F(IndexRoundTrip, TheSupersededRecordFilterListsWhatTheWriterWrote) {
  filter_inclist list;
  ASSERT_EQ(list.init_inclist(inc_, 3), kIncListOk);
  EXPECT_FALSE(list.isListed(1));
  EXPECT_TRUE(list.isListed(2));
  EXPECT_FALSE(list.isListed(3));
  // Written for a larger org part than there is: refused, not read past.
  EXPECT_EQ(list.init_inclist(inc_, 1), kIncListBadId);
}

TEST_F(IndexRoundTrip, TheRendererFindsEachRecordInItsPart) {
  render::Installation inst;
  inst.systemHome = root_.sub("sys");
  inst.domainName = "dom";
  ASSERT_EQ(inst.indexHome("alice", "news"), org_);
  ASSERT_EQ(inst.incIndexHome("alice", "news"), inc_);
  render::IndexRecordReader reader(inst, "alice", "news");
  // Merged numbering: the org records, then the inc records.
  for (uint32_t recid = 5; recid >= 1; --recid) {
    const bool inc = recid > orgRecords_.size();
    const vela::RecordInfo& want = part(inc)[inc ? recid - orgRecords_.size() - 1 : recid - 1];
    const render::RecordDetails d = reader.read(recid);
    ASSERT_TRUE(d.found) << recid;
    EXPECT_EQ(d.fileName, want.fileName);
    EXPECT_EQ(d.time, want.time);
    EXPECT_EQ(d.size, want.size);
    EXPECT_TRUE(d.hasTime && d.hasSize);
    EXPECT_EQ("@P:docs/" + want.fileName + "\n@T:" + d.title + "\n@B:" + d.firstLine + "\n",
              want.info);
  }
  EXPECT_FALSE(reader.read(6).found);
}

}  // namespace

namespace {

TEST_F(IndexRoundTrip, KeptPartsServeTheirBuildUntilAnotherStandsInItsPlace) {
  render::Installation inst;
  inst.systemHome = root_.sub("sys");
  inst.domainName = "dom";
  render::KeptIndexDirectories kept(4);
  auto firstName = [&](render::IndexRecordReader& reader) { return reader.read(1).fileName; };
  {
    render::IndexRecordReader reader(inst, "alice", "news", &kept);
    EXPECT_EQ(firstName(reader), "a.txt");
    EXPECT_EQ(reader.read(5).fileName, "d.txt");
  }
  EXPECT_EQ(kept.opened(), 2u);  // the org and the inc part
  {
    // Two readers at once: the second opens parts of its own.
    render::IndexRecordReader again(inst, "alice", "news", &kept);
    render::IndexRecordReader beside(inst, "alice", "news", &kept);
    EXPECT_EQ(firstName(again), "a.txt");
    EXPECT_EQ(firstName(beside), "a.txt");
    EXPECT_EQ(again.read(5).fileName, "d.txt");
  }
  EXPECT_EQ(kept.reused(), 2u);
  EXPECT_EQ(kept.opened(), 4u);

  // A new build is renamed over the org part: its records are read, not
  // the kept ones.
  const std::string staged = root_.sub("staged");
  testutil::makeDirs(staged);
  ASSERT_TRUE(vela::writeRecordFiles(staged, {record("new.txt", "ann", 1, 1, "New")}, 1.0));
  ASSERT_EQ(std::rename(org_.c_str(), root_.sub("old").c_str()), 0);
  ASSERT_EQ(std::rename(staged.c_str(), org_.c_str()), 0);
  render::IndexRecordReader after(inst, "alice", "news", &kept);
  EXPECT_EQ(firstName(after), "new.txt");
  EXPECT_EQ(after.orgCount(), 1u);
  EXPECT_EQ(after.read(2).fileName, "b2.pdf");  // the inc part, still kept
}

}  // namespace

namespace {

// Descriptors of this process open on files below `dir`.
int descriptorsBelow(const std::string& dir) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    const std::string target = std::filesystem::read_symlink(entry.path(), ec).string();
    if (!ec && target.rfind(dir + "/", 0) == 0) ++n;
  }
  return n;
}

// A build switched out and removed is given back to the file system once
// its kept files are stale, whether or not a page of its index comes again.
TEST_F(IndexRoundTrip, StaleKeptPartsCloseTheirFiles) {
  render::Installation inst;
  inst.systemHome = root_.sub("sys");
  inst.domainName = "dom";
  render::KeptIndexDirectories kept(4, 0);
  {
    render::IndexRecordReader reader(inst, "alice", "news", &kept);
    ASSERT_TRUE(reader.read(1).found);
  }
  const std::string old = root_.sub("old");
  ASSERT_EQ(std::rename(org_.c_str(), old.c_str()), 0);
  std::filesystem::remove_all(old);
  EXPECT_GT(descriptorsBelow(old), 0);
  kept.dropStale();
  EXPECT_EQ(descriptorsBelow(old), 0);
}

}  // namespace
