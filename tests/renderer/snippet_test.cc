/// @file snippet_test.cc
/// @brief Terms, document text and snippet windows.

#include "companions/renderer/snippet.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "companions/renderer/render_text.h"
#include "system/layout.h"
#include "tests/test_util.h"

namespace render {
namespace {

std::string marked(const Snippet& s) {
  std::string out = s.cutBefore ? "..." : "";
  for (const SnippetPiece& p : s.pieces)
    out += p.term ? "[" + p.text + "]" : p.text;
  return out + (s.cutAfter ? "..." : "");
}

TEST(Terms, TakenFromTheQueryAsUnderstood) {
  EXPECT_EQ(highlightTerms("report,Budget,REPORT, and (plan) -x \"q\" OR not"),
            (std::vector<std::string>{"report", "Budget", "plan", "x", "q"}));
  EXPECT_EQ(highlightTerms(" , ,"), std::vector<std::string>{});
  EXPECT_EQ(highlightTerms("\xE4\xB8\xAD\xE6\x96\x87,a"),
            (std::vector<std::string>{"\xE4\xB8\xAD\xE6\x96\x87", "a"}));
  std::string many;
  for (int i = 0; i < 100; ++i)
    many += "t" + std::to_string(i) + ",";
  EXPECT_EQ(highlightTerms(many).size(), kMaxTerms);
  // A long term is cut without splitting a character.
  const std::string longTerm(300, 'x');
  EXPECT_EQ(highlightTerms(longTerm)[0].size(), kMaxTermBytes);
  std::string wide;
  for (int i = 0; i < 100; ++i)
    wide += "\xE4\xB8\xAD";
  EXPECT_TRUE(isUtf8(highlightTerms(wide)[0]));
  EXPECT_EQ(highlightTerms(wide)[0].size(), 255u);
}

TEST(Snippet, MarksTermsIgnoringAsciiCase) {
  const Snippet s = makeSnippet("The annual REPORT on the budget", {"report", "Budget"}, 200);
  EXPECT_EQ(marked(s), "The annual [REPORT] on the [budget]");
}

TEST(Snippet, PlainWordsMatchOnlyWhereAWordBegins) {
  EXPECT_EQ(marked(makeSnippet("report port sports", {"port"}, 200)), "report [port] sports");
  // A prefix still counts: the engine folds "reports" to "report".
  EXPECT_EQ(marked(makeSnippet("reports", {"report"}, 200)), "[report]s");
  // Double-byte terms have no word boundaries.
  EXPECT_EQ(marked(makeSnippet("\xE5\xB9\xB4\xE5\xBA\xA6\xE5\xA0\xB1\xE5\x91\x8A",
                               {"\xE5\xA0\xB1\xE5\x91\x8A"}, 200)),
            "\xE5\xB9\xB4\xE5\xBA\xA6[\xE5\xA0\xB1\xE5\x91\x8A]");
  // The longest term at a place wins.
  EXPECT_EQ(marked(makeSnippet("budgets", {"budget", "budgets"}, 200)), "[budgets]");
}

TEST(Snippet, WindowSurroundsTheFirstOccurrence) {
  std::string text;
  for (int i = 0; i < 100; ++i)
    text += "filler" + std::to_string(i) + " ";
  text += "needle ";
  for (int i = 0; i < 100; ++i)
    text += "after" + std::to_string(i) + " ";
  const Snippet s = makeSnippet(text, {"needle"}, 120);
  EXPECT_TRUE(s.cutBefore);
  EXPECT_TRUE(s.cutAfter);
  const std::string m = marked(s);
  EXPECT_NE(m.find("[needle]"), std::string::npos);
  // Starts and ends on whole words, about the asked length.
  EXPECT_EQ(m.substr(3, 6), "filler");
  EXPECT_TRUE(isdigit(static_cast<unsigned char>(m[m.size() - 4]))) << m;  // "...afterN..."
  size_t bytes = 0;
  for (const SnippetPiece& p : s.pieces)
    bytes += p.text.size();
  EXPECT_LE(bytes, 120u);
  EXPECT_GE(bytes, 120u - 2 * 16);
}

TEST(Snippet, WithoutAnOccurrenceTheStartIsShown) {
  const Snippet s = makeSnippet(std::string(500, 'a'), {"zzz"}, 100);
  EXPECT_FALSE(s.cutBefore);
  EXPECT_TRUE(s.cutAfter);
  ASSERT_EQ(s.pieces.size(), 1u);
  EXPECT_EQ(s.pieces[0].text.size(), 100u);
  EXPECT_TRUE(makeSnippet("", {"x"}, 100).empty());
  EXPECT_TRUE(makeSnippet(" \n\t ", {"x"}, 100).empty());
  EXPECT_TRUE(makeSnippet("text", {"x"}, 0).empty());
}

TEST(Snippet, BlanksCollapseAndCharactersStayWhole) {
  EXPECT_EQ(marked(makeSnippet("  a\n\n\tb  ", {}, 100)), "a b");
  std::string wide;
  for (int i = 0; i < 200; ++i)
    wide += "\xE4\xB8\xAD";
  wide += "\xE6\x96\x87";
  for (int i = 0; i < 200; ++i)
    wide += "\xE4\xB8\xAD";
  for (size_t max : {10u, 11u, 50u, 101u}) {
    const Snippet s = makeSnippet(wide, {"\xE6\x96\x87"}, max);
    for (const SnippetPiece& p : s.pieces)
      EXPECT_TRUE(isUtf8(p.text)) << max;
    EXPECT_NE(marked(s).find("[\xE6\x96\x87]"), std::string::npos) << max;
  }
}

TEST(HtmlText, OnlyTheVisibleTextRemains) {
  const std::string text = htmlVisibleText(
      "<html><head><title>T1</title><style>x{}</style></head><body><p>a &amp; b</p>"
      "<script>if(a<b)hidden()</script>c&#20013;&#x6587;<!-- note -->d<b>e</b> 1 < 2 &bogus; "
      "&#0;<SCRIPT type=x>also()</SCRIPT>z</body></html>");
  EXPECT_NE(text.find("a & b"), std::string::npos) << text;
  EXPECT_NE(text.find("c\xE4\xB8\xAD\xE6\x96\x87"
                      "de"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("1 < 2 &bogus;"), std::string::npos) << text;
  EXPECT_NE(text.find("z"), std::string::npos);
  for (const char* gone : {"T1", "x{}", "hidden", "note", "also", "<b>", "<p>"})
    EXPECT_EQ(text.find(gone), std::string::npos) << gone << " in " << text;
  EXPECT_EQ(htmlVisibleText("<p>cut <script>never"), " cut ");
}

class DocumentTextTest : public ::testing::Test {
 protected:
  std::string file(const std::string& name, const std::string& bytes) {
    testutil::writeFile(dir_.sub(name), bytes);
    return dir_.sub(name);
  }
  testutil::TempDir dir_;
};

TEST_F(DocumentTextTest, EncodingIsDetected) {
  EXPECT_EQ(documentText(file("a.txt", "plain caf\xC3\xA9"), kLangCH), "plain caf\xC3\xA9");
  EXPECT_EQ(documentText(file("b.txt", "\xA4\xA4\xA4\xE5"), kLangCH), "\xE4\xB8\xAD\xE6\x96\x87");
  EXPECT_EQ(documentText(file("c.txt", "\xEF\xBB\xBFx"), kLangEN), "x");
  EXPECT_EQ(documentText(file("d.txt", std::string("\xFF\xFEh\0i\0", 6)), kLangEN), "hi");
  EXPECT_EQ(documentText(file("e.html", "<meta charset=\"Shift_JIS\"><p>\x93\xFA</p>"), kLangCH),
            " \xE6\x97\xA5 ");
  EXPECT_EQ(documentText(file("f.HTM", "<p>a&lt;b</p>"), kLangEN), " a<b ");
}

TEST_F(DocumentTextTest, WhatHasNoTextGivesNothing) {
  EXPECT_EQ(documentText(file("bin.dat", std::string("ab\0cd", 5)), kLangEN), "");
  EXPECT_EQ(documentText(file("x.pdf", "%PDF-1.4 text"), kLangEN), "");
  EXPECT_EQ(documentText(dir_.path(), kLangEN), "");
  EXPECT_EQ(documentText(dir_.sub("missing.txt"), kLangEN), "");
  // A named pipe would block the page until someone wrote to it.
  ASSERT_EQ(mkfifo(dir_.sub("pipe").c_str(), 0600), 0);
  EXPECT_EQ(documentText(dir_.sub("pipe"), kLangEN), "");
}

TEST_F(DocumentTextTest, OnlyTheFirstPartIsRead) {
  std::string big(kMaxDocumentBytes - 1, 'a');
  big += "\xE4\xB8\xAD";  // cut inside this character at the limit
  big += std::string(1000, 'b');
  const std::string text = documentText(file("big.txt", big), kLangEN);
  EXPECT_EQ(text, std::string(kMaxDocumentBytes - 1, 'a'));
}

}  // namespace
}  // namespace render
