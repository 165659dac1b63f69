/// @file engine_commands_test.cc
/// @brief End to end: the back-end's own engine commands (option string,
/// query term file, wildcard expansion, date and numeric ranges) run by its
/// process runner against indexes of the installed index builder, and read
/// by its result reader and superseded-record filter.

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "assemble/filter_inclist.h"
#include "front/query_option.h"
#include "search/index_lists.h"
#include "search/process_runner.h"
#include "search/vela_command.h"
#include "search/vela_out.h"
#include "system/index_stats.h"
#include "system/layout.h"
#include "tests/e2e/engine_util.h"

namespace {

using enginetest::EngineInstall;
using Names = std::set<std::string>;
using Ids = std::vector<int32_t>;

constexpr const char* kOwner = "alice";

std::string dataFile(const std::string& name) {
  return testutil::readFile(std::string(SR_SOURCE_DIR) + "/tests/data/engine/" + name);
}

// Runs a built command as a search job does; null (with a failure) when it
// gives no readable result.
VelaOutPtr execute(const std::string& command, const std::string& resultPath) {
  EXPECT_FALSE(command.empty());
  FILE* fp = ExecuteCmd(command.c_str(), resultPath.c_str(), nullptr);
  EXPECT_NE(fp, nullptr) << command;
  if (fp == nullptr) return nullptr;
  VelaOut* out = nullptr;
  const int rc = parseVelaOutFromFile(fp, &out);
  std::fclose(fp);
  EXPECT_EQ(rc, kBinoutOk) << command;
  return VelaOutPtr(rc == kBinoutOk ? out : nullptr);
}

// Selected record ids in file order.
Ids selected(const VelaOutPtr& set) {
  Ids ids;
  for (int i = 0; set && i < set->m_match_count; ++i)
    if (set->m_rec[i].m_output_flag == 1) ids.push_back(set->m_rec[i].m_recid);
  return ids;
}

std::vector<std::string> fileNames(const std::string& index, const Ids& ids) {
  CTextList list;
  EXPECT_EQ(list.load(systemGetIndexHome(kOwner, index.c_str()), kFileNameList), kListOk);
  std::vector<std::string> names;
  for (int32_t id : ids)
    names.emplace_back(list.text(static_cast<uint32_t>(id)));
  return names;
}

// The engine search of `index` for `query` under the current queryOption.
VelaOutPtr search(const std::string& index, const std::string& query) {
  std::snprintf(queryOption.orgQuery, sizeof queryOption.orgQuery, "%s", query.c_str());
  CVelaCommand builder;
  std::string command, resultPath;
  builder.getVelaCommand(kOwner, index.c_str(), getVelaOption().c_str(), command, resultPath);
  return execute(command, resultPath);
}

Names found(const std::string& index, const std::string& query) {
  const auto names = fileNames(index, selected(search(index, query)));
  return {names.begin(), names.end()};
}

// Every case of a suite runs in the CGI directory of the suite's
// installation (made by the suite's SetUpTestSuite) with fresh caches and
// default request options.
template <typename Suite>
class CommandsTest : public ::testing::Test {
 protected:
  static void TearDownTestSuite() {
    delete inst_;
    inst_ = nullptr;
  }
  void SetUp() override {
    cwd_.emplace(inst_->cgiDir());
    systemResetCaches();
    queryOption = queryOptionTag();
  }
  void TearDown() override { systemResetCaches(); }

  static inline EngineInstall* inst_ = nullptr;

 private:
  std::optional<testutil::ScopedCwd> cwd_;
};

// One installation (English) with:
//   base  1 a.txt, 2 b.html, 3 c.txt, 4 d.txt, 5 sub/e.txt (mtimes T+0..T+4 days)
//   news  org 1 n1.txt, 2 n2.txt, 3 n3.txt; inc (after n2 changed, n4 added)
//         1 n2.txt, 2 n4.txt
//   db1   a database index of a CSV table (price is column 2, numeric)
class EngineCommands : public CommandsTest<EngineCommands> {
 protected:
  static constexpr time_t kT = 1100000000;
  static constexpr time_t kDay = 86400;

  static void SetUpTestSuite() {
    inst_ = new EngineInstall;
    const EngineInstall& in = *inst_;
    in.doc("base", "a.txt", "Apple pie recipe\nThe quick brown fox jumps over the lazy dog.\n", kT);
    in.doc("base", "b.html",
           "<html><head><title>Fox &amp; Hound</title></head>"
           "<body><p>Hunting with hounds in the forest.</p></body></html>",
           kT + kDay);
    in.doc("base", "c.txt", "Application notes for the apple orchard.\nBrown bears, no foxes.\n",
           kT + 2 * kDay);
    in.doc("base", "d.txt", "Lazy afternoon; orchard apple apple apple.\n", kT + 3 * kDay);
    in.doc("base", "sub/e.txt", "Nothing about fruit here: e-mail and pie charts.\n",
           kT + 4 * kDay);
    in.create("base", "base");

    in.doc("news", "n1.txt", "weekly topic one\n");
    in.doc("news", "n2.txt", "weekly topic two original draft\n");
    in.doc("news", "n3.txt", "weekly topic three\n");
    in.create("news", "news");
    in.doc("news", "n2.txt", "weekly topic two revised\n", kT + kDay);
    in.doc("news", "n4.txt", "weekly topic four\n");
    e2e::RunResult r = in.builder({"update", "--id", "news", in.docs("news")});
    EXPECT_EQ(r.exitStatus, 0) << r.err;

    in.write("tables/fruit.csv",
             "name,price,note\nApple,10,red\nBanana,7.5,yellow\nCherry,,dark\nDate,12,brown\n"
             "Elder,-3,black\n");
    r = in.builder(
        {"create", "--owner", kOwner, "--id", "db1", "--type", "db", in.path("tables/fruit.csv")});
    EXPECT_EQ(r.exitStatus, 0) << r.err;
  }
};

TEST_F(EngineCommands, PlainQueriesThroughTheOptionStringAndTermFile) {
  const std::vector<std::pair<std::string, Names>> cases = {
      {"apple", {"a.txt", "c.txt", "d.txt"}},
      {"APPLE", {"a.txt", "c.txt", "d.txt"}},
      {"apple orchard", {"c.txt", "d.txt"}},
      {"apple AND orchard", {"c.txt", "d.txt"}},
      {"apple & orchard", {"c.txt", "d.txt"}},
      {"hound OR pie", {"a.txt", "b.html", "e.txt"}},
      {"hound|pie", {"a.txt", "b.html", "e.txt"}},
      {"apple NOT orchard", {"a.txt"}},
      {"apple - orchard", {"a.txt"}},
      {"forest", {"b.html"}},
      {"\"quick brown\"", {"a.txt"}},
      {"\"brown quick\"", {}},
      {"\"e-mail\"", {"e.txt"}},        // a phrase of one word passes the expander intact
      {"-apple", {"b.html", "e.txt"}},  // a leading "-" brings the engine's "-e"
      {"missing", {}},
  };
  for (const auto& [query, expected] : cases)
    EXPECT_EQ(found("base", query), expected) << query;
}

TEST_F(EngineCommands, MatchModeAndRecordOrderReachTheEngine) {
  EXPECT_EQ(found("base", "aple"), Names{});
  queryOption.fgMatchMode = 1;
  EXPECT_EQ(found("base", "aple"), (Names{"a.txt", "c.txt", "d.txt"}));
  EXPECT_STREQ(search("base", "aple")->m_matched_str, "aple,apple");
  queryOption.fgMatchMode = 0;

  // Best first: three times "apple" in a short text.
  EXPECT_EQ(selected(search("base", "apple")).front(), 4);
  std::snprintf(queryOption.sortField, sizeof queryOption.sortField, "NONE");
  EXPECT_EQ(selected(search("base", "apple")), (Ids{1, 3, 4}));
  EXPECT_STREQ(search("base", "Apple orchard")->m_matched_str, "apple,orchard");
}

TEST_F(EngineCommands, WildcardExpansionRewritesTheTermFile) {
  struct Case {
    const char* query;
    bool expanded;
    const char* termFile;  // after the expansion
    Names hits;
  };
  const Case cases[] = {
      {"app*", true, "(apple | application)", {"a.txt", "c.txt", "d.txt"}},
      {"AP**LE", true, "apple", {"a.txt", "c.txt", "d.txt"}},
      {"h?und*", true, "(hound | hounds)", {"b.html"}},
      {"zz*", true, "zz*", {}},
      {"app* orchard", false, "app* orchard", {"c.txt", "d.txt"}},  // the engine expands it
  };
  CVelaCommand builder;
  const std::string home = systemGetIndexHome(kOwner, "base");
  for (const Case& c : cases) {
    std::snprintf(queryOption.orgQuery, sizeof queryOption.orgQuery, "%s", c.query);
    std::string rewritten, termFile;
    ASSERT_TRUE(builder.getQueryTermFile(getVelaOption().c_str(), rewritten, termFile));
    EXPECT_EQ(builder.expendWildCardQuery(home, termFile), c.expanded) << c.query;
    EXPECT_EQ(testutil::readFile(termFile), c.termFile) << c.query;
    EXPECT_EQ(found("base", c.query), c.hits) << c.query;
  }
}

TEST_F(EngineCommands, DateRangeIsInclusiveAndZeroMeansOpen) {
  struct Case {
    int begin, end;
    Ids ids;
  };
  const int t = static_cast<int>(kT), day = static_cast<int>(kDay);
  const Case cases[] = {
      {t + day, t + 3 * day, {2, 3, 4}},
      {t + day + 1, t + 3 * day - 1, {3}},
      {0, t + day, {1, 2}},
      {t + 3 * day, 0, {4, 5}},
      {0, 0, {1, 2, 3, 4, 5}},
      {t + 3 * day, t + day, {}},
  };
  CVelaCommand builder;
  for (const Case& c : cases) {
    std::string command, resultPath;
    builder.getDateRangeCommand(kOwner, "base", command, resultPath, c.begin, c.end);
    EXPECT_EQ(selected(execute(command, resultPath)), c.ids) << c.begin << " " << c.end;
  }
}

TEST_F(EngineCommands, NumericRangeOverTheDatabaseIndex) {
  struct Case {
    const char* query;
    std::vector<std::string> rows;  // names of the rows found, in record order
  };
  const Case cases[] = {
      {"[7-11]", {"Apple", "Banana"}},
      {"[10] to [12]", {"Apple", "Date"}},
      {"[-5] [8]", {"Banana", "Elder"}},
      {"[-8]", {"Banana", "Elder"}},  // no low bound
      {"[11-]", {"Date"}},            // no high bound
      {"[100-200]", {}},
  };
  CVelaCommand builder;
  CDbFieldTexts cells;
  ASSERT_EQ(cells.load(systemGetIndexHome(kOwner, "db1")), kListOk);
  for (const Case& c : cases) {
    const std::string option = buildVelaOption(queryOption, c.query);
    std::string low, high, command, resultPath;
    ASSERT_TRUE(CVelaCommand::checkFieldRangeSearch(option.c_str(), low, high)) << c.query;
    ASSERT_TRUE(builder.getDigitRangeCommand(kOwner, "db1", command, resultPath, low.c_str(),
                                             high.c_str(), 2));
    std::vector<std::string> rows;
    for (int32_t id : selected(execute(command, resultPath)))
      rows.emplace_back(cells.cell(static_cast<uint32_t>(id), 0));
    EXPECT_EQ(rows, c.rows) << c.query;
  }
  // Text columns and columns beyond the table have no numeric filter index.
  std::string command, resultPath;
  for (int field : {1, 3, 4})
    EXPECT_FALSE(builder.getDigitRangeCommand(kOwner, "db1", command, resultPath, "1", "2", field));
  EXPECT_EQ(command, "");
}

TEST_F(EngineCommands, IncIndexSupersedesTheChangedRecord) {
  uint32_t orgCount = 0;
  double size = 0;
  systemGetIndexNumRec(kOwner, "news", orgCount, size);
  ASSERT_EQ(orgCount, 3u);

  VelaOutPtr org = search("news", "weekly topic");
  ASSERT_TRUE(org);
  EXPECT_EQ(org->m_output_count, 3);
  filter_inclist inclist;
  ASSERT_EQ(inclist.init_inclist(systemGetIndexHome(kOwner, "news_inc"), orgCount), kIncListOk);
  inclist.filterInclist(*org);
  EXPECT_EQ(org->m_output_count, 2);
  const Ids kept = selected(org);
  EXPECT_EQ(fileNames("news", kept), (std::vector<std::string>{"n1.txt", "n3.txt"}));

  EXPECT_EQ(found("news_inc", "weekly topic"), (Names{"n2.txt", "n4.txt"}));
  // The old text is only in the superseded org record, the new one only in the inc index.
  VelaOutPtr old = search("news", "original");
  ASSERT_EQ(selected(old), (Ids{2}));
  filter_inclist again;
  ASSERT_EQ(again.init_inclist(systemGetIndexHome(kOwner, "news_inc"), orgCount), kIncListOk);
  again.filterInclist(*old);
  EXPECT_EQ(old->m_output_count, 0);
  EXPECT_EQ(found("news_inc", "revised"), Names{"n2.txt"});
  EXPECT_EQ(found("news", "revised"), Names{});
}

TEST_F(EngineCommands, ShellSyntaxInAQueryStaysText) {
  const std::string probe = "sr_cmds_probe";
  const std::vector<std::string> queries = {
      "apple; touch ../" + probe + "1",
      "$(touch ../" + probe + "2)",
      "`touch ../" + probe + "3`",
      "apple' ; touch ../" + probe + "4 ; echo '",
      "apple\" -o \"../" + probe + "5",
      "$(touch${IFS}../" + probe + "6)",  // one word: goes to the expander
      "x;touch>../" + probe + "7",
      "'zz' 'apple'",  // a shell would hand on two words
      "\"zz\"apple",   // one word, split in two by quotes were it not quoted
      "'zz'apple",
  };
  for (const std::string& q : queries) {
    EXPECT_EQ(found("base", q), Names{}) << q;
    std::snprintf(queryOption.orgQuery, sizeof queryOption.orgQuery, "%s", q.c_str());
    const std::string option = getVelaOption();
    std::string low, high;
    EXPECT_FALSE(CVelaCommand::checkFieldRangeSearch(option.c_str(), low, high)) << q;
  }
  for (int i = 1; i <= 7; ++i) {
    const std::string name = probe + std::to_string(i);
    EXPECT_FALSE(testutil::fileExists(inst_->path(name))) << name;
    EXPECT_FALSE(testutil::fileExists(inst_->path("search-cgi/" + name))) << name;
  }
}

TEST_F(EngineCommands, RangeBoundsCannotAddEngineArguments) {
  // A bound that would close its quote could name another filter index.
  CVelaCommand builder;
  const std::string option = buildVelaOption(queryOption, "[0-99\" -I \"x]");  // high: 99" -I "x
  std::string low, high, command, resultPath;
  ASSERT_TRUE(CVelaCommand::checkFieldRangeSearch(option.c_str(), low, high));
  EXPECT_FALSE(builder.getDigitRangeCommand(kOwner, "db1", command, resultPath, low.c_str(),
                                            high.c_str(), 2));
  EXPECT_EQ(command, "");
}

// A Shift_JIS installation: documents and queries in the local code page.
//   sjis  1 full.txt (full-width kana and letters), 2 half.txt (half-width
//         kana), 3 table.txt
class EngineCommandsShiftJis : public CommandsTest<EngineCommandsShiftJis> {
 protected:
  static void SetUpTestSuite() {
    inst_ = new EngineInstall;
    inst_->write("lang.cfg", "JP\n");
    inst_->doc("sjis", "full.txt", dataFile("sjis_full.txt"));
    inst_->doc("sjis", "half.txt", dataFile("sjis_half.txt"));
    // "表示" (0x95 0x5C 0x8E 0xA6): the first character ends in a backslash.
    inst_->doc("sjis", "table.txt", "\x95\x5C\x8E\xA6 settings\n");
    inst_->create("sjis", "sjis");
  }
};

TEST_F(EngineCommandsShiftJis, LocalQueriesAndTheirWidthVariantsFindTheDocuments) {
  ASSERT_EQ(systemGetLanguage(), kLangJP);
  const std::vector<std::pair<std::string, Names>> cases = {
      {"\x83\x4A\x83\x5E\x83\x4A\x83\x69", {"full.txt", "half.txt"}},  // カタカナ
      {"\xB6\xC0\xB6\xC5", {"full.txt", "half.txt"}},                  // ｶﾀｶﾅ
      {"\xB6\xC0\xB6", {"full.txt", "half.txt"}},      // ｶﾀｶ: odd count of one-byte kana
      {"\xC3\xDE\xB0\xC0", {"full.txt", "half.txt"}},  // ﾃﾞｰﾀ
      {"\x82\x72\x82\x64\x82\x60\x82\x71\x82\x62\x82\x67",
       {"full.txt", "half.txt"}},  // ＳＥＡＲＣＨ
      {"search", {"full.txt", "half.txt"}},
      {"\x95\x5C\x8E\xA6", {"table.txt"}},  // 表示
      {"\x95\x5C\x8E\xA6 settings", {"table.txt"}},
      {"\x95\x5C\x8E\xA6 | \xB6\xC0\xB6\xC5", {"full.txt", "half.txt", "table.txt"}},
      // A one-byte kana before the closing quote must not hide it: the query
      // would end at the inner quote and become "search".
      {"search'x \xB6", {}},
  };
  for (const auto& [query, expected] : cases)
    EXPECT_EQ(found("sjis", query), expected) << query;
  // The engine reports the query in the installation's code page.
  EXPECT_STREQ(search("sjis", "\xB6\xC0\xB6\xC5")->m_matched_str,
               "\x83\x4A\x83\x5E\x83\x4A\x83\x69");
}

}  // namespace
