/// @file query_option_test.cc
/// @brief The query options read from a request: options, the date window, the
/// query text rules and field limits; the clauses a multi-field request
/// yields, and the requests it refuses before anything is searched; and the
/// query rewrites, the engine's query term, the merge of reported queries and
/// the administrator's half-to-full table.

#include "front/query_option.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <initializer_list>
#include <map>
#include <memory>
#include <string>

#include "cgi/cgi_string_parser.h"
#include "cgi/conversion_hooks.h"
#include "front/multi_field_request.h"
#include "front/older_front.h"
#include "front/query_normalize.h"
#include "system/column_mapping.h"
#include "system/layout.h"
#include "system/strings.h"
#include "tests/test_util.h"

namespace {

// Sets TZ for the life of the object so local midnight is known.
struct ScopedTimeZone {
  struct Reload {
    ~Reload() { tzset(); }
  } reload;  // destroyed after env, once TZ is restored
  testutil::ScopedEnv env;
  explicit ScopedTimeZone(const char* tz) : env("TZ", tz) { tzset(); }
};

queryOptionTag optionsOf(const std::string& request, int language = 0) {
  CGIStringParser cgi;
  cgi.initialize(request.c_str());
  queryOptionTag option;
  option.initialize(cgi, language);
  return option;
}

TEST(QueryOption, NumberAndKeywordOptions) {
  const struct {
    const char* request;
    int queryOptionTag::*field;
    int expected;
  } rows[] = {
      {"chinese=ON", &queryOptionTag::fgChinese, 0},  // keywords are case-sensitive
      {"thesaurus=on", &queryOptionTag::fgThesaurus, 1},
      {"match=fuzzy", &queryOptionTag::fgMatchMode, 1},
      {"output=Compact+Output", &queryOptionTag::outputMode, 0},
      {"output=compact", &queryOptionTag::outputMode, 1},  // unknown: the default stays
      {"no_rec=+7x", &queryOptionTag::numRec, 7},
      {"no_rec=abc", &queryOptionTag::numRec, 0},
      {"no_rec=99999999999", &queryOptionTag::numRec, INT_MAX},
      {"no_rec=5&no_rec=50", &queryOptionTag::numRec, 5},  // the first counts
      {"match_type=MATCH_CSV", &queryOptionTag::matchType, 10},
      {"similar_keyword_option=off", &queryOptionTag::similar_keyword_option, 0},
      {"outcgipage=", &queryOptionTag::output_cgi_page, 0},
      // The API switch overrides "xml"; "version" counts only with it.
      {"xml=0&api=1", &queryOptionTag::xml_format, 1},
      {"xml=0&api=1&version=3", &queryOptionTag::api_version, 3},
      {"api=1&version=2", &queryOptionTag::api_version, 2},
      {"api=2&xml=2&version=2", &queryOptionTag::xml_format, 2},
      {"version=2", &queryOptionTag::api_version, 0},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.expected, optionsOf(row.request).*row.field) << row.request;
  }
}

TEST(QueryOption, PropertySearchSwitchesMatchedTextOff) {
  const struct {
    const char* request;
    int property;
    int match_type;
  } rows[] = {
      {"filenamesearch=none&match_type=MATCH_WORD", kPropNone, 1},
      {"filenamesearch=keyword", kPropKeyword, 0},
      {"filenamesearch=Title", kPropNone, 2},
      {"match_type=MATCH_WORD&filenamesearch=title", kPropTitle, 0},
      {"query=_DATE_RANGE_SEARCH_&match_type=MATCH_CSV", kPropDateRange, 0},
      {"query=_DATE_RANGE_SEARCH_+", kPropNone, 2},
  };
  for (const auto& row : rows) {
    const queryOptionTag option = optionsOf(row.request);
    EXPECT_EQ(row.property, option.file_name_search) << row.request;
    EXPECT_EQ(row.match_type, option.matchType) << row.request;
  }
}

TEST(QueryOption, TextsAreCutToTheirFields) {
  const std::string longText(7000, 'x');
  const queryOptionTag option =
      optionsOf("query=" + longText + "&begin_file=" + longText + "&end_file=" + longText +
                "&sort=" + longText + "&order=ascending");
  EXPECT_EQ(std::string(6143, 'x'), option.orgQuery);
  EXPECT_EQ(std::string(1023, 'x'), option.beginFile);
  EXPECT_EQ(std::string(1023, 'x'), option.endFile);
  EXPECT_EQ(std::string(127, 'x'), option.sortField);
  EXPECT_STREQ("ascendi", option.sortOrder);
}

TEST(QueryOption, SemicolonsAndControlsBecomeBlanksOutsideDoubleByteCharacters) {
  const struct {
    const char* request;
    const char* query;
  } rows[] = {
      {"query=a;b", "a b"},
      {"query=;;", "  "},
      {"query=%81;x;", "\x81;x "},     // ";" as the second byte of a character
      {"query=%81%81;", "\x81\x81 "},  // that character ends before the ";"
      {"query=a;%81", "a \x81"},       // a lead byte at the very end
      // A line feed would end the engine's line and forge log lines.
      {"query=a%0Ab%0D%09c%7F%01", "a b  c  "},
      {"query=%81%0Ax", "\x81 x"},  // no character has a control code as its second byte
  };
  for (const auto& row : rows)
    EXPECT_STREQ(row.query, optionsOf(row.request).orgQuery) << row.request;
}

TEST(QueryOption, TypographicQuotesAndUtf8Characters) {
  const struct {
    int language;
    const char* typed;
    const char* searched;
  } rows[] = {
      {kLangEN, "\u201Cfree software\u201D", "\"free software\""},
      {kLangEN, "\u201Eein Wort\u201C \uFF02x\uFF02", "\"ein Wort\" \"x\""},
      {kLangEN, "\u4EC1;x\u20AC;", "\u4EC1 x\u20AC "},  // no ";" hides behind a character
      {kLangEN, "\xC3;\xC3\xBC;", "\xC3 \xC3\xBC "},    // nor behind a stray byte
      {kLangJP,
       "\x81\x67"
       "a b\x81\x68",
       "\"a b\""},
      {kLangJP, "\x88\x81\x68", "\x88\x81\x68"},  // "h" after a character ending in 0x81
      {kLangCH, "\xA1\xA7x\xA1\xA8", "\"x\""},
      {kLangGB, "\xA1\xB0x\xA1\xB1\xA3\xA2", "\"x\"\""},
      {kLangJP, "\u201C", "\u201C"},  // UTF-8 bytes are no Shift_JIS quote
  };
  for (const auto& row : rows) {
    char query[64];
    std::snprintf(query, sizeof query, "%s", row.typed);
    straightenTypographicQuotes(query, row.language);
    blankSemicolonsAndControls(query, row.language);
    EXPECT_STREQ(row.searched, query) << row.typed;
  }
}

// Turns the half-width katakana 0xB1 into its full-width pair; fails on "!".
bool fakeWidener(const char* text, size_t length, std::string& out) {
  out.clear();
  for (size_t i = 0; i < length; ++i)
    out += text[i] == '\xB1' ? std::string("\x83\x41") : std::string(1, text[i]);
  return out.find('!') == std::string::npos;
}

TEST(QueryOption, JapaneseQueriesAreWidenedBeforeSemicolonsGo) {
  // Every byte from 0x80 up is taken as the lead byte of a pair, so the ";"
  // after the half-width kana stays until widening makes the kana a pair.
  EXPECT_STREQ("\xB1;a", optionsOf("query=%B1;a", 1).orgQuery);  // no widener installed
  setHalfWidthKanaWidener(fakeWidener);
  EXPECT_STREQ("\x83\x41 a", optionsOf("query=%B1;a", 1).orgQuery);
  EXPECT_STREQ("\xB1;a", optionsOf("query=%B1;a", 0).orgQuery);    // not Japanese
  EXPECT_STREQ("\xB1;! ", optionsOf("query=%B1;!;", 1).orgQuery);  // widening failed
  // A query in a declared encoding waits for its conversion: UTF-8 bytes
  // are no katakana.
  queryOptionTag declared = optionsOf("query=%B1;a&query_encoding=UTF-8", 1);
  EXPECT_STREQ("\xB1;a", declared.orgQuery);
  declared.applyLocalQueryRules(1);
  EXPECT_STREQ("\x83\x41 a", declared.orgQuery);
  // Widening may lengthen the query past its field.
  EXPECT_EQ(6143u, std::strlen(optionsOf("query=" + std::string(4000, '\xB1'), 1).orgQuery));
  setHalfWidthKanaWidener(nullptr);
}

constexpr int32_t k2005July1 = 1120176000;
constexpr int32_t kDay = 86400;

TEST(QueryOption, DateWindow) {
  ScopedTimeZone utc("UTC0");
  const std::string july1 = "&begin_year=2005&begin_month=7&begin_day=1";
  constexpr int ok = kDateWindowOk, badBegin = kDateWindowBadBegin, badEnd = kDateWindowBadEnd,
                reversed = kDateWindowReversed;
  const struct {
    std::string request;
    int on;
    int32_t begin, end;
    int problem;  // what the run says instead of searching without the window
  } rows[] = {
      {"part_file=On" + july1, 0, 0, 0, ok},
      {"all_file=&part_file=on" + july1, 0, 0, 0, ok},  // all_file decides when it is there
      {"all_file=off&part_file=off" + july1, 1, k2005July1, k2005July1 + kDay, ok},
      {"part_file=on" + july1 + "&end_year=2005&end_month=7&end_day=20", 1, k2005July1,
       k2005July1 + 20 * kDay, ok},
      // Without a complete begin date there is no window; a complete end is still read.
      {"part_file=on&begin_year=2005&begin_day=1&end_year=2005&end_month=7&end_day=20", 0, 0,
       k2005July1 + 20 * kDay, badBegin},
      {"part_file=on" + july1 + "&end_month=-1", 0, k2005July1, 0, badEnd},
      {"part_file=on" + july1 + "&end_year=2005&end_month=6&end_day=30", 0, k2005July1, k2005July1,
       reversed},
      {"part_file=on&begin_year=x&begin_month=7&begin_day=1", 0, 0, 0, badBegin},
      // A day or month outside the calendar is no date: carried over, month 13
      // made a window "reversed".
      {"part_file=on&begin_year=2005&begin_month=7&begin_day=0", 0, 0, 0, badBegin},
      {"part_file=on&begin_year=2024&begin_month=13&begin_day=1&end_year=2024&end_month=12&end_day="
       "31",
       0, 0, 1735689600, badBegin},
      {"part_file=on&begin_year=2023&begin_month=2&begin_day=29", 0, 0, 0, badBegin},
      {"part_file=on&begin_year=2024&begin_month=2&begin_day=29", 1, 1709164800, 1709164800 + kDay,
       ok},
      {"part_file=on" + july1 + "&end_year=2005&end_month=13&end_day=1", 0, k2005July1, 0, badEnd},
      // Date fields left empty leave their end of the window open.
      {"part_file=on" + july1 + "&end_year=&end_month=&end_day=", 1, k2005July1, INT32_MAX, ok},
      {"part_file=on&begin_year=&begin_month=&begin_day=&end_year=2005&end_month=7&end_day=20", 1,
       1, k2005July1 + 20 * kDay, ok},
      {"part_file=on&begin_year=&begin_month=&begin_day=&end_year=&end_month=&end_day=", 0, 0, 0,
       ok},
      {"part_file=on", 0, 0, 0, ok},
      {"part_file=on" + july1 + "&end_year=2005&end_month=&end_day=", 0, k2005July1, 0, badEnd},
      // Dates outside signed 32-bit time switch the window off.
      {"part_file=on&begin_year=1800&begin_month=1&begin_day=1", 0, 0, 0, badBegin},
      {"part_file=on&begin_year=2100&begin_month=1&begin_day=1", 0, 0, 0, badBegin},
      {"part_file=on&begin_year=-2147483648&begin_month=-2147483648&begin_day=1", 0, 0, 0,
       badBegin},
      // The window of the last representable day ends where 32-bit time does.
      {"part_file=on&begin_year=2038&begin_month=1&begin_day=19", 1, 2147472000, INT32_MAX, ok},
  };
  for (const auto& row : rows) {
    const queryOptionTag option = optionsOf(row.request);
    EXPECT_EQ(row.on, option.fgSearchDate) << row.request;
    EXPECT_EQ(row.begin, option.beginTime) << row.request;
    EXPECT_EQ(row.end, option.endTime) << row.request;
    EXPECT_EQ(row.problem, option.dateWindowProblem) << row.request;
  }
}

TEST(ConvTimeStr2Num, LocalMidnightFollowsDaylightSavingAndExtremesFail) {
  ScopedTimeZone eastern("EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(k2005July1 + 4 * 3600, queryOptionTag::convTimeStr2Num(2005, 7, 1));
  EXPECT_EQ(1104537600 + 5 * 3600, queryOptionTag::convTimeStr2Num(2005, 1, 1));
  EXPECT_EQ(-1, queryOptionTag::convTimeStr2Num(2005, 7, -1));
  EXPECT_EQ(-1, queryOptionTag::convTimeStr2Num(INT_MIN, INT_MIN, INT_MIN));
  EXPECT_EQ(-1, queryOptionTag::convTimeStr2Num(INT_MAX, INT_MAX, INT_MAX));
}

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

using Rewrite = void (*)(char*, int);

// Runs a rewrite on a heap buffer of exactly kQuerySize bytes, so that the
// sanitizer sees any access past it.
std::string rewrite(Rewrite fn, const std::string& query, int language = kLangJP) {
  std::unique_ptr<char[]> buffer(new char[kQuerySize]);
  const size_t n = std::min(query.size(), static_cast<size_t>(kQuerySize) - 1);
  std::memcpy(buffer.get(), query.data(), n);
  buffer[n] = '\0';
  fn(buffer.get(), language);
  return std::string(buffer.get(), strnlen(buffer.get(), kQuerySize));
}

// True when `text` (of whole characters) does not end inside a Shift_JIS pair.
bool endsWhole(const std::string& text) {
  size_t i = 0;
  while (i < text.size())
    i += DBCSGetLen(static_cast<unsigned char>(text[i]), kLangJP);
  return i == text.size();
}

struct Row {
  int language;
  std::string in, expected;
};

void expectRows(Rewrite fn, std::initializer_list<Row> rows) {
  for (const Row& row : rows) {
    EXPECT_EQ(row.expected, rewrite(fn, row.in, row.language))
        << "language " << row.language << " input " << testing::PrintToString(row.in);
  }
}

// Every test starts in an installation without an administrator's table loaded.
class QueryNormalize : public testing::Test {
 protected:
  QueryNormalize() : cgi_(testutil::makeInstallSkeleton(dir_.path())), cwd_(cgi_) {
    resetH2FUserTable();
  }
  ~QueryNormalize() override { resetH2FUserTable(); }
  void writeUserTable(const std::string& text) {
    testutil::writeFile(dir_.sub("setting/h2f_user.txt"), text);
    resetH2FUserTable();
  }

  testutil::TempDir dir_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
};

const std::string kFullA = "\x82\x60", kFullB = "\x82\x61", kFullC = "\x82\x62";
const std::string kKanji = "\x88\x9F";

TEST_F(QueryNormalize, HalfToFullWidth) {
  const std::string jpCat = "\x82\x62\x82\x60\x82\x73", jpDog = "\x82\x63\x82\x6E\x82\x66";
  expectRows(changeQuery_H2F,
             {
                 {kLangJP, "abc 123", kFullA + kFullB + kFullC + " \x82\x50\x82\x51\x82\x52"},
                 {kLangJP, "cat and dog", jpCat + " and " + jpDog},
                 // Nothing after the operator: "and" is a word like any other.
                 {kLangJP, "cat and ", jpCat + " \x82\x60\x82\x6D\x82\x63 "},
                 {kLangJP, "\x82\x81\x82\x9A", "\x82\x60\x82\x79"},  // full-width a, z
                 {kLangJP, "\x83\x61", "\x83\x61"},                  // trail byte "a" of a pair
                 {kLangJP, "\xB1\x61", "\xB1\x82\x60"},  // half-width katakana is one byte
                 {kLangJP, "a\x88", "\x82\x60\x88"},     // a lead byte ending the text
                 {kLangCH, "a9", "\xA2\xCF\xA2\xB8"},
                 {kLangCH, "\xA2\xFE\xA3\x40\xA3\x43", "\xA2\xE4\xA2\xE5\xA2\xE8"},  // v, w, z
                 {kLangGB, "z0\xA3\xE1", "\xA3\xDA\xA3\xB0\xA3\xC1"},
                 {kLangEN, "abc 123", "abc 123"},
             });
}

TEST_F(QueryNormalize, UserTableReplacesOtherAsciiBytes) {
  char out[2];
  EXPECT_FALSE(changeQueryH2FByUserDefine('-', out));
  // The missing file was tried once: a later file is not read.
  testutil::writeFile(dir_.sub("setting/h2f_user.txt"), "-=XY\n");
  EXPECT_FALSE(changeQueryH2FByUserDefine('-', out));

  writeUserTable("# punctuation\n-=\x81\x7C\n?=\r\na=\x82\x80\n!x\x81\x49\n_=\x81\x51\r\n-=XY\n");
  // Letters are widened before the table is asked; the first entry counts.
  EXPECT_EQ(kFullA + "\x81\x7C" + kFullB + "?\x81\x51!", rewrite(changeQuery_H2F, "a-b?_!"));
  EXPECT_EQ("\x88\x2D", rewrite(changeQuery_H2F, "\x88\x2D"));  // a trail byte is no "-"

  // 100 entries at most; the tail of an over-long line is no entry.
  std::string table = "(=" + std::string(200, 'x') + ")=QQ\n";
  for (int i = 0; i < 98; ++i)
    table += "!=AB\n";
  writeUserTable(table + "}=EF\n~=CD\n");
  ASSERT_TRUE(changeQueryH2FByUserDefine('(', out));
  EXPECT_EQ("xx", std::string(out, 2));
  EXPECT_FALSE(changeQueryH2FByUserDefine(')', out));
  EXPECT_TRUE(changeQueryH2FByUserDefine('}', out));
  EXPECT_FALSE(changeQueryH2FByUserDefine('~', out));

  writeUserTable(testutil::readFile(SR_TEST_DATA_DIR "/../../site/setting/h2f_user.txt"));
  ASSERT_FALSE(testutil::readFile(dir_.sub("setting/h2f_user.txt")).empty());
  for (int c = 1; c < 0x80; ++c)
    EXPECT_FALSE(changeQueryH2FByUserDefine(c, out)) << "the shipped table replaces " << c;
}

TEST_F(QueryNormalize, BlanksAndOperators) {
  expectRows(changeQuery_Space, {
                                    {kLangJP, "a\x81\x40\x62\x81\x40", "a b "},
                                    {kLangJP, "\x88\x81\x40", "\x88\x81\x40"},  // 0x81 is a trail
                                    {kLangJP, "\x81", "\x81"},
                                    {kLangCH, "\xA1\x40", "\xA1\x40"},
                                });
  expectRows(
      changeQuery_DBCS_contact_bool,
      {
          {kLangJP, kKanji + "&" + kKanji + "|" + kKanji, kKanji + " & " + kKanji + " | " + kKanji},
          {kLangJP, "\xB1&\xB2", "\xB1 & \xB2"},  // half-width katakana count
          {kLangCH, "\xA4\x40|\xA4\x41", "\xA4\x40 | \xA4\x41"},
          {kLangJP, "a&" + kKanji + "&b&&" + kKanji + "+" + kKanji + "&",
           "a&" + kKanji + "&b&&" + kKanji + "+" + kKanji + "&"},
          {kLangJP, "\x88\x7C\x88\x9F", "\x88\x7C\x88\x9F"},  // "|" as a trail byte
      });
  expectRows(queryStringChangeSpaceToBool,
             {
                 {kLangJP, "  a   b and c or d  ", "a & b & c | d"},
                 {kLangJP, "a -b & c | d + e", "a -b&c|d+e"},
                 // A hyphen inside a word joins it; "-" at a word's start excludes.
                 {kLangJP, "GPL-3 license", "GPL-3 & license"},
                 {kLangJP, "a - b", "a -b"},
                 {kLangJP, "-x y", "-x & y"},
                 {kLangJP, "well-known -foo", "well-known -foo"},
                 {kLangJP, "a \"b c\" d", "a & b c & d"},
                 {kLangJP, "\"a & b\" c", "a & b & c"},
                 {kLangJP, "a AND band ore or", "a & AND & band & ore & or"},
                 {kLangJP, kKanji + " " + kKanji, kKanji + " & " + kKanji},
                 {kLangJP, "\x88\x7C b", "\x88\x7C & b"},  // "|" as a trail byte
                 {kLangJP, "", ""},
             });
}

TEST_F(QueryNormalize, RewritesStayInsideTheBuffer) {
  std::string pairs, blanks, words;
  while (pairs.size() < 6143)
    pairs += kKanji + "&";
  while (blanks.size() < 6142)
    blanks += "\x81\x40";
  while (words.size() < 6143)
    words += "a ";
  const struct {
    Rewrite fn;
    std::string in;
    size_t minLength;
  } rows[] = {
      {changeQuery_H2F, std::string(6143, 'a'), kH2FOutputMax},
      {changeQuery_H2F, "x" + std::string(6142, 'a'), kH2FOutputMax - 1},
      {changeQuery_DBCS_contact_bool, pairs, 6140},
      {changeQuery_DBCS_contact_bool, "a" + pairs, 6143},
      {changeQuery_DBCS_contact_bool, "aa" + pairs, 6142},
      {changeQuery_Space, blanks + "a", 3072},
      {queryStringChangeSpaceToBool, words, 6134},
  };
  for (const auto& row : rows) {
    const std::string out = rewrite(row.fn, row.in);
    EXPECT_LT(out.size(), static_cast<size_t>(kQuerySize));
    EXPECT_GE(out.size(), row.minLength);
    EXPECT_TRUE(endsWhole(out)) << testing::PrintToString(out.substr(out.size() - 4));
  }
  // The implicit AND cut keeps a prefix of the whole rewrite.
  const std::string anded = rewrite(queryStringChangeSpaceToBool, words);
  std::string expected = "a";
  while (expected.size() < anded.size())
    expected += " & a";
  EXPECT_EQ(expected.substr(0, anded.size()), anded);

  // A buffer without a terminator is read no further than its end, and
  // comes back terminated, also where a rewrite has nothing to do (the
  // half-to-full rewrite of an English installation; found by fuzzing).
  for (Rewrite fn : std::initializer_list<Rewrite>{changeQuery_H2F, changeQuery_Space,
                                                   changeQuery_DBCS_contact_bool,
                                                   queryStringChangeSpaceToBool}) {
    for (const auto& [fill, language] : {std::pair<char, int>{'\x82', kLangJP}, {'a', kLangEN}}) {
      std::unique_ptr<char[]> buffer(new char[kQuerySize]);
      std::memset(buffer.get(), fill, kQuerySize);
      fn(buffer.get(), language);
      EXPECT_LT(strnlen(buffer.get(), kQuerySize), static_cast<size_t>(kQuerySize)) << language;
    }
  }
}

TEST_F(QueryNormalize, HelpersOnDoubleByteText) {
  const char* text = "\x83\x5C\\";  // the trail byte of 0x83 0x5C is a backslash
  EXPECT_EQ(text + 2, findFirstChar(text, '\\', kLangJP));
  EXPECT_EQ(nullptr, findFirstChar("\x83\x5C", '\\', kLangJP));
  EXPECT_TRUE(isContainKH("x\x82\xA0"));      // hiragana a
  EXPECT_TRUE(isContainKH("\x83\x96"));       // small ke, the last katakana
  EXPECT_FALSE(isContainKH("\x88\x82\xA0"));  // 0x82 is a trail byte here
}

TEST_F(QueryNormalize, QueryTermForTheEngine) {
  const struct {
    int h2f, language;
    const char* query;
    std::string expected;
    bool applied;
  } rows[] = {
      {1, kLangJP, "ab\x81\x40", kFullA + kFullB + " ", true},
      {0, kLangJP, "a\x81\x40", "a ", true},
      {0, kLangCH, "a b", "a b", false},
      {1, kLangEN, "ab", "ab", false},
      {1, kLangGB, "a", "\xA3\xC1", true},
  };
  for (const auto& row : rows) {
    std::string out = "stale";
    EXPECT_EQ(row.applied, getUsedQueryTerm(row.query, out, row.h2f, row.language)) << row.query;
    EXPECT_EQ(row.expected, out) << row.query;
  }
  // An over-long term is cut to a query's size, whole characters only.
  std::string out;
  getUsedQueryTerm(("a" + std::string(7000, '\x88')).c_str(), out, 0, kLangJP);
  EXPECT_EQ(6143u, out.size());
  EXPECT_TRUE(endsWhole(out));
}

TEST_F(QueryNormalize, ReportedQueriesMerge) {
  const struct {
    const char *retQuery, *reported, *expected;
  } rows[] = {
      {"a,b", "b,c", "a,b,c"}, {"", "x", "x"},     {"a", "x,x", "a,x"},
      {"a,", "b", "a,,b"},     {"a,b", "", "a,b"}, {"A", "a", "A,a"},
  };
  char retQuery[kQuerySize];
  for (const auto& row : rows) {
    std::strcpy(retQuery, row.retQuery);
    addRetQuery(retQuery, row.reported, kLangJP);
    EXPECT_STREQ(row.expected, retQuery) << row.retQuery << " + " << row.reported;
  }
  // A term that is not the last is cut to 253 bytes; the last one is not.
  retQuery[0] = '\0';
  addRetQuery(retQuery, (std::string(300, 'a') + ",b," + std::string(300, 'c')).c_str(), kLangJP);
  EXPECT_EQ(std::string(253, 'a') + ",b," + std::string(300, 'c'), retQuery);

  // 24 pieces of 254 bytes fill 6096 bytes; 47 bytes of the 25th follow.
  std::string many;
  for (char c = 'A'; c < 'A' + 30; ++c)
    many += std::string(253, c) + ",";
  retQuery[0] = '\0';
  addRetQuery(retQuery, many.c_str(), kLangJP);
  ASSERT_EQ(6143u, std::strlen(retQuery));
  EXPECT_EQ(std::string(253, 'X') + ",", std::string(retQuery + 23 * 254, 254));
  EXPECT_EQ(std::string(47, 'Y'), std::string(retQuery + 24 * 254));

  // The last term is cut between characters, never inside one.
  std::string kanji = "z,";
  for (int i = 0; i < 3200; ++i)
    kanji += kKanji;
  retQuery[0] = '\0';
  addRetQuery(retQuery, kanji.c_str(), kLangJP);
  EXPECT_EQ(6142u, std::strlen(retQuery));
}

TEST_F(QueryNormalize, RunAppliesTheSwitchedOnRewrites) {
  testutil::writeFile(dir_.sub("setting/query.cfg"),
                      "CHANGE_SPACE_F2H=Yes\nCHANGE_DBCS_BOOL_TOKEN=Y\nCHANGE_SPACE_TO_BOOL=y\n");
  char query[kQuerySize];
  std::strcpy(query, ("a\x81\x40" + kKanji + "&" + kKanji).c_str());
  normaliseQuery(query, 1, "../setting/query.cfg", kLangJP);
  EXPECT_EQ(kFullA + " " + kKanji + " & " + kKanji, query);
  std::strcpy(query, "a\x81\x40\x62");
  normaliseQuery(query, 0, "../setting/missing.cfg", kLangJP);
  EXPECT_STREQ("a\x81\x40\x62", query);
}

}  // namespace
