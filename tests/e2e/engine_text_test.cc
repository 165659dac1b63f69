/// @file engine_text_test.cc
/// @brief The engine's text handling and file formats in isolation: folding,
/// n-grams, the query language, result file encodings, code pages, document
/// extraction, stored records, CSV rows and range bounds.

#include <gtest/gtest.h>

#include <iterator>
#include <tuple>

#include "companions/engine/codepage.h"
#include "companions/engine/csv_reader.h"
#include "companions/engine/digit_filter.h"
#include "companions/engine/doc_extract.h"
#include "companions/engine/engine_query.h"
#include "companions/engine/index_writer.h"
#include "companions/engine/query_parser.h"
#include "companions/engine/result_file.h"
#include "companions/engine/run_limits.h"
#include "companions/engine/source_tree.h"
#include "companions/engine/text_fold.h"
#include "system/recorded_path.h"
#include "tests/test_util.h"

namespace {

using namespace vela;
using namespace std::string_literals;
using Pairs = std::vector<std::pair<std::string, std::string>>;

TEST(EngineText, FoldingAndCjkTerms) {
  // Widths and case fold; a mark that does not combine stays; punctuation stays full-width.
  for (const auto& [in, out] : Pairs{{"ﾎﾟｲﾝﾄ", "ポイント"},
                                     {"ｳﾞｧ", "ヴァ"},
                                     {"ｱﾞ", "ア゛"},
                                     {"ÉCOLE", "école"},
                                     {"漢字 ＆ かな", "漢字 ＆ かな"}})
    EXPECT_EQ(foldText(in), out) << in;
  std::vector<std::string> terms;
  for (const PositionedTerm& t : indexTerms(tokenize("abc全文檢 x")))
    terms.push_back(t.term + "@" + std::to_string(t.pos));
  EXPECT_EQ(terms,
            (std::vector<std::string>{"abc@0", "全@1", "全文@1", "文@2", "文檢@2", "檢@3", "x@4"}));
  // A word longer than the term limit is cut on a character boundary.
  std::vector<TextToken> cut = tokenize(foldText(std::string(160, 'a') + "é" + "bbbbbbbbbbbb"));
  ASSERT_EQ(cut.size(), 1u);
  EXPECT_LE(cut[0].text.size(), kMaxTermBytes);
  EXPECT_TRUE(isValidUtf8(cut[0].text));
}

TEST(EngineText, QueryLanguage) {
  for (const auto& [in, out] : Pairs{{"a & AND & b", "(AND a b)"},  // the front's rewrite of AND
                                     {"a+b", "(AND a b)"},
                                     {"a | b , c", "(OR a b c)"},
                                     {"a or b", "(AND a or b)"},  // operator words are upper case
                                     {"a | b c", "(OR a (AND b c))"},
                                     {"- - a", "a"},
                                     {"\"a | b\" c", "(AND \"a | b\" c)"},
                                     {"\"open phrase", "\"open phrase\""},
                                     {"a | | & b", "(OR a b)"},
                                     {"a ) b", "(AND a b)"},
                                     {"& | -", ""},
                                     {"漢字　かな", "(AND 漢字 かな)"},  // the ideographic space
                                     {"a\x01"
                                      "b\x1F\x7F",
                                      "(AND a b)"},  // control bytes are blanks
                                     {"\"a\nb\"|c", "(OR \"a\nb\" c)"},
                                     {"ab*c?", "ab*c?"},
                                     // "-" excludes where a word begins, and joins inside one
                                     {"GPL-3", "GPL-3"},
                                     {"-foo", "(NOT foo)"},
                                     {"a - b", "(AND a (NOT b))"},
                                     {"a -b-c", "(AND a (NOT b-c))"},
                                     {"(a)-b", "(AND a (NOT b))"},
                                     {"\"a\"-b", "(AND \"a\" (NOT b))"},
                                     {"a--b- -", "a--b-"},
                                     {"x-*|AND-y", "(OR x-* AND-y)"}})
    EXPECT_EQ(describeQuery(parseQuery(in).get()), out) << in;
  std::string many;
  for (size_t i = 0; i < kMaxQueryLeaves + 50; ++i)
    many += "w ";
  ASSERT_TRUE(parseQuery(many));
  EXPECT_EQ(parseQuery(many)->children.size(), kMaxQueryLeaves);
  for (const auto& [pattern, text] : Pairs{{"ab*", "ab"}, {"漢?", "漢字"}, {"a**b", "axxb"}})
    EXPECT_TRUE(wildcardMatch(pattern, text)) << pattern;
  for (const auto& [pattern, text] : Pairs{{"a?c", "ac"}, {"a*c", "abcd"}, {"?", ""}})
    EXPECT_FALSE(wildcardMatch(pattern, text)) << pattern;
}

TEST(EngineText, WildcardWordsAsTheLimitCountsThem) {
  const std::pair<std::string, size_t> cases[] = {
      {"apple pie", 0},
      {"a* b? *c*", 3},
      {"\"a* b?\" c*", 1},       // a phrase holds no wildcard
      {"\"open a*", 0},          // to the end of the text
      {"a*-b*|c*+d*,e*&f*", 6},  // operator characters split words
      {"a*\nb*\x01"
       "c*",
       3},
      {"-a* NOT b*", 2},  // excluded words are expanded too
      {"(((a*)))", 1},
      {"AND* OR*", 2},  // operator words only as such
      // A hyphenated word counts each part with a wildcard, as the back-end
      // counts it.
      {"x-*", 1},
      {"gpl-3* well-known", 1},
      {"a*-b?-c", 2},
      {"\"x-*\" -y-z*", 1}};
  for (const auto& [query, count] : cases)
    EXPECT_EQ(countWildcardWords(parseQuery(query).get()), count) << query;
  std::string many;
  for (size_t i = 0; i < kMaxQueryLeaves + 10; ++i)
    many += "w* ";
  EXPECT_EQ(countWildcardWords(parseQuery(many).get()), kMaxQueryLeaves);  // the parser's cap
}

TEST(EngineText, RunLimitValues) {
  const std::tuple<std::string, size_t> cases[] = {
      {"7", 7},  {" 12\r", 12}, {"\t0", 0}, {"", 5},      {"x", 5},
      {"-1", 5}, {"1e3", 5},    {"257", 5}, {"256", 256}, {"3 4", 5}};
  for (const auto& [text, value] : cases)
    EXPECT_EQ(limitValue(text, 0, 256, 5), value) << text;
  testutil::TempDir dir;
  testutil::writeFile(dir.sub("opt.cfg"),
                      "# limits\nMAX_EXPANDED_WORDS=20\nMAX_WILDCARD_TERMS=9\n");
  RunLimits set = readRunLimits(dir.sub("opt.cfg").c_str());
  EXPECT_EQ(set.maxWildcardWords, 9u);
  EXPECT_EQ(set.maxExpandedWords, 20u);
  testutil::writeFile(dir.sub("bad.cfg"), "MAX_EXPANDED_WORDS=0\nMAX_WILDCARD_TERMS=999\n");
  RunLimits bad = readRunLimits(dir.sub("bad.cfg").c_str());
  EXPECT_EQ(bad.maxWildcardWords, 5u);
  EXPECT_EQ(bad.maxExpandedWords, 1000u);
  EXPECT_EQ(readRunLimits(dir.sub("missing.cfg").c_str()).maxExpandedWords, 1000u);
}

TEST(EngineText, WildcardsShareTheirScans) {
  testutil::TempDir dir;
  {
    IndexWriter writer(dir.sub("idx"));
    for (const char* words : {"apple apricot orange", "apple grape", "pear plum", "orchard"})
      writer.add({}, {"", {"", words}});
    std::string error;
    ASSERT_TRUE(writer.finish(error)) << error;
  }
  Xapian::Database db = openIndexDb(dir.sub("idx"));
  const uint64_t vocabulary = std::distance(db.allterms_begin(), db.allterms_end());
  ASSERT_EQ(vocabulary, 7u);
  // Five patterns that each need the whole term list: one pass for all.
  WildcardExpander leading(db, 100);
  leading.prepare({"*a*", "*e*", "*r*", "*p*", "?l*"});
  EXPECT_EQ(leading.termsVisited(), vocabulary);
  EXPECT_EQ(leading.expand("*r*"),
            (std::vector<std::string>{"apricot", "grape", "orange", "orchard", "pear"}));
  EXPECT_EQ(leading.termsVisited(), vocabulary);  // no second scan
  // "app*" and "apr*" are read in the pass of "ap*"; "or*" has its own part.
  WildcardExpander prefixed(db, 100);
  prefixed.prepare({"app*", "ap*", "apr*", "or*"});
  EXPECT_EQ(prefixed.termsVisited(), 4u);  // apple apricot orange orchard
  // The budget: the most frequent first, each expansion takes what is left.
  WildcardExpander budget(db, 3);
  EXPECT_EQ(budget.expand("*p*", 2), (std::vector<std::string>{"apple", "apricot"}));
  EXPECT_EQ(budget.expand("o*"), (std::vector<std::string>{"orange"}));
  EXPECT_EQ(budget.remaining(), 0u);
  const uint64_t before = budget.termsVisited();
  EXPECT_EQ(budget.expand("*"), std::vector<std::string>{});
  EXPECT_EQ(budget.termsVisited(), before);  // a spent budget reads nothing more
}

TEST(EngineText, RecordedPathsAndOwnerNames) {
  for (const auto& [bytes, recorded] :
       Pairs{{"sub/a.txt", "sub/a.txt"},
             {"line\nfeed\r.txt", "line%0Afeed%0D.txt"},
             {"100%", "100%25"},
             {"\x7F\x1F\x01 x", "%7F%1F%01 x"},
             {"caf\xE9\x82\xA0", "caf\xE9\x82\xA0"}})  // other bytes stay as they are
    EXPECT_EQ(encodeRecordedPath(bytes), recorded) << recorded;
  std::string all, back;
  for (int b = 0; b < 256; ++b)
    all += static_cast<char>(b);
  ASSERT_TRUE(decodeRecordedPath(encodeRecordedPath(all), back));
  EXPECT_EQ(back, all);
  EXPECT_TRUE(decodeRecordedPath("a%0ab", back) && back == "a\nb");
  for (const char* bad : {"%", "%4", "%G0", "a%%"})
    EXPECT_FALSE(decodeRecordedPath(bad, back)) << bad;

  for (const std::string& good :
       {"alice"s, "a"s, "A.b-c_9"s, "/teamA"s, "x..y"s, std::string(63, 'o')})
    EXPECT_TRUE(isSafeOwnerName(good)) << good;
  for (const std::string& bad :
       {""s, "/"s, "../x"s, ".."s, ".alice"s, "-alice"s, "/.x"s, "/-x"s, "a/b"s, "//a"s, "a b"s,
        "a\\b"s, "caf\xE9"s, std::string(64, 'o'), "/" + std::string(63, 'o'), "a\nb"s})
    EXPECT_FALSE(isSafeOwnerName(bad)) << bad;
}

TEST(EngineText, ResultFileEncodings) {
  std::string s;
  for (uint32_t v : {5u, 300u, 0u, 268435455u})
    appendUInt7(s, v);
  EXPECT_EQ(s, std::string("\x05\xAC\x02\x00\xFF\xFF\xFF\x7F", 8));
  // Hits are {record id, score}; a record id beyond the 4-byte form is left out.
  EXPECT_EQ(encodeBinout("ab", {{1, 7}, {300, 3}, {kMaxRecordId + 1, 9}}),
            std::string("ab\n\x02\x07\x01\x03\xAC\x02", 9));
  // The matched header keeps characters whole below 4096 bytes, on one line.
  CodePage big5(Language::kBig5), utf8(Language::kEnglish);
  EXPECT_EQ(headerMatchedString("a" + std::string(4200, '\xA4'), big5).size(), 4095u);
  EXPECT_EQ(headerMatchedString("x\ny\rz", big5), "x y z");
  EXPECT_EQ(headerMatchedString(std::string(4094, 'e') + "€", utf8), std::string(4094, 'e'));
}

TEST(EngineText, CodePages) {
  CodePage big5(Language::kBig5), sjis(Language::kShiftJis), gbk(Language::kGbk);
  EXPECT_EQ(big5.toUtf8("\xA5\xFE\xA4\xE5"), "全文");
  EXPECT_EQ(gbk.fromUtf8("中文"), "\xD6\xD0\xCE\xC4");
  // Undefined bytes become blanks; characters the page cannot show become "?".
  EXPECT_EQ(big5.toUtf8(std::string("a\xFF") + "b"), "a b");
  EXPECT_EQ(sjis.fromUtf8("a€b"), "a?b");
  // Half-width katakana are one byte in Shift_JIS, other bytes above 0x80 lead two.
  EXPECT_EQ(sjis.cut("\xB6\xB6\x83\x4A", 3), "\xB6\xB6");
  EXPECT_EQ(big5.cut("\xA5\xFE\xA4\xE5", 3), "\xA5\xFE");
  EXPECT_EQ(languageFromCode(-1), Language::kEnglish);  // an unknown lang.cfg
}

TEST(EngineText, DocumentsAndStoredRecords) {
  DocText d = extractHtml(
      "<head><title> The &amp; Title </title><style>p{}</style></head><body><!-- hidden -->"
      "<p>First&nbsp;line &#x4E2D;&#25991;</p><script>secret()</script><br>x &bogus; a<b</body>");
  EXPECT_EQ(d.title, "The & Title");
  EXPECT_EQ(firstLine(d.body, 100), "First line 中文");
  EXPECT_EQ(d.body.find("secret"), std::string::npos);
  EXPECT_EQ(d.body.find("hidden"), std::string::npos);
  EXPECT_NE(d.body.find("x &bogus; a"), std::string::npos);
  EXPECT_EQ(extractText("\n  \n  Heading  \nbody").title, "Heading");
  EXPECT_EQ(firstLine("ééé", 5), "éé");
  EXPECT_EQ(classifyDocument("a.dat", std::string("ab\0c", 4)), DocKind::kSkip);
  EXPECT_EQ(decodeDocument("<meta charset=\"big5\">\xA5\xFE", CodePage(Language::kShiftJis), true),
            "<meta charset=\"big5\">全");

  const StoredRecord rec{"sub/a.txt", {"a.txt", "alice", 1100000000, 42, "@P:sub/a.txt\n"}};
  const std::string good = encodeStoredRecord(rec);
  StoredRecord back;
  ASSERT_TRUE(decodeStoredRecord(good, back));
  EXPECT_EQ(back.source + back.info.info, "sub/a.txt@P:sub/a.txt\n");
  EXPECT_EQ(back.info.time, 1100000000u);
  EXPECT_EQ(back.info.size, 42u);
  for (const std::string& bad :
       {""s, "junk"s, good.substr(0, good.size() - 1), "13:vela-record-1999999999999:x"s})
    EXPECT_FALSE(decodeStoredRecord(bad, back)) << bad;
}

TEST(EngineText, CsvRowsAndRangeBounds) {
  const std::vector<std::pair<std::string, std::vector<CsvRow>>> cases = {
      {"a,b\r\nc,d", {{"a", "b"}, {"c", "d"}}},
      {"\"x,y\",\"say \"\"hi\"\"\"\n", {{"x,y", "say \"hi\""}}},
      {"\"two\nlines\",z", {{"two\nlines", "z"}}},
      {"a,,\n\n\nb", {{"a", "", ""}, {"b"}}},  // blank lines are skipped
      {"ab\"c\"", {{"ab\"c\""}}},              // a quote inside a cell is a character
      {"\"open", {{"open"}}}};
  for (const auto& [in, rows] : cases)
    EXPECT_EQ(parseCsv(in), rows) << in;
  EXPECT_EQ(parseCsv(std::string(5000, ',')).at(0).size(), kMaxCsvColumns);
  double v = 0;
  for (const auto& [text, value] : std::vector<std::pair<std::string, double>>{
           {"-3.5", -3.5}, {"+7", 7}, {".5", 0.5}, {"", -1}})  // "": the open bound
    EXPECT_TRUE(parseRangeBound(text, -1, v) && v == value) << text;
  for (const char* bad : {"1e5", "1.2.3", "-", "12 "})
    EXPECT_FALSE(parseRangeBound(bad, -1, v)) << bad;
}

}  // namespace
