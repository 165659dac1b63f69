/// @file msg_report_test.cc
/// @brief Message pages: header, template pages, API frame, one-tag pages;
/// the template text with its tag replacement beneath them; and loading the
/// message table and looking messages up.

#include "output/msg_report.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <tuple>

#include "output/html_makeup.h"
#include "output/msg_table.h"
#include "tests/test_util.h"

namespace {

const std::string kSecurity =
    "X-Content-Type-Options: nosniff\n"
    "Content-Security-Policy: default-src 'none'; style-src 'unsafe-inline'; "
    "form-action 'self'; base-uri 'none'; frame-ancestors 'none'\n"
    "Cache-Control: no-store\n";
const std::string kHeader = "Content-Type:text/html; charset=UTF-8\n" + kSecurity + "\n";
const std::string kApiMarker = "\x04\x05\x06";

// Everything a writer puts on a stream.
std::string render(const std::function<void(FILE*)>& write) {
  std::unique_ptr<FILE, int (*)(FILE*)> stream(std::tmpfile(), &std::fclose);
  write(stream.get());
  std::string bytes(std::ftell(stream.get()), '\0');
  std::rewind(stream.get());
  bytes.resize(std::fread(&bytes[0], 1, bytes.size(), stream.get()));
  return bytes;
}

// A temporary installation with the error template, run from its CGI
// directory.
class MsgReportTest : public ::testing::Test {
 protected:
  MsgReportTest() : cgi_(testutil::makeInstallSkeleton(dir_.path())), cwd_(cgi_) {
    testutil::writeFile(cgi_ + "/" + msgReportTemplatePath(MSG_TYPE_ERROR),
                        "<h1>$$TITLE$$</h1><p>$$MESSAGE$$</p><a href=\"$$BACK_PAGE$$\" "
                        "type=\"$$BUTTON_TYPE$$\">\n");
  }
  std::string page(int kind, const char* title, const char* message, const char* back) {
    return render([&](FILE* f) { report_.outputHtmlMessage(f, kind, title, message, back); });
  }

  testutil::TempDir dir_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
  KestraneMsgReport report_;
};

TEST_F(MsgReportTest, Pages) {
  EXPECT_EQ(page(MSG_TYPE_ERROR, "Search", "Gone.", "/q.html"),
            "<h1>Search</h1><p>Gone.</p><a href=\"/q.html\" type=\"submit\">\n");
  EXPECT_EQ(page(MSG_TYPE_ERROR, nullptr, nullptr, nullptr),
            "<h1></h1><p></p><a href=\"\" type=\"hidden\">\n");
  // Without its template a page is still a page that says what happened.
  const std::string plain = page(MSG_TYPE_WARNING, "T<", "M&", nullptr);
  EXPECT_NE(plain.find("<title>T<</title>"), std::string::npos) << plain;
  EXPECT_NE(plain.find("<p>M&</p>"), std::string::npos) << plain;
  EXPECT_EQ(page(0, "T", "M $$CGI_NAME$$", nullptr), "title=T\nmessage=M $$CGI_NAME$$\n");

  // API mode frames the page, even an empty one, but not the plain form.
  report_.setAPIFlag(true);
  report_.setAPIRetCode("0123456789abcdefXYZ");  // 15 characters kept
  EXPECT_EQ(page(MSG_TYPE_ERROR, "T", "M", nullptr),
            "0123456789abcde" + kApiMarker + "<h1>T</h1><p>M</p><a href=\"\" type=\"hidden\">\n" +
                kApiMarker);
  const std::string framed = page(MSG_TYPE_WARNING, "T", "M", nullptr);
  EXPECT_EQ(framed.rfind("0123456789abcde" + kApiMarker + "<!DOCTYPE html>", 0), 0u) << framed;
  EXPECT_EQ(framed.substr(framed.size() - 3), kApiMarker);
  EXPECT_EQ(page(6, "T", "M", nullptr), "title=T\nmessage=M\n");
}

TEST(MsgReportHeader, ContentKindsAndCookie) {
  KestraneMsgReport report;
  const std::pair<int, const char*> kinds[] = {{CONTENT_TYPE_HTML, "html; charset=UTF-8"},
                                               {CONTENT_TYPE_XML, "xml"},
                                               {CONTENT_TYPE_PLAIN, "plain"},
                                               {0, "plain"}};
  for (const auto& [kind, name] : kinds)
    EXPECT_EQ(render([&, kind = kind](FILE* f) { report.outputContentType(f, kind, nullptr, 0); }),
              std::string("Content-Type:text/") + name + "\n" + kSecurity + "\n");
  // Expires 30 days later, in English and UTC whatever the locale.
  const std::pair<time_t, const char*> cookies[] = {
      {1109678400, "Thu, 31-Mar-05 12:00:00 GMT"},
      {946684799 - 2592000, "Fri, 31-Dec-99 23:59:59 GMT"},
      {1704067200, "Wed, 31-Jan-24 00:00:00 GMT"}};
  testutil::ScopedEnv noScript("SCRIPT_NAME", nullptr), noHttps("HTTPS", nullptr),
      noScheme("REQUEST_SCHEME", nullptr);
  for (const auto& [now, expires] : cookies)
    EXPECT_EQ(render([&, now = now](FILE* f) {
                report.outputContentType(f, CONTENT_TYPE_HTML, "k=ab1", now);
              }),
              "Content-Type:text/html; charset=UTF-8\nSet-Cookie: k=ab1; expires=" +
                  std::string(expires) + "; Path=/; HttpOnly; SameSite=Strict\n" + kSecurity +
                  "\n");
  // Through the web server over HTTPS the cookie stays in the CGI directory
  // and off plain connections.
  testutil::ScopedEnv script("SCRIPT_NAME", "/cgi-bin/search/searchrun"),
      scheme("REQUEST_SCHEME", "https");
  const std::string header =
      render([&](FILE* f) { report.outputContentType(f, CONTENT_TYPE_HTML, "k=ab1", 0); });
  EXPECT_NE(header.find("; Path=/cgi-bin/search/; HttpOnly; SameSite=Strict; Secure\n"),
            std::string::npos)
      << header;
}

// Each page fills its own tag only; `size` bounds the filled message, and
// without room the message is shown unfilled.
TEST_F(MsgReportTest, OneTagPages) {
  const char* message = "[$$CGI_NAME$$|$$FILENAME$$|$$NUMBER$$]";
  const std::pair<std::function<void()>, const char*> cases[] = {
      {[&] { report_.outputCGIVarNotFound("T", message, 256, "user", nullptr); },
       "[user|$$FILENAME$$|$$NUMBER$$]"},
      {[&] { report_.outputFileNotFound("T", message, 256, "../logs/x.log", nullptr); },
       "[$$CGI_NAME$$|../logs/x.log|$$NUMBER$$]"},
      // A value is text, never markup, wherever it came from.
      {[&] { report_.outputCGIVarNotFound("T", message, 256, "<b onmouseover='x'>&", nullptr); },
       "[&lt;b onmouseover=&#39;x&#39;&gt;&amp;|$$FILENAME$$|$$NUMBER$$]"},
      {[&] { report_.outputNumberInfo(MSG_TYPE_ERROR, "T", message, 256, -25, nullptr); },
       "[$$CGI_NAME$$|$$FILENAME$$|-25]"},
      {[&] { report_.outputNumberInfo(MSG_TYPE_ERROR, "T", message, 9, 35, nullptr); }, "[$$CGI_N"},
      {[&] { report_.outputNumberInfo(MSG_TYPE_ERROR, "T", message, 0, 35, nullptr); }, message}};
  for (const auto& [write, filled] : cases)
    EXPECT_EQ(testutil::captureStdout(write),
              kHeader + "<h1>T</h1><p>" + filled + "</p><a href=\"\" type=\"hidden\">\n");
}

TEST(HtmlMakeup, ReplaceTag) {
  const std::tuple<const char*, const char*, const char*, int, const char*> cases[] = {
      {"a $$T$$ b $$T$$", "$$T$$", "x", NORMAL_ENDING, "a x b x"},
      {"no tag here", "$$T$$", "x", NOT_FOUND_TARGET_TAG, "no tag here"},
      {"a $$T$$", "", "x", SIZE_ZERO, "a $$T$$"},
      {"$$T$$", "$$T$$", nullptr, NORMAL_ENDING, ""},
      // An inserted value is not searched again.
      {"$$T$$-$$T$$", "$$T$$", "[$$T$$]", NORMAL_ENDING, "[$$T$$]-[$$T$$]"},
      {"<$$T$$>", "$$T$$", "a&b<c>", NORMAL_ENDING, "<a&b<c>>"}};  // no escaping
  for (const auto& [text, tag, value, code, result] : cases) {
    TSHtmlMakeup page;
    page.appendData(text);
    EXPECT_EQ(page.replaceTag(tag, value), code) << text;
    EXPECT_EQ(page.text(), result) << text;
  }
}

TEST(HtmlMakeup, AppendFile) {
  testutil::TempDir dir;
  testutil::writeFile(dir.sub("page.html"), std::string("<p>\0$$T$$</p>", 13));
  testutil::writeFile(dir.sub("empty.html"), "");
  TSHtmlMakeup page;
  EXPECT_EQ(page.appendFile(dir.sub("absent.html").c_str()), FILE_IO_ERROR);
  EXPECT_EQ(page.appendFile(dir.path().c_str()), FILE_IO_ERROR);  // a directory
  EXPECT_EQ(page.appendFile(dir.sub("empty.html").c_str()), FILE_SIZE_ZERO);
  EXPECT_EQ(page.appendFile(std::string(TSHtmlMakeup::kMaxFileName + 1, 'n').c_str()),
            EXCEED_BUF_SIZE);
  EXPECT_EQ(page.appendFile(nullptr), EXCEED_BUF_SIZE);
  EXPECT_EQ(page.text(), "");
  // Bytes are kept as they are, zero bytes included.
  EXPECT_EQ(page.appendFile(dir.sub("page.html").c_str()), NORMAL_ENDING);
  EXPECT_EQ(page.replaceTag("$$T$$", "x"), NORMAL_ENDING);
  EXPECT_EQ(page.text(), std::string("<p>\0x</p>", 9));
}

// The header says how the run ended and in which code page the page is, so
// that a browser shows what the form holds as it was typed.
TEST(MsgReportHeader, StatusLineAndCharset) {
  KestraneMsgReport report;
  report.setHttpStatus(403);
  report.setPageCharset("Shift_JIS");
  EXPECT_EQ(
      render([&](FILE* f) { report.outputContentType(f, CONTENT_TYPE_HTML, nullptr, 0); }),
      "Status: 403 Forbidden\nContent-Type:text/html; charset=Shift_JIS\n" + kSecurity + "\n");
  report.setJsonFlag(true);
  report.setHttpStatus(503);
  report.setAPIRetCode("1077");
  EXPECT_EQ(
      render([&](FILE* f) { report.outputContentType(f, CONTENT_TYPE_HTML, nullptr, 0); })
          .rfind("Status: 503 Service Unavailable\nContent-Type: application/json; charset=utf-8\n",
                 0),
      0u);
  // A caller that asked for JSON reads its failures as JSON too.
  EXPECT_EQ(render([&](FILE* f) {
              report.outputHtmlMessage(f, MSG_TYPE_ERROR, "T", "Say \"no\"\\\n\x01", nullptr);
            }),
            "{\"error\":{\"status\":503,\"code\":\"1077\",\"message\":\"Say "
            "\\\"no\\\"\\\\\\u000a\\u0001\"}}\n");
}

TEST_F(MsgReportTest, TemplateDeclaresThePageCharset) {
  testutil::writeFile(cgi_ + "/" + msgReportTemplatePath(MSG_TYPE_ERROR),
                      "<meta charset=\"$$CHARSET$$\"><p>$$MESSAGE$$</p>");
  report_.setPageCharset("Big5");
  EXPECT_EQ(page(MSG_TYPE_ERROR, "T", "M", nullptr), "<meta charset=\"Big5\"><p>M</p>");
  // The page built in for a missing template declares it too.
  std::remove((cgi_ + "/" + msgReportTemplatePath(MSG_TYPE_ERROR)).c_str());
  EXPECT_NE(page(MSG_TYPE_ERROR, "T", "M", nullptr).find("<meta charset=\"Big5\">"),
            std::string::npos);
}

// Refusals are 4xx, failures of the server 5xx; a number the table does not
// know follows how the run ended.
TEST(MessageHttpStatus, ByMessage) {
  const struct {
    const char* number;
    bool refused;
    int status;
  } cases[] = {{"0006", true, 400},  {"1060", true, 400},  {"1071", true, 400},
               {"1078", true, 404},  {"1079", true, 400},  {"1076", true, 413},
               {"3100", true, 403},  {"3103", true, 429},  {"0004", false, 500},
               {"0009", false, 503}, {"1077", false, 503}, {"1065", false, 502},
               {"9999", true, 400},  {"9999", false, 500}, {"", false, 500}};
  for (const auto& c : cases)
    EXPECT_EQ(messageHttpStatus(c.number, c.refused), c.status) << c.number;
  EXPECT_STREQ(httpReasonPhrase(429), "Too Many Requests");
}

class MsgTableTest : public ::testing::Test {
 protected:
  void load(const std::string& contents) {
    testutil::writeFile(dir_.sub("table.cfg"), contents);
    ASSERT_TRUE(table_.initialize(dir_.sub("table.cfg").c_str()));
  }
  std::string message(const char* no) {
    char out[KestraneMsgTable::kMessageBufferSize];
    const char* found = table_.getMessage(no, out);
    return found ? found : "<none>";
  }

  testutil::TempDir dir_;
  KestraneMsgTable table_;
};

TEST_F(MsgTableTest, LinesOfTheCheckedInTable) {
  ASSERT_TRUE(table_.initialize(SR_TEST_DATA_DIR "/output/msg_table.cfg"));
  const std::pair<const char*, const char*> cases[] = {
      {"2006", "Search"},
      {"0004", "The records could not be collected."},  // first of two wins
      {"1234567", "Eight characters are cut to seven"},
      {"12345678", "<none>"},  // the cut number never matches the long one
      {"3100", "tab\tinside the text stays"},
      {"this line has no tab", "<none>"},
      {"", "<none>"}};
  for (const auto& [no, text] : cases)
    EXPECT_EQ(message(no), text) << no;
  EXPECT_EQ(table_.count(), 7);  // the line without TAB is skipped
}

TEST_F(MsgTableTest, InstalledTableHoldsEveryNumberTheProgramRaises) {
  ASSERT_TRUE(table_.initialize(SR_TEST_DATA_DIR "/../../site/setting/ts_cgi_msg_table.cfg"));
  for (const char* no : {"2006", "0000", "0001", "0004", "0005", "0006", "0008", "0047", "1003",
                         "1035", "1060", "1065", "3100", "3101", "3102", "3103"})
    EXPECT_NE(message(no), "<none>") << no;
}

TEST_F(MsgTableTest, HostileFiles) {
  // The tail of a line over 264 characters is dropped, never taken for a
  // line of its own; a zero byte ends a line; the last line needs no line feed.
  load("0001\t" + std::string(259, 'x') + "9999\ttail\n" + std::string("0002\tcut\0here\n", 14) +
       std::string("00\0"
                   "04\tafter a zero byte\n",
                   24) +
       "0003\tno line feed");
  EXPECT_EQ(message("0001"), std::string(255, 'x'));  // at most 255 characters handed out
  EXPECT_EQ(message("9999"), "<none>");
  EXPECT_EQ(message("0002"), "cut");
  EXPECT_EQ(message("0003"), "no line feed");
  EXPECT_EQ(message("00"), "<none>");

  std::string many;
  for (int i = 1; i <= 305; ++i)
    many += std::to_string(1000 + i) + "\tmessage " + std::to_string(i) + "\n";
  table_ = KestraneMsgTable();
  load(many);
  EXPECT_EQ(table_.count(), KestraneMsgTable::kMaxMessages);
  EXPECT_EQ(message("1300"), "message 300");
  EXPECT_EQ(message("1301"), "<none>");
  EXPECT_FALSE(table_.addMessage("2000", "one too many"));
}

TEST_F(MsgTableTest, MissesEmptyTheOutput) {
  EXPECT_FALSE(table_.initialize(dir_.sub("absent.cfg").c_str()));
  load("0001\tone\n");
  char out[KestraneMsgTable::kMessageBufferSize];
  for (const char* no : {"", "0002", static_cast<const char*>(nullptr)}) {
    std::snprintf(out, sizeof out, "stale");
    EXPECT_EQ(table_.getMessage(no, out), nullptr);
    EXPECT_STREQ(out, "");
  }
  EXPECT_EQ(table_.getMessage("0001", nullptr), nullptr);
}

TEST_F(MsgTableTest, AnOlderTableKeepsItsWordsAndGainsTheNewNumbers) {
  load("1071\tlocal words\n0001\tlocal one\n");
  table_.addMissingBuiltIn();
  EXPECT_EQ(message("1071"), "local words");
  EXPECT_EQ(message("0001"), "local one");
  KestraneMsgTable defaults;
  ASSERT_TRUE(defaults.initializeBuiltIn());
  char out[KestraneMsgTable::kMessageBufferSize];
  ASSERT_NE(defaults.getMessage("1072", out), nullptr);
  EXPECT_EQ(message("1072"), out);
  EXPECT_EQ(table_.count(), defaults.count());  // each default number once
}

}  // namespace
