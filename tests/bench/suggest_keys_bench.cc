/// @file suggest_keys_bench.cc
/// @brief Cost of finding the look-alikes of a word in a similar-term index
/// of 30,000 words: the pass over the terms against the key file; and what
/// the key file costs to write and to load.
///
/// The words are those of the machine's licence and copyright texts, topped
/// up with their inflections; the queries are typos of them.

#include <benchmark/benchmark.h>
#include <xapian.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "companions/engine/engine_query.h"
#include "companions/engine/engine_query_parts.h"
#include "companions/engine/suggest_keys.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kWords = 30000;
constexpr int kPercent = 60;

std::set<std::string> machineWords() {
  std::set<std::string> words;
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator("/usr/share/common-licenses", ec))
    files.push_back(e.path());
  for (const auto& e : fs::directory_iterator("/usr/share/doc", ec))
    files.push_back(e.path() / "copyright");
  for (const fs::path& p : files) {
    std::ifstream in(p);
    std::string word;
    for (char c; in.get(c);) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
      if (c >= 'a' && c <= 'z') {
        word += c;
        continue;
      }
      if (word.size() >= 3 && word.size() <= 40) words.insert(word);
      word.clear();
    }
  }
  const std::vector<std::string> found(words.begin(), words.end());
  for (const char* suffix : {"s", "ed", "ing", "er", "ly"})
    for (size_t i = 0; words.size() < kWords && i < found.size(); ++i)
      if (found[i].size() + std::strlen(suffix) <= 40) words.insert(found[i] + suffix);
  return words;
}

struct Fixture {
  std::string home;
  Xapian::Database db;
  std::shared_ptr<const vela::SuggestKeys> keys;
  std::vector<std::u32string> typos;
  size_t words = 0;
  size_t fileBytes = 0;
  size_t dbBytes = 0;

  Fixture() {
    char tmpl[] = "/tmp/suggest_keys_bench.XXXXXX";
    home = mkdtemp(tmpl);
    const std::set<std::string> all = machineWords();
    words = all.size();
    {
      Xapian::WritableDatabase w(home + "/engine_db", Xapian::DB_CREATE | Xapian::DB_BACKEND_GLASS);
      for (const std::string& word : all) {
        Xapian::Document d;
        d.add_term(word);
        w.add_document(d);
      }
      w.commit();
    }
    db = vela::openIndexDb(home);
    std::string error;
    if (!vela::writeSuggestKeys(home, error)) std::fprintf(stderr, "%s\n", error.c_str());
    keys = vela::loadSuggestKeys(home, db);
    fileBytes = fs::file_size(home + "/" + vela::kSuggestKeysFile);
    for (const auto& e : fs::directory_iterator(home + "/engine_db"))
      dbBytes += e.is_regular_file() ? e.file_size() : 0;
    std::mt19937 rng(5);
    std::vector<std::string> list(all.begin(), all.end());
    for (int i = 0; i < 500; ++i) {
      std::u32string t = vela::codePoints(list[rng() % list.size()]);
      const size_t at = 1 + rng() % (t.size() - 1);
      if (rng() % 2)
        t[at] = U'a' + rng() % 26;
      else
        t.erase(at, 1);
      typos.push_back(t);
    }
  }
  ~Fixture() {
    std::error_code ec;
    fs::remove_all(home, ec);
  }
};

Fixture& fixture() {
  static Fixture f;
  return f;
}

void BM_LookAlikesByPass(benchmark::State& state) {
  Fixture& f = fixture();
  size_t i = 0, found = 0;
  for (auto _ : state) {
    found += vela::lookAlikesByPass(f.db, f.typos[i++ % f.typos.size()], kPercent).size();
  }
  state.counters["words"] = static_cast<double>(f.words);
  state.counters["found_per_word"] = static_cast<double>(found) / static_cast<double>(i);
}
BENCHMARK(BM_LookAlikesByPass)->Unit(benchmark::kMicrosecond);

void BM_LookAlikesByKeys(benchmark::State& state) {
  Fixture& f = fixture();
  if (!f.keys) {
    state.SkipWithError("no key file");
    return;
  }
  size_t i = 0, found = 0;
  for (auto _ : state) {
    found += f.keys->lookAlikes(f.typos[i++ % f.typos.size()], kPercent).size();
  }
  state.counters["found_per_word"] = static_cast<double>(found) / static_cast<double>(i);
}
BENCHMARK(BM_LookAlikesByKeys)->Unit(benchmark::kMicrosecond);

// What the builder adds to a build of the similar-term index.
void BM_EncodeKeys(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        vela::encodeSuggestKeys(f.db.get_uuid(), f.db.get_revision(), vela::keyTermsOf(f.db)));
  }
  state.counters["file_bytes"] = static_cast<double>(f.fileBytes);
  state.counters["db_bytes"] = static_cast<double>(f.dbBytes);
}
BENCHMARK(BM_EncodeKeys)->Unit(benchmark::kMillisecond);

// What a run without the engine service (or its first fuzzy run of a
// database) pays before its look-ups.
void BM_LoadKeys(benchmark::State& state) {
  Fixture& f = fixture();
  for (auto _ : state) {
    benchmark::DoNotOptimize(vela::loadSuggestKeys(f.home, f.db));
  }
}
BENCHMARK(BM_LoadKeys)->Unit(benchmark::kMillisecond);

}  // namespace
