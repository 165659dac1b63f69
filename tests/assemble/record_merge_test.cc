/// @file record_merge_test.cc
/// @brief The merge: which jobs a list yields, how finished jobs' blocks
/// become the two arrays, and how a broken block or search ends a request.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "assemble/record_merge.h"
#include "front/request_state.h"
#include "search/uint7.h"
#include "system/layout.h"
#include "tests/test_util.h"

namespace {

const std::string F("\x12\x13\x14", 3);
const std::string E("\x15\x16\x17", 3);
const std::string V("\x12\x14\x16", 3);

struct Hit {
  uint32_t score;
  uint32_t recid;
};

// One block section, written by hand: n F pairs F L F keys E.
std::string section(const std::vector<Hit>& hits, const std::string& keys = "") {
  std::string pairs;
  for (const Hit& h : hits) {
    g_addUInt_7U(h.score, pairs);
    g_addUInt_7U(h.recid, pairs);
  }
  return std::to_string(hits.size()) + F + pairs + F + std::to_string(keys.size() + 3) + F + keys +
         E;
}

std::string numberKeys(const std::vector<uint32_t>& values) {
  std::string out;
  for (uint32_t v : values)
    g_addUInt_7U(v, out);
  return out;
}

std::string textKeys(const std::vector<std::string>& texts) {
  std::string out;
  for (const std::string& t : texts)
    out += t + V;
  return out;
}

// A finished job holding `names` (owner/index pairs) on host `ip`.
velaSearch finishedJob(const std::string& ip, const std::vector<std::string>& names,
                       const std::string& block, int numRec, const std::string& query = "") {
  velaSearch job;
  job.m_ipAddr = ip;
  job.m_port = "9000";
  for (const std::string& name : names) {
    job.m_owner.push_back("owner_" + name);
    job.m_idxName.push_back(name);
  }
  job.m_numDb = static_cast<int>(names.size());
  job.m_velaResult = block;
  job.m_numRec = numRec;
  job.m_returnQuery = query;
  return job;
}

velaSearchList entry(const std::string& ip, const std::string& name,
                     const std::string& type = "doc") {
  velaSearchList e;
  e.ipAddr = ip;
  e.owner = "owner_" + name;
  e.idxName = name;
  e.port = "9000";
  e.dbType = type;
  return e;
}

bool loopback(const char* ip) {
  return std::strncmp(ip, "127.", 4) == 0;
}

// What a plan looks like: per job, 'L' or 'R' followed by its list positions.
std::vector<std::string> describe(const std::vector<SearchJobPlan>& plans) {
  std::vector<std::string> out;
  for (const SearchJobPlan& p : plans) {
    std::string s(1, p.where == fgLocal ? 'L' : 'R');
    for (size_t i : p.entries)
      s += std::to_string(i);
    out.push_back(s);
  }
  return out;
}

class RecordMergeTest : public ::testing::Test {
 protected:
  ~RecordMergeTest() override { g_addRetQuery = keepFirstRetQuery; }
  char retQuery[kQuerySize] = "";
  RecordList out;
};

TEST(RecordMergePlan, JobsFollowTheListAndBundleRemoteHosts) {
  const VelaSearchListVector list = {entry("10.0.0.5", "a"),        entry("127.0.0.1", "b"),
                                     entry("10.0.0.5", "c", "db"),  entry("10.0.0.6", "d"),
                                     entry("127.0.0.1", "e", "db"), entry("10.0.0.5", "f")};
  struct Case {
    int searchNum;
    bool property;
    std::vector<std::string> jobs;
  } cases[] = {
      {0, false, {"R025", "L1", "R3", "L4"}},
      {0, true, {"R05", "L1", "R3"}},  // database indexes are not property-searched
      {3, false, {"R2"}},
      {3, true, {}},
      {5, false, {"L4"}},
      {7, false, {}},
      {-1, false, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.jobs, describe(planSearchJobs(list, c.searchNum, c.property, loopback)))
        << "searchNum " << c.searchNum << " property " << c.property;
  }
}

TEST_F(RecordMergeTest, RemoteBundleAndLocalJobMergeInJobOrder) {
  const VelaSearchListVector list = {entry("10.0.0.5", "r1"), entry("127.0.0.1", "loc"),
                                     entry("10.0.0.5", "r2"), entry("10.0.0.5", "r3")};
  queryOptionTag options;
  std::strcpy(options.sortField, "date");
  options.beginTime = 100;
  std::vector<velaSearch> jobs;
  ASSERT_EQ(nullptr, createSearchJobs(list, planSearchJobs(list, 0, false, loopback), options,
                                      "-opt ", nullptr, jobs));
  ASSERT_EQ(2u, jobs.size());
  EXPECT_EQ(fgRemote, jobs[0].m_fgLocalRemote);
  EXPECT_EQ((std::vector<std::string>{"r1", "r2", "r3"}), jobs[0].m_idxName);
  EXPECT_EQ(3, jobs[0].m_numDb);
  EXPECT_EQ(fgLocal, jobs[1].m_fgLocalRemote);
  EXPECT_EQ("date", jobs[1].m_sortField);
  EXPECT_EQ(100, jobs[1].m_beginTime);

  // As if both had run: r2 has no hits; zero scores and dates are zero bytes.
  jobs[0].m_velaResult = section({{7, 1}}, numberKeys({50})) + section({}) +
                         section({{0, 2}, {9, 3}}, numberKeys({0, 0x80000000u}));
  jobs[0].m_numRec = 3;
  jobs[1].m_velaResult = section({{5, 4}}, numberKeys({20}));
  jobs[1].m_numRec = 1;
  ASSERT_EQ(nullptr, mergeJobResults(jobs, "date", retQuery, out));

  ASSERT_EQ(4u, out.dbCount());
  const char* names[] = {"r1", "r2", "r3", "loc"};
  const unsigned long counts[] = {1, 0, 2, 1};
  for (size_t d = 0; d < 4; ++d) {
    EXPECT_EQ(names[d], out.dbMap[d].idxName);
    EXPECT_EQ(counts[d], out.dbMap[d].numRec);
    EXPECT_EQ(counts[d] ? 1 : 0, out.dbMap[d].fgRelterm);
  }
  EXPECT_EQ("10.0.0.5", out.dbMap[2].ipAddr);
  EXPECT_EQ("", out.dbMap[1].recid_list);
  EXPECT_EQ("2 3 ", out.dbMap[2].recid_list);
  ASSERT_EQ(4u, out.recordCount());
  const uint32_t db[] = {0, 2, 2, 3}, scores[] = {7, 0, 9, 5}, ids[] = {1, 2, 3, 4};
  const int32_t dates[] = {50, 0, INT32_MIN, 20};
  for (size_t r = 0; r < 4; ++r) {
    EXPECT_EQ(db[r], out.recMap[r].databaseNum);
    EXPECT_EQ(scores[r], out.recMap[r].score);
    EXPECT_EQ(ids[r], out.recMap[r].recid);
    EXPECT_EQ(dates[r], out.recMap[r].sortField.number);
  }
  EXPECT_TRUE(jobs[0].m_velaResult.empty()) << "a job is released once read";
}

TEST_F(RecordMergeTest, TextKeysPointIntoTheirIndexBuffer) {
  std::vector<velaSearch> jobs;
  jobs.push_back(finishedJob("127.0.0.1", {"a", "b"},
                             section({{1, 1}, {1, 2}}, textKeys({"carol", ""})) +
                                 section({{1, 9}}, textKeys({"al\x12\x14ice"})),
                             3));
  ASSERT_EQ(nullptr, mergeJobResults(jobs, "owner", retQuery, out));
  RecordList moved = std::move(out);  // the keys must survive a move of the arrays
  ASSERT_EQ(3u, moved.recordCount());
  EXPECT_STREQ("carol", moved.recMap[0].sortField.text);
  EXPECT_STREQ("", moved.recMap[1].sortField.text);
  EXPECT_STREQ("al\x12\x14ice", moved.recMap[2].sortField.text);
  const char* buffer = moved.dbMap[1].sortBuffer.get();
  EXPECT_EQ(buffer, moved.recMap[2].sortField.text);
}

TEST_F(RecordMergeTest, FieldsWithoutKeysAndLongHitLists) {
  std::vector<Hit> hits;
  std::string expected;
  for (uint32_t i = 1; i <= 150; ++i) {
    hits.push_back({i, 1000 + i});
    if (i <= 100) expected += std::to_string(1000 + i) + " ";
  }
  std::vector<velaSearch> jobs;
  jobs.push_back(finishedJob("127.0.0.1", {"a"}, section(hits), 150));
  ASSERT_EQ(nullptr, mergeJobResults(jobs, "relevance", retQuery, out));
  EXPECT_EQ(expected, out.dbMap[0].recid_list);
  EXPECT_EQ(nullptr, out.dbMap[0].sortBuffer);
  ASSERT_EQ(150u, out.recordCount());
  EXPECT_EQ(0, out.recMap[149].sortField.number);
  EXPECT_EQ(1150u, out.recMap[149].recid);
}

TEST_F(RecordMergeTest, EmptyAgentAnswerStandsForEmptySections) {
  std::vector<velaSearch> jobs;
  jobs.push_back(finishedJob("10.0.0.5", {"a", "b", "c"}, "", 0));
  ASSERT_EQ(nullptr, mergeJobResults(jobs, "score", retQuery, out));
  EXPECT_EQ(3u, out.dbCount());
  EXPECT_EQ(0u, out.recordCount());
}

TEST_F(RecordMergeTest, BrokenBlocksFailTheSearch) {
  const std::string good = section({{1, 2}, {3, 4}}, numberKeys({5, 6}));
  std::string noMiddle = good;
  noMiddle.erase(noMiddle.find(F, 2), 3);
  struct Case {
    const char* what;
    std::string block;
    int numRec;
    int sections;
  } cases[] = {
      {"middle delimiter missing", noMiddle, 2, 1},
      {"end delimiter missing", good.substr(0, good.size() - 3) + "xyz", 2, 1},
      {"cut inside the pairs", good.substr(0, 5), 2, 1},
      {"cut inside the keys", good.substr(0, good.size() - 4), 2, 1},
      {"key length past the block", "1" + F + "\x01\x01" + F + "999" + F + "\x01" + E, 1, 1},
      {"count not a number", "x" + F + F + "3" + F + E, 0, 1},
      {"second section missing", good, 2, 2},
      {"more hits than the job reported", good, 1, 1},
      {"fewer hits than the job reported", good, 3, 1},
      {"negative hit count", good, -1, 1},
  };
  for (const Case& c : cases) {
    std::vector<velaSearch> jobs;
    jobs.push_back(
        finishedJob("127.0.0.1", std::vector<std::string>(c.sections, "x"), c.block, c.numRec));
    RecordList list;
    EXPECT_STREQ(kMsgSearchFailed, mergeJobResults(jobs, "date", retQuery, list)) << c.what;
  }
}

TEST_F(RecordMergeTest, ReportedQueriesGoThroughTheMergeHook) {
  static std::vector<std::string> seen;
  seen.clear();
  g_addRetQuery = [](char*, const char* text) { seen.push_back(text); };
  std::vector<velaSearch> jobs;
  jobs.push_back(finishedJob("127.0.0.1", {"a"}, section({}), 0, "alpha"));
  jobs.push_back(finishedJob("127.0.0.1", {"b"}, section({}), 0, ""));
  jobs.push_back(finishedJob("127.0.0.1", {"c"}, section({}), 0, "beta"));
  ASSERT_EQ(nullptr, mergeJobResults(jobs, "score", retQuery, out));
  EXPECT_EQ((std::vector<std::string>{"alpha", "beta"}), seen);

  keepFirstRetQuery(retQuery, "first");
  keepFirstRetQuery(retQuery, "second");
  EXPECT_STREQ("first", retQuery);
  std::string longQuery(kQuerySize + 10, 'q');
  retQuery[0] = '\0';
  keepFirstRetQuery(retQuery, longQuery.c_str());
  EXPECT_EQ(static_cast<size_t>(kQuerySize - 1), std::strlen(retQuery));
}

TEST(RecordMergeMatch, EveryEntryGetsTheCountOfItsJob) {
  VelaSearchListVector list = {entry("127.0.0.1", "a"), entry("127.0.0.1", "b"),
                               entry("10.0.0.5", "r1"), entry("10.0.0.5", "r2"),
                               entry("127.0.0.1", "unsearched")};
  std::vector<velaSearch> jobs;
  jobs.push_back(finishedJob("127.0.0.1", {"a"}, "", 4));
  jobs.push_back(finishedJob("127.0.0.1", {"b"}, "", 0));
  jobs.push_back(finishedJob("10.0.0.5", {"r1", "r2"}, "", 7));
  storeMatchCounts(list, jobs);
  const int expected[] = {4, 0, 7, 7, -1};
  for (size_t i = 0; i < list.size(); ++i)
    EXPECT_EQ(expected[i], list[i].m_match) << i;
}

// getRecordList against the process-wide request state.
class GetRecordListTest : public ::testing::Test {
 protected:
  GetRecordListTest() : saved_(queryOption), cwd_(testutil::makeInstallSkeleton(dir_.path())) {
    testutil::writeFile(dir_.sub("host_address"), "10.0.0.1\n");
    systemResetCaches();
    remote_index_not_found_count = 0;
  }
  ~GetRecordListTest() override {
    queryOption = saved_;
    remote_index_not_found_count = 0;
    systemResetCaches();
  }

  // Runs getRecordList; returns the exit status and the message code shown.
  int run(VelaSearchListVector& list, int searchNum, std::string& code) {
    int status = -1;
    cgi_msg_report.setAPIRetCode("none");
    testutil::captureStdout([&] { status = getRecordList(list, searchNum, out_); });
    code = cgi_msg_report.getAPIRetCode();
    return status;
  }

  queryOptionTag saved_;
  testutil::TempDir dir_;
  testutil::ScopedCwd cwd_;
  RecordList out_;
};

TEST_F(GetRecordListTest, RequestWithoutIndexes) {
  VelaSearchListVector list;
  std::string code;
  queryOption.dbNum = 0;
  EXPECT_EQ(kMergeExitStatus, run(list, 0, code));
  EXPECT_EQ(kMsgNoIndexSelected, code);
  remote_index_not_found_count = 1;
  EXPECT_EQ(kMergeExitStatus, run(list, 0, code));
  EXPECT_EQ(kMsgRemoteIndexNotFound, code);
  EXPECT_TRUE(out_.empty());
}

TEST_F(GetRecordListTest, FailedSearchEndsTheRequest) {
  // A remote host with port 0 is refused before any network traffic.
  VelaSearchListVector list = {entry("10.9.8.7", "far")};
  list[0].port = "0";
  queryOption.dbNum = 1;
  std::string code;
  EXPECT_EQ(kMergeExitStatus, run(list, 0, code));
  EXPECT_EQ(kMsgSearchFailed, code);
  EXPECT_TRUE(out_.empty());
}

TEST_F(GetRecordListTest, LocalIndexesWithoutHits) {
  // The installation has no engine: every local search finds nothing.
  VelaSearchListVector list = {entry("10.0.0.1", "a"), entry("10.0.0.1", "b")};
  queryOption.dbNum = 2;
  std::strcpy(queryOption.orgQuery, "typed");
  std::string code;
  EXPECT_EQ(0, run(list, 2, code));
  EXPECT_EQ("none", code);
  ASSERT_EQ(1u, out_.dbCount());
  EXPECT_EQ("b", out_.dbMap[0].idxName);
  EXPECT_EQ(0u, out_.recordCount());
  EXPECT_EQ(-1, list[0].m_match);
  EXPECT_EQ(0, list[1].m_match);
  EXPECT_STREQ("typed", queryOption.retQuery);
}

}  // namespace
