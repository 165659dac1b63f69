/// @file merge_bench.cc
/// @brief Cost of merging and ordering a large result: 100 indexes with
/// 10,000 hits each, keys presorted or random, numeric and text.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "assemble/record_merge.h"
#include "assemble/result_order.h"
#include "search/result_block.h"

namespace {

constexpr int kIndexes = 100;
constexpr int kHitsPerIndex = 10000;

const char* const kFields[] = {"date", "size", "filename", "DB_customer"};
const char* const kShapes[] = {"presorted", "random"};

// The key of the hit at merge position `position` (0 to 999,999).
uint32_t keyNumber(bool presorted, uint32_t position, std::mt19937& rng) {
  return presorted ? 1000000000u + position : static_cast<uint32_t>(rng());
}

// One block per index, each one section, as a local search would hand over.
std::vector<std::string> makeBlocks(const char* field, bool presorted) {
  std::mt19937 rng(7);
  const bool text = sortKeyKindOf(field) == SortKeyKind::kText;
  std::vector<std::string> blocks;
  char key[128];
  for (int d = 0; d < kIndexes; ++d) {
    ResultSection section;
    for (int k = 0; k < kHitsPerIndex; ++k) {
      const uint32_t n = keyNumber(presorted, static_cast<uint32_t>(d * kHitsPerIndex + k), rng);
      section.addPair(rng() % 1000, static_cast<uint32_t>(k + 1));
      if (!text) {
        section.addNumberKey(n);
      } else if (field[0] == 'f') {
        std::snprintf(key, sizeof key, "/share/projects/%010u/minutes_of_the_meeting.pdf", n);
        section.addTextKey(key);
      } else {
        std::snprintf(key, sizeof key, "Customer %010u Ltd.", n);
        section.addTextKey(key);
      }
    }
    appendResultSection(section, blocks.emplace_back());
  }
  return blocks;
}

std::vector<velaSearch> makeJobs(const std::vector<std::string>& blocks) {
  std::vector<velaSearch> jobs(blocks.size());
  for (size_t d = 0; d < blocks.size(); ++d) {
    jobs[d].m_ipAddr = "127.0.0.1";
    jobs[d].m_owner.push_back("owner");
    jobs[d].m_idxName.push_back("idx" + std::to_string(d));
    jobs[d].m_numDb = 1;
    jobs[d].m_numRec = kHitsPerIndex;
    jobs[d].m_velaResult = blocks[d];
  }
  return jobs;
}

// Merge alone (sort = false) or merge and order as the run does.
void BM_Merge(benchmark::State& state, bool sort) {
  const char* field = kFields[state.range(0)];
  const std::vector<std::string> blocks = makeBlocks(field, state.range(1) == 0);
  char retQuery[kQuerySize];
  size_t blockBytes = 0;
  for (const std::string& b : blocks)
    blockBytes += b.size();
  for (auto _ : state) {
    state.PauseTiming();
    std::vector<velaSearch> jobs = makeJobs(blocks);
    RecordList list;
    retQuery[0] = '\0';
    state.ResumeTiming();
    if (mergeJobResults(jobs, field, retQuery, keepFirstRetQuery, list) != nullptr) {
      state.SkipWithError("merge failed");
      break;
    }
    if (sort) {
      const int mode = resultSortMode(field, list.dbCount(), 0);
      sortByRec(list.recMap.data(), 0, static_cast<int>(list.recordCount()) - 1, mode);
    }
    benchmark::DoNotOptimize(list.recMap.data());
  }
  state.SetLabel(std::string(field) + "/" + kShapes[state.range(1)]);
  state.counters["hits"] = kIndexes * kHitsPerIndex;
  state.counters["record_bytes_per_hit"] = sizeof(recordMapping);
  state.counters["block_bytes_per_hit"] =
      static_cast<double>(blockBytes) / (kIndexes * kHitsPerIndex);
}

void fieldsAndShapes(benchmark::internal::Benchmark* b) {
  for (int f = 0; f < 4; ++f)
    for (int s = 0; s < 2; ++s)
      b->Args({f, s});
  b->Unit(benchmark::kMillisecond)->UseRealTime();
}

}  // namespace

BENCHMARK_CAPTURE(BM_Merge, merge_only, false)->Apply(fieldsAndShapes);
BENCHMARK_CAPTURE(BM_Merge, merge_and_sort, true)->Apply(fieldsAndShapes);
