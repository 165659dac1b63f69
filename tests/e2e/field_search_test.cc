/// @file field_search_test.cc
/// @brief Searches by field over CSV tables indexed by index_builder: one
/// field, several fields combined with and/or/not, a numeric range, the
/// stored field lists, tables updated through the inc index, several tables
/// in one index, and the requests refused before anything is searched.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "output/query_output.h"
#include "tests/e2e/e2e_util.h"

namespace {

namespace fs = std::filesystem;
using e2e::Installation;
using e2e::RunResult;

const std::string kDelim = "\x12\x13\x14";
using Rows = std::vector<unsigned>;

// name,section,version,size; rows 1 to 5.
const char* const kProducts =
    "name,section,version,size\n"
    "apple,fruit,1.2,10\n"
    "banana,fruit,2.0,25\n"
    "carrot,vegetable,1.0,5\n"
    "apple pie,dessert,3.1,40\n"
    "red cabbage,vegetable,0.5,12\n";

class FieldSearchTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    inst_ = new Installation();
    inst_->write("setting/engine_service.cfg", "AUTO_START=no\n");
    inst_->write("tables/products.csv", kProducts);
    id_ = build("tables/products.csv");
  }
  static void TearDownTestSuite() { delete inst_; }

  static std::string build(const std::string& source) {
    return inst_->buildIndex({"create", "--owner", "alice", "--type", "db", inst_->path(source)});
  }

  // The record ids of the hits of a request in result order, sorted when
  // `sorted` (the order of equal scores is the engine's).
  static Rows rows(const std::string& request, bool sorted = true) {
    const std::set<std::string> before = inst_->resultFiles();
    const RunResult r = inst_->get("user=TESSERA&xml=1&" + request);
    EXPECT_EQ(0, r.exitStatus) << request << "\n" << r.out << r.err;
    Rows out;
    if (!e2e::resultRecordIds(inst_->newResult(before), out))
      ADD_FAILURE() << "no result for " << request << "\n" << r.out;
    if (sorted) std::sort(out.begin(), out.end());
    return out;
  }

  // A multi-field request over index `id`: clauses "query|field|op", field
  // and op may be empty.
  static std::string clauses(const std::string& id, const std::vector<std::string>& parts) {
    std::string q = "search_no=0&index_id=7F000001_" + id +
                    "&MultiDBFieldCount=" + std::to_string(parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
      const std::string n = std::to_string(i + 1);
      const size_t a = parts[i].find('|'), b = parts[i].find('|', a + 1);
      q += "&m_query_" + n + "=" + parts[i].substr(0, a);
      if (b > a + 1) q += "&m_field_" + n + "=" + parts[i].substr(a + 1, b - a - 1);
      if (b + 1 < parts[i].size()) q += "&m_op_" + n + "=" + parts[i].substr(b + 1);
    }
    return q;
  }

  static inline Installation* inst_ = nullptr;
  static inline std::string id_;
};

TEST_F(FieldSearchTest, ClausesFindTheRowsOfTheirColumnsAndCombine) {
  const std::pair<std::vector<std::string>, Rows> cases[] = {
      {{"apple|name|"}, {1, 4}},
      {{"apple|section|"}, {}},
      {{"vegetable|section|"}, {3, 5}},
      {{"red||"}, {5}},  // without a field the clause searches whole rows
      {{"apple|name|", "dessert|section|and"}, {4}},
      {{"apple|name|", "vegetable|section||"}, {1, 3, 4, 5}},
      {{"fruit|section|", "banana|name|!"}, {1}},
      {{"fruit|section|", "dessert|section|or", "apple|name|not"}, {2}},
      // A first clause without hits empties an "and" search, whatever follows.
      {{"plum|name|", "fruit|section|or"}, {}},
      {{"[5-12]|size|"}, {1, 3, 5}},
      {{"[5-12]|size|", "vegetable|section|and"}, {3, 5}},
      {{"[1.1-3]|version|"}, {1, 2}}};
  for (const auto& [parts, expected] : cases)
    EXPECT_EQ(rows(clauses(id_, parts)), expected) << testing::PrintToString(parts);
  // Ordered by record id when asked for no order, in the direction asked.
  const std::string byId = clauses(id_, {"[20-]|size|", "carrot|name|or"});
  EXPECT_EQ(rows("sort=none&order=asc&" + byId, false), (Rows{2, 3, 4}));
  EXPECT_EQ(rows("sort=none&order=desc&" + byId, false), (Rows{4, 3, 2}));
  // The page shows the rows found and names the clause searched; a request
  // without "query" is served too.
  for (const std::string mark : {"", "query=_SEARCH_MULTI_FIELD_&"}) {
    const RunResult page = inst_->get("user=TESSERA&" + mark + clauses(id_, {"pie|name|"}));
    EXPECT_EQ(0, page.exitStatus);
    EXPECT_NE(std::string::npos, page.out.find("apple pie")) << page.out;
    EXPECT_EQ(std::string::npos, page.out.find("banana")) << page.out;
    EXPECT_NE(std::string::npos, page.out.find("for name <b>pie</b>")) << page.out;
  }
}

TEST_F(FieldSearchTest, StoredFieldListNarrowsAnOrdinarySearch) {
  // Line: host, owner, index, then the condition: field 1 (name) only.
  inst_->write("sbf/sbf_00042.cfg", "127.0.0.1" + kDelim + "alice" + kDelim + id_ +
                                        "\x15\x16\x17N" + kDelim + "1" + kDelim + "\n");
  const std::string plain = "search_no=0&query=fruit&index_id=7F000001_" + id_;
  EXPECT_EQ(rows(plain), (Rows{1, 2}));
  EXPECT_EQ(rows(plain + "&sbf=42"), Rows{});        // "fruit" is no name
  EXPECT_EQ(rows(plain + "&sbf=43"), (Rows{1, 2}));  // no such list: no condition
  // A list naming fields beyond the field numbers chooses none.
  inst_->write("sbf/sbf_00044.cfg", "127.0.0.1" + kDelim + "alice" + kDelim + id_ +
                                        "\x15\x16\x17N" + kDelim + "99999" + kDelim + "\n");
  EXPECT_EQ(rows("search_no=0&query=apple&sbf=44&index_id=7F000001_" + id_), Rows{});
}

TEST_F(FieldSearchTest, HostileRequestsAreRefusedBeforeAnySearch) {
  // Which counts are refused is MultiFieldRequestTest's; here, the page of a refusal.
  const RunResult r = inst_->get("user=TESSERA&search_no=0&index_id=7F000001_" + id_ +
                                 "&MultiDBFieldCount=1000&m_query_1=apple");
  EXPECT_EQ(1, r.exitStatus);
  EXPECT_NE(std::string::npos, r.out.find(e2e::messageText(*inst_, "0000"))) << r.out;
  const RunResult api = inst_->get("user=TESSERA&api=1&version=2&search_no=0&index_id=7F000001_" +
                                   id_ + "&MultiDBFieldCount=300&m_query_1=apple");
  EXPECT_NE(std::string::npos, api.out.find("0049")) << api.out;
  // No index, or one of another kind of request.
  EXPECT_EQ(1, inst_->get("user=TESSERA&MultiDBFieldCount=1&m_query_1=a").exitStatus);
  // A column whose number lies beyond the field numbers is left out; the
  // other clause still runs.
  const std::string mapping =
      inst_->read("system/group/domain/User/alice/db/" + id_ + "/column_mapping.txt");
  inst_->write("system/group/domain/User/alice/db/" + id_ + "/column_mapping.txt",
               mapping + id_ + ",products.csv,9,evil,text,16384\n");
  EXPECT_EQ(rows(clauses(id_, {"apple|evil|", "apple|name|or"})), (Rows{1, 4}));
  inst_->write("system/group/domain/User/alice/db/" + id_ + "/column_mapping.txt", mapping);
  // Without search_no=0 the clauses are not searched.
  const RunResult one = inst_->get("user=TESSERA&index_id=7F000001_" + id_ +
                                   "&MultiDBFieldCount=1&m_query_1=apple&m_field_1=name");
  EXPECT_NE(std::string::npos, one.out.find(e2e::messageText(*inst_, "1003"))) << one.out;
}

TEST_F(FieldSearchTest, UpdatedRowsAndSeveralTablesAreFoundThroughTheirFieldIndexes) {
  inst_->write("tables/stock.csv", kProducts);
  const std::string id = build("tables/stock.csv");
  // Banana moves to the desserts, carrot goes, a plum comes.
  inst_->write("tables/stock.csv",
               "name,section,version,size\n"
               "apple,fruit,1.2,10\n"
               "banana,dessert,2.0,25\n"
               "apple pie,dessert,3.1,40\n"
               "red cabbage,vegetable,0.5,12\n"
               "plum,fruit,1.0,7\n");
  RunResult r =
      inst_->run("binind/index_builder", {"update", "--id", id, inst_->path("tables/stock.csv")});
  ASSERT_EQ(0, r.exitStatus) << r.err;
  EXPECT_EQ(inst_->read("system/group/domain/User/alice/index/" + id + "_inc_sbf/sbf_setting"),
            "0,0\n4\n1,1\n2,2\n3,3\n4,4\n");
  // Rows 3 to 5 of the new table moved up a place: with row 2 they count as
  // changed and go to the inc index, as records 6 to 9 (after the org
  // index's 5); org rows 2 to 5 are superseded.
  EXPECT_EQ(rows(clauses(id, {"dessert|section|"})), (Rows{6, 7}));
  EXPECT_EQ(rows(clauses(id, {"fruit|section|"})), (Rows{1, 9}));
  EXPECT_EQ(rows(clauses(id, {"banana|name|"})), Rows{6});
  EXPECT_EQ(rows(clauses(id, {"carrot|name|"})), Rows{});
  EXPECT_EQ(rows(clauses(id, {"[5-12]|size|"})), (Rows{1, 8, 9}));

  // Several tables in one index share their columns by name.
  inst_->write("tables/shop/a.csv", "name,price\nspade,12\nrake,30\n");
  inst_->write("tables/shop/b.csv", "colour,name\ngreen,hose\nred,spade\n");
  const std::string shop = build("tables/shop");
  EXPECT_EQ(inst_->read("system/group/domain/User/alice/db/" + shop + "/column_mapping.txt"),
            shop + ",a.csv,1,name,text,1\n" + shop + ",a.csv,2,price,number,2\n" + shop +
                ",b.csv,1,colour,text,3\n");
  // The field index holds each table's own columns, row by row.
  EXPECT_EQ(inst_->read("system/group/domain/User/alice/index/" + shop + "_sbf/sbf_setting"),
            "0,0\n2\n1,1\n2,2\n2,4\n2\n1,3\n2,1\n");
  EXPECT_EQ(rows(clauses(shop, {"spade|name|"})), (Rows{1, 4}));
  EXPECT_EQ(rows(clauses(shop, {"red|colour|"})), Rows{4});
  EXPECT_EQ(rows(clauses(shop, {"spade|name|", "red|colour|and"})), Rows{4});
  EXPECT_EQ(rows(clauses(shop, {"[10-40]|price|"})), (Rows{1, 2}));
}

// A row opens, through the link of its page, as a table of its columns,
// escaped, with the way back; the answers for programs carry the link too,
// and JSON names each column of the row.
TEST_F(FieldSearchTest, RowViewShowsItsColumns) {
  inst_->write("tables/marks.csv", "name,note\n<b>bold</b>,a & b\nplain,x\n");
  const std::string request = "user=TESSERA&" + clauses(build("tables/marks.csv"), {"bold|name|"});
  const std::string page = inst_->get(request).out;
  const size_t at = page.find("href=\"getfilelist.exe?") + 22;
  std::string link = page.substr(at, page.find('"', at) - at);
  for (size_t amp; (amp = link.find("&amp;")) != std::string::npos;)
    link.replace(amp, 5, "&");
  ASSERT_NE(std::string::npos, link.find("&view=1&")) << page;
  const RunResult row = inst_->run("search-cgi/getfilelist.exe", {},
                                   {{"REQUEST_METHOD", "GET"}, {"QUERY_STRING", link}});
  EXPECT_EQ(std::string::npos, row.out.find("Status:")) << row.out;
  EXPECT_NE(std::string::npos,
            row.out.find("<tr><th scope=\"row\">name</th><td>&lt;b&gt;bold&lt;/b&gt;</td></tr>\n"
                         "<tr><th scope=\"row\">note</th><td>a &amp; b</td></tr>"))
      << row.out;
  EXPECT_NE(std::string::npos, row.out.find("Back to the results"));
  EXPECT_NE(std::string::npos, inst_->get("xml=1&" + request).out.find("<view>getfilelist.exe?"));
  EXPECT_NE(std::string::npos, inst_->get("format=json&" + request).out.find("\"view\":\"getfile"));
  // A program reading JSON gets each row with its column names.
  const RunResult json = inst_->get("user=TESSERA&format=json&" + clauses(id_, {"pie|name|"}));
  ASSERT_EQ(0, json.exitStatus) << json.out;
  EXPECT_NE(std::string::npos,
            json.out.find("\"fields\":[{\"name\":\"name\",\"value\":\"apple pie\"},{\"name\":"
                          "\"section\",\"value\":\"dessert\"},{\"name\":\"version\",\"value\":"
                          "\"3.1\"},{\"name\":\"size\",\"value\":\"40\"}]"))
      << json.out;
}

// The page names each clause, in HTML and JSON, whatever query came beside
// them; its form leaves the clauses out, so that a typed query is searched.
TEST_F(FieldSearchTest, PageNamesEachClauseAndItsFormSearchesTheTypedQuery) {
  const std::string request =
      "user=TESSERA&query=banana&" +
      clauses(id_, {"[5-12]|size|", "vegetable|section|and", "carrot|name|!"});
  const RunResult page = inst_->get(request);
  EXPECT_NE(std::string::npos,
            page.out.find("for size <b>[5-12]</b> and section <b>vegetable</b> not name "
                          "<b>carrot</b>"))
      << page.out;
  // The index was searched once, for the row found.
  EXPECT_NE(std::string::npos, page.out.find("<li>" + id_ + " - 1 hit</li></ul>"));
  const size_t form = page.out.find("<form class=\"search\"");
  const std::string formText = page.out.substr(form, page.out.find("</form>", form) - form);
  EXPECT_NE(std::string::npos, formText.find("name=\"query\" value=\"\"")) << formText;
  EXPECT_EQ(std::string::npos, formText.find("m_")) << formText;
  const RunResult json = inst_->get("format=json&" + request);
  EXPECT_NE(std::string::npos, json.out.find("\"typed\":\"[5-12],vegetable,carrot\"")) << json.out;
  EXPECT_NE(std::string::npos,
            json.out.find("\"fields\":[{\"op\":null,\"field\":\"size\",\"value\":\"[5-12]\"},"
                          "{\"op\":\"and\",\"field\":\"section\",\"value\":\"vegetable\"},"
                          "{\"op\":\"not\",\"field\":\"name\",\"value\":\"carrot\"}]"));
  EXPECT_NE(std::string::npos, inst_->get("xml=1&" + request)
                                   .out.find("<fields><field name=\"size\">[5-12]</field><field "
                                             "op=\"and\" name=\"section\">vegetable</field>"));
  // Clauses of no column of the index leave the query to be searched.
  const RunResult plain = inst_->get("user=TESSERA&query=banana&" + clauses(id_, {"a|colour|"}));
  EXPECT_NE(std::string::npos, plain.out.find("for <b>banana</b>")) << plain.out;
}

}  // namespace
