/// @file search_run_test.cc
/// @brief The index list of a request: "index_id" variables, limits, the
/// file-name property state and search-by-field conditions; the query's
/// declared encoding and what the local code page could not hold of it; and the
/// search form of message pages: what it keeps of the request, and what it
/// leaves out when a page refuses a variable.

#include "front/search_run.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "cgi/cgi_string_parser.h"
#include "front/query_encoding.h"
#include "front/remote_index_info.h"
#include "front/request_state.h"
#include "front/search_again.h"
#include "search/remote_request.h"
#include "system/layout.h"
#include "tests/cgi/cgi_test_util.h"
#include "tests/loopback_server.h"
#include "tests/test_util.h"

namespace {

using testutil::TempDir;

std::string idFile(const std::string& id, const std::string& owner, const std::string& type) {
  std::string bytes(152, '\0');
  bytes.replace(0, id.size(), id);
  bytes.replace(8, 4, "desc");
  bytes.replace(72, owner.size(), owner);
  bytes.replace(136, type.size(), type);
  return bytes;
}

// Where an index list entry searches: "host:port owner/index type".
std::string where(const velaSearchList& e) {
  return e.ipAddr + ":" + e.port + " " + e.owner + "/" + e.idxName + " " + e.dbType;
}

class IndexListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cgiDir_ = testutil::makeInstallSkeleton(root_.path());
    testutil::writeFile(root_.sub("setting/system_info.cfg"),
                        "SYSTEM_DIRECTORY=" + root_.sub("system") + "\n");
    testutil::writeFile(root_.sub("host_address"), "10.0.0.5\n");
    testutil::writeFile(root_.sub("system/ref/D1.id"), idFile("D1", "alice", "doc"));
    testutil::writeFile(root_.sub("system/ref/D2.id"), idFile("D2", "/groupA", "db"));
    // Stored id differs from the file name: not this index.
    testutil::writeFile(root_.sub("system/ref/D3.id"), idFile("XX", "alice", "doc"));
    testutil::writeFile(root_.sub("outside.id"), idFile("outside", "mallory", "doc"));
    cwd_ = std::make_unique<testutil::ScopedCwd>(cgiDir_);
    systemResetCaches();
    remote_index_not_found_count = 0;
  }
  void TearDown() override {
    cwd_.reset();
    systemResetCaches();
  }

  void listAgents(const std::string& hosts) {
    testutil::writeFile(root_.sub("setting/search_option.cfg"), "AGENT_HOSTS=" + hosts + "\n");
  }
  ExplicitIndexList build(const std::string& request, int limit = -1) {
    parser_.freeMemory();
    parser_.initialize(request.c_str());
    list_.clear();
    return last_ = buildExplicitIndexList(parser_, list_, nullptr, 1, limit);
  }

  TempDir root_;
  std::string cgiDir_;
  std::unique_ptr<testutil::ScopedCwd> cwd_;
  CGIStringParser parser_;
  VelaSearchListVector list_;
  ExplicitIndexList last_;
};

TEST_F(IndexListTest, LocalIndexesInRequestOrder) {
  ExplicitIndexList r = build("index_id=0A000005_D2&query=x&index_id=7F000001_D1$9000&index_id=D1");
  ASSERT_EQ(3, r.added);
  EXPECT_EQ(2, r.fileNameIndexCount);  // the "db" index does not count
  ASSERT_EQ(3u, list_.size());
  EXPECT_EQ("10.0.0.5:20001 /groupA/D2 db", where(list_[0]));
  EXPECT_EQ("D1", list_[1].idxName);
  EXPECT_EQ("9000", list_[1].port);
  EXPECT_EQ("desc", list_[1].desc);
}

// Every variable keeps its place, so that "search_no" and the page count
// as the request does; a copy is looked up once and counts once against the
// limit (the search takes it once).
TEST_F(IndexListTest, AnIndexNamedAgainKeepsItsPlace) {
  const ExplicitIndexList r =
      build("index_id=7F000001_D1&index_id=0A000005_D2&index_id=7F000001_D1", 2);
  EXPECT_FALSE(r.tooMany);
  EXPECT_EQ(3, r.added);
  EXPECT_EQ(1, r.duplicates);
  EXPECT_EQ(2, r.fileNameIndexCount);
  ASSERT_EQ(3u, list_.size());
  EXPECT_EQ("D1", list_[2].idxName);
  EXPECT_TRUE(list_[2].sameIndexAs(list_[0]));
  EXPECT_EQ(2u, distinctIndexCount(list_));
  // Unknown copies are skipped where they stand.
  EXPECT_EQ(2, build("index_id=7F000001_nothere&index_id=7F000001_nothere").unknown);
}

TEST_F(IndexListTest, UnknownUnsafeAndRemoteIndexesAreSkipped) {
  ExplicitIndexList r = build(
      "index_id=7F000001_D3&index_id=7F000001_nothere&index_id=7F000001_..%2F..%2Foutside"
      "&index_id=7F000001_&index_id=&index_id=C0A80001_D1$-1");
  EXPECT_EQ(0, r.added);
  EXPECT_TRUE(list_.empty());
  // Only the index on another host counts as not found by its host.
  EXPECT_EQ(1, remote_index_not_found_count);
}

// Indexes of another host are described by its agent; one it does not
// know, or that answers badly, is skipped and counted.
TEST_F(IndexListTest, RemoteIndexesAreDescribedByTheirAgent) {
  const std::string F("\x12\x13\x14");
  testutil::LoopbackServer agent("127.0.0.6", [&](const std::string& request, int fd) {
    std::string name, answer;
    if (!parseIndexInfoRequest(request, name)) return;
    if (name == "R1") buildIndexInfoAnswer("/grp", "Plans", "doc", answer);
    if (name == "R2") answer = "bob" + F + F + "three ends" + F;
    if (name == "R3") answer = std::string(2000, 'x') + F + F + F + F;  // past the answer cap
    if (name == "R5") buildIndexInfoAnswer("../../etc", "Up", "doc", answer);  // no owner name
    testutil::LoopbackServer::sendAll(fd, answer);
  });
  const std::string port = std::to_string(agent.port()), at = "$" + port;
  listAgents("127.0.0.6:" + port);
  ExplicitIndexList r =
      build("index_id=7F000006_R1" + at + "&index_id=7F000006_R2" + at + "&index_id=7F000006_R5" +
            at + "&index_id=7F000006_R3" + at + "&index_id=7F000006_R4" + at +
            "&index_id=7F000006_R1$0&index_id=7F000006_R1$x");
  ASSERT_EQ(1, r.added);
  EXPECT_EQ("127.0.0.6:" + port + " /grp/R1 doc", where(list_[0]));
  EXPECT_EQ("Plans", list_[0].desc);
  EXPECT_EQ(6, remote_index_not_found_count);
  // The ports 0 and "x" are never contacted, nor is the agent once its
  // answer passed the cap.
  EXPECT_EQ(4u, agent.requests().size());
}

// A request names the host, the port and the text sent there: only agents
// the administrator listed are asked, only for a plain index name, each
// distinct index once, a silent host once, and nothing at all past the
// index limit.
TEST_F(IndexListTest, ARequestReachesOnlyListedAgentsAndOnlyWithinItsLimits) {
  testutil::LoopbackServer agent("127.0.0.6", [&](const std::string& request, int fd) {
    std::string name, answer;
    if (parseIndexInfoRequest(request, name)) buildIndexInfoAnswer("bob", "B", "doc", answer);
    testutil::LoopbackServer::sendAll(fd, answer);
  });
  const std::string port = std::to_string(agent.port()), at = "$" + port;
  const auto asked = [&](const std::string& list, const std::string& request, int limit = -1) {
    listAgents(list);
    const size_t before = agent.requests().size();
    build(request, limit);
    return agent.requests().size() - before;
  };
  // Not listed: the port, the address, or nothing at all.
  EXPECT_EQ(0u, asked("", "index_id=7F000006_R1" + at));
  EXPECT_EQ(0u,
            asked("127.0.0.6:" + std::to_string(agent.port() + 1), "index_id=7F000006_R1" + at));
  EXPECT_EQ(0u, asked("127.0.0.7:" + port, "index_id=7F000006_R1" + at));
  // Addresses that reach this host or nobody are refused even when listed.
  EXPECT_EQ(0u, asked("0.0.0.0:" + port + " 255.255.255.255:" + port,
                      "index_id=00000000_R1" + at + "&index_id=FFFFFFFF_R1" + at));
  const std::string listed = "10.9.9.9:1,127.0.0.6:" + port;
  // A name with line ends or climbing out is never put on the wire.
  EXPECT_EQ(
      0u, asked(listed, "index_id=7F000006_abc%0D%0ASET" + at + "&index_id=7F000006_..%2Fx" + at));
  EXPECT_EQ(1u, asked(listed, "index_id=7F000006_R1" + at));
  EXPECT_EQ(1, last_.added);
  // A hundred copies of one index: one question.
  std::string copies;
  for (int i = 0; i < 100; ++i)
    copies += "&index_id=7F000006_R1" + at;
  EXPECT_EQ(1u, asked(listed, copies.substr(1)));
  EXPECT_EQ(99, last_.duplicates);
  // More distinct indexes than allowed: refused before anybody is asked.
  EXPECT_EQ(
      0u, asked(listed, "index_id=7F000006_R1" + at + "&index_id=7F000006_R2" + at + "&index_id=D1",
                2));
  EXPECT_TRUE(last_.tooMany);
  EXPECT_TRUE(list_.empty());
  EXPECT_EQ(2u, asked(listed, "index_id=7F000006_R1" + at + "&index_id=7F000006_R2" + at, 2));
}

// A host that does not answer is asked once per run, not once per index.
TEST_F(IndexListTest, ASilentHostIsAskedOnce) {
  testutil::LoopbackServer agent("127.0.0.6", [](const std::string&, int) {});
  const std::string port = std::to_string(agent.port()), at = "$" + port;
  listAgents("127.0.0.6:" + port);
  const ExplicitIndexList r = build("index_id=7F000006_R1" + at + "&index_id=7F000006_R2" + at +
                                    "&index_id=7F000006_R3" + at);
  EXPECT_EQ(0, r.added);
  EXPECT_EQ(3, remote_index_not_found_count);
  EXPECT_EQ(1u, agent.requests().size());
}

TEST(SearchRunSettings, SearchNumAndIndexLimit) {
  for (const auto& [text, number] :
       {std::pair<const char*, int>{nullptr, 1}, {"", 0}, {"all", 0}, {"3rd", 3}})
    EXPECT_EQ(number, readSearchNum(text)) << (text ? text : "null");
}

TEST(SearchRunSettings, FilePropertyStateFollowsTheSelectedIndexes) {
  VelaSearchListVector list(2);
  list[0].dbType = "doc";
  list[1].dbType = "db";
  EXPECT_EQ(0, filePropertySearchState(2, 0, 2, list, 1));   // no property search
  EXPECT_EQ(0, filePropertySearchState(2, 8, 2, list, 1));   // date range is not one
  EXPECT_EQ(0, filePropertySearchState(2, 5, 1, list, 1));   // a document index
  EXPECT_EQ(-1, filePropertySearchState(2, 5, 2, list, 1));  // a database index
  EXPECT_EQ(0, filePropertySearchState(2, 1, 0, list, 1));   // all, one supports it
  EXPECT_EQ(-1, filePropertySearchState(2, 7, 0, list, 0));  // all, none supports it
  EXPECT_EQ(0, filePropertySearchState(0, 5, 0, list, 0));   // no index at all
}

TEST(SearchByField, PathAndConditions) {
  EXPECT_EQ("../sbf/sbf_00042.cfg", searchByFieldPath(42));
  EXPECT_EQ("../sbf/sbf_123456.cfg", searchByFieldPath(123456));

  VelaSearchListVector list(3);
  list[0].ipAddr = list[1].ipAddr = list[2].ipAddr = "127.0.0.1";
  list[0].owner = list[1].owner = "alice";
  list[2].owner = "bob";
  list[0].idxName = list[1].idxName = "A1";  // the first match wins
  list[1].port = "9000";                     // over the index of another server
  list[2].idxName = "B1";
  list.push_back(list[0]);  // the request named the first again: the same search

  TempDir dir;
  const std::string d1 = "\x12\x13\x14", d2 = "\x15\x16\x17";
  const std::string longCondition(3000, 'c');
  testutil::writeFile(dir.sub("sbf.cfg"), "127.0.0.1" + d1 + "alice" + d1 + "A1" + d2 + "title=x" +
                                              d1 + "y\n" + "127.0.0.1" + d1 + "carol" + d1 + "A1" +
                                              d2 + "ignored\n" + "127.0.0.1" + d1 + "bob" + d1 +
                                              "B1" + d2 + longCondition + "\n" +
                                              "garbage without delimiters\n");
  applySearchByFieldFile(dir.sub("sbf.cfg"), list);
  EXPECT_EQ("title=x" + d1 + "y", list[0].sbfString);
  EXPECT_EQ(" ", list[1].sbfString);
  EXPECT_EQ(list[0].sbfString, list[3].sbfString);
  // Lines are cut at 2,047 characters.
  const size_t head = std::string("127.0.0.1" + d1 + "bob" + d1 + "B1" + d2).size();
  EXPECT_EQ(2047u - head, list[2].sbfString.size());

  VelaSearchListVector untouched(1);
  applySearchByFieldFile(dir.sub("missing.cfg"), untouched);
  EXPECT_EQ(" ", untouched[0].sbfString);
}

// Upper-cases ASCII: enough to see that a conversion happened and to where.
int upperConverter(const char* src, const char* /*src_name*/, char* dest, const char* dest_name,
                   int dest_size) {
  cgitest::lastConverterTarget() = dest_name;
  int i = 0;
  for (; src[i] && i < dest_size - 1; ++i)
    dest[i] = static_cast<char>(std::toupper(src[i]));
  dest[i] = '\0';
  return 0;
}

TEST(DeclaredEncoding, ConvertsOnlyKnownSourcesIntoTheLocalPage) {
  std::string out = "untouched";
  langFlag = 0;
  // No converter installed: the query stays as it came.
  EXPECT_FALSE(transferCodeToLocalPage("abc", "UTF-8", out));
  cgitest::ScopedConverter converter(upperConverter);
  EXPECT_TRUE(transferCodeToLocalPage("abc", "UTF-8", out));
  EXPECT_EQ("ABC", out);
  EXPECT_EQ("BIG5", cgitest::lastConverterTarget());
  langFlag = 1;
  EXPECT_TRUE(transferCodeToLocalPage("x", "UTF-16BE", out));
  EXPECT_EQ("SJIS", cgitest::lastConverterTarget());

  out = "untouched";
  EXPECT_FALSE(transferCodeToLocalPage("abc", "EUC", out));    // not a known source
  EXPECT_FALSE(transferCodeToLocalPage("", "UTF-8", out));     // nothing to convert
  EXPECT_FALSE(transferCodeToLocalPage("abc", nullptr, out));  // no encoding named
  langFlag = -1;
  EXPECT_FALSE(transferCodeToLocalPage("abc", "UTF-8", out));  // no local page to convert to
  EXPECT_EQ("untouched", out);
  langFlag = 3;  // English installations convert into UTF-8
  EXPECT_TRUE(transferCodeToLocalPage("abc", "SJIS", out));
  EXPECT_EQ("UTF-8", cgitest::lastConverterTarget());
  langFlag = -1;
}

TEST(UnholdableCharacters, OnlyTheConvertersReferencesEachOnce) {
  using Codes = std::vector<unsigned>;
  // What the converter wrote for characters it had no place for.
  EXPECT_EQ((Codes{0x20AC, 0x1F600}),
            unholdableCharacters("x", "\xA4\xA4&#8364; &#128512;&#8364;"));
  // The user's own reference is text to search, as is what only looks like one.
  EXPECT_EQ(Codes{}, unholdableCharacters("a &#38; b", "a &#38; b"));
  EXPECT_EQ(Codes{}, unholdableCharacters("x", "&#; &#12 &#x41; &#12345678;"));
  EXPECT_EQ("U+20AC, U+1F600", codePointNames({0x20AC, 0x1F600}));
}

TEST(SearchAgainForm, LeavesOutTheVariableAPageRefused) {
  CGIStringParser vars;
  ASSERT_GT(vars.initialize("user=U&index_id=A&index_id=B&index_id=C&search_no=7&sort=x&ks_key=1"),
            0);
  // Which of sort, search_no, user, ks_key and the index ids A, B, C the form keeps.
  const auto kept = [&](const FormOmissions& omit) {
    const std::string form = searchAgainForm(vars, "fig", omit);
    std::string out;
    for (const char* name : {"sort", "search_no", "user", "ks_key"})
      if (form.find("name=\"" + std::string(name) + "\"") != std::string::npos)
        out += name + std::string(" ");
    for (const char* id : {"A", "B", "C"})
      if (form.find("value=\"" + std::string(id) + "\"") != std::string::npos) out += id;
    return out;
  };
  EXPECT_EQ(kept({}), "sort search_no user ABC");
  FormOmissions omit;
  omit.names = {"sort", "search_no"};
  EXPECT_EQ(kept(omit), "user ABC");
  // Too many indexes: the form keeps as many as may be searched, in order.
  FormOmissions fewer;
  fewer.indexIdsKept = 2;
  EXPECT_EQ(kept(fewer), "sort search_no user AB");
}

}  // namespace
