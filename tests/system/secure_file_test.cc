/// @file secure_file_test.cc
/// @brief Files planted by someone else (links, FIFOs, directories) never
/// redirect, truncate or stall a write or a read.

#include "system/secure_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <string>

#include "system/protection_switches.h"
#include "tests/test_util.h"

namespace {

class PlantedNames : public testing::Test {
 protected:
  PlantedNames() {
    testutil::writeFile(victim_, "precious");
    EXPECT_EQ(symlink(victim_.c_str(), link_.c_str()), 0);
    EXPECT_EQ(mkfifo(fifo_.c_str(), 0600), 0);
  }
  std::string victimContent() const { return testutil::readFile(victim_); }

  testutil::TempDir dir_;
  const std::string victim_ = dir_.sub("victim");
  const std::string link_ = dir_.sub("link");
  const std::string fifo_ = dir_.sub("fifo");
};

TEST_F(PlantedNames, NoWriteGoesThroughALink) {
  EXPECT_FALSE(createExclusive(link_, 0600));
  EXPECT_FALSE(writeFileExclusive(link_, "evil", 0600));
  EXPECT_FALSE(openAppendFile(link_, 0600));
  EXPECT_EQ(fopenAppend(link_, 0600), nullptr);
  EXPECT_FALSE(openRegularForRewrite(link_));
  EXPECT_FALSE(writeFileExclusive(victim_, "evil", 0600));  // exists: never overwritten
  EXPECT_EQ(victimContent(), "precious");
}

TEST_F(PlantedNames, NoReadGoesThroughALinkOrBlocksOnAFifo) {
  std::string out;
  EXPECT_FALSE(openRegularFile(link_));
  EXPECT_FALSE(readRegularFile(link_, out, 100));
  // Each of these would hang for ever if the open blocked on the FIFO.
  EXPECT_FALSE(openRegularFile(fifo_));
  EXPECT_EQ(fopenRegular(fifo_), nullptr);
  EXPECT_FALSE(openAppendFile(fifo_, 0600));
  EXPECT_FALSE(openRegularForRewrite(fifo_));
  EXPECT_FALSE(openRegularFile(dir_.path()));
  EXPECT_TRUE(readRegularFile(victim_, out, 100));
  EXPECT_EQ(out, "precious");
  EXPECT_FALSE(readRegularFile(victim_, out, 7));  // more than the limit
}

// A protection switch is off only when its file is not there at all or says
// so; one that is there but cannot be read as a file protects.
TEST_F(PlantedNames, AProtectionSwitchThatCannotBeReadProtects) {
  const struct {
    const char* name;
    std::function<void(const std::string&)> plant;
    bool on;
  } cases[] = {
      {"absent", [](const std::string&) {}, false},
      {"off", [](const std::string& p) { testutil::writeFile(p, "0\n"); }, false},
      {"on", [](const std::string& p) { testutil::writeFile(p, "1\n"); }, true},
      {"link", [this](const std::string& p) { ASSERT_EQ(symlink(victim_.c_str(), p.c_str()), 0); },
       true},
      {"fifo", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); }, true},
      {"folder", [](const std::string& p) { ASSERT_EQ(mkdir(p.c_str(), 0700), 0); }, true},
  };
  for (const auto& c : cases) {
    const std::string home = dir_.sub(std::string("home-") + c.name);
    ASSERT_EQ(mkdir(home.c_str(), 0700), 0);
    c.plant(home + "/doc_ntfs.cfg");
    c.plant(home + "/acl_builder_option.cfg");
    EXPECT_EQ(homeHasFileAcl(home), c.on) << c.name;
    EXPECT_EQ(homeHasBuilderAcl(home), c.on) << c.name;
  }
  // A home that is a file holds no switch.
  EXPECT_FALSE(homeHasFileAcl(victim_));
  EXPECT_FALSE(homeHasBuilderAcl(victim_));
}

TEST_F(PlantedNames, RewriteAndAppendWorkOnRegularFiles) {
  {
    UniqueFd fd = openRegularForRewrite(victim_);
    ASSERT_TRUE(fd);
    EXPECT_TRUE(writeAll(fd.get(), std::string("new")));
  }
  EXPECT_EQ(victimContent(), "new");
  {
    UniqueFd fd = openAppendFile(victim_, 0600);
    ASSERT_TRUE(fd);
    EXPECT_TRUE(writeAll(fd.get(), std::string("+more")));
  }
  EXPECT_EQ(victimContent(), "new+more");
  // Written over, longer and shorter than before; through a link, never.
  EXPECT_TRUE(overwriteRegularFile(victim_, "a longer text"));
  EXPECT_EQ(victimContent(), "a longer text");
  EXPECT_TRUE(overwriteRegularFile(victim_, "short"));
  EXPECT_EQ(victimContent(), "short");
  EXPECT_TRUE(overwriteRegularFile(victim_, ""));
  EXPECT_EQ(victimContent(), "");
  EXPECT_FALSE(overwriteRegularFile(link_, "evil"));
  EXPECT_EQ(victimContent(), "");
}

TEST_F(PlantedNames, AtomicReplacementReplacesTheLinkNotItsTarget) {
  EXPECT_TRUE(replaceFileAtomically(link_, "fresh", 0600));
  EXPECT_EQ(victimContent(), "precious");
  struct stat st;
  ASSERT_EQ(lstat(link_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  EXPECT_EQ(testutil::readFile(link_), "fresh");
  EXPECT_FALSE(replaceFileAtomically(dir_.sub("missing/dir/file"), "x", 0600));
}

TEST(RandomSource, DigitsAreDigitsAndDoNotRepeat) {
  std::set<std::string> seen;
  int histogram[10] = {};
  for (int i = 0; i < 200; ++i) {
    std::string digits;
    ASSERT_TRUE(systemRandomDigits(30, digits));
    ASSERT_EQ(digits.size(), 30u);
    for (char c : digits) {
      ASSERT_TRUE(c >= '0' && c <= '9');
      ++histogram[c - '0'];
    }
    seen.insert(digits);
  }
  EXPECT_EQ(seen.size(), 200u);
  // 6,000 digits: each value expected 600 times; 450 is far outside chance.
  for (int count : histogram)
    EXPECT_GT(count, 450);
}

}  // namespace
