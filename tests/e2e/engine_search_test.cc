/// @file engine_search_test.cc
/// @brief End to end: indexes built by the installed index builder, searched
/// with the installed engine programs on the command lines the back-end
/// uses.

#include <gtest/gtest.h>

#include <ctime>
#include <map>

#include "search/vela_out.h"
#include "system/recinfo.h"
#include "tests/e2e/engine_util.h"

namespace {

using enginetest::EngineInstall;
using enginetest::Result;
using Ids = std::set<uint32_t>;

// Records in source order: 1 a.txt, 2 b.html, 3 c.txt, 4 d.txt, 5 sub/e.txt.
class EngineSearch : public ::testing::Test {
 protected:
  void SetUp() override {
    inst.doc("base", "a.txt", "Apple pie recipe\nThe quick brown fox jumps over the lazy dog.\n");
    inst.doc("base", "b.html",
             "<html><head><title>Fox &amp; Hound</title><script>var apple;</script></head>"
             "<body><p>Hunting with hounds in the forest.</p></body></html>");
    inst.doc("base", "c.txt", "Application notes for the apple orchard.\nBrown bears, no foxes.\n");
    inst.doc("base", "d.txt", "Lazy afternoon; orchard apple apple apple.\n");
    inst.doc("base", "sub/e.txt", "Nothing about fruit here: e-mail and pie charts.\n");
    inst.doc("base", ".hidden.txt", "apple in a hidden file\n");
    inst.doc("base", "empty.txt", "");
    home = inst.create("base", "base");
  }
  Ids hits(const std::string& q) { return inst.query(home, q).idSet(); }

  EngineInstall inst;
  std::string home;
};

TEST_F(EngineSearch, RecordListsFollowSourceOrderAndSkipHiddenAndEmptyFiles) {
  std::string names = inst.read("system/group/domain/User/alice/index/base/morna_filename_list");
  std::string index =
      inst.read("system/group/domain/User/alice/index/base/morna_filename_list_index");
  std::vector<std::string> expected{"a.txt", "b.html", "c.txt", "d.txt", "e.txt"};
  for (uint32_t r = 1; r <= expected.size(); ++r)
    EXPECT_EQ(enginetest::listText(names, index, r), expected[r - 1]) << r;
  EXPECT_EQ(enginetest::readUInt32s(index).size(), 5u);
  auto times = enginetest::readUInt32s(
      inst.read("system/group/domain/User/alice/index/base/morna_time_list"));
  EXPECT_EQ(times, std::vector<uint32_t>(5, 1100000000));
  auto log = inst.read("system/group/domain/User/alice/index/base/.vela_log_1");
  ASSERT_EQ(log.size(), 12u);
  EXPECT_EQ(enginetest::readUInt32s(log.substr(0, 4))[0], 5u);
  std::string owners = inst.read("system/group/domain/User/alice/index/base/morna_owner_list");
  EXPECT_EQ(owners, "alicealicealicealicealice");
  // The index id file names the owner and the type.
  std::string id = inst.read("system/ref/base.id");
  ASSERT_EQ(id.size(), 152u);
  EXPECT_EQ(id.substr(0, 5), std::string("base\0", 5));
  EXPECT_EQ(id.substr(72, 6), std::string("alice\0", 6));
  EXPECT_EQ(id.substr(136, 4), std::string("doc\0", 4));
}

TEST_F(EngineSearch, BooleanOperatorsAsTheRequestFrontWritesThem) {
  const std::map<std::string, Ids> cases = {
      {"apple", {1, 3, 4}},
      {"APPLE", {1, 3, 4}},
      {"apple & orchard", {3, 4}},
      {"apple orchard", {3, 4}},
      {"apple AND orchard", {3, 4}},
      {"apple & AND & orchard", {3, 4}},  // the front's rewrite of "apple AND orchard"
      {"apple+lazy", {1, 4}},
      {"hound | pie", {1, 2, 5}},
      {"hound OR pie", {1, 2, 5}},
      {"hound,pie", {1, 2, 5}},
      {"apple-orchard", {1}},
      {"apple NOT orchard", {1}},
      {"(fox | hound) & forest", {2}},
      {"\"quick brown\"", {1}},
      {"\"brown quick\"", {}},
      {"e-mail", {}},  // "-" always excludes: e without mail
      {"\"e-mail\"", {5}},
      {"missing", {}},
      {"apple & missing", {}},
      {"script", {}},  // script text of HTML is not indexed
  };
  for (const auto& [q, expected] : cases)
    EXPECT_EQ(hits(q), expected) << q;
}

TEST_F(EngineSearch, ScoresArePositiveAndBestFirstUnlessRecordOrderIsAsked) {
  Result r = inst.query(home, "apple");
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.hits.size(), 3u);
  EXPECT_EQ(r.hits[0].recid, 4u);  // three times "apple" in a short text
  for (size_t i = 0; i < r.hits.size(); ++i) {
    EXPECT_GE(r.hits[i].score, 1u);
    if (i > 0) {
      EXPECT_GE(r.hits[i - 1].score, r.hits[i].score);
    }
  }
  Result ns = inst.search(home, {"-B0", "-bm", "-s -i -F60", "-ns", "apple"});
  EXPECT_EQ(ns.ids(), (std::vector<uint32_t>{1, 3, 4}));
  EXPECT_EQ(ns.matched, "apple");
}

TEST_F(EngineSearch, TheBackEndReaderTakesTheResultFile) {
  std::string out = inst.path("search-cgi/tmp/query12345");
  e2e::RunResult r = inst.run("binind/vela25_0.exe", {"-H", home, "-binout", "-o", out, "-B0",
                                                      "-bm", "-s -i -F60", "-ns", "apple | hound"});
  ASSERT_EQ(r.exitStatus, 0);
  FILE* fp = fopen(out.c_str(), "rb");
  ASSERT_NE(fp, nullptr);
  VelaOut* vo = nullptr;
  EXPECT_EQ(parseVelaOutFromFile(fp, &vo), kBinoutOk);
  fclose(fp);
  ASSERT_NE(vo, nullptr);
  VelaOutPtr owned(vo);
  EXPECT_STREQ(vo->m_matched_str, "apple,hound");
  ASSERT_EQ(vo->m_match_count, 4);
  std::vector<int32_t> ids;
  for (int i = 0; i < vo->m_match_count; ++i) {
    ids.push_back(vo->m_rec[i].m_recid);
    EXPECT_GE(vo->m_rec[i].m_score, 1);
  }
  EXPECT_EQ(ids, (std::vector<int32_t>{1, 2, 3, 4}));
}

TEST_F(EngineSearch, MatchedStringListsTheSearchedTermsButNotExcludedOnes) {
  EXPECT_EQ(inst.query(home, "Apple & \"Quick Brown\" - hound").matched, "apple,quick brown");
  EXPECT_EQ(inst.query(home, "app*").matched, "apple,application");
}

TEST_F(EngineSearch, LeadingMinusNeedsTheExcludeSwitch) {
  EXPECT_EQ(inst.search(home, {"-B0", "-bm", "-s -i -F60", "-e", "-apple"}).idSet(), (Ids{2, 5}));
  EXPECT_EQ(inst.search(home, {"-B0", "-bm", "-s -i -F60", "-apple"}).idSet(), Ids{});
  // A query made of switch names is still the query when it comes last.
  EXPECT_EQ(inst.search(home, {"-B0", "-e", "-ns", "-ns"}).idSet(), (Ids{1, 2, 3, 4, 5}));
}

TEST_F(EngineSearch, QueryTermFileAndWildcardExpansionAsTheBackEndRunsThem) {
  // The expander's line replaces the query in the term file.
  e2e::RunResult ex =
      inst.run("binind/expand_vela_token_list.exe", {"-H", home, "-limit", "100", "app*"});
  ASSERT_EQ(ex.exitStatus, 0);
  EXPECT_EQ(ex.out, "(apple | application)\n");
  ex = inst.run("binind/expand_vela_token_list.exe", {"-H", home, "-limit", "1", "-fo*"});
  EXPECT_EQ(ex.out, "-fox\n");  // in two records, "forest" and "foxes" in one each
  ex = inst.run("binind/expand_vela_token_list.exe", {"-H", home, "-limit", "100", "zz*"});
  EXPECT_EQ(ex.out, "zz*\n");
  ex = inst.run("binind/expand_vela_token_list.exe", {"-H", home, "-limit", "100", "pie"});
  EXPECT_EQ(ex.out, "pie\n");

  inst.write("search-cgi/tmp/qstring1", "(apple | application)");
  Result r =
      inst.search(home, {"-B0", "-bm", "-s -i -F60", "-f", inst.path("search-cgi/tmp/qstring1")});
  EXPECT_EQ(r.idSet(), (Ids{1, 3, 4}));
  EXPECT_EQ(r.matched, "apple,application");
  // The engine expands a wildcard that reaches it unexpanded as well.
  EXPECT_EQ(hits("h?und*"), (Ids{2}));
}

TEST_F(EngineSearch, FuzzyAndPartialMatching) {
  EXPECT_EQ(hits("aple"), Ids{});
  Result fuzzy = inst.search(home, {"-B", "-bm", "-s -i -F60", "aple"});
  EXPECT_EQ(fuzzy.idSet(), (Ids{1, 3, 4}));
  EXPECT_EQ(fuzzy.matched, "aple,apple");
  // One letter wrong out of five is not similar enough at 90%.
  EXPECT_EQ(inst.search(home, {"-B", "-bm", "-s -i -F90", "applx"}).idSet(), Ids{});
  EXPECT_EQ(inst.search(home, {"-B0", "-bm", "-s -i -F60", "-P", "app"}).idSet(), (Ids{1, 3, 4}));
  EXPECT_EQ(hits("app"), Ids{});
}

TEST_F(EngineSearch, ThesaurusGroupsWidenAWord) {
  inst.write("dict/thesaurus1.txt", "car $ automobile\nfox$ vixen $ reynard\n");
  EXPECT_EQ(hits("reynard"), Ids{});
  Result r = inst.search(home, {"-B0", "-bm", "-s -i -F60", "-dic1", "-th", "reynard"});
  EXPECT_EQ(r.idSet(), (Ids{1, 2}));
}

TEST_F(EngineSearch, LimitedTextResultForSimilarKeywords) {
  std::string file;
  int rc = inst.runFor("vela25_0.exe",
                       {"-H", home, "-L2", "-B0", "-bm", "-s -i -F60", "-P", "apple"}, "-o", file);
  ASSERT_EQ(rc, 0);
  // Two header lines, then "score recid" per hit, at most the limit.
  std::vector<std::string> lines;
  for (size_t p = 0, nl; (nl = file.find('\n', p)) != std::string::npos; p = nl + 1)
    lines.push_back(file.substr(p, nl - p));
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "apple");
  EXPECT_EQ(lines[1], "2");
  int score = 0, recid = 0;
  ASSERT_EQ(sscanf(lines[2].c_str(), "%d %d", &score, &recid), 2);
  EXPECT_EQ(recid, 4);
  EXPECT_GT(score, 0);
}

TEST_F(EngineSearch, FailuresExitWith205AndLeaveNoResultFile) {
  std::string file;
  // A query term file that is missing.
  EXPECT_EQ(inst.runFor("vela25_0.exe", {"-H", home, "-binout", "-f", inst.path("nofile"), "-B0"},
                        "-o", file),
            205);
  EXPECT_EQ(file, "");
  // An index that does not exist.
  EXPECT_EQ(inst.runFor("vela25_0.exe", {"-H", inst.path("nowhere"), "-binout", "x"}, "-o", file),
            205);
  EXPECT_FALSE(testutil::fileExists(inst.path("search-cgi/tmp/result2")));
  // No output path at all.
  EXPECT_EQ(inst.run("binind/vela25_0.exe", {"-H", home, "x"}).exitStatus, 205);
  EXPECT_EQ(inst.runFor("date_range.exe", {"-search", "-H", home, "-B", "1x", "-E", "2", "-binout"},
                        "-O", file),
            205);
  EXPECT_EQ(
      inst.runFor("digit_index.exe",
                  {"search", "-I", inst.path("none"), "-x", "1", "-y", "2", "-binout"}, "-O", file),
      205);
}

TEST_F(EngineSearch, HostileQueriesStillGiveAResult) {
  const std::vector<std::string> queries = {
      std::string(5000, '('),
      std::string(3000, '-') + "apple",
      "\"unterminated apple",
      std::string(2000, '|'),
      ")))apple(((",
      "apple " + std::string(10000, 'x'),
      std::string("\xff\xfe\x80 apple", 9),
  };
  for (const std::string& q : queries) {
    Result r = inst.query(home, q);
    EXPECT_TRUE(r.ok) << q.substr(0, 40);
    EXPECT_LT(r.matched.size(), 4096u);
  }
  std::string manyWords;
  for (int i = 0; i < 2000; ++i)
    manyWords += "w" + std::to_string(i) + " | ";
  EXPECT_TRUE(inst.query(home, manyWords + "apple").ok);
}

TEST_F(EngineSearch, DateRangeIsInclusiveOnBothEnds) {
  inst.doc("dated", "1.txt", "one", 1000);
  inst.doc("dated", "2.txt", "two", 2000);
  inst.doc("dated", "3.txt", "three", 3000);
  std::string dated = inst.create("dated", "dated");
  auto range = [&](const char* b, const char* e) {
    std::string file;
    EXPECT_EQ(inst.runFor("date_range.exe", {"-search", "-H", dated, "-B", b, "-E", e, "-binout"},
                          "-O", file),
              0);
    Result r = enginetest::decodeBinout(file);
    EXPECT_TRUE(r.ok);
    return r.idSet();
  };
  EXPECT_EQ(range("2000", "3000"), (Ids{2, 3}));
  EXPECT_EQ(range("1001", "1999"), Ids{});
  EXPECT_EQ(range("1", "4000"), (Ids{1, 2, 3}));
  EXPECT_EQ(range("3000", "1000"), Ids{});
}

TEST_F(EngineSearch, RecordInfoGivesPathTitleAndFirstLine) {
  // Read back with the system library's reader of record-info files.
  const int ids[] = {2, 5, 0, 1};
  std::vector<std::string> lines;
  ASSERT_EQ(TS2InfoForID(home.c_str(), ids, lines, 4), kRecInfoOk);
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "@P:b.html\n@T:Fox & Hound\n@B:Hunting with hounds in the forest.\n",
                       "@P:sub/e.txt\n@T:Nothing about fruit here: e-mail and pie charts.\n"
                       "@B:Nothing about fruit here: e-mail and pie charts.\n"}));
  const int beyond[] = {6};
  EXPECT_EQ(TS2InfoForID(home.c_str(), beyond, lines, 1), kRecInfoTooLarge);
}

}  // namespace
