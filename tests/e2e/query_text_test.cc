/// @file query_text_test.cc
/// @brief The query text end to end on a Big5 and a Shift_JIS installation:
/// queries sent in UTF-8 or as "%u" escapes, half-width katakana, queries an
/// exclusion list refuses and the rewrites of query.cfg, each searched
/// through the installed searchrun over an index that index_builder made.

#include <gtest/gtest.h>
#include <iconv.h>

#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "output/query_output.h"
#include "tests/e2e/e2e_util.h"

namespace {

namespace fs = std::filesystem;
using e2e::Installation;
using e2e::RunResult;

// `utf8` in the iconv charset `to`; empty when it cannot be converted.
std::string encode(const std::string& utf8, const char* to) {
  iconv_t cd = iconv_open(to, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "";
  std::string in = utf8, out(utf8.size() * 2 + 4, '\0');
  char* inp = in.data();
  char* outp = out.data();
  size_t inLeft = in.size(), outLeft = out.size();
  const bool ok = iconv(cd, &inp, &inLeft, &outp, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  return ok ? out.substr(0, out.size() - outLeft) : "";
}

// Every byte as %XX, as a browser sends text it does not trust.
std::string escaped(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes)
    out += std::string("%") + kHex[c >> 4] + kHex[c & 15];
  return out;
}

// What one request left behind.
struct Answer {
  std::string page;                // the renderer's answer
  std::string keyword, term;       // the result file's query texts
  std::string logged;              // the query the run searched for
  std::vector<std::string> files;  // the hits, by file name
};

// An installation of one code page with one index of a few documents.
class Site {
 public:
  // `docs` holds file names and UTF-8 texts, written in the local code page.
  Site(const char* language, const char* charset,
       const std::vector<std::pair<std::string, std::string>>& docs)
      : charset_(charset) {
    inst_.write("lang.cfg", std::string(language) + "\n");
    for (const auto& [name, text] : docs)
      testutil::writeFile(docs_.sub(name), local(text));
    id_ = inst_.buildIndex({"create", "--owner", "alice", "--desc", "Docs", docs_.path()});
    home_ = inst_.path("system/group/domain/User/alice/index/" + id_);
  }

  std::string local(const std::string& utf8) const { return encode(utf8, charset_); }
  const Installation& inst() const { return inst_; }
  std::string home() const { return home_; }
  std::string id() const { return id_; }

  // A request of the trusted user on the index, hits in file-name order.
  Answer search(const std::string& rest) const {
    const std::set<std::string> before = inst_.resultFiles();
    const RunResult r =
        inst_.get("user=TESSERA&sort=filename&order=asc&index_id=7F000001_" + id_ + "&" + rest);
    EXPECT_EQ(0, r.exitStatus) << r.out << r.err;
    Answer a;
    a.page = r.out;
    a.logged = lastLoggedQuery();
    read(inst_.newResult(before), a);
    return a;
  }

 private:
  void read(const std::string& path, Answer& a) const {
    CQueryOutput file;
    ASSERT_TRUE(file.ReadOutputFile(path.c_str()));
    a.keyword = file.GetQueryKeyword();
    a.term = file.GetQueryTerm();
    std::vector<e2e::ResultHit> hits;
    ASSERT_TRUE(e2e::resultHits(path, hits)) << path;
    for (const e2e::ResultHit& h : hits)
      a.files.push_back(fs::path(e2e::recordName(home_, h.recid)).filename().string());
  }

  // The run-time log names the query after its rewrites: "[pid]-QUERY <q>".
  std::string lastLoggedQuery() const {
    const std::string log = inst_.read("logs/searchrun_time.log");
    const size_t at = log.rfind("]-QUERY <");
    if (at == std::string::npos) return "(none)";
    const size_t start = at + 9;
    return log.substr(start, log.find(">\n", start) - start);
  }

  Installation inst_;
  testutil::TempDir docs_;
  const char* charset_;
  std::string id_, home_;
};

// Replaces a file of the installation for one case, restoring it after.
class ScopedFile {
 public:
  ScopedFile(std::string path, const std::string& text)
      : path_(std::move(path)), old_(testutil::readFile(path_)) {
    testutil::writeFile(path_, text);
  }
  ~ScopedFile() { testutil::writeFile(path_, old_); }

 private:
  std::string path_, old_;
};

using Files = std::vector<std::string>;
const std::string kPage = "Content-Type: text/html";

class Big5QueryText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_ = new Site("CH", "BIG5",
                     {{"news.txt", "全文檢索系統的說明\n四季如春。\n"},
                      {"zh.txt", "中文資料 apple\n"},
                      {"ap.txt", "apple pear\n"},
                      {"a.txt", "apple only\n"}});
  }
  static void TearDownTestSuite() { delete site_; }
  static std::string b5(const std::string& utf8) { return site_->local(utf8); }
  static ScopedFile globalList(const std::string& patterns) {
    return ScopedFile(site_->inst().path("dict/global_query_exclude.token"), patterns);
  }
  static inline Site* site_ = nullptr;
};

// UTF-8 and "%u" escapes reach the engine in Big5; a query in an encoding
// the site does not know stays as sent. The page shows what the user typed.
TEST_F(Big5QueryText, QueriesReachTheEngineInBig5OrNameWhatItCannotHold) {
  const struct {
    std::string rest, searched;
    Files files;
  } cases[] = {{"query=" + escaped("中文") + "&query_encoding=UTF-8", b5("中文"), {"zh.txt"}},
               {"query=%u4E2D%u6587", b5("中文"), {"zh.txt"}},
               {"query=" + escaped("中文") + "&query_encoding=EUC", "中文", {}}};
  for (const auto& c : cases) {
    const Answer a = site_->search(c.rest);
    EXPECT_EQ(c.files, a.files) << c.rest;
    EXPECT_EQ(c.searched, a.logged) << c.rest;
    EXPECT_EQ(c.searched, a.keyword) << c.rest;
    EXPECT_EQ(c.searched, a.term) << c.rest;
  }
  EXPECT_NE(std::string::npos, site_->search(cases[0].rest).page.find("for <b>中文</b>"));
  // Big5 has no Hangul and no emoji: the converter would leave "&#54620;" for
  // the engine to read as digits. The page names the character instead, as a
  // refusal.
  const RunResult r = site_->inst().get("user=TESSERA&index_id=7F000001_" + site_->id() +
                                        "&query=" + escaped("中文 한 😀") + "&query_encoding=UTF-8");
  EXPECT_EQ(0u, r.out.find("Status: 400")) << r.out;
  EXPECT_NE(std::string::npos, r.out.find("this site cannot search (U+D55C, U+1F600)")) << r.out;
}

// A word the global list or the index's own list matches refuses the query;
// a pattern matches whole Big5 characters.
TEST_F(Big5QueryText, ExclusionListsRefuseAWordTheyMatchAsWholeCharacters) {
  {
    ScopedFile list = globalList("secret*\r\n");
    const Answer refused = site_->search("query=apple+secrets");
    EXPECT_EQ("_QUERY_DISALLOWED_", refused.term);
    EXPECT_EQ(Files{}, refused.files);
    EXPECT_EQ(0u, refused.page.find(kPage)) << refused.page;
    EXPECT_NE(std::string::npos, refused.page.find("This query is not allowed.")) << refused.page;
    EXPECT_EQ((Files{"a.txt", "ap.txt", "zh.txt"}), site_->search("query=apple").files);
  }
  {
    ScopedFile list(site_->home() + "/queryExclude.token", "pear\n");
    const Answer a = site_->search("query=apple+pear");
    EXPECT_EQ("_QUERY_DISALLOWED_", a.term);
    EXPECT_EQ(Files{}, a.files);
  }
  // Without a Big5 locale on the host, the matcher used to count bytes: "?"
  // took half a character and a trail byte 0x75 matched the letter "u".
  const std::string fourSeasons = escaped(b5("四季"));
  {
    ScopedFile list = globalList(b5("四") + "?\n");
    EXPECT_EQ("_QUERY_DISALLOWED_", site_->search("query=" + fourSeasons).term);
  }
  ScopedFile list = globalList("*u\n");
  const Answer a = site_->search("query=" + fourSeasons);
  EXPECT_EQ(Files{"news.txt"}, a.files);
  EXPECT_EQ(b5("四季"), a.term);
}

TEST_F(Big5QueryText, SpaceBecomesAndKeepingBig5Whole) {
  ScopedFile cfg(site_->inst().path("setting/query.cfg"), "CHANGE_SPACE_TO_BOOL=Y\n");
  Answer a = site_->search("query=apple+pear");
  EXPECT_EQ("apple & pear", a.logged);
  EXPECT_EQ(Files{"ap.txt"}, a.files);
  // The words "and" and "or" become operators instead of searched words.
  EXPECT_EQ(Files{"ap.txt"}, site_->search("query=apple+and+pear").files);
  EXPECT_EQ((Files{"a.txt", "ap.txt", "zh.txt"}), site_->search("query=apple+or+pear").files);
  // The second byte of "四" is "|": no operator.
  a = site_->search("query=" + escaped(b5("四季 說明")));
  EXPECT_EQ(b5("四季 & 說明"), a.logged);
  EXPECT_EQ(Files{"news.txt"}, a.files);
}

class SjisQueryText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_ = new Site("JP", "SJIS",
                     {{"full.txt", "カタカナのデータをＳＥＡＲＣＨする\n"},
                      {"half.txt", "ｶﾀｶﾅ ﾃﾞｰﾀ search\n"},
                      {"nihongo.txt", "日本語の文書のポイント\n"}});
  }
  static void TearDownTestSuite() { delete site_; }
  static std::string sj(const std::string& utf8) { return site_->local(utf8); }
  static inline Site* site_ = nullptr;
};

// The kana widening used to run over the UTF-8 bytes before they were
// converted, which garbled every Japanese UTF-8 query. Every page of such an
// installation is converted: it is written by the renderer with the C
// library's converters from the start, not handed over to it by the static
// one (moved away here).
TEST_F(SjisQueryText, Utf8QueryIsSearchedInShiftJisAndItsPageConverted) {
  const std::string renderer = site_->inst().path("search-cgi/getfilelist.exe");
  ASSERT_EQ(0, rename(renderer.c_str(), (renderer + ".kept").c_str()));
  const Answer a = site_->search("query=" + escaped("日本語") + "&query_encoding=UTF-8");
  ASSERT_EQ(0, rename((renderer + ".kept").c_str(), renderer.c_str()));
  EXPECT_EQ(Files{"nihongo.txt"}, a.files);
  EXPECT_EQ(sj("日本語"), a.logged);
  EXPECT_EQ(sj("日本語"), a.keyword);
  EXPECT_EQ(sj("日本語"), a.term);
  EXPECT_NE(std::string::npos, a.page.find(kPage)) << a.page.substr(0, 400);
  EXPECT_NE(std::string::npos, a.page.find("nihongo.txt")) << a.page.substr(0, 2000);
  EXPECT_EQ(sj("ポイント"), site_->search("query=%u30DD%u30A4%u30F3%u30C8").logged);
}

TEST_F(SjisQueryText, HalfWidthKatakanaAreWidened) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {escaped(sj("ｶﾀｶﾅ")), "カタカナ"},
      {escaped(sj("ﾃﾞｰﾀ")), "データ"},  // the voiced mark joins its kana
      // Sent in UTF-8, they are widened once they are Shift_JIS.
      {escaped("ｶﾀｶﾅ") + "&query_encoding=UTF-8", "カタカナ"},
  };
  for (const auto& [half, full] : cases) {
    const Answer a = site_->search("query=" + half);
    EXPECT_EQ(sj(full), a.logged) << full;
    // The engine folds widths: the half-width document is found too.
    EXPECT_EQ((Files{"full.txt", "half.txt"}), a.files) << full;
  }
}

// Japanese installations do not check the exclusion lists; a full-width
// blank and a space become "and" when the settings say so.
TEST_F(SjisQueryText, NoExclusionListsAndBlanksBecomeAnd) {
  {
    ScopedFile list(site_->inst().path("dict/global_query_exclude.token"), "sea*\n");
    const Answer a = site_->search("query=search");
    EXPECT_EQ("search", a.term);
    EXPECT_EQ((Files{"full.txt", "half.txt"}), a.files);
  }
  ScopedFile cfg(site_->inst().path("setting/query.cfg"),
                 "CHANGE_SPACE_F2H=Y\nCHANGE_SPACE_TO_BOOL=Y\n");
  // The second byte of "ポ" is "|": no operator.
  const Answer a = site_->search("query=" + escaped(sj("ポイント　日本語")));
  EXPECT_EQ(sj("ポイント & 日本語"), a.logged);
  EXPECT_EQ(Files{"nihongo.txt"}, a.files);
}

class EnglishQueryText : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    site_ = new Site("EN", "UTF-8",
                     {{"gpl.txt", "This is free software; see the licence.\n"},
                      {"free.txt", "software that is free of charge\n"},
                      {"price.txt", "It costs 5 € a month.\n"},
                      {"names.txt", "Written by 仁 and 立 and 王仁 with Müller.\n"},
                      {"files.txt", "文件 and ディレクトリ\n"}});
  }
  static void TearDownTestSuite() { delete site_; }
  static inline Site* site_ = nullptr;
};

// A UTF-8 character of three bytes right before the closing quote of the
// engine's query used to be read as a double-byte character swallowing the
// quote, and the whole search failed. Odd runs of such bytes are the rule,
// so single characters and typographic quotes were the usual victims.
TEST_F(EnglishQueryText, EveryCharacterIsSearchedAndTypographicQuotesArePhraseQuotes) {
  const std::vector<std::pair<std::string, Files>> cases = {
      {"€ month", Files{"price.txt"}},  // a symbol is no word: the other words decide
      {"仁", Files{"names.txt"}},
      {"立", Files{"names.txt"}},
      {"王仁", Files{"names.txt"}},
      {"Müller", Files{"names.txt"}},
      {"文件", Files{"files.txt"}},
      {"ディレクトリ", Files{"files.txt"}},
      {"€", Files{}},
  };
  for (const auto& [query, files] : cases) {
    for (const char* declared : {"", "&query_encoding=UTF-8"}) {
      const Answer a = site_->search("query=" + escaped(query) + declared);
      EXPECT_EQ(files, a.files) << query << declared;
      EXPECT_EQ(std::string::npos, a.page.find("failed")) << query << declared << a.page;
    }
  }
  // Typographic quotes are phrase quotes.
  for (const char* quoted : {"“free software”", "„free software“", "＂free software＂"}) {
    const Answer a = site_->search("query=" + escaped(quoted));
    EXPECT_EQ(Files{"gpl.txt"}, a.files) << quoted << a.page;
  }
  // Without quotes both documents hold both words.
  EXPECT_EQ((Files{"free.txt", "gpl.txt"}), site_->search("query=free+software").files);
}

}  // namespace
