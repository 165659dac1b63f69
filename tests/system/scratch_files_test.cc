/// @file scratch_files_test.cc
/// @brief Scratch files kept in memory: they read and write as files do,
/// travel with a run, reach the disk only when a process needs them, and a
/// name someone else took on disk is never touched.

#include "system/scratch_files.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "system/child_process.h"
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

}  // namespace
