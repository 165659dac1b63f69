/// @file scratch_reuse_test.cc
/// @brief Scratch files kept for later claims: only when nothing can still
/// write into them, handed on empty under a fresh name, and never when what
/// lies under a kept name is not what was kept.

#include "system/scratch_reuse.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "system/tmpfile.h"
#include "tests/test_util.h"

namespace {

class ScratchReuse : public ::testing::Test {
 protected:
  ScratchReuse() : cwd_(root_.sub("search-cgi")) {}
  std::string slot(int n) const {
    char name[32];
    std::snprintf(name, sizeof name, "%s%03d", kSparePrefix, n);
    return scratch_ + "/" + name;
  }
  // The kept files in the scratch directory.
  std::vector<std::string> spares() const {
    std::vector<std::string> found;
    for (int n = 0; n < kSpareSlots; ++n)
      if (struct stat st; lstat(slot(n).c_str(), &st) == 0) found.push_back(slot(n));
    return found;
  }
  // Fills every free slot with a file as kept.
  void fillFreeSlots() {
    for (int n = 0; n < kSpareSlots; ++n) {
      if (struct stat st; lstat(slot(n).c_str(), &st) == 0) continue;
      testutil::writeFile(slot(n), "");
      ASSERT_EQ(0, chmod(slot(n).c_str(), kTempFileMode));
    }
  }
  std::string claim(const char* text = "") {
    std::string path;
    UniqueFd fd;
    EXPECT_TRUE(systemGetCGITmpFile(path, "query", fd));
    EXPECT_EQ(0, path.rfind(scratch_ + "/query", 0)) << path;
    EXPECT_TRUE(writeAll(fd.get(), std::string(text)));
    return path;
  }
  static ino_t inodeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
    return st.st_ino;
  }

  testutil::TempDir root_;
  const std::string scratch_ = [this] {
    testutil::makeDirs(root_.sub("search-cgi/tmp"));
    // The directory as the run names it: the real path, not the one the
    // test was handed.
    char real[PATH_MAX];
    return std::string(realpath(root_.sub("search-cgi/tmp").c_str(), real));
  }();
  testutil::ScopedCwd cwd_;
};

TEST_F(ScratchReuse, AnAnsweredFileIsKeptEmptyAndHandedOnUnderAFreshName) {
  const std::string first = claim("hits of the first search");
  const ino_t inode = inodeOf(first);
  noteScratchSent({"-o", first});
  noteScratchAnswered({"-o", first});
  releaseScratchFile(first);
  EXPECT_FALSE(testutil::fileExists(first));
  const std::vector<std::string> kept = spares();
  ASSERT_EQ(1u, kept.size());
  EXPECT_EQ(inode, inodeOf(kept[0]));
  EXPECT_EQ("", testutil::readFile(kept[0]));

  // With every slot holding a kept file, a claim takes one of them.
  fillFreeSlots();
  std::set<ino_t> keptInodes;
  for (const std::string& path : spares())
    keptInodes.insert(inodeOf(path));
  const std::string second = claim();
  EXPECT_NE(first, second);
  EXPECT_EQ(1u, keptInodes.count(inodeOf(second)));
  EXPECT_EQ(static_cast<size_t>(kSpareSlots - 1), spares().size());
}

TEST_F(ScratchReuse, AFileSomeoneMayStillWriteIsRemoved) {
  struct Case {
    const char* what;
    int sent, answered;
  };
  for (const Case& c : {Case{"never sent to the service", 0, 0}, Case{"sent, not answered", 1, 0},
                        Case{"sent twice, answered once", 2, 1}}) {
    const std::string path = claim("partial");
    for (int i = 0; i < c.sent; ++i)
      noteScratchSent({"-f", path});
    for (int i = 0; i < c.answered; ++i)
      noteScratchAnswered({"-f", path});
    releaseScratchFile(path);
    EXPECT_FALSE(testutil::fileExists(path)) << c.what;
    EXPECT_TRUE(spares().empty()) << c.what;
  }
  // A word that names no claimed file changes nothing.
  noteScratchAnswered({scratch_ + "/query000"});
  EXPECT_TRUE(spares().empty());
}

TEST_F(ScratchReuse, WhatLiesUnderAKeptNameUnlikeAKeptFileIsNeverTaken) {
  const std::string outside = root_.sub("outside");
  testutil::writeFile(outside, "");
  ASSERT_EQ(0, chmod(outside.c_str(), kTempFileMode));
  // Every slot holds something a claim must not hand out.
  for (int n = 0; n < kSpareSlots; ++n) {
    switch (n % 4) {
      case 0:
        ASSERT_EQ(0, symlink(outside.c_str(), slot(n).c_str()));
        break;
      case 1:
        ASSERT_EQ(0, link(outside.c_str(), slot(n).c_str()));
        break;
      case 2:
        testutil::writeFile(slot(n), "left over");
        ASSERT_EQ(0, chmod(slot(n).c_str(), kTempFileMode));
        break;
      case 3:
        testutil::writeFile(slot(n), "");
        ASSERT_EQ(0, chmod(slot(n).c_str(), 0644));
        break;
    }
  }
  for (int i = 0; i < 40; ++i) {
    const std::string path = claim("x");
    struct stat st {};
    ASSERT_EQ(0, lstat(path.c_str(), &st));
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(1u, st.st_nlink);
    EXPECT_EQ(kTempFileMode, st.st_mode & 07777);
    EXPECT_EQ("x", testutil::readFile(path));
  }
  EXPECT_EQ("", testutil::readFile(outside));
  // What was tried and refused is gone, not left for the next claim.
  EXPECT_LT(spares().size(), static_cast<size_t>(kSpareSlots));
}

TEST_F(ScratchReuse, WithEverySlotTakenAFileIsRemoved) {
  fillFreeSlots();
  const std::string path = claim("hits");
  const ino_t inode = inodeOf(path);
  // The claim may have taken a kept file: its slot is filled again.
  fillFreeSlots();
  noteScratchSent({path});
  noteScratchAnswered({path});
  releaseScratchFile(path);
  EXPECT_FALSE(testutil::fileExists(path));
  for (const std::string& kept : spares())
    EXPECT_NE(inode, inodeOf(kept));
}

}  // namespace
