/// @file snippet_test.cc
/// @brief Terms, document text and snippet windows.

#include "companions/renderer/snippet.h"

#include <gtest/gtest.h>

#include "companions/renderer/render_text.h"
#include "system/layout.h"

namespace render {
namespace {

std::string marked(const std::string& text, const std::vector<std::string>& terms, size_t max) {
  const Snippet s = makeSnippet(text, terms, max);
  std::string out = s.cutBefore ? "..." : "";
  for (const SnippetPiece& p : s.pieces)
    out += p.term ? "[" + p.text + "]" : p.text;
  return out + (s.cutAfter ? "..." : "");
}

TEST(Terms, TakenFromTheQueryAsUnderstood) {
  EXPECT_EQ(highlightTerms("report,Budget,REPORT, and (plan) -x \"q\" OR not"),
            (std::vector<std::string>{"report", "Budget", "plan", "x", "q"}));
  std::string many, wide = "x";
  for (int i = 0; i < 100; ++i) {
    many += "t" + std::to_string(i) + ",";
    wide += "\xE4\xB8\xAD";
  }
  EXPECT_EQ(highlightTerms(many).size(), kMaxTerms);
  EXPECT_EQ(highlightTerms(wide)[0], wide.substr(0, 253));  // not cut inside a character
}

TEST(Snippet, MarksWholeTermsIgnoringAsciiCase) {
  const char* const cases[][3] = {
      {"The REPORT on the budget", "report,Budget", "The [REPORT] on the [budget]"},
      {"report port sports", "port", "report [port] sports"},  // only where a word begins
      {"reports", "report", "[report]s"},                      // the engine folds "reports"
      {"\xE5\xB9\xB4\xE5\xA0\xB1", "\xE5\xA0\xB1", "\xE5\xB9\xB4[\xE5\xA0\xB1]"},  // no words
      {"budgets", "budget,budgets", "[budgets]"},  // the longest term wins
      {"  a\n\n\tb  ", "", "a b"}};
  for (const auto& c : cases)
    EXPECT_EQ(marked(c[0], highlightTerms(c[1]), 200), c[2]);
  EXPECT_TRUE(makeSnippet(" \n\t ", {"x"}, 100).empty());
  EXPECT_TRUE(makeSnippet("text", {"x"}, 0).empty());
}

TEST(Snippet, WindowSurroundsTheFirstOccurrenceOnWholeWords) {
  std::string text;
  for (int i = 0; i < 100; ++i)
    text += "filler" + std::to_string(i) + " ";
  const std::string m = marked(text + "needle " + text, {"needle"}, 120);
  EXPECT_EQ(m.substr(0, 9), "...filler") << m;
  EXPECT_NE(m.find("[needle]"), std::string::npos) << m;
  EXPECT_TRUE(isdigit(m[m.size() - 4])) << m;                             // "...fillerNN..."
  EXPECT_TRUE(m.size() <= 120 + 8 && m.size() >= 120 + 8 - 2 * 16) << m;  // 8: the marks
  EXPECT_EQ(marked(std::string(500, 'a'), {"zzz"}, 100), std::string(100, 'a') + "...");
}

TEST(HtmlText, OnlyTheVisibleTextRemains) {
  EXPECT_EQ(htmlVisibleText("<head><title>T</title><style>x{}</style></head><p>a &amp; b</p>"
                            "<script>if(a<b)h()</script>c&#20013;&#x6587;<!-- n -->d<b>e</b>"
                            " 1 < 2 &bogus; &#0;<SCRIPT type=x>f()</SCRIPT>z"),
            " a & b c\xE4\xB8\xAD\xE6\x96\x87"
            "de 1 < 2 &bogus; " +
                std::string(kReplacement) + "z");
  EXPECT_EQ(htmlVisibleText("<p>cut <script>never"), " cut ");
}

TEST(DocumentText, EncodingIsDetectedAndWhatHasNoTextGivesNothing) {
  const std::tuple<const char*, std::string, int, std::string> cases[] = {
      {"a.txt", "caf\xC3\xA9", kLangCH, "caf\xC3\xA9"},
      {"b.txt", "\xA4\xA4\xA4\xE5", kLangCH, "\xE4\xB8\xAD\xE6\x96\x87"},
      {"c.txt", "\xEF\xBB\xBFx", kLangEN, "x"},
      {"d.txt", std::string("\xFF\xFEh\0i\0", 6), kLangEN, "hi"},
      {"e.html", "<meta charset=\"Shift_JIS\"><p>\x93\xFA</p>", kLangCH, " \xE6\x97\xA5 "},
      {"sub/f.HTM", "<p>a&lt;b</p>", kLangEN, " a<b "},
      {"g.html/x.txt", "<p>", kLangEN, "<p>"},  // the extension is the name's own
      {"bin.dat", std::string("ab\0cd", 5), kLangEN, ""},
      {"x.pdf", "%PDF-1.4 text", kLangEN, ""},
      // Only the first part is read, cut here inside a character.
      {"big.txt", std::string(kMaxDocumentBytes - 1, 'a') + "\xE4\xB8\xAD", kLangEN,
       std::string(kMaxDocumentBytes - 1, 'a')},
  };
  for (const auto& [name, bytes, language, text] : cases)
    EXPECT_EQ(documentText(bytes, name, language), text) << name;
}

}  // namespace
}  // namespace render
