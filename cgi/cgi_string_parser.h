/// @file cgi_string_parser.h
/// @brief The request's CGI variables: reads the GET query string or POST
/// body, decodes it into the local code page and keeps the name/value pairs in
/// request order for lookup by name or by position.

#ifndef SEARCHRUN_CGI_CGI_STRING_PARSER_H
#define SEARCHRUN_CGI_CGI_STRING_PARSER_H

#include <cstddef>
#include <string>
#include <vector>

// Results of initialize() besides the variable count.
constexpr int kCgiNoMemory = -2;
constexpr int kCgiNoRequestMethod = -3;
constexpr int kCgiNoQueryString = -4;
constexpr int kCgiNoContentLength = -5;

// Variables are kept in blocks of this many slots; the block count is part of
// the debug listing.
constexpr int kCgiBlockSlots = 10;

class CGIStringParser {
 public:
  CGIStringParser() = default;
  // Names and values point into the parser; a copy would leave them behind.
  CGIStringParser(const CGIStringParser&) = delete;
  CGIStringParser& operator=(const CGIStringParser&) = delete;

  // Language code of the installation (0 CH, 1 JP, 2 GB, 3 EN, -1 unknown),
  // which decides the code page of "%u" escapes. Call before initialize().
  void setSysLanuage(int code) { sysLanguage = code; }
  int getSysLanguage() const { return sysLanguage; }

  // Reads the request from REQUEST_METHOD, QUERY_STRING, CONTENT_LENGTH and
  // standard input and parses it, replacing anything parsed before. Returns
  // the number of variables, or kCgiNoMemory, kCgiNoRequestMethod,
  // kCgiNoQueryString (GET without QUERY_STRING) or kCgiNoContentLength (POST
  // whose CONTENT_LENGTH is missing, not a number or not above 0). A POST body
  // is read up to its length, at most kMaxCgiBodyBytes, or up to its end.
  // Other methods read nothing and leave no variables (result 0). On every
  // failure the parser holds no variables.
  int initialize();

  // Parses `text` as a request (up to its first zero byte). Returns the number
  // of variables or kCgiNoMemory.
  int initialize(const char* text);
  int initialize(const char* text, size_t length);

  // Value of the first variable named exactly `name` (case-sensitive), or null
  // when there is none.
  const char* findCgiVariableByName(const char* name) const;

  int getCgiVariableNum() const { return m_cgi_variable_num; }
  int getBlockNum() const { return m_block_num; }
  // Name or value of variable k in request order; null unless
  // 0 <= k < getCgiVariableNum().
  const char* findNameByIndex(int k) const;
  const char* findValueByIndex(int k) const;

  // The request text as read, still escaped; null when nothing was read.
  const char* getBackupQueryString() const;

  // Forgets every variable and both texts. Earlier results become invalid.
  void freeMemory();

  // Debug listing on standard output.
  void showAllElement() const;

 private:
  // Variable k lives in block k / kCgiBlockSlots, slot k % kCgiBlockSlots.
  // Slots hold offsets into parsedString, which may still grow while parsing.
  struct Block {
    size_t name[kCgiBlockSlots];
    size_t value[kCgiBlockSlots];
  };

  int parse(std::string text);
  // Splits a decoded token at its first "=" into the next slot.
  void store(const std::string& token);
  const char* slotText(int k, bool value) const;

  std::vector<Block> blocks_;
  int m_cgi_variable_num = 0;
  int m_block_num = 0;
  // Decoded names and values, each zero-terminated.
  std::string parsedString;
  std::string backupQueryString;
  bool has_backup_ = false;
  int sysLanguage = -1;
};

#endif  // SEARCHRUN_CGI_CGI_STRING_PARSER_H
