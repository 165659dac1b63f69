/// @file result_files_test.cc
/// @brief The files of one result: what the query output file carries, the
/// order of its record lines, the side files and the renderer arguments.

#include "output/result_files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>

#include <map>
#include <string>
#include <vector>

#include "assemble/result_order.h"
#include "output/msg_report.h"
#include "output/msg_table.h"
#include "output/query_output.h"
#include "system/layout.h"
#include "tests/test_util.h"

namespace {

using testutil::fileExists;
using testutil::readFile;
using testutil::writeFile;

const std::string D = "\x12\x13\x14";

dbMapping makeIndex(const char* ip, const char* owner, const char* name, const char* port,
                    const char* relterms) {
  dbMapping db;
  db.ipAddr = ip;
  db.szOwner = owner;
  db.idxName = name;
  db.port = port;
  db.relterm_list = relterms;
  db.fgRelterm = 1;
  return db;
}

recordMapping hit(uint32_t db, uint32_t score, uint32_t recid) {
  recordMapping r{};
  r.databaseNum = db;
  r.score = score;
  r.recid = recid;
  r.sortField.number = static_cast<int32_t>(score);
  return r;
}

std::vector<unsigned long> positions(const OutputOrder& order) {
  std::vector<unsigned long> out;
  for (unsigned long i = 0; i < order.count; ++i)
    out.push_back(order.at(i));
  return out;
}

// A temporary installation; the run works in its search-cgi directory, and
// the host's own address is 10.0.0.5.
class ResultFilesTest : public ::testing::Test {
 protected:
  ResultFilesTest() : cgi(testutil::makeInstallSkeleton(dir.sub("root"))), cwd(cgi) {
    writeFile(dir.sub("root/host_address"), "10.0.0.5\n");
    writeFile(dir.sub("root/admin/html/message/message_error.html"), "[$$MESSAGE$$]");
    systemResetCaches();
    table.addMessage("0001", "cannot create $$FILENAME$$");
    base = "../tmp/query12345";

    request.sortField = "index";
    request.sortOrder = "desc";
    request.fgMatchMode = 1;
    request.fgChinese = 2;
    request.fgThesaurus = 3;
    request.h2f_flag = 4;
    request.outputMode = 5;
    request.numRec = 10;
    request.matchType = 6;
    request.relterm_output = 1;
    request.file_name_search = 7;
    request.sbfRandomNo = 42;
    request.orgQuery = "typed";
    request.retQuery = "understood";
    request.queryUrl = "user=ann&query=typed";
    request.query = "typed";
    request.user = "ann";
    request.descriptors = {" " + D + " " + D + "all" + D + "all" + D + "all" + D,
                           "10.0.0.5" + D + "ann" + D + "News" + D + "news" + D + "9000" + D};
    request.selectedDescriptor = "10.0.0.5" + D + "ann" + D + "News";
    request.tvStart = {10, 999000};
    request.tvEnd = {11, 1000};

    result.dbMap.push_back(makeIndex("10.0.0.5", "ann", "news", "9000", "a b"));
    result.dbMap.push_back(makeIndex("10.0.0.9", "bob", "mail", "9001", "x"));
    result.dbMap.push_back(makeIndex("10.0.0.9", "bob", "old", "9001", "c"));
    result.dbMap[1].fgRelterm = 0;
    result.recMap = {hit(0, 80, 7), hit(2, 60, 12), hit(0, 40, 3)};
  }
  ~ResultFilesTest() override { systemResetCaches(); }

  // Writes the result in the order the ordering gives for `outCount`.
  int write(const std::string& path, unsigned long outCount) {
    const OutputOrder order = outputOrder(result.recMap.data(), result.recordCount(), outCount,
                                          request.sortField.c_str(), request.sortOrder.c_str());
    return outputResult(path, request, result, positions(order), page);
  }

  testutil::TempDir dir;
  std::string cgi;
  testutil::ScopedCwd cwd;
  KestraneMsgTable table;
  KestraneMsgReport report;
  ResultMessagePage page{table, report, "Search"};
  std::string base;
  ResultOutputRequest request;
  RecordList result;
};

TEST_F(ResultFilesTest, QueryOutputFileCarriesTheRun) {
  ASSERT_EQ(0, write(base, result.recordCount()));
  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(base));
  EXPECT_EQ(3, in.GetMatchCount());
  EXPECT_EQ(3, in.GetRecordCount());
  EXPECT_EQ(1, in.GetFuzzyOption());
  EXPECT_EQ(2, in.GetPhoneOption());
  EXPECT_EQ(3, in.GetMeanOption());
  EXPECT_EQ(4, in.GetH2FOption());
  EXPECT_EQ(5, in.GetOutputMode());
  EXPECT_EQ(10, in.GetOutputCountPerPage());
  EXPECT_EQ(6, in.GetMatchMode());
  EXPECT_EQ(1, in.GetRelTermOption());
  EXPECT_EQ(7, in.GetFileNameSearch());
  EXPECT_EQ(0, in.GetVelaTime());
  EXPECT_EQ(2, in.GetQueryRunTime());
  EXPECT_EQ("index", in.GetSortField());
  EXPECT_EQ("desc", in.GetSortOrder());
  EXPECT_EQ("00042", in.GetSBFNumber());
  EXPECT_EQ("ann", in.GetQueryUser());
  EXPECT_EQ("ts_ini_option.cfg", in.GetIniFileName());
  EXPECT_EQ("NONE", in.GetMainPageUrl());
  EXPECT_EQ(2, in.GetMultiDbCount());

  EXPECT_EQ("user=ann&query=typed", in.GetQueryURL());
  EXPECT_EQ("understood", in.GetQueryKeyword());
  EXPECT_EQ("typed", in.GetQueryTerm());
  EXPECT_EQ(request.selectedDescriptor, in.GetQueryIndexName());
  EXPECT_EQ("a bc", in.GetRelTerm());  // index 1 has no related terms
  EXPECT_EQ(request.descriptors[0], in.GetMultiDbURL(0));
  EXPECT_EQ(request.descriptors[1], in.GetMultiDbURL(1));

  // "index" order is merge order, never reversed.
  EXPECT_EQ("10.0.0.5:9000" + D + "ann" + D + "news" + D + "80" + D + "7\n", in.GetRecordData(0));
  EXPECT_EQ("10.0.0.9:9001" + D + "bob" + D + "old" + D + "60" + D + "12\n", in.GetRecordData(1));
  EXPECT_EQ("10.0.0.5:9000" + D + "ann" + D + "news" + D + "40" + D + "3\n", in.GetRecordData(2));
  EXPECT_FALSE(in.HasReadError());
}

TEST_F(ResultFilesTest, HeaderTextsFromTheRequest) {
  request.iniFile = "mine.cfg";
  request.mainPage = "http://intra/search";
  request.run_property_search_index = -2;
  ASSERT_EQ(0, write(base, 3));
  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(base));
  EXPECT_EQ("mine.cfg", in.GetIniFileName());
  EXPECT_EQ("http://intra/search", in.GetMainPageUrl());
  EXPECT_EQ(-2, in.GetFileNameSearch());

  // Too long for their fields: the defaults, never a cut value.
  const std::string longIni(64, 'i');
  const std::string longPage(128, 'p');
  request.iniFile = longIni.c_str();
  request.mainPage = longPage.c_str();
  request.user = std::string(64, 'u');
  request.sbfRandomNo = -123456789;
  ASSERT_EQ(0, write(base, 3));
  ASSERT_TRUE(in.ReadOutputFile(base));
  EXPECT_EQ("ts_ini_option.cfg", in.GetIniFileName());
  EXPECT_EQ("NONE", in.GetMainPageUrl());
  EXPECT_EQ("", in.GetQueryUser());
  EXPECT_EQ("", in.GetSBFNumber());
}

TEST_F(ResultFilesTest, FastFileTakesTheLastRecordsWhenReversed) {
  result.recMap.clear();
  for (uint32_t i = 0; i < 1000; ++i)
    result.recMap.push_back(hit(i % 3, i, i));
  request.sortField = "score";  // scores run ascending, "desc" requested
  const std::string fast = resultFileName(base, ResultFile::Fast);
  ASSERT_EQ(0, write(fast, 200));
  ASSERT_EQ(0, write(base, 1000));

  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(fast));
  EXPECT_EQ(200, in.GetMatchCount());
  EXPECT_EQ(1000, in.GetRecordCount());
  EXPECT_EQ("10.0.0.5:9000" + D + "ann" + D + "news" + D + "999" + D + "999\n",
            in.GetRecordData(0));
  EXPECT_NE(std::string::npos, in.GetRecordData(199).find(D + "800\n"));
  EXPECT_EQ("", in.GetRecordData(200));

  ASSERT_TRUE(in.ReadOutputFile(base));
  EXPECT_EQ(1000, in.GetMatchCount());
  EXPECT_NE(std::string::npos, in.GetRecordData(0).find(D + "999\n"));
  EXPECT_NE(std::string::npos, in.GetRecordData(999).find(D + "0\n"));

  request.sortOrder = "asc";  // same direction: front to back
  ASSERT_EQ(0, write(fast, 200));
  ASSERT_TRUE(in.ReadOutputFile(fast));
  EXPECT_NE(std::string::npos, in.GetRecordData(0).find(D + "0\n"));
  EXPECT_NE(std::string::npos, in.GetRecordData(199).find(D + "199\n"));
}

TEST_F(ResultFilesTest, PositionsOutsideTheArraysWriteNoLine) {
  result.recMap[1].databaseNum = 9;
  ASSERT_EQ(0, outputResult(base, request, result, {2, 1, 77}, page));
  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(base));
  EXPECT_EQ(3, in.GetMatchCount());
  EXPECT_NE(std::string::npos, in.GetRecordData(0).find(D + "3\n"));
  EXPECT_EQ("", in.GetRecordData(1));
  EXPECT_EQ("", in.GetRecordData(2));
}

TEST_F(ResultFilesTest, QueryTermAndKeywordTexts) {
  struct Case {
    const char* query;
    bool noResult;
    bool allowed;
    const char* multi;
    const char* term;
    const char* keyword;
  };
  const Case cases[] = {
      {"typed", false, true, "", "typed", "understood"},
      {"typed", true, true, "", "typed", "typed"},
      {nullptr, false, true, "", "", "understood"},
      {"typed", true, false, "", "_QUERY_DISALLOWED_", "typed"},
      {"typed", false, false, "", "typed", "understood"},  // refusal means nothing found
      {"_SEARCH_MULTI_FIELD_", true, true, "f1 f2", "f1 f2", "f1 f2"},
      {"_SEARCH_MULTI_FIELD_", false, true, "f1 f2", "f1 f2", "understood"},
      {"_SEARCH_MULTI_FIELD_", true, true, "", "", "typed"},
      {"similar:42", false, true, "", "typed", "understood"},
  };
  request.isSimilarDocQuery = [](const std::string& t) { return t.rfind("similar:", 0) == 0; };
  for (const Case& c : cases) {
    request.query = c.query;
    request.noResult = c.noResult;
    request.searchKeywordAllowed = c.allowed;
    request.strMultiIndexQuery = c.multi;
    ASSERT_EQ(0, write(base, 3));
    CQueryOutput in;
    ASSERT_TRUE(in.ReadOutputFile(base));
    EXPECT_EQ(c.term, in.GetQueryTerm()) << (c.query ? c.query : "(none)");
    EXPECT_EQ(c.keyword, in.GetQueryKeyword()) << (c.query ? c.query : "(none)");
  }
}

TEST_F(ResultFilesTest, EmptyResultStillHasTextsAndDescriptors) {
  result.recMap.clear();
  request.noResult = true;
  ASSERT_EQ(0, write(base, 0));
  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(base));
  EXPECT_EQ(0, in.GetMatchCount());
  EXPECT_EQ("typed", in.GetQueryKeyword());
  EXPECT_EQ(request.descriptors[1], in.GetMultiDbURL(1));
  EXPECT_EQ(in.IndexSlot(RECORD_DATA_POS).lngDataPos, static_cast<int32_t>(readFile(base).size()));
}

TEST_F(ResultFilesTest, FileThatCannotBeCreatedAnswersWithAPage) {
  const std::string path = "../no/such/dir/query1";
  int status = -1;
  const std::string page = testutil::captureStdout([&] { status = write(path, 3); });
  EXPECT_EQ(1, status);
  EXPECT_NE(std::string::npos, page.find("[cannot create ../no/such/dir/query1]"));
  EXPECT_STREQ("0001", report.getAPIRetCode());
}

TEST_F(ResultFilesTest, FileCutShortIsRemovedAndReported) {
  for (uint32_t i = 0; i < 1000; ++i)
    result.recMap.push_back(hit(0, i, i));
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A file size limit makes the disk "full" after 4,000 bytes.
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4000, 4000};
    setrlimit(RLIMIT_FSIZE, &limit);
    if (!std::freopen("page.txt", "w", stdout)) _exit(2);
    _exit(write(base, result.recordCount()));
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));
  EXPECT_FALSE(fileExists(base));
  EXPECT_NE(std::string::npos, readFile("page.txt").find("[cannot create ../tmp/query12345]"));
}

TEST(QueryRunTime, CountsTruncatedMilliseconds) {
  struct Case {
    timeval start, end;
    int ms;
  };
  const Case cases[] = {
      {{10, 999000}, {11, 1000}, 2},      {{5, 0}, {5, 999}, 0},
      {{0, 1999}, {1, 0}, 999},           {{100, 500000}, {100, 500999}, 0},
      {{0, 0}, {3000000, 0}, 2147483647},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.ms, queryRunTimeMs(c.start, c.end));
}

TEST(RendererArguments, FollowTheOptions) {
  struct Case {
    int no, page, xml, api;
    const char* pageSize;
    const char* pageText;
    const char* format;
    int valued;
  };
  const Case cases[] = {
      {-100, -100, 0, 0, "N", "N", "", 0},    {20, -100, 0, 0, "20", "N", "", 1},
      {-100, 3, 0, 0, "N", "3", "", 1},       {0, 0, 1, 0, "0", "0", "xml", 3},
      {10, 2, 1, 3, "10", "2", "xml3", 3},    {-100, -100, 1, 2, "N", "N", "xml2", 1},
      {-100, -100, 2, 3, "N", "N", "wml", 1}, {-100, -100, 7, 2, "N", "N", "", 0},
      {-5, -100, -1, 0, "-5", "N", "", 1},
  };
  for (const Case& c : cases) {
    GetFileListArguments args;
    const int valued =
        BuildGetFileListCommand("../tmp/query7", RendererOptions{c.no, c.page, c.xml, c.api}, args);
    EXPECT_EQ("../tmp/query7", args.base);
    EXPECT_EQ(c.pageSize, args.pageSize);
    EXPECT_EQ(c.pageText, args.page);
    EXPECT_EQ(c.format, args.format);
    EXPECT_EQ(c.valued, valued);
  }
}

TEST_F(ResultFilesTest, FilterFileHoldsTheDateWindow) {
  struct Case {
    int fgSearchDate;
    std::map<std::string, std::string> vars;
    const char* content;
  };
  const Case cases[] = {
      {0, {{"begin_year", "2005"}}, ""},
      {1,
       {{"begin_year", "2005"},
        {"begin_month", "7"},
        {"begin_day", "1"},
        {"end_year", "2005"},
        {"end_month", "07"},
        {"end_day", "20"}},
       "BEGIN_DATA=2005/7/1\nEND_DATA=2005/7/20\n"},
      {1,
       {{"begin_year", "2005"}, {"begin_month", "7"}, {"begin_day", "1"}},
       "BEGIN_DATA=2005/7/1\nEND_DATA=2005/7/1\n"},
      {1,
       {{"begin_year", "2005"}, {"begin_month", "7"}, {"begin_day", "1"}, {"end_day", "9x"}},
       "BEGIN_DATA=2005/7/1\nEND_DATA=2005/7/9\n"},
  };
  for (const Case& c : cases) {
    const auto lookup = [&c](const char* name) -> const char* {
      const auto it = c.vars.find(name);
      return it == c.vars.end() ? nullptr : it->second.c_str();
    };
    ASSERT_TRUE(outputFilterResult(base, c.fgSearchDate, lookup));
    EXPECT_EQ(c.content, readFile(base + ".filter"));
  }
  EXPECT_FALSE(outputFilterResult("../no/dir/q", 1, nullptr));
}

TEST_F(ResultFilesTest, IndexListHoldsLocalEntriesOnly) {
  VelaSearchListVector list(4);
  const char* hosts[] = {"10.0.0.5", "10.0.0.9", "127.0.0.1", "10.0.0.50"};
  for (size_t i = 0; i < list.size(); ++i) {
    list[i].ipAddr = hosts[i];
    list[i].owner = "own" + std::to_string(i);
    list[i].idxName = "idx" + std::to_string(i);
  }
  list[0].m_match = 12;
  ASSERT_TRUE(writeIndexListFile(base, list));
  EXPECT_EQ("10.0.0.5\town0\tidx0\t12\n127.0.0.1\town2\tidx2\t-1\n", readFile(base + "_idx"));
}

TEST_F(ResultFilesTest, ClassFileIsAlwaysThere) {
  ASSERT_TRUE(ensureClassFile(base));
  EXPECT_TRUE(fileExists(base + "_class"));
  EXPECT_EQ("", readFile(base + "_class"));
  writeFile(base + "_class", "class info\n");
  ASSERT_TRUE(ensureClassFile(base));
  EXPECT_EQ("class info\n", readFile(base + "_class"));
}

TEST(SimilarKeywords, OnlyForSingleTerms) {
  const std::pair<const char*, bool> cases[] = {
      {"tea", true},         {"tea and milk", false}, {"tea or milk", false},
      {"tea & milk", false}, {"tea | milk", false},   {"tea AND milk", true},
      {"tea&milk", true},    {"sand ore", true},      {"", true},
  };
  for (const auto& [query, single] : cases)
    EXPECT_EQ(single, similarKeywordCheck(query)) << query;
}

TEST_F(ResultFilesTest, SimilarKeywordFile) {
  const std::string path = resultFileName(base, ResultFile::SimilarKeyword);
  EXPECT_FALSE(writeSimilarKeywordFile(path, "tea", {}, 1000, 5));
  EXPECT_FALSE(fileExists(path));

  const std::vector<SimilarKeywordCandidate> found = {
      {"TEA", 5000}, {"teas", 3000.5}, {"tease", 999.9}, {"team", 1000}, {"steam", 1200}};
  ASSERT_TRUE(writeSimilarKeywordFile(path, "tea", found, 1000, 5));
  EXPECT_EQ("teas\t3000\nteam\t1000\nsteam\t1200\n", readFile(path));
  ASSERT_TRUE(writeSimilarKeywordFile(path, "tea", found, 1000, 2));
  EXPECT_EQ("teas\t3000\nteam\t1000\n", readFile(path));
  ASSERT_TRUE(writeSimilarKeywordFile(path, "tea", found, 1000, 0));
  EXPECT_EQ("", readFile(path));
}

}  // namespace
