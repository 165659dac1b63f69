/// @file config_test.cc
/// @brief Setting files read line by line: key=value files (lookup rules, cut
/// lines, rewriting without losing lines) and the column mapping of a
/// database index with its lookup cursors.

#include "system/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "system/column_mapping.h"
#include "tests/test_util.h"

namespace {

TEST(CfgLookup, SampleFile) {
  const std::string sample = std::string(SR_TEST_DATA_DIR) + "/system/sample.cfg";
  const char* cases[][2] = {
      {"SYSTEM_DIRECTORY", "/data/sys"},  // the commented line before it is skipped
      {"DOMAIN_NAME", "first"},           // first match wins
      {"SPACED", ""},                     // blanks belong to the key...
      {"SPACED ", " x"},                  // ...and to the value
      {"EQUALS", "a=b=c"},
      {"LOWER", ""},
      {"TRAILING", "value   "},
      {"#HIDDEN", ""},
  };
  for (const auto& c : cases)
    EXPECT_EQ(getCfgFileTokenValue(sample.c_str(), c[0]), c[1]) << c[0];
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

TEST(CfgRewrite, ReplacesKeyLinesKeepsTheRestAndRefusesWhatWouldNotReadBack) {
  testutil::TempDir dir;
  const std::string path = dir.sub("settings.cfg");
  const std::string longLine = "OTHER=" + std::string(3000, 'z');
  testutil::writeFile(path,
                      "# KEY=1\nKEY=old\nno equals\n" + longLine + "\nKEY=older\nKEY =x\nend");
  chmod(path.c_str(), 0640);
  ASSERT_TRUE(setCfgFileTokenValue(path.c_str(), "KEY", "new"));
  ASSERT_TRUE(setCfgFileTokenValue(path.c_str(), "ADDED", "/opt/root"));
  const std::string expected =
      "# KEY=1\nKEY=new\nno equals\n" + longLine + "\nKEY=new\nKEY =x\nend\nADDED=/opt/root\n";
  EXPECT_EQ(testutil::readFile(path), expected);
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  for (const char* key : {"", "A=B", "#A", "KEY_LONGER_THAN_THIRTY_ONE_CHARS", "A\nB"})
    EXPECT_FALSE(setCfgFileTokenValue(path.c_str(), key, "v")) << key;
  const std::string tooLong(1024, 'v');
  for (const char* value : {"two\nB=injected", "cr\r", tooLong.c_str()})
    EXPECT_FALSE(setCfgFileTokenValue(path.c_str(), "A", value)) << value;
  EXPECT_EQ(testutil::readFile(path), expected);
  using std::filesystem::directory_iterator;
  EXPECT_EQ(std::distance(directory_iterator(dir.path()), directory_iterator()), 1);
  EXPECT_FALSE(setCfgFileTokenValue(dir.sub("missing.cfg").c_str(), "A", "1"));
}

TEST(ColumnMapping, ListNumbersOfTheLinesOfAName) {
  testutil::TempDir dir;
  const std::string path = dir.sub("column_mapping.txt");
  // A line of four commas is skipped; the tail of a cut line is no line.
  testutil::writeFile(path, "a,b,c,col,int,x,7\na,b,c,short,line\nx,x,x,wide,text," +
                                std::string(2000, ' ') + ",b,c,col,int,5\n1,2,3,col,,12\n");
  ColumnMapping map;
  map.openColumnMappingFile(path.c_str());
  EXPECT_EQ(map.findDBColumnListNo(nullptr), -1);
  EXPECT_EQ(map.findDBColumnListNo("col"), 0);
  EXPECT_EQ(map.findDBColumnListNo("col"), 2);
  EXPECT_EQ(map.findDBColumnListNo("col"), -1);
  EXPECT_EQ(map.findDBColumnListNo(nullptr), -1);
  EXPECT_EQ(map.findDBColumnListNo("wide"), 1);
}

}  // namespace
