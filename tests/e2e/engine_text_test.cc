/// @file engine_text_test.cc
/// @brief The engine's text handling and file formats in isolation: folding,
/// n-grams, the query language, the engine's command line, result file
/// encodings, code pages.

#include <gtest/gtest.h>

#include "companions/engine/codepage.h"
#include "companions/engine/csv_reader.h"
#include "companions/engine/digit_filter.h"
#include "companions/engine/doc_extract.h"
#include "companions/engine/engine_query.h"
#include "companions/engine/index_writer.h"
#include "companions/engine/query_parser.h"
#include "companions/engine/result_file.h"
#include "companions/engine/search_programs.h"
#include "companions/engine/text_fold.h"
#include "tests/test_util.h"

namespace {

using namespace vela;

TEST(EngineText, FoldingMatchesWidthsAndCase) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ＡＢＣｄｅ１２３", "abcde123"},
      {"MiXeD", "mixed"},
      {"ｶﾀｶﾅ", "カタカナ"},
      {"ﾃﾞｰﾀ", "データ"},     // voiced mark merged
      {"ﾎﾟｲﾝﾄ", "ポイント"},  // semi-voiced mark merged
      {"ｳﾞｧ", "ヴァ"},
      {"ｱﾞ", "ア゛"},  // a mark that does not combine stays a mark
      {"ÉCOLE", "école"},
      {"漢字 ＆ かな", "漢字 ＆ かな"},  // full-width punctuation is not folded
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(foldText(in), out) << in;
}

TEST(EngineText, CjkTextGivesCharactersAndBigrams) {
  std::vector<TextToken> tokens = tokenize("abc全文檢索 x漢");
  std::vector<std::string> texts;
  for (const TextToken& t : tokens)
    texts.push_back(t.text + (t.joined ? "+" : "") + "@" + std::to_string(t.pos));
  EXPECT_EQ(texts,
            (std::vector<std::string>{"abc@0", "全@1", "文+@2", "檢+@3", "索+@4", "x@5", "漢@6"}));
  std::vector<std::string> terms;
  for (const PositionedTerm& t : indexTerms(tokens))
    terms.push_back(t.term + "@" + std::to_string(t.pos));
  EXPECT_EQ(terms, (std::vector<std::string>{"abc@0", "全@1", "全文@1", "文@2", "文檢@2", "檢@3",
                                             "檢索@3", "索@4", "x@5", "漢@6"}));
  // A word longer than the term limit is cut on a character boundary.
  std::string longWord(100, 'a');
  longWord += std::string(60, 'a') + "é" + std::string(100, 'b');
  std::vector<TextToken> cut = tokenize(foldText(longWord));
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_LE(cut[0].text.size(), kMaxTermBytes);
  EXPECT_TRUE(isValidUtf8(cut[0].text));
}

TEST(EngineText, QueryLanguage) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a", "a"},
      {"a b", "(AND a b)"},
      {"a & b", "(AND a b)"},
      {"a+b", "(AND a b)"},
      {"a & AND & b", "(AND a b)"},
      {"a | b , c", "(OR a b c)"},
      {"a OR b", "(OR a b)"},
      {"a or b", "(AND a or b)"},  // operator words are upper case
      {"a | b c", "(OR a (AND b c))"},
      {"a -b", "(AND a (NOT b))"},
      {"a-b", "(AND a (NOT b))"},
      {"a NOT b", "(AND a (NOT b))"},
      {"-a", "(NOT a)"},
      {"- - a", "a"},
      {"(a | b) c", "(AND (OR a b) c)"},
      {"\"a | b\" c", "(AND \"a | b\" c)"},
      {"\"open phrase", "\"open phrase\""},
      {"a | | & b", "(OR a b)"},
      {"a ) b", "(AND a b)"},
      {"((a", "a"},
      {"", ""},
      {"& | -", ""},
      {"\"\"", ""},
      {"漢字　かな", "(AND 漢字 かな)"},  // the ideographic space separates
      {"ab*c?", "ab*c?"},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(describeQuery(parseQuery(in).get()), out) << in;
}

TEST(EngineText, QueryLimitsHoldForHostileInput) {
  std::string deep = std::string(10000, '(') + "a" + std::string(10000, ')');
  EXPECT_EQ(describeQuery(parseQuery(deep).get()), "a");
  std::string many;
  for (size_t i = 0; i < kMaxQueryLeaves + 50; ++i)
    many += "w ";
  auto tree = parseQuery(many);
  ASSERT_TRUE(tree);
  EXPECT_EQ(tree->children.size(), kMaxQueryLeaves);
}

TEST(EngineText, WildcardPatterns) {
  const std::vector<std::tuple<std::string, std::string, bool>> cases = {
      {"ab*", "abc", true},  {"ab*", "ab", true},  {"ab*", "a", false},    {"a?c", "abc", true},
      {"a?c", "ac", false},  {"*b*", "abc", true}, {"a*c", "abbbc", true}, {"a*c", "abcd", false},
      {"漢?", "漢字", true}, {"*", "", true},      {"a**b", "axxb", true}, {"?", "", false},
  };
  for (const auto& [pattern, text, match] : cases)
    EXPECT_EQ(wildcardMatch(pattern, text), match) << pattern << " " << text;
}

TEST(EngineText, EngineCommandLines) {
  struct Case {
    std::vector<std::string> args;
    bool ok;
    std::string query, termFile;
    bool fuzzy, negative, recordOrder;
    size_t limit;
    int similarity;
  };
  const std::vector<Case> cases = {
      // The option string of a plain search after the shell has split it.
      {{"-H", "h", "-binout", "-o", "o", "-B0", "-bm", "-s -i -F60", "apple pie"},
       true,
       "apple pie",
       "",
       false,
       false,
       false,
       0,
       60},
      {{"-H", "h", "-binout", "-o", "o", "-B", "-bm", "-s -i -F60 -w", "-e", "-ns", "-x"},
       true,
       "-x",
       "",
       true,
       true,
       true,
       0,
       60},
      {{"-H", "h", "-binout", "-o", "o", "-B0", "-bm", "-s -i -F75", "-f", "/t/q"},
       true,
       "",
       "/t/q",
       false,
       false,
       false,
       0,
       75},
      {{"-H", "h", "-o", "o", "-L10", "-B0", "-bm", "-s -i -F60", "-P", "k"},
       true,
       "k",
       "",
       false,
       false,
       false,
       10,
       60},
      {{"-H", "h", "-o", "o", "-L", "7", "q"}, true, "q", "", false, false, false, 7, 60},
      {{"-H", "h", "-o", "o", "-L0", "q"}, false, "", "", false, false, false, 0, 60},
      {{"-H", "h", "q"}, false, "", "", false, false, false, 0, 60},
      {{"-H", "h", "-o", "o"}, false, "", "", false, false, false, 0, 60},
      // The last word is the query even when it looks like a switch.
      {{"-H", "h", "-o", "o", "-f"}, true, "-f", "", false, false, false, 0, 60},
  };
  for (const Case& c : cases) {
    EngineArgs a;
    std::string error;
    std::string what = c.args.back();
    ASSERT_EQ(parseEngineArgs(c.args, a, error), c.ok) << what;
    if (!c.ok) {
      EXPECT_NE(error, "");
      continue;
    }
    EXPECT_EQ(a.query, c.query) << what;
    EXPECT_EQ(a.termFile, c.termFile) << what;
    EXPECT_EQ(a.fuzzy, c.fuzzy) << what;
    EXPECT_EQ(a.negative, c.negative) << what;
    EXPECT_EQ(a.recordOrder, c.recordOrder) << what;
    EXPECT_EQ(a.limit, c.limit) << what;
    EXPECT_EQ(a.similarity, c.similarity) << what;
  }
}

TEST(EngineText, BinoutEncoding) {
  std::string s;
  for (uint32_t v : {5u, 300u, 0u, 268435455u})
    appendUInt7(s, v);
  EXPECT_EQ(s, std::string("\x05\xAC\x02\x00\xFF\xFF\xFF\x7F", 8));
  // Hits are {record id, score}; a record id beyond the 4-byte form is left out.
  std::string file = encodeBinout("ab", {{1, 7}, {300, 3}, {kMaxRecordId + 1, 9}});
  EXPECT_EQ(file, std::string("ab\n\x02\x07\x01\x03\xAC\x02", 9));
  EXPECT_EQ(encodeTextResult("q", {{3, 12}}), "q\n1\n12 3\n");
}

TEST(EngineText, MatchedStringKeepsCharactersWhole) {
  CodePage big5(Language::kBig5);
  std::string longText = "a" + std::string(4200, '\xA4');  // double-byte characters from byte 1
  std::string header = headerMatchedString(longText, big5);
  EXPECT_EQ(header.size(), 4095u);  // 1 + 2047 characters of 2 bytes
  EXPECT_EQ(headerMatchedString("x\ny\rz", big5), "x y z");
  CodePage utf8(Language::kEnglish);
  // A three-byte character that would end at byte 4097 is left out whole.
  EXPECT_EQ(headerMatchedString(std::string(4094, 'e') + "\xE2\x82\xAC", utf8),
            std::string(4094, 'e'));
}

TEST(EngineText, CodePagesRoundTrip) {
  CodePage big5(Language::kBig5), sjis(Language::kShiftJis), gbk(Language::kGbk);
  EXPECT_EQ(big5.toUtf8("\xA5\xFE\xA4\xE5"), "全文");
  EXPECT_EQ(big5.fromUtf8("全文"), "\xA5\xFE\xA4\xE5");
  EXPECT_EQ(sjis.toUtf8("\xB6\x83\x4A"), "ｶカ");
  EXPECT_EQ(gbk.fromUtf8("中文"), "\xD6\xD0\xCE\xC4");
  // Bytes the code page does not define become blanks; characters it cannot
  // show become "?".
  EXPECT_EQ(big5.toUtf8("a\xFF"
                        "b"),
            "a b");
  EXPECT_EQ(sjis.fromUtf8("a€b"), "a?b");
  // Half-width katakana are one byte in Shift_JIS, other bytes above 0x80 lead two.
  EXPECT_EQ(sjis.cut("\xB6\xB6\x83\x4A", 3), "\xB6\xB6");
  EXPECT_EQ(big5.cut("\xA5\xFE\xA4\xE5", 3), "\xA5\xFE");
  EXPECT_EQ(languageFromCode(0), Language::kBig5);
  EXPECT_EQ(languageFromCode(2), Language::kGbk);
  EXPECT_EQ(languageFromCode(-1), Language::kEnglish);  // an unknown lang.cfg
}

TEST(EngineText, HtmlAndTextExtraction) {
  DocText d = extractHtml(
      "<html><head><title> The &amp; Title </title><style>p{}</style></head>"
      "<body><!-- hidden --><p>First&nbsp;line &#x4E2D;&#25991;</p><script>secret()</script>"
      "<br>second &bogus; a<b</body></html>");
  EXPECT_EQ(d.title, "The & Title");
  EXPECT_EQ(firstLine(d.body, 100), "First line 中文");
  EXPECT_EQ(d.body.find("secret"), std::string::npos);
  EXPECT_EQ(d.body.find("hidden"), std::string::npos);
  EXPECT_NE(d.body.find("second &bogus; a"), std::string::npos);
  EXPECT_EQ(extractText("\n  \n  Heading  \nbody").title, "Heading");
  EXPECT_EQ(firstLine("ééé", 5), "éé");
  EXPECT_EQ(classifyDocument("a.HTML", ""), DocKind::kHtml);
  EXPECT_EQ(classifyDocument("a.pdf", "text"), DocKind::kSkip);
  EXPECT_EQ(classifyDocument("a.dat", std::string("ab\0c", 4)), DocKind::kSkip);
  EXPECT_EQ(classifyDocument("README", "text"), DocKind::kText);
  CodePage sjis(Language::kShiftJis);
  EXPECT_EQ(decodeDocument("\x83\x4A", sjis, false), "カ");
  EXPECT_EQ(decodeDocument("\xEF\xBB\xBFok", sjis, false), "ok");
  EXPECT_EQ(decodeDocument("<meta charset=\"big5\">\xA5\xFE", sjis, true),
            "<meta charset=\"big5\">全");
}

TEST(EngineText, StoredRecordsRejectForeignData) {
  StoredRecord rec{"sub/a.txt", {"a.txt", "alice", 1100000000, 42, "@P:sub/a.txt\n"}};
  StoredRecord back;
  ASSERT_TRUE(decodeStoredRecord(encodeStoredRecord(rec), back));
  EXPECT_EQ(back.source, "sub/a.txt");
  EXPECT_EQ(back.info.time, 1100000000u);
  EXPECT_EQ(back.info.size, 42u);
  EXPECT_EQ(back.info.info, "@P:sub/a.txt\n");
  std::string good = encodeStoredRecord(rec);
  for (const std::string& bad :
       {std::string(""), std::string("junk"), good.substr(0, good.size() - 1),
        std::string("13:vela-record-1999999999999:x")})
    EXPECT_FALSE(decodeStoredRecord(bad, back)) << bad;
}

TEST(EngineText, CsvRows) {
  const std::vector<std::pair<std::string, std::vector<CsvRow>>> cases = {
      {"a,b\nc,d\n", {{"a", "b"}, {"c", "d"}}},
      {"a,b\r\nc,d", {{"a", "b"}, {"c", "d"}}},
      {"\"x,y\",\"say \"\"hi\"\"\"\n", {{"x,y", "say \"hi\""}}},
      {"\"two\nlines\",z", {{"two\nlines", "z"}}},
      {"a,,\n\n\nb", {{"a", "", ""}, {"b"}}},  // blank lines are skipped
      {"ab\"c\"", {{"ab\"c\""}}},              // a quote inside a cell is a character
      {"\"open", {{"open"}}},
      {"", {}},
  };
  for (const auto& [in, rows] : cases)
    EXPECT_EQ(parseCsv(in), rows) << in;
  EXPECT_EQ(parseCsv(std::string(5000, ',')).at(0).size(), kMaxCsvColumns);
}

TEST(EngineText, RangeBounds) {
  const std::vector<std::tuple<std::string, bool, double>> cases = {
      {"10", true, 10},  {"-3.5", true, -3.5}, {"+7", true, 7},   {"", true, -1},
      {"1e5", false, 0}, {"1.2.3", false, 0},  {"abc", false, 0}, {"-", false, 0},
      {".5", true, 0.5}, {"12 ", false, 0},
  };
  for (const auto& [text, ok, value] : cases) {
    double v = 0;
    EXPECT_EQ(parseRangeBound(text, -1, v), ok) << text;
    if (ok) {
      EXPECT_EQ(v, value) << text;
    }
  }
}

}  // namespace
