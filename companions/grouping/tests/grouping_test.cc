/// @file grouping_test.cc
/// @brief Groups of a result's hits: counting, order, the side file, and
/// what the program refuses.

#include "companions/grouping/grouping.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "output/query_output.h"
#include "tests/test_util.h"

namespace {

const std::string D = "\x12\x13\x14";

std::string line(const std::string& host, const std::string& owner, const std::string& index) {
  return host + D + owner + D + index + D + "50" + D + "1";
}

TEST(Grouping, CountsMostFirstTiesByValue) {
  const std::vector<std::string> lines = {line("10.0.0.1", "bob", "b1"),
                                          line("10.0.0.1", "ann", "a1"),
                                          line("10.0.0.2", "ann", "a2"),
                                          line("10.0.0.1", "cy", "c1"),
                                          "garbage",
                                          "only" + D + "two"};
  using Groups = std::vector<std::pair<int64_t, std::string>>;
  EXPECT_EQ((Groups{{2, "ann"}, {1, "bob"}, {1, "cy"}}),
            grouping::groupLines(lines, grouping::fieldPosition("owner")));
  EXPECT_EQ((Groups{{3, "10.0.0.1"}, {1, "10.0.0.2"}}),
            grouping::groupLines(lines, grouping::fieldPosition("host")));
  EXPECT_EQ("index\n1\ta1\n", grouping::groupFileText("index", {{1, "a1"}}));
  EXPECT_EQ(-1, grouping::fieldPosition("score"));
  EXPECT_EQ(-1, grouping::fieldPosition(""));
  // Values never break their line.
  EXPECT_EQ((Groups{{1, "a b c"}}), grouping::groupLines({line("h", "a\tb\nc", "i")}, 1));
}

TEST(Grouping, ResultFileToSideFile) {
  testutil::TempDir dir;
  const std::string result = dir.sub("query1");
  CQueryOutput out;
  ASSERT_TRUE(out.WriteOutputFile(result));
  out.SetQueryMatchCount(3);
  out.SetMultiDbCount(0);
  ASSERT_TRUE(out.OutputSetData());
  ASSERT_TRUE(out.OutputQueryInfo("", "", "", "", ""));
  ASSERT_TRUE(out.OutputMultiDbInfo());
  ASSERT_TRUE(out.OutputRecordDataInfo());
  ASSERT_TRUE(out.OutputRecordData(0, line("h", "ann", "a")));
  ASSERT_TRUE(out.OutputRecordData(1, line("h", "bob", "b")));
  ASSERT_TRUE(out.OutputRecordData(2, line("h", "bob", "b")));
  ASSERT_TRUE(out.CloseOutputFile());

  std::string error;
  ASSERT_TRUE(grouping::groupResultFile(result, result + ".group", "owner", error)) << error;
  EXPECT_EQ("owner\n2\tbob\n1\tann\n", testutil::readFile(result + ".group"));
  // Never over a file that is there already, never for an unknown field or
  // a result that cannot be read.
  EXPECT_FALSE(grouping::groupResultFile(result, result + ".group", "owner", error));
  EXPECT_FALSE(grouping::groupResultFile(result, dir.sub("x.group"), "size", error));
  EXPECT_FALSE(grouping::groupResultFile(dir.sub("none"), dir.sub("y.group"), "host", error));
  EXPECT_FALSE(testutil::fileExists(dir.sub("y.group")));
}

}  // namespace
