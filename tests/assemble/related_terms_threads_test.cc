/// @file related_terms_threads_test.cc
/// @brief Related-term jobs in worker threads: all of them under way before
/// the first is read, each index given its own job's terms.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "assemble/related_terms.h"
#include "system/delimiters.h"
#include "system/layout.h"
#include "tests/test_util.h"

namespace {

// An installation whose host is 10.0.0.1: the indexes below are of others.
class RelatedTermThreads : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::writeFile(dir.sub("host_address"), "10.0.0.1\n");
    systemResetCaches();
  }
  void TearDown() override { systemResetCaches(); }
  testutil::TempDir dir;
  testutil::ScopedCwd cwd{testutil::makeInstallSkeleton(dir.path())};
};

std::vector<dbMapping> threeHosts() {
  std::vector<dbMapping> dbMap(3);
  for (int k = 0; k < 3; ++k) {
    dbMap[k].ipAddr = "192.0.2." + std::to_string(k + 1);  // never this host
    dbMap[k].szOwner = "ann";
    dbMap[k].idxName = "idx" + std::to_string(k);
    dbMap[k].port = "20001";
    dbMap[k].numRec = 1;
    dbMap[k].fgRelterm = 1;
    dbMap[k].recid_list = "1 ";
  }
  return dbMap;
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

TEST_F(RelatedTermThreads, AllJobsRunBeforeTheFirstIsRead) {
  std::vector<dbMapping> dbMap = threeHosts();
  MeetingAgent agent{3};
  const RelTermExchange exchange = [&agent](const std::string& h, uint16_t p, const std::string& r,
                                            std::string& a) { return agent(h, p, r, a); };
  EXPECT_EQ(3, getReltermString(dbMap, nullptr, 1000, exchange, true));
  EXPECT_EQ(3, agent.sawAll.load());
  for (const dbMapping& db : dbMap)
    EXPECT_EQ("t" + db.ipAddr + kFieldDelim + kGroupEndDelim, db.relterm_list);
}

TEST_F(RelatedTermThreads, WithoutThreadsJobsRunOneAfterAnother) {
  std::vector<dbMapping> dbMap = threeHosts();
  dbMap.resize(2);
  MeetingAgent agent{2, 300};
  const auto started = std::chrono::steady_clock::now();
  getReltermString(dbMap, nullptr, 1000,
                   [&agent](const std::string& h, uint16_t p, const std::string& r,
                            std::string& a) { return agent(h, p, r, a); });
  // The first job waited alone until its bound; only the second met it.
  EXPECT_EQ(1, agent.sawAll.load());
  EXPECT_LE(std::chrono::milliseconds(300), std::chrono::steady_clock::now() - started);
  EXPECT_EQ("t192.0.2.2" + std::string(kFieldDelim) + kGroupEndDelim, dbMap[1].relterm_list);
}

}  // namespace
