/// @file cgi_service.h
/// @brief The cookie reader: HTTP_COOKIE (and, on demand, the request
/// arguments) split into key/value tables.

#ifndef SEARCHRUN_CGI_CGI_SERVICE_H
#define SEARCHRUN_CGI_CGI_SERVICE_H

#include <cstddef>
#include <deque>
#include <string>

#include "cgi/hash_table.h"

// Buckets of each parameter table.
constexpr unsigned kCgiParameterBuckets = 128;

// A key/value table. Keys and values are copied in, so callers need not keep
// theirs; returned values live as long as the table.
class CGIParameter {
 public:
  CGIParameter();
  CGIParameter(const CGIParameter&) = delete;
  CGIParameter& operator=(const CGIParameter&) = delete;

  // Adds `value` under `key` with the key's leading blanks skipped. A key
  // added twice keeps answering with its first value. Null arguments are
  // ignored.
  void add(const char* key, const char* value);
  // The first value added under `key` (compared exactly), or null.
  const char* valueOf(const char* key) const;
  // Number of pairs added.
  size_t size() const { return keys_.size(); }

 private:
  hash_table table_;
  // Deques keep the addresses of earlier strings stable as they grow.
  std::deque<std::string> keys_;
  std::deque<std::string> values_;
};

class CGIService {
 public:
  virtual ~CGIService();
  CGIService(const CGIService&) = delete;
  CGIService& operator=(const CGIService&) = delete;

  // Decodes `length` bytes of `text` in place: "+" becomes a blank, "%" and
  // two hex digits become that byte, anything else stays; the bytes freed at
  // the end are set to zero. REQUIRES: text holds at least `length` bytes.
  virtual void URLDecode(char* text, size_t length);

  // Reads QUERY_STRING (doGet) or a POST body of CONTENT_LENGTH bytes, at most
  // kMaxCgiBodyBytes (doPost; nothing is read unless the length is above 0),
  // into the argument table, then calls service().
  void doGet();
  void doPost();

  // Called by doGet/doPost once both tables are filled.
  virtual void service(CGIParameter& cookies, CGIParameter& arguments) = 0;

  // The value of a cookie or request argument, or null when absent.
  const char* cookieValue(const char* key) const { return cookies_.valueOf(key); }
  const char* argumentValue(const char* key) const { return arguments_.valueOf(key); }
  const CGIParameter& cookies() const { return cookies_; }
  const CGIParameter& arguments() const { return arguments_; }
  // The cookie header as it came, or null when HTTP_COOKIE was not set.
  const char* cookieText() const { return has_cookie_ ? cookie_text_.c_str() : nullptr; }
  // The request arguments as read by doGet/doPost, or null before either ran.
  const char* argumentText() const { return has_arguments_ ? argument_text_.c_str() : nullptr; }

 protected:
  // Reads the cookies from HTTP_COOKIE.
  CGIService();
  // Reads the cookies from `cookie_header` (null: no cookie header).
  explicit CGIService(const char* cookie_header);

 private:
  // Splits "key=value" pairs at `separator`. The value starts after the last
  // "=" of its pair and is decoded; pairs without "=" are skipped.
  void scanPairs(std::string text, char separator, CGIParameter& table);
  void readArguments(std::string text);

  std::string cookie_text_;
  bool has_cookie_ = false;
  std::string argument_text_;
  bool has_arguments_ = false;
  CGIParameter cookies_;
  CGIParameter arguments_;
};

// The service the program uses: it reads cookies and does nothing else.
class MyService : public CGIService {
 public:
  MyService() = default;
  explicit MyService(const char* cookie_header) : CGIService(cookie_header) {}
  void service(CGIParameter&, CGIParameter&) override {}
};

#endif  // SEARCHRUN_CGI_CGI_SERVICE_H
