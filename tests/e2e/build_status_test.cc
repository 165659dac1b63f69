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

TEST(BuildStatusCommand, ReportFollowsEveryBuild) {
  Installation inst;
  testutil::TempDir docs;
  testutil::writeFile(docs.sub("one.txt"), "apple one");
  const std::string id = inst.buildIndex({"create", "--owner", "ann", docs.path()});

  std::map<std::string, std::string> report = inst.buildStatus(id);
  EXPECT_EQ("ann", report["Owner"]);
  EXPECT_EQ(id, report["Index"]);
  EXPECT_EQ("doc", report["Type"]);
  EXPECT_EQ("create (0)", report["Mode"]);
  EXPECT_EQ("1", report["Records"]);
  EXPECT_LT(0, std::stod(report["Disk used"]));
  EXPECT_LE(report["Start"], report["End"]);

  testutil::writeFile(docs.sub("two.txt"), "apple two");
  ASSERT_EQ(0, inst.run("binind/index_builder", {"update", "--id", id, docs.path()}).exitStatus);
  report = inst.buildStatus(id);
  EXPECT_EQ("update (1)", report["Mode"]);
  EXPECT_EQ("2", report["Records"]);

  ASSERT_EQ(0, inst.run("binind/index_builder", {"rebuild", "--id", id}).exitStatus);
  report = inst.buildStatus(id);
  EXPECT_EQ("rebuild (0)", report["Mode"]);
  EXPECT_EQ("2", report["Records"]);

  const RunResult unknown = inst.run("binind/build_status", {"--id", "999999"});
  EXPECT_EQ(1, unknown.exitStatus);
  EXPECT_EQ(0, inst.run("binind/build_status", {"--help"}).exitStatus);
}

}  // namespace
