/// @file query_option.h
/// @brief The options of one search request (query text, switches, windows,
/// sort, layout, answer format), filled once from the CGI variables.

#ifndef SEARCHRUN_FRONT_QUERY_OPTION_H
#define SEARCHRUN_FRONT_QUERY_OPTION_H

#include <cstdint>
#include <ctime>

#include "search/search_request.h"

class CGIStringParser;

// Sizes of the text fields; every writer cuts to size - 1 and terminates
// (the query's, kQuerySize, is the search request's).
constexpr int kFileBoundSize = 1024;
constexpr int kSortFieldSize = 128;
constexpr int kSortOrderSize = 8;
// The query as typed (orgQuery) and as the engines understood it
// (retQuery): the threaded editions' sites send and keep longer queries
// than the newer front takes.
#ifdef SEARCHRUN_OLDER_FRONT
constexpr int kOrgQuerySize = 10241;
constexpr int kRetQuerySize = 102400;
#else
constexpr int kOrgQuerySize = kQuerySize;
constexpr int kRetQuerySize = kQuerySize;
#endif

// Problems of a requested date window.
constexpr int kDateWindowOk = 0;
constexpr int kDateWindowBadBegin = 1;
constexpr int kDateWindowBadEnd = 2;
constexpr int kDateWindowReversed = 3;

// The renderer fields hold this when the request did not give them.
constexpr int kRendererUnset = -100;
// The answer format ("xml" variable) of a JSON answer; also set by
// "format=json".
constexpr int kAnswerJsonFormat = 3;

// What the query is searched for when it is a property search.
enum FileNameSearch {
  kPropNone = 0,
  kPropTitle = 1,
  kPropSubject = 2,
  kPropCompany = 3,
  kPropAuthor = 4,
  kPropFilename = 5,
  kPropComment = 6,
  kPropKeyword = 7,
  kPropDateRange = 8,
};

struct queryOptionTag {
  queryOptionTag();

  // Reads the options from `cgi` (the process-wide `cgi_variable` in the
  // program). `language` is the installation language code (1: Japanese).
  // Never fails: malformed values fall back to the defaults. When the request
  // declares a "query_encoding", orgQuery is left as sent and the caller
  // applies applyLocalQueryRules after converting it.
  void initialize(int language);
  void initialize(const CGIStringParser& cgi, int language);

  // The rules of a query in the local code page, on orgQuery in place:
  // half-width katakana made full-width (language 1, through the installed
  // widener), then every ";" outside a double-byte character and every
  // control character (below 0x20, and 0x7F) made a blank.
  void applyLocalQueryRules(int language);

  // Seconds since 1970 of local midnight starting that day; -1 when any part
  // is -1 or the date cannot be represented.
  static int32_t convTimeStr2Num(int year, int month, int day);

  // Debug dump on standard output.
  void printAllElement() const;

  char orgQuery[kOrgQuerySize];
  char retQuery[kRetQuerySize];
  const char* wholeCGIString;
  int fgChinese;
  int fgThesaurus;
  int fgMatchMode;
  int dbNum;
  int fgSearchDate;
  // What was wrong with a date window the request asked for (the window is
  // then off): kDateWindowOk, or the part that is no date, or the order.
  int dateWindowProblem = 0;
  int32_t beginTime;
  int32_t endTime;
  char beginFile[kFileBoundSize];
  char endFile[kFileBoundSize];
  char sortField[kSortFieldSize];
  char sortOrder[kSortOrderSize];
  int outputMode;
  int numRec;
  int matchType;
  int sbfRandomNo;
  int file_name_search;
  int relterm_output;
  int xml_format;
  int h2f_flag;
  int output_cgi_no;
  int output_cgi_page;
  int similar_keyword_option;
  int api_version;
};

// Makes each typographic double quotation mark of the installation's code
// page (“ ” „ and their kin) a plain '"', so that a phrase typed on a phone
// or pasted from a document is searched as a phrase.
void straightenTypographicQuotes(char* query, int language);

// Blanks the control characters and ";" of a query in the local code page,
// keeping double-byte characters whole.
void blankSemicolonsAndControls(char* query, int language);

// The request's options; filled once by the request flow, read by every stage.
extern queryOptionTag queryOption;

#endif  // SEARCHRUN_FRONT_QUERY_OPTION_H
