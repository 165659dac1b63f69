/// @file remote_request_test.cc
/// @brief The agent's requests and answers: exact bytes (older agents and
/// renderers read them), round trips, and the texts a strict reader refuses;
/// the related-term request and the reader of its answer, the terms taken from
/// the tool's output, and the record-view request and answers; and the remote
/// job against a stand-in agent on a loopback address: what it sends, and which
/// answers it takes or refuses.

#include "search/remote_request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "search/related_term_tool.h"
#include "search/remote_record_view.h"
#include "search/remote_relterm.h"
#include "search/vela_search.h"
#include "system/agent_hosts.h"
#include "system/delimiters.h"
#include "tests/loopback_server.h"
#include "tests/search/search_test_util.h"

namespace {

const std::string F("\x12\x13\x14"), E("\x15\x16\x17"), OP("\x04\x05\x06"), END("\x18\x19\x1A"),
    PAR("\x07\x08\x09");

RemoteSearchRequest sampleRequest() {
  RemoteSearchRequest r;
  r.velaOption = "-q \"tax\" -n 10";
  r.searchMode = 5;
  r.sortField = "date";
  r.beginFile = "a";
  r.endFile = "*";
  r.beginTime = -7;
  r.endTime = 2000000000;
  r.host = "127.0.0.5";
  r.port = "7001";
  r.indexes = {{"alice", "IDX1", " ", "file"},
               {"bob", "IDX2", "N" + F + "5" + F + "12" + F, "db"},
               {"", "IDX3", "", ""}};
  return r;
}

TEST(RemoteSearchRequest, BytesAndRoundTrip) {
  const RemoteSearchRequest r = sampleRequest();
  std::string bytes;
  ASSERT_TRUE(buildRemoteSearchRequest(r, bytes));
  EXPECT_EQ(bytes, "agent_vela_search" + OP + "-q \"tax\" -n 10" + F + "5" + F + "date" + F + "a" +
                       F + "*" + F + "-7" + F + "2000000000" + F + "127.0.0.5" + F + "7001" + E +
                       "alice" + F + "IDX1" + F + " " + F + "file" + E + "bob" + F + "IDX2" + F +
                       "N" + F + "5" + F + "12" + F + F + "db" + E + F + "IDX3" + F + F + E + END);
  // Read back, every field (an F-framed search-by-field string included)
  // builds the same bytes again.
  RemoteSearchRequest back;
  ASSERT_TRUE(parseRemoteSearchRequest(bytes, back));
  ASSERT_EQ(back.indexes.size(), 3u);
  EXPECT_EQ(back.indexes[1].sbfString, r.indexes[1].sbfString);
  EXPECT_EQ(back.beginTime, -7);
  std::string again;
  ASSERT_TRUE(buildRemoteSearchRequest(back, again));
  EXPECT_EQ(again, bytes);
}

TEST(RemoteSearchRequest, TextsThatWouldBeMisreadAreRefused) {
  const std::function<void(RemoteSearchRequest&)> spoil[] = {
      [](RemoteSearchRequest& r) { r.velaOption += F; },
      [](RemoteSearchRequest& r) { r.sortField += E; },
      [](RemoteSearchRequest& r) { r.beginFile += END; },
      [](RemoteSearchRequest& r) { r.endFile += OP; },
      [](RemoteSearchRequest& r) { r.host += PAR; },
      [](RemoteSearchRequest& r) { r.port = F; },
      [](RemoteSearchRequest& r) { r.indexes[0].owner = "a" + F + "b"; },
      [](RemoteSearchRequest& r) { r.indexes[1].idxName += F; },
      [](RemoteSearchRequest& r) { r.indexes[1].idxName.clear(); },
      [](RemoteSearchRequest& r) { r.indexes[2].dbType = F; },
      [](RemoteSearchRequest& r) { r.indexes[1].sbfString += E; },
      [](RemoteSearchRequest& r) { r.indexes.clear(); },
      [](RemoteSearchRequest& r) { r.indexes.resize(kRemoteMaxIndexes + 1, r.indexes[0]); },
  };
  for (size_t i = 0; i < std::size(spoil); ++i) {
    RemoteSearchRequest r = sampleRequest();
    spoil[i](r);
    std::string bytes = "stale";
    EXPECT_FALSE(buildRemoteSearchRequest(r, bytes)) << i;
    EXPECT_EQ(bytes, "") << i;
  }
  RemoteSearchRequest most = sampleRequest();
  most.indexes.resize(kRemoteMaxIndexes, most.indexes[0]);
  std::string bytes;
  RemoteSearchRequest back;
  ASSERT_TRUE(buildRemoteSearchRequest(most, bytes));
  EXPECT_TRUE(parseRemoteSearchRequest(bytes, back));
  EXPECT_EQ(back.indexes.size(), kRemoteMaxIndexes);
}

TEST(RemoteSearchRequest, MalformedRequestsAreRefused) {
  std::string good;
  ASSERT_TRUE(buildRemoteSearchRequest(sampleRequest(), good));
  const auto headWithMode = [](const std::string& mode) {
    return "agent_vela_search" + OP + "o" + F + mode + F + "s" + F + "*" + F + "*" + F + "0" + F +
           "0" + F + "h" + F + "1" + E;
  };
  const std::string head = headWithMode("0");
  const std::string group = "u" + F + "I" + F + " " + F + "t" + E;
  RemoteSearchRequest back;
  ASSERT_TRUE(parseRemoteSearchRequest(head + group + END, back));
  std::string hundredAndOne = head;
  for (size_t i = 0; i <= kRemoteMaxIndexes; ++i)
    hundredAndOne += group;
  const std::string bad[] = {
      good + "x",                                      // bytes after the end mark
      good.substr(0, good.size() - 1),                 // end mark cut
      "agent_get_rel_term" + good.substr(17),          // another command
      head + END,                                      // no index
      head + "u" + F + "I" + F + "t" + E + END,        // index group of three fields
      head + "u" + F + "I" + F + " " + F + "t" + END,  // group without its E
      head + group + "tail" + END,                     // text after the last group
      head + "u" + F + F + " " + F + "t" + E + END,    // empty index name
      head + "u" + PAR + F + "I" + F + " " + F + "t" + E + END,
      hundredAndOne + END,
  };
  for (size_t i = 0; i < std::size(bad); ++i)
    EXPECT_FALSE(parseRemoteSearchRequest(bad[i], back)) << i;

  // The numbers of the head are read strictly.
  for (const char* mode : {"x", "1a", "", "2147483648"})
    EXPECT_FALSE(parseRemoteSearchRequest(headWithMode(mode) + group + END, back)) << mode;
}

TEST(RemoteSearchAnswer, SuccessKeepsTheBinaryBlockWhole) {
  const char raw[] =
      "3\x12\x13\x14\0\x05\0\0\x12\x13\x14"
      "3\x12\x13\x14\x15\x16\x17";
  const std::string block(raw, sizeof raw - 1);
  std::string bytes;
  buildRemoteSearchAnswer("tax", 1, block, bytes);
  EXPECT_EQ(bytes, "tax" + F + "1" + E + block);
  RemoteSearchAnswer a;
  ASSERT_EQ(parseRemoteSearchAnswer(bytes, a), 0);
  EXPECT_EQ(a.matched, "tax");
  EXPECT_EQ(a.hits, 1);
  EXPECT_EQ(a.block, block);

  // A long matched text is cut, and a delimiter inside it cannot shift the
  // hit count.
  buildRemoteSearchAnswer(std::string(20000, 'm'), 0, "", bytes);
  ASSERT_EQ(parseRemoteSearchAnswer(bytes, a), 0);
  EXPECT_EQ(a.matched.size(), 10240u);
  buildRemoteSearchAnswer("a" + F + "9" + E + "b", 2, "", bytes);
  ASSERT_EQ(parseRemoteSearchAnswer(bytes, a), 0);
  EXPECT_EQ(a.matched, "a");
  EXPECT_EQ(a.hits, 2);
  // An over-long matched text from another agent is cut on reading too.
  ASSERT_EQ(parseRemoteSearchAnswer(std::string(10300, 'q') + F + "0" + E, a), 0);
  EXPECT_EQ(a.matched.size(), 10240u);
}

TEST(RemoteSearchAnswer, RefusalsAndBrokenAnswers) {
  std::string refusal;
  buildReturnCodeAnswer(1017, refusal);
  EXPECT_EQ(refusal, "RETURN_CODE" + F + "1017" + E);
  struct Case {
    std::string bytes;
    int result;
  } cases[] = {
      {refusal, 1017},
      {"RETURN_CODE" + F + "0" + E, kRemoteBadAnswer},
      {"RETURN_CODE" + F + "-4" + E, kRemoteBadAnswer},
      {refusal + "tail", kRemoteBadAnswer},
      {"q" + F + "3", kRemoteBadAnswer},  // only F
      {"q" + E + "3" + F, kRemoteBadAnswer},
      {"NO_DATA_FOUND", kRemoteBadAnswer},
      {"", kRemoteBadAnswer},
      {"q" + F + "-1" + E, kRemoteBadAnswer},
      {"q" + F + "2147483648" + E, kRemoteBadAnswer},
      {"q" + F + " 3" + E, kRemoteBadAnswer},
      {"q" + F + "0" + E, 0},
  };
  for (const Case& c : cases) {
    RemoteSearchAnswer a;
    EXPECT_EQ(parseRemoteSearchAnswer(c.bytes, a), c.result) << c.bytes;
  }
}

TEST(RemoteSearchAnswer, LimitFollowsTheHeader) {
  const size_t cap = 1 << 20;
  const std::string section = "2" + F + "\x05\x01\x06\x02" + F + "5" + F + "\x09\x0a" + E;
  std::string good;
  buildRemoteSearchAnswer("tax", 2, section, good);
  // Every piece of a good answer, as it arrives, is allowed its whole length.
  for (size_t cut = 0; cut <= good.size(); ++cut)
    EXPECT_GE(remoteSearchAnswerLimit(good.substr(0, cut), 1, SortKeyKind::kNumber, cap),
              good.size())
        << cut;

  struct Case {
    const char* what;
    std::string bytes;
    size_t atMost;  // the limit is at least 1 and at most this; 0: the limit is 0
  } cases[] = {
      {"no header yet", "tax", cap},
      {"a head past 64 KiB without F", std::string(64 * 1024 + 3, 'x'), 0},
      {"a count that never ends", "q" + F + std::string(30, '7'), 0},
      {"a refusal ends at its E", "RETURN_CODE" + F + "1017" + E, 11 + 3 + 4 + 3},
      {"an unreadable count ends at its E", "q" + F + "x" + E, 1 + 3 + 1 + 3},
      {"one hit, a small block", "q" + F + "1" + E, 8 + 52 + 15},
      {"hits that cannot fit the cap", "q" + F + "2000000000" + E, 0},
      {"many hits, cut to the cap", "q" + F + "500000" + E, cap},
  };
  for (const Case& c : cases) {
    const size_t limit = remoteSearchAnswerLimit(c.bytes, 1, SortKeyKind::kNumber, cap);
    if (c.atMost == 0) {
      EXPECT_EQ(limit, 0u) << c.what;
    } else {
      EXPECT_GE(limit, 1u) << c.what;
      EXPECT_LE(limit, c.atMost) << c.what;
    }
  }
  // Text keys may be long, so the same count allows more under a text sort.
  const std::string head = "q" + F + "100" + E;
  EXPECT_GT(remoteSearchAnswerLimit(head, 1, SortKeyKind::kText, cap),
            50 * remoteSearchAnswerLimit(head, 1, SortKeyKind::kNumber, cap));
}

TEST(IndexInfo, RequestAndAnswerBytesAndReaders) {
  std::string bytes;
  ASSERT_TRUE(buildIndexInfoRequest("IDX1", bytes));
  EXPECT_EQ(bytes, "get_index_info" + OP + "IDX1" + E + END);
  std::string name;
  ASSERT_TRUE(parseIndexInfoRequest(bytes, name));
  EXPECT_EQ(name, "IDX1");
  EXPECT_FALSE(buildIndexInfoRequest("", bytes));
  EXPECT_FALSE(buildIndexInfoRequest("a" + E, bytes));
  for (const std::string& bad :
       {"get_index_info" + OP + E + END, "get_index_info" + OP + "IDX1" + END,
        "get_index_info" + OP + "I" + F + "X" + E + END, bytes + "x",
        "get_index_inf" + OP + "IDX1" + E + END})
    EXPECT_FALSE(parseIndexInfoRequest(bad, name)) << bad;

  // The answer: its fields, cut to their sizes, and nothing more or less.
  buildIndexInfoAnswer("alice", "Tax papers", "file", bytes);
  EXPECT_EQ(bytes, "alice" + F + F + "Tax papers" + F + "file" + F);
  std::string owner, desc, type;
  ASSERT_TRUE(parseIndexInfoAnswer(bytes, owner, desc, type));
  EXPECT_EQ(owner + "|" + desc + "|" + type, "alice|Tax papers|file");

  ASSERT_TRUE(parseIndexInfoAnswer(
      std::string(70, 'o') + F + "x" + F + std::string(70, 'd') + F + std::string(20, 't') + F,
      owner, desc, type));
  EXPECT_EQ(owner + "|" + desc + "|" + type,
            std::string(63, 'o') + "|" + std::string(63, 'd') + "|" + std::string(15, 't'));

  for (const std::string& bad : {"alice" + F + F + "d" + F + "file",  // three ends
                                 "alice" + F + F + "d" + F + "file" + F + "more",
                                 "alice" + F + F + "d" + F + "t" + F + "x" + F, std::string("")}) {
    EXPECT_FALSE(parseIndexInfoAnswer(bad, owner, desc, type)) << bad;
    EXPECT_EQ(owner + desc + type, "");
  }
}

TEST(RelTermRequest, OneGroupPerIndexInOrder) {
  std::string bytes;
  ASSERT_TRUE(buildRelTermRequest(
      {{"10.0.0.2", "alice", "a", "20001", 2, "1 5 "}, {"10.0.0.2", "/grp", "b", "20001", 1, "3 "}},
      bytes));
  EXPECT_EQ(bytes,
            "agent_get_rel_term\x04\x05\x06"
            "10.0.0.2" +
                F + "alice" + F + "a" + F + "20001" + F + "2" + F + "1 5 " + E + "10.0.0.2" + F +
                "/grp" + F + "b" + F + "20001" + F + "1" + F + "3 " + E + "\x18\x19\x1A");
  EXPECT_FALSE(buildRelTermRequest({}, bytes));
  EXPECT_FALSE(buildRelTermRequest({{"h", "o" + E, "a", "1", 1, "1 "}}, bytes));
  EXPECT_FALSE(buildRelTermRequest({{"h", "o", "a", "1", 0, ""}}, bytes));
  EXPECT_FALSE(buildRelTermRequest({{"h", "o", "a", "1", 101, "1 "}}, bytes));
}

TEST(RelTermAnswer, PartsGoToTheIndexesInOrder) {
  struct Case {
    std::string answer;
    size_t indexes;
    int code;
    std::vector<std::string> parts;
  };
  const Case cases[] = {
      {"a" + F + "b" + F + E + "c" + F + E + E, 3, 0, {"a" + F + "b" + F + E, "c" + F + E, E}},
      {E + "c" + F + E, 2, 0, {E, "c" + F + E}},  // an index without terms keeps its place
      {"NO_DATA_FOUND", 1, kRemoteBadAnswer, {}},
      {"a" + F + E, 2, kRemoteBadAnswer, {}},                // a part missing
      {"a" + F + E + "b" + F + E, 1, kRemoteBadAnswer, {}},  // more than asked for
      {"RETURN_CODE" + F + "1042" + E, 2, 1042, {}},         // a refusal names no terms
      {"RETURN_CODE" + F + "x" + E, 1, kRemoteBadAnswer, {}},
      // Terms that could be misread are left out; the rest stay.
      {"bad\x01" + F + "ok" + F + std::string(300, 'x') + F + "last" + E,
       1,
       0,
       {"ok" + F + "last" + F + E}}};
  for (const Case& c : cases) {
    std::vector<std::string> parts;
    EXPECT_EQ(parseRelTermAnswer(c.answer, c.indexes, parts), c.code) << c.answer;
    EXPECT_EQ(parts, c.parts) << c.answer;
  }
}

TEST(RelTermTool, TermsEndAtTheFirstEmptyLine) {
  std::string part;
  appendToolTerms("alpha\r\nbeta\n\ngamma\n", part);
  EXPECT_EQ(part, "alpha" + F + "beta" + F);
  part.clear();
  appendToolTerms("x\x15\x16\x17y\nz", part);  // a term holding E would end the part
  EXPECT_EQ(part, "z" + F);
  const std::vector<std::string> argv = relTermToolArgv("/s/idx", "/t/out", {3, 12});
  EXPECT_EQ(argv, (std::vector<std::string>{kRelTermTool, "-L", "10", "-D", "/s/idx/relterm", "-o",
                                            "/t/out", "-n", "3", "12"}));
}

RemoteViewRequest snippetRequest() {
  RemoteViewRequest r;
  r.mode = kViewModeSnippet;
  r.user = "carol smith%" + F;
  r.owner = "demo";
  r.index = "068812";
  r.ids = {3, 17};
  r.number = 220;
  r.terms = {"tax", "a b", "50%", "re" + E + "port*"};
  return r;
}

TEST(RecordViewRequest, ReadsBackWhatIsWrittenWhateverTheTexts) {
  const RemoteViewRequest r = snippetRequest();
  std::string bytes, again;
  ASSERT_TRUE(buildRecordViewRequest(r, bytes));
  EXPECT_EQ(bytes, std::string(kRecordViewCommand) + OP + "snippet" + F +
                       "carol smith%25%12%13%14" + F + "demo" + F + "068812" + F + "3 17 " + F +
                       "220" + F + "tax a%20b 50%25 " + "re%15%16%17port*" + E + END);
  RemoteViewRequest back;
  ASSERT_TRUE(parseRecordViewRequest(bytes, back));
  EXPECT_EQ(back.user, r.user);
  EXPECT_EQ(back.terms, r.terms);
  ASSERT_TRUE(buildRecordViewRequest(back, again));
  EXPECT_EQ(again, bytes);
}

TEST(RecordViewRequest, EachModeTakesOnlyItsCounts) {
  const std::vector<std::pair<std::function<void(RemoteViewRequest&)>, bool>> cases = {
      {[](RemoteViewRequest& r) { r.mode = kViewModeText; }, false},  // two ids, a number
      {[](RemoteViewRequest& r) { r.mode = kViewModeText, r.ids = {3}; }, false},
      {[](RemoteViewRequest& r) { r.mode = kViewModeText, r.ids = {3}, r.number = 0; }, true},
      {[](RemoteViewRequest& r) { r.mode = kViewModeSimilar, r.ids = {3}, r.number = 1; }, true},
      {[](RemoteViewRequest& r) { r.mode = "other"; }, false},
      {[](RemoteViewRequest& r) { r.ids.assign(kMaxViewRecords + 1, 1); }, false},
      {[](RemoteViewRequest& r) { r.ids = {0}; }, false},
      {[](RemoteViewRequest& r) { r.number = 0; }, false},  // a snippet of no bytes
      {[](RemoteViewRequest& r) { r.index = "a" + F; }, false},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    RemoteViewRequest r = snippetRequest(), back;
    cases[i].first(r);
    std::string bytes;
    EXPECT_EQ(buildRecordViewRequest(r, bytes), cases[i].second) << "case " << i;
    EXPECT_EQ(parseRecordViewRequest(bytes, back), cases[i].second) << "case " << i;
  }
}

TEST(RecordViewRequest, RefusesOtherSpellings) {
  const std::string head =
      std::string(kRecordViewCommand) + OP + "text" + F + F + "demo" + F + "x" + F;
  RemoteViewRequest r;
  EXPECT_TRUE(parseRecordViewRequest(head + "4 " + F + "0" + F + E + END, r));
  for (const std::string& bad : {
           head + "4" + F + "0" + F + E + END,          // the id's blank missing
           head + "04 " + F + "0" + F + E + END,        // a leading zero
           head + "4 " + F + "00" + F + E + END,        // a leading zero
           head + "4 " + F + "0" + F + E,               // no end mark
           head + "4 " + F + "0" + F + E + END + "x",   // bytes after it
           head + "4 " + F + "0" + F + E + E + END,     // a second group
           head + "4 " + F + "0" + E + END,             // a field missing
           head + "4 " + F + "0" + F + " t" + E + END,  // a stray blank
       })
    EXPECT_FALSE(parseRecordViewRequest(bad, r)) << bad;
}

// A record as it travels, every field set; its texts hold the delimiters, a
// "%" and a NUL.
const std::string kRecordFields = "1" + F + "a%12%13%14.txt" + F + "dir/a.txt" + F + "1700000000" +
                                  F + "0" + F + "Tax %2520 %15%16%17" + F + "line%00one" + F +
                                  "Caf\xC3\xA9" + F + "3" + F;
// Then one the user may not see.
const std::string kSnippets = kRecordFields + "12-1" + F + "-the \x1F+tax\x1F- %1F rules" + F +
                              "0" + F + F + F + F + F + F + F + F + "0" + F + F + F + E;

// Each reader takes what its writer gives, and written again, what it read
// comes out byte for byte: neither side drops or moves a field.
TEST(RecordViewAnswer, SnippetsReadBackAndCountTheRecordsAsked) {
  std::vector<RemoteRecordView> back;
  ASSERT_TRUE(parseSnippetAnswer(kSnippets, 2, back));
  EXPECT_EQ(back[0].fileName, "a" + F + ".txt");
  EXPECT_EQ(back[0].firstLine, std::string("line\0one", 8));
  EXPECT_TRUE(back[0].cutBefore && back[0].cutAfter && back[0].hasSize && back[0].size == 0);
  EXPECT_EQ(back[0].pieces, (std::vector<std::pair<std::string, bool>>{
                                {"the ", false}, {"tax", true}, {" \x1F rules", false}}));
  EXPECT_FALSE(back[1].found || back[1].hasTime);
  std::string again;
  for (const RemoteRecordView& v : back)
    appendSnippetRecord(v, again);
  closeSnippetAnswer(again);
  EXPECT_EQ(again, kSnippets);

  EXPECT_FALSE(parseSnippetAnswer(kSnippets, 1, back));
  EXPECT_FALSE(parseSnippetAnswer(kSnippets, 3, back));
  std::string refusal;
  buildReturnCodeAnswer(1041, refusal);
  EXPECT_FALSE(parseSnippetAnswer(refusal, 1, back));
  EXPECT_EQ(returnCodeOf(refusal), 1041);
  EXPECT_EQ(returnCodeOf(kSnippets), 0);
  // A similar-document record that is no record number is not taken.
  for (const char* similar : {"x2-1", "12-7"}) {
    std::string bad = kSnippets;
    bad.replace(bad.find("12-1"), 4, similar);
    EXPECT_FALSE(parseSnippetAnswer(bad, 2, back)) << similar;
  }
}

TEST(RecordViewAnswer, DocumentsCarryEveryByteAndSimilarTermsTheirList) {
  const std::string bytes = kRecordFields + E + std::string("bin\0ary", 7) + E + F + END;
  std::string body, again;
  RemoteRecordView view;
  ASSERT_TRUE(parseDocumentAnswer(bytes, view, body));
  EXPECT_EQ(body, bytes.substr(kRecordFields.size() + E.size()));
  buildDocumentAnswer(view, body, again);
  EXPECT_EQ(again, bytes);
  std::string refusal;
  buildReturnCodeAnswer(1044, refusal);
  EXPECT_FALSE(parseDocumentAnswer(refusal, view, body));

  std::string terms;
  for (const char* list : {"tax,rate,income", ""}) {
    buildSimilarAnswer(list, again);
    EXPECT_TRUE(parseSimilarAnswer(again, terms) && terms == list) << list;
  }
  EXPECT_FALSE(parseSimilarAnswer(refusal, terms));
  EXPECT_FALSE(parseSimilarAnswer("a" + F + "b" + F + E, terms));
}

using searchtest::sectionBytes;
using testutil::LoopbackServer;

class RemoteSearchTest : public ::testing::Test {
 protected:
  // The agent answers every request with answer_.
  RemoteSearchTest()
      : agent_("127.0.0.4",
               [this](const std::string&, int fd) { LoopbackServer::sendAll(fd, answer_); }) {
    setAgentHostsForTests("127.0.0.4:" + std::to_string(agent_.port()));
  }
  ~RemoteSearchTest() override { setAgentHostsForTests(std::nullopt); }

  // A job of three indexes at the stand-in agent (or at `port`).
  int run(const std::string& port = "") {
    const std::string p = port.empty() ? std::to_string(agent_.port()) : port;
    job_.initialize(option_.c_str(), "127.0.0.4", "alice", "news", p.c_str(), fgRemote, nullptr,
                    " ", "doc", "date", "a", "*", 5, 0, 0, -1);
    job_.concate("bob", "mail", "N" + F + "3" + F, "db");
    job_.concate("carol", "old", " ", "doc");
    return job_.Execute();
  }

  std::string answer_;
  std::string option_ = "-q \"tax\"";
  LoopbackServer agent_;
  velaSearch job_;
};

// Sections of the three indexes; zero scores and dates are zero bytes.
const std::string kBlock = sectionBytes({{0, 1}, {7, 2}}, std::string("\0\x05", 2)) +
                           sectionBytes({}, "") + sectionBytes({{3, 9}}, std::string(1, '\0'));

TEST_F(RemoteSearchTest, OneRequestForAllIndexesAndTheBlockKeptWhole) {
  buildRemoteSearchAnswer("tax", 3, kBlock, answer_);
  ASSERT_EQ(run(), 0);
  EXPECT_EQ(job_.m_numRec, 3);
  EXPECT_EQ(job_.m_indexHits, (std::vector<int>{2, 0, 1}));  // each index its own
  EXPECT_EQ(job_.m_returnQuery, "tax");
  EXPECT_EQ(job_.m_velaResult, kBlock);

  ASSERT_EQ(agent_.requests().size(), 1u);
  RemoteSearchRequest sent;
  ASSERT_TRUE(parseRemoteSearchRequest(agent_.requests()[0], sent));
  EXPECT_EQ(
      std::tie(sent.velaOption, sent.sortField, sent.beginFile, sent.beginTime, sent.host),
      std::make_tuple(option_, std::string("date"), std::string("a"), 5, std::string("127.0.0.4")));
  ASSERT_EQ(sent.indexes.size(), 3u);
  EXPECT_EQ(sent.indexes[1].owner + "/" + sent.indexes[1].idxName + "/" + sent.indexes[1].dbType,
            "bob/mail/db");
  EXPECT_EQ(sent.indexes[1].sbfString, "N" + F + "3" + F);
  EXPECT_EQ(sent.indexes[2].idxName, "old");
}

TEST_F(RemoteSearchTest, AnswersThatCannotBeMergedAreRefused) {
  struct Case {
    std::string answer;
    int code;
  } cases[] = {
      {"RETURN_CODE" + F + "1017" + E, 1017},
      {"tax" + F + "3", kRemoteBadAnswer},                                            // only F
      {"tax" + F + "0" + E, 0},                                                       // no block
      {"tax" + F + "3" + E + kBlock.substr(0, kBlock.size() - 1), kRemoteBadAnswer},  // cut
      {"tax" + F + "3" + E + kBlock + "x", kRemoteBadAnswer},  // bytes after the sections
      {"tax" + F + "2" + E + kBlock, kRemoteBadAnswer},        // hits disagree
      {"tax" + F + "3" + E + sectionBytes({{0, 1}, {7, 2}, {3, 9}}, std::string(3, '\0')),
       kRemoteBadAnswer},                       // one section for three indexes
      {"tax" + F + "1" + E, kRemoteBadAnswer},  // hits without a block
  };
  for (const Case& c : cases) {
    answer_ = c.answer;
    EXPECT_EQ(run(), c.code) << c.answer;
    if (c.code != 0) {
      EXPECT_EQ(job_.m_numRec, 0);
      EXPECT_EQ(job_.m_velaResult, "");
    }
  }
}

TEST_F(RemoteSearchTest, NothingIsSentWithoutAPortOrWithAnUnframableText) {
  for (const char* port : {"0", "x", "-1", "65536", "80a"})
    EXPECT_EQ(run(port), kRemoteBadPort);
  option_ = "-q \"a" + F + "b\"";
  EXPECT_EQ(run(), kRemoteBadRequest);
  EXPECT_TRUE(agent_.requests().empty());
}

// The host and port of a job come with the request: an agent the settings
// do not list is never connected to, whatever the request says.
TEST_F(RemoteSearchTest, OnlyAListedAgentIsConnectedTo) {
  const std::string port = std::to_string(agent_.port());
  for (const char* list : {"", "127.0.0.5:", "127.0.0.4:1", "127.0.0.44:"}) {
    const std::string text = list[0] && list[std::strlen(list) - 1] == ':' ? list + port : list;
    setAgentHostsForTests(text);
    EXPECT_EQ(run(), kRemoteUnreachable) << text;
  }
  EXPECT_TRUE(agent_.requests().empty());
  setAgentHostsForTests("10.0.0.1:80, 127.0.0.4:" + port);
  answer_ = "0" + E;
  run();
  EXPECT_EQ(1u, agent_.requests().size());
}

}  // namespace
