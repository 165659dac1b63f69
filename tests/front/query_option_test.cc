/// @file query_option_test.cc
/// @brief The query options read from a request: options, the date
/// window, the query text rules and field limits.

#include "front/query_option.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "cgi/cgi_string_parser.h"
#include "cgi/conversion_hooks.h"
#include "system/layout.h"
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

}  // namespace
