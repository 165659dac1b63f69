/// @file msg_report.cc
/// @brief Header and page writer of the message pages.

#include "output/msg_report.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "output/html_makeup.h"
#include "system/cookie_scope.h"
#include "system/delimiters.h"

namespace {

// An API caller finds the page between two of these, after the return code.
constexpr const char* kApiMarker = kCommandWordDelim;

const char* orEmpty(const char* text) {
  return text ? text : "";
}

// "%c%c%c, %02d-%c%c%c-%02d %02d:%02d:%02d GMT" in English, whatever the
// locale of the process.
std::string cookieExpiry(time_t when) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  struct tm tm;
  if (gmtime_r(&when, &tm) == nullptr) return "";
  char text[64];
  std::snprintf(text, sizeof text, "%s, %02d-%s-%02d %02d:%02d:%02d GMT", kDays[tm.tm_wday % 7],
                tm.tm_mday, kMonths[tm.tm_mon % 12], (tm.tm_year + 1900) % 100, tm.tm_hour,
                tm.tm_min, tm.tm_sec);
  return text;
}

// Message pages are small and self-contained: no script, no outside
// resource, never framed, never kept by a cache (they tell of one request).
const char kPageSecurityHeaders[] =
    "X-Content-Type-Options: nosniff\n"
    "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; "
    "form-action 'self'; base-uri 'none'; frame-ancestors 'none'\n"
    "Cache-Control: no-store\n";

// The page when the installation's template cannot be read: the same page,
// plainer, so that the user still learns what happened.
const char kBuiltInTemplate[] =
    "<!DOCTYPE html>\n<html lang=\"$$LANG$$\">\n<head>\n"
    "<meta charset=\"$$CHARSET$$\">\n<meta name=\"viewport\" content=\"width=device-width, "
    "initial-scale=1\">\n"
    "<title>$$TITLE$$</title>\n</head>\n<body>\n<h1>$$TITLE$$</h1>\n<p>$$MESSAGE$$</p>\n"
    "$$SEARCH_FORM$$\n"
    "<form action=\"$$BACK_PAGE$$\" method=\"get\">"
    "<input type=\"$$BUTTON_TYPE$$\" value=\"Back\"></form>\n</body>\n</html>\n";

// The content kind of a JSON answer (beside CONTENT_TYPE).
constexpr int kContentTypeJson = 4;

// A JSON string's contents: quotes, backslashes and control characters
// escaped; other bytes as they are (the installation's text).
std::string jsonEscaped(const char* text) {
  std::string out;
  for (const char* p = text; *p != '\0'; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// A value filled into a message is text, never markup.
std::string escapeHtml(const char* text) {
  std::string out;
  for (const char* p = orEmpty(text); *p != '\0'; ++p) {
    const char* entity = htmlEntityFor(*p);
    if (entity != nullptr)
      out += entity;
    else
      out += *p;
  }
  return out;
}

}  // namespace

int messageHttpStatus(const char* number, bool refused) {
  static const struct {
    const char* number;
    int status;
  } kStatuses[] = {// Requests that cannot be served as asked.
                   {"0006", 400},
                   {"1003", 400},
                   {"1035", 400},
                   {"1060", 400},
                   {"1070", 400},
                   {"1071", 400},
                   {"1072", 400},
                   {"1073", 400},
                   {"1074", 400},
                   {"1078", 404},
                   {"1079", 400},
                   {"1080", 400},
                   {"1081", 400},
                   {"1076", 413},
                   // No permit, or one that is no good.
                   {"3100", 403},
                   {"3101", 403},
                   {"3102", 403},
                   {"3103", 429},
                   // The server's part.
                   {"0000", 500},
                   {"0001", 500},
                   {"0004", 500},
                   {"0005", 500},
                   {"0008", 500},
                   {"0047", 500},
                   {"0009", 503},
                   {"1075", 503},
                   {"1077", 503},
                   {"1065", 502}};
  for (const auto& s : kStatuses) {
    if (number != nullptr && std::strcmp(number, s.number) == 0) return s.status;
  }
  return refused ? 400 : 500;
}

const char* httpReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 410:
      return "Gone";
    case 413:
      return "Content Too Large";
    case 429:
      return "Too Many Requests";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    default:
      return "Error";
  }
}

const char* msgReportTemplatePath(int pageKind) {
  switch (pageKind) {
    case MSG_TYPE_INFO:
      return "../admin/html/message/message_info.html";
    case MSG_TYPE_WARNING:
      return "../admin/html/message/message_warning.html";
    case MSG_TYPE_ERROR:
      return "../admin/html/message/message_error.html";
    case MSG_TYPE_ADMIN_LOGIN_ERROR:
      return "../admin/message_login_error.html";
    case MSG_TYPE_SEARCH_LOGIN_ERROR:
      return "../search/message_login_error.html";
    default:
      return nullptr;
  }
}

KestraneMsgReport::KestraneMsgReport() : m_apiFlag(false), m_xmlFlag(false) {
  m_apiRetCode[0] = '\0';
}

void KestraneMsgReport::setAPIRetCode(const char* code) {
  std::strncpy(m_apiRetCode, orEmpty(code), kApiRetCodeLength);
  m_apiRetCode[kApiRetCodeLength] = '\0';
}

void KestraneMsgReport::outputContentType(FILE* stream, int contentKind, const char* cookie) {
  outputContentType(stream, contentKind, cookie, std::time(nullptr));
}

void KestraneMsgReport::outputContentType(FILE* stream, int contentKind, const char* cookie,
                                          time_t now) {
  if (stream == nullptr) return;
  if (m_jsonFlag) contentKind = kContentTypeJson;
  if (m_httpStatus != 200)
    std::fprintf(stream, "Status: %d %s\n", m_httpStatus, httpReasonPhrase(m_httpStatus));
  switch (contentKind) {
    case kContentTypeJson:
      std::fputs("Content-Type: application/json; charset=utf-8\n", stream);
      break;
    case CONTENT_TYPE_HTML:
      // Declared, so that a browser shows the query in the form as typed.
      std::fprintf(stream, "Content-Type:text/html; charset=%s\n", m_pageCharset.c_str());
      break;
    case CONTENT_TYPE_XML:
      std::fputs("Content-Type:text/xml\n", stream);
      break;
    default:
      std::fputs("Content-Type:text/plain\n", stream);
      break;
  }
  if (cookie != nullptr) {
    std::fprintf(stream, "Set-Cookie: %s; expires=%s%s\n", cookie,
                 cookieExpiry(now + kCookieLifeSeconds).c_str(), cookieAttributes().c_str());
  }
  std::fputs(kPageSecurityHeaders, stream);
  std::fputs("\n", stream);
  std::fflush(stream);
}

void KestraneMsgReport::outputHtmlMessage(FILE* stream, int pageKind, const char* title,
                                          const char* message, const char* backPage) {
  if (stream == nullptr) return;
  if (m_jsonFlag) {
    std::fprintf(stream, "{\"error\":{\"status\":%d,\"code\":\"%s\",\"message\":\"%s\"}}\n",
                 m_httpStatus, jsonEscaped(m_apiRetCode).c_str(),
                 jsonEscaped(orEmpty(message)).c_str());
    std::fflush(stream);
    return;
  }
  const char* path = msgReportTemplatePath(pageKind);
  if (path == nullptr) {
    std::fprintf(stream, "title=%s\nmessage=%s\n", orEmpty(title), orEmpty(message));
    std::fflush(stream);
    return;
  }
  TSHtmlMakeup page;
  // A template that is missing, empty or unreadable appends nothing.
  if (page.appendFile(path) != NORMAL_ENDING) page.appendData(kBuiltInTemplate);
  page.replaceTag("$$TITLE$$", title);
  page.replaceTag("$$MESSAGE$$", message);
  page.replaceTag("$$BACK_PAGE$$", backPage);
  page.replaceTag("$$BUTTON_TYPE$$", backPage ? "submit" : "hidden");
  // API callers read the message, not a form to fill in.
  page.replaceTag("$$SEARCH_FORM$$", m_apiFlag ? std::string() : m_searchForm);
  page.replaceTag("$$LANG$$", m_pageLanguage);
  page.replaceTag("$$CHARSET$$", m_pageCharset);
  if (m_apiFlag) {
    std::fputs(m_apiRetCode, stream);
    std::fputs(kApiMarker, stream);
  }
  std::fwrite(page.text().data(), 1, page.text().size(), stream);
  if (m_apiFlag) std::fputs(kApiMarker, stream);
  std::fflush(stream);
}

char* KestraneMsgReport::replaceTag(const char* text, const char* tag, const char* value, char* out,
                                    size_t size) {
  if (out == nullptr || size == 0) return out;
  TSHtmlMakeup makeup;
  makeup.appendData(text);
  makeup.replaceTag(tag, value);
  const std::string& result = makeup.text();
  size_t n = std::min(result.size(), size - 1);
  std::memcpy(out, result.data(), n);
  out[n] = '\0';
  return out;
}

char* KestraneMsgReport::replaceCGINameTag(const char* text, const char* value, char* out,
                                           size_t size) {
  return replaceTag(text, "$$CGI_NAME$$", value, out, size);
}

char* KestraneMsgReport::replaceInterfacePortTag(const char* text, int port, char* out,
                                                 size_t size) {
  char value[7];
  std::snprintf(value, sizeof value, "%d", port);
  return replaceTag(text, "$$PORT$$", value, out, size);
}

char* KestraneMsgReport::replaceProtocolTag(const char* text, const char* value, char* out,
                                            size_t size) {
  return replaceTag(text, "$$PROTOCOL_NAME$$", value, out, size);
}

void KestraneMsgReport::outputOneTag(int pageKind, const char* title, const char* message,
                                     size_t size, const char* tag, const char* value,
                                     const char* backPage) {
  std::unique_ptr<char[]> filled(size > 0 ? new (std::nothrow) char[size] : nullptr);
  const char* shown = message;
  if (filled) shown = replaceTag(message, tag, escapeHtml(value).c_str(), filled.get(), size);
  outputContentType(stdout, CONTENT_TYPE_HTML, nullptr);
  outputHtmlMessage(stdout, pageKind, title, shown, backPage);
}

void KestraneMsgReport::outputCGIVarNotFound(const char* title, const char* message, size_t size,
                                             const char* name, const char* backPage) {
  outputOneTag(MSG_TYPE_ERROR, title, message, size, "$$CGI_NAME$$", name, backPage);
}

void KestraneMsgReport::outputFileNotFound(const char* title, const char* message, size_t size,
                                           const char* fileName, const char* backPage) {
  outputOneTag(MSG_TYPE_ERROR, title, message, size, "$$FILENAME$$", fileName, backPage);
}

void KestraneMsgReport::outputIndexNotFound(const char* title, const char* message, size_t size,
                                            const char* indexName, const char* backPage) {
  outputOneTag(MSG_TYPE_ERROR, title, message, size, "$$UI_INDEX_NAME$$", indexName, backPage);
}

void KestraneMsgReport::outputServerNameInfo(int pageKind, const char* title, const char* message,
                                             size_t size, const char* serverName,
                                             const char* backPage) {
  outputOneTag(pageKind, title, message, size, "$$SERVER_NAME$$", serverName, backPage);
}

void KestraneMsgReport::outputNumberInfo(int pageKind, const char* title, const char* message,
                                         size_t size, int number, const char* backPage) {
  char value[16];
  std::snprintf(value, sizeof value, "%d", number);
  outputOneTag(pageKind, title, message, size, "$$NUMBER$$", value, backPage);
}
