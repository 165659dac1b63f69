/// @file query_option.cc
/// @brief Filling the query options from the request's CGI variables.

#include "front/query_option.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "cgi/cgi_string_parser.h"
#include "cgi/conversion_hooks.h"
#include "front/request_state.h"
#include "system/layout.h"
#include "system/numbers.h"
#include "system/strings.h"

queryOptionTag queryOption;

namespace {

constexpr int32_t kSecondsPerDay = 86400;

struct Keyword {
  const char* text;
  int value;
};

constexpr Keyword kMatchModes[] = {{"on", 1}, {"exact", 0}, {"fuzzy", 1}};
constexpr Keyword kOutputModes[] = {
    {"Compact Output", 0}, {"Compact", 0}, {"Standard", 1}, {"Standard Output", 1}};
constexpr Keyword kMatchTypes[] = {
    {"MATCH_LINE", 2}, {"MATCH_WORD", 1}, {"MATCH_CSV", 10}, {"NONE", 0}};
constexpr Keyword kPropertySearches[] = {{"none", kPropNone},       {"title", kPropTitle},
                                         {"subject", kPropSubject}, {"company", kPropCompany},
                                         {"author", kPropAuthor},   {"filename", kPropFilename},
                                         {"comment", kPropComment}, {"keyword", kPropKeyword}};

constexpr char kDateRangeQuery[] = "_DATE_RANGE_SEARCH_";

// Copies at most size - 1 bytes of `src` and terminates `dest`.
template <size_t N>
void copyCut(char (&dest)[N], const char* src) {
  const size_t n = strnlen(src, N - 1);
  std::memcpy(dest, src, n);
  dest[n] = '\0';
}

bool equals(const char* value, const char* keyword) {
  return value != nullptr && std::strcmp(value, keyword) == 0;
}

// Sets `field` from the keyword table when `value` is one of its texts;
// anything else leaves it alone. Returns whether it matched.
template <size_t N>
bool setFromKeyword(const char* value, const Keyword (&table)[N], int& field) {
  if (value == nullptr) return false;
  for (const Keyword& keyword : table) {
    if (std::strcmp(value, keyword.text) == 0) {
      field = keyword.value;
      return true;
    }
  }
  return false;
}

void setSwitch(const char* value, int& field) {
  if (value != nullptr) field = equals(value, "on") ? 1 : 0;
}

void setNumber(const char* value, int& field) {
  if (value != nullptr) field = parseAtoi(value);
}

void widenHalfWidthKana(queryOptionTag& option) {
  const KanaWidenerFn widen = halfWidthKanaWidener();
  if (widen == nullptr) return;
  std::string wide;
  if (widen(option.orgQuery, std::strlen(option.orgQuery), wide)) {
    copyCut(option.orgQuery, wide.c_str());
  }
}

struct DateParts {
  int year = -1;
  int month = -1;
  int day = -1;
  int present = 0;  // variables of the date in the request
  int filled = 0;   // of them, those not left empty
};

// A date part given as anything but a decimal number ("", "13x") is no part
// of a date (-1), so that the window is named as wrong instead of read as a
// different day; a number out of the calendar's range is carried over.
void setDatePart(const char* value, int& field) {
  int64_t number = 0;
  if (value != nullptr)
    field = parseDecimal(value, INT_MIN, INT_MAX, number) ? static_cast<int>(number) : -1;
}

void readDateParts(const CGIStringParser& cgi, const char* prefix, DateParts& parts) {
  const std::string p(prefix);
  parts.present = parts.filled = 0;
  const std::pair<const char*, int*> fields[] = {
      {"_year", &parts.year}, {"_month", &parts.month}, {"_day", &parts.day}};
  for (const auto& [suffix, field] : fields) {
    const char* value = cgi.findCgiVariableByName((p + suffix).c_str());
    if (value == nullptr) continue;
    ++parts.present;
    if (value[std::strspn(value, " ")] != '\0') ++parts.filled;
    setDatePart(value, *field);
  }
}

// A form whose date fields were all left empty leaves that end of the
// window open.
bool leftEmpty(const DateParts& parts) {
  return parts.present > 0 && parts.filled == 0;
}

bool isLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// The time of a calendar date, or -1. A month or day outside the calendar is
// no date: carried over, 2024/13/01 would be a day of 2025 and the window
// reported as reversed.
int32_t dateTime(const DateParts& parts) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (parts.month < 1 || parts.month > 12 || parts.day < 1) return -1;
  const int days = parts.month == 2 && isLeapYear(parts.year) ? 29 : kDays[parts.month - 1];
  if (parts.day > days) return -1;
  return queryOptionTag::convTimeStr2Num(parts.year, parts.month, parts.day);
}

// The end date is given as a day; the window runs up to the start of the next.
void readDateWindow(const CGIStringParser& cgi, queryOptionTag& option) {
  DateParts parts;
  readDateParts(cgi, "begin", parts);
  const bool openBegin = parts.filled == 0;
  // An open start is the first second of the clock: 0 would mean no window.
  option.beginTime = openBegin ? 1 : dateTime(parts);
  if (option.beginTime == -1) {
    option.fgSearchDate = 0;
    option.beginTime = 0;
    option.dateWindowProblem = kDateWindowBadBegin;
  }
  readDateParts(cgi, "end", parts);
  if (leftEmpty(parts) || (openBegin && parts.present == 0)) {
    option.endTime = INT32_MAX;
    // Neither end given: the user asked for no window after all.
    if (openBegin) option.fgSearchDate = 0, option.beginTime = 0, option.endTime = 0;
    return;
  }
  const int32_t end = dateTime(parts);
  if (end == -1) {
    option.fgSearchDate = 0;
    option.endTime = 0;
    if (option.dateWindowProblem == kDateWindowOk) option.dateWindowProblem = kDateWindowBadEnd;
  } else {
    // The last representable day ends where 32-bit time does.
    option.endTime = end > INT32_MAX - kSecondsPerDay ? INT32_MAX : end + kSecondsPerDay;
  }
  // A window that ends before it begins holds nothing: the user mixed the
  // two dates up, and must hear so rather than get no hits.
  if (option.dateWindowProblem == kDateWindowOk && end < option.beginTime) {
    option.fgSearchDate = 0;
    option.dateWindowProblem = kDateWindowReversed;
  }
}

void readSearchDate(const CGIStringParser& cgi, queryOptionTag& option) {
  option.fgSearchDate = 0;
  option.dateWindowProblem = kDateWindowOk;
  const char* all_file = cgi.findCgiVariableByName("all_file");
  if (all_file != nullptr) {
    option.fgSearchDate = equals(all_file, "off") ? 1 : 0;
  } else if (equals(cgi.findCgiVariableByName("part_file"), "on")) {
    option.fgSearchDate = 1;
  }
  if (option.fgSearchDate == 1) readDateWindow(cgi, option);
}

void readPropertySearch(const CGIStringParser& cgi, queryOptionTag& option) {
  if (setFromKeyword(cgi.findCgiVariableByName("filenamesearch"), kPropertySearches,
                     option.file_name_search) &&
      option.file_name_search != kPropNone) {
    // Matched text of a property is not shown, whatever "match_type" said.
    option.matchType = 0;
  }
  if (std::strcmp(option.orgQuery, kDateRangeQuery) == 0) {
    option.file_name_search = kPropDateRange;
    option.matchType = 0;
  }
}

void readAnswerFormat(const CGIStringParser& cgi, queryOptionTag& option) {
  setNumber(cgi.findCgiVariableByName("xml"), option.xml_format);
  setNumber(cgi.findCgiVariableByName("h2foption"), option.h2f_flag);
  setNumber(cgi.findCgiVariableByName("outcgino"), option.output_cgi_no);
  setNumber(cgi.findCgiVariableByName("outcgipage"), option.output_cgi_page);
  if (equals(cgi.findCgiVariableByName("api"), "1")) {
    option.xml_format = 1;
    option.api_version = 3;
    if (equals(cgi.findCgiVariableByName("version"), "2")) option.api_version = 2;
  }
  // JSON for callers that build their own pages.
  if (equals(cgi.findCgiVariableByName("format"), "json")) option.xml_format = kAnswerJsonFormat;
}

}  // namespace

namespace {

// The double quotation marks of each code page that keyboards and word
// processors type where a person means a phrase.
bool isTypographicQuote(const char* c, size_t length, int language) {
  static const std::vector<std::string> kUtf8 = {"\u201C", "\u201D", "\u201E", "\u201F",
                                                 "\uFF02", "\u301D", "\u301E"};
  static const std::vector<std::string> kShiftJis = {"\x81\x67", "\x81\x68"};
  static const std::vector<std::string> kBig5 = {"\xA1\xA7", "\xA1\xA8", "\xA1\xA9", "\xA1\xAA"};
  static const std::vector<std::string> kGbk = {"\xA1\xB0", "\xA1\xB1", "\xA3\xA2", "\xA8\x94",
                                                "\xA8\x95"};
  const std::vector<std::string>& marks = language == kLangEN   ? kUtf8
                                          : language == kLangJP ? kShiftJis
                                          : language == kLangCH ? kBig5
                                                                : kGbk;
  const std::string_view text(c, length);
  for (const std::string& mark : marks)
    if (text == mark) return true;
  return false;
}

}  // namespace

void straightenTypographicQuotes(char* query, int language) {
  if (language != kLangEN && language != kLangJP && language != kLangCH && language != kLangGB)
    return;
  char* out = query;
  for (const char* in = query; *in != '\0';) {
    const size_t n = characterLength(in, language);
    if (n > 1 && isTypographicQuote(in, n, language)) {
      *out++ = '"';
    } else {
      std::memmove(out, in, n);
      out += n;
    }
    in += n;
  }
  *out = '\0';
}

// ";" would end the query for the engine, and a control character would
// split it (the engine reads one line) or forge a line of a log; the second
// byte of a double-byte character may have the code of ";" and must stay
// (no code page of the installation uses control codes as second bytes).
void blankSemicolonsAndControls(char* query, int language) {
  for (size_t i = 0; query[i] != '\0'; ++i) {
    const unsigned char c = static_cast<unsigned char>(query[i]);
    if (c < 0x20 || c == 0x7F) {
      query[i] = ' ';
    } else if (c >= 0x80 && language == kLangEN) {
      // No byte of a UTF-8 character is ";" or a control code.
      i += characterLength(query + i, language) - 1;
    } else if (c >= 0x80) {
      if (query[i + 1] == '\0') break;
      if (static_cast<unsigned char>(query[i + 1]) >= 0x20) ++i;
    } else if (c == ';') {
      query[i] = ' ';
    }
  }
}

queryOptionTag::queryOptionTag()
    : orgQuery{},
      retQuery{},
      wholeCGIString(nullptr),
      fgChinese(0),
      fgThesaurus(0),
      fgMatchMode(0),
      dbNum(0),
      fgSearchDate(0),
      beginTime(0),
      endTime(0),
      beginFile{"*"},
      endFile{"*"},
      sortField{"score"},
      sortOrder{"desc"},
      outputMode(1),
      numRec(10),
      matchType(2),
      sbfRandomNo(0),
      file_name_search(kPropNone),
      relterm_output(1),
      xml_format(0),
      h2f_flag(0),
      output_cgi_no(kRendererUnset),
      output_cgi_page(kRendererUnset),
      similar_keyword_option(1),
      api_version(0) {}

void queryOptionTag::applyLocalQueryRules(int language) {
  if (language == 1) widenHalfWidthKana(*this);
  straightenTypographicQuotes(orgQuery, language);
  blankSemicolonsAndControls(orgQuery, language);
}

void queryOptionTag::initialize(int language) {
  initialize(cgi_variable, language);
}

void queryOptionTag::initialize(const CGIStringParser& cgi, int language) {
  auto value = [&cgi](const char* name) { return cgi.findCgiVariableByName(name); };
  if (const char* query = value("query")) copyCut(orgQuery, query);
  // A query declared in another encoding is not local text yet: its bytes
  // would be taken for katakana and lead bytes. The request flow applies
  // these rules once it has converted the query.
  if (value("query_encoding") == nullptr) applyLocalQueryRules(language);
  setSwitch(value("chinese"), fgChinese);
  setSwitch(value("thesaurus"), fgThesaurus);
  setFromKeyword(value("match"), kMatchModes, fgMatchMode);
  readSearchDate(cgi, *this);
  if (const char* text = value("begin_file")) copyCut(beginFile, text);
  if (const char* text = value("end_file")) copyCut(endFile, text);
  if (const char* text = value("sort")) copyCut(sortField, text);
  if (const char* text = value("order")) copyCut(sortOrder, text);
  setFromKeyword(value("output"), kOutputModes, outputMode);
  setNumber(value("no_rec"), numRec);
  setFromKeyword(value("match_type"), kMatchTypes, matchType);
  setNumber(value("sbf"), sbfRandomNo);
  readPropertySearch(cgi, *this);
  setNumber(value("reltermoption"), relterm_output);
  setSwitch(value("similar_keyword_option"), similar_keyword_option);
  readAnswerFormat(cgi, *this);
}

int32_t queryOptionTag::convTimeStr2Num(int year, int month, int day) {
  if (year == -1 || month == -1 || day == -1) return -1;
  // Extreme request values must not overflow on the way into struct tm.
  if (year < INT_MIN + 1900 || month < INT_MIN + 1) return -1;
  struct tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  // Whether daylight saving applies on that day is for the system to say.
  local.tm_isdst = -1;
  const time_t seconds = mktime(&local);
  if (seconds == time_t(-1) || seconds < INT32_MIN || seconds > INT32_MAX) return -1;
  return int32_t(seconds);
}

void queryOptionTag::printAllElement() const {
  const auto text = [](const char* name, const char* value) {
    std::printf("%s = %s<br>\n", name, value != nullptr ? value : "(null)");
  };
  const auto number = [](const char* name, long value) {
    std::printf("%s = %ld<br>\n", name, value);
  };
  std::printf("-- queryOptionTag::printAllElement() -- <br>\n");
  text("orgQuery", orgQuery);
  text("retQuery", retQuery);
  text("wholeCGIString", wholeCGIString);
  number("fgChinese", fgChinese);
  number("fgThesaurus", fgThesaurus);
  number("fgMatchMode", fgMatchMode);
  number("dbNum", dbNum);
  number("fgSearchDate", fgSearchDate);
  number("beginTime", beginTime);
  number("endTime", endTime);
  text("beginFile", beginFile);
  text("endFile", endFile);
  text("sortField", sortField);
  text("sortOrder", sortOrder);
  number("outputMode", outputMode);
  number("numRec", numRec);
  number("matchType", matchType);
  number("sbfRandomNo", sbfRandomNo);
  number("file_name_search", file_name_search);
  number("relterm_output", relterm_output);
  number("xml_format", xml_format);
  number("h2f_flag", h2f_flag);
  number("output_cgi_no", output_cgi_no);
  number("output_cgi_page", output_cgi_page);
  std::printf("------------------------------- <br>\n");
  std::fflush(stdout);
}
