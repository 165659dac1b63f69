/// @file access_rules_test.cc
/// @brief The access file of a protected index, and how its rights become
/// the words and user tables of the ACL companions.

#include "access/access_rules.h"

#include <gtest/gtest.h>

#include <string>

#include "access/acl_rights.h"

namespace {

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
  EXPECT_EQ("05 | 000", fileAclSearchText(5));
  EXPECT_EQ("123 | 000", fileAclSearchText(123));
  EXPECT_EQ("000", fileAclSearchText(0));
  EXPECT_EQ("p1 | p4 | p0", aclBuilderSearchText({1, 4}));
  EXPECT_EQ("p0", aclBuilderSearchText({}));
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
