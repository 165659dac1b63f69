/// @file ntfs_filter_test.cc
/// @brief The ACL result filter: its id set, the companion searches for a user
/// (with an engine that answers from a script), and the filtering of hits, in a
/// scratch installation; and the access file of a protected index, and how its
/// rights become the words and user tables of the ACL companions.

#include "access/ntfs_filter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "access/access_rules.h"
#include "access/acl_rights.h"
#include "system/layout.h"
#include "tests/test_util.h"

namespace {

// Result sets as the filter sees them.
struct Record {
  int32_t m_recid, m_score, m_output_flag;
};
struct Hits {
  int32_t m_match_count = 0, m_output_count = 0;
  Record* m_rec = nullptr;
};

// An engine whose companion searches find the ids listed for their search
// text; its result files are the ids in decimal ("bad" for a broken file).
class ScriptedEngine final : public AclEngine {
 public:
  int runCommand(const std::string& command) override {
    commands.push_back(command);
    const size_t o = command.find("-o \"") + 4;
    const std::string out = command.substr(o, command.find('"', o) - o);
    const size_t ns = command.find("-ns \"") + 5;
    const std::string text = command.substr(ns, command.find('"', ns) - ns);
    const auto it = found.find(text);
    if (it != found.end()) testutil::writeFile(out, it->second);
    return exitCode;
  }
  int readHits(const std::string& bytes, int& count, std::vector<uint32_t>& ids) override {
    if (bytes == "bad") return kAclReadFormat;
    std::istringstream in(bytes);
    ids.clear();
    for (uint32_t id; in >> id;)
      ids.push_back(id);
    count = static_cast<int>(ids.size());
    return kAclReadOk;
  }
  std::map<std::string, std::string> found;
  std::vector<std::string> commands;
  int exitCode = 0;
};

class NtfsFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cgi_ = testutil::makeInstallSkeleton(root_.path());
    testutil::writeFile(root_.sub("setting/system_info.cfg"),
                        "SYSTEM_DIRECTORY=" + root_.sub("system") + "\n");
    cwd_ = std::make_unique<testutil::ScopedCwd>(cgi_);
    systemResetCaches();
    log_ = open_memstream(&logText_, &logSize_);
    filter_.setLogStream(log_);
  }
  void TearDown() override {
    std::fclose(log_);
    free(logText_);
    systemResetCaches();
  }

  std::string home(const std::string& name) const {
    return systemGetIndexHome("alice", name.c_str());
  }
  // The index "idx" (or its inc part) with a companion of `kind` holding
  // `table`, the two stamped alike unless told otherwise.
  void companion(AclKind kind, const std::string& table, bool inc = false,
                 const std::string& companionStamp = "s1") {
    const std::string index = inc ? "idx_inc" : "idx";
    testutil::writeFile(home(index) + "/acl_stamp", "s1");
    const std::string acl = home(index + aclCompanionSuffix(kind));
    testutil::writeFile(acl + "/acl_stamp", companionStamp);
    testutil::writeFile(acl + "/acl_users", table);
  }
  std::string log() {
    std::fflush(log_);
    return std::string(logText_, logSize_);
  }
  // Filters hits of the given ids (a negative id: already deselected).
  std::vector<int32_t> kept(const std::vector<int32_t>& ids) {
    std::vector<Record> records;
    for (int32_t id : ids)
      records.push_back({id < 0 ? -id : id, 1, id < 0 ? 0 : 1});
    Hits hits{static_cast<int32_t>(ids.size()), 0, records.data()};
    for (int32_t id : ids)
      hits.m_output_count += id < 0 ? 0 : 1;
    filter_.filterGRLRecordList(hits);
    std::vector<int32_t> out;
    for (const Record& r : records)
      if (r.m_output_flag) out.push_back(r.m_recid);
    EXPECT_EQ(static_cast<int32_t>(out.size()), hits.m_output_count);
    return out;
  }

  testutil::TempDir root_;
  std::string cgi_;
  std::unique_ptr<testutil::ScopedCwd> cwd_;
  char* logText_ = nullptr;
  size_t logSize_ = 0;
  FILE* log_ = nullptr;
  ScriptedEngine engine_;
  NTFSSearchResult filter_{&engine_};
};

TEST_F(NtfsFilterTest, IdsFillEightBlocksAndTheOverflowText) {
  for (uint32_t id : {0u, 81919u, 81920u, 655359u, 655360u})
    filter_.setSearchResult(id);
  for (uint32_t b = 0; b < kAclBlockCount; ++b)
    EXPECT_EQ(b == 0 || b == 1 || b == 7, filter_.hasBlock(b)) << b;
  EXPECT_EQ("_655360_", filter_.overflowIds());
  for (int64_t id : {0, 81919, 81920, 655359, 655360})
    EXPECT_TRUE(filter_.isInSearchResult(id)) << id;
  for (int64_t id : {-1, 1, 81918, 163840, 655361, 65536, 6553600})
    EXPECT_FALSE(filter_.isInSearchResult(id)) << id;
  filter_.clearSearchResult();
  EXPECT_FALSE(filter_.isInSearchResult(81920));
  EXPECT_TRUE(filter_.hasBlock(1));
  EXPECT_TRUE(filter_.isInSearchResult(655360));  // the overflow stays
  filter_.freeSearchResult();
  EXPECT_FALSE(filter_.hasBlock(0));
}

TEST_F(NtfsFilterTest, FileAclSearchesWithTheUsersCode) {
  companion(AclKind::kFile, "alice\t5\nroot\t9\n");
  engine_.found["05 | 000"] = "2 3";
  engine_.found["000"] = "3";
  ASSERT_TRUE(filter_.initFileACL("alice", "idx", false, "CORP", "alice", "corp"));
  EXPECT_EQ((std::vector<int32_t>{2, 3}), kept({1, 2, 3, 4}));
  const std::string path = home("idx_ntfs");
  const std::string& command = engine_.commands.back();
  EXPECT_EQ(0u, command.find("../binind/vela25_0.exe -H \"" + path + "\" -binout -o \"" +
                             std::filesystem::current_path().string() + "/tmp/ntfs_query"))
      << command;
  const std::string tail = "\" -B0 -bm \"-s -i -F60\" -ns \"05 | 000\" ";
  EXPECT_EQ(tail, command.substr(command.size() - tail.size()));
  const std::string text = log();
  for (const char* line :
       {"NTFS:domain : CORP\n", "NTFS:user : alice\n", "NTFS:Search User Code : 05 | 000\n",
        "NTFS:Vela's return code : 0\n", "NTFS:search result count =2\n",
        "NTFS:outputSearchResult: 2, 3, \n", "NTFS:filter rid:1 [FALSE]\n",
        "NTFS:filter rid:2 [TURE]\n", "NTFS:left result count =2 (is_init=1)\n"})
    EXPECT_NE(std::string::npos, text.find(line)) << line << "\n" << text;
  EXPECT_NE(std::string::npos, text.find("NTFS:NTFS Path : " + path + "\n"));

  // root, a missing user or domain, and users of another domain than the
  // local one search with the code of everyone; the result file is gone.
  const struct {
    const char* domain;
    const char* user;
  } anyone[] = {{"corp", "root"}, {"corp", nullptr}, {nullptr, "alice"}, {"EVIL", "alice"}};
  for (const auto& who : anyone) {
    ASSERT_TRUE(filter_.initFileACL("alice", "idx", false, who.domain, who.user, "corp"));
    EXPECT_NE(std::string::npos, engine_.commands.back().find("-ns \"000\" "));
    EXPECT_EQ((std::vector<int32_t>{3}), kept({2, 3}));
  }
  EXPECT_TRUE(std::filesystem::is_empty(cgi_ + "/tmp"));
}

TEST_F(NtfsFilterTest, RightsThatCannotBeReadRemoveEveryHit) {
  companion(AclKind::kFile, "alice\t5\n");
  // The user may see nothing: no hit, and the left count says why.
  ASSERT_FALSE(filter_.initFileACL("alice", "idx", false, "corp", "alice", "corp"));
  EXPECT_TRUE(kept({1, 2}).empty());
  EXPECT_NE(std::string::npos, log().find("NTFS:left result count =0 (is_init=0)\n"));

  engine_.found["05 | 000"] = "bad";
  EXPECT_FALSE(filter_.initFileACL("alice", "idx", false, "corp", "alice", "corp"));
  EXPECT_NE(std::string::npos, log().find("NTFS:binout file format error\n"));

  // A failed engine run proves nothing, whatever it left behind.
  engine_.found["05 | 000"] = "1 2";
  engine_.exitCode = 3;
  EXPECT_FALSE(filter_.initFileACL("alice", "idx", false, "corp", "alice", "corp"));
  EXPECT_TRUE(kept({1}).empty());
  engine_.exitCode = 0;

  // A companion of another build of the index is not searched at all.
  const size_t runs = engine_.commands.size();
  companion(AclKind::kFile, "alice\t5\n", false, "s2");
  EXPECT_FALSE(filter_.initFileACL("alice", "idx", false, "corp", "alice", "corp"));
  // Nor one whose user table is damaged.
  companion(AclKind::kFile, "alice\tfive\n");
  EXPECT_FALSE(filter_.initFileACL("alice", "idx", false, "corp", "alice", "corp"));
  EXPECT_FALSE(filter_.initFileACL("alice", "nope", false, "corp", "alice", "corp"));
  EXPECT_EQ(runs, engine_.commands.size());
  EXPECT_TRUE(kept({1, 2}).empty());
}

TEST_F(NtfsFilterTest, DeselectedHitsAreNeitherTestedNorLogged) {
  companion(AclKind::kFile, "alice\t5\n");
  engine_.found["000"] = "7 8";
  ASSERT_TRUE(filter_.initFileACL("alice", "idx", false, nullptr, nullptr, "corp"));
  EXPECT_EQ((std::vector<int32_t>{8}), kept({-7, 8, 9}));
  const std::string text = log();
  EXPECT_EQ(std::string::npos, text.find("rid:7 ")) << text;
  EXPECT_NE(std::string::npos, text.find("NTFS:filter rid:9 [FALSE]\n"));
}

TEST_F(NtfsFilterTest, AclBuilderSearchesWithTheUsersAndGroupsCodes) {
  companion(AclKind::kBuilder, "alice\t1 4\nbob\t2 4\n", true);
  engine_.found["p1 | p4 | p0"] = "1 700000";
  engine_.found["p0"] = "2";
  ASSERT_TRUE(filter_.initACLBuilder("alice", "idx", true, "alice"));
  EXPECT_EQ(home("idx_inc_acl"), filter_.aclIndexPath());
  EXPECT_EQ((std::vector<int32_t>{1, 700000}), kept({1, 2, 700000}));
  EXPECT_NE(std::string::npos, log().find("setACLIndexPath : " + home("idx_inc_acl") + "\n"));
  // A user the table does not name and the built-in account see what
  // everyone may; the ids of the last load grant nothing any more.
  for (const char* user : {"carol", "TESSERA"}) {
    ASSERT_TRUE(filter_.initACLBuilder("alice", "idx", true, user));
    EXPECT_EQ((std::vector<int32_t>{2}), kept({1, 2, 700000})) << user;
  }
  // Without a user there is no search string.
  const size_t runs = engine_.commands.size();
  EXPECT_FALSE(filter_.initACLBuilder("alice", "idx", true, nullptr));
  EXPECT_FALSE(filter_.initACLBuilder("alice", "idx", false, "alice"));  // no org companion
  EXPECT_EQ(runs, engine_.commands.size());
  EXPECT_TRUE(kept({1, 2}).empty());
}

const char kRules[] =
    "# who reads what\n"
    "@staff\talice, bob\n"
    "\n"
    "public/*\t*\n"
    "hr/*.txt\t@staff,carol\n"
    "hr/*\t\t\tcarol\n"
    "*secret*\talice\n";

AccessRules parsed(const std::string& text) {
  AccessRules rules;
  std::string error;
  EXPECT_TRUE(rules.parse(text, error)) << error;
  return rules;
}

TEST(AccessRules, MalformedFilesNameTheLine) {
  const struct {
    const char* text;
    const char* error;
  } cases[] = {
      {"a/*\talice\nb/*  bob\n", "line 2: no TAB"},
      {"\talice\n", "line 1: no pattern"},
      {"a/*\t\n", "line 1: no readers"},
      {"a/*\talice,,bob\n", "line 1: an empty name"},
      {"a/*\talice,\n", "line 1: an empty name"},
      {"a/*\talice\tbob\n", "line 1: more than one field"},
      {"@g\talice\n@g\tbob\na\t@g\n", "line 2: group @g is defined twice"},
      {"@g\t@h\na\t@g\n", "line 1: the members of a group are users"},
      {"@g\t*\na\t@g\n", "line 1: the members of a group are users"},
      {"a\talice\n\nb\t@nobody\n", "line 3: group @nobody is not defined"},
      {"a\t@\n", "line 1: \"@\" without a group name"},
      {"a\tal\x01ice\n", "line 1: a name holds a control character"},
      {"# only a comment\n\n", "no rule"},
      {"", "no rule"},
  };
  for (const auto& c : cases) {
    AccessRules rules;
    std::string error;
    EXPECT_FALSE(rules.parse(c.text, error)) << c.text;
    EXPECT_EQ(0u, error.find(c.error)) << c.text << " -> " << error;
    EXPECT_EQ(0u, rules.ruleCount());
  }
  // The zero byte case above is cut at the zero by c_str(): check it whole.
  AccessRules rules;
  std::string error;
  EXPECT_FALSE(rules.parse(std::string("a\talice\nb\tbo\0b\n", 15), error));
  EXPECT_EQ("line 2: holds a zero byte", error);
  EXPECT_FALSE(rules.parse("a\t" + std::string(9000, 'x') + "\n", error));
  EXPECT_EQ(0u, error.find("line 1: longer than"));
}

TEST(AccessRules, FirstMatchingRuleDecides) {
  const AccessRules rules = parsed(kRules);
  EXPECT_EQ(4u, rules.ruleCount());
  const struct {
    const char* path;
    const char* user;
    bool allowed;
  } cases[] = {
      {"public/a.txt", "anyone", true}, {"public/deep/x", "TESSERA", true},
      {"hr/pay.txt", "bob", true},      {"hr/pay.txt", "carol", true},
      {"hr/pay.txt", "dave", false},    {"hr/pay.pdf", "bob", false},
      {"hr/pay.pdf", "carol", true},    {"x/top-secret.txt", "alice", true},
      {"hr/secret.txt", "alice", true}, {"x/top-secret.txt", "bob", false},
      {"other.txt", "alice", false},  // no rule: nobody
  };
  for (const auto& c : cases) {
    const AccessReaders* readers = rules.readersOf(c.path);
    EXPECT_EQ(c.allowed, readers != nullptr && rules.allows(*readers, c.user))
        << c.path << " " << c.user;
  }
  EXPECT_EQ((std::vector<std::string>{"alice", "bob", "carol"}), rules.users());
  EXPECT_EQ((std::vector<std::string>{"staff"}), rules.groupsOf("bob"));
  EXPECT_TRUE(rules.groupsOf("carol").empty());
}

TEST(AclRights, RecordWordsOfBothKinds) {
  const AccessRules rules = parsed(kRules);
  // Users alice 1, bob 2, carol 3; the builder's group staff 4.
  const AclCoding file(rules, AclKind::kFile);
  const AclCoding builder(rules, AclKind::kBuilder);
  const struct {
    const char* path;
    const char* fileWords;
    const char* builderWords;
  } cases[] = {
      {"public/a", "000", "p0"},
      {"hr/a.txt", "01 02 03", "p3 p4"},
      {"hr/a.doc", "03", "p3"},
      {"nowhere", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.fileWords, file.recordText(c.path)) << c.path;
    EXPECT_EQ(c.builderWords, builder.recordText(c.path)) << c.path;
  }
  EXPECT_EQ((AclUserTable{{"alice", {1}}, {"bob", {2}}, {"carol", {3}}}), file.userTable());
  EXPECT_EQ((AclUserTable{{"alice", {1, 4}}, {"bob", {2, 4}}, {"carol", {3}}}),
            builder.userTable());
  // The other search texts are what the filter tests' engine answers to.
  EXPECT_EQ("123 | 000", fileAclSearchText(123));
}

TEST(AclRights, UserTablesAreTrustedWholeOrNotAtAll) {
  const AccessRules rules = parsed(kRules);
  const AclUserTable table = AclCoding(rules, AclKind::kBuilder).userTable();
  AclUserTable back;
  ASSERT_TRUE(parseAclUserTable(formatAclUserTable(table), AclKind::kBuilder, back));
  EXPECT_EQ(table, back);
  const char* bad[] = {
      "alice\t1\nbob\n",       // no codes
      "alice\t1\nalice\t2\n",  // named twice
      "alice\t1 x\n",          // not a number
      "alice\t+1\n",           // a sign
      "alice\t0\n",            // no user has code 0
      "alice\t100000000\n",    // past the largest code
      "\t1\n",                 // no user
      "al\x7f"
      "ice\t1\n",       // a control character
      "alice\t1  2\n",  // two blanks
  };
  for (const char* text : bad) {
    AclUserTable out{{"stale", {1}}};
    EXPECT_FALSE(parseAclUserTable(text, AclKind::kBuilder, out)) << text;
    EXPECT_TRUE(out.empty());
  }
  AclUserTable out;
  // A user whose name begins like a comment keeps the codes.
  ASSERT_TRUE(parseAclUserTable("# a comment\n#u\t3\n", AclKind::kFile, out));
  EXPECT_EQ((AclUserTable{{"#u", {3}}}), out);
  EXPECT_FALSE(parseAclUserTable("alice\t1 4\n", AclKind::kFile, out));
  EXPECT_TRUE(parseAclUserTable("alice\t1 4\n", AclKind::kBuilder, out));
}

}  // namespace
