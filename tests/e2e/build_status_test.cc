/// @file build_status_test.cc
/// @brief binind/build_status after each kind of build of an index made by
/// index_builder: create, update and rebuild.

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "tests/e2e/e2e_util.h"

namespace {

using e2e::Installation;
using e2e::RunResult;

std::map<std::string, std::string> reportOf(const std::string& out) {
  std::map<std::string, std::string> fields;
  size_t start = 0;
  for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
    const std::string line = out.substr(start, end - start);
    const size_t colon = line.find(": ");
    if (colon != std::string::npos) fields[line.substr(0, colon)] = line.substr(colon + 2);
  }
  return fields;
}

TEST(BuildStatusCommand, ReportFollowsEveryBuild) {
  Installation inst;
  testutil::TempDir docs;
  testutil::writeFile(docs.sub("one.txt"), "apple one");
  RunResult r = inst.run("binind/index_builder", {"create", "--owner", "ann", docs.path()});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  std::string id = r.out.substr(0, r.out.find('\n'));

  auto status = [&] {
    const RunResult s = inst.run("binind/build_status", {"--id", id});
    EXPECT_EQ(0, s.exitStatus) << s.err;
    return reportOf(s.out);
  };
  std::map<std::string, std::string> report = status();
  EXPECT_EQ("ann", report["Owner"]);
  EXPECT_EQ(id, report["Index"]);
  EXPECT_EQ("doc", report["Type"]);
  EXPECT_EQ("create (0)", report["Mode"]);
  EXPECT_EQ("1", report["Records"]);
  EXPECT_LT(0, std::stod(report["Disk used"]));
  EXPECT_LE(report["Start"], report["End"]);

  testutil::writeFile(docs.sub("two.txt"), "apple two");
  ASSERT_EQ(0, inst.run("binind/index_builder", {"update", "--id", id, docs.path()}).exitStatus);
  report = status();
  EXPECT_EQ("update (1)", report["Mode"]);
  EXPECT_EQ("2", report["Records"]);

  ASSERT_EQ(0, inst.run("binind/index_builder", {"rebuild", "--id", id}).exitStatus);
  report = status();
  EXPECT_EQ("rebuild (0)", report["Mode"]);
  EXPECT_EQ("2", report["Records"]);

  const RunResult unknown = inst.run("binind/build_status", {"--id", "999999"});
  EXPECT_EQ(1, unknown.exitStatus);
  EXPECT_EQ(0, inst.run("binind/build_status", {"--help"}).exitStatus);
}

}  // namespace
