/// @file result_page_test.cc
/// @brief Reading a result page: which file is read, how pages are cut from
/// it, what the side files add, and the record data of each hit.

#include "companions/renderer/result_page.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include "system/layout.h"
#include "tests/renderer/renderer_fixture.h"
#include "tests/test_util.h"

namespace render {
namespace {

using namespace rendertest;

std::string u32(size_t v) {
  const uint32_t u = static_cast<uint32_t>(v);
  return std::string(reinterpret_cast<const char*>(&u), 4);
}

// The record-info files of an index as the builder writes them, one record per info line.
void writeIndex(const std::string& home, const std::vector<std::string>& infos) {
  std::string data, offsets;
  for (const std::string& info : infos) {
    offsets += u32(data.size());
    data += info + "@\n";
  }
  testutil::writeFile(home + "/.vela_recoffset", offsets + u32(data.size()));
  testutil::writeFile(home + "/vela_recdata_0", data);
  testutil::writeFile(home + "/.vela_recinfo", u32(1) + u32(4) + "vela" + u32(1) + u32(14) +
                                                   "vela_recdata_0" + u32(infos.size() + 1));
  testutil::writeFile(home + "/.vela_log_1", u32(infos.size()) + std::string(8, '\0'));
}

class ResultPageTest : public ::testing::Test {
 protected:
  ResultPageTest() : cwd_(testutil::makeInstallSkeleton(root_.path())) {
    testutil::writeFile(root_.sub("setting/system_info.cfg"),
                        "SYSTEM_DIRECTORY=" + root_.sub("system") + "\nDOMAIN_NAME=domain\n");
    systemResetCaches();
  }
  ~ResultPageTest() override { systemResetCaches(); }

  std::string home(const std::string& index) const {
    return root_.sub("system/group/domain/User/alice/index/" + index);
  }
  std::string tmp(const std::string& name) const { return root_.sub("tmp/" + name); }
  // Writes the result with hits 1..n of index "news" of another host appended.
  void write(const std::string& name, ResultSpec spec, int n = 0) const {
    for (int i = 1; i <= n; ++i)
      spec.lines.push_back(recordLine("alice", "news", 1000 - i, i, "10.9.9.9"));
    ASSERT_TRUE(writeResult(tmp(name), spec));
  }
  LoadStatus load(const std::string& name, int number = 1, int size = 0) {
    ResultReader reader("../tmp");
    RenderRequest request;
    request.page = number;
    request.pageSize = size;
    const LoadStatus opened = reader.open(name);
    return opened != LoadStatus::kOk ? opened : reader.load(request, kLangEN, page_);
  }

  testutil::TempDir root_;
  testutil::ScopedCwd cwd_;
  ResultPage page_;
};

TEST_F(ResultPageTest, WhatIsNotAPlainResultFileIsNotRead) {
  write("query11111", {}, 1);
  ASSERT_EQ(symlink(tmp("query11111").c_str(), tmp("query22222").c_str()), 0);
  testutil::makeDirs(tmp("query33333"));
  ResultSpec negative;
  negative.recordCount = -5;
  write("query44444", negative);
  for (const char* bad : {"query22222", "query33333", "query44444"})
    EXPECT_EQ(load(bad), LoadStatus::kDamaged) << bad;
  EXPECT_EQ(load("query11111_fast"), LoadStatus::kNotFound);
  // A bad record line is left out; record lines cut off make the file damaged.
  ResultSpec spec;
  spec.lines = {"garbage without fields\n"};
  write("query11111", spec, 2);
  ASSERT_EQ(load("query11111"), LoadStatus::kOk);
  ASSERT_EQ(page_.hits.size(), 2u);
  EXPECT_EQ(page_.hits[0].line.recid, 1);
  const std::string bytes = testutil::readFile(tmp("query11111"));
  testutil::writeFile(tmp("query11111"), bytes.substr(0, bytes.size() - 20));
  EXPECT_EQ(load("query11111"), LoadStatus::kDamaged);
}

TEST_F(ResultPageTest, TheFastFileStandsInWhileTheFullOneIsWritten) {
  ResultSpec fast;
  fast.recordCount = 25;
  write("query12345_fast", fast, 10);
  testutil::writeFile(tmp("query12345"), std::string(100, '\0'));
  ASSERT_EQ(load("query12345", 2), LoadStatus::kOk);
  EXPECT_EQ(page_.resultName, "query12345_fast");
  EXPECT_EQ(page_.pageCount, 3);
  EXPECT_TRUE(page_.hits.empty());  // beyond the fast file: missing, not absent
  EXPECT_TRUE(page_.linesMissing);
}

TEST_F(ResultPageTest, PagesAreCutFromTheFileInItsOrder) {
  // Stored page size, requested page and size; page size, first record, hits, page count.
  const std::tuple<int, int, int, int, int, size_t, int64_t> cases[] = {
      {10, 3, 0, 10, 21, 5, 3},
      {10, 2, 4, 4, 5, 4, 7},
      {10, INT32_MAX, kMaxPageSize, kMaxPageSize, 0, 0, 1},
      {0, 1, 0, kDefaultPageSize, 1, 10, 3},
      {5000, 1, 0, kMaxPageSize, 1, 25, 1},
  };
  for (const auto& [stored, number, size, pageSize, first, hits, pageCount] : cases) {
    ResultSpec spec;
    spec.perPage = stored;
    write("query12345", spec, 25);
    ASSERT_EQ(load("query12345", number, size), LoadStatus::kOk);
    EXPECT_EQ(page_.pageSize, pageSize);
    EXPECT_EQ(page_.pageCount, pageCount);
    ASSERT_EQ(page_.hits.size(), hits) << number << "/" << size;
    if (hits == 0) continue;
    EXPECT_EQ(page_.hits[0].line.recid, first);
    EXPECT_EQ(page_.hits[0].rank, first);
    EXPECT_EQ(page_.hits.back().line.recid, first + static_cast<int>(hits) - 1);
  }
}

TEST(RecordLine, FieldsAndOwnersAreChecked) {
  RecordLine l;
  ASSERT_TRUE(parseRecordLine(recordLine("/g", "news", -7, 42, "10.0.0.5"), l));
  EXPECT_EQ(l.host, "10.0.0.5");
  EXPECT_EQ(l.port, "20001");
  EXPECT_EQ(l.score, -7);
  const std::string d = D;
  for (const std::string& bad : {"h" + d + "o" + d + "i" + d + "1" + d + "2",  // no port
                                 "h:1" + d + "o" + d + "i" + d + "1",          // a field short
                                 "h:1" + d + "o" + d + "i" + d + "1" + d + "0"})
    EXPECT_FALSE(parseRecordLine(bad, l)) << bad;
  for (const char* ok : {"/groupA", "\\groupB", "a..b"})
    EXPECT_TRUE(isSafeOwner(ok)) << ok;
  for (const std::string& bad : std::vector<std::string>{
           "", "..", "/g/../../etc", "a/..", std::string(256, 'a'), std::string("a\0b", 3)})
    EXPECT_FALSE(isSafeOwner(bad)) << bad;
}

TEST_F(ResultPageTest, RecordsAreFoundInTheOrgOrTheIncIndexAndStayInside) {
  const std::string docs = root_.sub("docs");
  testutil::writeFile(docs + "/sub/a.txt", "a");
  writeIndex(home("news"), {"@P:sub/a.txt\n@T:Annual\n@B:Intro.\n", "@P:" + docs + "/b.txt\n",
                            "@P:../../etc/passwd\n"});
  writeIndex(home("news_inc"), {"@P:new.txt\n@T:New\n"});
  testutil::writeFile(home("news") + "/source_folder", docs + "\n");
  const IndexRecordReader reader("alice", "news", kLangEN);
  const RecordDetails a = reader.read(1);
  EXPECT_TRUE(a.found && a.readable);
  EXPECT_EQ(a.title, "Annual");
  EXPECT_EQ(a.firstLine, "Intro.");
  EXPECT_EQ(a.documentPath, docs + "/sub/a.txt");           // below the source folder
  EXPECT_EQ(reader.read(2).documentPath, docs + "/b.txt");  // absolute as it is
  EXPECT_EQ(reader.read(3).documentPath, "");               // may not climb out
  const RecordDetails inc = reader.read(4);                 // inc record 1
  EXPECT_EQ(inc.title, "New");
  EXPECT_EQ(inc.documentPath, "");  // the inc index names no source folder
  EXPECT_FALSE(reader.read(5).found);
  EXPECT_FALSE(reader.read(0).found);
  EXPECT_FALSE(IndexRecordReader("../alice", "news", kLangEN).read(1).found);
  EXPECT_FALSE(IndexRecordReader("alice", "../news", kLangEN).read(1).found);
}

TEST_F(ResultPageTest, HitsShowTheirRecordsSnippetsAndSideFiles) {
  writeIndex(home("news"), {"@P:/nowhere/b.txt\n@B:first report line\n"});
  testutil::writeFile(root_.sub("host_address"), "10.0.0.1\n");
  ResultSpec spec;
  spec.descriptors = {descriptor(" ", "all", "all", " "), descriptor("alice", "News", "news"),
                      descriptor("/grp", "Plans", "plans")};
  spec.lines = {recordLine("alice", "news", 90, 1, "10.0.0.1")};
  spec.relTerms = std::string("alpha") + D + "beta" + D + "\x15\x16\x17" + "beta" + D + "gamma";
  spec.term = "_QUERY_DISALLOWED_";
  spec.keyword = "a,report";
  write("query12345", spec, 1);
  testutil::writeFile(tmp("query12345_idx"),
                      "127.0.0.1\talice\tnews\t12\n127.0.0.1\t/grp\tplans\t-1\nbad line\n");
  testutil::writeFile(tmp("query12345.filter"), "BEGIN_DATA=2005/7/1\nEND_DATA=2005/7/20\n");
  testutil::writeFile(tmp("query12345_class"), "==CLASS==\nReports\tC01\n==INDEX==\nx\tU\n");
  testutil::writeFile(tmp("query12345_similar_keyword"), "reports\t87\nnotab\n");
  ASSERT_EQ(load("query12345"), LoadStatus::kOk);
  ASSERT_EQ(page_.hits.size(), 2u);
  // Without its document the first line stands in for the snippet.
  const HitView& b = page_.hits[0];
  EXPECT_TRUE(b.local && !b.linkable);
  EXPECT_EQ(b.indexDesc, "News");
  ASSERT_EQ(b.snippet.pieces.size(), 3u);
  EXPECT_TRUE(b.snippet.pieces[1].term && b.snippet.pieces[1].text == "report");
  // A hit of another host: what the result says, though a record of that number is here.
  EXPECT_FALSE(page_.hits[1].local);
  EXPECT_EQ(page_.hits[1].fileName, "record 1");
  EXPECT_TRUE(page_.queryDisallowed);
  EXPECT_EQ(page_.queryTyped, "");
  ASSERT_EQ(page_.relatedTerms.size(), 3u);  // groups joined, duplicates dropped
  ASSERT_EQ(page_.indexes.size(), 2u);
  EXPECT_EQ(page_.indexes[1].desc, "Plans");
  EXPECT_EQ(page_.indexes[1].matches, -1);
  EXPECT_EQ(page_.dateTo, "2005/7/20");
  ASSERT_EQ(page_.classes.size(), 1u);
  ASSERT_EQ(page_.similarKeywords.size(), 1u);
  EXPECT_EQ(page_.similarKeywords[0].score, 87);
}

TEST_F(ResultPageTest, OnlyPlainWebAddressesBecomeTheMainPageLink) {
  const std::pair<const char*, bool> cases[] = {
      {"http://h/i.html", true}, {"https://h/", true},       {"/search/", true},
      {"NONE", false},           {"//evil.example/", false}, {"javascript:alert(1)", false},
      {"http://a\"b", false},    {"http://a b", false}};
  for (const auto& [url, kept] : cases) {
    ResultSpec spec;
    spec.mainPage = url;
    write("query12345", spec);
    ASSERT_EQ(load("query12345"), LoadStatus::kOk);
    EXPECT_EQ(page_.mainPageUrl, kept ? url : "") << url;
  }
}

}  // namespace
}  // namespace render
