/// @file engine_text_test.cc
/// @brief The engine's text handling and file formats in isolation: folding,
/// n-grams, the query language, result file encodings, code pages, document
/// extraction, stored records, CSV rows and range bounds.

#include <gtest/gtest.h>

#include <iterator>
#include <tuple>

#include "companions/builder/doc_extract.h"
#include "companions/builder/index_writer.h"
#include "companions/builder/source_tree.h"
#include "companions/engine/codepage.h"
#include "companions/engine/collection_stats.h"
#include "companions/engine/csv_reader.h"
#include "companions/engine/digit_filter.h"
#include "companions/engine/engine_query.h"
#include "companions/engine/query_parser.h"
#include "companions/engine/result_file.h"
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
                                     {"a\001b\037\177", "(AND a b)"},    // control bytes are blanks
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
      {"a*\nb*\001c*", 3},
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

// An index of one record per body; the first record named and titled
// `firstName`.
void buildIndex(const std::string& home, const std::vector<std::string>& bodies,
                const std::string& firstName = "") {
  IndexWriter writer(home);
  for (size_t i = 0; i < bodies.size(); ++i) {
    const std::string name = i == 0 ? firstName : std::string();
    writer.add({}, {name, {name, bodies[i]}});
  }
  std::string error;
  ASSERT_TRUE(writer.finish(error)) << error;
}

// Searches `query` in the index at `home` as the engine does (statistics of
// that index alone); the understood query and the record ids of the hits.
std::pair<std::string, std::vector<uint32_t>> searchIndex(const std::string& home,
                                                          const std::string& query,
                                                          const MatchOptions& options = {}) {
  Xapian::Database db = openIndexDb(home);
  auto tree = parseQuery(query);
  QueryBuilder builder(db, options);
  builder.build(tree.get());
  CollectionStats stats;
  installationStats("", home, builder.weightedTerms(), nullptr, stats);
  builder.setStats(&stats);
  std::vector<uint32_t> ids;
  for (const Hit& h : runQuery(db, builder.build(tree.get()), HitOrder::kRecord, 0, stats))
    ids.push_back(h.recid);
  return {understoodQuery(tree.get(), options.thesaurus), ids};
}

TEST(EngineText, HyphenatedWordsAndTheUnderstoodQuery) {
  testutil::TempDir dir;
  buildIndex(dir.sub("idx"), {"GPL-3 licence text", "GPL 2 and 3 versions",
                              "send an e-mail to the well-known address", "mail e foo",
                              "x-ray and x-files", "a-b c", "b a c", "a c only"});
  using Ids = std::vector<uint32_t>;
  const struct {
    const char* query;
    const char* understood;
    Ids hits;
  } cases[] = {
      {"GPL-3", "\"gpl 3\"", {1}},  // the parts adjacent, as the indexer placed them
      {"gpl 3", "gpl AND 3", {1, 2}},
      {"ＧＰＬ-３", "\"gpl 3\"", {1}},
      {"e-mail", "\"e mail\"", {3}},
      {"mail -foo", "mail NOT foo", {3}},
      {"mail - foo", "mail NOT foo", {3}},
      {"-foo", "NOT foo", {}},  // without -e nothing but exclusions matches nothing
      {"a - b", "a NOT b", {8}},
      {"(gpl)-3", "gpl NOT 3", {}},
      {"x-*", "\"x *\"", {5}},  // a wildcard part takes one position
      {"x-f*", "\"x f*\"", {5}},
      {"e-ma?l", "\"e ma?l\"", {3}},
      {"x-zz*", "\"x zz*\"", {}},
      {"\"a-b c\"", "\"a b c\"", {6}},
      {"well-known AND e-mail", "\"well known\" AND \"e mail\"", {3}},
      {"a-b | b-a", "\"a b\" OR \"b a\"", {6, 7}},
      {"a- b-", "a AND b", {6, 7}},
      {"(gpl | mail) -(foo | 2)", "(gpl OR mail) NOT (foo OR 2)", {1, 3}},
      {"gpl (3 | x-ray)", "gpl AND (3 OR \"x ray\")", {1, 2}},
      {"-(a b)", "NOT (a AND b)", {}},
      {"--- & .", "", {}},
  };
  for (const auto& c : cases) {
    const auto [understood, hits] = searchIndex(dir.sub("idx"), c.query);
    EXPECT_EQ(understood, c.understood) << c.query;
    EXPECT_EQ(hits, c.hits) << c.query;
  }
  MatchOptions negative;
  negative.allowNegative = true;
  EXPECT_EQ(searchIndex(dir.sub("idx"), "-foo", negative).second, (Ids{1, 2, 3, 5, 6, 7, 8}));
  // Thesaurus groups are shown with the word; fuzzy words as typed.
  Thesaurus thesaurus;
  thesaurus.addGroup({"licence", "license"});
  MatchOptions synonyms;
  synonyms.thesaurus = &thesaurus;
  EXPECT_EQ(searchIndex(dir.sub("idx"), "license", synonyms).second, Ids{1});
  EXPECT_EQ(searchIndex(dir.sub("idx"), "license -\"licence text\"", synonyms),
            std::make_pair(std::string("(license OR licence) NOT \"licence text\""), Ids{}));
  MatchOptions fuzzy;
  fuzzy.fuzzy = true;
  EXPECT_EQ(searchIndex(dir.sub("idx"), "licenze-txt", fuzzy),
            std::make_pair(std::string("\"licenze txt\""), Ids{1}));
}

TEST(EngineText, WordsAtTheTermLimitAreStoredAndFound) {
  // The longest term is what the database stores, heading prefix and all; a
  // longer word is cut alike in the index and in the query.
  const std::string longWord(kMaxTermBytes + 60, 'w');
  testutil::TempDir dir;
  buildIndex(dir.sub("idx"), {longWord + " x", std::string(kMaxTermBytes, 'w') + "v"}, longWord);
  EXPECT_EQ(searchIndex(dir.sub("idx"), longWord).second, (std::vector<uint32_t>{1, 2}));
  EXPECT_EQ(searchIndex(dir.sub("idx"), longWord + " x").second, (std::vector<uint32_t>{1}));
}

TEST(EngineText, TheUnderstoodQueryKeepsToTheHeader) {
  std::string words;
  for (int i = 0; i < 700; ++i)
    words += (words.empty() ? "" : " AND ") + std::string("w") + std::to_string(i);
  CodePage utf8(Language::kEnglish), big5(Language::kBig5);
  const std::string cut = understoodHeader(words, utf8);
  ASSERT_LE(cut.size(), kMaxMatchedBytes);
  ASSERT_GT(cut.size(), kMaxMatchedBytes - 16);
  EXPECT_EQ(cut.substr(cut.size() - 4), " ...");
  EXPECT_EQ(words.compare(0, cut.size() - 3, cut, 0, cut.size() - 3), 0);  // whole words
  EXPECT_EQ(words[cut.size() - 4], ' ');
  EXPECT_EQ(understoodHeader("\"gpl 3\" AND 全文", big5), "\"gpl 3\" AND \xA5\xFE\xA4\xE5");
  // A blank where the cap falls, and a word longer than the cap.
  EXPECT_EQ(understoodHeader(std::string(4090, 'x') + " 全文全文", big5),
            std::string(4090, 'x') + " ...");
  EXPECT_EQ(understoodHeader(std::string(4093, 'x') + "全文", big5),
            std::string(4091, 'x') + " ...");
}

TEST(EngineText, WildcardsShareTheirScans) {
  testutil::TempDir dir;
  buildIndex(dir.sub("idx"), {"apple apricot orange", "apple grape", "pear plum", "orchard"});
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
  // An English installation reads text that is not UTF-8 in the western code page.
  const CodePage english(Language::kEnglish);
  EXPECT_EQ(decodeDocument("M\xFCller \x93q\x94", english, false), "Müller “q”");
  EXPECT_EQ(decodeDocument("Müller", english, false), "Müller");

  const FileIdentity identity{0x801, 0x1234567890ABull};
  const StoredRecord rec{"sub/a.txt",
                         {"a.txt", "alice", 1100000000, 42, "@P:sub/a.txt\n", identity}};
  const std::string good = encodeStoredRecord(rec);
  StoredRecord back;
  ASSERT_TRUE(decodeStoredRecord(good, back));
  EXPECT_EQ(back.source + back.info.info, "sub/a.txt@P:sub/a.txt\n");
  EXPECT_EQ(std::tie(back.info.time, back.info.size), std::make_tuple(1100000000u, 42u));
  EXPECT_EQ(back.info.identity, identity);
  // A record of an index built before identities were kept: the fields
  // before it as they were, the identity unknown.
  const std::string older = good.substr(0, good.size() - 3 - kFileIdentityBytes);
  ASSERT_TRUE(decodeStoredRecord(older, back));
  EXPECT_EQ(back.info.size, 42u);
  EXPECT_FALSE(back.info.identity.known());
  for (const std::string& bad : {""s, "junk"s, good.substr(0, good.size() - 1), older + "3:abc",
                                 "13:vela-record-1999999999999:x"s})
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
