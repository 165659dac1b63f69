/// @file suggest_keys_test.cc
/// @brief The look-alike key file: the same look-alikes as the pass over the
/// terms, used by the query builder when present, and left alone when it no
/// longer fits its database or is damaged; and the engine service's cache of
/// open index databases under the runs of many threads at once.

#include "companions/engine/suggest_keys.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <xapian.h>

#include <fcntl.h>
#include <stdio.h>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "companions/builder/index_writer.h"
#include "companions/engine/engine_query.h"
#include "companions/engine/engine_query_parts.h"
#include "companions/engine/index_db_cache.h"
#include "companions/engine/index_files.h"
#include "companions/engine/query_parser.h"
#include "tests/test_util.h"

namespace {

using vela::LookAlike;

// An engine database at home/engine_db holding one record per term.
void makeIndex(const std::string& home, const std::vector<std::string>& terms) {
  testutil::makeDirs(home);
  Xapian::WritableDatabase db(home + "/engine_db",
                              Xapian::DB_CREATE_OR_OPEN | Xapian::DB_BACKEND_GLASS);
  for (const std::string& t : terms) {
    Xapian::Document d;
    d.add_term(t);
    db.add_document(d);
  }
  db.commit();
}

struct Lcg {
  uint32_t state;
  uint32_t next(uint32_t below) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % below;
  }
};

std::string utf8(const std::u32string& cps) {
  std::string out;
  for (char32_t c : cps)
    Xapian::Unicode::append_utf8(out, static_cast<unsigned>(c));
  return out;
}

// Dense vocabularies over small alphabets, so that most words have many
// look-alikes: ASCII, two-byte (Cyrillic, accented Latin), three-byte (CJK)
// and four-byte characters; one-letter words, words of 40 characters and
// longer; heading terms and terms that are no UTF-8.
std::vector<std::u32string> vocabulary() {
  const std::u32string alphabets[] = {U"abcde", U"абвгд", U"éèaç", U"日本語中文", U"𝔞𝔟𝔠"};
  Lcg rng{7};
  std::vector<std::u32string> words;
  for (const std::u32string& abc : alphabets)
    for (int i = 0; i < 160; ++i) {
      std::u32string w;
      const uint32_t length = 1 + rng.next(i % 10 == 0 ? 44 : 9);
      for (uint32_t k = 0; k < length; ++k)
        w += abc[rng.next(static_cast<uint32_t>(abc.size()))];
      words.push_back(w);
    }
  words.push_back(std::u32string(40, U'a'));
  words.push_back(std::u32string(39, U'a') + U"b");
  words.push_back(U"a");
  words.push_back(U"ab");
  // Longer than the words of the similar-term index, as an ordinary index
  // may hold them.
  for (int i = 0; i < 12; ++i) {
    std::u32string w(60 + rng.next(12), U'c');
    for (int k = 0; k < 6; ++k)
      w[1 + rng.next(static_cast<uint32_t>(w.size() - 1))] = U"déf"[rng.next(3)];
    words.push_back(w);
  }
  return words;
}

// Typos of a word: one or two edits of each kind (a swap of neighbours, a
// letter left out, added or replaced), the first letter mostly kept.
std::vector<std::u32string> typosOf(const std::u32string& w, Lcg& rng) {
  std::vector<std::u32string> out{w};
  const std::u32string letters = w + U"xб語";
  for (int k = 0; k < 3; ++k) {
    std::u32string t = w;
    for (int edit = 0; edit <= k % 2; ++edit) {
      const size_t at = t.size() > 1 ? 1 + rng.next(static_cast<uint32_t>(t.size() - 1)) : 0;
      const char32_t c = letters[rng.next(static_cast<uint32_t>(letters.size()))];
      switch (rng.next(4)) {
        case 0:
          if (at + 1 < t.size()) std::swap(t[at], t[at + 1]);
          break;
        case 1:
          if (t.size() > 1) t.erase(at, 1);
          break;
        case 2:
          t.insert(at, 1, c);
          break;
        default:
          t[at] = c;
      }
    }
    out.push_back(t);
  }
  return out;
}

// Terms whose bytes are no UTF-8 of their own (decoded one byte a character).
const char* const kOddWords[] = {"\351abc", "a\377bc", "\303\251\377"};

class SuggestKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::vector<std::string> terms;
    for (const std::u32string& w : vocabulary())
      terms.push_back(utf8(w));
    // Terms that no word's first character selects by its own encoding, and
    // heading terms: neither may change what a word finds.
    terms.insert(terms.end(), {"Tabc", "Tab"});
    terms.insert(terms.end(), std::begin(kOddWords), std::end(kOddWords));
    makeIndex(home_, terms);
  }

  testutil::TempDir dir_;
  const std::string home_ = dir_.sub("idx");
};

TEST_F(SuggestKeysTest, TheKeysFindWhatThePassFinds) {
  std::string error;
  ASSERT_TRUE(vela::writeSuggestKeys(home_, error)) << error;
  const Xapian::Database db = vela::openIndexDb(home_);
  const auto keys = vela::loadSuggestKeys(home_, db);
  ASSERT_TRUE(keys);
  Lcg rng{11};
  std::vector<std::u32string> queries;
  const std::vector<std::u32string> words = vocabulary();
  for (size_t i = 0; i < words.size(); i += i + 20 < words.size() ? 3 : 1)
    for (const std::u32string& t : typosOf(words[i], rng))
      queries.push_back(t);
  // Words of no term's first character, and words with bytes that are no
  // UTF-8 of their own (decoded one byte a character).
  for (const char* odd : kOddWords)
    queries.push_back(vela::codePoints(odd));
  for (const char* odd : {"zebra", "ab\346\227"})
    queries.push_back(vela::codePoints(odd));
  size_t compared = 0, found = 0;
  for (const std::u32string& q : queries) {
    if (!vela::keysCover(q)) continue;
    for (int percent : {0, 40, 60, 75, 100}) {
      const std::vector<LookAlike> byKeys = keys->lookAlikes(q, percent);
      const std::vector<LookAlike> byPass = vela::lookAlikesByPass(db, q, percent);
      ASSERT_EQ(byKeys, byPass) << utf8(q) << " at " << percent;
      ++compared;
      found += byPass.size();
    }
  }
  // Enough words compared, with enough look-alikes, for the comparison to
  // have covered the edge of the rule many times over.
  EXPECT_GT(compared, 2000u);
  EXPECT_GT(found, 20000u);
}

TEST_F(SuggestKeysTest, TheQueryBuilderTakesItsLookAlikesFromTheKeys) {
  const Xapian::Database db = vela::openIndexDb(home_);
  auto fuzzyQuery = [&](const vela::SuggestKeys* keys, const std::string& text) {
    vela::MatchOptions options;
    options.fuzzy = true;
    options.suggestKeys = keys;
    vela::QueryBuilder builder(db, options);
    return builder.build(vela::parseQuery(text).get()).get_description();
  };
  // Keys of a term the database does not hold, made for this very database:
  // the look-alike can only come from them.
  std::vector<vela::KeyTerm> terms = vela::keyTermsOf(db);
  terms.push_back({"abcdq", U"abcdq"});
  const auto planted =
      vela::SuggestKeys::parse(vela::encodeSuggestKeys(db.get_uuid(), db.get_revision(), terms));
  ASSERT_TRUE(planted);
  EXPECT_EQ(fuzzyQuery(nullptr, "abcdx").find("abcdq"), std::string::npos);
  EXPECT_NE(fuzzyQuery(&*planted, "abcdx").find("abcdq"), std::string::npos);
  // The keys written for the database build the very query of the pass.
  std::string error;
  ASSERT_TRUE(vela::writeSuggestKeys(home_, error)) << error;
  const auto keys = vela::loadSuggestKeys(home_, db);
  ASSERT_TRUE(keys);
  for (const char* text :
       {"abdce", "бвгда", "日本語", "a", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab"})
    EXPECT_EQ(fuzzyQuery(keys.get(), text), fuzzyQuery(nullptr, text)) << text;
}

TEST_F(SuggestKeysTest, KeysThatNoLongerFitOrAreDamagedAreLeftAlone) {
  std::string error;
  ASSERT_TRUE(vela::writeSuggestKeys(home_, error)) << error;
  const std::string path = home_ + "/" + vela::kSuggestKeysFile;
  const std::string good = testutil::readFile(path);
  auto loads = [&](const std::string& bytes) {
    std::remove(path.c_str());
    testutil::writeFile(path, bytes);
    return vela::loadSuggestKeys(home_, vela::openIndexDb(home_)) != nullptr;
  };
  EXPECT_TRUE(loads(good));
  // Written once: a second writer does not replace the file.
  EXPECT_FALSE(vela::writeSuggestKeys(home_, error));
  // Every byte counts: one changed, one more or one less, a header of
  // another byte order.
  for (size_t at : {size_t{0}, size_t{9}, size_t{20}, size_t{30}, size_t{60}, good.size() / 2,
                    good.size() - 1}) {
    std::string bad = good;
    bad[at] = static_cast<char>(bad[at] ^ 0x10);
    EXPECT_FALSE(loads(bad)) << at;
  }
  EXPECT_FALSE(loads(good + "x"));
  EXPECT_FALSE(loads(good.substr(0, good.size() - 1)));
  EXPECT_FALSE(loads(good.substr(0, 47)));
  EXPECT_FALSE(loads(""));
  std::string swapped = good;
  std::reverse(swapped.begin() + 8, swapped.begin() + 12);
  vela::sealSuggestKeys(swapped);
  EXPECT_FALSE(loads(swapped));
  // Sealed again after a change to its groups: the structure itself is
  // checked, not only the checksum.
  std::string regrouped = good;
  const size_t uuidBytes = static_cast<unsigned char>(good[12]);
  regrouped[48 + uuidBytes + 4] = static_cast<char>(regrouped[48 + uuidBytes + 4] + 1);
  vela::sealSuggestKeys(regrouped);
  EXPECT_FALSE(loads(regrouped));
  // Missing, and a link in its place.
  std::remove(path.c_str());
  EXPECT_FALSE(vela::loadSuggestKeys(home_, vela::openIndexDb(home_)));
  testutil::writeFile(dir_.sub("elsewhere"), good);
  ASSERT_EQ(symlink(dir_.sub("elsewhere").c_str(), path.c_str()), 0);
  EXPECT_FALSE(vela::loadSuggestKeys(home_, vela::openIndexDb(home_)));
  std::remove(path.c_str());
  // Of another database, and of this one before a change.
  makeIndex(dir_.sub("other"), {"abc"});
  ASSERT_TRUE(vela::writeSuggestKeys(dir_.sub("other"), error)) << error;
  EXPECT_FALSE(loads(testutil::readFile(dir_.sub("other") + "/" + vela::kSuggestKeysFile)));
  EXPECT_TRUE(loads(good));
  makeIndex(home_, {"abcdq"});
  EXPECT_FALSE(loads(good));
}

TEST_F(SuggestKeysTest, ALeaseLoadsTheKeysOnceAndKeepsThemWithItsDatabase) {
  std::string error;
  ASSERT_TRUE(vela::writeSuggestKeys(home_, error)) << error;
  vela::IndexDbCache cache(2);
  const vela::SuggestKeys* first = nullptr;
  {
    const auto lease = cache.acquire(home_);
    first = lease.suggestKeys();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(lease.suggestKeys(), first);
  }
  {
    // The idle database comes back with the keys loaded for it; the file
    // gone by now changes nothing for that build.
    std::remove((home_ + "/" + vela::kSuggestKeysFile).c_str());
    const auto lease = cache.acquire(home_);
    EXPECT_EQ(lease.suggestKeys(), first);
  }
  EXPECT_EQ(cache.openCount(), 1u);
  // A run that opens the database for itself goes over the words: that
  // costs less than loading their keys.
  ASSERT_TRUE(vela::writeSuggestKeys(home_, error)) << error;
  EXPECT_EQ(vela::IndexDbCache::openOnce(home_).suggestKeys(), nullptr);
  EXPECT_NE(vela::IndexDbCache(0).acquire(home_).suggestKeys(), nullptr);
}

void writeIndex(const std::string& home, int records) {
  vela::IndexWriter writer(home);
  for (int r = 0; r < records; ++r)
    writer.add({}, {std::to_string(r) + ".txt", {"", "apple orchard " + std::to_string(r)}});
  std::string error;
  ASSERT_TRUE(writer.finish(error)) << error;
}

// Two copies of one text and one other: the groups are the list's only
// while the list fits the build's records.
TEST(EngineServiceIndexes, CopyGroupsComeWithTheirBuildOnlyWhenTheyFit) {
  testutil::TempDir dir;
  const std::string home = dir.sub("idx");
  {
    vela::IndexWriter writer(home);
    for (const char* text : {"apple pie", "apple pie", "apple crumble"})
      writer.add({}, {text, {"", text}, vela::contentDigest(text)});
    std::string error;
    ASSERT_TRUE(writer.finish(error)) << error;
  }
  vela::IndexDbCache cache(2);
  {
    const auto lease = cache.acquire(home);
    ASSERT_NE(lease.copyGroups(), nullptr);
    EXPECT_EQ(*lease.copyGroups(), (std::vector<uint32_t>{1, 1, 0}));
  }
  const uint64_t derived = cache.derivedCount();
  EXPECT_NE(cache.acquire(home).copyGroups(), nullptr);
  EXPECT_EQ(cache.derivedCount(), derived);  // kept with the build
  EXPECT_NE(vela::IndexDbCache::openOnce(home).copyGroups(), nullptr);

  const std::string list = home + "/" + vela::kContentCopiesFile;
  std::filesystem::resize_file(list, 8);
  EXPECT_EQ(vela::IndexDbCache::openOnce(home).copyGroups(), nullptr);
  std::filesystem::remove(list);
  EXPECT_EQ(vela::IndexDbCache::openOnce(home).copyGroups(), nullptr);
}

// base holds two records, other and third one each.
TEST(EngineServiceIndexes, TheCacheHoldsUpUnderConcurrentRuns) {
  testutil::TempDir dir;
  const std::string homes[] = {dir.sub("base"), dir.sub("other"), dir.sub("third")};
  for (const std::string& home : homes)
    writeIndex(home, &home == &homes[0] ? 2 : 1);
  vela::IndexDbCache cache(2);
  std::atomic<int> wrong{0};
  std::vector<std::thread> runs;
  for (int t = 0; t < 8; ++t)
    runs.emplace_back([&, t] {
      for (int i = 0; i < 60; ++i) {
        const std::string& home = homes[(t + i) % 3];
        const auto lease = cache.acquire(home);
        const bool isBase = &home == &homes[0];
        if (lease.db().get_doccount() < (isBase ? 2u : 1u)) ++wrong;
      }
    });
  for (std::thread& t : runs)
    t.join();
  EXPECT_EQ(wrong, 0);
  EXPECT_LE(cache.idleCount(), 2u);
  EXPECT_LE(cache.openCount(), 8u * 60u);
}

// The builder switches a new build in while runs open the index, and then
// removes the old one: every open, cached or not, gives one whole build.
TEST(EngineServiceIndexes, AnOpenDuringASwitchGivesOneWholeBuild) {
  testutil::TempDir dir;
  const std::string home = dir.sub("idx"), staged = dir.sub("staged");
  writeIndex(home, 1);
  std::atomic<bool> stop{false};
  std::atomic<int> switches{0}, opens{0};
  std::thread builder([&] {
    for (int i = 0; !stop && i < 400; ++i) {
      writeIndex(staged, 1 + i % 3);
      ASSERT_EQ(renameat2(AT_FDCWD, staged.c_str(), AT_FDCWD, home.c_str(), RENAME_EXCHANGE), 0);
      std::filesystem::remove_all(staged);
      ++switches;
      // A builder takes far longer than an open between two switches; one
      // that switched on every tick of a loaded machine would outrun the
      // open's retries, which no real installation does.
      for (const int seen = opens; !stop && opens == seen;)
        std::this_thread::yield();
    }
  });
  vela::IndexDbCache cache(1);
  int failed = 0, wrong = 0;
  std::string firstFailure;
  for (int i = 0; switches < 390 && i < 1000000; ++i, ++opens) {
    try {
      const auto lease = i % 2 ? cache.acquire(home) : vela::IndexDbCache::openOnce(home);
      const Xapian::doccount docs = lease.db().get_doccount();
      // Counts of one build and words of another: a torn open.
      if (docs < 1 || docs > 3 || lease.db().get_termfreq("apple") != docs) ++wrong;
    } catch (const Xapian::Error& e) {
      if (failed++ == 0) firstFailure = e.get_description();
    }
  }
  stop = true;
  builder.join();
  EXPECT_EQ(failed, 0) << firstFailure;
  EXPECT_EQ(wrong, 0);
  EXPECT_GE(switches, 390);
}

}  // namespace
