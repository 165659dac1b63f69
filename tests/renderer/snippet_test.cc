/// @file snippet_test.cc
/// @brief Terms, document text and snippet windows; and escaping, UTF-8 repair
/// and code page conversion of the renderer.

#include "companions/doctext/snippet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "companions/doctext/html_entities.h"
#include "companions/doctext/render_text.h"
#include "system/layout.h"

namespace render {
namespace {

// A snippet as one string, terms in brackets, so that two compare whole.
std::string shown(const Snippet& s) {
  std::string out = s.cutBefore ? "..." : "";
  for (const SnippetPiece& p : s.pieces)
    out += p.term ? "[" + p.text + "]" : p.text;
  return out + (s.cutAfter ? "..." : "");
}

std::string marked(const std::string& text, const std::vector<std::string>& terms, size_t max) {
  return shown(makeSnippet(text, terms, max));
}

TEST(Terms, TakenFromTheQueryAsUnderstood) {
  EXPECT_EQ(highlightTerms("report,Budget,REPORT, and (plan) -x \"q\" OR not"),
            (std::vector<std::string>{"report", "Budget", "plan", "x", "q"}));
  // A trailing wildcard stays, once, to stand for the words a term begins.
  EXPECT_EQ(highlightTerms("repo* (bud**) \"pl*\" * x*y"),
            (std::vector<std::string>{"repo*", "bud*", "pl*", "x*y"}));
  std::string many, wide = "x";
  for (int i = 0; i < 100; ++i) {
    many += "t" + std::to_string(i) + ",";
    wide += "\xE4\xB8\xAD";
  }
  EXPECT_EQ(highlightTerms(many).size(), kMaxTerms);
  // Cut at the index's term limit, not inside a character.
  EXPECT_EQ(highlightTerms(wide)[0], wide.substr(0, 1 + (kMaxTermBytes - 1) / 3 * 3));
}

TEST(Snippet, MarksWholeWordsIgnoringAsciiCase) {
  const char* const cases[][3] = {
      {"The REPORT on the budget", "report,Budget", "The [REPORT] on the [budget]"},
      {"report port sports", "port", "report [port] sports"},
      // Words as the engine splits them: the term must be the whole word.
      {"freedesktop free, (free) free_software free2", "free",
       "freedesktop [free], ([free]) "
       "free_software free2"},
      {"caf\xC3\xA9 caf", "caf", "caf\xC3\xA9 [caf]"},  // a letter of another script continues
      {"free\xE2\x80\x94libre \xC2\xAB"
       "free\xC2\xBB",
       "free", "[free]\xE2\x80\x94libre \xC2\xAB[free]\xC2\xBB"},  // punctuation ends it
      {"\xE5\xB9\xB4\xE5\xA0\xB1", "\xE5\xA0\xB1", "\xE5\xB9\xB4[\xE5\xA0\xB1]"},  // CJK: no words
      {"free\xE5\xA0\xB1", "free", "[free]\xE5\xA0\xB1"},  // a CJK character is a word of its own
      {"\xEF\xBD\x86ree free", "ree", "\xEF\xBD\x86ree free"},  // full-width letters are letters
      {"c++ c+++", "c++", "[c++] [c++]+"},  // an edge that is no letter may touch anything
      {"budgets budget", "budget,budgets", "[budgets] [budget]"},
      // A wildcard term marks the words it begins.
      {"Report reports repo preport", "repo*", "[Report] [reports] [repo] preport"},
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

TEST(HtmlText, OnlyTheVisibleTextRemainsWithItsReferencesDecoded) {
  EXPECT_EQ(htmlVisibleText("a&mdash;b &hellip; &Dagger;&dagger; &euro;5 &eacute;&nbsp;x &Mdash; "
                            "&amp;mdash;"),
            "a\xE2\x80\x94"
            "b \xE2\x80\xA6 \xE2\x80\xA1\xE2\x80\xA0 \xE2\x82\xAC"
            "5 "
            "\xC3\xA9 x &Mdash; &mdash;");
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
      // Not UTF-8 on an English installation: the western code page, as the
      // index read it (e acute, typographic quotes, the euro sign).
      {"w.txt", "caf\xE9 \x93q\x94 \x80", kLangEN,
       "caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D \xE2\x82\xAC"},
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

TEST(DocumentText, AWholeDocumentIsReadableWithItsLines) {
  const std::tuple<const char*, std::string, bool, std::string> cases[] = {
      {"a.txt", "one\r\ntwo\rthree\n\n  four", false, "one\ntwo\nthree\n\n  four"},
      {"a.html",
       "<html><head><title>T</title><style>p{}</style></head><body>\n  <h1>Head</h1>\n<p>One\n"
       "  line &amp; more</p><ul><li>a</li><li>b</li></ul>x<br>y</body></html>",
       false, "Head\nOne line & more\na\nb\nx\ny"},
      {"a.txt", "ab\xE4\xB8", true, "ab"},  // cut inside a character by the view's limit
      // Whole, it is no UTF-8: the western code page, as the index read it.
      {"a.txt", "ab\xE4\xB8", false, "ab\xC3\xA4\xC2\xB8"},
      {"b.bin", std::string("x\0y", 3), false, ""},
      {"c.txt",
       "\xEF\xBB\xBF"
       "bom",
       false, "bom"},
  };
  for (const auto& [name, bytes, cut, text] : cases)
    EXPECT_EQ(documentReadableText(bytes, name, kLangEN, cut), text) << name << " " << bytes;
  // Past the snippets' limit the text goes on.
  const std::string big = std::string(kMaxDocumentBytes, 'a') + " end";
  EXPECT_EQ(documentReadableText(big, "big.txt", kLangEN, false), big);
}

// A document in memory that remembers the most it was asked for.
struct MemoryDocument {
  std::string bytes;
  size_t mostAsked = 0;
  bool fails = false;
  DocumentHead head() {
    return [this](size_t n, std::string_view& out) {
      mostAsked = std::max(mostAsked, n);
      out = std::string_view(bytes).substr(0, n);
      return !fails;
    };
  }
};

TEST(DocumentText, AnHtmlTitleIsReadFromTheDocumentAndDecodedOnce) {
  // Document, language, title ("(none)" when there is none to take).
  const std::tuple<std::string, int, std::string> cases[] = {
      {"<title>Annual &mdash; 2005 &amp;mdash; &lt;b&gt;</title>", kLangEN,
       "Annual \xE2\x80\x94 2005 &mdash; <b>"},
      {"<!-- <title>no</title> --><TITLE lang=en>\n Yes\n  it is </TITLE>", kLangEN, "Yes it is"},
      {"<meta charset=\"Shift_JIS\"><title>\x93\xFA</title>", kLangEN, "\xE6\x97\xA5"},
      {"<title>" + std::string(400, 'x') + "</title>", kLangEN, std::string(kMaxTitleBytes, 'x')},
      {"<body><title>late</title>", kLangEN, "(none)"},
      {"<title>  </title>", kLangEN, "(none)"},
      {"<p>no title</p>", kLangEN, "(none)"},
      {std::string(kMaxTitleSearchBytes, ' ') + "<title>far</title>", kLangEN, "(none)"},
  };
  for (const auto& [bytes, language, expected] : cases) {
    MemoryDocument doc{bytes};
    std::string title = "(none)";
    documentTitle(doc.head(), "a.html", language, title);
    EXPECT_EQ(title, expected) << bytes.substr(0, 80);
    EXPECT_LE(doc.mostAsked, kMaxTitleSearchBytes);
  }
  MemoryDocument text{"<title>not html</title>"};
  std::string title;
  EXPECT_FALSE(documentTitle(text.head(), "a.txt", kLangEN, title));
}

// The snippet of a document read in steps, or "(none)"; and the snippet of
// its whole head read at once, as the renderer read every document before.
std::string stepped(MemoryDocument& doc, const std::string& name, int language,
                    const std::vector<std::string>& terms, size_t max, size_t firstStep) {
  Snippet s;
  return documentSnippet(doc.head(), name, language, terms, max, s, firstStep) ? shown(s)
                                                                               : "(none)";
}
std::string atOnce(const std::string& bytes, const std::string& name, int language,
                   const std::vector<std::string>& terms, size_t max) {
  const std::string text = documentText(bytes, name, language);
  return text.empty() ? "(none)" : shown(makeSnippet(text, terms, max));
}

// Documents whose reading depends on what lies past any step: constructs,
// characters and terms cut by the end of a step, late invalid bytes that
// decide the code page, text hidden until a late closing tag.
std::vector<std::string> trickyDocuments() {
  const std::string filler(5000, 'x');
  std::string spaced;
  for (int i = 0; i < 3000; ++i)
    spaced += "word" + std::to_string(i) + (i % 7 ? " " : "\n\t ");
  return {
      spaced + " the report " + spaced,
      filler + "report" + filler,
      std::string(4093, 'a') + " report",  // a term across the first step
      "<p>" + filler + "<script>report " + filler + "</script> report",
      "<p>" + filler + "<!-- report " + filler + " --> report",
      "<p>" + filler + "<title>" + filler + "</title> report &amp; more",
      "<p>" + filler + "<a href='" + filler + "'>report</a>",
      "<p>" + std::string(4090, ' ') + "&amp;&#x4E2D;&bogus; report",
      "<script>" + filler + filler,  // no visible text at all
      spaced + "report" + std::string(70000, 'y') + "\xC3\xA9 late \x93\xFA",
      "caf\xC3\xA9 report " + std::string(80000, 'z') + "\x93\xFA",
      "\xEF\xBB\xBF" + spaced + " report",
      std::string("\xFF\xFEr\0e\0p\0o\0r\0t\0 \0", 16) + std::string(9000, 'q') + "\xD8",
      std::string(2000, 'a') + std::string(1, '\0') + "report",
      std::string(300 * 1024, 'b') + " report",  // past what is read
      std::string(kMaxDocumentBytes - 3, 'c') + " report",
      std::string(1000, ' ') + "\n" + std::string(9000, '\t'),  // blanks only
      "",
      // What the first kilobytes decide: a zero byte after an early term, a
      // charset declared after it.
      "a report " + std::string(600, 'x') + std::string(1, '\0'),
      "<p>report \x93\xFA</p>" + std::string(2000, 'x') + "<meta charset=Shift_JIS>",
  };
}

TEST(DocumentSnippet, EveryCutAroundTheWindowGivesTheSameSnippet) {
  // The term lies past the first kilobytes, where prefixes are read as text.
  std::string words;
  for (int i = 0; words.size() < 4500; ++i)
    words += "w" + std::to_string(i) + " ";
  const std::string letters(80, 'l');  // no blank: the window may end anywhere in it
  const std::vector<std::string> terms{"rep", "reports", "report"};
  // A term that is also the start of a longer one; a reference that needs its
  // ";" slid across the end of the window; a block tag and a blank run.
  for (size_t shift = 0; shift < 64; ++shift) {
    const std::string near = "<b>rep</b> report reports " + letters.substr(0, shift) +
                             "&#x0004E2D;&amp;" + letters + "<blockquote>" + std::string(40, ' ') +
                             "z ";
    const std::string bytes = words + near + words.substr(0, 400);
    for (const char* name : {"a.html", "a.txt"}) {
      if (name[2] == 't' && shift % 8 != 0) continue;  // text has no references
      const std::string expected = atOnce(bytes, name, kLangEN, terms, 100);
      for (size_t cut = words.size(); cut < words.size() + 250; ++cut) {
        MemoryDocument doc{bytes};
        ASSERT_EQ(stepped(doc, name, kLangEN, terms, 100, cut), expected)
            << name << " shift " << shift << " cut " << cut;
      }
    }
  }
}

TEST(DocumentSnippet, ReadingInStepsShowsWhatReadingTheWholeHeadShowed) {
  const std::vector<std::string> terms{"report", "\xE4\xB8\xAD", "late"};
  for (const std::string& bytes : trickyDocuments()) {
    for (const char* name : {"a.txt", "a.html"}) {
      for (const int language : {kLangEN, kLangJP}) {
        const std::string expected = atOnce(bytes, name, language, terms, 100);
        for (const size_t firstStep : {size_t{1}, size_t{3000}, kFirstDocumentStep}) {
          MemoryDocument doc{bytes};
          EXPECT_EQ(stepped(doc, name, language, terms, 100, firstStep), expected)
              << name << " language " << language << " step " << firstStep << " size "
              << bytes.size();
        }
      }
    }
  }
}

TEST(DocumentSnippet, RandomDocumentsCutAnywhereGiveTheSameSnippet) {
  // Pieces that change meaning when cut or when followed by something else.
  std::vector<std::string> pieces{
      "report",   "Report",       "rep",  "ort",      " ",         "\n\t",
      "<p>",      "</p>",         "<",    ">",        "&",         "amp;",
      "&#x4E2D;", "<!--",         "-->",  "<script>", "</script>", "<title>",
      "\xC3\xA9", "\xE4\xB8\xAD", "\xE4", "\x93\xFA", "\xA4\xA4",  "charset=utf-8"};
  pieces.push_back(std::string(200, 'w'));
  std::mt19937 random(20240611);
  for (int round = 0; round < 300; ++round) {
    std::string bytes;
    const size_t length = std::uniform_int_distribution<size_t>(0, 12000)(random);
    while (bytes.size() < length)
      bytes += pieces[random() % pieces.size()];
    const std::vector<std::string> terms = round % 5 == 0 ? std::vector<std::string>{}
                                           : round % 5 == 1
                                               ? std::vector<std::string>{"rep*", "\xE4\xB8\xAD"}
                                               : std::vector<std::string>{"report", "\xE4\xB8\xAD"};
    const std::string name = round % 2 ? "r.html" : "r.txt";
    const int language = round % 3 == 0 ? kLangGB : kLangEN;
    const size_t max = 20 + random() % 300;
    const size_t firstStep = 1 + random() % 5000;
    MemoryDocument doc{bytes};
    ASSERT_EQ(stepped(doc, name, language, terms, max, firstStep),
              atOnce(bytes, name, language, terms, max))
        << "round " << round;
  }
}

TEST(DocumentSnippet, AnEarlyTermNeedsOnlyTheFirstKilobytes) {
  std::string bytes(1 << 20, 'x');
  // Term offset, most bytes asked for.
  const std::pair<size_t, size_t> cases[] = {
      {100, kFirstDocumentStep},
      {10000, 4 * kFirstDocumentStep},
      {bytes.size() - 10, kMaxDocumentBytes},  // never found: the whole head was needed
  };
  for (const auto& [at, asked] : cases) {
    MemoryDocument doc{bytes};
    doc.bytes.replace(at, 8, " report ");
    const std::string snippet = stepped(doc, "a.txt", kLangEN, {"report"}, 100, kFirstDocumentStep);
    EXPECT_EQ(snippet,
              atOnce(doc.bytes.substr(0, kMaxDocumentBytes), "a.txt", kLangEN, {"report"}, 100));
    EXPECT_EQ(doc.mostAsked, asked) << at;
  }
}

TEST(DocumentSnippet, WithoutTextOrBytesTheCallerDecides) {
  Snippet kept;
  kept.pieces.push_back({"kept", false});
  const std::pair<const char*, std::string> cases[] = {
      {"empty.txt", ""},
      {"bin.dat", "abc" + std::string(1, '\0') + std::string(9000, 'r')},
      {"x.pdf", "%PDF-1.4 report"},
      {"s.html", "<script>report" + std::string(9000, 'r')},
  };
  for (const auto& [name, bytes] : cases) {
    for (const size_t max : {100, 0}) {
      MemoryDocument doc{bytes};
      EXPECT_FALSE(documentSnippet(doc.head(), name, kLangEN, {"report"}, max, kept, 16))
          << name << " " << max;
      EXPECT_EQ(shown(kept), "kept") << name;
    }
  }
  MemoryDocument unreadable{"report"};
  unreadable.fails = true;
  EXPECT_FALSE(documentSnippet(unreadable.head(), "a.txt", kLangEN, {"report"}, 100, kept));
  EXPECT_EQ(shown(kept), "kept");
}

const std::string R(kReplacement);

TEST(Escape, MarkupBecomesEntitiesAndWhatXmlCannotCarryBlanks) {
  EXPECT_EQ(escapeMarkup("<a href='x'>&\"</a>"), "&lt;a href=&#39;x&#39;&gt;&amp;&quot;&lt;/a&gt;");
  EXPECT_EQ(escapeMarkup("&amp;"), "&amp;amp;");  // never taken as already escaped
  EXPECT_EQ(escapeMarkup(std::string("a\0b\x01\x1F\tc\nd\re", 11)), "a b  \tc\nd\re");
  EXPECT_EQ(escapeMarkup("x\xEF\xBF\xBEy\xEF\xBF\xBFz"), "x y z");  // U+FFFE, U+FFFF
  EXPECT_EQ(escapeMarkup("a\xA4<\xE4\xB8"), "a" + R + "&lt;" + R + R);
}

TEST(Utf8, RepairReplacesEachBadByte) {
  EXPECT_EQ(sanitizeUtf8("\xC3\xA9\xF0\x9F\x98\x80"), "\xC3\xA9\xF0\x9F\x98\x80");
  EXPECT_EQ(sanitizeUtf8("\xC0\xAF"), R + R);                  // overlong "/"
  EXPECT_EQ(sanitizeUtf8("\xED\xA0\x80"), R + R + R);          // a surrogate
  EXPECT_EQ(sanitizeUtf8("\xF4\x90\x80\x80"), R + R + R + R);  // above U+10FFFF
  EXPECT_EQ(sanitizeUtf8("ab\xE4\xB8", true), "ab");           // a prefix cut in a character
  EXPECT_EQ(sanitizeUtf8("ab\xE4x", true), "ab" + R + "x");    // not cut: broken
  EXPECT_TRUE(isUtf8("ab\xE4\xB8", true));
  EXPECT_FALSE(isUtf8("ab\xE4\xB8"));
  EXPECT_FALSE(isUtf8("\xED\xA0\x80"));
}

TEST(CodePage, LocalTextBecomesUtf8AndUtf8StaysUnderAnySpelling) {
  EXPECT_EQ(localToUtf8("\xA4\xA4\xA4\xE5", kLangCH), "\xE4\xB8\xAD\xE6\x96\x87");  // Big5
  EXPECT_EQ(localToUtf8("\x93\xFA\xB1", kLangJP), "\xE6\x97\xA5\xEF\xBD\xB1");      // SJIS, kana
  EXPECT_EQ(localToUtf8("\xD6\xD0\xCE\xC4", kLangGB), "\xE4\xB8\xAD\xE6\x96\x87");  // GBK
  EXPECT_EQ(localToUtf8("caf\xE9", kLangEN), "caf" + R);
  EXPECT_EQ(localToUtf8("x\x80", kLangUnknown), "x" + R);
  // An undefined double-byte character is one replacement; a lead byte at the end too.
  EXPECT_EQ(localToUtf8("a\xFF\xFFz\xA4", kLangCH), "a" + R + "z" + R);
  // Without iconv's charset each character is replaced once, by the lead-byte rule.
  EXPECT_EQ(charsetToUtf8("a\xA4\xA4z\xB1", "NO-SUCH", kLangCH), "a" + R + "z" + R);
  EXPECT_EQ(charsetToUtf8("a\xA4\xB1", "NO-SUCH", kLangJP), "a" + R + R);
  // Under any spelling UTF-8 stays as it is and only broken text is replaced.
  for (const char* name : {"utf-8", "Utf8", "UTF8"}) {
    EXPECT_EQ(charsetToUtf8("caf\xC3\xA9 \xEF\xBB\xBF", name, kLangEN), "caf\xC3\xA9 \xEF\xBB\xBF");
    EXPECT_EQ(charsetToUtf8("ab\xE4\xB8", name, kLangEN, true), "ab");  // cut in a character
    EXPECT_EQ(charsetToUtf8("ab\xE4\xB8", name, kLangEN), "ab" + R);
    // A broken character is replaced once, its length by the lead-byte rule
    // of the installation, as for any other charset.
    EXPECT_EQ(charsetToUtf8("a\xE4\xB8x", name, kLangJP), "a" + R + "x") << name;
  }
}

TEST(CodePage, NoTextInheritsAnythingFromTheOneBefore) {
  // Converters may be kept from one text to the next: a byte order mark, a
  // shift sequence or a cut character of one text must not change the next.
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(charsetToUtf8(std::string("\xFE\xFF\0h\0i", 6), "UTF-16", kLangEN), "hi");
    EXPECT_EQ(charsetToUtf8(std::string("\xFF\xFEh\0i\0", 6), "UTF-16", kLangEN), "hi");
    EXPECT_EQ(charsetToUtf8("\x1B$B\x46\x7C", "ISO-2022-JP", kLangJP), "\xE6\x97\xA5");
    EXPECT_EQ(charsetToUtf8("ab", "ISO-2022-JP", kLangJP), "ab");
    EXPECT_EQ(charsetToUtf8("a\x93", "SHIFT_JIS", kLangJP, true), "a");
    EXPECT_EQ(localToUtf8("\x93\xFA", kLangJP), "\xE6\x97\xA5");
    EXPECT_EQ(localToUtf8("\xA4", kLangCH), R);
    EXPECT_EQ(localToUtf8("\xA4\xA4", kLangCH), "\xE4\xB8\xAD");
  }
}

TEST(Json, StringsAreEscapedUtf8ThatStaysInertWhereverEmbedded) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain", "\"plain\""},
      {"a\"b\\c/", "\"a\\\"b\\\\c/\""},
      {"\n\t\r", "\"\\n\\t\\r\""},
      {std::string("\0\x01\x1F\x7F", 4), "\"\\u0000\\u0001\\u001f\\u007f\""},
      {"</script><!--&", "\"\\u003c/script\\u003e\\u003c!--\\u0026\""},
      {"\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\x94", "\"\\u2028\\u2029\xE2\x80\x94\""},
      {"caf\xE9", "\"caf" + R + "\""},  // not UTF-8: replaced, never passed on
      {"\xF0\x9F\x98\x80", "\"\xF0\x9F\x98\x80\""},
  };
  for (const auto& [text, json] : cases)
    EXPECT_EQ(jsonString(text), json) << text;
}

TEST(HtmlReferences, NamesAreHtmlsOwnAndRecordedTitlesDecodedOnce) {
  const std::pair<const char*, uint32_t> names[] = {
      {"mdash", 0x2014}, {"hellip", 0x2026}, {"Dagger", 0x2021}, {"dagger", 0x2020},
      {"AElig", 0xC6},   {"zwj", 0x200D},    {"amp", '&'},       {"Mdash", 0},
      {"", 0},           {"mdash;", 0},      {"thetasym", 0x3D1}};
  for (const auto& [name, cp] : names)
    EXPECT_EQ(namedCharacter(name), cp) << name;
  // The index builder decoded "&amp;", "&lt;" and numeric references itself:
  // what stands as one in its record is text.
  const std::pair<const char*, const char*> titles[] = {
      {"Annual &mdash; 2005", "Annual \xE2\x80\x94 2005"},
      {"&lt;b&gt; &amp;c &#8212; &quot;", "&lt;b&gt; &amp;c &#8212; &quot;"},
      {"&hellip;&hellip;", "\xE2\x80\xA6\xE2\x80\xA6"},
      {"&bogus; &mdash &; & &eacute;", "&bogus; &mdash &; & \xC3\xA9"},
      {"&toolongnamehere;", "&toolongnamehere;"},
  };
  for (const auto& [recorded, shown] : titles)
    EXPECT_EQ(decodeRecordedReferences(recorded), shown) << recorded;
}

TEST(Display, UnknownDatesEmptyAndSizesInUnits) {
  EXPECT_EQ(formatDate(0), "");
  EXPECT_EQ(formatSize(1023), "1023 B");
  EXPECT_EQ(formatSize(1024), "1.0 KB");
}

}  // namespace
}  // namespace render
