/// @file related_terms_test.cc
/// @brief The related-term jobs of a result: which indexes are asked about,
/// in which requests, and where their terms go; in worker threads, all of
/// them under way before the first is read. The agents are stood in for.

#include "assemble/related_terms.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

#include "search/remote_request.h"
#include "system/delimiters.h"
#include "system/layout.h"
#include "system/net_exchange.h"
#include "tests/test_util.h"

namespace {

const std::string F = kFieldDelim, E = kGroupEndDelim;

dbMapping index(const std::string& host, const std::string& name, unsigned long hits) {
  dbMapping db;
  db.ipAddr = host;
  db.szOwner = "alice";
  db.idxName = name;
  db.port = "20001";
  db.numRec = hits;
  db.fgRelterm = hits > 0;
  for (unsigned long i = 1; i <= std::min<unsigned long>(hits, kRecidListMax); ++i)
    db.recid_list += std::to_string(i) + " ";
  return db;
}

std::vector<dbMapping> indexes(std::vector<std::pair<std::string, unsigned long>> named) {
  std::vector<dbMapping> out;
  for (const auto& [name, hits] : named)
    out.push_back(index(name == "c" ? "10.0.0.3" : "10.0.0.2", name, hits));
  return out;
}

// This host is 10.0.0.1: the indexes of the tests lie elsewhere.
class RelatedTerms : public ::testing::Test {
 protected:
  void SetUp() override {
    cwd_ = testutil::makeInstallSkeleton(root_.path());
    testutil::writeFile(root_.sub("host_address"), "10.0.0.1\n");
    systemResetCaches();
    here_ = std::make_unique<testutil::ScopedCwd>(cwd_);
  }
  void TearDown() override {
    here_.reset();
    systemResetCaches();
  }
  testutil::TempDir root_;
  std::string cwd_;
  std::unique_ptr<testutil::ScopedCwd> here_;
};

struct StandIn {
  std::vector<std::string> requests;
  std::string answer;
  int result = kNetOk;
  RelTermExchange exchange() {
    return [this](const std::string&, uint16_t, const std::string& request, std::string& out) {
      requests.push_back(request);
      out = answer;
      return result;
    };
  }
};

TEST_F(RelatedTerms, IndexesOfOneHostShareOneRequest) {
  // c lies on another host.
  std::vector<dbMapping> dbMap = indexes({{"a", 250}, {"b", 0}, {"c", 1}, {"d", 2}, {"e", 3}});
  StandIn agent;
  agent.answer = "x" + F + E + E + "y" + F + "z" + F + E;
  EXPECT_EQ(getReltermString(dbMap, nullptr, 1000, agent.exchange()), 4);
  ASSERT_EQ(agent.requests.size(), 2u);
  // The first index asks about its first 100 hits only; the one without
  // hits is not asked about.
  const std::string& first = agent.requests[0];
  EXPECT_NE(first.find("a" + F + "20001" + F + "100" + F + "1 2 "), std::string::npos);
  EXPECT_NE(first.find("99 100 " + E), std::string::npos);
  EXPECT_EQ(first.find(F + "b" + F), std::string::npos);
  EXPECT_NE(first.find("d" + F + "20001" + F + "2" + F + "1 2 " + E), std::string::npos);
  EXPECT_EQ(dbMap[0].relterm_list, "x" + F + E);
  EXPECT_EQ(dbMap[3].relterm_list, E);
  EXPECT_EQ(dbMap[4].relterm_list, "y" + F + "z" + F + E);
  EXPECT_EQ(dbMap[1].relterm_list, "");
  // The other host's job read the same answer for one index: too many parts.
  EXPECT_EQ(dbMap[2].relterm_list, "");
}

TEST_F(RelatedTerms, AFailedJobLeavesItsIndexesWithoutTerms) {
  for (const auto& [answer, result] :
       {std::pair<std::string, int>{"RETURN_CODE" + F + "1042" + E, kNetOk},
        {"NO_DATA_FOUND", kNetOk},
        {"a" + F + E, kNetFailed}}) {
    std::vector<dbMapping> dbMap = indexes({{"a", 3}});
    dbMap[0].relterm_list = "stale";
    StandIn agent;
    agent.answer = answer;
    agent.result = result;
    getReltermString(dbMap, nullptr, 1000, agent.exchange());
    EXPECT_EQ(dbMap[0].relterm_list, "") << answer;
  }
  getRelterm job;
  job.initialize("10.0.0.2", "alice", "a", "0", 1, "1 ", fgRemote, nullptr);
  EXPECT_EQ(job.Execute(1000, StandIn().exchange()), kRemoteBadPort);
  EXPECT_EQ(job.getLocation(-1), 0);
  EXPECT_EQ(job.getLocation(0), -1);
}

TEST_F(RelatedTerms, NoIndexWithHitsMakesNoJob) {
  std::vector<dbMapping> dbMap = indexes({{"a", 0}});
  StandIn agent;
  EXPECT_EQ(getReltermString(dbMap, nullptr, 1000, agent.exchange()), 0);
  EXPECT_TRUE(agent.requests.empty());
}

// A stand-in agent: answers one term named after the host, once `expected`
// requests are under way at the same time (or after a bounded wait).
struct MeetingAgent {
  int expected;
  int boundMs = 3000;
  std::atomic<int> arrived{0};
  std::atomic<int> sawAll{0};

  int operator()(const std::string& host, uint16_t, const std::string&, std::string& answer) {
    ++arrived;
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMs);
    while (arrived.load() < expected && std::chrono::steady_clock::now() < until)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (arrived.load() >= expected) ++sawAll;
    answer = "t" + host + kFieldDelim + kGroupEndDelim;
    return 0;
  }
};

// Each index on a host of its own: one job each.
std::vector<dbMapping> separateHosts(int n) {
  std::vector<dbMapping> dbMap;
  for (int k = 0; k < n; ++k)
    dbMap.push_back(index("192.0.2." + std::to_string(k + 1), "idx" + std::to_string(k), 1));
  return dbMap;
}

TEST_F(RelatedTerms, InThreadsAllJobsRunBeforeTheFirstIsRead) {
  std::vector<dbMapping> dbMap = separateHosts(3);
  MeetingAgent agent{3};
  EXPECT_EQ(3, getReltermString(dbMap, nullptr, 1000, std::ref(agent), true));
  EXPECT_EQ(3, agent.sawAll.load());
  for (const dbMapping& db : dbMap)
    EXPECT_EQ("t" + db.ipAddr + kFieldDelim + kGroupEndDelim, db.relterm_list);
}

TEST_F(RelatedTerms, WithoutThreadsJobsRunOneAfterAnother) {
  std::vector<dbMapping> dbMap = separateHosts(2);
  MeetingAgent agent{2, 300};
  const auto started = std::chrono::steady_clock::now();
  getReltermString(dbMap, nullptr, 1000, std::ref(agent));
  // The first job waited alone until its bound; only the second met it.
  EXPECT_EQ(1, agent.sawAll.load());
  EXPECT_LE(std::chrono::milliseconds(300), std::chrono::steady_clock::now() - started);
  EXPECT_EQ("t192.0.2.2" + std::string(kFieldDelim) + kGroupEndDelim, dbMap[1].relterm_list);
}

// The ids a local job asks the related terms of: the first few of its hits,
// read as a stream reads words.
TEST(RelatedTermIds, FirstIdsOfAListSkipWordsThatAreNoId) {
  EXPECT_EQ(firstRecordIds("12 7 9 ", 2), (std::vector<uint32_t>{12, 7}));
  EXPECT_EQ(firstRecordIds("\t 12\n\v7\f\r9", 10), (std::vector<uint32_t>{12, 7, 9}));
  EXPECT_EQ(firstRecordIds("0 x 4294967296 -3 5x 4294967295 8", 10),
            (std::vector<uint32_t>{4294967295u, 8}));
  EXPECT_TRUE(firstRecordIds("   ", 5).empty());
  EXPECT_TRUE(firstRecordIds("1 2", 0).empty());
}

// A round made ahead of its reading asks nothing until finished, then fills
// the same terms as one call; finishing again does no work again.
TEST_F(RelatedTerms, ARoundAsksWhenFinishedAndOnlyOnce) {
  std::vector<dbMapping> dbMap = indexes({{"a", 2}, {"d", 1}});
  StandIn agent;
  agent.answer = "x" + F + E + "y" + F + E;
  RelTermRound round(dbMap, nullptr, 1000, agent.exchange());
  EXPECT_TRUE(agent.requests.empty());
  EXPECT_EQ(round.finish(), 2);
  EXPECT_EQ(agent.requests.size(), 1u);
  EXPECT_EQ(dbMap[0].relterm_list, "x" + F + E);
  EXPECT_EQ(dbMap[1].relterm_list, "y" + F + E);
  EXPECT_EQ(round.finish(), 2);
  EXPECT_EQ(agent.requests.size(), 1u);
}

}  // namespace
