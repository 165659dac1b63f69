/// @file result_files_test.cc
/// @brief The files of one result: what the query output file carries, the side
/// files and the renderer arguments; and the query output file: exact layout,
/// round trips, refusals, and damaged files given to the reader.

#include "output/result_files.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "output/query_output.h"
#include "system/layout.h"
#include "tests/test_util.h"

namespace {

using testutil::readFile;
using testutil::writeFile;

const std::string D = "\x12\x13\x14";

// A temporary installation run from its search-cgi directory; the host's own
// address is 10.0.0.5. Three hits over three indexes, the second without
// related terms.
class ResultFilesTest : public ::testing::Test {
 protected:
  ResultFilesTest() : cgi(testutil::makeInstallSkeleton(dir.sub("root"))), cwd(cgi) {
    writeFile(dir.sub("root/host_address"), "10.0.0.5\n");
    writeFile(dir.sub("root/admin/html/message/message_error.html"), "[$$MESSAGE$$]");
    systemResetCaches();
    using R = ResultOutputRequest;
    int v = 1;
    for (int R::*option :
         {&R::fgMatchMode, &R::fgChinese, &R::fgThesaurus, &R::h2f_flag, &R::outputMode, &R::numRec,
          &R::matchType, &R::relterm_output, &R::file_name_search, &R::sbfRandomNo})
      request.*option = v++;
    request.sortField = "index";
    request.orgQuery = request.query = "typed";
    request.retQuery = "understood";
    request.queryUrl = "user=ann&query=typed";
    request.user = "ann";
    request.descriptors = {"all" + D, "10.0.0.5" + D + "ann" + D + "News" + D};
    request.selectedDescriptor = "10.0.0.5" + D + "ann" + D + "News";
    request.tvStart = {10, 999000};
    request.tvEnd = {11, 1000};
    const char* indexes[][4] = {{"10.0.0.5", "ann", "news", "a b"},
                                {"10.0.0.9", "bob", "mail", "x"},
                                {"10.0.0.9", "bob", "old", "c"}};
    for (const auto& i : indexes) {
      result.dbMap.emplace_back();
      dbMapping& db = result.dbMap.back();
      std::tie(db.ipAddr, db.szOwner, db.idxName, db.relterm_list) =
          std::make_tuple(i[0], i[1], i[2], i[3]);
      db.port = "9000";
      db.fgRelterm = db.idxName != "mail";
    }
    result.recMap = {{0, 80, 7, {}}, {2, 60, 12, {}}, {0, 40, 3, {}}};
  }
  ~ResultFilesTest() override { systemResetCaches(); }

  // 0 when the file was written whole, 1 when not (as an exit status).
  int write(const std::string& path, const std::vector<unsigned long>& order = {0, 1, 2}) {
    return outputResult(path, request, result, order) ? 0 : 1;
  }

  testutil::TempDir dir;
  std::string cgi;
  testutil::ScopedCwd cwd;
  const std::string base = "../tmp/query12345";
  ResultOutputRequest request;
  RecordList result;
};

TEST_F(ResultFilesTest, QueryOutputFileCarriesTheRun) {
  ASSERT_EQ(write(base, {0, 1, 2, 1, 77}), 0);
  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(base));
  EXPECT_EQ((std::vector<int>{in.GetMatchCount(), in.GetRecordCount(), in.GetFuzzyOption(),
                              in.GetPhoneOption(), in.GetMeanOption(), in.GetH2FOption(),
                              in.GetOutputMode(), in.GetOutputCountPerPage(), in.GetMatchMode(),
                              in.GetRelTermOption(), in.GetFileNameSearch(), in.GetVelaTime(),
                              in.GetQueryRunTime(), in.GetMultiDbCount()}),
            (std::vector<int>{5, 3, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 2, 2}));
  EXPECT_EQ((std::vector<std::string>{in.GetSortField(), in.GetSortOrder(), in.GetSBFNumber(),
                                      in.GetQueryUser(), in.GetIniFileName(), in.GetMainPageUrl()}),
            (std::vector<std::string>{"index", "desc", "00010", "ann", kDefaultIniFile,
                                      kDefaultMainPage}));
  EXPECT_EQ(
      (std::vector<std::string>{in.GetQueryURL(), in.GetQueryKeyword(), in.GetQueryTerm(),
                                in.GetQueryIndexName(), in.GetRelTerm(), in.GetMultiDbURL(1)}),
      (std::vector<std::string>{request.queryUrl, "understood", "typed", request.selectedDescriptor,
                                "a bc", request.descriptors[1]}));
  EXPECT_EQ(in.GetRecordData(0), "10.0.0.5:9000" + D + "ann" + D + "news" + D + "80" + D + "7\n");
  EXPECT_EQ(in.GetRecordData(1), "10.0.0.9:9000" + D + "bob" + D + "old" + D + "60" + D + "12\n");
  EXPECT_EQ(in.GetRecordData(3), in.GetRecordData(1));
  EXPECT_EQ(in.GetRecordData(4), "");  // a position outside the hits writes no line
  EXPECT_FALSE(in.HasReadError());
}

// A result of many hits spans many buffers of the file, and the tables
// written ahead of their items are filled in afterwards: every line must
// still be where its table says, and the file hold nothing beyond the
// tables and lines.
TEST_F(ResultFilesTest, ManyHitsEachReadBackWhereTheTableSays) {
  ASSERT_EQ(write(base, {}), 0);
  const size_t withoutHits = readFile(base).size();
  constexpr uint32_t kHits = 30000;
  std::vector<unsigned long> order;
  for (uint32_t i = 0; i < kHits; ++i) {
    const uint32_t score = i % 7 == 0 ? 2147483647u : i * 37 % 100000;
    result.recMap.push_back({i % 3, score, 268435455u - i, {}});
    order.push_back(kHits + 2 - i);  // backwards, after the fixture's three
  }
  ASSERT_EQ(write(base, order), 0);
  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(base));
  ASSERT_EQ(in.GetMatchCount(), static_cast<int>(kHits));
  size_t lineBytes = 0;
  for (uint32_t i = 0; i < kHits; ++i) {
    const recordMapping& rec = result.recMap[order[i]];
    const dbMapping& db = result.dbMap[rec.databaseNum];
    const std::string line = db.ipAddr + ":9000" + D + db.szOwner + D + db.idxName + D +
                             std::to_string(static_cast<int32_t>(rec.score)) + D +
                             std::to_string(rec.recid) + "\n";
    ASSERT_EQ(in.GetRecordData(static_cast<int>(i)), line) << i;
    lineBytes += line.size();
  }
  EXPECT_FALSE(in.HasReadError());
  EXPECT_EQ(readFile(base).size(), withoutHits + kHits * CQueryOutput::kPairBytes + lineBytes);
}

// The threaded editions' file: the same hits, but neither half-to-full
// option, run time nor sort in the header, and no line feed after a record.
TEST_F(ResultFilesTest, OlderLayoutLeavesTheirFieldsEmpty) {
  request.olderLayout = true;
  ASSERT_EQ(write(base), 0);
  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(base));
  EXPECT_EQ(0, in.GetH2FOption());
  EXPECT_EQ(0, in.GetQueryRunTime());
  EXPECT_EQ("", in.GetSortField() + in.GetSortOrder());
  EXPECT_EQ(1, in.GetFuzzyOption());
  EXPECT_EQ(in.GetRecordData(0), "10.0.0.5:9000" + D + "ann" + D + "news" + D + "80" + D + "7");
}

// Values too long for their header field are never cut: the defaults, or
// an empty field.
TEST_F(ResultFilesTest, HeaderTextsFromTheRequest) {
  request.iniFile = "mine.cfg";
  request.mainPage = "http://intra/search";
  request.run_property_search_index = -2;
  result.recMap[1].databaseNum = 9;  // an index number outside the indexes
  ASSERT_EQ(write(base), 0);
  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(base));
  EXPECT_EQ(in.GetIniFileName(), "mine.cfg");
  EXPECT_EQ(in.GetMainPageUrl(), "http://intra/search");
  EXPECT_EQ(in.GetFileNameSearch(), -2);
  EXPECT_EQ(in.GetRecordData(1), "");

  const std::string longIni(64, 'i'), longPage(128, 'p');
  request.iniFile = longIni.c_str();
  request.mainPage = longPage.c_str();
  request.user = std::string(64, 'u');
  request.sbfRandomNo = -123456789;
  ASSERT_EQ(write(base), 0);
  ASSERT_TRUE(in.ReadOutputFile(base));
  EXPECT_EQ(in.GetIniFileName(), kDefaultIniFile);
  EXPECT_EQ(in.GetMainPageUrl(), kDefaultMainPage);
  EXPECT_EQ(in.GetQueryUser() + in.GetSBFNumber(), "");
}

TEST_F(ResultFilesTest, QueryTermAndKeywordTexts) {
  // query, no result, allowed, multi-field query -> term, keyword
  const std::tuple<const char*, bool, bool, const char*, const char*, const char*> cases[] = {
      {"typed", true, true, "", "typed", "typed"},
      {nullptr, false, true, "", "", "understood"},
      {"typed", true, false, "", "_QUERY_DISALLOWED_", "typed"},
      {"typed", false, false, "", "typed", "understood"},  // refusal means nothing found
      {"_SEARCH_MULTI_FIELD_", true, true, "f1 f2", "f1 f2", "f1 f2"},
      {"_SEARCH_MULTI_FIELD_", false, true, "f1 f2", "f1 f2", "understood"},
      {"_SEARCH_MULTI_FIELD_", true, true, "", "", "typed"},
      {"similar:42", false, true, "", "typed", "understood"}};
  request.isSimilarDocQuery = [](const std::string& t) { return t.rfind("similar:", 0) == 0; };
  for (const auto& [query, noResult, allowed, multi, term, keyword] : cases) {
    request.query = query;
    request.noResult = noResult;
    request.searchKeywordAllowed = allowed;
    request.strMultiIndexQuery = multi;
    ASSERT_EQ(write(base), 0);
    CQueryOutput in;
    ASSERT_TRUE(in.ReadOutputFile(base));
    EXPECT_EQ(in.GetQueryTerm() + " / " + in.GetQueryKeyword(), std::string(term) + " / " + keyword)
        << (query ? query : "(none)");
  }
}

// The caller answers the request: writing a result never writes a page.
TEST_F(ResultFilesTest, FileThatCannotBeWrittenIsReportedAndRemoved) {
  int status = -1;
  EXPECT_EQ(testutil::captureStdout([&] { status = write("../no/such/dir/query1"); }), "");
  EXPECT_EQ(status, 1);

  // A file cut short is removed, so that no later page takes it for a result.
  std::vector<unsigned long> order;
  for (uint32_t i = 0; i < 1000; ++i)
    order.push_back(i % 3);
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{4000, 4000};  // the disk is "full" after 4,000 bytes
    setrlimit(RLIMIT_FSIZE, &limit);
    if (!std::freopen("page.txt", "w", stdout)) _exit(2);
    _exit(write(base, order));
  }
  int wait = 0;
  ASSERT_EQ(waitpid(child, &wait, 0), child);
  EXPECT_TRUE(WIFEXITED(wait) && WEXITSTATUS(wait) == 1);
  EXPECT_FALSE(testutil::fileExists(base));
  EXPECT_EQ(readFile("page.txt"), "");
}

// Whole seconds times 1000 plus the difference of the truncated
// milliseconds, held to an int.
TEST(QueryRunTime, CountsTruncatedMilliseconds) {
  EXPECT_EQ(queryRunTimeMs({0, 1999}, {1, 0}), 999);
  EXPECT_EQ(queryRunTimeMs({0, 0}, {3000000, 0}), 2147483647);
}

TEST(RendererArguments, FollowTheOptions) {
  // page size, page, format, API version -> texts, how many carry a value
  const std::tuple<RendererOptions, const char*, int> cases[] = {
      {{-100, -100, 0, 0}, "N N ", 0},     {{20, 3, 0, 0}, "20 3 ", 2},
      {{0, 0, 1, 0}, "0 0 xml", 3},        {{10, 2, 1, 3}, "10 2 xml3", 3},
      {{-100, -100, 1, 2}, "N N xml2", 1}, {{-100, -100, 2, 3}, "N N wml", 1},
      {{-100, -100, 7, 2}, "N N ", 0},     {{-5, -100, -1, 0}, "-5 N ", 1}};
  for (const auto& [options, texts, valued] : cases) {
    GetFileListArguments args;
    EXPECT_EQ(BuildGetFileListCommand("../tmp/query7", options, args), valued) << texts;
    EXPECT_EQ(args.base + " " + args.pageSize + " " + args.page + " " + args.format,
              std::string("../tmp/query7 ") + texts);
  }
}

TEST_F(ResultFilesTest, SideFiles) {
  std::map<std::string, std::string> vars = {
      {"begin_year", "2005"}, {"begin_month", "7"}, {"begin_day", "1"}, {"end_day", "9x"}};
  const auto lookup = [&vars](const char* name) -> const char* {
    return vars.count(name) ? vars[name].c_str() : nullptr;
  };
  ASSERT_TRUE(outputFilterResult(base, 0, lookup));
  EXPECT_EQ(readFile(base + ".filter"), "");
  ASSERT_TRUE(outputFilterResult(base, 1, lookup));  // an absent end part takes the begin part
  EXPECT_EQ(readFile(base + ".filter"), "BEGIN_DATA=2005/7/1\nEND_DATA=2005/7/9\n");
  // Date fields left empty: that end is open, and its date empty.
  vars = {{"begin_year", "2005"}, {"begin_month", "7"}, {"begin_day", "1"},
          {"end_year", ""},       {"end_month", " "},   {"end_day", ""}};
  std::remove((base + ".filter").c_str());
  ASSERT_TRUE(outputFilterResult(base, 1, lookup));
  EXPECT_EQ(readFile(base + ".filter"), "BEGIN_DATA=2005/7/1\nEND_DATA=\n");
  vars = {{"begin_year", ""}, {"end_year", "2006"}, {"end_month", "1"}, {"end_day", "2"}};
  std::remove((base + ".filter").c_str());
  ASSERT_TRUE(outputFilterResult(base, 1, lookup));
  EXPECT_EQ(readFile(base + ".filter"), "BEGIN_DATA=\nEND_DATA=2006/1/2\n");
  EXPECT_FALSE(outputFilterResult("../no/dir/q", 1, nullptr));

  VelaSearchListVector list(4);
  const char* hosts[] = {"10.0.0.5", "10.0.0.9", "127.0.0.1", "10.0.0.50"};
  for (size_t i = 0; i < list.size(); ++i) {
    list[i].ipAddr = hosts[i];
    list[i].owner = "own" + std::to_string(i);
    list[i].idxName = "idx" + std::to_string(i);
  }
  list[0].m_match = 12;
  ASSERT_TRUE(writeIndexListFile(base, list));
  // Other hosts' indexes too: the page lists every index searched.
  EXPECT_EQ(readFile(base + "_idx"),
            "10.0.0.5\town0\tidx0\t12\n10.0.0.9\town1\tidx1\t-1\n127.0.0.1\town2\tidx2\t-1\n"
            "10.0.0.50\town3\tidx3\t-1\n");

  ASSERT_TRUE(ensureClassFile(base));
  EXPECT_TRUE(testutil::fileExists(base + "_class"));
  writeFile(base + "_class", "class info\n");
  ASSERT_TRUE(ensureClassFile(base));
  EXPECT_EQ(readFile(base + "_class"), "class info\n");
}

// A result claimed while the engines search: its files are made empty and
// private, then written in place by the writers of the result; a claim the
// run gives up removes every file of it, and a similar keyword file left
// unwritten goes too.
TEST_F(ResultFilesTest, AClaimMadeAheadIsWrittenInPlaceOrRemovedWhole) {
  const auto files = [](const std::string& b) {
    return std::vector<std::string>{b, b + ".filter", b + "_idx", b + "_class",
                                    b + "_similar_keyword"};
  };
  std::string kept;
  {
    ResultClaim claim;
    ASSERT_TRUE(claim.make("../tmp", true));
    kept = claim.base();
    EXPECT_EQ(kept.rfind("../tmp/query", 0), 0u) << kept;
    for (const std::string& path : files(kept)) {
      struct stat st;
      ASSERT_EQ(lstat(path.c_str(), &st), 0) << path;
      EXPECT_TRUE(S_ISREG(st.st_mode) && st.st_size == 0 && (st.st_mode & 0777) == 0600) << path;
    }
    ASSERT_EQ(write(kept), 0);
    // The writers take the files the claim made, still open: a name turned
    // into a link meanwhile leads nowhere.
    writeFile(dir.sub("victim"), "precious");
    ASSERT_EQ(rename((kept + "_idx").c_str(), (kept + ".made").c_str()), 0);
    ASSERT_EQ(symlink(dir.sub("victim").c_str(), (kept + "_idx").c_str()), 0);
    ASSERT_TRUE(writeIndexListFile(kept, VelaSearchListVector(1)));
    // The filter file is written twice: the second write opens it again.
    ASSERT_TRUE(outputFilterResult(kept, 0, nullptr));
    ASSERT_TRUE(outputFilterResult(kept, 0, nullptr));
    ASSERT_TRUE(ensureClassFile(kept));
    claim.handOver();
    EXPECT_FALSE(claim.held());
  }
  EXPECT_NE(readFile(kept), "");
  EXPECT_EQ(readFile(kept + ".made"), "\t\t\t-1\n");
  EXPECT_EQ(readFile(dir.sub("victim")), "precious");
  unlink((kept + "_idx").c_str());
  removeUnwrittenSimilarKeyword(kept);
  EXPECT_FALSE(testutil::fileExists(kept + "_similar_keyword"));
  EXPECT_TRUE(testutil::fileExists(kept + "_class"));

  // Keywords written into the claimed file stay.
  ResultClaim withKeywords;
  ASSERT_TRUE(withKeywords.make("../tmp", true));
  const std::string second = withKeywords.base();
  const std::string keywords = second + "_similar_keyword";
  ASSERT_TRUE(writeSimilarKeywordFile(keywords, "typed", {{"types", 80}}, 0, 5));
  removeUnwrittenSimilarKeyword(second);
  EXPECT_EQ(readFile(keywords), "types\t80\n");

  // Given up: nothing of it is left; without keywords asked, none is made.
  ResultClaim dropped;
  ASSERT_TRUE(dropped.make("../tmp", false));
  const std::string gone = dropped.base();
  EXPECT_FALSE(testutil::fileExists(gone + "_similar_keyword"));
  withKeywords.drop();
  dropped.drop();
  for (const std::string& b : {gone, second})
    for (const std::string& path : files(b))
      EXPECT_FALSE(testutil::fileExists(path)) << path;
  EXPECT_TRUE(testutil::fileExists(kept));

  ResultClaim nowhere;
  EXPECT_FALSE(nowhere.make("../no/dir", true));
  EXPECT_FALSE(nowhere.held());
}

// Someone who could write the result directory plants links for the coming
// names: no file of a result is ever written through one, and what is
// written is readable by the server account only.
TEST_F(ResultFilesTest, PlantedLinksAreNeverWrittenThrough) {
  writeFile(dir.sub("victim"), "precious");
  for (const char* suffix : {"_idx", ".filter", "_class", "_fast"})
    ASSERT_EQ(symlink(dir.sub("victim").c_str(), (base + suffix).c_str()), 0);
  EXPECT_FALSE(writeIndexListFile(base, VelaSearchListVector(1)));
  EXPECT_FALSE(outputFilterResult(base, 0, nullptr));
  EXPECT_FALSE(ensureClassFile(base));
  EXPECT_EQ(write(base + "_fast"), 1);
  EXPECT_EQ(readFile(dir.sub("victim")), "precious");

  const std::string fresh = dir.sub("root/tmp/query2");
  ASSERT_EQ(write(fresh), 0);
  ASSERT_TRUE(writeIndexListFile(fresh, VelaSearchListVector(1)));
  for (const std::string& path : {fresh, fresh + "_idx"}) {
    struct stat st;
    ASSERT_EQ(lstat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << path;
  }
}

// An integer as the file holds it: in the host's byte order.
std::string host32(int32_t v) {
  return std::string(reinterpret_cast<const char*>(&v), 4);
}

std::string pair(int32_t pos, int32_t len) {
  return host32(pos) + host32(len);
}

class QueryOutputTest : public ::testing::Test {
 protected:
  // Writes a whole file with the five texts, the descriptors and the records.
  bool writeSample(const std::vector<std::string>& t, const std::vector<std::string>& descriptors,
                   const std::vector<std::string>& records) {
    CQueryOutput out;
    if (!out.WriteOutputFile(path)) return false;
    out.SetQueryMatchCount(static_cast<int>(records.size()));
    out.SetMultiDbCount(static_cast<int>(descriptors.size()));
    out.OutputSetData();
    out.OutputQueryInfo(t[0], t[1], t[2], t[3], t[4]);
    out.OutputMultiDbInfo();
    for (size_t i = 0; i < descriptors.size(); ++i)
      out.OutputMultiDbURL(static_cast<int>(i), descriptors[i]);
    out.OutputRecordDataInfo();
    for (size_t i = 0; i < records.size(); ++i)
      out.OutputRecordData(static_cast<int>(i), records[i]);
    return out.CloseOutputFile();
  }

  testutil::TempDir dir;
  std::string path = dir.sub("query12345");
};

// Index, header, texts, both tables; integers in the host's byte order.
TEST_F(QueryOutputTest, TinyFileHasTheExactLayout) {
  CQueryOutput out;
  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetQueryMatchCount(1);
  out.SetPhoneOption(2);
  out.SetQueryRunTime(-7);
  out.SetSortOrder("asc");
  out.SetSortField("date");
  ASSERT_TRUE(out.SetSBFNumber("00042"));
  ASSERT_TRUE(out.SetQueryUser("ann"));
  out.SetMultiDbCount(1);
  out.SetRecordCount(0x01020304);
  ASSERT_TRUE(out.OutputSetData());
  ASSERT_TRUE(out.OutputQueryInfo("u", std::string(1, '\0'), "t", "i", "r"));
  ASSERT_TRUE(out.OutputMultiDbInfo());
  ASSERT_TRUE(out.OutputMultiDbURL(0, "D"));
  ASSERT_TRUE(out.OutputRecordDataInfo());
  ASSERT_TRUE(out.OutputRecordData(0, "R\n"));
  ASSERT_TRUE(out.CloseOutputFile());

  std::string header(588, '\0');
  header.replace(0, 4, host32(1));
  header.replace(4, 4, host32(2));
  header.replace(36, 4, host32(-7));
  header.replace(40, 3, "asc");
  header.replace(48, 4, "date");
  header.replace(304, 5, "00042");
  header.replace(312, 3, "ann");
  header.replace(568, 4, host32(1));
  header.replace(580, 4, "\x04\x03\x02\x01");
  EXPECT_EQ(readFile(path), pair(80, 588) + pair(668, 1) + pair(669, 1) + pair(670, 1) +
                                pair(671, 1) + pair(672, 1) + pair(673, 0) + pair(682, 0) +
                                pair(0, 0) + pair(0, 0) + header + "u" + '\0' + "tir" +
                                pair(681, 1) + "D" + pair(690, 2) + "R\n");
  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(in.GetQueryRunTime(), -7);
  EXPECT_EQ(in.GetQueryUser(), "ann");
  EXPECT_EQ(in.GetQueryKeyword(), std::string(1, '\0'));
  EXPECT_EQ(in.GetMultiDbURL(0) + in.GetRecordData(0), "DR\n");
  EXPECT_FALSE(in.HasReadError());

  // Without texts and lines both tables sit right behind the header.
  ASSERT_TRUE(writeSample({"", "", "", "", ""}, {}, {}));
  std::string index = pair(80, 588);
  for (int slot = 1; slot <= 7; ++slot)
    index += pair(668, 0);
  EXPECT_EQ(readFile(path), index + std::string(16 + 588, '\0'));
}

// Sort texts are cut and terminated; the other header texts are refused
// (left empty) unless they fit whole with their terminator.
TEST_F(QueryOutputTest, HeaderTextsAreCutOrRefused) {
  CQueryOutput out;
  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetSortField(std::string(300, 'f').c_str());
  out.SetSortOrder("descending");
  const std::pair<bool (CQueryOutput::*)(const std::string&), size_t> refusing[] = {
      {&CQueryOutput::SetSBFNumber, 8},
      {&CQueryOutput::SetQueryUser, 64},
      {&CQueryOutput::SetIniFileName, 64},
      {&CQueryOutput::SetMainPageUrl, 128}};
  for (const auto& [setter, size] : refusing) {
    EXPECT_TRUE((out.*setter)(std::string(size - 1, 'x')));
    EXPECT_FALSE((out.*setter)(std::string("a\0b", 3)));
    EXPECT_FALSE((out.*setter)(std::string(size, 'y'))) << size;
  }
  ASSERT_TRUE(out.OutputSetData());
  out.CloseOutputFile();
  std::string expected(588, '\0');
  expected.replace(40, 7, "descend").replace(48, 255, std::string(255, 'f'));
  EXPECT_EQ(readFile(path).substr(80, 588), expected);
}

TEST_F(QueryOutputTest, StepsOutOfOrderAndItemsOutsideTheTablesWriteNothing) {
  CQueryOutput out;
  EXPECT_FALSE(out.OutputSetData());  // nothing open
  EXPECT_FALSE(out.CloseOutputFile());
  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetQueryMatchCount(1);
  out.SetMultiDbCount(1);
  EXPECT_FALSE(out.OutputQueryInfo("", "", "", "", ""));
  EXPECT_FALSE(out.OutputMultiDbInfo());
  ASSERT_TRUE(out.OutputSetData());
  EXPECT_FALSE(out.OutputSetData());
  EXPECT_FALSE(out.OutputRecordDataInfo());
  ASSERT_TRUE(out.OutputQueryInfo("", "", "", "", ""));
  ASSERT_TRUE(out.OutputMultiDbInfo());
  EXPECT_FALSE(out.OutputMultiDbURL(1, "beyond"));
  EXPECT_FALSE(out.OutputMultiDbURL(-1, "before"));
  EXPECT_FALSE(out.OutputRecordData(0, "too early"));
  ASSERT_TRUE(out.OutputRecordDataInfo());
  EXPECT_FALSE(out.OutputMultiDbURL(0, "too late"));
  EXPECT_FALSE(out.OutputRecordData(1, "beyond"));
  EXPECT_FALSE(out.HasWriteError());
  ASSERT_TRUE(out.CloseOutputFile());
  EXPECT_EQ(readFile(path).size(), 668u + 16u);  // two zero pairs, nothing else

  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(in.GetRecordData(0) + in.GetRecordData(1) + in.GetMultiDbURL(-5), "");
  EXPECT_FALSE(in.HasReadError());
}

// A text the renderer could never read back (10,240 bytes) is written empty;
// the query URL is written whole and cut by the reader.
TEST_F(QueryOutputTest, LongTexts) {
  const std::string url(10240, 'u'), longText(10240, 'k'), longest(10239, 'i');
  CQueryOutput out;
  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetQueryMatchCount(1);
  ASSERT_TRUE(out.OutputSetData());
  EXPECT_FALSE(out.OutputQueryInfo(url, longText, "term", longest, "r"));
  ASSERT_TRUE(out.OutputMultiDbInfo());
  ASSERT_TRUE(out.OutputRecordDataInfo());
  EXPECT_FALSE(out.OutputRecordData(0, longText));
  ASSERT_TRUE(out.CloseOutputFile());

  CQueryOutput in;
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(in.IndexSlot(QUERY_URL_POS).lngDataLen, 10240);
  EXPECT_EQ(in.GetQueryURL(), url.substr(0, 10239));
  EXPECT_EQ(in.IndexSlot(QUERY_KEYWORD_POS).lngDataLen, 0);
  EXPECT_EQ(in.GetQueryTerm() + in.GetRecordData(0), "term");
  EXPECT_EQ(in.GetQueryIndexName(), longest);
  EXPECT_FALSE(in.HasReadError());
  // Any other item that long reads as "", even where the file holds it.
  testutil::writeFile(path, readFile(path).replace(16, 8, pair(668, 10240)));
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(in.GetQueryKeyword(), "");
  EXPECT_TRUE(in.HasReadError());
}

TEST_F(QueryOutputTest, WriterFailuresAreReported) {
  CQueryOutput out;
  EXPECT_FALSE(out.WriteOutputFile(dir.sub("missing/dir/query1")));
  EXPECT_FALSE(out.CheckOutputFileStatus());

  ASSERT_TRUE(out.WriteOutputFile(path));
  out.SetMultiDbCount(-1);  // cannot give a table
  ASSERT_TRUE(out.OutputSetData());
  ASSERT_TRUE(out.OutputQueryInfo("", "", "", "", ""));
  EXPECT_FALSE(out.OutputMultiDbInfo());
  EXPECT_TRUE(out.HasWriteError());
  EXPECT_FALSE(out.OutputRecordDataInfo());
  EXPECT_FALSE(out.CloseOutputFile());

  // Writes that never reach the disk are not reported as success.
  if (out.WriteOutputFile("/dev/full")) {
    out.OutputSetData();
    out.OutputQueryInfo(std::string(9000, 'x'), "", "", "", "");
    EXPECT_FALSE(out.CloseOutputFile());
  }
}

// The reader never reads past the file or its buffer: what cannot be read
// whole reads as "" and is reported.
TEST_F(QueryOutputTest, DamagedFiles) {
  ASSERT_TRUE(
      writeSample({"url", "key", "term", "idx", "rel"}, {"db0", "db1"}, {"rec0", "rec1", "rec2"}));
  const std::string good = readFile(path);
  CQueryOutput in;
  EXPECT_FALSE(in.ReadOutputFile(dir.sub("absent")));
  for (size_t size : {0, 79, 80, 667}) {
    testutil::writeFile(path, good.substr(0, size));
    EXPECT_FALSE(in.ReadOutputFile(path)) << size;
    EXPECT_FALSE(in.CheckOutputFileStatus());
  }
  testutil::writeFile(path, good.substr(0, good.size() - 2));  // last record cut
  ASSERT_TRUE(in.ReadOutputFile(path));
  EXPECT_EQ(in.GetRecordData(1), "rec1");
  EXPECT_FALSE(in.HasReadError());
  EXPECT_EQ(in.GetRecordData(2), "");
  EXPECT_TRUE(in.HasReadError());

  // Four bytes at an offset replaced: slot 1 position and length, slot 2
  // position and length, both table positions, a descriptor's position, a
  // record's length, the match count, the descriptor count.
  const size_t records = 668 + 16 + 16 + 6;
  // clang-format off
  const std::pair<size_t, int32_t> cases[] = {
      {8, -1}, {12, -3}, {12, 10240}, {16, 1 << 30}, {20, INT32_MAX}, {48, -8}, {56, INT32_MAX},
      {684, 1 << 30}, {records + 4, 10240}, {80, INT32_MAX}, {80 + 568, 1 << 28}};
  // clang-format on
  for (const auto& [offset, value] : cases) {
    testutil::writeFile(path, std::string(good).replace(offset, 4, host32(value)));
    ASSERT_TRUE(in.ReadOutputFile(path)) << offset;
    std::string all = in.GetQueryURL() + in.GetQueryKeyword() + in.GetQueryTerm() +
                      in.GetQueryIndexName() + in.GetRelTerm();
    for (int i : {0, 1, 2, 3, 1000, INT32_MAX - 1})
      all += in.GetMultiDbURL(i) + in.GetRecordData(i);
    EXPECT_TRUE(in.HasReadError()) << offset;
    EXPECT_LT(all.size(), good.size()) << offset;
  }
  for (int32_t headerPos : {-1, 1 << 30}) {
    testutil::writeFile(path, std::string(good).replace(0, 4, host32(headerPos)));
    EXPECT_FALSE(in.ReadOutputFile(path)) << headerPos;
  }
}

}  // namespace
