/// @file index_id_test.cc
/// @brief Index id files: layout, lookups, new ids, updates.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "system/index_id.h"
#include "tests/system/system_fixture.h"

namespace {

// A 152-byte record with the given fields, each NUL-padded.
std::string record(const std::string& id, const std::string& desc, const std::string& owner,
                   const std::string& type) {
  std::string bytes(IndexIdFileMgr::kFileSize, '\0');
  bytes.replace(0, id.size(), id);
  bytes.replace(8, desc.size(), desc);
  bytes.replace(72, owner.size(), owner);
  bytes.replace(136, type.size(), type);
  return bytes;
}

class IndexId : public InstallTest {
 protected:
  IndexId() : home_(useSystemDirectory()) {}
  void writeIdFile(const std::string& name, const std::string& bytes) const {
    testutil::writeFile(home_ + "/ref/" + name + ".id", bytes);
  }
  std::string home_;
  IndexIdFileMgr ids_;
};

TEST(IndexIdClock, IdFromTheSecond) {
  const std::pair<long long, const char*> cases[] = {
      {1234567, "651081"},     // n = 1801567: "180156" reversed
      {1699999999, "998990"},  // n mod 10^8 = 998999, printed "0998999"
      {1712345678, "632031"},  // n mod 10^8 = 13023678, eight digits
  };
  for (const auto& [t, id] : cases)
    EXPECT_EQ(makeIndexIdForTime(t), id) << t;
}

TEST_F(IndexId, ReadsFieldsAndChecksTheStoredId) {
  writeIdFile("123456", record("123456", "Daily news", "/groupA", "doc"));
  ASSERT_TRUE(ids_.readIndexIdInfo("123456"));
  EXPECT_STREQ(ids_.getIndexDesc(), "Daily news");
  EXPECT_STREQ(ids_.getIndexOwner(), "/groupA");
  EXPECT_STREQ(ids_.getIndexType(), "doc");
  writeIdFile("111111", record("222222", "moved", "alice", "db") + "trailing bytes");
  EXPECT_FALSE(ids_.readIndexIdInfo("111111"));  // loaded all the same
  EXPECT_STREQ(ids_.getIndexId(), "222222");
  EXPECT_STREQ(ids_.getIndexOwner(), "alice");
  writeIdFile("1234567", "12345678" + std::string(144, 'f'));
  EXPECT_TRUE(ids_.readIndexIdInfo("1234567"));  // the eighth byte is never part of the id
  EXPECT_EQ(strlen(ids_.getIndexDesc()), 63u);
  EXPECT_EQ(strlen(ids_.getIndexType()), 15u);
}

TEST_F(IndexId, ShortFileOrUnsafeIdIsRefused) {
  writeIdFile("123", record("123", "d", "o", "t").substr(0, 151));
  EXPECT_FALSE(ids_.readIndexIdInfo("123"));
  EXPECT_STREQ(ids_.getIndexId(), "");
  // ../x would name SYSTEM/x.id, and that file even holds the matching id.
  testutil::writeFile(home_ + "/x.id", record("../x", "d", "o", "t"));
  testutil::makeDirs(home_ + "/ref");
  EXPECT_FALSE(ids_.readIndexIdInfo("../x"));
  EXPECT_FALSE(ids_.delIndexIdInfo("../x"));
  EXPECT_TRUE(testutil::fileExists(home_ + "/x.id"));
}

TEST_F(IndexId, BuildWritesTheLayout) {
  fixClock(1234567);
  std::string id;
  ASSERT_TRUE(
      ids_.buildIndexIdInfo("alice", "notes-and-more-types", std::string(80, 'd').c_str(), &id));
  EXPECT_EQ(id, "651081");
  const std::string path = home_ + "/ref/651081.id";
  EXPECT_EQ(testutil::readFile(path),
            record("651081", std::string(63, 'd'), "alice", "notes-and-more-"));
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
}

TEST_F(IndexId, BuildMovesOnWhenTheIdIsTakenAndGivesUpAfterSixty) {
  long long second = 1234567;
  setTimeSourceForTests([&second] { return timeval{second, 0}; });
  int waits = 0;
  setSleeperForTests([&](unsigned s) { waits += s; });
  writeIdFile("651081", record("651081", "taken", "bob", "doc"));
  EXPECT_FALSE(ids_.buildIndexIdInfo("alice", "doc", "new"));  // the clock never moves
  EXPECT_EQ(waits, 59);
  setSleeperForTests([&](unsigned) { ++second; });
  std::string id;
  ASSERT_TRUE(ids_.buildIndexIdInfo("alice", "doc", "new", &id));
  EXPECT_EQ(id, makeIndexIdForTime(1234568));
  ASSERT_TRUE(ids_.readIndexIdInfo("651081"));
  EXPECT_STREQ(ids_.getIndexDesc(), "taken");
}

TEST_F(IndexId, BuildNeedsTheSystemDirectory) {
  writeSetting("system_info.cfg", "SYSTEM_DIRECTORY=" + root("absent") + "\n");
  systemResetCaches();
  EXPECT_FALSE(ids_.buildIndexIdInfo("alice", "doc", "d"));
  EXPECT_FALSE(testutil::fileExists(root("absent")));
}

TEST_F(IndexId, WriteChosenIdReplacesTheFileWhole) {
  const std::string path = home_ + "/ref/abc.id";
  ASSERT_TRUE(ids_.writeIndexIdInfo("abc", "/groupA", "doc", std::string(100, 'd').c_str()));
  EXPECT_EQ(testutil::readFile(path), record("abc", std::string(63, 'd'), "/groupA", "doc"));
  EXPECT_STREQ(ids_.getIndexOwner(), "/groupA");
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0660u);
  // A longer file of the same id is replaced, not overwritten in part; a
  // stale scratch file does not stand in the way.
  writeIdFile("abc", record("abc", "old", "bob", "db") + "trailing bytes");
  testutil::writeFile(path + ".new", "stale");
  ASSERT_TRUE(ids_.writeIndexIdInfo("abc", "alice", "db", "new"));
  EXPECT_EQ(testutil::readFile(path), record("abc", "new", "alice", "db"));
  EXPECT_FALSE(testutil::fileExists(path + ".new"));
  // Unsafe ids touch nothing.
  for (const char* bad : {"../x", "", "12345678", "a/b"}) {
    EXPECT_FALSE(ids_.writeIndexIdInfo(bad, "alice", "doc", "d")) << bad;
    EXPECT_STREQ(ids_.getIndexId(), "");
  }
  EXPECT_FALSE(testutil::fileExists(home_ + "/x.id"));
  EXPECT_FALSE(ids_.writeIndexIdInfo(nullptr, "alice", "doc", "d"));
}

TEST_F(IndexId, WriteChosenIdNeedsAWritableSystemDirectory) {
  // "ref" is a file: the record cannot be placed.
  testutil::writeFile(home_ + "/ref", "");
  EXPECT_FALSE(ids_.writeIndexIdInfo("abc", "alice", "doc", "d"));
  writeSetting("system_info.cfg", "SYSTEM_DIRECTORY=" + root("absent") + "\n");
  systemResetCaches();
  EXPECT_FALSE(ids_.writeIndexIdInfo("abc", "alice", "doc", "d"));
  EXPECT_FALSE(testutil::fileExists(root("absent")));
}

TEST_F(IndexId, UpdateAndDelete) {
  writeIdFile("42", record("42", "old", "alice", "doc"));
  EXPECT_TRUE(ids_.updateIndexDesc("42", "new description"));
  EXPECT_EQ(testutil::readFile(home_ + "/ref/42.id"),
            record("42", "new description", "alice", "doc"));
  EXPECT_TRUE(ids_.updateIndexDesc("42", "new description"));
  EXPECT_FALSE(ids_.updateIndexDesc("43", "x"));
  writeIdFile("44", record("45", "mismatch", "alice", "doc"));
  EXPECT_FALSE(ids_.updateIndexDesc("44", "x"));
  EXPECT_FALSE(ids_.delIndexIdInfo("44"));
  EXPECT_TRUE(ids_.delIndexIdInfo("42"));
  EXPECT_FALSE(testutil::fileExists(home_ + "/ref/42.id"));
}

}  // namespace
