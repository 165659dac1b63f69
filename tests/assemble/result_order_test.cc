/// @file result_order_test.cc
/// @brief Ordering of merged hits: key comparison, the sort against a stable
/// reference, and the direction in which the writer takes the array.

#include "assemble/result_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

namespace {

using Ids = std::vector<uint32_t>;

RecordSortKey txt(const char* t) {
  RecordSortKey k;
  k.text = t;
  return k;
}

// One hit per number key; the record id is the merge position, so stability shows.
std::vector<recordMapping> hits(const std::vector<int32_t>& keys) {
  std::vector<recordMapping> out;
  for (size_t i = 0; i < keys.size(); ++i)
    out.push_back({0, static_cast<uint32_t>(i), static_cast<uint32_t>(i), RecordSortKey{keys[i]}});
  return out;
}

Ids recids(const std::vector<recordMapping>& hits) {
  Ids out;
  for (const recordMapping& h : hits)
    out.push_back(h.recid);
  return out;
}

TEST(ResultOrder, CompareNumbersSignedAndTextsBytewise) {
  EXPECT_EQ(-1, compare(RecordSortKey{INT32_MIN}, RecordSortKey{INT32_MAX}, kCompareNumber));
  EXPECT_EQ(1, compare(txt("\xE0"), txt("z"), 5));  // any mode but 1 compares bytes
}

TEST(ResultOrder, SortIsStableForAnyOrderAndSize) {
  // Runs already in key order once made the sort quadratic and one stack frame per hit deep.
  std::mt19937 rng(42);
  std::vector<int32_t> shuffled(3000), descending(200000);
  for (int32_t& key : shuffled)
    key = static_cast<int32_t>(rng() % 7) - 3;
  for (size_t i = 0; i < descending.size(); ++i)
    descending[i] = static_cast<int32_t>((descending.size() - i) / 3);
  for (const auto& keys : {shuffled, descending}) {
    std::vector<recordMapping> got = hits(keys), want = got;
    std::stable_sort(want.begin(), want.end(), [](const recordMapping& a, const recordMapping& b) {
      return a.sortField.number < b.sortField.number;
    });
    for (int pass = 0; pass < 2; ++pass) {  // the second pass sorts a sorted array
      sortByRec(got.data(), 0, static_cast<int>(got.size()) - 1, kCompareNumber);
      EXPECT_EQ(recids(want), recids(got));
    }
  }
  std::vector<recordMapping> texts = hits({0, 0, 0, 0, 0});
  const char* keys[] = {"b", "a", "b", "A", "\xE0"};
  for (size_t i = 0; i < 5; ++i)
    texts[i].sortField = txt(keys[i]);
  sortByRec(texts.data(), 0, 4, kCompareText);
  EXPECT_EQ((Ids{3, 1, 0, 2, 4}), recids(texts));
  std::vector<recordMapping> some = hits({9, 3, 2, 1, 0});
  some[2].databaseNum = 7;
  sortByRec(some.data(), 1, 3, kCompareNumber);  // only the range, whole hits moving
  sortByRec(some.data(), 3, 1, kCompareNumber);  // an empty range
  EXPECT_EQ((Ids{0, 3, 2, 1, 4}), recids(some));
  EXPECT_EQ(7u, some[2].databaseNum);
}

TEST(ResultOrder, WhenTheRunSorts) {
  EXPECT_EQ(-1, resultSortMode("score", 1, 0));  // one index keeps the engine's order
  EXPECT_EQ(kCompareNumber, resultSortMode("score", 2, 0));
  EXPECT_EQ(kCompareNumber, resultSortMode("score", 1, 1));
  EXPECT_EQ(-1, resultSortMode("index", 3, 1));
  EXPECT_EQ(-1, resultSortMode("none", 3, 0));
  EXPECT_EQ(kCompareText, resultSortMode("DB_price", 2, 0));
}

TEST(ResultOrder, WhatTheWriterTakes) {
  // Sort field, order, scores (also the record ids), outCount, the array positions written.
  const std::tuple<const char*, const char*, Ids, unsigned long, std::vector<unsigned long>>
      cases[] = {
          {"score", "asc", {80, 60, 40}, 9, {2, 1, 0}},
          {"score", "desc", {40, 40, 60}, 9, {2, 1, 0}},  // the first score that differs counts
          {"score", "asc", {5, 5}, 9, {1, 0}},            // equal scores run desc
          {"index", "asc", {9, 5, 7}, 9, {0, 1, 2}},      // merge order is never reversed
          {"none", "desc", {3, 3, 8}, 9, {2, 1, 0}},
          {"none", "asc", {4, 1, 9}, 1, {0}},  // ids beyond outCount are not looked at
          {"date", "desc", {1, 2, 3, 4, 5}, 2, {4, 3}},
          {"score", "desc", {}, 9, {}},
      };
  for (const auto& [field, order, scores, outCount, positions] : cases) {
    std::vector<recordMapping> array;
    for (uint32_t s : scores)
      array.push_back({0, s, s, RecordSortKey{0}});
    const OutputOrder taken = outputOrder(array.data(), array.size(), outCount, field, order);
    std::vector<unsigned long> written;
    for (unsigned long i = 0; i < taken.count; ++i)
      written.push_back(taken.at(i));
    EXPECT_EQ(positions, written) << field << " " << order << " " << scores.size();
  }
}

}  // namespace
