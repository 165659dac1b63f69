/// @file field_bench.cc
/// @brief Cost of the multi-field combination: the presence table alone
/// (1,000,000 ids set and checked) and "and", "or", "not" over clauses of
/// 1,000,000 hits each, with ids dense (one segment) or spread over all ten
/// segments. Peak memory is the process's (ru_maxrss) after the run.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <random>
#include <vector>

#include "assemble/multi_field_merge.h"
#include "assemble/presence_table.h"

namespace {

constexpr int kHits = 1000000;

// Ids dense in 0..1,999,999 (range 0) or spread over the whole table (1).
std::vector<uint32_t> makeIds(int spread, unsigned seed) {
  std::mt19937 rng(seed);
  const uint32_t top = spread ? MultiIndexHashTable::kMaxRecId : 2 * kHits - 1;
  std::vector<uint32_t> ids(kHits);
  for (uint32_t& id : ids)
    id = static_cast<uint32_t>(rng() % (uint64_t{top} + 1));
  return ids;
}

double peakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_PresenceSetAndCheck(benchmark::State& state) {
  const std::vector<uint32_t> ids = makeIds(static_cast<int>(state.range(0)), 1);
  size_t found = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    MultiIndexHashTable table;
    for (uint32_t id : ids)
      table.setRecID(0, id);
    for (uint32_t id : ids)
      found += table.checkRecID(0, id ^ 1u);
    bytes = table.allocatedBytes();
  }
  benchmark::DoNotOptimize(found);
  state.SetLabel(state.range(0) ? "spread" : "dense");
  state.counters["table_MiB"] = static_cast<double>(bytes) / (1 << 20);
  state.counters["peak_rss_MiB"] = peakRssMiB();
}

// Three clauses of kHits hits each, combined with "and", "or" or "not" by
// the second and third (both the same operator).
void BM_Combine(benchmark::State& state) {
  const int spread = static_cast<int>(state.range(0));
  const ClauseOperator op = static_cast<ClauseOperator>(state.range(1));
  std::vector<std::vector<uint32_t>> sections;
  for (unsigned s = 0; s < 3; ++s)
    sections.push_back(makeIds(spread, 10 + s));
  size_t kept = 0;
  for (auto _ : state) {
    state.PauseTiming();
    RecordList list;
    list.recMap.reserve(3 * kHits);
    for (size_t s = 0; s < sections.size(); ++s) {
      list.dbMap.emplace_back().numRec = kHits;
      for (size_t k = 0; k < sections[s].size(); ++k)
        list.recMap.push_back(
            {static_cast<uint32_t>(s), static_cast<uint32_t>(k % 997), sections[s][k], {}});
    }
    MultiIndexHashTable table;
    state.ResumeTiming();
    if (combineClauseHits({ClauseOperator::kAnd, op, op}, "score", table, list) != nullptr) {
      state.SkipWithError("combination failed");
      break;
    }
    kept = list.recMap.size();
  }
  static const char* const kOps[] = {"and", "or", "not"};
  state.SetLabel(std::string(spread ? "spread/" : "dense/") + kOps[state.range(1)]);
  state.counters["hits_in"] = 3.0 * kHits;
  state.counters["kept"] = static_cast<double>(kept);
  state.counters["peak_rss_MiB"] = peakRssMiB();
}

}  // namespace

BENCHMARK(BM_PresenceSetAndCheck)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Combine)
    ->ArgsProduct({{0, 1}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
