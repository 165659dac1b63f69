/// @file record_merge_test.cc
/// @brief The merge: which jobs a list yields, how finished jobs' blocks become
/// the two arrays, and how a broken block or search ends a request; and
/// ordering of merged hits: key comparison, the sort against a stable
/// reference, and the direction in which the writer takes the array.

#include "assemble/record_merge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "assemble/result_order.h"
#include "search/uint7.h"
#include "system/layout.h"
#include "tests/test_util.h"

namespace {

const std::string F("\x12\x13\x14", 3), E("\x15\x16\x17", 3), V("\x12\x14\x16", 3);

std::string u7(std::initializer_list<uint32_t> values) {
  std::string out;
  for (uint32_t v : values)
    g_addUInt_7U(v, out);
  return out;
}

// One block section: n F (score, recid) pairs F key length + 3 F keys E.
std::string section(int n, const std::string& pairs, const std::string& keys = "") {
  return std::to_string(n) + F + pairs + F + std::to_string(keys.size() + 3) + F + keys + E;
}

// A finished job over the indexes `names` (each its own owner).
velaSearch job(const std::vector<std::string>& names, const std::string& block, int numRec,
               const std::string& ip = "127.0.0.1") {
  velaSearch j;
  j.m_ipAddr = ip;
  j.m_owner = j.m_idxName = names;
  j.m_numDb = static_cast<int>(names.size());
  j.m_velaResult = block;
  j.m_numRec = numRec;
  return j;
}

bool isLoopback(const char* ip) {
  return std::strncmp(ip, "127.", 4) == 0;
}

velaSearchList entry(const std::string& ip, const std::string& name, const char* type = "doc") {
  return {ip, name, name, "9000", "", type};
}

// "index:hits recids" per index, then "index/score/recid/key" per hit.
std::string dump(const RecordList& list, bool textKeys = false) {
  std::string out;
  for (const dbMapping& db : list.dbMap)
    out += db.idxName + ":" + std::to_string(db.numRec) + " " + db.recid_list + "| ";
  for (const recordMapping& r : list.recMap) {
    out += std::to_string(r.databaseNum) + "/" + std::to_string(r.score) + "/" +
           std::to_string(r.recid) + "/" +
           (textKeys ? std::string(r.sortField.text) : std::to_string(r.sortField.number)) + " ";
  }
  return out;
}

class RecordMergeTest : public ::testing::Test {
 protected:
  const char* merge(std::vector<velaSearch> jobs, const char* sortField) {
    return mergeJobResults(jobs, sortField, retQuery_, keepFirstRetQuery, out_);
  }
  char retQuery_[kQuerySize] = "";
  RecordList out_;
};

TEST(RecordMergePlan, JobsFollowTheListAndBundleRemoteHosts) {
  VelaSearchListVector list = {entry("10.0.0.5", "a"),        entry("127.0.0.1", "b"),
                               entry("10.0.0.5", "c", "db"),  entry("10.0.0.6", "d"),
                               entry("127.0.0.1", "e", "db"), entry("10.0.0.5", "f")};
  // Per job 'L'ocal or 'R'emote and its list positions.
  auto plan = [&](int searchNum, bool property) {
    std::string jobs;
    for (const SearchJobPlan& p : planSearchJobs(list, searchNum, property, isLoopback)) {
      jobs += p.where == fgLocal ? "L" : "R";
      for (size_t i : p.entries)
        jobs += std::to_string(i);
      jobs += " ";
    }
    return jobs;
  };
  EXPECT_EQ("R025 L1 R3 L4 ", plan(0, false));
  EXPECT_EQ("R05 L1 R3 ", plan(0, true));  // database indexes take no property search
  EXPECT_EQ("L4 ", plan(5, false));
  EXPECT_EQ("", plan(3, true) + plan(7, false) + plan(-1, false));
  // Indexes the request named again keep their places but are searched once.
  list.push_back(list[1]);
  list.push_back(list[3]);
  EXPECT_EQ("R025 L1 R3 L4 ", plan(0, false));
  EXPECT_EQ("L6 ", plan(7, false));
  EXPECT_EQ("R7 ", plan(8, true));
  // The field filter goes to the local jobs only: a remote host filters its own.
  struct NoFields final : FieldSearchFilter {
    bool loadFieldSettings(const std::string&, const std::string&) override { return false; }
    int filterFieldResult(const VelaOut&, VelaOut**) override { return 0; }
  } fields;
  SearchRequest request;
  request.fieldFilter = &fields;
  std::vector<velaSearch> jobs;
  ASSERT_EQ(nullptr, createSearchJobs(list, planSearchJobs(list, 0, false, isLoopback), request,
                                      "-opt ", jobs));
  EXPECT_EQ((std::vector<std::string>{"a", "c", "f"}), jobs[0].m_idxName);
  for (const velaSearch& job : jobs)
    EXPECT_EQ(job.m_fieldFilter, job.m_fgLocalRemote == fgLocal ? &fields : nullptr);
}

// The filters of other layers reach each job through the request, before it
// runs; a failing job stops the rest and is named.
TEST(RecordMergeRun, JobsAreArmedInOrderAndTheFirstFailureStops) {
  struct Arm final : SearchJobFilters {
    void arm(velaSearch& job) override { armed += job.m_ipAddr + " "; }
    std::string armed;
  } arm;
  SearchRequest request;
  request.jobFilters = &arm;
  VelaSearchListVector list = {entry("10.0.0.5", "a"), entry("10.0.0.6", "b")};
  for (velaSearchList& e : list)
    e.port = "0";  // refused before any network traffic
  std::vector<velaSearch> jobs;
  ASSERT_EQ(nullptr, createSearchJobs(list, planSearchJobs(list, 0, false, isLoopback), request,
                                      "-opt ", jobs));
  size_t failed = 99;
  // A remote job without a port fails at once: the first stops the run.
  EXPECT_STREQ(kMsgSearchFailed, runSearchJobs(jobs, request, &failed));
  EXPECT_EQ(failed, 0u);
  EXPECT_EQ(arm.armed, "10.0.0.5 ");
}

TEST_F(RecordMergeTest, NumberKeysInJobOrder) {
  // r2 has no hits; zero scores and dates are zero bytes.
  std::vector<velaSearch> jobs;
  jobs.push_back(job({"r1", "r2", "r3"},
                     section(1, u7({7, 1}), u7({50})) + section(0, "") +
                         section(2, u7({0, 2, 9, 3}), u7({0, 0x80000000u})),
                     3, "10.0.0.5"));
  jobs.push_back(job({"loc"}, section(1, u7({5, 4}), u7({20})), 1));
  ASSERT_EQ(nullptr, merge(std::move(jobs), "date"));
  EXPECT_EQ("r1:1 1 | r2:0 | r3:2 2 3 | loc:1 4 | 0/7/1/50 2/0/2/0 2/9/3/-2147483648 3/5/4/20 ",
            dump(out_));
  EXPECT_EQ("10.0.0.5", out_.dbMap[2].ipAddr);
}

TEST_F(RecordMergeTest, TextKeysLongListsAndEmptyAnswers) {
  std::vector<velaSearch> jobs;
  jobs.push_back(job(
      {"a", "b"},
      section(2, u7({1, 1, 1, 2}), "carol" + V + V) + section(1, u7({1, 9}), "al\x12\x14ice" + V),
      3));
  jobs.push_back(job({"c", "d"}, "", 0));  // an agent answers no hits with an empty block
  ASSERT_EQ(nullptr, merge(std::move(jobs), "owner"));
  RecordList moved = std::move(out_);  // the keys must survive a move of the arrays
  EXPECT_EQ("a:2 1 2 | b:1 9 | c:0 | d:0 | 0/1/1/carol 0/1/2/ 1/1/9/al\x12\x14ice ",
            dump(moved, true));
  EXPECT_EQ(moved.dbMap[1].sortBuffer.get(), moved.recMap[2].sortField.text);

  std::string pairs, recids;
  for (uint32_t i = 1; i <= 150; ++i) {
    pairs += u7({i, 1000 + i});
    if (i <= 100) recids += std::to_string(1000 + i) + " ";
  }
  jobs.clear();
  jobs.push_back(job({"a"}, section(150, pairs), 150));
  ASSERT_EQ(nullptr,
            mergeJobResults(jobs, "relevance", retQuery_, keepFirstRetQuery, moved = RecordList()));
  EXPECT_EQ(recids, moved.dbMap[0].recid_list);
  EXPECT_EQ(nullptr, moved.dbMap[0].sortBuffer);
  EXPECT_EQ(0, moved.recMap[149].sortField.number);
}

TEST_F(RecordMergeTest, BrokenBlocksFailTheSearch) {
  // Sections the block reader refuses, and blocks that disagree with their job.
  const std::string good = section(2, u7({1, 2, 3, 4}), u7({5, 6}));
  const std::tuple<const char*, std::string, int, int> cases[] = {
      // what, block, hits the job reported, sections
      {"cut inside the pairs", good.substr(0, 5), 2, 1},
      {"second section missing", good, 2, 2},
      {"more hits than the job reported", good, 1, 1},
      {"fewer hits than the job reported", good, 3, 1},
      {"negative hit count", good, -1, 1},
  };
  for (const auto& [what, block, numRec, sections] : cases) {
    RecordList list;
    std::vector<velaSearch> jobs;
    jobs.push_back(job(std::vector<std::string>(sections, "x"), block, numRec));
    EXPECT_STREQ(kMsgSearchFailed,
                 mergeJobResults(jobs, "date", retQuery_, keepFirstRetQuery, list))
        << what;
  }
}

TEST_F(RecordMergeTest, ReportedQueriesAndMatchCounts) {
  std::vector<velaSearch> jobs;
  for (const char* query : {"", "alpha", "beta"}) {
    jobs.push_back(job({query}, section(0, ""), 0));
    jobs.back().m_returnQuery = query;
  }
  ASSERT_EQ(nullptr, merge(std::move(jobs), "score"));
  EXPECT_STREQ("alpha", retQuery_);  // the first one reported
  retQuery_[0] = '\0';
  keepFirstRetQuery(retQuery_, std::string(kQuerySize + 10, 'q').c_str());
  EXPECT_EQ(std::string(kQuerySize - 1, 'q'), retQuery_);
  // A larger buffer keeps the query to its own size.
  std::vector<char> wide(kQuerySize * 2, '\0');
  keepFirstRetQuery(wide.data(), wide.size(), std::string(kQuerySize * 3, 'q').c_str());
  EXPECT_EQ(std::string(kQuerySize * 2 - 1, 'q'), wide.data());

  VelaSearchListVector list = {entry("127.0.0.1", "a"), entry("10.0.0.5", "r1"),
                               entry("10.0.0.5", "r2"), entry("127.0.0.1", "unsearched")};
  jobs.clear();
  jobs.push_back(job({"a"}, "", 4));
  jobs.push_back(job({"r1", "r2"}, "", 7, "10.0.0.5"));
  // A remote job's indexes each get their own hits, not the host's.
  jobs.back().m_indexHits = {3, 4};
  storeMatchCounts(list, jobs);
  std::string counts;
  for (const velaSearchList& e : list)
    counts += std::to_string(e.m_match) + " ";
  EXPECT_EQ("4 3 4 -1 ", counts);
}

TEST(GetRecordList, MessagesThatEndTheRequest) {
  testutil::TempDir dir;
  testutil::ScopedCwd cwd(testutil::makeInstallSkeleton(dir.path()));
  testutil::writeFile(dir.sub("host_address"), "10.0.0.1\n");
  systemResetCaches();
  RecordList out;
  char retQuery[kQuerySize] = "";
  // The message that ends the request, and the index the page names.
  auto run = [&](VelaSearchListVector list, int dbNum, int remoteNotFound) {
    MergeRequest request;
    request.dbNum = dbNum;
    request.remoteIndexNotFound = remoteNotFound;
    request.retQuery = retQuery;
    const MergeOutcome outcome = getRecordList(list, 0, request, out);
    return std::string(outcome.message ? outcome.message : "none") + " " + outcome.failedIndex;
  };
  EXPECT_EQ("1065 ", run({}, 0, 1));
  EXPECT_EQ("1003 ", run({}, 0, 0));
  VelaSearchListVector far = {entry("10.9.8.7", "far")};
  far[0].port = "0";  // refused before any network traffic
  far[0].desc = "Far away";
  EXPECT_EQ("0004 Far away", run(far, 1, 0));
  EXPECT_TRUE(out.empty());
  systemResetCaches();
}

using Ids = std::vector<uint32_t>;

RecordSortKey txt(const char* t) {
  RecordSortKey k;
  k.text = t;
  return k;
}

// One hit per number key; the record id is the merge position, so stability shows.
std::vector<recordMapping> hits(const std::vector<int32_t>& keys) {
  std::vector<recordMapping> out;
  for (size_t i = 0; i < keys.size(); ++i)
    out.push_back({0, static_cast<uint32_t>(i), static_cast<uint32_t>(i), RecordSortKey{keys[i]}});
  return out;
}

Ids recids(const std::vector<recordMapping>& hits) {
  Ids out;
  for (const recordMapping& h : hits)
    out.push_back(h.recid);
  return out;
}

TEST(ResultOrder, CompareNumbersSignedAndTextsBytewise) {
  EXPECT_EQ(-1, compare(RecordSortKey{INT32_MIN}, RecordSortKey{INT32_MAX}, kCompareNumber));
  EXPECT_EQ(1, compare(txt("\xE0"), txt("z"), 5));  // any mode but 1 compares bytes
}

TEST(ResultOrder, SortIsStableForAnyOrderAndSize) {
  // Runs already in key order once made the sort quadratic and one stack frame per hit deep.
  std::mt19937 rng(42);
  std::vector<int32_t> shuffled(3000), descending(200000);
  for (int32_t& key : shuffled)
    key = static_cast<int32_t>(rng() % 7) - 3;
  for (size_t i = 0; i < descending.size(); ++i)
    descending[i] = static_cast<int32_t>((descending.size() - i) / 3);
  for (const auto& keys : {shuffled, descending}) {
    std::vector<recordMapping> got = hits(keys), want = got;
    std::stable_sort(want.begin(), want.end(), [](const recordMapping& a, const recordMapping& b) {
      return a.sortField.number < b.sortField.number;
    });
    for (int pass = 0; pass < 2; ++pass) {  // the second pass sorts a sorted array
      sortByRec(got.data(), 0, static_cast<int>(got.size()) - 1, kCompareNumber);
      EXPECT_EQ(recids(want), recids(got));
    }
  }
  std::vector<recordMapping> texts = hits({0, 0, 0, 0, 0});
  const char* keys[] = {"b", "a", "b", "A", "\xE0"};
  for (size_t i = 0; i < 5; ++i)
    texts[i].sortField = txt(keys[i]);
  sortByRec(texts.data(), 0, 4, kCompareText);
  EXPECT_EQ((Ids{3, 1, 0, 2, 4}), recids(texts));
  std::vector<recordMapping> some = hits({9, 3, 2, 1, 0});
  some[2].databaseNum = 7;
  sortByRec(some.data(), 1, 3, kCompareNumber);  // only the range, whole hits moving
  sortByRec(some.data(), 3, 1, kCompareNumber);  // an empty range
  EXPECT_EQ((Ids{0, 3, 2, 1, 4}), recids(some));
  EXPECT_EQ(7u, some[2].databaseNum);
}

TEST(ResultOrder, WhenTheRunSorts) {
  EXPECT_EQ(-1, resultSortMode("score", 1, 0));  // one index keeps the engine's order
  EXPECT_EQ(kCompareNumber, resultSortMode("score", 2, 0));
  EXPECT_EQ(kCompareNumber, resultSortMode("score", 1, 1));
  EXPECT_EQ(-1, resultSortMode("index", 3, 1));
  EXPECT_EQ(-1, resultSortMode("none", 3, 0));
  EXPECT_EQ(kCompareText, resultSortMode("DB_price", 2, 0));
}

TEST(ResultOrder, WhatTheWriterTakes) {
  // Sort field, order, scores (also the record ids), outCount, the array positions written.
  const std::tuple<const char*, const char*, Ids, unsigned long, std::vector<unsigned long>>
      cases[] = {
          {"score", "asc", {80, 60, 40}, 9, {2, 1, 0}},
          {"score", "desc", {40, 40, 60}, 9, {2, 1, 0}},  // the first score that differs counts
          {"score", "asc", {5, 5}, 9, {1, 0}},            // equal scores run desc
          {"index", "asc", {9, 5, 7}, 9, {0, 1, 2}},      // merge order is never reversed
          {"none", "desc", {3, 3, 8}, 9, {2, 1, 0}},
          {"none", "asc", {4, 1, 9}, 1, {0}},  // ids beyond outCount are not looked at
          {"date", "desc", {1, 2, 3, 4, 5}, 2, {4, 3}},
          {"score", "desc", {}, 9, {}},
      };
  for (const auto& [field, order, scores, outCount, positions] : cases) {
    std::vector<recordMapping> array;
    for (uint32_t s : scores)
      array.push_back({0, s, s, RecordSortKey{0}});
    const OutputOrder taken = outputOrder(array.data(), array.size(), outCount, field, order);
    std::vector<unsigned long> written;
    for (unsigned long i = 0; i < taken.count; ++i)
      written.push_back(taken.at(i));
    EXPECT_EQ(positions, written) << field << " " << order << " " << scores.size();
  }
}

}  // namespace
