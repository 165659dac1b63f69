/// @file result_page_test.cc
/// @brief Reading a result page: which file is read, how pages are cut from
/// it, what the side files add, and the record data of each hit.

#include "companions/renderer/result_page.h"

#include <unistd.h>

#include <cstring>

#include <gtest/gtest.h>

#include "system/layout.h"
#include "tests/renderer/renderer_fixture.h"
#include "tests/test_util.h"

namespace render {
namespace {

using rendertest::D;
using rendertest::recordLine;
using rendertest::ResultSpec;

void appendU32(std::string& out, uint32_t v) {
  char b[4];
  std::memcpy(b, &v, 4);
  out.append(b, 4);
}

struct Rec {
  std::string name;
  uint32_t time;
  uint32_t size;
  std::string info;
};

// An index directory as the index builder lays it out.
void writeIndex(const std::string& home, const std::vector<Rec>& recs) {
  std::string names, ends, times, sizes, data, offsets, info, log;
  for (const Rec& r : recs) {
    names += r.name;
    appendU32(ends, static_cast<uint32_t>(names.size()));
    appendU32(times, r.time);
    appendU32(sizes, r.size);
    appendU32(offsets, static_cast<uint32_t>(data.size()));
    data += r.info + "@\n";
  }
  appendU32(offsets, static_cast<uint32_t>(data.size()));
  appendU32(info, 1);
  appendU32(info, 4);
  info += "vela";
  appendU32(info, 1);
  appendU32(info, 14);
  info += "vela_recdata_0";
  appendU32(info, static_cast<uint32_t>(recs.size() + 1));
  appendU32(log, static_cast<uint32_t>(recs.size()));
  log += std::string(8, '\0');
  const std::pair<const char*, std::string> files[] = {
      {"morna_filename_list", names}, {"morna_filename_list_index", ends},
      {"morna_time_list", times},     {"morna_size_list", sizes},
      {".vela_recinfo", info},        {".vela_recoffset", offsets},
      {"vela_recdata_0", data},       {".vela_log_1", log}};
  for (const auto& [name, bytes] : files)
    testutil::writeFile(home + "/" + name, bytes);
}

class ResultPageTest : public ::testing::Test {
 protected:
  ResultPageTest() : cgi_(testutil::makeInstallSkeleton(root_.path())), cwd_(cgi_) {
    testutil::writeFile(root_.sub("setting/system_info.cfg"),
                        "SYSTEM_DIRECTORY=" + root_.sub("system") + "\nDOMAIN_NAME=domain\n");
    systemResetCaches();
  }
  ~ResultPageTest() override { systemResetCaches(); }

  std::string home(const std::string& index) const {
    return root_.sub("system/group/domain/User/alice/index/" + index);
  }
  std::string tmp(const std::string& name) const { return root_.sub("tmp/" + name); }
  void write(const std::string& name, const ResultSpec& spec) const {
    ASSERT_TRUE(rendertest::writeResult(tmp(name), spec));
  }
  // Lines of hits 1..n of index "news", from another host unless local.
  static std::vector<std::string> lines(int n, const std::string& host = "10.9.9.9") {
    std::vector<std::string> out;
    for (int i = 1; i <= n; ++i)
      out.push_back(recordLine("alice", "news", 1000 - i, i, host));
    return out;
  }
  LoadStatus load(const std::string& name, ResultPage& page, int pageNumber = 1,
                  int pageSize = 0) const {
    ResultReader reader("../tmp");
    const LoadStatus opened = reader.open(name);
    if (opened != LoadStatus::kOk) return opened;
    RenderRequest request;
    request.result = name;
    request.page = pageNumber;
    request.pageSize = pageSize;
    return reader.load(request, kLangEN, page);
  }

  testutil::TempDir root_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
};

TEST_F(ResultPageTest, TheFullFileIsReadAndTheFastOneStandsIn) {
  ResultPage page;
  EXPECT_EQ(load("query12345", page), LoadStatus::kNotFound);
  ResultSpec fast;
  fast.lines = lines(3);
  write("query12345_fast", fast);
  ASSERT_EQ(load("query12345", page), LoadStatus::kOk);
  EXPECT_EQ(page.resultName, "query12345_fast");
  // A full file still being written does not hide the fast one.
  testutil::writeFile(tmp("query12345"), std::string(100, '\0'));
  ASSERT_EQ(load("query12345", page), LoadStatus::kOk);
  EXPECT_EQ(page.resultName, "query12345_fast");
  ASSERT_EQ(unlink(tmp("query12345_fast").c_str()), 0);
  EXPECT_EQ(load("query12345", page), LoadStatus::kDamaged);
  ResultSpec full;
  full.lines = lines(4);
  write("query12345", full);
  ASSERT_EQ(load("query12345", page), LoadStatus::kOk);
  EXPECT_EQ(page.resultName, "query12345");
  EXPECT_EQ(page.hits.size(), 4u);
  EXPECT_EQ(load("query12345_fast", page), LoadStatus::kNotFound);
}

TEST_F(ResultPageTest, WhatIsNotAPlainResultFileIsNotRead) {
  ResultSpec spec;
  spec.lines = lines(2);
  write("query11111", spec);
  ASSERT_EQ(symlink(tmp("query11111").c_str(), tmp("query22222").c_str()), 0);
  ResultPage page;
  EXPECT_EQ(load("query22222", page), LoadStatus::kDamaged);
  testutil::makeDirs(tmp("query33333"));
  EXPECT_EQ(load("query33333", page), LoadStatus::kDamaged);
  spec.recordCount = -5;
  write("query44444", spec);
  EXPECT_EQ(load("query44444", page), LoadStatus::kDamaged);
}

TEST_F(ResultPageTest, PagesAreCutFromTheFileInItsOrder) {
  ResultSpec spec;
  spec.perPage = 10;
  spec.lines = lines(25);
  write("query12345", spec);
  const struct {
    int page, size;
    std::vector<int> recids;
    int64_t pageCount;
  } cases[] = {
      {1, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 3},
      {3, 0, {21, 22, 23, 24, 25}, 3},
      {4, 0, {}, 3},
      {2, 4, {5, 6, 7, 8}, 7},
      {7, 4, {25}, 7},
      {INT32_MAX, kMaxPageSize, {}, 1},
  };
  for (const auto& c : cases) {
    ResultPage page;
    ASSERT_EQ(load("query12345", page, c.page, c.size), LoadStatus::kOk);
    std::vector<int> recids;
    for (const HitView& h : page.hits) {
      recids.push_back(h.line.recid);
      EXPECT_EQ(h.rank, (c.page - 1) * static_cast<int64_t>(page.pageSize) +
                            static_cast<int64_t>(recids.size()));
    }
    EXPECT_EQ(recids, c.recids) << c.page << "/" << c.size;
    EXPECT_EQ(page.pageCount, c.pageCount);
    EXPECT_FALSE(page.linesMissing);
    EXPECT_EQ(page.totalHits, 25);
  }
}

TEST_F(ResultPageTest, PageSizeComesFromTheRequestThenTheResult) {
  ResultSpec spec;
  spec.lines = lines(30);
  spec.perPage = 0;
  write("query12345", spec);
  ResultPage page;
  ASSERT_EQ(load("query12345", page), LoadStatus::kOk);
  EXPECT_EQ(page.pageSize, kDefaultPageSize);
  spec.perPage = 5000;
  write("query12345", spec);
  ASSERT_EQ(load("query12345", page), LoadStatus::kOk);
  EXPECT_EQ(page.pageSize, kMaxPageSize);
  ASSERT_EQ(load("query12345", page, 1, 7), LoadStatus::kOk);
  EXPECT_EQ(page.hits.size(), 7u);
}

TEST_F(ResultPageTest, AFastFileLacksTheLaterPages) {
  ResultSpec spec;
  spec.lines = lines(20);
  spec.recordCount = 100;
  write("query12345_fast", spec);
  ResultPage page;
  ASSERT_EQ(load("query12345", page, 2), LoadStatus::kOk);
  EXPECT_EQ(page.hits.size(), 10u);
  EXPECT_FALSE(page.linesMissing);
  ASSERT_EQ(load("query12345", page, 3), LoadStatus::kOk);
  EXPECT_TRUE(page.hits.empty());
  EXPECT_TRUE(page.linesMissing);
  EXPECT_EQ(page.totalHits, 100);
  EXPECT_EQ(page.pageCount, 10);
}

TEST_F(ResultPageTest, DamageIsReportedNotRendered) {
  ResultSpec spec;
  spec.lines = lines(3);
  spec.lines[1] = "garbage without fields\n";
  write("query12345", spec);
  ResultPage page;
  ASSERT_EQ(load("query12345", page), LoadStatus::kOk);
  ASSERT_EQ(page.hits.size(), 2u);  // the bad line is left out
  EXPECT_EQ(page.hits[1].line.recid, 3);
  // Cut short: the record lines lie past the end of the file.
  const std::string bytes = testutil::readFile(tmp("query12345"));
  testutil::writeFile(tmp("query12345"), bytes.substr(0, bytes.size() - 20));
  EXPECT_EQ(load("query12345", page), LoadStatus::kDamaged);
}

TEST(RecordLine, FieldsAreCheckedAsTheyAreRead) {
  RecordLine l;
  ASSERT_TRUE(parseRecordLine(recordLine("/groupA", "news", -7, 42, "10.0.0.5"), l));
  EXPECT_EQ(l.host, "10.0.0.5");
  EXPECT_EQ(l.port, "20001");
  EXPECT_EQ(l.owner, "/groupA");
  EXPECT_EQ(l.index, "news");
  EXPECT_EQ(l.score, -7);
  EXPECT_EQ(l.recid, 42);
  const std::string bad[] = {
      "",
      std::string("h") + D + "o" + D + "i" + D + "1" + D + "2",              // no port
      std::string("h:1") + D + "o" + D + "i" + D + "1",                      // too few fields
      std::string("h:1") + D + "o" + D + "i" + D + "1" + D + "2" + D + "3",  // too many
      std::string("h:1") + D + "o" + D + "i" + D + "x" + D + "2",
      std::string("h:1") + D + "o" + D + "i" + D + "1" + D + "0",
      std::string("h:1") + D + "o" + D + "i" + D + "1" + D + "99999999999",
  };
  for (const std::string& line : bad)
    EXPECT_FALSE(parseRecordLine(line, l)) << line;
}

TEST(RecordLine, OwnersCannotLeaveTheGroupTree) {
  for (const char* ok : {"alice", "/groupA", "\\groupB", "a..b", "/g/..x"})
    EXPECT_TRUE(isSafeOwner(ok)) << ok;
  for (const char* bad : {"", "..", "../x", "/group/../../etc", "a/..", "/.."})
    EXPECT_FALSE(isSafeOwner(bad)) << bad;
  EXPECT_FALSE(isSafeOwner(std::string(256, 'a')));
  EXPECT_FALSE(isSafeOwner(std::string("a\0b", 3)));
}

TEST_F(ResultPageTest, RecordsAreFoundInTheOrgOrTheIncIndex) {
  const std::string docs = root_.sub("docs");
  testutil::writeFile(docs + "/sub/a.txt", "Intro. The annual report is here.");
  testutil::writeFile(docs + "/b.txt", "b");
  writeIndex(home("news"), {{"a.txt", 1100000000, 33, "@P:sub/a.txt\n@T:Annual\n@B:Intro.\n"},
                            {"b.txt", 0, 1, "@P:" + docs + "/b.txt\n@T:\n@B:first b\n"},
                            {"c.txt", 0, 1, "@P:../../etc/passwd\n@T:\n@B:\n"}});
  writeIndex(home("news_inc"), {{"new.txt", 5, 7, "@P:new.txt\n@T:New\n@B:\n"}});
  testutil::writeFile(home("news") + "/source_folder", docs + "\n");

  const IndexRecordReader reader("alice", "news", kLangEN);
  RecordDetails a = reader.read(1);
  ASSERT_TRUE(a.found);
  EXPECT_EQ(a.fileName, "a.txt");
  EXPECT_EQ(a.title, "Annual");
  EXPECT_EQ(a.firstLine, "Intro.");
  EXPECT_EQ(a.documentPath, docs + "/sub/a.txt");
  EXPECT_TRUE(a.readable);
  EXPECT_EQ(a.time, 1100000000u);
  EXPECT_EQ(a.size, 33u);
  EXPECT_EQ(reader.read(2).documentPath, docs + "/b.txt");  // absolute as it is
  EXPECT_EQ(reader.read(3).documentPath, "");               // may not climb out
  RecordDetails inc = reader.read(4);                       // inc record 1
  ASSERT_TRUE(inc.found);
  EXPECT_EQ(inc.fileName, "new.txt");
  EXPECT_EQ(inc.documentPath, "");  // the inc index names no source folder
  EXPECT_FALSE(inc.readable);
  EXPECT_FALSE(reader.read(5).found);
  EXPECT_FALSE(reader.read(0).found);
  EXPECT_FALSE(IndexRecordReader("../alice", "news", kLangEN).read(1).found);
  EXPECT_FALSE(IndexRecordReader("alice", "../news", kLangEN).read(1).found);
}

TEST_F(ResultPageTest, HitsShowTheirRecordsAndSnippets) {
  const std::string docs = root_.sub("docs");
  testutil::writeFile(docs + "/a.txt", "Intro. The annual REPORT is <here>.");
  writeIndex(home("news"), {{"a.txt", 1100000000, 33, "@P:" + docs + "/a.txt\n@T:Annual\n@B:x\n"},
                            {"b.txt", 0, 1, "@P:/nowhere/b.txt\n@T:\n@B:first report line\n"}});
  ResultSpec spec;
  spec.descriptors = {rendertest::descriptor(" ", "all", "all", " "),
                      rendertest::descriptor("alice", "Company news", "news")};
  spec.lines = {recordLine("alice", "news", 90, 1, "10.0.0.1"),
                recordLine("alice", "news", 80, 2, "10.0.0.1"),
                recordLine("alice", "news", 70, 1, "10.9.9.9")};
  testutil::writeFile(root_.sub("host_address"), "10.0.0.1\n");
  write("query12345", spec);
  ResultPage page;
  ASSERT_EQ(load("query12345", page), LoadStatus::kOk);
  ASSERT_EQ(page.hits.size(), 3u);
  const HitView& a = page.hits[0];
  EXPECT_TRUE(a.local);
  EXPECT_TRUE(a.linkable);
  EXPECT_EQ(a.indexDesc, "Company news");
  EXPECT_EQ(a.title, "Annual");
  ASSERT_EQ(a.snippet.pieces.size(), 3u);
  EXPECT_EQ(a.snippet.pieces[1].text, "REPORT");
  EXPECT_TRUE(a.snippet.pieces[1].term);
  // Without its document the first line stands in.
  const HitView& b = page.hits[1];
  EXPECT_FALSE(b.linkable);
  ASSERT_EQ(b.snippet.pieces.size(), 3u);
  EXPECT_EQ(b.snippet.pieces[1].text, "report");
  // A hit of another host is shown by what the result itself says, even
  // when an index of the same name here has a record of that number.
  const HitView& remote = page.hits[2];
  EXPECT_FALSE(remote.local);
  EXPECT_EQ(remote.fileName, "record 1");
  EXPECT_EQ(remote.indexDesc, "Company news");
  EXPECT_EQ(remote.line.score, 70);

  spec.matchMode = 0;  // no matched text wanted
  write("query12345", spec);
  ASSERT_EQ(load("query12345", page), LoadStatus::kOk);
  EXPECT_TRUE(page.hits[0].snippet.empty());
}

TEST_F(ResultPageTest, SideFilesAndTextsFillThePage) {
  ResultSpec spec;
  spec.lines = lines(1);
  spec.descriptors = {rendertest::descriptor(" ", "all", "all", " "),
                      rendertest::descriptor("alice", "News", "news"),
                      rendertest::descriptor("/grp", "Plans", "plans")};
  spec.relTerms = std::string("alpha") + D + "beta" + D + "\x15\x16\x17" + "beta" + D + "gamma" +
                  D + "\x15\x16\x17";
  spec.selected = std::string("127.0.0.1") + D + "alice" + D + "News";
  spec.term = "_QUERY_DISALLOWED_";
  spec.keyword = "a,b";
  write("query12345", spec);
  testutil::writeFile(tmp("query12345_idx"),
                      "127.0.0.1\talice\tnews\t12\n127.0.0.1\t/grp\tplans\t-1\n"
                      "bad line\n");
  testutil::writeFile(tmp("query12345.filter"), "BEGIN_DATA=2005/7/1\nEND_DATA=2005/7/20\n");
  testutil::writeFile(
      tmp("query12345_class"),
      "==CLASS==\nReports\tC01\nPlans\tC02\n==INDEX==\n127.0.0.1\talice\tnews\tU\n");
  testutil::writeFile(tmp("query12345_similar_keyword"), "reports\t87\nreporter\t40\nnotab\n");
  ResultPage page;
  ASSERT_EQ(load("query12345", page), LoadStatus::kOk);
  EXPECT_TRUE(page.queryDisallowed);
  EXPECT_EQ(page.queryTyped, "");
  EXPECT_EQ(page.terms, (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(page.selectedIndex, "News");
  ASSERT_EQ(page.relatedTerms.size(), 3u);
  EXPECT_EQ(page.relatedTerms[2].text, "gamma");
  ASSERT_EQ(page.indexes.size(), 2u);
  EXPECT_EQ(page.indexes[0].desc, "News");
  EXPECT_EQ(page.indexes[0].matches, 12);
  EXPECT_EQ(page.indexes[1].desc, "Plans");
  EXPECT_EQ(page.indexes[1].matches, -1);
  EXPECT_EQ(page.dateFrom, "2005/7/1");
  EXPECT_EQ(page.dateTo, "2005/7/20");
  ASSERT_EQ(page.classes.size(), 2u);
  EXPECT_EQ(page.classes[1].uid, "C02");
  ASSERT_EQ(page.similarKeywords.size(), 2u);
  EXPECT_EQ(page.similarKeywords[0].score, 87);

  spec.relTermOption = 0;  // related terms were not asked for
  write("query12345", spec);
  ASSERT_EQ(load("query12345", page), LoadStatus::kOk);
  EXPECT_TRUE(page.relatedTerms.empty());
}

TEST_F(ResultPageTest, OnlyPlainWebAddressesBecomeTheMainPageLink) {
  const struct {
    const char* stored;
    const char* shown;
  } cases[] = {
      {"NONE", ""},
      {"http://host/search/index.html", "http://host/search/index.html"},
      {"https://host/", "https://host/"},
      {"/search/", "/search/"},
      {"//evil.example/", ""},
      {"javascript:alert(1)", ""},
      {"http://a\"onmouseover=x", ""},
      {"http://a b", ""},
  };
  for (const auto& c : cases) {
    ResultSpec spec;
    spec.mainPage = c.stored;
    write("query12345", spec);
    ResultPage page;
    ASSERT_EQ(load("query12345", page), LoadStatus::kOk);
    EXPECT_EQ(page.mainPageUrl, c.shown) << c.stored;
  }
}

}  // namespace
}  // namespace render
