/// @file msg_report_test.cc
/// @brief Message pages: header, template pages, API frame, one-tag pages.

#include "output/msg_report.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "tests/test_util.h"

namespace {

const char kTemplate[] =
    "<h1>$$TITLE$$</h1><p>$$MESSAGE$$</p>"
    "<form action=\"$$BACK_PAGE$$\"><input type=\"$$BUTTON_TYPE$$\"></form>\n";
const char kHeader[] = "Content-Type:text/html\n\n";
const std::string kApiMarker = "\x04\x05\x06";

// Everything a writer puts on a stream.
std::string render(const std::function<void(FILE*)>& write) {
  std::unique_ptr<FILE, int (*)(FILE*)> stream(std::tmpfile(), &std::fclose);
  write(stream.get());
  std::fflush(stream.get());
  std::rewind(stream.get());
  std::string bytes;
  char buf[1024];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, stream.get())) > 0)
    bytes.append(buf, n);
  return bytes;
}

// A temporary installation with the error template, run from its CGI
// directory.
class MsgReportTest : public ::testing::Test {
 protected:
  MsgReportTest() : cgi_(testutil::makeInstallSkeleton(dir_.path())), cwd_(cgi_) {
    writeTemplate(MSG_TYPE_ERROR, kTemplate);
  }
  void writeTemplate(int kind, const std::string& text) {
    testutil::writeFile(cgi_ + "/" + msgReportTemplatePath(kind), text);
  }
  std::string page(int kind, const char* title, const char* message, const char* back) {
    return render([&](FILE* f) { report_.outputHtmlMessage(f, kind, title, message, back); });
  }

  testutil::TempDir dir_;
  std::string cgi_;
  testutil::ScopedCwd cwd_;
  KestraneMsgReport report_;
};

TEST_F(MsgReportTest, PageWithAndWithoutBackPage) {
  EXPECT_EQ("<h1>Search</h1><p>Gone.</p><form action=\"/q.html\"><input type=\"button\"></form>\n",
            page(MSG_TYPE_ERROR, "Search", "Gone.", "/q.html"));
  EXPECT_EQ("<h1>Search</h1><p>Gone.</p><form action=\"\"><input type=\"hidden\"></form>\n",
            page(MSG_TYPE_ERROR, "Search", "Gone.", nullptr));
  // Null texts are written as empty ones.
  EXPECT_EQ("<h1></h1><p></p><form action=\"\"><input type=\"hidden\"></form>\n",
            page(MSG_TYPE_ERROR, nullptr, nullptr, nullptr));
}

TEST_F(MsgReportTest, EachPageKindUsesItsOwnTemplate) {
  for (int kind = MSG_TYPE_INFO; kind <= MSG_TYPE_SEARCH_LOGIN_ERROR; ++kind)
    writeTemplate(kind, "kind " + std::to_string(kind) + ": $$MESSAGE$$");
  EXPECT_STREQ("../admin/message_login_error.html",
               msgReportTemplatePath(MSG_TYPE_ADMIN_LOGIN_ERROR));
  EXPECT_STREQ("../search/message_login_error.html",
               msgReportTemplatePath(MSG_TYPE_SEARCH_LOGIN_ERROR));
  for (int kind = MSG_TYPE_INFO; kind <= MSG_TYPE_SEARCH_LOGIN_ERROR; ++kind)
    EXPECT_EQ("kind " + std::to_string(kind) + ": m", page(kind, "t", "m", nullptr));
}

TEST_F(MsgReportTest, ApiModeFramesThePage) {
  report_.setAPIFlag(true);
  report_.setAPIRetCode("0008");
  std::string out = render([&](FILE* f) {
    report_.outputContentType(f, CONTENT_TYPE_HTML, nullptr);
    report_.outputHtmlMessage(f, MSG_TYPE_ERROR, "T", "M", nullptr);
  });
  EXPECT_EQ(kHeader + std::string("0008") + kApiMarker +
                "<h1>T</h1><p>M</p><form action=\"\"><input type=\"hidden\"></form>\n" + kApiMarker,
            out);
}

TEST_F(MsgReportTest, MissingTemplateGivesEmptyPageButKeepsFrame) {
  EXPECT_EQ("", page(MSG_TYPE_WARNING, "T", "M", nullptr));
  report_.setAPIFlag(true);
  report_.setAPIRetCode("0001");
  EXPECT_EQ("0001" + kApiMarker + kApiMarker, page(MSG_TYPE_WARNING, "T", "M", nullptr));
}

TEST_F(MsgReportTest, KindWithoutTemplateWritesPlainLines) {
  report_.setAPIFlag(true);  // the plain form has no frame
  for (int kind : {0, 6, -1}) {
    EXPECT_EQ("title=T\nmessage=M $$CGI_NAME$$\n", page(kind, "T", "M $$CGI_NAME$$", nullptr));
  }
}

TEST_F(MsgReportTest, ApiRetCodeKeepsFifteenCharacters) {
  report_.setAPIRetCode("0123456789abcdefXYZ");
  EXPECT_STREQ("0123456789abcde", report_.getAPIRetCode());
  report_.setAPIRetCode(nullptr);
  EXPECT_STREQ("", report_.getAPIRetCode());
}

TEST(MsgReportHeader, ContentKinds) {
  KestraneMsgReport report;
  const struct {
    int kind;
    const char* header;
  } cases[] = {
      {CONTENT_TYPE_HTML, "Content-Type:text/html\n\n"},
      {CONTENT_TYPE_XML, "Content-Type:text/xml\n\n"},
      {CONTENT_TYPE_PLAIN, "Content-Type:text/plain\n\n"},
      {0, "Content-Type:text/plain\n\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.header, render([&](FILE* f) { report.outputContentType(f, c.kind, nullptr, 0); }));
  }
}

TEST(MsgReportHeader, CookieExpiresThirtyDaysLaterInUtc) {
  KestraneMsgReport report;
  const struct {
    time_t now;
    const char* expires;
  } cases[] = {
      {1109678400, "Thu, 31-Mar-05 12:00:00 GMT"},  // 1 March 2005 12:00:00 UTC
      {946684799 - 2592000, "Fri, 31-Dec-99 23:59:59 GMT"},
      {1704067200, "Wed, 31-Jan-24 00:00:00 GMT"},  // 1 January 2024
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        std::string("Content-Type:text/html\nSet-Cookie: ks_key=ab1234567; path=/; expires=") +
            c.expires + "\n\n",
        render([&](FILE* f) {
          report.outputContentType(f, CONTENT_TYPE_HTML, "ks_key=ab1234567", c.now);
        }));
  }
}

TEST_F(MsgReportTest, OneTagPagesFillTheirTag) {
  const char* message = "[$$CGI_NAME$$|$$FILENAME$$|$$UI_INDEX_NAME$$|$$SERVER_NAME$$|$$NUMBER$$]";
  const struct {
    std::function<void()> write;
    const char* filled;
  } cases[] = {
      {[&] { report_.outputCGIVarNotFound("T", message, 256, "user", nullptr); },
       "[user|$$FILENAME$$|$$UI_INDEX_NAME$$|$$SERVER_NAME$$|$$NUMBER$$]"},
      {[&] { report_.outputFileNotFound("T", message, 256, "../logs/x.log", nullptr); },
       "[$$CGI_NAME$$|../logs/x.log|$$UI_INDEX_NAME$$|$$SERVER_NAME$$|$$NUMBER$$]"},
      {[&] { report_.outputIndexNotFound("T", message, 256, "docs", nullptr); },
       "[$$CGI_NAME$$|$$FILENAME$$|docs|$$SERVER_NAME$$|$$NUMBER$$]"},
      {[&] { report_.outputServerNameInfo(MSG_TYPE_ERROR, "T", message, 256, "host1", nullptr); },
       "[$$CGI_NAME$$|$$FILENAME$$|$$UI_INDEX_NAME$$|host1|$$NUMBER$$]"},
      {[&] { report_.outputNumberInfo(MSG_TYPE_ERROR, "T", message, 256, -25, nullptr); },
       "[$$CGI_NAME$$|$$FILENAME$$|$$UI_INDEX_NAME$$|$$SERVER_NAME$$|-25]"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(kHeader + std::string("<h1>T</h1><p>") + c.filled +
                  "</p><form action=\"\"><input type=\"hidden\"></form>\n",
              testutil::captureStdout(c.write));
  }
}

TEST_F(MsgReportTest, OneTagPageSizeBoundsTheFilledMessage) {
  writeTemplate(MSG_TYPE_INFO, "$$MESSAGE$$");
  auto shown = [&](size_t size) {
    return testutil::captureStdout([&] {
      report_.outputNumberInfo(MSG_TYPE_INFO, "T", "at most $$NUMBER$$", size, 35, "/back");
    });
  };
  EXPECT_EQ(kHeader + std::string("at most 35"), shown(64));
  EXPECT_EQ(kHeader + std::string("at most"), shown(8));
  EXPECT_EQ(kHeader + std::string("at most $$NUMBER$$"), shown(0));  // no room: unfilled
}

TEST(MsgReportReplaceTag, CutsToTheOutputSize) {
  char out[16];
  EXPECT_STREQ("port 8080.",
               KestraneMsgReport::replaceInterfacePortTag("port $$PORT$$.", 8080, out, sizeof out));
  // A port is written with at most 6 characters.
  EXPECT_STREQ("port 123456.", KestraneMsgReport::replaceInterfacePortTag("port $$PORT$$.", 1234567,
                                                                          out, sizeof out));
  EXPECT_STREQ("via https",
               KestraneMsgReport::replaceProtocolTag("via $$PROTOCOL_NAME$$", "https", out, 16));
  EXPECT_STREQ("no user", KestraneMsgReport::replaceCGINameTag("no $$CGI_NAME$$", "user", out, 16));
  EXPECT_STREQ("0123", KestraneMsgReport::replaceTag("0123456789", "$$X$$", "", out, 5));
  std::snprintf(out, sizeof out, "kept");
  EXPECT_EQ(out, KestraneMsgReport::replaceTag("abc", "$$X$$", "", out, 0));
  EXPECT_STREQ("kept", out);
}

}  // namespace
