/// @file relterm_bench.cc
/// @brief Cost of the related terms of one index's best hits, the index
/// already open in the engine service: relevance feedback against the terms
/// the hits share in the record term dictionary, the dictionary kept by the
/// service or read for the run. An index of 3,000 documents made of the
/// texts every machine carries (licences, package notes); the hits are the
/// 100 best of a one-word search. The ratio of feedback to shared terms is
/// printed at the end.

#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <xapian.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "companions/builder/index_writer.h"
#include "companions/engine/engine_query.h"
#include "companions/engine/index_db_cache.h"
#include "companions/engine/relterm_tool.h"

namespace {

namespace fs = std::filesystem;

constexpr int kDocuments = 3000;
const char* const kWords[] = {"python", "font", "xml", "compression"};

std::string readWhole(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The index, built once; each document joins two texts, so that no two are
// alike.
struct Corpus {
  std::string dir;
  std::string home;
  std::vector<std::vector<uint32_t>> hits;  // of each word
  vela::IndexDbCache databases{8};

  Corpus() {
    char pattern[] = "/tmp/relterm_bench.XXXXXX";
    if (!mkdtemp(pattern)) std::abort();
    dir = pattern;
    home = dir + "/idx";
    std::vector<std::string> texts;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/usr/share/common-licenses", ec))
      if (e.is_regular_file()) texts.push_back(readWhole(e.path()));
    for (const auto& pkg : fs::directory_iterator("/usr/share/doc", ec))
      if (fs::is_regular_file(pkg.path() / "copyright"))
        texts.push_back(readWhole(pkg.path() / "copyright"));
    if (texts.empty()) std::abort();
    vela::IndexWriter writer(home);
    for (int i = 0; i < kDocuments; ++i) {
      vela::RecordText text;
      text.name = "doc" + std::to_string(i) + ".txt";
      text.doc.body = texts[static_cast<size_t>(i) % texts.size()] + "\n" +
                      texts[static_cast<size_t>(i * 7 + 3) % texts.size()];
      writer.add({}, text);
    }
    std::string error;
    if (!writer.finish(error)) std::abort();
    Xapian::Database db = vela::openIndexDb(home);
    for (const char* word : kWords) {
      Xapian::Enquire enquire(db);
      enquire.set_query(Xapian::Query(word));
      std::vector<uint32_t>& ids = hits.emplace_back();
      const Xapian::MSet m = enquire.get_mset(0, 100);
      for (auto it = m.begin(); it != m.end(); ++it)
        ids.push_back(*it);
    }
  }
  ~Corpus() { fs::remove_all(dir); }
};

Corpus& corpus() {
  static Corpus c;
  return c;
}

// 0: relevance feedback; 1: shared terms, dictionary kept by the service;
// 2: shared terms, dictionary read for the run; 3: the sum of the hits'
// dictionary weights, which decodes the scrambled term names for the run.
void BM_RelatedTerms(benchmark::State& state) {
  Corpus& c = corpus();
  const std::vector<uint32_t>& ids = c.hits[static_cast<size_t>(state.range(0))];
  vela::IndexDbCache once(0);
  size_t terms = 0;
  for (auto _ : state) {
    switch (state.range(1)) {
      case 0:
        terms += relterm::feedbackTerms(c.home, ids, 10, &c.databases).size();
        break;
      case 1:
        terms += relterm::typicalTerms(c.home, ids, 10, &c.databases).size();
        break;
      case 2:
        terms += relterm::typicalTerms(c.home, ids, 10, &once).size();
        break;
      default:
        terms += relterm::dictionaryTerms(c.home, ids, 10).size();
    }
  }
  state.SetLabel(kWords[state.range(0)]);
  state.counters["hits"] = static_cast<double>(ids.size());
  state.counters["terms"] =
      benchmark::Counter(static_cast<double>(terms), benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_RelatedTerms)
    ->ArgNames({"word", "method"})
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1, 2, 3}})
    ->Unit(benchmark::kMicrosecond);

// Prints the runs and then, per search, how many times faster the shared
// terms are than relevance feedback.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      const std::string name = r.run_name.str();
      const size_t m = name.rfind("method:");
      if (m == std::string::npos) continue;
      times_[r.report_label][name.substr(m + 7)] = r.GetAdjustedRealTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [search, byMethod] : times_) {
      if (!byMethod.count("0") || !byMethod.count("1") || !byMethod.count("2")) continue;
      std::printf("%s feedback/shared: %.1fx kept, %.1fx read per run\n", search.c_str(),
                  byMethod.at("0") / byMethod.at("1"), byMethod.at("0") / byMethod.at("2"));
    }
  }

 private:
  std::map<std::string, std::map<std::string, double>> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  corpus();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
