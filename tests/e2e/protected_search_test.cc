/// @file protected_search_test.cc
/// @brief Property searches and protected indexes end to end: indexes built
/// by index_builder (with an access file), users signed in with permits,
/// and the hits each of them gets from the installed searchrun.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "policy/access_filters.h"
#include "system/layout.h"
#include "tests/e2e/e2e_util.h"
#include "tests/e2e/engine_util.h"

namespace {

using e2e::Installation;
using e2e::RunResult;
using Names = std::vector<std::string>;

const char kAccess[] =
    "# the demo company\n"
    "@staff\talice, bob\n"
    "pub/*\t*\n"
    "hr/*\tcarol\n"
    "eng/*\t@staff\n";

class ProtectedSearchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new Installation();
    inst_->write("docs/pub/welcome.html",
                 "<html><head><title>Welcome</title></head><body>apple design review</body>");
    inst_->write("docs/hr/salaries.txt", "Salaries\napple budget for all staff\n");
    inst_->write("docs/eng/design.html",
                 "<html><head><title>Design notes</title><meta name=\"author\" "
                 "content=\"Alice Smith\"></head><body>apple engine</body></html>");
    inst_->write("access.txt", kAccess);
    open_ = build({});
    guarded_ = build({"--access", inst_->path("access.txt")});
    for (const char* user : {"alice", "carol"})
      keys_.push_back(inst_->permit(user));
  }
  static void TearDownTestSuite() { delete inst_; }

  // Builds an index of alice's of the folder "docs" (or `folder`); its id.
  static std::string build(std::vector<std::string> extra, const std::string& folder = "docs") {
    std::vector<std::string> args{"create", "--owner", "alice", "--desc", "Company"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(inst_->path(folder));
    return inst_->buildIndex(args);
  }
  static RunResult builder(const std::vector<std::string>& args) {
    return inst_->run("binind/index_builder", args);
  }
  static std::string home(const std::string& id) {
    return inst_->path("system/group/domain/User/alice/index/" + id);
  }

  // The files of the hits `user` gets for `query` in index `id`, sorted;
  // `extra` adds request variables.
  Names hits(const std::string& user, const std::string& id, const std::string& query,
             const std::string& extra = "") const {
    return hitsIn(user, "7F000001_" + id, query, extra);
  }
  // The same for the index of uid `uid`.
  Names hitsIn(const std::string& user, const std::string& uid, const std::string& query,
               const std::string& extra = "") const {
    std::string request =
        "user=" + user + "&query=" + query + "&format=json&index_id=" + uid + extra;
    if (user == "alice") request += "&ks_key=" + keys_[0];
    if (user == "carol") request += "&ks_key=" + keys_[1];
    const RunResult r = inst_->get(request);
    EXPECT_EQ(0, r.exitStatus) << r.out << r.err;
    EXPECT_EQ(std::string::npos, r.out.find("\"error\"")) << r.out;
    Names files;
    const std::string key = "\"file\":\"";
    for (size_t at = r.out.find(key); at != std::string::npos; at = r.out.find(key, at + 1)) {
      const size_t start = at + key.size();
      files.push_back(r.out.substr(start, r.out.find('"', start) - start));
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  static inline Installation* inst_ = nullptr;
  static inline std::string open_, guarded_;
  static inline Names keys_;
};

TEST_F(ProtectedSearchTest, PropertySearchLooksInOnePropertyOfTheOrgAndIncIndexes) {
  // "design" is in one title and in another document's text.
  EXPECT_EQ((Names{"design.html", "welcome.html"}), hits("TESSERA", open_, "design"));
  EXPECT_EQ((Names{"design.html"}), hits("TESSERA", open_, "design", "&filenamesearch=title"));
  EXPECT_EQ((Names{"design.html"}), hits("TESSERA", open_, "smith", "&filenamesearch=author"));
  EXPECT_EQ((Names{"salaries.txt"}), hits("TESSERA", open_, "salaries", "&filenamesearch=title"));
  EXPECT_EQ((Names{}), hits("TESSERA", open_, "smith", "&filenamesearch=title"));

  inst_->write("incdocs/a.html", "<title>First</title>apple");
  const std::string id = build({}, "incdocs");
  inst_->write("incdocs/b.html", "<title>Second draft</title>apple");
  inst_->write("incdocs/a.html", "<title>First draft</title>apple");
  const RunResult r = builder({"update", "--id", id, inst_->path("incdocs")});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  // The changed document is found once, in its new version only.
  EXPECT_EQ((Names{"a.html", "b.html"}), hits("TESSERA", id, "draft", "&filenamesearch=title"));
  EXPECT_EQ((Names{"a.html"}), hits("TESSERA", id, "first", "&filenamesearch=title"));
  EXPECT_EQ((Names{}), hits("TESSERA", id, "apple", "&filenamesearch=title"));
}

TEST_F(ProtectedSearchTest, EachUserSeesWhatTheAccessFileAllows) {
  EXPECT_EQ((Names{"design.html", "salaries.txt", "welcome.html"}),
            hits("TESSERA", open_, "apple"));
  EXPECT_EQ((Names{"design.html", "welcome.html"}), hits("alice", guarded_, "apple"));
  EXPECT_EQ((Names{"salaries.txt", "welcome.html"}), hits("carol", guarded_, "apple"));
  // Searching without signing in shows what everyone may read.
  EXPECT_EQ((Names{"welcome.html"}), hits("TESSERA", guarded_, "apple"));
  // A property search passes the same filter.
  EXPECT_EQ((Names{}), hits("carol", guarded_, "design", "&filenamesearch=title"));
  EXPECT_EQ((Names{"design.html"}), hits("alice", guarded_, "design", "&filenamesearch=title"));
  // The run log tells why.
  const std::string log = inst_->read("logs/searchrun_time.log");
  EXPECT_NE(std::string::npos, log.find("NTFS:filter rid:")) << log;
}

TEST_F(ProtectedSearchTest, UpdatesAndRebuildsKeepTheProtection) {
  inst_->write("docs2/pub/welcome.html", "<title>Welcome</title>apple");
  inst_->write("docs2/hr/salaries.txt", "Salaries\napple\n");
  const std::string id = build({"--access", inst_->path("access.txt")}, "docs2");
  inst_->write("docs2/hr/bonus.txt", "Bonus\napple\n");
  ASSERT_EQ(0, builder({"update", "--id", id, inst_->path("docs2")}).exitStatus);
  EXPECT_EQ((Names{"bonus.txt", "salaries.txt", "welcome.html"}), hits("carol", id, "apple"));
  EXPECT_EQ((Names{"welcome.html"}), hits("alice", id, "apple"));
  ASSERT_EQ(0, builder({"rebuild", "--id", id}).exitStatus);
  EXPECT_EQ((Names{"bonus.txt", "salaries.txt", "welcome.html"}), hits("carol", id, "apple"));
  EXPECT_EQ((Names{"welcome.html"}), hits("alice", id, "apple"));
  EXPECT_EQ((Names{"bonus.txt"}), hits("carol", id, "bonus", "&filenamesearch=title"));

  // A new access file replaces the old one for the documents already there.
  inst_->write("access2.txt", "hr/*\talice\n*\t*\n");
  ASSERT_EQ(0, builder({"update", "--id", id, "--access", inst_->path("access2.txt"),
                        inst_->path("docs2")})
                   .exitStatus);
  EXPECT_EQ((Names{"bonus.txt", "salaries.txt", "welcome.html"}), hits("alice", id, "apple"));
  EXPECT_EQ((Names{"welcome.html"}), hits("carol", id, "apple"));
}

TEST_F(ProtectedSearchTest, BadAccessFilesStopTheBuildAndUnreadableRightsShowNothing) {
  inst_->write("broken.txt", "pub/*\t*\nhr/*\t@nobody\n");
  inst_->write("docs/pub/extra.html", "<title>Extra</title>apple");
  const RunResult r = builder(
      {"update", "--id", guarded_, "--access", inst_->path("broken.txt"), inst_->path("docs")});
  std::filesystem::remove(inst_->path("docs/pub/extra.html"));
  EXPECT_EQ(1, r.exitStatus);
  EXPECT_NE(std::string::npos, r.err.find("line 2: group @nobody is not defined")) << r.err;
  EXPECT_EQ((Names{"design.html", "welcome.html"}), hits("alice", guarded_, "apple"));
  EXPECT_EQ((Names{"salaries.txt", "welcome.html"}), hits("carol", guarded_, "apple"));

  const RunResult created = builder(
      {"create", "--owner", "alice", "--access", inst_->path("broken.txt"), inst_->path("docs")});
  EXPECT_EQ(1, created.exitStatus);
  EXPECT_TRUE(created.out.empty()) << created.out;

  // Rights that cannot be read show nothing.
  const std::string id = build({"--access", inst_->path("access.txt")});
  ASSERT_EQ((Names{"design.html", "welcome.html"}), hits("alice", id, "apple"));
  // A damaged user table: no hits at all, not all hits.
  const std::string table = home(id) + "_acl/acl_users";
  const std::string saved = testutil::readFile(table);
  std::filesystem::remove(table);
  EXPECT_EQ((Names{}), hits("alice", id, "apple"));
  EXPECT_EQ((Names{}), hits("TESSERA", id, "apple"));
  EXPECT_NE(std::string::npos,
            inst_->read("logs/searchrun_time.log").find("NTFS:user table unreadable"));
  // A companion of another build of the index.
  testutil::writeFile(table, saved);
  ASSERT_EQ((Names{"design.html", "welcome.html"}), hits("alice", id, "apple"));
  testutil::writeFile(home(id) + "_acl/acl_stamp", "other");
  EXPECT_EQ((Names{}), hits("alice", id, "apple"));
  // A protection switch that cannot be read still protects.
  std::filesystem::remove_all(home(id) + "_acl");
  std::filesystem::remove(home(id) + "/acl_builder_option.cfg");
  std::filesystem::create_directory(home(id) + "/acl_builder_option.cfg");
  EXPECT_EQ((Names{}), hits("TESSERA", id, "apple"));
}

TEST_F(ProtectedSearchTest, FileAclKnowsUsersOfTheDirectoryDomainOnly) {
  const std::string id = build({"--access", inst_->path("access.txt"), "--access-kind", "file"});
  // Without directory login nobody has a domain identity.
  EXPECT_EQ((Names{"welcome.html"}), hits("alice", id, "apple"));
  inst_->write("setting/ldap.sch", "enable\n");
  inst_->write("setting/ADDomain.cfg", "CORP\n");
  EXPECT_EQ((Names{"design.html", "welcome.html"}), hits("alice", id, "apple"));
  EXPECT_EQ((Names{"salaries.txt", "welcome.html"}), hits("carol", id, "apple", "&domain=corp"));
  // A domain that is not the one users sign in with here vouches for nobody.
  EXPECT_EQ((Names{"welcome.html"}), hits("carol", id, "apple", "&domain=ELSEWHERE"));
  std::filesystem::remove(inst_->path("setting/ldap.sch"));
}

// The agent of another host knows nobody: a protected index it searches
// shows nothing of what only some may read, nor describes such records.
TEST_F(ProtectedSearchTest, AnAgentShowsOtherHostsNoProtectedHit) {
  const uint16_t free = testutil::freePort("127.0.0.4");
  ASSERT_NE(0, free);
  const std::string port = std::to_string(free);
  const pid_t agent = enginetest::startProgram(
      inst_->path("binind/search_agent"),
      {"--root", inst_->root(), "--address", "127.0.0.4", "--port", port}, inst_->cgiDir());
  testutil::waitForListener("127.0.0.4", free);
  // This host is another than the agent's, and lists it.
  inst_->write("host_address", "127.0.0.5\n");
  inst_->setKey("setting/search_option.cfg", "AGENT_HOSTS", "127.0.0.4:" + port);
  const Names open = hitsIn("alice", "7F000004_" + open_ + "$" + port, "apple");
  const Names guarded = hitsIn("alice", "7F000004_" + guarded_ + "$" + port, "apple");
  inst_->write("host_address", "127.0.0.1\n");
  kill(agent, SIGTERM);
  EXPECT_EQ(0, enginetest::waitWithin(agent, 30));
  EXPECT_EQ((Names{"design.html", "salaries.txt", "welcome.html"}), open);
  EXPECT_EQ((Names{}), guarded);

  // The records it describes by number (details, related terms) pass the
  // same filter.
  const std::string cwd = std::filesystem::current_path();
  ASSERT_EQ(0, chdir(inst_->cgiDir().c_str()));
  systemResetCaches();
  const std::vector<uint32_t> all{1, 2, 3};
  AccessIdentity carol;
  carol.user = "carol";
  const std::vector<uint32_t> forNobody = visibleRecords("alice", guarded_, all, {});
  const std::vector<uint32_t> forCarol = visibleRecords("alice", guarded_, all, carol);
  const std::vector<uint32_t> ofOpen = visibleRecords("alice", open_, all, {});
  ASSERT_EQ(0, chdir(cwd.c_str()));
  EXPECT_TRUE(forNobody.empty());
  EXPECT_EQ(2u, forCarol.size());
  EXPECT_EQ(all, ofOpen);
}

}  // namespace
