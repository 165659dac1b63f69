/// @file config_test.cc
/// @brief key=value files: lookup rules, cut lines, and rewriting without
/// losing lines.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "system/config.h"
#include "tests/test_util.h"

namespace {

const std::string kSample = std::string(SR_TEST_DATA_DIR) + "/system/sample.cfg";

TEST(CfgLookup, SampleFile) {
  struct {
    const char* key;
    const char* value;
  } cases[] = {
      {"SYSTEM_DIRECTORY", "/data/sys"},  // the commented line before it is skipped
      {"DOMAIN_NAME", "first"},           // first match wins
      {"SPACED", ""},                     // blanks belong to the key...
      {"SPACED ", " x"},                  // ...and to the value
      {"EQUALS", "a=b=c"},                // split at the first "="
      {"LOWER", ""},                      // keys are case-sensitive
      {"TRAILING", "value   "},
      {"HIDDEN", ""},
      {"#HIDDEN", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(getCfgFileTokenValue(kSample.c_str(), c.key), c.value) << c.key;
  }
  EXPECT_EQ(getCfgFileTokenValue("/nonexistent/x.cfg", "KEY"), "");
}

TEST(CfgLookup, LimitsOfKeysValuesAndLines) {
  testutil::TempDir dir;
  const std::string path = dir.sub("long.cfg");
  const std::string longKey(40, 'K');
  const std::string longValue(1500, 'v');
  testutil::writeFile(path, longKey + "=cut key\nLONG=" + longValue + "\n" +
                                std::string(2046, 'x') + "INJECTED=1\nAFTER=ok");
  const char* p = path.c_str();
  EXPECT_EQ(getCfgFileTokenValue(p, longKey.substr(0, 31).c_str()), "cut key");
  EXPECT_EQ(getCfgFileTokenValue(p, longKey.c_str()), "");
  EXPECT_EQ(getCfgFileTokenValue(p, "LONG"), longValue.substr(0, 1023));
  EXPECT_EQ(getCfgFileTokenValue(p, "LONG", 11), std::string(10, 'v'));
  EXPECT_EQ(getCfgFileTokenValue(p, "INJECTED"), "");  // the tail of a cut line is no line
  EXPECT_EQ(getCfgFileTokenValue(p, "AFTER"), "ok");   // last line without a line feed
}

class CfgRewrite : public ::testing::Test {
 protected:
  void write(const std::string& text) const { testutil::writeFile(path_, text); }
  std::string content() const { return testutil::readFile(path_); }
  long entries() const {
    namespace fs = std::filesystem;
    return std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator());
  }

  testutil::TempDir dir_;
  std::string path_ = dir_.sub("settings.cfg");
};

TEST_F(CfgRewrite, ReplacesEveryLineWithTheKeyAndKeepsTheRest) {
  const std::string longLine = "OTHER=" + std::string(3000, 'z');
  write("# comment=1\nKEY=old\nno equals here\n" + longLine + "\nKEY=older\nKEY =spaced\n");
  chmod(path_.c_str(), 0640);
  ASSERT_TRUE(setCfgFileTokenValue(path_.c_str(), "KEY", "new"));
  EXPECT_EQ(content(),
            "# comment=1\nKEY=new\nno equals here\n" + longLine + "\nKEY=new\nKEY =spaced\n");
  struct stat st;
  ASSERT_EQ(stat(path_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(entries(), 1);
}

TEST_F(CfgRewrite, AppendsAMissingKey) {
  write("A=1\nlast line without line feed");
  ASSERT_TRUE(setCfgFileTokenValue(path_.c_str(), "INSTALL_DIRECTORY", "/opt/root"));
  EXPECT_EQ(content(), "A=1\nlast line without line feed\nINSTALL_DIRECTORY=/opt/root\n");
}

TEST_F(CfgRewrite, RefusesWhatWouldNotReadBack) {
  write("A=1\n");
  const char* refused[][2] = {{"A", "two\nB=injected"},
                              {"A", "cr\r"},
                              {"", "v"},
                              {"A=B", "v"},
                              {"#A", "v"},
                              {nullptr, "v"},
                              {"KEY_LONGER_THAN_THIRTY_ONE_CHARS", "v"}};
  for (const auto& r : refused)
    EXPECT_FALSE(setCfgFileTokenValue(path_.c_str(), r[0], r[1]));
  EXPECT_FALSE(setCfgFileTokenValue(path_.c_str(), "A", std::string(1024, 'v').c_str()));
  EXPECT_EQ(content(), "A=1\n");
  EXPECT_EQ(entries(), 1);  // no temporary file stays behind
  EXPECT_FALSE(setCfgFileTokenValue(dir_.sub("missing.cfg").c_str(), "A", "1"));
  EXPECT_FALSE(testutil::fileExists(dir_.sub("missing.cfg")));
}

}  // namespace
