/// @file remote_search_test.cc
/// @brief The remote job against a stand-in agent on a loopback address:
/// what it sends, and which answers it takes or refuses.

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "search/remote_request.h"
#include "search/vela_search.h"
#include "system/agent_hosts.h"
#include "tests/loopback_server.h"
#include "tests/search/search_test_util.h"

namespace {

using searchtest::END;
using searchtest::FD;
using searchtest::sectionBytes;
using testutil::LoopbackServer;

const std::string F("\x12\x13\x14"), E("\x15\x16\x17");

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
