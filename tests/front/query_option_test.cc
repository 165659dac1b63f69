/// @file query_option_test.cc
/// @brief The query options read from a request: every option, the date
/// window, the query text rewrites, limits and the debug dump.

#include "front/query_option.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "front/cgi_string_parser.h"
#include "front/conversion_hooks.h"
#include "tests/test_util.h"

namespace {

// Sets TZ for the life of the object so local midnight is known.
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz) : env_(std::make_unique<testutil::ScopedEnv>("TZ", tz)) {
    tzset();
  }
  ~ScopedTimeZone() {
    env_.reset();
    tzset();
  }

 private:
  std::unique_ptr<testutil::ScopedEnv> env_;
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
      {"chinese=on", &queryOptionTag::fgChinese, 1},
      {"chinese=ON", &queryOptionTag::fgChinese, 0},
      {"thesaurus=on", &queryOptionTag::fgThesaurus, 1},
      {"thesaurus=", &queryOptionTag::fgThesaurus, 0},
      {"match=on", &queryOptionTag::fgMatchMode, 1},
      {"match=fuzzy", &queryOptionTag::fgMatchMode, 1},
      {"match=exact", &queryOptionTag::fgMatchMode, 0},
      {"output=Compact+Output", &queryOptionTag::outputMode, 0},
      {"output=Compact", &queryOptionTag::outputMode, 0},
      {"output=Standard", &queryOptionTag::outputMode, 1},
      {"output=Standard+Output", &queryOptionTag::outputMode, 1},
      {"output=compact", &queryOptionTag::outputMode, 1},
      {"output=Compact+", &queryOptionTag::outputMode, 1},
      {"no_rec=25", &queryOptionTag::numRec, 25},
      {"no_rec=+7x", &queryOptionTag::numRec, 7},
      {"no_rec=-3", &queryOptionTag::numRec, -3},
      {"no_rec=abc", &queryOptionTag::numRec, 0},
      {"no_rec=99999999999", &queryOptionTag::numRec, INT_MAX},
      {"match_type=MATCH_LINE", &queryOptionTag::matchType, 2},
      {"match_type=MATCH_WORD", &queryOptionTag::matchType, 1},
      {"match_type=MATCH_CSV", &queryOptionTag::matchType, 10},
      {"match_type=NONE", &queryOptionTag::matchType, 0},
      {"match_type=match_word", &queryOptionTag::matchType, 2},
      {"sbf=12", &queryOptionTag::sbfRandomNo, 12},
      {"reltermoption=0", &queryOptionTag::relterm_output, 0},
      {"similar_keyword_option=off", &queryOptionTag::similar_keyword_option, 0},
      {"similar_keyword_option=on", &queryOptionTag::similar_keyword_option, 1},
      {"xml=2", &queryOptionTag::xml_format, 2},
      {"h2foption=1", &queryOptionTag::h2f_flag, 1},
      {"outcgino=20", &queryOptionTag::output_cgi_no, 20},
      {"outcgipage=3", &queryOptionTag::output_cgi_page, 3},
      {"outcgipage=", &queryOptionTag::output_cgi_page, 0},
      // The API switch overrides "xml"; "version" counts only with it.
      {"xml=0&api=1", &queryOptionTag::xml_format, 1},
      {"xml=0&api=1", &queryOptionTag::api_version, 3},
      {"api=1&version=2", &queryOptionTag::api_version, 2},
      {"api=1&version=3", &queryOptionTag::api_version, 3},
      {"api=2", &queryOptionTag::api_version, 0},
      {"api=2&xml=0", &queryOptionTag::xml_format, 0},
      {"version=2", &queryOptionTag::api_version, 0},
      // The first of repeated variables counts.
      {"no_rec=5&no_rec=50", &queryOptionTag::numRec, 5},
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
      {"filenamesearch=none", kPropNone, 2},
      {"filenamesearch=title", kPropTitle, 0},
      {"filenamesearch=subject", kPropSubject, 0},
      {"filenamesearch=company", kPropCompany, 0},
      {"filenamesearch=author", kPropAuthor, 0},
      {"filenamesearch=filename", kPropFilename, 0},
      {"filenamesearch=comment", kPropComment, 0},
      {"filenamesearch=keyword", kPropKeyword, 0},
      {"filenamesearch=Title", kPropNone, 2},
      {"filenamesearch=none&match_type=MATCH_WORD", kPropNone, 1},
      // Whatever the order of the variables.
      {"filenamesearch=title&match_type=MATCH_WORD", kPropTitle, 0},
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

  const queryOptionTag fits = optionsOf("sort=DB_price&order=asc&begin_file=a&end_file=m");
  EXPECT_STREQ("DB_price", fits.sortField);
  EXPECT_STREQ("asc", fits.sortOrder);
  EXPECT_STREQ("a", fits.beginFile);
  EXPECT_STREQ("m", fits.endFile);
}

TEST(QueryOption, SemicolonsBecomeBlanksOutsideDoubleByteCharacters) {
  const struct {
    const char* request;
    const char* query;
  } rows[] = {
      {"query=a;b", "a b"},           {"query=;;", "  "},
      {"query=%81;x;", "\x81;x "},     // ";" as the second byte of a character
      {"query=%81%81;", "\x81\x81 "},  // that character ends before the ";"
      {"query=a;%81", "a \x81"},       // a lead byte at the very end
  };
  for (const auto& row : rows)
    EXPECT_STREQ(row.query, optionsOf(row.request).orgQuery) << row.request;
}

// Turns the half-width katakana 0xB1 into its full-width pair; fails on "!".
bool fakeWidener(const char* text, size_t length, std::string& out) {
  out.clear();
  for (size_t i = 0; i < length; ++i) {
    if (text[i] == '!') return false;
    if (text[i] == '\xB1') {
      out += "\x83\x41";
    } else {
      out += text[i];
    }
  }
  return true;
}

class ScopedWidener {
 public:
  ScopedWidener() { setHalfWidthKanaWidener(fakeWidener); }
  ~ScopedWidener() { setHalfWidthKanaWidener(nullptr); }
};

TEST(QueryOption, JapaneseQueriesAreWidenedBeforeSemicolonsGo) {
  // Every byte from 0x80 up is taken as the lead byte of a pair, so the ";"
  // after the half-width kana stays until widening makes the kana a pair.
  EXPECT_STREQ("\xB1;a", optionsOf("query=%B1;a", 1).orgQuery);  // no widener installed
  ScopedWidener widener;
  EXPECT_STREQ("\x83\x41 a", optionsOf("query=%B1;a", 1).orgQuery);
  EXPECT_STREQ("\xB1;a", optionsOf("query=%B1;a", 0).orgQuery);    // not Japanese
  EXPECT_STREQ("\xB1;! ", optionsOf("query=%B1;!;", 1).orgQuery);  // widening failed
  // Widening may lengthen the query past its field.
  const queryOptionTag option = optionsOf("query=" + std::string(4000, '\xB1'), 1);
  EXPECT_EQ(6143u, std::strlen(option.orgQuery));
}

class DateWindow : public ::testing::Test {
 protected:
  ScopedTimeZone utc_{"UTC0"};
};

constexpr int32_t k2005July1 = 1120176000;
constexpr int32_t kDay = 86400;

TEST_F(DateWindow, WhichVariablesSwitchItOn) {
  const char* dates = "&begin_year=2005&begin_month=7&begin_day=1";
  const struct {
    const char* request;
    int on;
  } rows[] = {
      {"part_file=on", 1},
      {"part_file=On", 0},
      {"all_file=off", 1},
      {"all_file=on&part_file=on", 0},
      {"all_file=&part_file=on", 0},
      {"all_file=off&part_file=off", 1},
      {"", 0},
  };
  for (const auto& row : rows) {
    const queryOptionTag option = optionsOf(std::string(row.request) + dates);
    EXPECT_EQ(row.on, option.fgSearchDate) << row.request;
    EXPECT_EQ(row.on ? k2005July1 : 0, option.beginTime) << row.request;
    EXPECT_EQ(row.on ? k2005July1 + kDay : 0, option.endTime) << row.request;
  }
}

TEST_F(DateWindow, BeginAndEndDates) {
  const struct {
    const char* dates;
    int on;
    int32_t begin, end;
  } rows[] = {
      {"begin_year=2005&begin_month=7&begin_day=1&end_year=2005&end_month=7&end_day=20", 1,
       k2005July1, k2005July1 + 20 * kDay},
      {"begin_year=2005&begin_month=7&begin_day=1&end_day=3", 1, k2005July1, k2005July1 + 3 * kDay},
      {"begin_year=2005&begin_month=7&begin_day=1", 1, k2005July1, k2005July1 + kDay},
      // Without a complete begin date there is no window; a complete end is still read.
      {"begin_year=2005&begin_day=1", 0, 0, 0},
      {"begin_year=2005&begin_day=1&end_year=2005&end_month=7&end_day=20", 0, 0,
       k2005July1 + 20 * kDay},
      {"begin_year=2005&begin_month=7&begin_day=1&end_month=-1", 0, k2005July1, 0},
      // mktime carries days and months over.
      {"begin_year=2005&begin_month=7&begin_day=0", 1, k2005July1 - kDay, k2005July1},
      {"begin_year=2005&begin_month=2&begin_day=30", 1, 1109721600, 1109721600 + kDay},
      // Dates outside signed 32-bit time switch the window off.
      {"begin_year=1800&begin_month=1&begin_day=1", 0, 0, 0},
      {"begin_year=2100&begin_month=1&begin_day=1", 0, 0, 0},
      {"begin_year=abc&begin_month=1&begin_day=1", 0, 0, 0},
      {"begin_year=-2147483648&begin_month=-2147483648&begin_day=1", 0, 0, 0},
      // The window of the last representable day ends where 32-bit time does.
      {"begin_year=2038&begin_month=1&begin_day=19", 1, 2147472000, INT32_MAX},
  };
  for (const auto& row : rows) {
    const queryOptionTag option = optionsOf(std::string("part_file=on&") + row.dates);
    EXPECT_EQ(row.on, option.fgSearchDate) << row.dates;
    EXPECT_EQ(row.begin, option.beginTime) << row.dates;
    EXPECT_EQ(row.end, option.endTime) << row.dates;
  }
}

TEST(ConvTimeStr2Num, LocalMidnightFollowsDaylightSaving) {
  ScopedTimeZone eastern("EST5EDT,M3.2.0,M11.1.0");
  EXPECT_EQ(k2005July1 + 4 * 3600, queryOptionTag::convTimeStr2Num(2005, 7, 1));
  EXPECT_EQ(1104537600 + 5 * 3600, queryOptionTag::convTimeStr2Num(2005, 1, 1));
  ScopedTimeZone tokyo("JST-9");
  EXPECT_EQ(k2005July1 - 9 * 3600, queryOptionTag::convTimeStr2Num(2005, 7, 1));
}

TEST(ConvTimeStr2Num, MinusOneInAnyPartFails) {
  ScopedTimeZone utc("UTC0");
  EXPECT_EQ(-1, queryOptionTag::convTimeStr2Num(-1, 7, 1));
  EXPECT_EQ(-1, queryOptionTag::convTimeStr2Num(2005, -1, 1));
  EXPECT_EQ(-1, queryOptionTag::convTimeStr2Num(2005, 7, -1));
  EXPECT_EQ(-1, queryOptionTag::convTimeStr2Num(INT_MIN, INT_MIN, INT_MIN));
  EXPECT_EQ(-1, queryOptionTag::convTimeStr2Num(INT_MAX, INT_MAX, INT_MAX));
}

TEST(QueryOption, ProcessWideInstanceReadsTheProcessWideVariables) {
  cgi_variable.initialize("no_rec=7&query=q");
  queryOption.initialize(3);
  EXPECT_EQ(7, queryOption.numRec);
  EXPECT_STREQ("q", queryOption.orgQuery);
  cgi_variable.freeMemory();
}

// The dump lists every default but the last two fields.
TEST(QueryOption, DefaultsAndTheirDebugDump) {
  queryOptionTag option = optionsOf("");
  EXPECT_EQ(1, option.similar_keyword_option);
  EXPECT_EQ(0, option.api_version);
  EXPECT_EQ(
      "-- queryOptionTag::printAllElement() -- <br>\n"
      "orgQuery = <br>\nretQuery = <br>\nwholeCGIString = (null)<br>\n"
      "fgChinese = 0<br>\nfgThesaurus = 0<br>\nfgMatchMode = 0<br>\ndbNum = 0<br>\n"
      "fgSearchDate = 0<br>\nbeginTime = 0<br>\nendTime = 0<br>\nbeginFile = *<br>\n"
      "endFile = *<br>\nsortField = score<br>\nsortOrder = desc<br>\noutputMode = 1<br>\n"
      "numRec = 10<br>\nmatchType = 2<br>\nsbfRandomNo = 0<br>\nfile_name_search = 0<br>\n"
      "relterm_output = 1<br>\nxml_format = 0<br>\nh2f_flag = 0<br>\n"
      "output_cgi_no = -100<br>\noutput_cgi_page = -100<br>\n"
      "------------------------------- <br>\n",
      testutil::captureStdout([&] { option.printAllElement(); }));
  option.wholeCGIString = "a=1";
  EXPECT_NE(std::string::npos, testutil::captureStdout([&] {
                                 option.printAllElement();
                               }).find("wholeCGIString = a=1<br>\n"));
}

}  // namespace
