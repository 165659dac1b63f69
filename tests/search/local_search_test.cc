/// @file local_search_test.cc
/// @brief A local search job end to end, with stand-in engine programs that
/// copy a prepared result file: which commands run, how org and inc hits are
/// numbered and filtered, and the block the merge receives; and the last step
/// of a local search: the list files of an index read from files that are
/// short, cut or inconsistent, the file-name and time windows over the hits,
/// and the pairs and sort keys of the hits that stay.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "search/file_name_filter.h"
#include "search/index_lists.h"
#include "search/local_search_keys.h"
#include "search/vela_search.h"
#include "tests/search/search_test_util.h"
#include "tests/test_util.h"

namespace {

using namespace searchtest;
using testutil::writeFile;

// The section of `hits` sorted by score.
std::string scored(const std::vector<Hit>& hits) {
  std::vector<uint32_t> scores;
  for (const Hit& h : hits)
    scores.push_back(h.score);
  return sectionBytes(hits, numberKeys(scores));
}

// Stands in for every search program: notes its arguments and copies
// "fake.binout" of the index it is pointed at (-H, or the directory of -I)
// to its output; "fake.fail" makes it fail the way the programs do, and
// "fake.empty" write an empty result, as other engines answer "no hits".
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
[ -f "$home/fake.empty" ] && : > "$out"
[ -f "$home/fake.binout" ] && cp "$home/fake.binout" "$out"
exit 0
)SH";

// Stands in for the superseded-record filter: deselects the org records it
// is told, or fails with the code it is told; notes how it was called.
class FakeIncListFilter final : public IncListFilter {
 public:
  int filterOrgHits(const std::string& incHome, uint32_t orgRecordCount, VelaOut& org) override {
    calls += incHome + " " + std::to_string(orgRecordCount) + ";";
    for (int i = 0; failure == 0 && i < org.m_match_count; ++i) {
      VelaRecord& r = org.m_rec[i];
      for (int32_t id : superseded) {
        if (r.m_recid == id && r.m_output_flag == 1) {
          r.m_output_flag = 0;
          --org.m_output_count;
        }
      }
    }
    return failure;
  }
  std::vector<int32_t> superseded;
  int failure = 0;
  std::string calls;
};

// Stands in for the field filter: notes where each setting is loaded from
// (a home without one fails, as the filter does) and keeps every hit, its
// record taken for row record + 1000.
class FakeFieldFilter final : public FieldSearchFilter {
 public:
  bool loadFieldSettings(const std::string& sbfHome, const std::string& sbfString) override {
    calls += sbfHome + " " + sbfString + ";";
    return std::filesystem::is_regular_file(sbfHome + "/" + kSbfSettingFile);
  }
  int filterFieldResult(const VelaOut& raw, VelaOut** out) override {
    VelaOut* rows = VelaOut::initAlloc(raw.m_match_count);
    rows->m_match_count = rows->m_output_count = raw.m_match_count;
    std::memcpy(rows->m_matched_str, raw.m_matched_str, sizeof rows->m_matched_str);
    for (int i = 0; i < raw.m_match_count; ++i)
      rows->m_rec[i] = {raw.m_rec[i].m_recid + 1000, raw.m_rec[i].m_score, 1};
    *out = rows;
    return 0;
  }
  std::string calls;
};

class LocalSearchTest : public InstallTest {
 protected:
  LocalSearchTest() {
    for (const char* program : {"vela25_0.exe", "date_range.exe", "digit_index.exe"})
      installProgram(program, kFakeProgram);
  }
  // An index of `count` records whose search finds `hits`.
  void index(const std::string& name, uint32_t count, const std::vector<Hit>& hits,
             const char* matched = "a b") {
    writeFile(home(name) + "/.vela_log_1", u32s({count}));
    writeFile(home(name) + "/fake.binout", binoutFile(matched, hits));
  }
  // Whether a program ran with a command line that starts with `line`.
  bool ran(const std::string& line) const {
    return ("\n" + testutil::readFile(root_.sub("binind/calls"))).find("\n" + line) !=
           std::string::npos;
  }
  int execute(const char* sort = "score", const char* dbType = "doc", int mode = 0,
              const char* sbf = " ", const char* query = "'a b'") {
    const std::string option = std::string(" -B0 -bm \"-s -i\" ") + query + " ";
    EXPECT_EQ(job_.initialize(option.c_str(), "127.0.0.1", "alice", "news", "20001", fgLocal,
                              nullptr, sbf, dbType, sort, "*", "*", 0, 0, mode, 3),
              0);
    job_.m_incListFilter = &incList_;
    return job_.Execute();
  }

  velaSearch job_;
  FakeIncListFilter incList_;
};

TEST_F(LocalSearchTest, IncHitsFollowTheOrgRecordsAndSupersede) {
  index("news", 100, {{5, 1}, {6, 100}, {8, 50}}, "org");
  index("news_inc", 3, {{7, 2}}, "inc");
  // Records 100 and 50 of the org index were indexed again.
  incList_.superseded = {100, 50};
  ASSERT_EQ(execute(), 0);
  EXPECT_EQ(incList_.calls, home("news_inc") + " 100;");
  EXPECT_TRUE(ran("vela25_0.exe -H " + home("news") + " -binout -o "));
  EXPECT_TRUE(ran("vela25_0.exe -H " + home("news_inc") + " -binout -o "));
  EXPECT_EQ(job_.m_velaResult, scored({{5, 1}, {7, 102}}));
  EXPECT_EQ(job_.m_numRec, 2);
  EXPECT_EQ(job_.m_returnQuery, "org");
  EXPECT_EQ(job_.m_incSearches, 1);

  // No hits at all: the empty section, and no matched query.
  index("news", 100, {});
  index("news_inc", 3, {});
  ASSERT_EQ(execute("filename"), 0);
  EXPECT_EQ(job_.m_velaResult, "0" + FD + FD + "3" + FD + END);
  EXPECT_EQ(job_.m_returnQuery, "");
}

TEST_F(LocalSearchTest, Failures) {
  index("news", 10, {{1, 1}});
  index("news_inc", 1, {{1, 1}}, "inc");
  writeFile(home("news_inc") + "/fake.fail", "");
  EXPECT_EQ(execute(), kSearchIncNoStream);

  // A failed org run fails the job as well: a broken engine is no "no hits".
  std::rename((home("news_inc") + "/fake.fail").c_str(), (home("news") + "/fake.fail").c_str());
  EXPECT_EQ(execute(), kSearchNoStream);
  std::remove((home("news") + "/fake.fail").c_str());

  incList_.failure = 1019;  // the filter's own failure ends the job
  EXPECT_EQ(execute(), 1019);
  incList_.failure = 0;
  writeFile(home("news") + "/fake.binout", "q\n" + coded(3) + coded(1));  // cut short
  EXPECT_EQ(execute(), kBinoutUnreadable);
}

TEST_F(LocalSearchTest, AnEmptyResultFileIsASearchWithoutHits) {
  index("news", 100, {{5, 1}});
  index("news_inc", 3, {{7, 2}}, "inc");
  std::remove((home("news") + "/fake.binout").c_str());
  writeFile(home("news") + "/fake.empty", "");
  ASSERT_EQ(execute(), 0);
  EXPECT_EQ(job_.m_velaResult, scored({{7, 102}}));
  EXPECT_EQ(job_.m_returnQuery, "inc");

  std::remove((home("news_inc") + "/fake.binout").c_str());
  writeFile(home("news_inc") + "/fake.empty", "");
  ASSERT_EQ(execute(), 0);
  EXPECT_EQ(job_.m_velaResult, "0" + FD + FD + "3" + FD + END);
}

TEST_F(LocalSearchTest, DateRangeAndPropertyModes) {
  index("news", 5, {{1, 2}});
  index("news_inc", 5, {{1, 1}});
  // No time list: a date-range search does not filter by time again.
  ASSERT_EQ(execute("score", "doc", kModeDateRange), 0);
  EXPECT_TRUE(ran("date_range.exe -search -H " + home("news") + " -B 1 -E "));
  EXPECT_TRUE(ran("date_range.exe -search -H " + home("news_inc") + " -B 1 -E "));
  EXPECT_EQ(job_.m_numRec, 2);

  ASSERT_EQ(execute("score", "db", 3), 0);  // no property search on a database index
  EXPECT_EQ(job_.m_fg_search_file_name, 0);
  EXPECT_EQ(job_.m_numRec, 2);
}

// The org and the inc field index number their records each on their own:
// each is read with its own setting.
TEST_F(LocalSearchTest, FieldSearchReadsEachFieldIndexWithItsOwnSetting) {
  const std::string sbf = "N" + FD + "2" + FD;
  index("news", 5000, {});
  index("news_inc", 2, {});
  index("news_sbf", 30, {{9, 4}}, "org field");
  index("news_inc_sbf", 6, {{5, 2}}, "inc field");
  writeFile(home("news_sbf") + "/" + kSbfSettingFile, "");
  writeFile(home("news_inc_sbf") + "/" + kSbfSettingFile, "");
  FakeFieldFilter fields;
  job_.m_fieldFilter = &fields;
  ASSERT_EQ(execute("score", "db", 0, sbf.c_str()), 0);
  EXPECT_EQ(fields.calls,
            home("news_sbf") + " " + sbf + ";" + home("news_inc_sbf") + " " + sbf + ";");
  EXPECT_TRUE(ran("vela25_0.exe -H " + home("news_sbf") + " -binout -o "));
  EXPECT_TRUE(ran("vela25_0.exe -H " + home("news_inc_sbf") + " -binout -o "));
  EXPECT_EQ(job_.m_velaResult, scored({{9, 1004}, {5, 6002}}));
  EXPECT_EQ(job_.m_returnQuery, "inc field");

  // An inc field index built without a setting of its own is read with the
  // org one's; one whose setting is there but unusable still fails.
  std::remove((home("news_inc_sbf") + "/" + kSbfSettingFile).c_str());
  fields.calls.clear();
  ASSERT_EQ(execute("score", "db", 0, sbf.c_str()), 0);
  EXPECT_EQ(fields.calls, home("news_sbf") + " " + sbf + ";" + home("news_sbf") + " " + sbf + ";");
  EXPECT_EQ(job_.m_velaResult, scored({{9, 1004}, {5, 6002}}));
  ASSERT_EQ(0, ::mkdir((home("news_inc_sbf") + "/" + kSbfSettingFile).c_str(), 0700));
  EXPECT_EQ(execute("score", "db", 0, sbf.c_str()), kSearchFieldSettings);
  job_.m_fieldFilter = nullptr;
}

// A part this build lacks fails the job openly instead of answering "no hits".
TEST_F(LocalSearchTest, PartsNotBuiltYetAreReportedNotHidden) {
  index("news", 5, {{1, 2}});
  index("news_inc", 4, {});
  EXPECT_EQ(execute("score", "doc", 3), kSearchNotAvailable);            // property search
  EXPECT_EQ(execute("score", "doc", 0, "N1=abc"), kSearchNotAvailable);  // field search
  EXPECT_FALSE(testutil::fileExists(root_.sub("binind/calls")));         // nothing ran
  // A numeric range whose inc index lacks a numeric filter index of its own.
  writeFile(home("news") + "/digit_3.filter.index", "");
  EXPECT_EQ(execute("score", "doc", 0, "N3", "'[10-20]'"), kSearchNotAvailable);
  EXPECT_TRUE(ran("digit_index.exe search -I " + home("news") +
                  "/digit_3.filter.index -x 10 -y 20 -binout -O "));
}

// Three records: a.txt by ann at 100 (5 bytes), b.pdf by bob at 200 (0
// bytes), c.txt with no owner at time 0 (7 bytes).
class HitKeysTest : public ::testing::Test {
 protected:
  HitKeysTest() {
    writeTextList(dir_.path(), kFileNameList, {"a.txt", "b.pdf", "c.txt"});
    writeTextList(dir_.path(), kOwnerList, {"ann", "bob", ""});
    testutil::writeFile(dir_.sub(kTimeList), u32s({100, 200, 0}));
    testutil::writeFile(dir_.sub(kSizeList), u32s({5, 0, 7}));
    request_.fileIndex = true;
  }

  // The section for the three hits; its count must be the count left selected.
  ResultSection collect(const char* sortField, uint32_t offset = 0) {
    request_.sortField = sortField;
    VelaOutPtr set = makeSet(hits_);
    ResultSection section;
    EXPECT_EQ(collectHitKeys(*set, dir_.path(), offset, request_, section, nullptr), 0);
    EXPECT_EQ(section.n, static_cast<uint32_t>(set->m_output_count));
    return section;
  }

  testutil::TempDir dir_;
  HitKeyRequest request_;
  std::vector<Hit> hits_{{10, 1}, {20, 2}, {0, 3}};
};

TEST_F(HitKeysTest, KeysOfEachSortField) {
  const std::pair<const char*, std::string> cases[] = {
      {"date", numberKeys({100, 200, 0})},     {"size", numberKeys({5, 0, 7})},
      {"none", numberKeys({10, 20, 0})},       {"filename", textKeys({"a.txt", "b.pdf", "c.txt"})},
      {"owner", textKeys({"ann", "bob", ""})}, {"title", ""}};
  for (const auto& [field, keys] : cases) {
    const ResultSection section = collect(field);
    EXPECT_EQ(section.pairs, pairBytes(hits_)) << field;
    EXPECT_EQ(section.keys, keys) << field;
  }
  // Inc hits are numbered after the org records.
  EXPECT_EQ(collect("date", 1000).pairs, pairBytes({{10, 1001}, {20, 1002}, {0, 1003}}));
}

TEST_F(HitKeysTest, Windows) {
  request_.beginTime = 100;
  request_.endTime = 200;
  EXPECT_EQ(collect("date").pairs, pairBytes({{10, 1}, {20, 2}}));  // both bounds kept
  request_.endTime = 199;
  EXPECT_EQ(collect("date").keys, numberKeys({100}));
  request_.dateRangeSearch = true;  // the search applied the window already
  EXPECT_EQ(collect("date").n, 3u);
  request_.dateRangeSearch = false;
  request_.beginTime = 0;  // one bound alone is no window
  EXPECT_EQ(collect("date").n, 3u);

  // Unsigned: an end of -1 is the largest time.
  testutil::writeFile(dir_.sub(kTimeList), u32s({0x80000000u, 5, 0xFFFFFFFFu}));
  request_.beginTime = 10;
  request_.endTime = -1;
  EXPECT_EQ(collect("date").pairs, pairBytes({{10, 1}, {0, 3}}));
  // With a file-name window too, which applies to file indexes only.
  request_.beginFile = "b*.TXT";
  EXPECT_EQ(collect("owner").keys, textKeys({""}));
  request_.fileIndex = false;
  EXPECT_EQ(collect("owner").keys, textKeys({"ann", ""}));
}

// An unreadable list filters nothing and gives empty keys: the section stays whole.
TEST_F(HitKeysTest, MissingListsGiveEmptyKeysAndNoFiltering) {
  std::remove(dir_.sub(kOwnerList).c_str());
  std::remove(dir_.sub(kTimeList).c_str());
  std::remove(dir_.sub(std::string(kFileNameList) + "_index").c_str());
  request_.beginTime = 150;
  request_.endTime = 160;
  request_.beginFile = "z*";
  const std::pair<const char*, std::string> cases[] = {{"owner", textKeys({"", "", ""})},
                                                       {"filename", textKeys({"", "", ""})},
                                                       {"DB_price", textKeys({"", "", ""})},
                                                       {"date", numberKeys({0, 0, 0})},
                                                       {"size", numberKeys({5, 0, 7})}};
  for (const auto& [field, keys] : cases) {
    const ResultSection section = collect(field);
    EXPECT_EQ(section.pairs, pairBytes(hits_)) << field;
    EXPECT_EQ(section.keys, keys) << field;
  }
  hits_ = {{1, 9}};  // beyond every list
  EXPECT_EQ(collect("size").keys, numberKeys({0}));
}

class IndexListTest : public ::testing::Test {
 protected:
  void write(const std::string& name, const std::string& bytes) {
    testutil::writeFile(dir_.sub(name), bytes);
  }
  testutil::TempDir dir_;
};

TEST_F(IndexListTest, TextListLoadCodesAndBrokenOffsets) {
  TextListReader names;
  const std::string index = std::string(kFileNameList) + "_index";
  EXPECT_EQ(names.load(dir_.path(), kFileNameList), kListMissing);
  write(kFileNameList, "");
  EXPECT_EQ(names.load(dir_.path(), kFileNameList), kListEmpty);
  write(kFileNameList, "abcdef");
  EXPECT_EQ(names.load(dir_.path(), kFileNameList), kListNoIndex);
  write(index, std::string("\x02\0\0", 3));
  EXPECT_EQ(names.load(dir_.path(), kFileNameList), kListShortIndex);
  // Record 2 ends before it starts, record 3 ends past the texts, record 4
  // sits in a trailing part of 2 bytes.
  write(index, u32s({4, 2, 99, 6}).substr(0, 14));
  ASSERT_EQ(names.load(dir_.path(), kFileNameList), kListOk);
  EXPECT_EQ(names.text(1), "abcd");
  for (uint32_t recid : {0u, 2u, 3u, 4u, 5u, 0xFFFFFFFFu})
    EXPECT_EQ(names.text(recid), "") << recid;
}

TEST_F(IndexListTest, NumberList) {
  NumberListReader times;
  EXPECT_EQ(times.load(dir_.path(), kTimeList), kListMissing);
  write(kTimeList, "\x01\x02\x03");
  EXPECT_EQ(times.load(dir_.path(), kTimeList), kListEmpty);
  write(kTimeList, u32s({0, 1700000000, 0xFFFFFFFFu}) + "\x07");
  ASSERT_EQ(times.load(dir_.path(), kTimeList), kListOk);
  EXPECT_EQ(times.value(2), 1700000000u);
  EXPECT_EQ(times.value(3), 0xFFFFFFFFu);
  EXPECT_EQ(times.value(4), 0u);  // the trailing byte holds no entry
  EXPECT_EQ(times.value(0), 0u);
}

TEST_F(IndexListTest, DbFieldCells) {
  DbFieldTexts cells;
  EXPECT_EQ(cells.load(dir_.path()), kListMissing);
  write("db_field.info", u32s({2}));
  EXPECT_EQ(cells.load(dir_.path()), kListEmpty);

  // Two columns per record; block 0 from record 1, block 1 from record 3,
  // block 2 (files missing) from record 5.
  const std::string stem = dir_.sub("db_field.");
  searchtest::writeTexts(stem + "dat.0", stem + "idx.0", {"r1c0", "r1c1", "r2c0", "r2c1"});
  searchtest::writeTexts(stem + "dat.1", stem + "idx.1", {"r3c0", "r3c1", "r4c0"});
  write("db_field.info", u32s({2, 1, 3, 5}));
  ASSERT_EQ(cells.load(dir_.path()), kListOk);
  EXPECT_EQ(cells.cell(1, 0), "r1c0");
  EXPECT_EQ(cells.cell(2, 1), "r2c1");
  EXPECT_EQ(cells.cell(4, 0), "r4c0");
  EXPECT_EQ(cells.cell(4, 1), "");   // beyond the block's cells
  EXPECT_EQ(cells.cell(5, 0), " ");  // block files missing
  EXPECT_EQ(cells.cell(0, 0), " ");  // before the first block
  EXPECT_EQ(cells.cell(1, 2), " ");  // no such column: never the next record's first cell
  EXPECT_EQ(cells.cell(0xFFFFFFFFu, 0xFFFFFFFFu), " ");
}

// Extensions (letter case ignored); lower bounds (their first piece, over
// its length; "?" needs a character; bytes compare signed, so 0xA4 sorts
// below 'a'); upper bounds, walking their pieces.
TEST(FileNameWindow, Table) {
  // clang-format off
  const std::tuple<const char*, const char*, const char*, int> cases[] = {
      {"a.txt", "*", "*", 0}, {"doc.PdF", "*.PDF", "*.pdf", 0}, {"doc.txt", "*.PDF", "*.pdf", -2},
      {"doc", "*.PDF", "*", -2}, {"doc.txt", "*", "*.pdf", 2}, {"a.b.pdf", "*.pdf", "*", 0},
      {"a.pdfx", "*.pdf", "*", -2}, {"a.txt", "b*", "*", -1}, {"bzz", "b*", "*", 0},
      {"ab", "abc", "*", -1}, {"abd", "abc*zzz", "*", 0}, {"axc", "a?c", "*", 0},
      {"ab", "a??", "*", -1}, {"\xA4\xA4", "a*", "*", -1}, {"m.txt", "*", "k*", 1},
      {"kz", "*", "k*", 0}, {"abe", "*", "abd", 1}, {"abdzz", "*", "abd", 0},
      {"azm", "*", "a*m*", 0}, {"abc", "*", "*z", 0}, {"zzz", "*", "*b", 1},
      {"\xA4\xA4", "*", "z*", 0}, {"zeta.doc", "m*", "s*", 1}};
  // clang-format on
  for (const auto& [name, begin, end, expected] : cases)
    EXPECT_EQ(checkFileName(name, begin, end), expected)
        << name << " in [" << begin << ", " << end << "]";
}

}  // namespace
