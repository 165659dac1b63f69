/// @file document_view_test.cc
/// @brief The document view of a hit and the answer with a document's own
/// bytes: what is shown, how it is served and what never gets through; and
/// link-proof reads, the ownership rule for result files and the installation
/// settings as the renderer reads them.

#include "companions/renderer/document_view.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <regex>

#include "companions/records/local_files.h"
#include "system/layout.h"
#include "tests/renderer/renderer_fixture.h"
#include "tests/test_util.h"

namespace render {
namespace {

using rendertest::expectNone;
using rendertest::expectParts;

const std::string kName = "query" + std::string(30, '4');

// Hit 12 of 30 of a result shown 5 to a page.
ResultPage viewedPage() {
  ResultPage page;
  page.pageSize = 5;
  page.page = 3;
  page.linesInFile = 30;
  page.language = kLangEN;
  page.user = kBuiltInUser;
  page.terms = {"free"};
  HitView hit;
  hit.rank = 12;
  hit.local = true;
  hit.fileName = "notes.txt";
  hit.location = "team/<b>notes</b>.txt";
  hit.title = "Recorded \"title\"";
  hit.indexDesc = "News & more";
  page.hits = {hit};
  return page;
}

std::string viewOf(const ResultPage& page, const DocumentView& doc) {
  LinkContext links;
  links.request.result = kName;
  links.request.view = page.hits[0].rank;
  return renderDocumentView(page, page.hits[0], doc, links).body;
}

TEST(DocumentView, ShowsTheTextEscapedWithWholeTermsMarked) {
  DocumentView doc;
  doc.text = "<script>alert('free')</script>\nfree freedom &amp; free";
  const std::string html = viewOf(viewedPage(), doc);
  expectNone(html, {"<script>", "Only the first"});
  EXPECT_FALSE(std::regex_search(html, std::regex(" on[a-z]+=| style=\"")));
  expectParts(
      html,
      {"<html lang=\"en\">", "name=\"viewport\"", "<h1>Recorded &quot;title&quot;</h1>",
       "<div class=\"location\">team/&lt;b&gt;notes&lt;/b&gt;.txt</div>", "News &amp; more</div>",
       "&lt;script&gt;alert(&#39;<mark id=\"first-match\">free</mark>&#39;)&lt;/script&gt;\n"
       "<mark>free</mark> freedom &amp;amp; <mark>free</mark></div>",
       "3 matches of the search terms.", "<a href=\"#first-match\">First match</a>",
       "<div class=\"doc text\">",
       // The way back leads to the page that holds the hit.
       "href=\"getfilelist.exe?result=" + kName + "&amp;page=3&amp;no=5\">&laquo; Back",
       "href=\"getfilelist.exe?result=" + kName +
           "&amp;view=12&amp;no=5&amp;raw=1\">Open the original file</a>",
       "view=11&amp;no=5\">&laquo; Previous hit", "view=13&amp;no=5\">Next hit"});
}

TEST(DocumentView, SaysWhatItCannotShow) {
  ResultPage page = viewedPage();
  page.hits[0].rank = 30;  // the last hit: no next one
  page.hits[0].html = true;
  page.terms = {"absent"};
  DocumentView doc;
  doc.title = "Own &amp; title";
  doc.text = "some text";
  doc.cut = true;
  std::string html = viewOf(page, doc);
  expectParts(html, {"<h1>Own &amp;amp; title</h1>", "The search terms do not occur in this text.",
                     "Only the first 1.0 MB of the document is shown here",
                     "<div class=\"doc\">some text</div>"});
  expectNone(html, {"Next hit", "first-match"});
  doc.text.clear();
  html = viewOf(page, doc);
  expectParts(html, {"This document has no text to show here", "Open the original file"});
  expectNone(html, {"class=\"doc"});
  // A signed-in user's document is kept by no cache.
  EXPECT_FALSE(renderDocumentView(page, page.hits[0], doc, {}).noStore);
  page.user = "alice";
  EXPECT_TRUE(renderDocumentView(page, page.hits[0], doc, {}).noStore);
}

TEST(DocumentView, ReadsTheFirstMebibyteAndTheOwnTitle) {
  testutil::TempDir dir;
  // Bytes, name, text shown (its start), cut, title.
  const std::tuple<std::string, std::string, std::string, bool, std::string> cases[] = {
      {"<title>A &mdash; B</title><p>x</p>", "d.html", "x", false, "A \xE2\x80\x94 B"},
      {"line\r\nline", "d.txt", "line\nline", false, ""},
      {std::string(kMaxViewBytes, 'a') + "tail", "big.txt", std::string(100, 'a'), true, ""},
      {std::string(kMaxViewBytes, 'a'), "full.txt", std::string(100, 'a'), false, ""},
  };
  for (const auto& [bytes, name, start, cut, title] : cases) {
    testutil::writeFile(dir.sub(name), bytes);
    const UniqueFd fd(open(dir.sub(name).c_str(), O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(fd);
    // Read from wherever the snippet left the file.
    ASSERT_GE(lseek(fd.get(), 3, SEEK_SET), 0);
    DocumentView view;
    ASSERT_TRUE(readDocumentView(fd.get(), name, kLangEN, view)) << name;
    EXPECT_EQ(view.text.substr(0, start.size()), start) << name;
    EXPECT_LE(view.text.size(), kMaxViewBytes);
    EXPECT_EQ(view.cut, cut) << name;
    EXPECT_EQ(view.title, title) << name;
  }
}

TEST(RawDocument, TextIsShownAsTextAndEverythingElseSaved) {
  const std::string text = "plain text", binary = std::string("PK\3\4\0\0", 6);
  // Name, head, language; type, shown.
  const std::tuple<std::string, std::string, int, std::string, bool> cases[] = {
      {"a.txt", text, kLangEN, "text/plain; charset=utf-8", true},
      {"README", text, kLangEN, "text/plain; charset=utf-8", true},
      // HTML and SVG would run in this site: the one is shown as source, the other saved.
      {"page.HTML", "<script>x()</script>", kLangEN, "text/plain; charset=utf-8", true},
      {"i.svg", "<svg onload='x()'/>", kLangEN, "application/octet-stream", false},
      {"a.txt", "caf\xE9", kLangEN, "text/plain; charset=windows-1252", true},
      {"a.txt", "\xA4\xA4", kLangCH, "text/plain; charset=Big5", true},
      {"r.pdf", "%PDF-1.4", kLangEN, "application/pdf", false},
      {"r.PDF", text, kLangEN, "application/pdf", false},
      {"r.docx", binary, kLangEN,
       "application/vnd.openxmlformats-officedocument.wordprocessingml.document", false},
      {"data", binary, kLangEN, "application/octet-stream", false},
      {"x.txt", "%PDF-1.4 pretending", kLangEN, "application/octet-stream", false},
      {"dir.pdf/a.txt", text, kLangEN, "text/plain; charset=utf-8", true},
  };
  for (const auto& [name, head, language, type, shown] : cases) {
    const RawType raw = rawTypeOf(name, head, language);
    EXPECT_EQ(raw.contentType, type) << name;
    EXPECT_EQ(raw.shownInline, shown) << name;
  }
}

TEST(RawDocument, FileNamesCannotBreakTheHeader) {
  // Name, shown; the value.
  const std::tuple<std::string, bool, std::string> cases[] = {
      {"a.txt", true, "inline; filename=\"a.txt\"; filename*=UTF-8''a%2Etxt"},
      {"r\xC3\xA9sum\xC3\xA9.pdf", false,
       "attachment; filename=\"r__sum__.pdf\"; filename*=UTF-8''r%C3%A9sum%C3%A9%2Epdf"},
      {"a\"b\r\nSet-Cookie: x;y.txt", true,
       "inline; filename=\"a_b__Set-Cookie__x_y.txt\"; "
       "filename*=UTF-8''a%22b%0D%0ASet%2DCookie%3A%20x%3By%2Etxt"},
      {".profile", true, "inline; filename=\"_profile\"; filename*=UTF-8''%2Eprofile"},
      {"\xE6\x97\xA5", false, "attachment; filename=\"document\"; filename*=UTF-8''%E6%97%A5"},
      {"", false, "attachment; filename=\"document\""},
  };
  for (const auto& [name, shown, value] : cases)
    EXPECT_EQ(contentDisposition(name, shown), value) << name;
}

TEST(RawDocument, BytesComeSandboxedAndExactlyAsRecorded) {
  testutil::TempDir dir;
  testutil::writeFile(dir.sub("a.html"), "<script>alert(1)</script>");
  const UniqueFd fd(open(dir.sub("a.html").c_str(), O_RDONLY | O_CLOEXEC));
  ASSERT_TRUE(fd);
  ResultPage page = viewedPage();
  page.hits[0].fileName = "a.html";
  page.user = "alice";
  const std::string header = rawDocumentAnswer(page, page.hits[0], fd.get()).header();
  expectParts(header,
              {"Content-Type: text/plain; charset=utf-8\n",
               "Content-Disposition: inline; filename=\"a.html\"; filename*=UTF-8''a%2Ehtml\n",
               std::string("Content-Security-Policy: ") + kSandboxPolicy + "\n",
               "X-Content-Type-Options: nosniff\n", "Cache-Control: no-store\n"});
  EXPECT_EQ(header.substr(header.size() - 2), "\n\n");
  // The bytes the index recorded: fewer is a changed file, more is cut off.
  const std::string out = dir.sub("out");
  for (const auto& [size, ok, written] : std::vector<std::tuple<uint64_t, bool, std::string>>{
           {25, true, "<script>alert(1)</script>"},
           {8, true, "<script>"},
           {26, false, "<script>alert(1)</script>"}}) {
    std::FILE* file = std::fopen(out.c_str(), "w");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(copyDocument(fd.get(), size, file), ok) << size;
    std::fclose(file);
    EXPECT_EQ(testutil::readFile(out), written);
  }
}

TEST(Lines, CutToTheirLimitsAndTheLastCountsWithoutALineFeed) {
  EXPECT_EQ(splitLines("a\nbcdef\n\nlast", 10, 3),
            (std::vector<std::string>{"a", "bcd", "", "las"}));
  EXPECT_EQ(splitLines("a\nb\nc\n", 2, 10), (std::vector<std::string>{"a", "b"}));
  EXPECT_TRUE(splitLines("", 5, 5).empty());
}

TEST(Files, NothingButARegularFileIsReadAndAHeadOnlyAsFarAsAsked) {
  testutil::TempDir dir;
  testutil::writeFile(dir.sub("plain"), "first\r\nsecond\n");
  testutil::writeFile(dir.sub("empty"), "");
  ASSERT_EQ(symlink(dir.sub("plain").c_str(), dir.sub("link").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.sub("pipe").c_str(), 0600), 0);  // opening it must not wait
  std::string line;
  ASSERT_TRUE(readFirstLineOf(dir.sub("plain"), 100, line));
  EXPECT_EQ(line, "first");
  ASSERT_TRUE(readFirstLineOf(dir.sub("plain"), 3, line));
  EXPECT_EQ(line, "fir");
  for (const char* refused : {"link", "pipe", "missing", "empty", ""})
    EXPECT_FALSE(readFirstLineOf(dir.sub(refused), 100, line)) << refused;
  std::string bytes;
  ASSERT_TRUE(readFilePrefix(dir.sub("plain"), 4, bytes));
  EXPECT_EQ(bytes, "firs");
  // A head is read only as far as asked.
  bytes.clear();
  for (int i = 0; bytes.size() < 100000; ++i)
    bytes += std::to_string(i) + ",";
  testutil::writeFile(dir.sub("doc"), bytes);
  const UniqueFd fd = openRegularFile(dir.sub("doc"));
  ASSERT_TRUE(fd);
  FileHead head(fd.get());
  std::string_view got;
  // Bytes asked for, bytes given, where the file stands afterwards.
  const std::tuple<size_t, size_t, off_t> steps[] = {{10, 10, 10},
                                                     {4, 4, 10},
                                                     {4096, 4096, 4096},
                                                     {1 << 20, bytes.size(), bytes.size()},
                                                     {50, 50, bytes.size()}};
  for (const auto& [asked, given, offset] : steps) {
    ASSERT_TRUE(head.read(asked, got)) << asked;
    EXPECT_EQ(got, std::string_view(bytes).substr(0, given)) << asked;
    EXPECT_EQ(lseek(fd.get(), 0, SEEK_CUR), offset) << asked;
  }
  const UniqueFd directory(open(dir.path().c_str(), O_RDONLY | O_DIRECTORY));
  FileHead unreadable(directory.get());
  EXPECT_FALSE(unreadable.read(10, got));
}

TEST(Files, AResultFileMustBeOursAndUnchangeableByOthers) {
  testutil::TempDir dir;
  // Mode, whether the file is believed.
  const std::pair<mode_t, bool> cases[] = {{0600, true},  {0644, true},  {0400, true},
                                           {0620, false}, {0602, false}, {0666, false}};
  for (const auto& [mode, believed] : cases) {
    testutil::writeFile(dir.sub("f"), "x");
    ASSERT_EQ(chmod(dir.sub("f").c_str(), mode), 0);
    bool missing = true;
    EXPECT_EQ(static_cast<bool>(openOwnFile(dir.sub("f"), missing)), believed) << std::oct << mode;
    EXPECT_FALSE(missing);
  }
  ASSERT_EQ(chmod(dir.sub("f").c_str(), 0600), 0);
  ASSERT_EQ(symlink(dir.sub("f").c_str(), dir.sub("link").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.sub("pipe").c_str(), 0600), 0);
  for (const char* refused : {"link", "pipe", "."}) {
    bool missing = true;
    EXPECT_FALSE(openOwnFile(dir.sub(refused), missing)) << refused;
    EXPECT_FALSE(missing) << refused;
  }
  bool missing = false;
  EXPECT_FALSE(openOwnFile(dir.sub("none"), missing));
  EXPECT_TRUE(missing);
  if (geteuid() == 0) {  // only root can give a file away
    ASSERT_EQ(chown(dir.sub("f").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(openOwnFile(dir.sub("f"), missing));
  }
}

TEST(Installation, SettingsAreReadAsTheSystemReadsThemButNeverThroughALink) {
  testutil::TempDir root;
  const testutil::ScopedCwd cwd(testutil::makeInstallSkeleton(root.path()));
  const auto write = [&root](const std::string& rel, const std::string& bytes) {
    testutil::writeFile(root.sub(rel), bytes);
  };
  Installation none = Installation::read();
  EXPECT_EQ(none.language, kLangUnknown);
  EXPECT_EQ(none.loginTimeoutSeconds, 3600u);
  EXPECT_EQ(none.indexHome("alice", "news"), "");  // no system directory
  EXPECT_TRUE(none.isLocalHost("10.1.1.1"));       // a host that knows no address of its own
  write("lang.cfg", "JP\r\n");
  write("host_address", "10.0.0.1\n");
  write("setting/system_info.cfg",
        "#SYSTEM_DIRECTORY=/commented\nSYSTEM_DIRECTORY =/wrong key\nSYSTEM_DIRECTORY=/sys\n"
        "SYSTEM_DIRECTORY=/second\nDOMAIN_NAME=dom\n");
  write("setting/user_config.cfg", "LOGIN_TIMEOUT=99999999\n");
  const Installation inst = Installation::read();
  EXPECT_EQ(inst.language, kLangJP);
  EXPECT_EQ(inst.loginTimeoutSeconds, 2592000u);
  EXPECT_EQ(inst.indexHome("alice", "news"), "/sys/group/dom/User/alice/index/news");
  EXPECT_EQ(inst.incIndexHome("/grp/a", "news"), "/sys/group/grp/a/index/news_inc");
  EXPECT_TRUE(inst.isLocalHost("10.0.0.1"));
  EXPECT_TRUE(inst.isLocalHost("127.0.0.1"));
  EXPECT_FALSE(inst.isLocalHost("10.0.0.2"));
  // What the library reads gives the same answers.
  systemResetCaches();
  EXPECT_EQ(inst.language, systemGetLanguage());
  EXPECT_EQ(inst.indexHome("alice", "news"), systemGetIndexHome("alice", "news"));
  EXPECT_EQ(static_cast<int>(inst.loginTimeoutSeconds), systemGetUserLoginTimeOut());
  systemResetCaches();
  // A settings file replaced by a link is not read.
  write("elsewhere/system_info.cfg", "SYSTEM_DIRECTORY=/planted\n");
  write("elsewhere/lang.cfg", "GB\n");
  for (const auto& [file, planted] :
       {std::pair<const char*, const char*>{"setting/system_info.cfg", "system_info.cfg"},
        {"lang.cfg", "lang.cfg"}}) {
    ASSERT_EQ(unlink(root.sub(file).c_str()), 0);
    ASSERT_EQ(
        symlink(root.sub(std::string("elsewhere/") + planted).c_str(), root.sub(file).c_str()), 0);
  }
  const Installation linked = Installation::read();
  EXPECT_EQ(linked.systemHome, "");
  EXPECT_EQ(linked.language, kLangUnknown);
}

}  // namespace
}  // namespace render
