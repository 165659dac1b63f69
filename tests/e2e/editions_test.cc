/// @file editions_test.cc
/// @brief The threaded editions (searchrun-mt, -lite, -sparc) over one
/// installation: the same requests in the older front's form through each,
/// and what the older front answers differently.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "output/query_output.h"
#include "system/delimiters.h"
#include "system/net_exchange.h"
#include "tests/e2e/engine_util.h"

namespace {

namespace fs = std::filesystem;
using e2e::Installation;
using e2e::RunResult;

struct Edition {
  const char* name;
  bool full;  // reports its version and writes the debug and search logs
};
void PrintTo(const Edition& e, std::ostream* os) {
  *os << e.name;
}
const Edition kEditions[] = {
    {"searchrun-mt", true}, {"searchrun-lite", false}, {"searchrun-sparc", true}};
const std::string kFieldDelim = "\x12\x13\x14";
using Ids = std::vector<unsigned>;

class EditionsTest : public ::testing::TestWithParam<Edition> {
 protected:
  static void SetUpTestSuite() {
    inst_ = new Installation();
    // The editions are served only where the administrator links them in.
    for (const Edition& edition : kEditions) {
      ASSERT_EQ(0, symlink((std::string("../editions/") + edition.name).c_str(),
                           inst_->path(std::string("search-cgi/") + edition.name).c_str()));
    }
    docs_ = new testutil::TempDir();
    testutil::writeFile(docs_->sub("a/apple.txt"), "apple harvest notes");
    testutil::writeFile(docs_->sub("a/cider.txt"), "apple cider and pears");
    testutil::writeFile(docs_->sub("b/orchard.txt"), "the apple orchard of bob");
    idA_ = build("alice", docs_->sub("a"));
    idB_ = build("bob", docs_->sub("b"));
    // An index with document properties, and a table indexed by field.
    testutil::writeFile(
        docs_->sub("c/design.html"),
        "<html><head><title>Design notes</title></head><body>orchard design</body>");
    testutil::writeFile(docs_->sub("c/plain.txt"), "Orchard\nthe design of the orchard\n");
    idC_ = build("carol", docs_->sub("c"));
    testutil::writeFile(docs_->sub("t/products.csv"),
                        "name,section\napple,fruit\nbanana,fruit\ncarrot,vegetable\n"
                        "apple pie,dessert\n");
    idT_ = build("alice", docs_->sub("t/products.csv"), {"--type", "db"});
  }
  static void TearDownTestSuite() {
    if (classServer_ > 0) {
      kill(classServer_, SIGTERM);
      EXPECT_EQ(0, enginetest::waitWithin(classServer_, 30)) << inst_->read("class_server.log");
    }
    delete inst_;
    delete docs_;
  }

  // The class server of the installation on 127.0.0.1, started once: class
  // "Docs" holds alice's index and bob's, bob's with a status that keeps it
  // out of searches.
  static void startClassServer() {
    if (classServer_ > 0) return;
    inst_->write("setting/index_class.cfg",
                 "[Docs]\nuid = D1\nindex = " + idA_ + "\nindex = " + idB_ + " 2\n");
    classPort_ = testutil::freePort("127.0.0.1");
    ASSERT_GT(classPort_, 0);
    inst_->write("search-cgi/db_interface.num", std::to_string(classPort_) + "\n");
    classServer_ = enginetest::startClassServer(
        *inst_,
        {"--root", inst_->root(), "--address", "127.0.0.1", "--port", std::to_string(classPort_)},
        "127.0.0.1", static_cast<uint16_t>(classPort_));
  }

  static std::string build(const std::string& owner, const std::string& source,
                           const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args{"create", "--owner", owner, "--desc", owner + " notes"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.push_back(source);
    return inst_->buildIndex(args);
  }

  // A "database" variable of a local index, its fields URL-encoded.
  static std::string database(const std::string& owner, const std::string& id,
                              const std::string& type = "doc") {
    const std::string d = "%12%13%14";
    return "&database=127.0.0.1" + d + owner + d + id + d + d + owner + "+notes" + d + type + d;
  }
  static std::string both() { return database("alice", idA_) + database("bob", idB_); }

  RunResult get(const std::string& query, std::map<std::string, std::string> env = {}) {
    env.emplace("REQUEST_METHOD", "GET");
    env.emplace("QUERY_STRING", query);
    return inst_->run(program(), {}, env);
  }

  std::string program() const { return std::string("search-cgi/") + GetParam().name; }

  // The record ids of the hits of a request that must succeed, sorted.
  Ids hits(const std::string& query) {
    const std::set<std::string> before = inst_->resultFiles();
    const RunResult r = get("all_file=on&xml=1&" + query);
    EXPECT_EQ(0, r.exitStatus) << query << "\n" << r.out << r.err;
    Ids ids;
    if (!e2e::resultRecordIds(inst_->newResult(before), ids))
      ADD_FAILURE() << "no result for " << query << "\n" << r.out;
    std::sort(ids.begin(), ids.end());
    return ids;
  }

  static std::string message(const std::string& key) {
    const std::string table = inst_->read("search-cgi/ts_msg_table_default.cfg");
    const size_t at = table.find(key + " ");
    return at == std::string::npos
               ? "?"
               : table.substr(at + key.size() + 1, table.find('\n', at) - at - key.size() - 1);
  }

  static inline Installation* inst_ = nullptr;
  static inline pid_t classServer_ = -1;
  static inline int classPort_ = -1;
  static inline testutil::TempDir* docs_ = nullptr;
  static inline std::string idA_, idB_, idC_, idT_;
};

TEST_P(EditionsTest, SearchesTheDatabaseVariablesAndHandsOverTheResult) {
  const std::set<std::string> before = inst_->resultFiles();
  const RunResult r = get("query=apple&search_no=0&all_file=on&xml=1" + both());
  EXPECT_EQ(0, r.exitStatus) << r.out << r.err;
  const std::string written = inst_->newResult(before);
  ASSERT_FALSE(written.empty()) << r.out;
  CQueryOutput file;
  ASSERT_TRUE(file.ReadOutputFile(written.c_str()));
  EXPECT_EQ(3, file.GetMatchCount());
  EXPECT_EQ(3, file.GetMultiDbCount());  // "all" and the two indexes
  // The renderer answered from that file.
  EXPECT_NE(std::string::npos, r.out.find("Content-")) << r.out;
  // The index list file counts both as local (the settings' host address).
  const std::string idx = testutil::readFile(written + "_idx");
  EXPECT_NE(std::string::npos, idx.find(idA_));
  EXPECT_NE(std::string::npos, idx.find(idB_));
  // A search number picks one index of them.
  const std::set<std::string> more = inst_->resultFiles();
  ASSERT_EQ(0, get("query=apple&search_no=2&all_file=on&xml=1" + both()).exitStatus);
  ASSERT_TRUE(file.ReadOutputFile(inst_->newResult(more).c_str()));
  EXPECT_EQ(1, file.GetMatchCount());  // bob's orchard only
}

struct Refusal {
  const char* name;
  std::string query;
  int status;
  std::string expected;  // text the answer holds
};

TEST_P(EditionsTest, RefusalsOfTheOlderFront) {
  std::string eleven;
  for (int k = 0; k < 11; ++k)
    eleven += database("alice", idA_);
  const Refusal cases[] = {
      {"search_no is required", "query=apple&all_file=on" + both(), 1, message("VALUE_0006")},
      {"more indexes than the settings allow", "query=apple&search_no=0&all_file=on" + eleven, 1,
       message("VALUE_1035")},
      {"search number beyond the indexes", "query=apple&search_no=3&all_file=on" + both(), 1,
       "searchNum:3<br>queryOption.dbNum:2<br>"},
      // Which dates fail is OlderQueryOptions.DateWindowIsOnUnlessAllFilesAreAsked'.
      {"date window on without its dates", "query=apple&search_no=0" + both(), 255,
       "Convert search start time fails"},
      {"no variables", "", 1, message("VALUE_0007")},
      // Which tables are refused is MultiPropertySearch's.
      {"fields without their table",
       "all_file=on&search_no=0&MultiDBFieldCount=1&m_query_1=apple" + both(), 1,
       message("VALUE_1004")},
  };
  for (const Refusal& c : cases) {
    const RunResult r = get(c.query);
    EXPECT_EQ(c.status, r.exitStatus) << c.name << "\n" << r.out;
    EXPECT_NE(std::string::npos, r.out.find(c.expected)) << c.name << "\n" << r.out;
  }
  // In XML when asked for.
  const RunResult r = get("query=apple&all_file=on&xml=1" + both());
  EXPECT_EQ(0u, r.out.rfind("Content-type:text/xml\n\n", 0)) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("<![CDATA[" + message("VALUE_0006") + "]]>"));
}

TEST_P(EditionsTest, VersionReportOnlyWhereTheEditionHasItAndNoMethodIsRefused) {
  const RunResult r = inst_->run(program(), {"-ver"}, {});
  const bool hasVersion = GetParam().full;
  EXPECT_EQ(hasVersion, r.out.rfind("\nVERSION_NO: 2.6.0.1\nBUILD_DATE: ", 0) == 0) << r.out;
  EXPECT_EQ(std::string::npos, r.out.find("BUILD NUMBER")) << r.out;
  EXPECT_EQ(0, hasVersion ? r.exitStatus : 0);
  // Without "-ver" and without a request method: logged and refused.
  const RunResult none = inst_->run(program(), {}, {});
  EXPECT_EQ(1, none.exitStatus);
  EXPECT_NE(std::string::npos, none.out.find(message("VALUE_0007"))) << none.out;
  EXPECT_NE(std::string::npos,
            inst_->read("search-cgi/cgi_variable.log").find("[NO REQUEST_METHOD]\n"));
}

TEST_P(EditionsTest, DebugAndSearchLogsAreTheEditionsOwn) {
  const std::string settings = inst_->read("setting/ts_adv_log.cfg");
  inst_->write("setting/ts_adv_log.cfg", "OutputQueryInfo=Y\nEnabledSearchInfo=Y\n");
  inst_->write("search-cgi/ts.debug", "searchrun.log=Y\n");
  inst_->write("system.debug.cfg", "debug_mode=Y\n");
  inst_->write("index_log/search.log", "");
  const size_t queryLog = inst_->read("logs/query.log").size();
  get("query=pears&search_no=0&all_file=on&xml=1" + both());
  const std::string queries = inst_->read("logs/query.log").substr(queryLog);
  const std::string debug = inst_->read("search-cgi/searchrun.log");
  const std::string searches = inst_->read("index_log/search.log");
  const bool newerDebugLog = fs::exists(inst_->path("debug/searchrun.log"));
  for (const char* made : {"search-cgi/searchrun.log", "system.debug.cfg", "search-cgi/ts.debug",
                           "debug/searchrun.log"})
    unlink(inst_->path(made).c_str());
  inst_->write("setting/ts_adv_log.cfg", settings);

  const bool logs = GetParam().full;
  EXPECT_EQ(logs, debug.find("queryOption.dbNum = [2]\n") != std::string::npos) << debug;
  EXPECT_EQ(logs,
            debug.find("Read ts_adv_log.cfg : [EnabledSearchInfo]=[Y]\n") != std::string::npos)
      << debug;
  EXPECT_EQ(logs, searches.find("\tpears\t1\n") != std::string::npos) << searches;
  EXPECT_EQ(logs, queries.find("\tpears\t1\n") != std::string::npos) << queries;
  // The newer forms' files stay untouched.
  EXPECT_FALSE(newerDebugLog) << GetParam().name;
  if (fs::exists(inst_->path("system_log/query"))) {
    EXPECT_TRUE(fs::is_empty(inst_->path("system_log/query")));
  }
}

TEST_P(EditionsTest, QueryIsKeptToTheEditionsOwnLength) {
  // The run-time log names the query as the run holds it.
  for (const size_t size : {10240u, 10241u}) {
    const size_t before = inst_->read("logs/searchrun_time.log").size();
    get("search_no=0&all_file=on&xml=1&query=" + std::string(size, 'q') + both());
    const std::string added = inst_->read("logs/searchrun_time.log").substr(before);
    EXPECT_NE(std::string::npos, added.find("-QUERY <" + std::string(10240, 'q') + ">\n"))
        << size << " " << added.size();
  }
}

TEST_P(EditionsTest, GroupVariableGroupsTheHitsOnThePage) {
  const std::set<std::string> before = inst_->resultFiles();
  const RunResult r = get("query=apple&search_no=0&all_file=on&group=owner" + both());
  ASSERT_EQ(0, r.exitStatus) << r.out << r.err;
  EXPECT_NE(std::string::npos, r.out.find("Grouped by owner")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("alice - 2 hits")) << r.out;
  // The hits of the file with its own layout show on the page.
  EXPECT_NE(std::string::npos, r.out.find("orchard.txt")) << r.out;
  // The related-term jobs (worker threads here) gave the page its terms.
  EXPECT_NE(std::string::npos, r.out.find("Related terms: <a")) << r.out;
  EXPECT_EQ("owner\n2\talice\n1\tbob\n", testutil::readFile(inst_->newResult(before) + ".group"));
}

TEST_P(EditionsTest, ClassSearchNamesTheClassesIndexesInTheRequestOrFails) {
  startClassServer();
  const std::set<std::string> before = inst_->resultFiles();
  // bob's index named by the request gives way to the class's indexes.
  RunResult r = get("query=apple&search_no=0&all_file=on&xml=1&owner=alice&class_name=Docs" +
                    database("bob", idB_));
  ASSERT_EQ(0, r.exitStatus) << r.out << r.err << inst_->read("class_server.log");
  const std::string written = inst_->newResult(before);
  ASSERT_FALSE(written.empty()) << r.out;
  CQueryOutput file;
  ASSERT_TRUE(file.ReadOutputFile(written.c_str()));
  EXPECT_EQ(2, file.GetMatchCount());  // alice's two notes; bob's index is not usable
  const std::string url = file.GetQueryURL();
  EXPECT_NE(std::string::npos, url.find("class_name=Docs")) << url;
  const size_t first = url.find("&database=");
  ASSERT_NE(std::string::npos, first) << url;
  EXPECT_EQ(std::string::npos, url.find("&database=", first + 1)) << url;
  EXPECT_NE(std::string::npos, url.find("alice%12%13%14" + idA_, first)) << url;
  EXPECT_EQ(std::string::npos, url.find(idB_)) << url;

  r = get("query=apple&search_no=0&all_file=on&owner=alice&class_uid=NOPE" + both());
  EXPECT_EQ(1, r.exitStatus) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("Can't find class")) << r.out;

  inst_->write("search-cgi/db_interface.num",
               std::to_string(testutil::freePort("127.0.0.1")) + "\n");
  r = get("query=apple&search_no=0&all_file=on&owner=alice&class_name=Docs" + both());
  inst_->write("search-cgi/db_interface.num", std::to_string(classPort_) + "\n");
  EXPECT_EQ(1, r.exitStatus) << r.out;
  EXPECT_NE(std::string::npos, r.out.find(message("VALUE_0005"))) << r.out;
}

TEST_P(EditionsTest, PropertySearchLooksOnlyInTheProperty) {
  const std::string both = "query=design&search_no=0" + database("carol", idC_);
  EXPECT_EQ(2u, hits(both).size());
  const Ids titled = hits(both + "&filenamesearch=title");
  ASSERT_EQ(1u, titled.size());
  // The hit is the page whose title holds the word (a text file's title is
  // its first line).
  EXPECT_EQ(titled, hits("query=notes&search_no=0&filenamesearch=title" + database("carol", idC_)));
}

TEST_P(EditionsTest, AStoredFieldListOrClausesNarrowTheSearchOfATable) {
  // Field 1 (name) only.
  inst_->write("sbf/sbf_00042.cfg", "127.0.0.1" + kFieldDelim + "alice" + kFieldDelim + idT_ +
                                        "\x15\x16\x17N" + kFieldDelim + "1" + kFieldDelim + "\n");
  const std::string table = "&search_no=0" + database("alice", idT_, "db");
  EXPECT_EQ(hits("query=fruit" + table), (Ids{1, 2}));
  EXPECT_EQ(hits("query=fruit&sbf=42" + table), Ids{});
  EXPECT_EQ(hits("query=apple&sbf=42" + table), (Ids{1, 4}));

  // A multi-field request combines its clauses.
  const std::string index = "search_no=0&index_id=7F000001_" + idT_;
  EXPECT_EQ(hits(index + "&MultiDBFieldCount=1&m_query_1=apple&m_field_1=name"), (Ids{1, 4}));
  EXPECT_EQ(hits(index + "&MultiDBFieldCount=2&m_query_1=apple&m_field_1=name&m_query_2=dessert"
                         "&m_field_2=section&m_op_2=and"),
            Ids{4});
  EXPECT_EQ(hits(index + "&MultiDBFieldCount=2&m_query_1=fruit&m_field_1=section&m_query_2=apple"
                         "&m_field_2=name&m_op_2=!"),
            Ids{2});
  // Clauses that all name unknown columns: the "database" variables are
  // searched instead.
  EXPECT_EQ(2u, hits(index + "&query=apple&MultiDBFieldCount=1&m_query_1=apple&m_field_1=nope" +
                     database("alice", idA_))
                    .size());
}

INSTANTIATE_TEST_SUITE_P(Editions, EditionsTest, ::testing::ValuesIn(kEditions),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           for (char& c : name)
                             if (c == '-') c = '_';
                           return name;
                         });

}  // namespace
