/// @file query_normalize.h
/// @brief Rewrites of the query text before it goes to the engine (half-width
/// to full-width, the Japanese full-width blank, blanks around operators
/// between double-byte words, implicit AND), the query term the engine sees,
/// and the merge of the query texts the engine jobs report back.
///
/// Every rewrite works on a query buffer of kOrgQuerySize bytes in place
/// and never fails: the text is read up to its terminator (or the end of the
/// buffer), and an over-long result is cut before the first character or
/// operator that does not fit whole, so a double-byte character is never
/// split. Double-byte characters follow the code page of `language` (the
/// installation language codes of system/layout.h); the forms without a
/// language use systemGetLanguage().

#ifndef SEARCHRUN_FRONT_QUERY_NORMALIZE_H
#define SEARCHRUN_FRONT_QUERY_NORMALIZE_H

#include <cstddef>
#include <string>

#include "front/query_option.h"

// Path of the administrator's half-to-full table, relative to the CGI directory.
constexpr const char* kH2FUserTablePath = "../setting/h2f_user.txt";
// Most entries the table keeps.
constexpr int kH2FUserTableMax = 100;
// Most bytes changeQuery_H2F keeps.
constexpr size_t kH2FOutputMax = kOrgQuerySize - 2;

// Letter code 0..25 for "a"-"z" and "A"-"Z", 100..109 for "0"-"9", else -1.
int check_half_word(unsigned char c);
// Letter code 0..25 of a full-width lower-case letter in the code page of
// `language` (JP, CH, GB); -1 for anything else, a zero trail byte or another
// language.
int check_full_lowser_english_word(unsigned char lead, unsigned char trail, int language);
// Byte `part` (0 lead, 1 trail) of the full-width upper-case letter (code
// 0..25) or digit (100..109) in the code page of `language`; 0 for other
// languages or codes.
unsigned char get_full_uppercase(int code, int part, int language);
// 5 when `text` starts with " and " or " AND ", 4 for " or " or " OR ",
// provided at least one more character follows; 0 otherwise.
int check_bool_operator(const char* text);

// The administrator's replacement of ASCII byte `c`: true with the two bytes
// in `out`. The table is read from kH2FUserTablePath on the first call of the
// run (a missing file is tried once and means no replacements); lines are
// "c=XY": a source byte, "=", two replacement bytes; "#" starts a comment.
bool changeQueryH2FByUserDefine(unsigned char c, char out[2]);
// Forgets the table so that the next lookup reads the file again.
void resetH2FUserTable();

// True for a byte at or above 0x80 at `text`, with `length` 2 (1 for JP
// half-width katakana 0xA1..0xDF, or when the next byte is the terminator);
// false with `length` 1 otherwise.
bool isDBCSToken(const char* text, int& length, int language);
// The first `ch` in `text` that is a character of its own (never the second
// byte of a double-byte character); null when there is none.
const char* findFirstChar(const char* text, char ch, int language);
// True when the Shift_JIS `text` holds a hiragana (0x829F..0x82F1) or
// katakana (0x8340..0x8396) character.
bool isContainKH(const char* text);

// ASCII letters (upper-cased), digits and full-width lower-case letters become
// full-width upper case; " and ", " AND ", " or ", " OR " between words stay
// as they are; other ASCII bytes go through the administrator's table. At
// most kH2FOutputMax bytes are kept. Languages other than CH, JP and GB have
// no full-width forms: their queries stay unchanged.
void changeQuery_H2F(char* query, int language);
void changeQuery_H2F(char* query);
// The Shift_JIS full-width blank 0x81 0x40 becomes one ASCII blank.
void changeQuery_Space(char* query, int language);
void changeQuery_Space(char* query);
// "&" or "|" directly between two double-byte characters gets a blank on
// each side.
void changeQuery_DBCS_contact_bool(char* query, int language);
void changeQuery_DBCS_contact_bool(char* query);
// Blank-separated words are joined by " & "; "and " and "or " (lower case) at
// the start of a word become " & " and " | "; explicit operators (& | + -)
// lose the blanks around them; double quotes are dropped and the phrase
// between them kept as it is.
void queryStringChangeSpaceToBool(char* query, int language);
void queryStringChangeSpaceToBool(char* query);

// The query term as the engine will see it: `query` (cut to 6,143 bytes)
// through changeQuery_H2F when `h2fFlag` is 1 and changeQuery_Space on a JP
// installation. `out` always receives the result; true when a rewrite applied.
bool getUsedQueryTerm(const char* query, std::string& out, int h2fFlag, int language);
// The same with queryOption.h2f_flag and the installation's language; fits
// the engine command's QueryTermNormaliser.
bool getUsedQueryTerm(const char* query, std::string& out);

// Merges the comma-separated terms of `reported` into `retQuery`
// (kRetQuerySize bytes): terms not yet present (exact comparison) are appended in order.
// Every term but the last is cut to 253 bytes; when the buffer is full the
// text ends with as much of the next term as fits, without a comma.
void addRetQuery(char* retQuery, const char* reported, int language);
// The same in the installation's language; fits the merge's RetQueryMerge.
void addRetQuery(char* retQuery, const char* reported);

// The query rewrites of a request, in order, on `orgQuery` (kOrgQuerySize
// bytes): changeQuery_H2F when `h2fFlag` is 1, then changeQuery_Space,
// changeQuery_DBCS_contact_bool and queryStringChangeSpaceToBool, each when
// its key ("CHANGE_SPACE_F2H", "CHANGE_DBCS_BOOL_TOKEN",
// "CHANGE_SPACE_TO_BOOL") in the key=value file `queryCfgPath` begins with
// "Y". A missing file or key switches that rewrite off.
void normaliseQuery(char* orgQuery, int h2fFlag, const char* queryCfgPath, int language);
void normaliseQuery(char* orgQuery, int h2fFlag, const char* queryCfgPath);

#endif  // SEARCHRUN_FRONT_QUERY_NORMALIZE_H
