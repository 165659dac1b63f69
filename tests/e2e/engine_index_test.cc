/// @file engine_index_test.cc
/// @brief End to end: the index builder's create, update and rebuild, the
/// inc index with superseded records, numeric ranges, and installations in
/// the Big5 and Shift_JIS code pages.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "companions/engine/digit_filter.h"
#include "tests/e2e/engine_util.h"

namespace {

using enginetest::EngineInstall;
using enginetest::Result;
using Ids = std::set<uint32_t>;
using namespace std::string_literals;

std::string incListBytes(const EngineInstall& inst, const std::string& id) {
  return inst.read("system/group/domain/User/alice/index/" + id + "_inc/morna_incremental_idlist");
}

TEST(EngineIndex, UpdatePutsChangesIntoTheIncIndexAndRebuildFoldsThemBack) {
  EngineInstall inst;
  for (int i = 1; i <= 12; ++i)
    inst.doc("src", "doc" + std::to_string(100 + i) + ".txt",
             "document number" + std::to_string(i) + " about topic" + std::to_string(i % 3) + "\n");
  std::string home = inst.create("inc1", "src");
  EXPECT_EQ(inst.query(home, "topic0").idSet(), (Ids{3, 6, 9, 12}));
  // A fresh index has an empty inc index.
  EXPECT_EQ(
      enginetest::readUInt32s(
          inst.read("system/group/domain/User/alice/index/inc1_inc/.vela_log_1").substr(0, 4))[0],
      0u);

  // Record 3 changes, record 6 disappears, a new document arrives.
  inst.doc("src", "doc103.txt", "document number3 rewritten about topic7\n", 1200000000);
  std::remove(inst.path("docs/src/doc106.txt").c_str());
  inst.doc("src", "doc200.txt", "a new document about topic0 and topic7\n");
  e2e::RunResult r = inst.builder({"update", "--id", "inc1", inst.docs("src")});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");  // quiet when not on a terminal

  // The superseded org records: 3 (changed) and 6 (deleted), 7-bit coded.
  EXPECT_EQ(incListBytes(inst, "inc1"), std::string("\x03\x06", 2));
  std::string incHome = home + "_inc";
  auto recsize = testutil::readFile(incHome + "/.vela_increment_recsize");
  ASSERT_EQ(recsize.size(), 12u);
  EXPECT_EQ(enginetest::readUInt32s(recsize.substr(0, 4))[0], 2u);
  // The inc index numbers its own records from 1, in source order.
  EXPECT_EQ(inst.query(incHome, "topic7").idSet(), (Ids{1, 2}));
  std::string names = testutil::readFile(incHome + "/morna_filename_list");
  EXPECT_EQ(names, "doc103.txtdoc200.txt");
  // The org index is untouched until a rebuild.
  EXPECT_EQ(inst.query(home, "topic0").idSet(), (Ids{3, 6, 9, 12}));

  // A second update with no further change gives the same inc index.
  ASSERT_EQ(inst.builder({"update", "--id", "inc1", inst.docs("src")}).exitStatus, 0);
  EXPECT_EQ(incListBytes(inst, "inc1"), std::string("\x03\x06", 2));

  r = inst.builder({"rebuild", "--id", "inc1"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  // Survivors keep their order (1 2 4 5 7 ... 12 become 1..10), inc records follow.
  EXPECT_EQ(inst.query(home, "topic0").idSet(), (Ids{7, 10, 12}));
  EXPECT_EQ(inst.query(home, "topic7").idSet(), (Ids{11, 12}));
  EXPECT_EQ(inst.query(home, "number3").idSet(), (Ids{11}));
  EXPECT_EQ(inst.query(incHome, "topic7").idSet(), Ids{});
  EXPECT_EQ(incListBytes(inst, "inc1"), "");
  EXPECT_EQ(enginetest::readUInt32s(testutil::readFile(home + "/.vela_log_1").substr(0, 4))[0],
            12u);
  // Nothing is left over from the switch.
  std::vector<std::string> stray;
  for (const auto& e : std::filesystem::directory_iterator(home + "/.."))
    if (e.path().filename().string().find(".new") != std::string::npos)
      stray.push_back(e.path().string());
  EXPECT_EQ(stray, std::vector<std::string>{});
  // An update after the rebuild compares with the rebuilt org index.
  ASSERT_EQ(inst.builder({"update", "--id", "inc1", inst.docs("src")}).exitStatus, 0);
  EXPECT_EQ(incListBytes(inst, "inc1"), "");
}

TEST(EngineIndex, BuilderRefusesBadRequestsAndKeepsTheIndex) {
  EngineInstall inst;
  inst.doc("src", "a.txt", "alpha beta\n");
  std::string home = inst.create("keep", "src");
  struct Case {
    std::vector<std::string> args;
    int status;
  };
  const std::vector<Case> cases = {
      {{"update", "--id", "keep", inst.path("docs/missing")}, 1},
      {{"update", "--id", "nosuch", inst.docs("src")}, 1},
      {{"update", "--id", "../../x", inst.docs("src")}, 1},
      {{"create", "--owner", "bob", "--id", "keep", inst.docs("src")}, 1},  // alice's id
      {{"create", "--owner", "alice", "--id", "waytoolong", inst.docs("src")}, 1},
      {{"create", "--owner", "alice", "--type", "proxy", inst.docs("src")}, 1},
      {{"create", "--owner", "alice"}, 2},
      {{"rebuild"}, 2},
      {{"frobnicate"}, 2},
      {{"--bogus"}, 2},
  };
  for (const Case& c : cases) {
    e2e::RunResult r = inst.builder(c.args);
    EXPECT_EQ(r.exitStatus, c.status) << c.args[0] << " " << r.err;
    EXPECT_NE(r.err, "");
  }
  EXPECT_EQ(inst.query(home, "alpha").idSet(), Ids{1});
  e2e::RunResult help = inst.builder({"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_NE(help.out.find("update --id ID SOURCE_DIR"), std::string::npos);
}

TEST(EngineIndex, CreateWithoutIdClaimsOneAndRootCanBeGiven) {
  EngineInstall inst;
  inst.doc("src", "a.txt", "gamma\n");
  // Run from elsewhere with --root, as an administrator would.
  e2e::RunResult r = e2e::runProgram(inst.path("binind/index_builder"),
                                     {"--root", inst.root(), "create", "--owner", "/teamA",
                                      "--desc", "Team documents", inst.docs("src")},
                                     {}, "/", "");
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  std::string id = r.out.substr(0, r.out.size() - 1);
  ASSERT_EQ(id.size(), 6u);
  std::string idFile = inst.read("system/ref/" + id + ".id");
  ASSERT_EQ(idFile.size(), 152u);
  EXPECT_EQ(idFile.substr(8, 15), "Team documents\0"s);
  EXPECT_EQ(idFile.substr(72, 7), "/teamA\0"s);
  // A group owner's indexes live under SYSTEM/group/<path>.
  Result hits = inst.query(inst.path("system/group/teamA/index/" + id), "gamma");
  EXPECT_EQ(hits.idSet(), Ids{1});
}

TEST(EngineIndex, NumericRangeOverAFilterIndex) {
  EngineInstall inst;
  std::string file = inst.path("digit_3.filter.index");
  ASSERT_TRUE(vela::writeDigitFilter(file, {{20, 4}, {10, 1}, {15.5, 2}, {-3, 3}, {10, 5}}));
  auto range = [&](const char* low, const char* high) {
    std::string out;
    EXPECT_EQ(inst.runFor("digit_index.exe",
                          {"search", "-I", file, "-x", low, "-y", high, "-binout"}, "-O", out),
              0);
    Result r = enginetest::decodeBinout(out);
    EXPECT_TRUE(r.ok);
    return r.ids();
  };
  EXPECT_EQ(range("10", "20"), (std::vector<uint32_t>{1, 2, 4, 5}));
  EXPECT_EQ(range("10.5", "15.5"), (std::vector<uint32_t>{2}));
  EXPECT_EQ(range("-5", "0"), (std::vector<uint32_t>{3}));
  EXPECT_EQ(range("", "10"), (std::vector<uint32_t>{1, 3, 5}));
  EXPECT_EQ(range("21", "99"), (std::vector<uint32_t>{}));
  // A file cut short is no filter index.
  std::string bytes = testutil::readFile(file);
  testutil::writeFile(file, bytes.substr(0, bytes.size() - 1));
  std::string out;
  EXPECT_EQ(inst.runFor("digit_index.exe", {"search", "-I", file, "-x", "1", "-y", "2", "-binout"},
                        "-O", out),
            205);
}

TEST(EngineIndex, DatabaseIndexFromACsvTable) {
  EngineInstall inst;
  inst.write("tables/fruit.csv",
             "name,price,note\r\n\"Apple, red\",10,\"fresh \"\"crisp\"\"\"\r\nBanana,7.5,yellow\r\n"
             "Cherry,,dark red\r\nDate,12\r\n");
  e2e::RunResult r = inst.builder(
      {"create", "--owner", "alice", "--id", "db1", "--type", "db", inst.path("tables/fruit.csv")});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  std::string home = inst.home("db1");
  // One record per row.
  EXPECT_EQ(inst.query(home, "red").idSet(), (Ids{1, 3}));
  EXPECT_EQ(inst.query(home, "crisp").idSet(), Ids{1});
  // The field index has one record per cell: row r, column p is (r-1)*3+p.
  EXPECT_EQ(inst.query(home + "_sbf", "red").idSet(), (Ids{1, 9}));
  EXPECT_EQ(testutil::readFile(home + "_sbf/sbf_setting"), "0,0\n3\n1,1\n2,2\n3,3\n");
  EXPECT_EQ(inst.read("system/group/domain/User/alice/db/db1/column_mapping.txt"),
            "db1,fruit.csv,1,name,text,1\ndb1,fruit.csv,2,price,number,2\n"
            "db1,fruit.csv,3,note,text,3\n");
  // Cell texts for sorting: cell c of record r is (r-1)*3+c.
  auto ends = enginetest::readUInt32s(testutil::readFile(home + "/db_field.idx.0"));
  ASSERT_EQ(ends.size(), 12u);
  std::string cells = testutil::readFile(home + "/db_field.dat.0");
  EXPECT_EQ(cells.substr(ends[1], ends[2] - ends[1]), "fresh \"crisp\"");
  EXPECT_EQ(enginetest::readUInt32s(testutil::readFile(home + "/db_field.info")),
            (std::vector<uint32_t>{3, 1}));
  // The numeric column has its filter index; the empty price has no entry.
  std::string out;
  ASSERT_EQ(inst.runFor(
                "digit_index.exe",
                {"search", "-I", home + "/digit_2.filter.index", "-x", "7", "-y", "11", "-binout"},
                "-O", out),
            0);
  EXPECT_EQ(enginetest::decodeBinout(out).ids(), (std::vector<uint32_t>{1, 2}));
  EXPECT_FALSE(testutil::fileExists(home + "/digit_1.filter.index"));
  // A database index is brought up to date by building it again.
  EXPECT_EQ(inst.builder({"update", "--id", "db1", inst.path("tables")}).exitStatus, 1);
  inst.write("tables/fruit.csv", "name\nElderberry\n");
  ASSERT_EQ(inst.builder({"create", "--owner", "alice", "--id", "db1", "--type", "db",
                          inst.path("tables/fruit.csv")})
                .exitStatus,
            0);
  EXPECT_EQ(inst.query(home, "elderberry").idSet(), Ids{1});
  EXPECT_FALSE(testutil::fileExists(home + "/digit_2.filter.index"));
}

// Texts of the code-page installations, from tests/data/engine.
std::string dataFile(const std::string& name) {
  return testutil::readFile(std::string(SR_SOURCE_DIR) + "/tests/data/engine/" + name);
}

TEST(EngineIndex, Big5InstallationSearchesBig5Text) {
  EngineInstall inst;
  inst.write("lang.cfg", "CH\n");
  inst.doc("big5", "news.txt", dataFile("big5_news.txt"));
  inst.doc("big5", "other.txt", "plain ASCII ABC123 text\n");
  std::string home = inst.create("big5", "big5");
  // "全文檢索" (full-text search) in Big5.
  std::string query = "\xA5\xFE\xA4\xE5\xC0\xCB\xAF\xC1";
  Result r = inst.query(home, query);
  EXPECT_EQ(r.idSet(), Ids{1});
  EXPECT_EQ(r.matched, query);  // reported in the installation's code page
  // "檢索系統" is there, "系統檢索" is not: CJK text is matched as a phrase.
  EXPECT_EQ(inst.query(home, "\xC0\xCB\xAF\xC1\xA8\x74\xB2\xCE").idSet(), Ids{1});
  EXPECT_EQ(inst.query(home, "\xA8\x74\xB2\xCE\xC0\xCB\xAF\xC1").idSet(), Ids{});
  // Full-width "ABC" (as the request front may send it) finds the ASCII word.
  EXPECT_EQ(inst.query(home,
                       "\xA2\xCF\xA2\xD0\xA2\xD1"
                       "123")
                .idSet(),
            Ids{2});
  // A Big5 character whose second byte is "|" is no operator.
  EXPECT_EQ(inst.query(home, "\xA5\x7C").idSet(), Ids{1});
  std::string names = testutil::readFile(home + "/morna_filename_list");
  EXPECT_EQ(names, "news.txtother.txt");
}

TEST(EngineIndex, ShiftJisInstallationFoldsWidths) {
  EngineInstall inst;
  inst.write("lang.cfg", "JP\n");
  inst.doc("sjis", "full.txt", dataFile("sjis_full.txt"));
  inst.doc("sjis", "half.txt", dataFile("sjis_half.txt"));
  std::string home = inst.create("sjis", "sjis");
  // "カタカナ" in full-width and half-width katakana: each finds both texts.
  std::string fullKana = "\x83\x4A\x83\x5E\x83\x4A\x83\x69";
  std::string halfKana = "\xB6\xC0\xB6\xC5";
  EXPECT_EQ(inst.query(home, fullKana).idSet(), (Ids{1, 2}));
  EXPECT_EQ(inst.query(home, halfKana).idSet(), (Ids{1, 2}));
  // "データ" with a voiced mark: full-width text, half-width query (ﾃﾞｰﾀ).
  EXPECT_EQ(inst.query(home, "\xC3\xDE\xB0\xC0").idSet(), (Ids{1, 2}));
  // Full-width upper-case "ＳＥＡＲＣＨ" finds "search" and "ＳＥＡＲＣＨ".
  EXPECT_EQ(inst.query(home, "\x82\x72\x82\x64\x82\x60\x82\x71\x82\x62\x82\x67").idSet(),
            (Ids{1, 2}));
  EXPECT_EQ(inst.query(home, "search").idSet(), (Ids{1, 2}));
  // The matched string comes back in Shift_JIS, folded to full-width kana.
  EXPECT_EQ(inst.query(home, halfKana).matched, fullKana);
}

}  // namespace
