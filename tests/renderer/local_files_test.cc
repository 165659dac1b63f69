/// @file local_files_test.cc
/// @brief Link-proof reads, the ownership rule for result files and the
/// installation settings as the renderer reads them.

#include "companions/records/local_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "system/layout.h"
#include "tests/test_util.h"

namespace render {
namespace {

TEST(Lines, CutToTheirLimitsAndTheLastCountsWithoutALineFeed) {
  EXPECT_EQ(splitLines("a\nbcdef\n\nlast", 10, 3),
            (std::vector<std::string>{"a", "bcd", "", "las"}));
  EXPECT_EQ(splitLines("a\nb\nc\n", 2, 10), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(splitLines("", 5, 5).empty());
}

TEST(Files, NothingButARegularFileIsRead) {
  testutil::TempDir dir;
  testutil::writeFile(dir.sub("plain"), "first\r\nsecond\n");
  testutil::writeFile(dir.sub("empty"), "");
  ASSERT_EQ(symlink(dir.sub("plain").c_str(), dir.sub("link").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.sub("pipe").c_str(), 0600), 0);  // opening it must not wait
  std::string line;
  ASSERT_TRUE(readFirstLineOf(dir.sub("plain"), 100, line));
  EXPECT_EQ(line, "first");
  ASSERT_TRUE(readFirstLineOf(dir.sub("plain"), 3, line));
  EXPECT_EQ(line, "fir");
  for (const char* refused : {"link", "pipe", "missing", "empty", ""})
    EXPECT_FALSE(readFirstLineOf(dir.sub(refused), 100, line)) << refused;
  std::string bytes;
  ASSERT_TRUE(readFilePrefix(dir.sub("plain"), 4, bytes));
  EXPECT_EQ(bytes, "firs");
}

TEST(Files, AHeadIsReadOnlyAsFarAsAsked) {
  testutil::TempDir dir;
  std::string bytes;
  for (int i = 0; bytes.size() < 100000; ++i)
    bytes += std::to_string(i) + ",";
  testutil::writeFile(dir.sub("doc"), bytes);
  const UniqueFd fd = openRegularFile(dir.sub("doc"));
  ASSERT_TRUE(fd);
  FileHead head(fd.get());
  std::string_view got;
  // Bytes asked for, bytes given, where the file stands afterwards.
  const std::tuple<size_t, size_t, off_t> steps[] = {{10, 10, 10},
                                                     {4, 4, 10},
                                                     {4096, 4096, 4096},
                                                     {1 << 20, bytes.size(), bytes.size()},
                                                     {50, 50, bytes.size()}};
  for (const auto& [asked, given, offset] : steps) {
    ASSERT_TRUE(head.read(asked, got)) << asked;
    EXPECT_EQ(got, std::string_view(bytes).substr(0, given)) << asked;
    EXPECT_EQ(lseek(fd.get(), 0, SEEK_CUR), offset) << asked;
  }
  const UniqueFd directory(open(dir.path().c_str(), O_RDONLY | O_DIRECTORY));
  FileHead unreadable(directory.get());
  EXPECT_FALSE(unreadable.read(10, got));
}

TEST(Files, AResultFileMustBeOursAndUnchangeableByOthers) {
  testutil::TempDir dir;
  // Mode, whether the file is believed.
  const std::pair<mode_t, bool> cases[] = {{0600, true},  {0644, true},  {0400, true},
                                           {0620, false}, {0602, false}, {0666, false}};
  for (const auto& [mode, believed] : cases) {
    testutil::writeFile(dir.sub("f"), "x");
    ASSERT_EQ(chmod(dir.sub("f").c_str(), mode), 0);
    bool missing = true;
    EXPECT_EQ(static_cast<bool>(openOwnFile(dir.sub("f"), missing)), believed) << std::oct << mode;
    EXPECT_FALSE(missing);
  }
  ASSERT_EQ(chmod(dir.sub("f").c_str(), 0600), 0);
  ASSERT_EQ(symlink(dir.sub("f").c_str(), dir.sub("link").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.sub("pipe").c_str(), 0600), 0);
  for (const char* refused : {"link", "pipe", "."}) {
    bool missing = true;
    EXPECT_FALSE(openOwnFile(dir.sub(refused), missing)) << refused;
    EXPECT_FALSE(missing) << refused;
  }
  bool missing = false;
  EXPECT_FALSE(openOwnFile(dir.sub("none"), missing));
  EXPECT_TRUE(missing);
  if (geteuid() == 0) {  // only root can give a file away
    ASSERT_EQ(chown(dir.sub("f").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(openOwnFile(dir.sub("f"), missing));
  }
}

class InstallationTest : public ::testing::Test {
 protected:
  InstallationTest() : cwd_(testutil::makeInstallSkeleton(root_.path())) {}
  void write(const std::string& rel, const std::string& bytes) const {
    testutil::writeFile(root_.sub(rel), bytes);
  }
  testutil::TempDir root_;
  testutil::ScopedCwd cwd_;
};

TEST_F(InstallationTest, SettingsAreReadAsTheSystemReadsThem) {
  Installation none = Installation::read();
  EXPECT_EQ(none.language, kLangUnknown);
  EXPECT_EQ(none.loginTimeoutSeconds, 3600u);
  EXPECT_EQ(none.indexHome("alice", "news"), "");  // no system directory
  EXPECT_TRUE(none.isLocalHost("10.1.1.1"));       // a host that knows no address of its own
  write("lang.cfg", "JP\r\n");
  write("host_address", "10.0.0.1\n");
  write("setting/system_info.cfg",
        "#SYSTEM_DIRECTORY=/commented\nSYSTEM_DIRECTORY =/wrong key\nSYSTEM_DIRECTORY=/sys\n"
        "SYSTEM_DIRECTORY=/second\nDOMAIN_NAME=dom\n");
  write("setting/user_config.cfg", "LOGIN_TIMEOUT=99999999\n");
  const Installation inst = Installation::read();
  EXPECT_EQ(inst.language, kLangJP);
  EXPECT_EQ(inst.loginTimeoutSeconds, 2592000u);
  EXPECT_EQ(inst.indexHome("alice", "news"), "/sys/group/dom/User/alice/index/news");
  EXPECT_EQ(inst.incIndexHome("/grp/a", "news"), "/sys/group/grp/a/index/news_inc");
  EXPECT_TRUE(inst.isLocalHost("10.0.0.1"));
  EXPECT_TRUE(inst.isLocalHost("127.0.0.1"));
  EXPECT_FALSE(inst.isLocalHost("10.0.0.2"));
  // What the library reads gives the same answers.
  systemResetCaches();
  EXPECT_EQ(inst.language, systemGetLanguage());
  EXPECT_EQ(inst.indexHome("alice", "news"), systemGetIndexHome("alice", "news"));
  EXPECT_EQ(static_cast<int>(inst.loginTimeoutSeconds), systemGetUserLoginTimeOut());
  systemResetCaches();
}

TEST_F(InstallationTest, ASettingsFileReplacedByALinkIsNotRead) {
  write("elsewhere/system_info.cfg", "SYSTEM_DIRECTORY=/planted\n");
  write("elsewhere/lang.cfg", "GB\n");
  ASSERT_EQ(symlink(root_.sub("elsewhere/system_info.cfg").c_str(),
                    root_.sub("setting/system_info.cfg").c_str()),
            0);
  ASSERT_EQ(symlink(root_.sub("elsewhere/lang.cfg").c_str(), root_.sub("lang.cfg").c_str()), 0);
  const Installation inst = Installation::read();
  EXPECT_EQ(inst.systemHome, "");
  EXPECT_EQ(inst.language, kLangUnknown);
}

}  // namespace
}  // namespace render
