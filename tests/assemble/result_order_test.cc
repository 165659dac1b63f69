/// @file result_order_test.cc
/// @brief Ordering of merged hits: key comparison, the sort against a
/// reference, and the direction in which the writer takes the array.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "assemble/result_order.h"

namespace {

RecordSortKey num(int32_t n) {
  RecordSortKey k;
  k.number = n;
  return k;
}

RecordSortKey txt(const char* t) {
  RecordSortKey k;
  k.text = t;
  return k;
}

// Hits whose recid is their merge position, so stability can be checked.
std::vector<recordMapping> hitsWithNumbers(const std::vector<int32_t>& keys) {
  std::vector<recordMapping> out;
  for (size_t i = 0; i < keys.size(); ++i) {
    out.push_back({0, static_cast<uint32_t>(i), static_cast<uint32_t>(i), num(keys[i])});
  }
  return out;
}

std::vector<uint32_t> recids(const std::vector<recordMapping>& hits) {
  std::vector<uint32_t> out;
  for (const recordMapping& h : hits)
    out.push_back(h.recid);
  return out;
}

// The order a trivially correct stable sort gives.
std::vector<uint32_t> reference(std::vector<recordMapping> hits, int mode) {
  std::stable_sort(hits.begin(), hits.end(),
                   [mode](const recordMapping& a, const recordMapping& b) {
                     return mode == kCompareNumber
                                ? a.sortField.number < b.sortField.number
                                : std::string(a.sortField.text) < std::string(b.sortField.text);
                   });
  return recids(hits);
}

void sortAll(std::vector<recordMapping>& hits, int mode) {
  sortByRec(hits.data(), 0, static_cast<int>(hits.size()) - 1, mode);
}

TEST(ResultOrderCompare, NumbersSignedTextsBytewise) {
  EXPECT_EQ(-1, compare(num(INT32_MIN), num(0), kCompareNumber));
  EXPECT_EQ(1, compare(num(INT32_MAX), num(-1), kCompareNumber));
  EXPECT_EQ(0, compare(num(7), num(7), kCompareNumber));
  EXPECT_EQ(-1, compare(txt("Zed"), txt("abc"), kCompareText));
  EXPECT_EQ(1, compare(txt("\xE0"), txt("z"), kCompareText));  // bytes above 0x7F are large
  EXPECT_EQ(-1, compare(txt(""), txt("a"), kCompareText));
  EXPECT_EQ(0, compare(txt("same"), txt("same"), 5));  // any mode but 1 compares text
}

TEST(ResultOrderSort, MatchesAStableReferenceOnEveryShape) {
  std::mt19937 rng(42);
  const size_t n = 5000;
  std::vector<std::pair<const char*, std::vector<int32_t>>> shapes;
  std::vector<int32_t> keys(n);
  for (auto& k : keys)
    k = static_cast<int32_t>(rng());
  shapes.emplace_back("random", keys);
  for (auto& k : keys)
    k = static_cast<int32_t>(rng() % 7) - 3;
  shapes.emplace_back("few distinct", keys);
  std::sort(keys.begin(), keys.end());
  shapes.emplace_back("presorted", keys);
  std::reverse(keys.begin(), keys.end());
  shapes.emplace_back("reversed", keys);
  shapes.emplace_back("all equal", std::vector<int32_t>(n, 9));

  for (const auto& [name, shape] : shapes) {
    std::vector<recordMapping> hits = hitsWithNumbers(shape);
    const std::vector<uint32_t> expected = reference(hits, kCompareNumber);
    sortAll(hits, kCompareNumber);
    EXPECT_EQ(expected, recids(hits)) << name;

    std::vector<std::string> texts;
    for (int32_t k : shape)
      texts.push_back(std::to_string(k));
    for (size_t i = 0; i < n; ++i)
      hits[i] = {0, 0, static_cast<uint32_t>(i), txt(texts[i].c_str())};
    const std::vector<uint32_t> expectedText = reference(hits, kCompareText);
    sortAll(hits, kCompareText);
    EXPECT_EQ(expectedText, recids(hits)) << name << " as text";
  }
}

TEST(ResultOrderSort, SortsOnlyTheRangeAndMovesWholeHits) {
  std::vector<recordMapping> hits = hitsWithNumbers({9, 3, 2, 1, 0});
  hits[2].databaseNum = 7;
  sortByRec(hits.data(), 1, 3, kCompareNumber);
  EXPECT_EQ((std::vector<uint32_t>{0, 3, 2, 1, 4}), recids(hits));
  EXPECT_EQ(7u, hits[2].databaseNum);
  EXPECT_EQ(2u, hits[2].score);
  sortByRec(hits.data(), 2, 2, kCompareNumber);  // a single element is left alone
  sortByRec(hits.data(), 3, 1, kCompareNumber);
  EXPECT_EQ((std::vector<uint32_t>{0, 3, 2, 1, 4}), recids(hits));
}

TEST(ResultOrderSort, LargePresortedResultsNeitherOverflowNorCrawl) {
  std::vector<int32_t> keys(200000);
  for (size_t i = 0; i < keys.size(); ++i)
    keys[i] = static_cast<int32_t>(i);
  std::vector<recordMapping> hits = hitsWithNumbers(keys);
  sortAll(hits, kCompareNumber);
  const std::vector<uint32_t> order = recids(hits);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
  std::reverse(hits.begin(), hits.end());
  sortAll(hits, kCompareNumber);
  EXPECT_EQ(0u, hits.front().recid);
  EXPECT_EQ(199999u, hits.back().recid);
}

TEST(ResultOrderSort, WhenTheRunSorts) {
  struct Case {
    const char* field;
    unsigned long dbCount;
    int incSearched;
    int mode;
  } cases[] = {
      {"score", 1, 0, -1},
      {"score", 2, 0, kCompareNumber},
      {"score", 1, 1, kCompareNumber},
      {"index", 3, 1, -1},
      {"none", 3, 0, -1},
      {"date", 1, 0, kCompareNumber},
      {"size", 2, 0, kCompareNumber},
      {"relevance", 2, 0, kCompareNumber},
      {"filename", 1, 0, kCompareText},
      {"owner", 2, 0, kCompareText},
      {"DB_price", 2, 0, kCompareText},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.mode, resultSortMode(c.field, c.dbCount, c.incSearched)) << c.field;
  }
}

TEST(ResultOrderDirection, WhatTheWriterTakes) {
  struct Case {
    const char* what;
    const char* field;
    const char* order;
    std::vector<uint32_t> scores;  // also the record ids
    unsigned long outCount;
    std::vector<unsigned long> written;  // array positions, in writing order
  } cases[] = {
      {"engine order kept", "score", "desc", {80, 60, 40}, 9, {0, 1, 2}},
      {"engine order reversed", "score", "asc", {80, 60, 40}, 9, {2, 1, 0}},
      {"sorted scores for desc", "score", "desc", {40, 40, 60}, 9, {2, 1, 0}},
      {"equal scores run desc", "score", "asc", {5, 5}, 9, {1, 0}},
      {"one hit runs desc", "score", "desc", {5}, 9, {0}},
      {"sorted keys for desc", "date", "desc", {5, 7, 9}, 9, {2, 1, 0}},
      {"sorted keys for asc", "owner", "asc", {5, 7, 9}, 9, {0, 1, 2}},
      {"index order never reversed", "index", "asc", {9, 5, 7}, 9, {0, 1, 2}},
      {"index order never reversed", "index", "desc", {5, 7, 9}, 9, {0, 1, 2}},
      {"ids rising", "none", "desc", {3, 3, 8}, 9, {2, 1, 0}},
      {"ids falling", "none", "desc", {8, 3, 1}, 9, {0, 1, 2}},
      {"ids equal run asc", "none", "desc", {4, 4, 4}, 9, {2, 1, 0}},
      {"ids beyond outCount unseen", "none", "asc", {4, 1, 9}, 1, {0}},
      {"fast output reversed", "date", "desc", {1, 2, 3, 4, 5}, 2, {4, 3}},
      {"fast output forward", "date", "asc", {1, 2, 3, 4, 5}, 2, {0, 1}},
      {"nothing to write", "score", "desc", {}, 9, {}},
  };
  for (const Case& c : cases) {
    std::vector<recordMapping> hits;
    for (uint32_t s : c.scores)
      hits.push_back({0, s, s, num(0)});
    const OutputOrder order = outputOrder(hits.data(), hits.size(), c.outCount, c.field, c.order);
    std::vector<unsigned long> written;
    for (unsigned long i = 0; i < order.count; ++i)
      written.push_back(order.at(i));
    EXPECT_EQ(c.written, written) << c.what << " (" << c.field << " " << c.order << ")";
  }
}

TEST(ResultOrderMultiField, ScoreHighestFirstOrIdLowestFirst) {
  auto hit = [](uint32_t score, uint32_t recid) { return recordMapping{0, score, recid, num(0)}; };
  EXPECT_EQ(-1, RecordScoreCompare(hit(0xFFFFFFFFu, 0), hit(1, 0)));  // unsigned scores
  EXPECT_EQ(0, RecordScoreCompare(hit(3, 1), hit(3, 2)));
  EXPECT_EQ(1, RecordIdCompare(hit(0, 0x80000000u), hit(0, 1)));
  EXPECT_EQ(-1, RecordIdCompare(hit(0, 1), hit(0, 2)));

  std::vector<recordMapping> hits = {hit(5, 30), hit(9, 10), hit(5, 20)};
  sortMultiFieldResult(hits.data(), hits.size(), "score");
  EXPECT_EQ((std::vector<uint32_t>{10, 30, 20}), recids(hits));  // equal scores keep their order
  sortMultiFieldResult(hits.data(), hits.size(), "NONE");
  EXPECT_EQ((std::vector<uint32_t>{10, 20, 30}), recids(hits));
}

}  // namespace
