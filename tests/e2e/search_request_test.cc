/// @file search_request_test.cc
/// @brief Whole requests over real indexes: documents and a table indexed by
/// index_builder, searched through the installed searchrun, the merged and
/// ordered hits read back from the result file, and the renderer's answer.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "output/query_output.h"
#include "tests/e2e/e2e_util.h"

namespace {

namespace fs = std::filesystem;
using e2e::Installation;
using e2e::RunResult;

// One hit of a result file, resolved to the document it stands for.
struct Hit : e2e::ResultHit {
  std::string file;
};

class SearchRequestTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new Installation();
    docs_ = new testutil::TempDir();
    // Index "a": three documents of alice with distinct dates and sizes.
    writeDoc("a/apple-notes.txt", "apple harvest notes " + std::string(300, 'x'), 1100000000);
    writeDoc("a/budget.txt", "apple budget for the orchard", 1300000000);
    writeDoc("a/cider.html",
             "<html><head><title>Cider</title></head><body>apple cider " + std::string(900, 'y') +
                 "</body></html>",
             1200000000);
    writeDoc("a/unrelated.txt", "nothing to see here", 1250000000);
    // Index "b": two documents of bob.
    writeDoc("b/orchard.txt", "the apple orchard of bob " + std::string(50, 'z'), 1400000000);
    writeDoc("b/pears.txt", "pears and an apple", 1000000000);
    // A table with a numeric column.
    writeDoc("table.csv",
             "name,price,city\n"
             "apple pie,350,Lyon\n"
             "apple tart,120,Paris\n"
             "apple juice,240,Nice\n"
             "pear cake,999,Rome\n",
             1300000000);
    idA_ = build("alice", "Alice notes", docs_->sub("a"));
    idB_ = build("bob", "Bob notes", docs_->sub("b"));
    idDb_ = build("alice", "Prices", docs_->sub("table.csv"), {"--type", "db"});
  }
  static void TearDownTestSuite() {
    delete inst_;
    delete docs_;
  }

  static void writeDoc(const std::string& rel, const std::string& text, time_t mtime) {
    testutil::writeFile(docs_->sub(rel), text);
    utimbuf times{mtime, mtime};
    utime(docs_->sub(rel).c_str(), &times);
  }

  static std::string build(const std::string& owner, const std::string& desc,
                           const std::string& source, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{"create", "--owner", owner, "--desc", desc};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(source);
    return inst_->buildIndex(args);
  }

  static std::string uid(const std::string& id) { return "7F000001_" + id; }

  static std::string indexHome(const std::string& owner, const std::string& index) {
    return inst_->path("system/group/domain/User/" + owner + "/index/" + index);
  }

  // Runs a request of the trusted user and returns the result file it wrote.
  std::string search(const std::string& rest, RunResult* answer = nullptr) {
    const std::set<std::string> before = inst_->resultFiles();
    RunResult r = inst_->get("user=TESSERA&" + rest);
    if (answer) *answer = r;
    EXPECT_EQ(0, r.exitStatus) << r.out << r.err;
    const std::string written = inst_->newResult(before);
    if (!written.empty()) return written;
    ADD_FAILURE() << "no result file written for " << rest << "\n" << r.out;
    return "";
  }

  // The hits of a result file in file order, each resolved to its document.
  std::vector<Hit> hits(const std::string& path) {
    std::vector<e2e::ResultHit> found;
    EXPECT_TRUE(e2e::resultHits(path, found)) << path;
    std::vector<Hit> out;
    for (const e2e::ResultHit& h : found)
      out.push_back(
          {h, fs::path(e2e::recordName(indexHome(h.owner, h.index), h.recid)).filename().string()});
    return out;
  }

  static std::vector<std::string> files(const std::vector<Hit>& hits) {
    std::vector<std::string> names;
    for (const Hit& h : hits)
      names.push_back(h.file);
    return names;
  }

  std::string both() const { return "&index_id=" + uid(idA_) + "&index_id=" + uid(idB_); }

  static inline Installation* inst_ = nullptr;
  static inline testutil::TempDir* docs_ = nullptr;
  static inline std::string idA_, idB_, idDb_;
};

TEST_F(SearchRequestTest, MergesIndexesAndSortsTableRowsInTheOrderAsked) {
  const struct {
    std::string field, order;
    std::vector<std::string> files;
  } orders[] = {
      {"date", "desc", {"orchard.txt", "budget.txt", "cider.html", "apple-notes.txt", "pears.txt"}},
      {"date", "asc", {"pears.txt", "apple-notes.txt", "cider.html", "budget.txt", "orchard.txt"}},
      {"filename",
       "asc",
       {"apple-notes.txt", "budget.txt", "cider.html", "orchard.txt", "pears.txt"}}};
  for (const auto& o : orders) {
    const std::string request =
        "query=apple&search_no=0&xml=1&sort=" + o.field + "&order=" + o.order;
    const std::string path = search(request + both());
    EXPECT_EQ(o.files, files(hits(path))) << request;
    CQueryOutput header;
    ASSERT_TRUE(header.ReadOutputFile(path.c_str()));
    EXPECT_EQ(5, header.GetRecordCount());
    EXPECT_EQ(3, header.GetMultiDbCount());  // "all" and the two indexes
    EXPECT_EQ("TESSERA", header.GetQueryUser());
    EXPECT_EQ(o.field, header.GetSortField());
  }
  const std::vector<std::string> bySize =
      files(hits(search("query=apple&search_no=0&sort=size&order=desc&xml=1" + both())));
  ASSERT_EQ(5u, bySize.size());
  EXPECT_EQ("cider.html", bySize[0]);
  EXPECT_EQ("apple-notes.txt", bySize[1]);

  const std::vector<Hit> byScore = hits(search("query=apple&search_no=0&xml=1" + both()));
  ASSERT_EQ(5u, byScore.size());
  for (size_t i = 1; i < byScore.size(); ++i)
    EXPECT_GE(byScore[i - 1].score, byScore[i].score);

  const std::vector<Hit> rows =
      hits(search("query=apple&sort=DB_price&order=asc&xml=1&index_id=" + uid(idDb_)));
  ASSERT_EQ(3u, rows.size());
  // Rows are records 1..4 in table order: tart (120), juice (240), pie (350).
  EXPECT_EQ((std::vector<unsigned>{2, 3, 1}),
            (std::vector<unsigned>{rows[0].recid, rows[1].recid, rows[2].recid}));
}

TEST_F(SearchRequestTest, SearchNumberSelectsOneIndexAndNoHitsStillWritesAResult) {
  const std::vector<Hit> onlyB = hits(search("query=apple&search_no=2&xml=1" + both()));
  ASSERT_EQ(2u, onlyB.size());
  for (const Hit& h : onlyB)
    EXPECT_EQ(idB_, h.index);
  // Without "search_no" only the first selected index is searched.
  for (const Hit& h : hits(search("query=apple&xml=1" + both())))
    EXPECT_EQ(idA_, h.index);
  // A search without hits still writes its result.
  const std::string path = search("query=zebra&search_no=0&xml=1" + both());
  EXPECT_TRUE(hits(path).empty());
  CQueryOutput header;
  ASSERT_TRUE(header.ReadOutputFile(path.c_str()));
  EXPECT_EQ(0, header.GetRecordCount());
  EXPECT_EQ("zebra", header.GetQueryKeyword());
}

TEST_F(SearchRequestTest, DateAndFileNameWindowsFilterHits) {
  // 2005-01-01 .. 2012-12-31 keeps the documents of 2008 (cider) and 2011 (budget).
  const std::string window =
      "&part_file=on&begin_year=2005&begin_month=1&begin_day=1&end_year=2012&end_month=12"
      "&end_day=31";
  std::vector<std::string> dated = files(
      hits(search("query=apple&search_no=0&sort=filename&order=asc&xml=1" + window + both())));
  EXPECT_EQ((std::vector<std::string>{"budget.txt", "cider.html"}), dated);

  std::vector<std::string> named = files(hits(search(
      "query=apple&search_no=0&sort=filename&order=asc&xml=1&begin_file=*.TXT&end_file=*.txt" +
      both())));
  EXPECT_EQ((std::vector<std::string>{"apple-notes.txt", "budget.txt", "orchard.txt", "pears.txt"}),
            named);
}

TEST_F(SearchRequestTest, SupersededRecordsGiveWayToTheIncIndex) {
  // A separate index, so that the other cases keep their documents.
  testutil::TempDir src;
  testutil::writeFile(src.sub("one.txt"), "plum one");
  testutil::writeFile(src.sub("two.txt"), "plum two");
  const std::string id = build("alice", "Plums", src.path());
  testutil::writeFile(src.sub("two.txt"), "plum two, revised and longer");
  testutil::writeFile(src.sub("three.txt"), "plum three");
  RunResult update = inst_->run("binind/index_builder", {"update", "--id", id, src.path()});
  ASSERT_EQ(0, update.exitStatus) << update.err;

  const std::vector<Hit> found =
      hits(search("query=plum&sort=filename&order=asc&xml=1&index_id=" + uid(id)));
  EXPECT_EQ((std::vector<std::string>{"one.txt", "three.txt", "two.txt"}), files(found));
  // The revised document is the inc index's, numbered after the org records.
  for (const Hit& h : found) {
    if (h.file == "two.txt") {
      EXPECT_GT(h.recid, 2u);
    }
  }
}

TEST_F(SearchRequestTest, LargeResultShowsItsFirstPagesBeforeTheWholeFile) {
  testutil::TempDir src;
  for (int i = 0; i < 25; ++i) {
    testutil::writeFile(src.sub("kiwi" + std::to_string(100 + i) + ".txt"),
                        "kiwi number " + std::to_string(i));
  }
  const std::string id = build("alice", "Kiwis", src.path());

  // One record per page: more than 20 pages of hits take the fast path.
  search("query=kiwi&index_id=" + uid(id));  // the figure of what results take stands now
  const auto usage = [] { return std::stoll(inst_->read("tmp/.usage")); };
  const long long usedBefore = usage();
  RunResult fast;
  const std::string full = search("query=kiwi&no_rec=1&index_id=" + uid(id), &fast);
  // The figure grows by the files the result keeps, the whole result among them.
  long long kept = 0;
  for (const char* suffix : {"", "_idx", ".filter", "_class", "_similar_keyword"}) {
    struct stat st;
    if (lstat((full + suffix).c_str(), &st) == 0)
      kept += static_cast<long long>(st.st_blocks) * 512;
  }
  EXPECT_EQ(usage() - usedBefore, kept);
  EXPECT_NE(std::string::npos, fast.out.find("<html")) << fast.out;
  EXPECT_EQ(25u, hits(full).size());  // the whole result is written afterwards
  EXPECT_FALSE(testutil::fileExists(full + "_fast"));
  EXPECT_TRUE(testutil::fileExists(full + "_idx"));
  EXPECT_TRUE(testutil::fileExists(full + ".filter"));
  EXPECT_TRUE(testutil::fileExists(full + "_class"));

  // Asking for a page, or for XML, writes the whole file before rendering.
  RunResult paged;
  const std::string second = search("query=kiwi&no_rec=1&outcgipage=2&index_id=" + uid(id), &paged);
  EXPECT_EQ(25u, hits(second).size());
  EXPECT_NE(std::string::npos, paged.out.find("<html")) << paged.out;
}

// API callers get XML from the renderer; sites that build their own pages
// ask for JSON, and get their failures as JSON too.
TEST_F(SearchRequestTest, ApiAndJsonCallersGetTheirFormatAndFailures) {
  const struct {
    const char *variables, *type, *start, *query;
  } formats[] = {{"api=1&version=2", "text/xml", "<?xml", "apple"},
                 {"format=json", "Content-Type: application/json", "{", "\"apple"},
                 {"xml=3", "Content-Type: application/json", "{", "\"apple"}};
  for (const auto& f : formats) {
    RunResult r;
    search(std::string("query=apple&search_no=0&") + f.variables + both(), &r);
    EXPECT_NE(std::string::npos, r.out.find(f.type)) << r.out;
    const std::string body = r.out.substr(r.out.find("\n\n") + 2);
    EXPECT_EQ(0u, body.find(f.start)) << body;
    EXPECT_NE(std::string::npos, body.find(f.query)) << body;
  }
  RunResult none = inst_->get("user=TESSERA&query=apple&format=json");
  EXPECT_EQ(1, none.exitStatus);
  EXPECT_NE(std::string::npos, none.out.find("Content-Type: application/json")) << none.out;
  // The shape of the renderer's errors: status, code, message.
  EXPECT_EQ(0u, none.out.find("Status: 400 Bad Request\n")) << none.out;
  EXPECT_NE(std::string::npos,
            none.out.find("{\"error\":{\"status\":400,\"code\":\"1003\",\"message\":\""))
      << none.out;
}

TEST(SearchRequestHandOver, MissingRendererIsAFailureWithAPage) {
  Installation inst;
  std::filesystem::remove(inst.path("search-cgi/getfilelist.exe"));
  testutil::TempDir src;
  for (int i = 0; i < 22; ++i)
    testutil::writeFile(src.sub("a" + std::to_string(i) + ".txt"), "fig");
  const std::string id = inst.buildIndex({"create", "--owner", "alice", src.path()});
  RunResult handOver = inst.get("user=TESSERA&query=fig&index_id=7F000001_" + id);
  EXPECT_EQ(1, handOver.exitStatus);
  EXPECT_EQ(0u, handOver.out.find("Status: 503 Service Unavailable\nContent-Type:text/html; "
                                  "charset=UTF-8\n"))
      << handOver.out;
  EXPECT_NE(std::string::npos, handOver.out.find("not set up completely")) << handOver.out;
  // The same on the path that shows the first pages of a large result.
  RunResult fast = inst.get("user=TESSERA&query=fig&no_rec=1&index_id=7F000001_" + id);
  EXPECT_EQ(1, fast.exitStatus);
  EXPECT_NE(std::string::npos, fast.out.find("not set up completely")) << fast.out;
}

}  // namespace
