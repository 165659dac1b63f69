/// @file engine_commands_test.cc
/// @brief End to end: indexes of the installed index builder (file layout,
/// update and rebuild, database indexes, refusals) searched with the
/// back-end's own engine commands (option string, query term file, wildcard
/// expansion, date and numeric ranges) run by its process runner and read by
/// its result reader and superseded-record filter; and the engine programs
/// run directly (text output, exit 205, hostile queries). Every case runs
/// twice: with the engine service answering the programs, and without one.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "assemble/filter_inclist.h"
#include "search/process_runner.h"
#include "search/vela_command.h"
#include "search/vela_out.h"
#include "system/layout.h"
#include "tests/e2e/engine_util.h"

namespace {

// The request options and query the cases search with.
SearchRequest gRequest;
std::string gQuery;

using enginetest::EngineInstall;
using Ids = std::vector<int32_t>;
using Cases = std::vector<std::pair<std::string, Ids>>;
using Words = std::vector<uint32_t>;
using namespace std::string_literals;

constexpr const char* kOwner = "alice";

using testutil::readFile;

// The 32-bit integers of a list file.
Words words(const std::string& bytes) {
  Words out(bytes.size() / 4);
  if (!out.empty()) std::memcpy(out.data(), bytes.data(), 4 * out.size());
  return out;
}

// Runs a built command as a search job does and reads its result; null (with a
// failure) when unreadable.
VelaOutPtr execute(const std::string& command, const std::string& resultPath) {
  FILE* fp = ExecuteCmd(command.c_str(), resultPath.c_str(), nullptr);
  EXPECT_NE(fp, nullptr) << command;
  VelaOut* out = nullptr;
  const int rc = fp ? parseVelaOutFromFile(fp, &out) : kBinoutNoHits;
  if (fp) std::fclose(fp);
  EXPECT_EQ(rc, kBinoutOk) << command;
  return VelaOutPtr(rc == kBinoutOk ? out : nullptr);
}

// Selected record ids in file order, or ascending.
Ids selected(const VelaOutPtr& set, bool sort = false) {
  Ids ids;
  for (int i = 0; set && i < set->m_match_count; ++i)
    if (set->m_rec[i].m_output_flag == 1) ids.push_back(set->m_rec[i].m_recid);
  if (sort) std::sort(ids.begin(), ids.end());
  return ids;
}

// The engine search of `index` for `query` under the current gRequest.
VelaOutPtr search(const std::string& index, const std::string& query) {
  gQuery = query;
  std::string command, resultPath;
  VelaCommand().getVelaCommand(kOwner, index.c_str(),
                               buildVelaOption(gRequest, gQuery.c_str()).c_str(), command,
                               resultPath);
  EXPECT_FALSE(command.empty()) << query;
  return execute(command, resultPath);
}

Ids found(const std::string& index, const std::string& query) {
  return selected(search(index, query), true);
}

void expectFound(const std::string& index, const Cases& cases) {
  for (const auto& [query, expected] : cases)
    EXPECT_EQ(found(index, query), expected) << query;
}

// Runs the case in the CGI directory of `inst` with fresh caches and default request options.
struct InInstallation {
  explicit InInstallation(const EngineInstall& inst) : cwd(inst.cgiDir()) {
    systemResetCaches();
    gRequest = SearchRequest();
  }
  ~InInstallation() { systemResetCaches(); }
  testutil::ScopedCwd cwd;
};

// base  1 a.txt, 2 b.html, 3 c.txt, 4 d.txt, 5 sub/e.txt (mtimes T+0..T+4 days)
// news  org 1 n1.txt .. 4 n4.txt; inc (n2 changed, n3 deleted, n5 added) 1 n2.txt, 2 n5.txt
// db1   a database index of a CSV table: 1 Apple 10, 2 Banana 7.5, 3 Cherry, 4 Date 12, 5 Elder -3
class EngineCommands : public ::testing::TestWithParam<enginetest::Mode> {
 protected:
  static constexpr int kT = 1100000000, kDay = 86400;

  // The installation of the suite, laid out by its first case.
  static void prepare(enginetest::Mode mode) {
    inst_ = new EngineInstall(mode);
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
    in.doc("base", ".hidden.txt", "apple in a hidden file\n");
    in.doc("base", "empty.txt", "");
    base_ = in.create("base", "base");
    in.write("dict/thesaurus1.txt", "car $ automobile\nfox$ vixen $ reynard\n");

    for (const char* n : {"1 one", "2 two original draft", "3 three", "4 four"})
      in.doc("news", "n"s + n[0] + ".txt", "weekly topic "s + (n + 2));
    in.create("news", "news");
    in.doc("news", "n2.txt", "weekly topic two revised\n", kT + kDay);
    std::remove(in.path("docs/news/n3.txt").c_str());
    in.doc("news", "n5.txt", "weekly topic five\n");
    in.write("tables/fruit.csv",
             "name,price,note\r\n\"Apple, red\",10,\"fresh \"\"crisp\"\"\"\r\nBanana,7.5,yellow\r\n"
             "Cherry,,dark red\r\nDate,12\r\nElder,-3,black\r\n");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"update", "--id", "news", in.docs("news")},
          {"create", "--owner", kOwner, "--id", "db1", "--type", "db",
           in.path("tables/fruit.csv")}}) {
      const e2e::RunResult r = in.builder(args);
      EXPECT_EQ(r.exitStatus, 0) << r.err;
      // The new id, and a summary of the documents read (a table has rows).
      EXPECT_EQ(r.out, args[0] == "update" ? "" : "db1\n");
      EXPECT_EQ(r.err, args[0] == "update" ? "index_builder: indexed 2 documents (2 text)\n" : "");
    }
  }
  static void TearDownTestSuite() {
    delete inst_;
    inst_ = nullptr;
  }
  void SetUp() override {
    if (!inst_) prepare(GetParam());
    in_.emplace(*inst_);
  }
  void TearDown() override { in_.reset(); }

  // Runs binind/<program> with `outSwitch` and a fresh result path (`out`) first.
  static int runFor(const std::string& program, std::vector<std::string> args,
                    const std::string& outSwitch, std::string& out) {
    static int runs = 0;
    out = inst_->path("search-cgi/tmp/direct" + std::to_string(++runs));
    args.insert(args.begin(), {outSwitch, out});
    return inst_->run("binind/" + program, args).exitStatus;
  }
  static inline EngineInstall* inst_ = nullptr;
  static inline std::string base_;
  std::optional<InInstallation> in_;
};

TEST_P(EngineCommands, BuilderWritesTheListsAndTheIdFile) {
  // Source order; hidden and empty files are left out.
  EXPECT_EQ(readFile(base_ + "/morna_filename_list"), "a.txtb.htmlc.txtd.txte.txt");
  EXPECT_EQ(words(readFile(base_ + "/morna_filename_list_index")), (Words{5, 11, 16, 21, 26}));
  EXPECT_EQ(words(readFile(base_ + "/morna_time_list")),
            (Words{kT, kT + kDay, kT + 2 * kDay, kT + 3 * kDay, kT + 4 * kDay}));
  EXPECT_EQ(readFile(base_ + "/morna_owner_list"), "alicealicealicealicealice");
  const std::string log = readFile(base_ + "/.vela_log_1");
  ASSERT_EQ(log.size(), 12u);
  EXPECT_EQ(words(log)[0], 5u);
  const std::string id = inst_->read("system/ref/base.id");
  ASSERT_EQ(id.size(), 152u);
  EXPECT_EQ(id.substr(0, 5) + id.substr(72, 6) + id.substr(136, 4), "base\0alice\0doc\0"s);

  // --root lets it run from elsewhere; a group owner's indexes live under SYSTEM/group/<path>.
  inst_->doc("team", "a.txt", "gamma\n");
  e2e::RunResult r = e2e::runProgram(
      inst_->path("binind/index_builder"),
      {"--root", inst_->root(), "create", "--owner", "/teamA", "--id", "team", inst_->docs("team")},
      {}, "/", "");
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(inst_->read("system/ref/team.id").substr(72, 7), "/teamA\0"s);
  EXPECT_EQ(readFile(inst_->path("system/group/teamA/index/team/morna_filename_list")), "a.txt");
}

TEST_P(EngineCommands, RefusedBuilderRequestsKeepTheIndex) {
  const std::string src = inst_->docs("base");
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"update", "--id", "base", inst_->path("docs/missing")}, 1},
      {{"update", "--id", "../../x", src}, 1},
      {{"rebuild", "--id", "db1"}, 1},                         // a database index is created again
      {{"create", "--owner", "bob", "--id", "base", src}, 1},  // alice's id
      {{"create", "--owner", "alice", "--type", "proxy", src}, 1},
      {{"create", "--owner", "alice"}, 2}};
  for (const auto& [args, status] : cases) {
    e2e::RunResult r = inst_->builder(args);
    EXPECT_EQ(r.exitStatus, status) << args[0] << " " << args[2] << " " << r.err;
    EXPECT_NE(r.err, "");
  }
  EXPECT_EQ(found("base", "apple"), (Ids{1, 3, 4}));
}

TEST_P(EngineCommands, PlainQueriesThroughTheOptionStringAndTermFile) {
  expectFound("base", {{"apple orchard", {3, 4}},
                       {"hound|pie", {1, 2, 5}},
                       {"apple - orchard", {1}},
                       {"(fox | hound) & forest", {2}},
                       {"\"brown quick\"", {}},  // a phrase
                       {"\"e-mail\"", {5}},      // one quoted word passes the expander intact
                       {"e-mail", {5}},          // a hyphen inside a word joins its parts
                       {"pie-charts", {5}},
                       {"charts-pie", {}},    // in their order
                       {"-apple", {2, 5}}});  // a leading "-" brings "-e"
}

TEST_P(EngineCommands, RequestOptionsReachTheEngine) {
  expectFound("base", {{"aple", {}}, {"app", {}}, {"reynard", {}}});
  // Best first (the one titled for it, then three times "apple" in a short
  // text, then once), scores positive; or in record order.
  VelaOutPtr best = search("base", "apple");
  ASSERT_TRUE(best);
  EXPECT_EQ(selected(best), (Ids{1, 4, 3}));
  EXPECT_GE(best->m_rec[best->m_match_count - 1].m_score, 1);
  gRequest.sortField = "NONE";
  EXPECT_EQ(selected(search("base", "apple")), (Ids{1, 3, 4}));
  // The matched string is the query as understood.
  EXPECT_STREQ(search("base", "Apple & \"Quick Brown\" - hound")->m_matched_str,
               "apple AND \"quick brown\" NOT hound");
  gRequest.fgChinese = 1;  // partial words
  EXPECT_EQ(found("base", "app"), (Ids{1, 3, 4}));
  gRequest.fgChinese = 0;
  gRequest.fgThesaurus = 1;
  EXPECT_EQ(found("base", "reynard"), (Ids{1, 2}));
  gRequest.fgThesaurus = 0;
  gRequest.fgMatchMode = 1;
  EXPECT_EQ(found("base", "aple"), (Ids{1, 3, 4}));
  EXPECT_STREQ(search("base", "aple")->m_matched_str, "aple");  // not the words of one index
}

TEST_P(EngineCommands, WildcardExpansionRewritesTheTermFile) {
  const struct {
    const char* query;
    bool expanded;
    const char* termFile;  // after the expansion
    Ids hits;
  } cases[] = {
      {"app*", true, "(apple | application)", {1, 3, 4}}, {"AP**LE", true, "apple", {1, 3, 4}},
      {"h?und*", true, "(hound | hounds)", {2}},          {"zz*", true, "zz*", {}},
      {"app* orchard", false, "app* orchard", {3, 4}},  // the engine expands it
  };
  VelaCommand builder;
  const std::string home = systemGetIndexHome(kOwner, "base");
  for (const auto& c : cases) {
    gQuery = c.query;
    std::string rewritten, termFile;
    ASSERT_TRUE(builder.getQueryTermFile(buildVelaOption(gRequest, gQuery.c_str()).c_str(),
                                         rewritten, termFile));
    EXPECT_EQ(builder.expendWildCardQuery(home, termFile), c.expanded) << c.query;
    EXPECT_EQ(readFile(termFile), c.termFile) << c.query;
    EXPECT_EQ(found("base", c.query), c.hits) << c.query;
  }
}

TEST_P(EngineCommands, DateAndNumericRangesAreInclusiveAndOpenWithoutABound) {
  const struct {
    int begin, end;
    Ids ids;
  } cases[] = {{kT + kDay, kT + 3 * kDay, {2, 3, 4}},
               {kT + kDay + 1, kT + 3 * kDay - 1, {3}},
               {0, kT + kDay, {1, 2}},
               {kT + 3 * kDay, 0, {4, 5}},
               {kT + 3 * kDay, kT + kDay, {}}};
  for (const auto& c : cases) {
    std::string command, resultPath;
    VelaCommand().getDateRangeCommand(kOwner, "base", command, resultPath, c.begin, c.end);
    EXPECT_EQ(selected(execute(command, resultPath)), c.ids) << c.begin << " " << c.end;
  }

  // Over the database index: rows 1 Apple 10, 2 Banana 7.5, 3 Cherry (none),
  // 4 Date 12, 5 Elder -3.
  const std::pair<const char*, Ids> numbers[] = {
      {"[7-11]", {1, 2}},   {"[10] to [12]", {1, 4}},
      {"[-5] [8]", {2, 5}}, {"[-8]", {2, 5}},  // no low bound
      {"[11-]", {4}},                          // no high bound
      {"[100-200]", {}}};
  VelaCommand builder;
  std::string low, high, command, resultPath;
  for (const auto& [query, expected] : numbers) {
    ASSERT_TRUE(
        VelaCommand::checkFieldRangeSearch(buildVelaOption(gRequest, query).c_str(), low, high))
        << query;
    ASSERT_TRUE(builder.getDigitRangeCommand(kOwner, "db1", command, resultPath, low.c_str(),
                                             high.c_str(), 2));
    EXPECT_EQ(selected(execute(command, resultPath)), expected) << query;
  }
  // Text columns and columns beyond the table have no numeric filter index.
  for (int field : {1, 3, 4})
    EXPECT_FALSE(builder.getDigitRangeCommand(kOwner, "db1", command, resultPath, "1", "2", field));
  EXPECT_EQ(command, "");
  // A bound that would close its quote could name another filter index.
  ASSERT_TRUE(VelaCommand::checkFieldRangeSearch(
      buildVelaOption(gRequest, "[0-99\" -I \"x]").c_str(), low, high));
  EXPECT_FALSE(builder.getDigitRangeCommand(kOwner, "db1", command, resultPath, low.c_str(),
                                            high.c_str(), 2));
  EXPECT_EQ(command, "");
}

TEST_P(EngineCommands, DatabaseIndexFiles) {
  const std::string home = inst_->home("db1");
  // The field index has one record per cell: row r, column p is (r-1)*3+p.
  EXPECT_EQ(found("db1_sbf", "red"), (Ids{1, 9}));
  EXPECT_EQ(readFile(home + "_sbf/sbf_setting"), "0,0\n3\n1,1\n2,2\n3,3\n");
  EXPECT_EQ(inst_->read("system/group/domain/User/alice/db/db1/column_mapping.txt"),
            "db1,fruit.csv,1,name,text,1\ndb1,fruit.csv,2,price,number,2\n"
            "db1,fruit.csv,3,note,text,3\n");
  const Words ends = words(readFile(home + "/db_field.idx.0"));
  ASSERT_EQ(ends.size(), 15u);
  EXPECT_EQ(readFile(home + "/db_field.dat.0").substr(ends[1], ends[2] - ends[1]),
            "fresh \"crisp\"");
  EXPECT_EQ(words(readFile(home + "/db_field.info")), (Words{3, 1}));
  // Built again from another table, the index keeps no filter index of the old one.
  auto createDb2 = [&](const char* table) {
    return inst_->builder({"create", "--owner", kOwner, "--id", "db2", "--type", "db", table});
  };
  ASSERT_EQ(createDb2(inst_->path("tables/fruit.csv").c_str()).exitStatus, 0);
  inst_->write("tables/two.csv", "name\nElderberry\n");
  ASSERT_EQ(createDb2(inst_->path("tables/two.csv").c_str()).exitStatus, 0);
  EXPECT_EQ(found("db2", "elderberry"), Ids{1});
  EXPECT_FALSE(testutil::fileExists(inst_->home("db2") + "/digit_2.filter.index"));
}

TEST_P(EngineCommands, IncIndexSupersedesChangedRecordsUntilARebuild) {
  const std::string home = inst_->home("news"), incHome = home + "_inc";
  auto incList = [&] { return readFile(incHome + "/morna_incremental_idlist"); };
  EXPECT_EQ(incList(), "\x02\x03"s);  // superseded org records, 7-bit coded

  auto filtered = [&](const std::string& query) {
    VelaOutPtr org = search("news", query);
    filter_inclist inclist;
    EXPECT_EQ(inclist.init_inclist(incHome, 4), kIncListOk);
    if (org) inclist.filterInclist(*org);
    return selected(org, true);
  };
  EXPECT_EQ(filtered("weekly topic"), (Ids{1, 4}));
  EXPECT_EQ(found("news_inc", "weekly topic"), (Ids{1, 2}));
  // The old text is only in the superseded org record, the new one only in the inc index.
  EXPECT_EQ(found("news", "original"), Ids{2});
  EXPECT_EQ(filtered("original"), Ids{});
  EXPECT_EQ(found("news_inc", "revised"), Ids{1});
  EXPECT_EQ(found("news", "revised"), Ids{});

  const e2e::RunResult r = inst_->builder({"rebuild", "--id", "news"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  systemResetCaches();
  // Survivors keep their order (1 4 become 1 2), inc records follow.
  expectFound("news",
              {{"weekly topic", {1, 2, 3, 4}}, {"four", {2}}, {"revised", {3}}, {"original", {}}});
  EXPECT_EQ(incList(), "");
  EXPECT_EQ(words(readFile(home + "/.vela_log_1"))[0], 4u);
  for (const auto& e : std::filesystem::directory_iterator(home + "/.."))
    EXPECT_FALSE(std::regex_search(e.path().filename().string(), std::regex(R"(\.(new\d|old))")))
        << e.path();  // nothing left over from the switch
  ASSERT_EQ(inst_->builder({"update", "--id", "news", inst_->docs("news")}).exitStatus, 0);
  EXPECT_EQ(incList(), "");  // compared with the rebuilt org index
}

TEST_P(EngineCommands, ShellSyntaxInAQueryStaysTextAndHostileQueriesGiveAResult) {
  const std::string probe = "sr_cmds_probe";
  // One word goes to the expander; quotes would split one word or join two in a shell.
  const std::string queries[] = {"apple; touch ../" + probe + "1",
                                 "$(touch ../" + probe + "2)",
                                 "`touch ../" + probe + "3`",
                                 "apple' ; touch ../" + probe + "4 ; echo '",
                                 "apple\" -o \"../" + probe + "5",
                                 "$(touch${IFS}../" + probe + "6)",
                                 "x;touch>../" + probe + "7",
                                 "'zz' 'apple'",
                                 "\"zz\"apple",
                                 "'zz'apple"};
  for (const std::string& q : queries)
    EXPECT_EQ(found("base", q), Ids{}) << q;
  for (int i = 1; i <= 7; ++i) {
    const std::string name = probe + std::to_string(i);
    EXPECT_FALSE(testutil::fileExists(inst_->path(name))) << name;
    EXPECT_FALSE(testutil::fileExists(inst_->path("search-cgi/" + name))) << name;
  }
  // Queries no parser expects still give a result the back-end reads.
  for (const std::string& q : {std::string(5000, '('), std::string(3000, '-') + "apple",
                               "\"unterminated apple"s, std::string(2000, '|'), ")))apple((("s,
                               "apple " + std::string(10000, 'x'), "\xff\xfe\x80 apple"s}) {
    SCOPED_TRACE(q.substr(0, 40));
    search("base", q);
  }
}

TEST_P(EngineCommands, EngineProgramsRunDirectlyAndExitWith205OnBadInput) {
  std::string path;
  ASSERT_EQ(runFor("vela25_0.exe", {"-H", base_, "-L2", "-B0", "-bm", "-s -i -F60", "-P", "apple"},
                   "-o", path),
            0);
  // "matched\ncount\n", then "score recid" per hit up to the limit, best first.
  EXPECT_TRUE(
      std::regex_match(readFile(path), std::regex("apple\n2\n[1-9][0-9]* 1\n[1-9][0-9]* 4\n")))
      << readFile(path);
  // The most frequent words up to the limit (fox is in two records), "-" kept.
  EXPECT_EQ(
      inst_->run("binind/expand_vela_token_list.exe", {"-H", base_, "-limit", "1", "-fo*"}).out,
      "-fox\n");

  // Bad input: exit 205, and no result file.
  const std::string digits = inst_->home("db1") + "/digit_2.filter.index";
  const std::string cut = inst_->path("cut.index");  // a filter index cut short
  testutil::writeFile(cut, readFile(digits).substr(0, readFile(digits).size() - 1));
  const std::tuple<const char*, std::vector<std::string>, const char*> cases[] = {
      {"vela25_0.exe", {"-H", base_, "-binout", "-f", inst_->path("nofile"), "-B0"}, "-o"},
      {"vela25_0.exe", {"-H", inst_->path("nowhere"), "-binout", "x"}, "-o"},
      {"date_range.exe", {"-search", "-H", base_, "-B", "1x", "-E", "2", "-binout"}, "-O"},
      {"digit_index.exe", {"search", "-I", cut, "-x", "1", "-y", "2", "-binout"}, "-O"}};
  for (const auto& [program, args, outSwitch] : cases) {
    std::string out;
    EXPECT_EQ(runFor(program, args, outSwitch, out), 205) << args[1];
    EXPECT_FALSE(testutil::fileExists(out)) << args[1];
  }
  EXPECT_EQ(inst_->run("binind/vela25_0.exe", {"-H", base_, "x"}).exitStatus, 205);  // no -o
}

INSTANTIATE_TEST_SUITE_P(Service, EngineCommands, ::testing::Values(enginetest::Mode::kService),
                         enginetest::modeName);
INSTANTIATE_TEST_SUITE_P(Fallback, EngineCommands, ::testing::Values(enginetest::Mode::kFallback),
                         enginetest::modeName);

// Installations in a local code page: documents and queries in that page.
class EngineCommandsCodePages : public ::testing::TestWithParam<enginetest::Mode> {};

TEST_P(EngineCommandsCodePages, LocalQueriesAndTheirVariantsFindTheDocuments) {
  auto data = [](const char* name) {
    return testutil::readFile(std::string(SR_SOURCE_DIR) + "/tests/data/engine/" + name);
  };
  const std::string kana = "\x83\x4A\x83\x5E\x83\x4A\x83\x69";  // カタカナ
  const std::string big5 = "\xA5\xFE\xA4\xE5\xC0\xCB\xAF\xC1";  // 全文檢索
  for (const bool jp : {true, false}) {
    EngineInstall inst(GetParam());
    inst.write("lang.cfg", jp ? "JP\n" : "CH\n");
    inst.doc("local", "1.txt", data(jp ? "sjis_full.txt" : "big5_news.txt"));
    if (jp) inst.doc("local", "2.txt", data("sjis_half.txt"));
    if (jp)
      inst.doc("local", "3.txt", "\x95\x5C\x8E\xA6 settings\n");  // 表示 ends in a backslash byte
    inst.create("local", "local");
    InInstallation in(inst);
    ASSERT_EQ(systemGetLanguage(), jp ? kLangJP : kLangCH);
    if (jp) {
      expectFound("local",
                  {{kana, {1, 2}},
                   {"\xB6\xC0\xB6", {1, 2}},      // ｶﾀｶ: an odd count of one-byte kana
                   {"\xC3\xDE\xB0\xC0", {1, 2}},  // ﾃﾞｰﾀ
                   {"\x82\x72\x82\x64\x82\x60\x82\x71\x82\x62\x82\x67", {1, 2}},  // ＳＥＡＲＣＨ
                   {"\x95\x5C\x8E\xA6 settings", {3}},
                   {"search'x \xB6", {}}});  // a one-byte kana must not hide the quote
    } else {
      expectFound("local", {{big5, {1}},
                            {"\xA8\x74\xB2\xCE\xC0\xCB\xAF\xC1", {}},  // 系統檢索: a phrase
                            {"\xA5\x7C", {1}}});  // a second byte "|" is no operator
    }
    // The engine reports the query in the local code page, folded to full width.
    EXPECT_STREQ(search("local", jp ? "\xB6\xC0\xB6\xC5" : big5)->m_matched_str,
                 (jp ? kana : big5).c_str());
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, EngineCommandsCodePages,
                         ::testing::Values(enginetest::Mode::kService, enginetest::Mode::kFallback),
                         enginetest::modeName);

}  // namespace
