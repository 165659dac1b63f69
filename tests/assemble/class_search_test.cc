/// @file class_search_test.cc
/// @brief The class answer of the server, the class search of a request, the
/// URL of its follow-up pages and its "_class" file.

#include "assemble/class_search.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "system/delimiters.h"
#include "tests/test_util.h"

namespace {

const std::string F = kFieldDelim;
const std::string E = kGroupEndDelim;
const std::string kParts = kValueDelim;
const std::string kEnd = kCommandEndDelim;

struct Rec {
  std::string name, status = "0", owner = "alice", desc = "docs", type = "doc";
  std::string host = "10.0.0.9", uid = "";
};

std::string indexRecord(const Rec& r) {
  return r.host + F + r.owner + F + r.desc + F + r.name + F + "20001" + F + r.type + F + r.status +
         F + "x" + F + (r.uid.empty() ? "U_" + r.name : r.uid) + E;
}

std::string classRecord(const std::string& name, const std::string& uid) {
  return name + F + uid + E;
}

std::vector<std::string> names(const classSearchTag& tag) {
  std::vector<std::string> out;
  for (const classIndexNode& n : tag.indexes())
    out.push_back(n.getIndexName());
  for (const classClassNode& c : tag.classes())
    out.push_back("class " + c.getClassName() + "=" + c.getClassUnique());
  return out;
}

TEST(ClassAnswer, UsableIndexesInOrderAndClassesAfterTheFirst) {
  classSearchTag tag;
  const std::string answer = indexRecord({"i0", "0"}) + indexRecord({"i2", "2"}) +
                             indexRecord({"i3", "3"}) + indexRecord({"i1009", "1009"}) +
                             indexRecord({"i1", "1"}) + indexRecord({"bad", "3a"}) +
                             indexRecord({"neg", "-1"}) + kParts + classRecord("A", "1") +
                             classRecord("B", "2") + classRecord("no uid", "") + "C" + F + "3" + F +
                             "extra" + E + "D" + E + kEnd + indexRecord({"after", "0"});
  EXPECT_EQ(4, tag.initialize(answer));
  EXPECT_TRUE(tag.isInitialize());
  EXPECT_EQ(names(tag), (std::vector<std::string>{"i0", "i3", "i1009", "i1", "class A=1",
                                                  "class C=3", "class B=2"}));
  // A second answer replaces the first.
  EXPECT_EQ(1, tag.initialize(indexRecord({"only"})));
  EXPECT_EQ(names(tag), (std::vector<std::string>{"only"}));
}

TEST(ClassAnswer, RecordsTheRunCannotKeepAreSkipped) {
  const std::string long63(63, 'o'), long64(64, 'o');
  struct Case {
    Rec rec;
    bool kept;
  } cases[] = {
      {{"ok1234"}, true},
      {{"toolong8"}, false},
      {{"../x"}, false},
      {{""}, false},
      {{"a b"}, false},
      {{std::string("ab\0cd", 5)}, false},
      {{"own", "0", long63, long63}, true},
      {{"own", "0", long64}, false},
      {{"desc", "0", "alice", long64}, false},
      {{"tab", "0", "al\tice"}, false},
      {{"nl", "0", "alice", "two\nlines"}, false},
      {{"dots", "0", "/group/../../etc"}, false},
      {{"group", "0", "/sales/team"}, true},
      {{"type", "0", "alice", "d", std::string(15, 't')}, true},
      {{"type16", "0", "alice", "d", std::string(16, 't')}, false},
      {{"host", "0", "alice", "d", "doc", std::string(24, '1')}, false},
      {{"uid", "0", "alice", "d", "doc", "10.0.0.9", std::string(64, 'u')}, false},
  };
  for (const Case& c : cases) {
    classSearchTag tag;
    EXPECT_EQ(c.kept ? 1 : 0, tag.initialize(indexRecord(c.rec))) << c.rec.name;
  }
  // A record without its end mark, or with too few fields, is no record.
  classSearchTag tag;
  EXPECT_EQ(0, tag.initialize(indexRecord({"cut"}).substr(0, 40)));
  EXPECT_EQ(0, tag.initialize("h" + F + "o" + F + "d" + F + "n" + F + "p" + F + "t" + E));
  // Classes: a text over 255 bytes or with a line break is refused.
  EXPECT_EQ(0, tag.initialize(kParts + classRecord(std::string(256, 'c'), "1") +
                              classRecord("a\nb", "2") + classRecord("ok", std::string(255, 'u'))));
  ASSERT_EQ(1u, tag.classes().size());
  EXPECT_EQ("ok", tag.classes()[0].getClassName());
}

TEST(ClassAnswer, SideFileWithoutAClassPartHoldsTheHeadingsAndIndexes) {
  classSearchTag tag;
  tag.initialize(indexRecord({"news", "0", "bob", "d", "doc", "10.0.0.9", "0A000009_news"}) +
                 indexRecord({"mail", "1"}) + kEnd);
  EXPECT_EQ(
      "==CLASS==\n==INDEX==\n10.0.0.9\tbob\tnews\t0A000009_news\n10.0.0.9\talice\tmail\tU_mail\n",
      tag.classInformationText());
  tag.initialize(indexRecord({"news"}) + kParts + classRecord("A", "1") + classRecord("B", "2") +
                 classRecord("C", "3"));
  EXPECT_EQ("==CLASS==\nA\t1\nC\t3\nB\t2\n==INDEX==\n10.0.0.9\talice\tnews\tU_news\n",
            tag.classInformationText());

  testutil::TempDir dir;
  const std::string path = dir.sub("query12345_class");
  EXPECT_FALSE(classSearchTag().outputClassInformation(path));
  EXPECT_FALSE(testutil::fileExists(path));
  ASSERT_TRUE(tag.outputClassInformation(path));
  EXPECT_EQ(tag.classInformationText(), testutil::readFile(path));
  // The empty file made for the result ahead is written in place; nothing
  // planted under the name, a link or a second name of another file, is
  // written through.
  const std::string ahead = dir.sub("query2_class");
  testutil::writeFile(ahead, "");
  ASSERT_TRUE(tag.outputClassInformation(ahead));
  EXPECT_EQ(tag.classInformationText(), testutil::readFile(ahead));
  testutil::writeFile(dir.sub("victim"), "precious");
  ASSERT_EQ(0, symlink(dir.sub("victim").c_str(), dir.sub("query3_class").c_str()));
  ASSERT_EQ(0, link(dir.sub("victim").c_str(), dir.sub("query4_class").c_str()));
  for (const char* planted : {"query3_class", "query4_class"})
    EXPECT_FALSE(tag.outputClassInformation(dir.sub(planted))) << planted;
  EXPECT_EQ("precious", testutil::readFile(dir.sub("victim")));
}

TEST(ClassUrl, IndexIdsOfTheRequestGiveWayToTheClasssIndexes) {
  classSearchTag tag;
  std::string url = "a=1&index_id=X&b=2&index_id=Y";
  tag.updateClassURLString(url, "10.0.0.5");
  EXPECT_EQ("a=1&index_id=X&b=2&index_id=Y", url);  // not a class search
  tag.initialize(kParts + classRecord("A", "1"));
  tag.updateClassURLString(url, "10.0.0.5");
  EXPECT_EQ("a=1&index_id=X&b=2&index_id=Y", url);  // the class gave no index

  tag.initialize(indexRecord({"news"}) + indexRecord({"mail"}));
  struct {
    std::string in, out;
  } cases[] = {
      {"a=1&index_id=X&b=2&index_id=Y", "a=1&b=2&index_id=0A000005_news&index_id=0A000005_mail"},
      {"index_id=X&a=1", "a=1&index_id=0A000005_news&index_id=0A000005_mail"},
      {"index_id=X", "index_id=0A000005_news&index_id=0A000005_mail"},
      {"a=&&my_index_id=3", "a=&&my_index_id=3&index_id=0A000005_news&index_id=0A000005_mail"},
  };
  for (auto& c : cases) {
    tag.updateClassURLString(c.in, "10.0.0.5");
    EXPECT_EQ(c.out, c.in);
  }
}

class ClassSearchTest : public ::testing::Test {
 protected:
  ClassSearchTest() {
    request_.className = "Docs";
    request_.user = "alice";
    request_.host = "10.0.0.5";
    request_.queryServerPort = 20001;
    request_.interfacePort = 20002;
    request_.exchange = [this](const std::string& host, int port, const std::string& command,
                               std::string& out) {
      sent_.push_back(host + ":" + std::to_string(port) + " " + command);
      out = answer_;
      return exchangeOk_;
    };
  }

  ClassSearchOutcome run() { return buildClassifiedSearch(request_, tag_, list_); }

  ClassSearchRequest request_;
  std::string answer_;
  bool exchangeOk_ = true;
  std::vector<std::string> sent_;
  classSearchTag tag_;
  VelaSearchListVector list_;
};

TEST_F(ClassSearchTest, NoClassMeansNoServerContact) {
  request_.className = nullptr;
  EXPECT_EQ(0, run().added);
  request_.className = kNoClassSearch;
  request_.classUid = "7";
  EXPECT_EQ(0, run().added);
  request_.className = "";
  EXPECT_EQ(0, run().added);
  request_.className = "Docs";
  request_.user = nullptr;
  EXPECT_EQ(0, run().added);
  EXPECT_TRUE(sent_.empty());
  EXPECT_FALSE(tag_.isInitialize());
}

TEST_F(ClassSearchTest, EntriesNameThisHostAndTheQueryServerPort) {
  request_.classUid = "7";  // the name wins
  answer_ = indexRecord({"news", "0", "bob", "News", "doc"}) + indexRecord({"gone", "2"}) +
            indexRecord({"db1", "1009", "bob", "Table", "db"}) +
            indexRecord({"news", "3", "bob", "again", "doc"}) + kParts + classRecord("Docs", "7") +
            kEnd;
  const ClassSearchOutcome outcome = run();
  EXPECT_EQ(nullptr, outcome.message);
  EXPECT_EQ(2, outcome.added);
  EXPECT_EQ(1, outcome.fileNameIndexCount);
  ASSERT_EQ(1u, sent_.size());
  EXPECT_EQ(
      "10.0.0.5:20002 GET_CLASS_READ_BY_NAME\x04\x05\x06"
      "alice\x04\x05\x06"
      "Docs\x18\x19\x1A",
      sent_[0]);
  ASSERT_EQ(2u, list_.size());
  const velaSearchList& e = list_[0];
  EXPECT_EQ("10.0.0.5|20001|bob|news|News|doc| |-1",
            e.ipAddr + "|" + e.port + "|" + e.owner + "|" + e.idxName + "|" + e.desc + "|" +
                e.dbType + "|" + e.sbfString + "|" + std::to_string(e.m_match));
  EXPECT_EQ("db1", list_[1].idxName);

  request_.className = nullptr;
  answer_ = indexRecord({"other"}) + kEnd;
  list_.clear();
  EXPECT_EQ(1, run().added);
  EXPECT_NE(std::string::npos, sent_[1].find("GET_CLASS_READ\x04\x05\x06"));
  EXPECT_EQ(names(tag_), (std::vector<std::string>{"other"}));
}

TEST_F(ClassSearchTest, FailuresEndTheRunWithTheirMessage) {
  exchangeOk_ = false;
  EXPECT_STREQ(kMsgClassExchangeFailed, run().message);
  exchangeOk_ = true;
  answer_ = "Can't find class Docs";
  EXPECT_STREQ(kMsgClassNotFound, run().message);
  // Cut short before its end mark: no part of the class is searched.
  for (const std::string& cut : {std::string(), indexRecord({"news"}) + kParts}) {
    answer_ = cut;
    EXPECT_STREQ(kMsgClassExchangeFailed, run().message);
  }
  EXPECT_EQ(4u, sent_.size());
  request_.interfacePort = -1;
  EXPECT_STREQ(kMsgClassExchangeFailed, run().message);
  request_.interfacePort = 20002;
  // Texts no command can carry are never sent.
  const std::string withDelim = std::string("Docs") + kCommandEndDelim + "X";
  const std::string tooLong(2100, 'c');
  for (const std::string& name : {withDelim, tooLong}) {
    request_.className = name.c_str();
    EXPECT_STREQ(kMsgClassNotFound, run().message);
  }
  request_.className = "Docs";
  request_.user = "al\x07\x08\x09ice";
  EXPECT_STREQ(kMsgClassNotFound, run().message);
  EXPECT_EQ(4u, sent_.size());
  EXPECT_TRUE(list_.empty());
}

TEST_F(ClassSearchTest, AClassWithoutUsableIndexesSelectsNone) {
  answer_ = indexRecord({"gone", "2"}) + kParts + classRecord("Docs", "7") + kEnd;
  const ClassSearchOutcome outcome = run();
  EXPECT_EQ(nullptr, outcome.message);
  EXPECT_EQ(0, outcome.added);
  EXPECT_TRUE(list_.empty());
  EXPECT_EQ("==CLASS==\nDocs\t7\n==INDEX==\n", tag_.classInformationText());
}

}  // namespace
