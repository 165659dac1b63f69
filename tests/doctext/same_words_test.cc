/// @file same_words_test.cc
/// @brief What the index builder indexes and what the renderer shows of the
/// same document are the same words: each document goes through the
/// builder's reading (code page, extraction, folding, as indexed, without
/// the engine) and through the renderer's (the text its snippets and views
/// are made of, and its title), and both must give the words expected.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "companions/builder/doc_extract.h"
#include "companions/doctext/code_pages.h"
#include "companions/doctext/snippet.h"
#include "companions/doctext/words.h"
#include "system/layout.h"

namespace {

using Words = std::vector<std::string>;

Words wordsOf(std::string_view text) {
  Words out;
  for (const doctext::TextToken& t : doctext::tokenize(doctext::foldText(text)))
    out.push_back(t.text);
  return out;
}

bool containsIgnoringAsciiCase(std::string_view text, std::string_view word) {
  const auto lower = [](std::string_view s) {
    std::string out(s);
    for (char& c : out)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
  };
  return lower(text).find(lower(word)) != std::string::npos;
}

struct Reading {
  Words words;
  std::string title;
};

// The body words the builder indexes and the title it records.
Reading builderReading(const std::string& name, const std::string& bytes, int language) {
  const vela::DocKind kind = vela::classifyDocument(name, bytes);
  if (kind == vela::DocKind::kSkip) return {};
  const bool html = kind == vela::DocKind::kHtml;
  const vela::CodePage cp(vela::languageFromCode(language));
  const std::string utf8 = vela::decodeDocument(bytes, cp, html);
  const vela::DocText doc = html ? vela::extractHtml(utf8) : vela::extractText(utf8);
  return {wordsOf(doc.body), doc.title};
}

// The words of the text the renderer makes snippets of, which must be those
// of the text its document view shows; and the title it shows.
Reading rendererReading(const std::string& name, const std::string& bytes, int language) {
  Reading r;
  r.words = wordsOf(render::documentText(bytes, name, language));
  EXPECT_EQ(wordsOf(render::documentReadableText(bytes, name, language, false)), r.words);
  render::documentTitle(
      [&bytes](size_t n, std::string_view& out) {
        out = std::string_view(bytes).substr(0, n);
        return true;
      },
      name, language, r.title);
  return r;
}

struct Case {
  const char* what;
  std::string name;
  std::string bytes;
  int language;
  Words words;
  std::string title;  // "" when the document has no title element
};

const std::string kAs(300, 'A');
std::string repeated(std::string_view s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i)
    out += s;
  return out;
}
const std::string kEs = repeated("\xC3\x89", 150);  // É, 300 bytes

const Case kCases[] = {
    {"named and numeric references",
     "a.html",
     "<title>Caf&eacute; &mdash; &#x4E2D;</title><p>caf&eacute; &mdash; na&iuml;ve &amp; "
     "r&eacute;sum&eacute; &#x4E2D;&#25991; it&apos;s x&#39;y A&#x42;C &bogus;",
     kLangEN,
     {"café", "naïve", "résumé", "中", "文", "it", "s", "x", "y", "abc", "bogus"},
     "Café — 中"},
    {"inline tags join, block tags separate",
     "a.htm",
     "<p><b>w</b>ord <span class=x>in</span><i>line</i> <a href='y'>li</a>nk H<sub>2</sub>O "
     "<em>e</em><strong>m</strong> <font size=2>f</font>ont</p>a<br>b<p>c</p>d<div>e</div>f"
     "<li>g<td>h<h1>i</h1>j<tr>k<BR/>l",
     kLangEN,
     {"word", "inline", "link", "h2o", "em", "font", "a", "b", "c", "d", "e", "f", "g", "h", "i",
      "j", "k", "l"},
     ""},
    {"comments, scripts, styles and CDATA",
     "a.html",
     "<head><title>T</title><style>p{color:red}</style></head><body>x<!-- y -->z "
     "<script>var q = 1 < 2;</script>w<STYLE>b{}</STYLE>v <![CDATA[a<b> &amp; c]]>d 1 < 2",
     kLangEN,
     {"xz", "wv", "a", "b", "amp", "cd", "1", "2"},
     "T"},
    {"a Japanese text file in the Windows code page",
     "a.txt",
     "\x93\xFA\x96\x7B C:\\dir \x87\x40\x8F\xCD \x81\x60",  // 日本 C:\dir ①章 ～
     kLangJP,
     {"日", "本", "c", "dir", "①", "章"},
     ""},
    {"a page declaring Shift_JIS is read in the Windows code page",
     "a.html",
     "<meta charset=\"Shift_JIS\"><title>C:\\dir \x87\x40</title><p>\x87\x40\x8F\xCD a\\b",
     kLangEN,
     {"①", "章", "a", "b"},
     "C:\\dir ①"},
    {"a page in Japanese EUC",
     "a.html",
     "<meta http-equiv=Content-Type content='text/html; charset=EUC-JP'>"
     "<title>\xAD\xA1 x\\y</title><p>\xA4\xA2\xAD\xA1</p>",
     kLangJP,
     {"あ", "①"},
     "① x\\y"},
    {"a page in UTF-8",
     "a.html",
     "<title>日本語①</title><p>日本語①\\x</p>",
     kLangJP,
     {"日", "本", "語", "①", "x"},
     "日本語①"},
    {"words at and past the term limit",
     "a.txt",
     kAs + " " + std::string(doctext::kMaxTermBytes, 'b') + " " + kEs,
     kLangEN,
     {std::string(doctext::kMaxTermBytes, 'a'), std::string(doctext::kMaxTermBytes, 'b'),
      repeated("\xC3\xA9", doctext::kMaxTermBytes / 2)},  // é
     ""},
    {"mixed scripts",
     "a.html",
     "<p>ελληνικά русский English 中文 한국어 עברית x_y 3.14 ﾎﾟｲﾝﾄ ＡＢＣ</p>",
     kLangEN,
     {"ελληνικά", "русский", "english", "中", "文", "한", "국", "어", "עברית", "x_y", "3", "14",
      "ポ", "イ", "ン", "ト", "abc"},
     ""},
    {"western text on an English installation",
     "a.txt",
     "caf\xE9 \x93q\x94",
     kLangEN,
     {"café", "q"},
     ""},
};

TEST(SameWords, WhatIsIndexedIsWhatIsShown) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const Reading built = builderReading(c.name, c.bytes, c.language);
    const Reading shown = rendererReading(c.name, c.bytes, c.language);
    EXPECT_EQ(built.words, c.words);
    EXPECT_EQ(shown.words, c.words);
    if (!c.title.empty()) {
      EXPECT_EQ(built.title, c.title);
      EXPECT_EQ(shown.title, c.title);
    }
    // Every word indexed is marked where the renderer shows it, as a whole
    // word: both split words alike. (The renderer finds terms ignoring the
    // case of ASCII letters only: the words it shows in another case or
    // width are left out here.)
    const std::string text = render::documentText(c.bytes, c.name, c.language);
    for (const std::string& word : built.words) {
      if (!containsIgnoringAsciiCase(text, word)) continue;
      bool marked = false;
      for (const render::SnippetPiece& p : render::markTerms(text, {word}))
        marked = marked || (p.term && wordsOf(p.text).at(0).substr(0, word.size()) == word);
      EXPECT_TRUE(marked) << word;
    }
  }
}

TEST(SameWords, AQueryTermIsCutWhereTheIndexCutsItsWord) {
  // A long word is found through its cut term, and marked as that term.
  for (const std::string& word : {kAs, std::string(doctext::kMaxTermBytes + 1, 'x'), kEs}) {
    const std::string term = render::highlightTerms(doctext::foldText(word)).at(0);
    EXPECT_EQ(term, doctext::tokenize(doctext::foldText(word)).at(0).text);
    EXPECT_LE(term.size(), doctext::kMaxTermBytes);
  }
}

TEST(SameWords, OneCodePageTableForInstallationsAndDeclaredCharsets) {
  EXPECT_STREQ(doctext::localCodePage(kLangJP), "CP932");
  EXPECT_STREQ(doctext::localCodePage(kLangCH), "CP950");
  EXPECT_STREQ(doctext::localCodePage(kLangGB), "GBK");
  EXPECT_STREQ(doctext::localCodePage(kLangUnknown), "UTF-8");
  const std::pair<std::string, std::string> declared[] = {
      {"<meta charset=\"Shift_JIS\">", "CP932"},
      {"<meta http-equiv=Content-Type content='text/html; CHARSET = sjis'>", "CP932"},
      {"<meta charset=euc-jp>", "EUC-JP-MS"},
      {"<meta charset=Big5>", "CP950"},
      {"<meta charset=gb2312>", "GBK"},
      {"<meta charset=UTF8>", "UTF-8"},
      {"<meta charset=iso-8859-1>", "WINDOWS-1252"},
      {"<meta charset=KOI8-R>", "KOI8-R"},  // for the converter to know or not
      // The word in running text names nothing; a later declaration still counts.
      {"<p>the charset of this page</p>", ""},
      {"<p>which charset?</p><meta charset=\"utf-8\">", "UTF-8"},
      {std::string(doctext::kCharsetSearchBytes, ' ') + "<meta charset=big5>", ""},
  };
  for (const auto& [html, name] : declared)
    EXPECT_EQ(doctext::declaredCharset(html), name) << html.substr(0, 80);
}

}  // namespace
