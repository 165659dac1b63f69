/// @file local_search_test.cc
/// @brief A local search job end to end, with stand-in engine programs that
/// copy a prepared result file: which commands run, how org and inc hits are
/// numbered and filtered, and the block the merge receives.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "front/request_state.h"
#include "search/index_lists.h"
#include "search/process_runner.h"
#include "search/vela_search.h"
#include "system/layout.h"
#include "tests/search/search_test_util.h"
#include "tests/test_util.h"

namespace {

using namespace searchtest;
using testutil::readFile;
using testutil::writeFile;

const char* const kOption = " -B0 -bm \"-s -i -F60 -w\" 'a b' ";

// The section of `hits` sorted by score.
std::string scored(const std::vector<Hit>& hits) {
  std::vector<uint32_t> scores;
  for (const Hit& h : hits)
    scores.push_back(h.score);
  return sectionBytes(hits, numberKeys(scores));
}

// A stand-in for every search program: it notes its arguments and copies
// "fake.binout" of the index it is pointed at (-H, or the directory of -I)
// to its output; "fake.fail" makes it fail the way the programs do.
const char* const kFakeProgram = R"SH(#!/bin/sh
echo "$(basename "$0") $*" >> "$(dirname "$0")/calls"
out=""; home=""
while [ $# -gt 0 ]; do
  case "$1" in
    -H) home="$2"; shift ;;
    -I) home="$(dirname "$2")"; shift ;;
    -o|-O) out="$2"; shift ;;
  esac
  shift
done
[ -f "$home/fake.fail" ] && exit 205
[ -f "$home/fake.binout" ] && cp "$home/fake.binout" "$out"
exit 0
)SH";

class LocalSearchTest : public ::testing::Test {
 protected:
  LocalSearchTest()
      : cgi_(testutil::makeInstallSkeleton(root_.path())),
        cwd_(cgi_),
        ownerHome_(root_.sub("sys/group/dom/User/alice")) {
    writeFile(root_.sub("setting/system_info.cfg"),
              "SYSTEM_DIRECTORY=" + root_.sub("sys") + "\nDOMAIN_NAME=dom\n");
    for (const char* program : {"vela25_0.exe", "date_range.exe", "digit_index.exe"}) {
      const std::string path = root_.sub(std::string("binind/") + program);
      writeFile(path, kFakeProgram);
      ::chmod(path.c_str(), 0755);
    }
    testutil::makeDirs(home("news"));
    systemResetCaches();
    log_ = std::fopen(root_.sub("logs/run.log").c_str(), "w");
    incRuns_ = nExecuteIncIndxCount;
  }
  ~LocalSearchTest() override {
    std::fclose(log_);
    systemResetCaches();
  }

  std::string home(const std::string& index) const { return ownerHome_ + "/index/" + index; }
  void index(const std::string& name, uint32_t count, const std::vector<Hit>& hits,
             const char* matched = "a b") {
    writeRecordCount(home(name), count);
    writeFile(home(name) + "/fake.binout", binoutFile(matched, hits));
  }
  // The programs run so far, one line each: name and arguments.
  std::string calls() const { return readFile(root_.sub("binind/calls")); }
  size_t runs() const {
    const std::string lines = calls();
    return static_cast<size_t>(std::count(lines.begin(), lines.end(), '\n'));
  }
  void init(const char* sort = "score", const char* dbType = "doc", int mode = 0,
            const std::string& sbf = " ", int32_t begin = 0, int32_t end = 0) {
    ASSERT_EQ(job_.initialize(kOption, "127.0.0.1", "alice", "news", "20001", fgLocal, log_, sbf,
                              dbType, sort, "*", "*", begin, end, mode, 3),
              0);
  }

  testutil::TempDir root_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
  std::string ownerHome_;
  FILE* log_ = nullptr;
  int incRuns_ = 0;
  velaSearch job_;
};

TEST_F(LocalSearchTest, OrgOnlyRunsOneCommand) {
  index("news", 50, {{9, 4}, {0, 7}}, "matched query");
  init();
  ASSERT_EQ(job_.Execute(), 0);
  EXPECT_EQ(runs(), 1u);
  EXPECT_EQ(calls().rfind("vela25_0.exe -H " + home("news") + " -binout", 0), 0u);
  EXPECT_EQ(job_.m_numRec, 2);
  EXPECT_EQ(job_.m_velaResult, scored({{9, 4}, {0, 7}}));
  EXPECT_EQ(job_.m_returnQuery, "matched query");
  EXPECT_EQ(nExecuteIncIndxCount, incRuns_);
}

TEST_F(LocalSearchTest, IncHitsFollowTheOrgRecordsAndSupersede) {
  index("news", 100, {{5, 1}, {6, 100}, {8, 50}}, "org");
  index("news_inc", 3, {{7, 2}}, "inc");
  // Records 100 and 50 of the org index were indexed again.
  writeFile(home("news_inc") + "/morna_incremental_idlist", coded(100) + coded(50));
  init();
  ASSERT_EQ(job_.Execute(), 0);
  EXPECT_EQ(runs(), 2u);
  EXPECT_NE(calls().find("\nvela25_0.exe -H " + home("news_inc") + " "), std::string::npos);
  EXPECT_EQ(job_.m_velaResult, scored({{5, 1}, {7, 102}}));
  EXPECT_EQ(job_.m_numRec, 2);
  EXPECT_EQ(job_.m_returnQuery, "org");
  EXPECT_EQ(nExecuteIncIndxCount, incRuns_ + 1);
}

TEST_F(LocalSearchTest, EmptyOrgResultStillSearchesTheInc) {
  writeRecordCount(home("news"), 40);  // the engine writes nothing
  index("news_inc", 2, {{3, 1}, {4, 2}}, "inc query");
  writeNumberList(home("news_inc"), kTimeList, {1000, 0});
  init("date");
  ASSERT_EQ(job_.Execute(), 0);
  EXPECT_EQ(runs(), 2u);
  EXPECT_EQ(job_.m_velaResult, sectionBytes({{3, 41}, {4, 42}}, coded(1000) + coded(0)));
  EXPECT_EQ(job_.m_returnQuery, "inc query");
}

TEST_F(LocalSearchTest, NoHitsGiveTheEmptySection) {
  index("news", 10, {});
  index("news_inc", 1, {});
  init("filename");
  ASSERT_EQ(job_.Execute(), 0);
  EXPECT_EQ(job_.m_velaResult, "0" + FD + FD + "3" + FD + END);
  EXPECT_EQ(job_.m_numRec, 0);
  EXPECT_EQ(job_.m_returnQuery, "");
}

TEST_F(LocalSearchTest, Failures) {
  index("news", 10, {{1, 1}});
  index("news_inc", 1, {{1, 1}});
  writeFile(home("news_inc") + "/fake.fail", "");
  init();
  EXPECT_EQ(job_.Execute(), kSearchIncNoStream);

  // A failed org run is a search without hits.
  std::remove((home("news_inc") + "/fake.fail").c_str());
  writeFile(home("news") + "/fake.fail", "");
  init();
  ASSERT_EQ(job_.Execute(), 0);
  EXPECT_EQ(job_.m_velaResult, scored({{1, 11}}));

  std::remove((home("news") + "/fake.fail").c_str());
  writeFile(home("news_inc") + "/morna_incremental_idlist", coded(11));
  init();
  EXPECT_EQ(job_.Execute(), 1019);

  writeFile(home("news") + "/fake.binout", "q\n" + coded(3) + coded(1));  // cut short
  init();
  EXPECT_EQ(job_.Execute(), kBinoutUnreadable);
}

TEST_F(LocalSearchTest, DatabaseColumnKeysThroughTheColumnMapping) {
  index("news", 3, {{5, 3}, {6, 1}});
  writeFile(ownerHome_ + "/db/news/column_mapping.txt",
            "t,x,1,title,text,0\nskipped,line\nt,x,1,price,int,x,7\n");
  writeDbFields(home("news"), 2, {{1, {"A", "10", "B", "20", "C", "30"}}});
  init("DB_price", "db");
  ASSERT_EQ(job_.Execute(), 0);
  EXPECT_EQ(job_.m_velaResult, sectionBytes({{5, 3}, {6, 1}}, "30" + VD + "10" + VD));

  init("DB_unknown", "db");  // a column the mapping does not know is column 0
  ASSERT_EQ(job_.Execute(), 0);
  EXPECT_EQ(job_.m_velaResult, sectionBytes({{5, 3}, {6, 1}}, "C" + VD + "A" + VD));
}

TEST_F(LocalSearchTest, DateRangeAndPropertyModes) {
  index("news", 5, {{1, 2}});
  index("news_inc", 5, {{1, 1}});
  // No time list: a date-range search does not filter by time again.
  init("score", "doc", kModeDateRange, " ", 100, 200);
  ASSERT_EQ(job_.Execute(), 0);
  EXPECT_EQ(
      calls().rfind("date_range.exe -search -H " + home("news") + " -B 100 -E 200 -binout -O ", 0),
      0u);
  EXPECT_NE(calls().find("\ndate_range.exe -search -H " + home("news_inc") + " "),
            std::string::npos);
  EXPECT_EQ(job_.m_numRec, 2);

  init("score", "db", 3);  // no property search on a database index
  ASSERT_EQ(job_.Execute(), 0);
  EXPECT_NE(calls().find("\nvela25_0.exe -H " + home("news") + " "), std::string::npos);
  EXPECT_EQ(job_.m_fg_search_file_name, 0);
}

TEST_F(LocalSearchTest, PartsNotBuiltYetAreReportedNotHidden) {
  index("news", 5, {{1, 2}});
  init("score", "doc", 3);
  EXPECT_EQ(job_.Execute(), kSearchNotAvailable);  // property search
  init("score", "doc", 0, "N1=abc");
  EXPECT_EQ(job_.Execute(), kSearchNotAvailable);  // field search
  EXPECT_EQ(runs(), 0u);

  ASSERT_EQ(job_.initialize(kOption, "10.0.0.9", "alice", "news", "20001", fgRemote, log_, " ",
                            "doc", "score", "*", "*", 0, 0, 0, -1),
            0);
  EXPECT_EQ(job_.concate("bob", "mail", " ", "doc"), 0);
  EXPECT_EQ(job_.m_numDb, 2);
  EXPECT_EQ(job_.Execute(), kSearchNotAvailable);
}

// Keeps the hits of odd records.
class OddRecords : public CFieldSearchFilter {
 public:
  bool loadFieldSettings(const std::string& sbfHome, const std::string& sbfString) override {
    homes.push_back(sbfHome);
    condition = sbfString;
    return loadable;
  }
  int filterFieldResult(const VelaOut& raw, VelaOut** out) override {
    std::vector<Hit> kept;
    for (int i = 0; i < raw.m_match_count; ++i)
      if (raw.m_rec[i].m_recid % 2 == 1)
        kept.push_back({uint32_t(raw.m_rec[i].m_score), uint32_t(raw.m_rec[i].m_recid)});
    if (kept.empty()) return kBinoutNoHits;
    *out = makeSet(kept).release();
    return 0;
  }
  std::vector<std::string> homes;
  std::string condition;
  bool loadable = true;
};

TEST_F(LocalSearchTest, FieldSearchRunsOnTheSbfIndexes) {
  writeRecordCount(home("news"), 10);
  writeRecordCount(home("news_inc"), 4);
  index("news_sbf", 10, {{1, 1}, {2, 2}, {3, 3}}, "field org");
  index("news_inc_sbf", 4, {{4, 1}, {5, 4}}, "field inc");
  OddRecords filter;
  init("score", "doc", 0, "N1=abc");
  job_.m_fieldFilter = &filter;
  ASSERT_EQ(job_.Execute(), 0);
  EXPECT_EQ(calls().rfind("vela25_0.exe -H " + home("news_sbf") + " ", 0), 0u);
  EXPECT_NE(calls().find("\nvela25_0.exe -H " + home("news_inc_sbf") + " "), std::string::npos);
  EXPECT_EQ(filter.condition, "N1=abc");
  EXPECT_EQ(filter.homes, std::vector<std::string>(2, home("news_sbf")));
  EXPECT_EQ(job_.m_velaResult, scored({{1, 1}, {3, 3}, {4, 11}}));
  EXPECT_EQ(job_.m_returnQuery, "field inc");

  filter.loadable = false;
  init("score", "doc", 0, "N1=abc");
  job_.m_fieldFilter = &filter;
  EXPECT_EQ(job_.Execute(), kSearchFieldSettings);
}

TEST_F(LocalSearchTest, NumericRangeFallsBackToAFieldSearchWithoutAFilterIndex) {
  index("news", 10, {{1, 6}});
  writeFile(home("news") + "/digit_3.filter.index", "");
  writeRecordCount(home("news_inc"), 4);
  index("news_inc_sbf", 4, {{4, 1}, {5, 2}});
  OddRecords filter;
  ASSERT_EQ(job_.initialize(" -B0 -bm \"-s -i -F60\" '[10-20]' ", "127.0.0.1", "alice", "news",
                            "20001", fgLocal, log_, "N3", "doc", "score", "*", "*", 0, 0, 0, 3),
            0);
  job_.m_fieldFilter = &filter;
  ASSERT_EQ(job_.Execute(), 0);
  EXPECT_EQ(calls().rfind("digit_index.exe search -I " + home("news") +
                              "/digit_3.filter.index -x 10 -y 20 -binout -O ",
                          0),
            0u);
  EXPECT_NE(calls().find("\nvela25_0.exe -H " + home("news_inc_sbf")), std::string::npos);
  EXPECT_EQ(job_.m_velaResult, scored({{1, 6}, {4, 11}}));
}

// Lets through only the given record.
class OnlyRecord : public CResultSetFilter {
 public:
  explicit OnlyRecord(int32_t recid) : recid_(recid) {}
  void filterResultSet(VelaOut& set) override {
    for (int i = 0; i < set.m_match_count; ++i) {
      if (set.m_rec[i].m_output_flag && set.m_rec[i].m_recid != recid_) {
        set.m_rec[i].m_output_flag = 0;
        --set.m_output_count;
      }
    }
  }

 private:
  int32_t recid_;
};

TEST_F(LocalSearchTest, AccessFiltersSeeTheirOwnSide) {
  index("news", 10, {{1, 1}, {2, 2}});
  index("news_inc", 3, {{3, 1}, {4, 2}});
  OnlyRecord org(2);
  OnlyRecord inc(1);
  init();
  job_.m_orgAclFilter = &org;
  job_.m_incAclFilter = &inc;
  ASSERT_EQ(job_.Execute(), 0);
  EXPECT_EQ(job_.m_velaResult, scored({{2, 2}, {3, 11}}));
}

TEST_F(LocalSearchTest, AccessRightsMarkers) {
  init();
  EXPECT_FALSE(job_.isNTFSIndex());
  EXPECT_FALSE(job_.isACLBuilderIndex());
  writeFile(home("news") + "/doc_ntfs.cfg", "1");
  writeFile(home("news") + "/acl_builder_option.cfg", "\n1\n");  // the first line only
  EXPECT_TRUE(job_.isNTFSIndex());
  EXPECT_FALSE(job_.isACLBuilderIndex());
}

TEST(ExecuteCmd, AFailedRunGivesNoStreamEvenWithAResultFile) {
  testutil::TempDir dir;
  const std::string result = dir.sub("query00001");
  writeFile(result, "");  // claimed, as scratch names are
  FILE* log = std::fopen(dir.sub("log").c_str(), "w");
  FILE* fp = ExecuteCmd("/bin/true", result.c_str(), log);
  ASSERT_NE(fp, nullptr);
  std::fclose(fp);
  EXPECT_EQ(ExecuteCmd("/bin/sh -c 'exit 205'", result.c_str(), log), nullptr);
  EXPECT_EQ(ExecuteCmd("/bin/sh -c 'kill -9 $$'", result.c_str(), log), nullptr);
  std::fclose(log);
  EXPECT_EQ(readFile(dir.sub("log")),
            "cmd:</bin/true>\ncmd:</bin/sh -c 'exit 205'>\ncommand failed\n"
            "cmd:</bin/sh -c 'kill -9 $$'>\ncommand failed\n");
}

}  // namespace
