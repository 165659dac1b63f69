/// @file older_front_test.cc
/// @brief The threaded editions' request front: its settings, message table,
/// request rewrites, index list, query options and pages, where they differ
/// from the newer front.

#include "front/older_front.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "assemble/class_search.h"
#include "cgi/cgi_string_parser.h"
#include "front/query_option.h"
#include "system/delimiters.h"
#include "tests/test_util.h"

namespace {

TEST(OlderSettings, KeyValueLinesWithCommentsAndBlanks) {
  iniOptionTag ini;
  ini.readOptionText(
      "GET_SORT_CONTENT_TIME\t 2500  # ms\n"
      "MAX_SELECTED_SEARCH_INDEX 3\n"
      "MAX_RELTERM_COUNT\n"      // no value: ignored
      "# GET_REL_TERM_TIME 1\n"  // a comment
      "UNKNOWN_KEY 99\n"
      "MAX_RELTERM_COUNT 12abc\r\n");
  EXPECT_EQ(2500, ini.get_sort_content_time);
  EXPECT_EQ(10000, ini.get_rel_term_time);
  EXPECT_EQ(3, ini.max_selected_search_index);
  EXPECT_EQ(12, ini.max_relterm_count);
}

class OlderSettingsFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    testutil::writeFile(cgi + "/ts_ini_option.cfg", "MAX_SELECTED_SEARCH_INDEX 4\n");
    testutil::writeFile(cgi + "/db_interface.num", "20002\n");
    testutil::writeFile(cgi + "/host_address", "10.1.2.3 other words\n");
    testutil::writeFile(cgi + "/ts_query_server_port.cfg", "20001\n");
    testutil::writeFile(dir.sub("system/group/DomainName.txt"), "corp\r\nsecond line\n");
  }
  testutil::TempDir dir;
  std::string cgi = dir.sub("search-cgi");
};

TEST_F(OlderSettingsFiles, CompanionFilesFillTheSettings) {
  iniOptionTag ini;
  ASSERT_EQ(nullptr, ini.initialize(cgi + "/"));
  EXPECT_EQ(std::make_tuple(dir.path(), dir.path() + "/", std::string("127.0.0.1"), 20002,
                            std::string("10.1.2.3"), 20001, std::string("corp"), 4),
            std::make_tuple(ini.tmpParentPath, ini.ts2000_root, ini.privilege_server_ip,
                            ini.privilege_server_port, ini.query_server_ip, ini.query_server_port,
                            ini.domain_name, ini.max_selected_search_index));
}

TEST_F(OlderSettingsFiles, MissingFileOrEmptySettingEndsTheRun) {
  const struct {
    const char* file;
    const char* content;  // null: removed
    const char* code;
  } cases[] = {
      {"search-cgi/ts_ini_option.cfg", nullptr, "0001"},
      {"search-cgi/host_address", nullptr, "0001"},
      {"system/group/DomainName.txt", nullptr, "0001"},
      {"search-cgi/db_interface.num", "0\n", "0003"},
      {"search-cgi/ts_query_server_port.cfg", "none\n", "0003"},
      {"system/group/DomainName.txt", "\n", "0003"},
      {"search-cgi/ts_ini_option.cfg", "GET_REL_TERM_TIME 0\n", "0003"},
  };
  for (const auto& c : cases) {
    SetUp();
    if (c.content)
      testutil::writeFile(dir.sub(c.file), c.content);
    else
      std::remove(dir.sub(c.file).c_str());
    iniOptionTag ini;
    const char* code = ini.initialize(cgi);
    EXPECT_STREQ(c.code, code ? code : "none") << c.file;
  }
}

TEST(OlderMessages, KeysBeginTheLineAndCoverBothRanges) {
  msgTableTag table;
  table.readText(
      "VALUE_0001 first\n"
      "VALUE_0035\t \tlast of the low range\n"
      "VALUE_1041 an older code\n"
      "VALUE_1077 last of the high range\r\n"
      "  VALUE_0006 not at the start\n"
      "VALUE_0036 outside the table\n"
      "VALUE_1001\n");
  EXPECT_EQ("first", table.value("0001"));
  EXPECT_EQ("last of the low range", table.value("0035"));
  EXPECT_EQ("an older code", table.value("1041"));
  EXPECT_EQ("last of the high range", table.value("1077"));
  for (const char* key : {"0006", "0036", "1001", "1078", "x001"})
    EXPECT_EQ("", table.value(key)) << key;
  EXPECT_EQ("", table.value(nullptr));
}

TEST(OlderLanguage, FirstWordOfTheEncodingFile) {
  testutil::TempDir dir;
  const std::string path = dir.sub("DB_ENCODE");
  const struct {
    const char* text;
    int language;
  } cases[] = {{"Big5\n", 0}, {"SJIS extra\n", 1}, {"  GB2312", 2}, {"EUC\n", 0}, {"", 0}};
  for (const auto& c : cases) {
    testutil::writeFile(path, c.text);
    EXPECT_EQ(c.language, verifyLanguage(path.c_str())) << c.text;
  }
  EXPECT_EQ(-1, verifyLanguage(dir.sub("missing").c_str()));
}

TEST(OlderRequest, Rewrites) {
  // Decoding takes every escape but an unfinished one.
  EXPECT_EQ("a b&c", decodeCGIString("a%20b%26c"));
  EXPECT_EQ("100%", decodeCGIString("100%"));
  EXPECT_EQ("%4", decodeCGIString("%4"));
  EXPECT_EQ(std::string("x\x12y", 3), decodeCGIString("x%12y"));
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"query=a&search_no=1", "query=a&search_no=1"},
      {"queryString=query%3Dapple%26search_no%3D0", "query=apple&search_no=0"},
      {"refineString=x=query%3Db", "x=query=b"},
      {"linkString", ""},
      {"wml_index=idx7&search_no=1",
       "wml_index=idx7&search_no=1&database=127.0.0.1%12%13%14root%12%13%14idx7%12%13%14"
       "20001%12%13%14idx7%12%13%14proxy%12%13%14"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.out, appendWmlIndexDatabase(unwrapOlderRequest(c.in))) << c.in;
}

// An index list entry as one line: host, owner, index, description, type.
std::string fieldsOf(const velaSearchList& e) {
  return e.ipAddr + "|" + e.owner + "|" + e.idxName + "|" + e.desc + "|" + e.dbType;
}

TEST(OlderRequest, DatabaseVariablesBecomeTheIndexList) {
  CGIStringParser cgi;
  cgi.initialize(
      "database=127.0.0.1:80%12%13%14ann%12%13%14idx1%12%13%14%12%13%14Ann+docs%12%13%14doc%12%13%"
      "14"
      "&search_no=0"
      "&database=10.0.0.9%12%13%14bob%12%13%14idx2"  // short but searchable
      "&database=%12%13%14bob%12%13%14idx3"          // no host
      "&database=10.0.0.9%12%13%14bob");             // no index
  VelaSearchListVector list;
  ASSERT_EQ(2, buildDatabaseList(cgi, list));
  EXPECT_EQ("127.0.0.1|ann|idx1|Ann docs|doc", fieldsOf(list[0]));
  EXPECT_EQ("10.0.0.9|bob|idx2||", fieldsOf(list[1]));
}

queryOptionTag olderOptions(const std::string& request, int language, const char** failure) {
  CGIStringParser cgi;
  cgi.initialize(request.c_str());
  queryOptionTag options;
  options.initialize(cgi, language);
  *failure = applyOlderQueryOptions(cgi, language, options);
  return options;
}

TEST(OlderQueryOptions, DifferFromTheNewerOnes) {
  const char* failure = nullptr;
  queryOptionTag o =
      olderOptions("all_file=on&match=exact&output=Compact&match_type=NONE", 0, &failure);
  EXPECT_EQ(nullptr, failure);
  EXPECT_EQ(0, o.fgSearchDate);
  EXPECT_EQ(0, o.fgMatchMode);
  EXPECT_EQ(-2, o.outputMode);  // only the long names count
  EXPECT_EQ(0, o.matchType);
  o = olderOptions("all_file=on&match=fuzzy&output=Standard+Output&match_type=MATCH_CSV", 0,
                   &failure);
  EXPECT_EQ(1, o.fgMatchMode);
  EXPECT_EQ(1, o.outputMode);
  EXPECT_EQ(10, o.matchType);
  o = olderOptions("all_file=on&similar_keyword_option=1&api=1&version=2", 0, &failure);
  EXPECT_EQ(0, o.similar_keyword_option);
  EXPECT_EQ(0, o.api_version);
  // Japanese: a present "match" is decided by the query's kana.
  o = olderOptions("all_file=on&match=exact&query=abc", 1, &failure);
  EXPECT_EQ(1, o.fgMatchMode);
  o = olderOptions("all_file=on&match=on&query=%82%A0", 1, &failure);  // hiragana "a"
  EXPECT_EQ(0, o.fgMatchMode);
}

TEST(OlderQueryOptions, DateWindowIsOnUnlessAllFilesAreAsked) {
  testutil::ScopedEnv tz("TZ", "UTC");
  tzset();
  const char* failure = nullptr;
  const std::string dates =
      "begin_year=2020&begin_month=1&begin_day=2&end_year=2020&end_month=1&end_day=3";
  queryOptionTag o = olderOptions(dates + "&part_file=off", 0, &failure);
  EXPECT_EQ(nullptr, failure);
  EXPECT_EQ(1, o.fgSearchDate);
  EXPECT_EQ(1577923200, o.beginTime);
  EXPECT_EQ(1578009600 + 86399, o.endTime);
  olderOptions("begin_year=2020&begin_month=1&begin_day=x", 0, &failure);
  EXPECT_STREQ("Convert search start time fails", failure);
  olderOptions("begin_year=2020&begin_month=1&begin_day=2", 0, &failure);
  EXPECT_STREQ("Convert search end time fails", failure);
}

// A class answer: index records (host, owner, description, name, port, type,
// status, unused, uid), the class part, the end mark.
std::string classAnswer() {
  const std::string f = kFieldDelim, e = kGroupEndDelim;
  auto index = [&](const char* owner, const char* name, const char* status) {
    return std::string("127.0.0.1") + f + owner + f + "Notes & more" + f + name + f + "20001" + f +
           "doc" + f + status + f + f + "U-" + name + e;
  };
  return index("ann", "idx1", "0") + index("bob", "idx2", "2") + index("cy", "idx3", "1009") +
         kValueDelim + "Docs" + f + "D1" + e + kCommandEndDelim;
}

struct ClassCase {
  const char* name;
  std::string request;
  std::string answer;   // what the server answers; "" fails the exchange
  const char* command;  // what it is asked (word, owner, class), "" nothing
  OlderClassOutcome::Kind kind;
};

iniOptionTag privilegeServerSettings() {
  iniOptionTag ini;
  ini.privilege_server_ip = "127.0.0.1";
  ini.privilege_server_port = 20002;
  return ini;
}

TEST(OlderClassSearch, AsksThePrivilegeServerAndRewritesTheRequest) {
  const iniOptionTag ini = privilegeServerSettings();
  const ClassCase cases[] = {
      {"by name", "query=a&database=old&class_name=My%20Docs&owner=ann", classAnswer(),
       "GET_CLASS_READ_BY_NAME|ann|My Docs", OlderClassOutcome::kRewritten},
      {"empty name: by uid", "class_name=&class_uid=D1&owner=ann&database=old", classAnswer(),
       "GET_CLASS_READ|ann|D1", OlderClassOutcome::kRewritten},
      {"no class search", "class_name=NONE_CLASS_SEARCH&owner=ann&database=old", classAnswer(), "",
       OlderClassOutcome::kNone},
      {"no owner", "class_name=Docs&database=old", classAnswer(), "", OlderClassOutcome::kNone},
      {"unknown class", "class_uid=X&owner=ann",
       std::string("Can't find class X") + kCommandEndDelim, "GET_CLASS_READ|ann|X",
       OlderClassOutcome::kNotFound},
      {"server down", "class_uid=X&owner=ann", "", "GET_CLASS_READ|ann|X",
       OlderClassOutcome::kFailed},
      {"answer cut short", "class_uid=X&owner=ann", classAnswer().substr(0, 40),
       "GET_CLASS_READ|ann|X", OlderClassOutcome::kFailed},
      {"class holding a delimiter", "class_uid=%18%19%1A&owner=ann", classAnswer(), "",
       OlderClassOutcome::kFailed},
  };
  for (const ClassCase& c : cases) {
    std::string asked;
    const ClassExchange server = [&](const std::string& host, int port, const std::string& command,
                                     std::string& answer) {
      asked = host + ":" + std::to_string(port) + " " + command;
      answer = c.answer;
      return !c.answer.empty();
    };
    std::string text = c.request;
    const OlderClassOutcome outcome = rewriteOlderClassRequest(text, ini, server);
    EXPECT_EQ(c.kind, outcome.kind) << c.name;
    std::string expected = c.command;
    if (!expected.empty()) {
      std::string bytes = "127.0.0.1:20002 ";
      for (char ch : expected)
        bytes += ch == '|' ? std::string(kCommandWordDelim) : std::string(1, ch);
      expected = bytes + kCommandEndDelim;
    }
    EXPECT_EQ(expected, asked) << c.name;
    if (c.kind != OlderClassOutcome::kRewritten) {
      EXPECT_EQ(c.request, text) << c.name;
    }
  }
}

TEST(OlderClassSearch, RewrittenRequestListsTheUsableIndexes) {
  const iniOptionTag ini = privilegeServerSettings();
  const ClassExchange server = [](const std::string&, int, const std::string&,
                                  std::string& answer) {
    answer = classAnswer();
    return true;
  };
  std::string text = "database=old1&query=a&class_name=Docs&owner=ann&database=old2";
  ASSERT_EQ(OlderClassOutcome::kRewritten, rewriteOlderClassRequest(text, ini, server).kind);
  EXPECT_EQ(0u, text.find("query=a&class_name=Docs&owner=ann&database=")) << text;
  EXPECT_EQ(std::string::npos, text.find("old")) << text;
  CGIStringParser cgi;
  cgi.initialize(text.c_str());
  VelaSearchListVector list;
  ASSERT_EQ(2, buildDatabaseList(cgi, list));  // bob's index has status 2
  EXPECT_EQ("127.0.0.1|ann|idx1|Notes & more|doc", fieldsOf(list[0]));
  EXPECT_EQ("20001", list[0].port);
  EXPECT_EQ("idx3", list[1].idxName);
}

TEST(OlderPages, HtmlAndXmlByLanguage) {
  testutil::TempDir dir;
  testutil::writeFile(dir.sub("template/msg_header.html"), "<HEAD>");
  testutil::writeFile(dir.sub("template/msg_footer.html"), "<FOOT>");
  testutil::makeDirs(dir.sub("cgi"));
  testutil::ScopedCwd cwd(dir.sub("cgi"));
  EXPECT_EQ("Content-type:text/html\n\n<HEAD><span class=\"black_16\">\nno index\n</span><FOOT>",
            testutil::captureStdout([] { monitorReport(stdout, 0, "no index"); }));
  const std::string jp = testutil::captureStdout([] { monitorReport(stdout, 1, "m"); });
  EXPECT_NE(std::string::npos, jp.find("charset=shift_jis"));
  EXPECT_NE(std::string::npos, jp.find("<h2>\nm\n</h2>"));
  EXPECT_EQ(std::string::npos, jp.find("<HEAD>"));
  EXPECT_EQ(
      "Content-type:text/xml\n\n<?xml version=\"1.0\" encoding=\"BIG5\"?>\n"
      "<search_result>\n<message type=\"0\">\n<![CDATA[a]]]]><![CDATA[>b]]></message>\n"
      "</search_result>\n",
      testutil::captureStdout([] { monitorXMLReport(stdout, 0, "a]]>b"); }));
  const std::string gb = testutil::captureStdout([] { monitorXMLReport(stdout, 2, "x"); });
  EXPECT_EQ(std::string::npos, gb.find("<?xml"));
}

}  // namespace
