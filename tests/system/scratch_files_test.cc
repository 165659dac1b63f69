/// @file scratch_files_test.cc
/// @brief Scratch files kept in memory: they read and write as files do, travel
/// with a run, reach the disk only when a process needs them, and a name
/// someone else took on disk is never touched; and files planted by someone
/// else (links, FIFOs, directories) never redirect, truncate or stall a write
/// or a read.

#include "system/scratch_files.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "system/child_process.h"
#include "system/protection_switches.h"
#include "system/secure_file.h"
#include "tests/test_util.h"

namespace {

class ScratchFiles : public ::testing::Test {
 protected:
  ScratchFiles() : cgi_(testutil::makeInstallSkeleton(root_.path())), cwd_(cgi_) {}
  ~ScratchFiles() override { scratch::keepInMemory(false); }

  std::string scratchDir() const { return root_.sub("search-cgi/tmp"); }
  // Names in the scratch directory, "." and ".." left out.
  std::vector<std::string> onDisk() const {
    std::vector<std::string> names;
    DIR* dir = opendir(scratchDir().c_str());
    while (const dirent* entry = dir ? readdir(dir) : nullptr)
      if (std::string(entry->d_name) != "." && std::string(entry->d_name) != "..")
        names.push_back(entry->d_name);
    if (dir) closedir(dir);
    return names;
  }

  testutil::TempDir root_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
};

std::string readStream(FILE* stream) {
  std::string bytes;
  char piece[4];
  size_t n = 0;
  while ((n = std::fread(piece, 1, sizeof piece, stream)) > 0)
    bytes.append(piece, n);
  return bytes;
}

TEST_F(ScratchFiles, InMemoryTheyReadAsFilesAndTravelWithARun) {
  scratch::keepInMemory(true);
  std::string result, terms;
  ASSERT_TRUE(scratch::claim("query", result));
  ASSERT_TRUE(scratch::claim("qstring", terms));
  EXPECT_NE(result, terms);
  EXPECT_EQ(result.rfind(scratchDir() + "/query", 0), 0u) << result;
  EXPECT_EQ(result.size(), scratchDir().size() + 6 + 30);
  EXPECT_TRUE(onDisk().empty());

  // A result never written is no result, unlike an empty one.
  std::string bytes = "old";
  EXPECT_FALSE(scratch::read(result, bytes, 100));
  EXPECT_EQ(scratch::open(result), nullptr);

  ASSERT_TRUE(scratch::write(terms, "apple pie"));
  ASSERT_TRUE(scratch::read(terms, bytes, 5));
  EXPECT_EQ(bytes, "apple");
  FILE* stream = scratch::open(terms);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(readStream(stream), "apple pie");
  ASSERT_EQ(std::fseek(stream, 6, SEEK_SET), 0);
  EXPECT_EQ(readStream(stream), "pie");
  std::fclose(stream);

  // Each file named by the command line goes along once; other words stay.
  const std::vector<scratch::Attached> along =
      scratch::attachedTo({"vela25_0.exe", "-o", result, "-f", terms, result, "/etc/passwd"});
  ASSERT_EQ(along.size(), 2u);
  EXPECT_EQ(along[0].path, result);
  EXPECT_EQ(along[0].bytes, "");
  EXPECT_EQ(along[1].path, terms);
  EXPECT_EQ(along[1].bytes, "apple pie");

  scratch::takeResult(result, "");
  ASSERT_TRUE(scratch::read(result, bytes, 100));
  EXPECT_EQ(bytes, "");
  scratch::takeResult("/etc/passwd", "taken");  // no file of the run: nothing
  EXPECT_FALSE(testutil::fileExists(root_.sub("taken")));
  EXPECT_FALSE(scratch::inMemory("/etc/passwd"));

  scratch::remove(result);
  scratch::remove(terms);
  EXPECT_FALSE(scratch::inMemory(result));
  EXPECT_TRUE(onDisk().empty());
}

TEST_F(ScratchFiles, AProcessFindsThemOnDiskAndTheyStayThere) {
  scratch::keepInMemory(true);
  std::string from, to;
  ASSERT_TRUE(scratch::claim("qstring", from));
  ASSERT_TRUE(scratch::claim("query", to));
  ASSERT_TRUE(scratch::write(from, "apple"));

  ChildProgram copy;
  copy.argv = {"/bin/cp", from, to};
  copy.streams = ChildProgram::Streams::kQuiet;
  const ChildOutcome outcome = runChildProgram(copy);
  ASSERT_EQ(outcome.how, ChildOutcome::How::kEnded);
  EXPECT_EQ(outcome.rawStatus, 0);
  EXPECT_FALSE(scratch::inMemory(from));
  EXPECT_FALSE(scratch::inMemory(to));
  EXPECT_EQ(testutil::readFile(to), "apple");
  std::string bytes;
  ASSERT_TRUE(scratch::read(to, bytes, 100));
  EXPECT_EQ(bytes, "apple");

  // An unwritten result reaches the disk marked as such, for the reader
  // to tell from an empty answer.
  std::string unwritten;
  ASSERT_TRUE(scratch::claim("query", unwritten));
  ASSERT_TRUE(scratch::toDisk({"prog", unwritten}));
  struct stat st {};
  ASSERT_EQ(stat(unwritten.c_str(), &st), 0);
  EXPECT_EQ(st.st_size, 0);
  EXPECT_LT(st.st_mtim.tv_sec, st.st_ctim.tv_sec);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  for (const std::string& path : {from, to, unwritten})
    scratch::remove(path);
  EXPECT_TRUE(onDisk().empty());
}

TEST_F(ScratchFiles, ANameTakenOnDiskIsNeverTouched) {
  scratch::keepInMemory(true);
  std::string path;
  ASSERT_TRUE(scratch::claim("query", path));
  testutil::writeFile(path, "theirs");

  ChildProgram overwrite;
  overwrite.argv = {"/bin/cp", "/dev/null", path};
  overwrite.streams = ChildProgram::Streams::kQuiet;
  EXPECT_NE(runChildProgram(overwrite).how, ChildOutcome::How::kEnded);
  EXPECT_TRUE(scratch::inMemory(path));
  scratch::remove(path);
  EXPECT_EQ(testutil::readFile(path), "theirs");
}

TEST_F(ScratchFiles, NotKeptInMemoryTheyAreDiskFilesAsBefore) {
  std::string path;
  ASSERT_TRUE(scratch::claim("query", path));
  EXPECT_FALSE(scratch::inMemory(path));
  ASSERT_TRUE(testutil::fileExists(path));
  EXPECT_TRUE(scratch::attachedTo({"prog", path}).empty());
  ASSERT_TRUE(scratch::write(path, "apple"));
  EXPECT_EQ(testutil::readFile(path), "apple");
  std::string bytes;
  ASSERT_TRUE(scratch::read(path, bytes, 100));
  EXPECT_EQ(bytes, "apple");
  scratch::remove(path);
  EXPECT_FALSE(testutil::fileExists(path));
}

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
  for (const char* text : {"a longer text", "short", ""}) {
    EXPECT_TRUE(overwriteRegularFile(victim_, text));
    EXPECT_EQ(victimContent(), text);
  }
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
