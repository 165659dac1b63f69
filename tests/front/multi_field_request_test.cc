/// @file multi_field_request_test.cc
/// @brief The clauses a multi-field request yields, and the requests it
/// refuses before anything is searched.

#include "front/multi_field_request.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "cgi/cgi_string_parser.h"
#include "front/older_front.h"
#include "system/column_mapping.h"
#include "system/layout.h"
#include "tests/test_util.h"

namespace {

const std::string S("\x12\x13\x14", 3);

class MultiFieldRequestTest : public ::testing::Test {
 protected:
  int read(std::map<std::string, std::string> vars) {
    vars_ = std::move(vars);
    list_.clear();
    clauses_.clear();
    joined_.clear();
    MultiFieldIndex index;
    index.entry = {"10.0.0.5", "alice", "db1", "20001", "Fruit", "db"};
    index.columns = [](const char* name) -> int32_t {
      const std::map<std::string, int32_t> columns = {{"name", 1}, {"price", 2}, {"wide", 16384}};
      auto it = columns.find(name);
      return it == columns.end() ? -1 : it->second;
    };
    const CgiVariableLookup cgi = [this](const std::string& name) -> const char* {
      auto it = vars_.find(name);
      return it == vars_.end() ? nullptr : it->second.c_str();
    };
    return readMultiFieldClauses(cgi, index, list_, clauses_, joined_);
  }

  std::map<std::string, std::string> vars_;
  VelaSearchListVector list_;
  SearchMultiIndexVector clauses_;
  std::string joined_;
};

TEST_F(MultiFieldRequestTest, ClausesWithAQueryAndAKnownColumnAreBuilt) {
  ASSERT_EQ(3, read({{"MultiDBFieldCount", "5"},
                     {"m_query_1", "apple"},
                     {"m_field_1", "name"},
                     {"m_query_2", ""},  // no query: left out
                     {"m_query_3", "[5-10]"},
                     {"m_field_3", "price"},
                     {"m_op_3", "|"},
                     {"m_query_4", "pear;\x01x"},
                     {"m_type_4", "title"},
                     {"m_query_5", "plum"},
                     {"m_field_5", "colour"},  // the mapping lacks it
                     {"m_query_6", "beyond the count"}}));
  EXPECT_EQ(joined_, "apple,[5-10],pear  x");
  ASSERT_EQ(list_.size(), 3u);
  EXPECT_EQ(clauses_[0].m_sbf_string, "N" + S + "1" + S);
  EXPECT_EQ(clauses_[1].m_sbf_string, "N" + S + "2" + S);
  EXPECT_EQ(clauses_[1].m_operator, "or");
  EXPECT_EQ(clauses_[2].m_sbf_string, "00000");
  EXPECT_EQ(clauses_[2].m_property, 1);
  EXPECT_EQ(list_[0].m_digit_field, 1);
  EXPECT_EQ(list_[1].m_digit_field, 2);
  EXPECT_EQ(list_[2].m_digit_field, -1);
  for (const velaSearchList& e : list_) {
    EXPECT_EQ(e.idxName + e.ipAddr + e.sbfString, "db110.0.0.5 ");
    EXPECT_EQ(e.m_match, -1);
  }
}

TEST_F(MultiFieldRequestTest, HostileCountsAndFieldsAreRefusedBeforeAnySearch) {
  EXPECT_EQ(kMultiFieldNotAsked, read({{"m_query_1", "apple"}}));
  for (const char* count : {"", "-1", "257", "3x", " 2", "99999999999999999999"}) {
    EXPECT_EQ(kMultiFieldRefused, read({{"MultiDBFieldCount", count}, {"m_query_1", "a"}}))
        << count;
    EXPECT_TRUE(list_.empty() && clauses_.empty());
  }
  EXPECT_EQ(0, read({{"MultiDBFieldCount", "0"}, {"m_query_1", "a"}}));
  std::map<std::string, std::string> many = {{"MultiDBFieldCount", "256"}};
  for (int i = 1; i <= 257; ++i)
    many["m_query_" + std::to_string(i)] = "q";
  EXPECT_EQ(256, read(many));
  // A column numbered beyond the field numbers never reaches a bitmap.
  EXPECT_EQ(0, read({{"MultiDBFieldCount", "1"}, {"m_query_1", "a"}, {"m_field_1", "wide"}}));
  // A long query is cut.
  ASSERT_EQ(1, read({{"MultiDBFieldCount", "1"}, {"m_query_1", std::string(5000, 'q')}}));
  EXPECT_EQ(clauses_[0].m_query_term.size(), kMultiFieldQueryMax);
}

TEST(MultiPropertySearch, TheIndexComesFromItsIdFileAndItsColumnMapping) {
  testutil::TempDir root;
  const std::string cgiDir = testutil::makeInstallSkeleton(root.path());
  testutil::writeFile(root.sub("setting/system_info.cfg"),
                      "SYSTEM_DIRECTORY=" + root.sub("system") + "\n");
  testutil::writeFile(root.sub("host_address"), "10.0.0.5\n");
  std::string id(152, '\0');
  id.replace(0, 3, "db1");
  id.replace(8, 5, "Fruit");
  id.replace(72, 5, "alice");
  id.replace(136, 2, "db");
  testutil::writeFile(root.sub("system/ref/db1.id"), id);
  testutil::ScopedCwd cwd(cgiDir);
  systemResetCaches();
  testutil::writeFile(ColumnMapping::columnMappingPath("alice", "db1"),
                      "db1,t.csv,1,name,text,1\ndb1,t.csv,2,price,number,2\n");
  auto build = [](const std::string& request, VelaSearchListVector& list) {
    CGIStringParser cgi;
    cgi.initialize(request.c_str());
    SearchMultiIndexVector clauses;
    std::string joined;
    return buildMultiPropertySearch(cgi, list, clauses, joined, 0, 3);
  };
  VelaSearchListVector list;
  EXPECT_EQ(2, build("MultiDBFieldCount=2&index_id=0A000005_db1$20001&m_query_1=a&m_field_1=price"
                     "&m_query_2=b",
                     list));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].owner + "/" + list[0].idxName + "/" + list[0].desc + "/" + list[0].dbType +
                "/" + list[0].ipAddr,
            "alice/db1/Fruit/db/10.0.0.5");
  EXPECT_EQ(list[0].m_digit_field, 2);
  EXPECT_EQ(2, build("MultiDBFieldCount=2&index_id=db1&m_query_1=a&m_query_2=b", list));
  for (const char* refused : {"MultiDBFieldCount=1&m_query_1=a",
                              "MultiDBFieldCount=1&index_id=0A000005_nothere&m_query_1=a",
                              "MultiDBFieldCount=1&index_id=0A000005_..%2Fref&m_query_1=a"}) {
    list.clear();
    EXPECT_EQ(kMultiFieldRefused, build(refused, list)) << refused;
    EXPECT_TRUE(list.empty());
  }
  EXPECT_EQ(kMultiFieldNotAsked, build("index_id=db1&m_query_1=a", list));

  // The threaded editions search it at the address and port their own
  // settings name.
  iniOptionTag ini;
  ini.query_server_ip = "10.0.0.9";
  ini.query_server_port = 30001;
  CGIStringParser cgi;
  cgi.initialize("MultiDBFieldCount=1&index_id=0A000005_db1&m_query_1=a");
  list.clear();
  SearchMultiIndexVector clauses;
  std::string joined;
  ASSERT_EQ(1, buildSearchMultiIndex(cgi, ini, list, clauses, joined, 0, 3));
  EXPECT_EQ(list[0].ipAddr + ":" + list[0].port + "/" + list[0].idxName, "10.0.0.9:30001/db1");
  systemResetCaches();
}

}  // namespace
