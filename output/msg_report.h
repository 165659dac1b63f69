/// @file msg_report.h
/// @brief Message pages: the HTTP header and a template page with its tags
/// filled in, framed for API callers.

#ifndef SEARCHRUN_OUTPUT_MSG_REPORT_H
#define SEARCHRUN_OUTPUT_MSG_REPORT_H

#include <cstddef>
#include <cstdio>
#include <ctime>
#include <string>

// Page kinds; each has its template, found relative to the working directory.
// Any other value writes the plain "title=...\nmessage=...\n" form.
enum MSG_TYPE {
  MSG_TYPE_INFO = 1,                // "../admin/html/message/message_info.html"
  MSG_TYPE_WARNING = 2,             // "../admin/html/message/message_warning.html"
  MSG_TYPE_ERROR = 3,               // "../admin/html/message/message_error.html"
  MSG_TYPE_ADMIN_LOGIN_ERROR = 4,   // "../admin/message_login_error.html"
  MSG_TYPE_SEARCH_LOGIN_ERROR = 5,  // "../search/message_login_error.html"
};

// Content kinds of the header; any other value gives text/plain.
enum CONTENT_TYPE {
  CONTENT_TYPE_HTML = 1,
  CONTENT_TYPE_XML = 2,
  CONTENT_TYPE_PLAIN = 3,
};

// Writes message pages. The request front sets the API return code and flags
// once, before any page is written. Null texts are written as empty ones.
class KestraneMsgReport {
 public:
  static constexpr size_t kApiRetCodeLength = 15;
  // Life of a cookie set with a page: 30 days.
  static constexpr long kCookieLifeSeconds = 2592000;

  KestraneMsgReport();

  // Stores at most 15 characters (null stores the empty code).
  void setAPIRetCode(const char* code);
  void setAPIFlag(bool on) { m_apiFlag = on; }
  // Markup that pages put where the template has $$SEARCH_FORM$$: the
  // request flow's search form, so that a user can search again from any
  // page. The caller escapes what it holds. Empty: nothing.
  void setSearchForm(std::string html) { m_searchForm = std::move(html); }
  // The language of the pages' text ($$LANG$$, e.g. "en"); "en" until set.
  void setPageLanguage(std::string code) { m_pageLanguage = std::move(code); }
  // The charset the pages are written in ($$CHARSET$$ and the header's
  // content type); "UTF-8" until set.
  void setPageCharset(std::string charset) { m_pageCharset = std::move(charset); }
  // The HTTP status the header gives (a "Status:" line unless it is 200);
  // 200 until set.
  void setHttpStatus(int status) { m_httpStatus = status; }
  int getHttpStatus() const { return m_httpStatus; }
  // Recorded for the request; no page depends on it.
  void setXMLFlag(bool on) { m_xmlFlag = on; }
  // A caller that asked for JSON gets its message pages as JSON:
  // {"error":{"status":<HTTP status>,"code":"<API code>","message":"<text>"}}
  // with the JSON content type, whatever content kind or page kind is asked
  // for (the renderer's errors have the same shape).
  void setJsonFlag(bool on) { m_jsonFlag = on; }
  const char* getAPIRetCode() const { return m_apiRetCode; }
  bool getAPIFlag() const { return m_apiFlag; }
  bool getXMLFlag() const { return m_xmlFlag; }

  // Writes the "Status:" line when the status is not 200, the content line
  // of the kind (HTML with the page charset), a "Set-Cookie:" line when cookie is
  // given (expiring 30 days after now, in UTC, scoped as cookieAttributes()
  // says), and the blank line that ends the header. The second form takes the clock reading.
  void outputContentType(FILE* stream, int contentKind, const char* cookie);
  void outputContentType(FILE* stream, int contentKind, const char* cookie, time_t now);

  // Writes the page of the kind: the template with title, message and back
  // page filled in, or the plain two-line form for a kind without template.
  // In API mode the page is preceded by the return code and 0x04 0x05 0x06,
  // and followed by those three bytes. An unreadable template gives an empty
  // page (the API frame is still written).
  void outputHtmlMessage(FILE* stream, int pageKind, const char* title, const char* message,
                         const char* backPage);

  // text with every occurrence of tag replaced by value, copied into out cut
  // to size - 1 characters. Returns out; a null out or a size of 0 leaves out
  // untouched.
  static char* replaceTag(const char* text, const char* tag, const char* value, char* out,
                          size_t size);
  static char* replaceCGINameTag(const char* text, const char* value, char* out, size_t size);
  // The port written with "%d", at most 6 characters.
  static char* replaceInterfacePortTag(const char* text, int port, char* out, size_t size);
  static char* replaceProtocolTag(const char* text, const char* value, char* out, size_t size);

  // Error pages with one tag of the message filled in. Each writes the HTML
  // header and the page to standard output. `size` is the room for the
  // filled-in message (terminator included); when that room cannot be had
  // (allocation failure, size 0) the message is shown unfilled.
  void outputCGIVarNotFound(const char* title, const char* message, size_t size, const char* name,
                            const char* backPage);
  void outputFileNotFound(const char* title, const char* message, size_t size, const char* fileName,
                          const char* backPage);
  void outputIndexNotFound(const char* title, const char* message, size_t size,
                           const char* indexName, const char* backPage);
  void outputServerNameInfo(int pageKind, const char* title, const char* message, size_t size,
                            const char* serverName, const char* backPage);
  void outputNumberInfo(int pageKind, const char* title, const char* message, size_t size,
                        int number, const char* backPage);

 private:
  void outputOneTag(int pageKind, const char* title, const char* message, size_t size,
                    const char* tag, const char* value, const char* backPage);

  char m_apiRetCode[kApiRetCodeLength + 1];
  bool m_apiFlag;
  bool m_jsonFlag = false;
  std::string m_searchForm;
  std::string m_pageLanguage = "en";
  std::string m_pageCharset = "UTF-8";
  int m_httpStatus = 200;
  bool m_xmlFlag;
};

// The HTTP status of a page answering with message `number`: 4xx for what
// the request asked wrongly (a bad or missing variable, too many indexes, no
// permit), 5xx for what failed on the server; a number not known here gives
// 400 when the run refused the request, 500 otherwise.
int messageHttpStatus(const char* number, bool refused);
// "Status:" reason phrase of the statuses the pages use ("Error" otherwise).
const char* httpReasonPhrase(int status);

// The template file of a page kind, or nullptr for a kind without one.
const char* msgReportTemplatePath(int pageKind);

#endif  // SEARCHRUN_OUTPUT_MSG_REPORT_H
