/// @file service_request_test.cc
/// @brief The engine service's admission of the paths a request names: the
/// installation it serves, its system directory, and where index homes,
/// index files, result files and term files may lie.

#include "companions/engine/service_request.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>
#include <utility>

#include "tests/test_util.h"

namespace {

TEST(EngineServiceRequests, TheSystemDirectoryKeptIsTheOneTheSettingsNameNow) {
  testutil::TempDir root;
  testutil::makeInstallSkeleton(root.path());
  testutil::makeDirs(root.sub("one"));
  testutil::makeDirs(root.sub("two"));
  ASSERT_EQ(symlink(root.sub("one").c_str(), root.sub("current").c_str()), 0);
  const std::string settings = root.sub("setting/system_info.cfg");
  testutil::writeFile(settings, "SYSTEM_DIRECTORY=../current\n");
  vela::SystemDirectoryCache cache;
  std::string dir;
  ASSERT_TRUE(cache.get(root.path(), dir));
  EXPECT_EQ(dir, root.sub("one"));
  ASSERT_TRUE(cache.get(root.path(), dir));
  EXPECT_EQ(dir, root.sub("one"));
  // The link the setting goes through points elsewhere.
  ASSERT_EQ(unlink(root.sub("current").c_str()), 0);
  ASSERT_EQ(symlink(root.sub("two").c_str(), root.sub("current").c_str()), 0);
  ASSERT_TRUE(cache.get(root.path(), dir));
  EXPECT_EQ(dir, root.sub("two"));
  // The settings name another folder, or none that is there.
  testutil::writeFile(settings, "SYSTEM_DIRECTORY=" + root.sub("one") + "\n");
  ASSERT_TRUE(cache.get(root.path(), dir));
  EXPECT_EQ(dir, root.sub("one"));
  ASSERT_EQ(rename(root.sub("one").c_str(), root.sub("gone").c_str()), 0);
  EXPECT_FALSE(cache.get(root.path(), dir));
  testutil::writeFile(settings, "OTHER=1\n");
  EXPECT_FALSE(cache.get(root.path(), dir));
}

TEST(EngineServiceRequests, RequestPathsMustStayInTheirPlaces) {
  // An installation whose system directory holds one index home, "base".
  testutil::TempDir root;
  testutil::makeInstallSkeleton(root.path());
  testutil::writeFile(root.sub("setting/system_info.cfg"),
                      "SYSTEM_DIRECTORY=" + root.sub("system") + "\n");
  testutil::makeDirs(root.sub("system/group/domain/User/alice/index/base"));
  testutil::makeDirs(root.sub("docs/base"));
  vela::ServedInstallation inst;
  std::string error;
  ASSERT_TRUE(vela::findInstallation(root.path(), inst, error)) << error;
  std::string system;
  ASSERT_TRUE(vela::SystemDirectoryCache().get(inst.root, system));
  EXPECT_EQ(system, root.sub("system"));
  const std::string home = root.sub("system/group/domain/User/alice/index/base"),
                    tmp = root.sub("search-cgi/tmp");
  testutil::writeFile(root.sub("victim"), "keep");
  testutil::makeDirs(tmp + "/sub");
  testutil::makeDirs(root.sub("outside"));
  for (const auto& [link, target] : {std::pair{tmp + "/link", root.sub("victim")},
                                     {tmp + "/dirlink", root.sub("outside")},
                                     {root.sub("system/evil"), root.sub("docs/base")},
                                     {root.sub("system/alias"), home}})
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0) << link;

  using vela::PathRole;
  const struct {
    PathRole role;
    std::string path;
    std::string opened;  // "" when refused
    const char* reason;  // a part of the reason when refused
  } cases[] = {
      {PathRole::kIndexHome, home, home, ""},
      {PathRole::kIndexHome, root.sub("system/alias"), home, ""},
      {PathRole::kIndexHome, "../system/group/domain/User/alice/index/base", "", "\"..\""},
      {PathRole::kIndexHome, root.sub("docs/base"), "", "not an index of the system directory"},
      {PathRole::kIndexHome, root.sub("system"), "", "not an index"},
      {PathRole::kIndexHome, root.sub("system/evil"), "", "not an index"},
      {PathRole::kIndexHome, root.sub("system/missing"), "", "not an index"},
      {PathRole::kIndexFile, home + "/digit_1.filter.index", home + "/digit_1.filter.index", ""},
      {PathRole::kIndexFile, root.sub("cut.index"), "", "outside the system directory"},
      {PathRole::kResultFile, tmp + "/query1", tmp + "/query1", ""},
      {PathRole::kResultFile, "tmp/query2", tmp + "/query2", ""},
      {PathRole::kResultFile, tmp + "/sub/q", tmp + "/sub/q", ""},
      {PathRole::kResultFile, tmp + "/link", "", "symbolic link"},
      {PathRole::kResultFile, tmp + "/dirlink/q", "", "outside the scratch directory"},
      {PathRole::kResultFile, tmp + "/../tmp/q", "", "\"..\""},
      {PathRole::kResultFile, root.sub("tmp/query3"), "", "outside the scratch directory"},
      {PathRole::kResultFile, tmp, "", "outside the scratch directory"},
      {PathRole::kResultFile, tmp + "/", "", "names no file"},
      {PathRole::kResultFile, "", "", "empty"},
      {PathRole::kTermFile, root.sub("q"), "", "outside the scratch directory"},
      {PathRole::kTermFile, tmp + "/link", "", "symbolic link"},
  };
  for (const auto& c : cases) {
    std::map<std::string, std::string> resolved;
    std::string reason;
    const bool admitted =
        vela::admitPaths(inst, system, inst.cgiDir, {{c.role, c.path}}, resolved, reason);
    EXPECT_EQ(admitted, !c.opened.empty()) << c.path << ": " << reason;
    if (admitted) {
      EXPECT_EQ(resolved[c.path], c.opened) << c.path;
    } else {
      EXPECT_NE(reason.find(c.reason), std::string::npos) << c.path << ": " << reason;
      EXPECT_TRUE(resolved.empty()) << c.path;
    }
  }
  // One refused path refuses the whole run.
  std::map<std::string, std::string> resolved;
  EXPECT_FALSE(vela::admitPaths(
      inst, system, inst.cgiDir,
      {{PathRole::kIndexHome, home}, {PathRole::kTermFile, "/etc/passwd"}}, resolved, error));
  EXPECT_TRUE(resolved.empty());
  // Paths of one run that share a folder are each admitted for their own use.
  EXPECT_TRUE(vela::admitPaths(inst, system, inst.cgiDir,
                               {{PathRole::kResultFile, tmp + "/q1"},
                                {PathRole::kTermFile, tmp + "/q2"},
                                {PathRole::kTermFile, "tmp/q3"}},
                               resolved, error));
  EXPECT_EQ(resolved,
            (std::map<std::string, std::string>{
                {tmp + "/q1", tmp + "/q1"}, {tmp + "/q2", tmp + "/q2"}, {"tmp/q3", tmp + "/q3"}}));
  EXPECT_FALSE(
      vela::admitPaths(inst, system, inst.cgiDir,
                       {{PathRole::kResultFile, tmp + "/q1"}, {PathRole::kIndexFile, tmp + "/q2"}},
                       resolved, error));
  EXPECT_NE(error.find("outside the system directory"), std::string::npos) << error;
  // A file the request carries is not opened on disk: a link planted under
  // its name is no reason to refuse it; its folder still decides.
  vela::CarriedFiles carried;
  carried.given = {{tmp + "/link", "terms"}, {root.sub("tmp/query3"), "terms"}};
  resolved.clear();
  EXPECT_TRUE(vela::admitPaths(inst, system, inst.cgiDir, {{PathRole::kTermFile, tmp + "/link"}},
                               resolved, error, &carried))
      << error;
  EXPECT_EQ(resolved[tmp + "/link"], tmp + "/link");
  EXPECT_FALSE(vela::admitPaths(inst, system, inst.cgiDir,
                                {{PathRole::kResultFile, root.sub("tmp/query3")}}, resolved, error,
                                &carried));
  EXPECT_FALSE(vela::findInstallation(root.sub("search-cgi"), inst, error));
}

// Directories kept from earlier runs are admitted as they are now: one
// moved away with a link left in its place, a link turned elsewhere or a
// folder of results turned into a link is refused as if never seen.
TEST(EngineServiceRequests, KeptDirectoriesAreAdmittedAsTheyAreNow) {
  testutil::TempDir root;
  testutil::makeInstallSkeleton(root.path());
  testutil::writeFile(root.sub("setting/system_info.cfg"),
                      "SYSTEM_DIRECTORY=" + root.sub("system") + "\n");
  const std::string home = root.sub("system/group/domain/User/alice/index/base"),
                    tmp = root.sub("search-cgi/tmp");
  testutil::makeDirs(home);
  testutil::makeDirs(tmp + "/sub");
  testutil::makeDirs(root.sub("outside"));
  ASSERT_EQ(symlink(home.c_str(), root.sub("system/alias").c_str()), 0);
  vela::ServedInstallation inst;
  std::string error, system;
  ASSERT_TRUE(vela::findInstallation(root.path(), inst, error)) << error;
  ASSERT_TRUE(vela::SystemDirectoryCache().get(inst.root, system));
  vela::ResolvedDirectories kept;
  using vela::PathRole;
  const auto admit = [&](PathRole role, const std::string& path, std::string& opened) {
    std::map<std::string, std::string> resolved;
    const bool ok = vela::admitPaths(inst, system, inst.cgiDir, {{role, path}}, resolved, error,
                                     nullptr, &kept);
    opened = resolved[path];
    return ok;
  };
  std::string opened;
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(admit(PathRole::kIndexHome, home, opened)) << error;
    EXPECT_EQ(opened, home);
    ASSERT_TRUE(admit(PathRole::kIndexHome, root.sub("system/alias"), opened)) << error;
    EXPECT_EQ(opened, home);
    ASSERT_TRUE(admit(PathRole::kResultFile, "tmp/sub/q", opened)) << error;
    EXPECT_EQ(opened, tmp + "/sub/q");
  }
  ASSERT_EQ(unlink(root.sub("system/alias").c_str()), 0);
  ASSERT_EQ(symlink(root.sub("outside").c_str(), root.sub("system/alias").c_str()), 0);
  EXPECT_FALSE(admit(PathRole::kIndexHome, root.sub("system/alias"), opened));
  ASSERT_EQ(rename(home.c_str(), root.sub("outside/base").c_str()), 0);
  ASSERT_EQ(symlink(root.sub("outside/base").c_str(), home.c_str()), 0);
  EXPECT_FALSE(admit(PathRole::kIndexHome, home, opened));
  ASSERT_EQ(rename((tmp + "/sub").c_str(), root.sub("outside/sub").c_str()), 0);
  ASSERT_EQ(symlink(root.sub("outside/sub").c_str(), (tmp + "/sub").c_str()), 0);
  EXPECT_FALSE(admit(PathRole::kResultFile, "tmp/sub/q", opened));
  EXPECT_NE(error.find("outside the scratch directory"), std::string::npos) << error;
}

}  // namespace
