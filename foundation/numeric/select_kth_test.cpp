#include "foundation/numeric/select_kth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

void ExpectSelected(const std::vector<double>& input, int k) {
  std::vector<double> v = input;
  SelectKthSmallest(v.data(), static_cast<int>(v.size()), k);
  std::vector<double> sorted = input;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(v[k], sorted[k]);
  for (int i = 0; i < k; ++i) EXPECT_LE(v[i], v[k]);
  for (size_t i = k + 1; i < v.size(); ++i) EXPECT_GE(v[i], v[k]);
  std::sort(v.begin(), v.end());
  EXPECT_EQ(v, sorted) << "a permutation of the input";
}

TEST(SelectKthSmallest, SmallExample) {
  std::vector<double> v = {5, 1, 4, 2, 3};
  SelectKthSmallest(v.data(), 5, 2);
  EXPECT_EQ(v[2], 3);
  EXPECT_EQ(std::max(v[0], v[1]), 2);
  EXPECT_EQ(std::min(v[0], v[1]), 1);
  EXPECT_EQ(std::min(v[3], v[4]), 4);
  EXPECT_EQ(std::max(v[3], v[4]), 5);
}

TEST(SelectKthSmallest, EveryRankOfAwkwardInputs) {
  std::mt19937 rng(1);
  std::vector<std::vector<double>> inputs = {
      {7}, {2, 1}, {1, 1, 1, 1}, {3, 3, 1, 1, 2, 2}, {1, 2, 3, 4, 5, 6, 7}, {7, 6, 5, 4, 3, 2, 1},
  };
  std::vector<double> r(101);
  for (double& e : r) e = std::uniform_int_distribution<int>(0, 20)(rng);  // many ties
  inputs.push_back(r);
  for (const auto& in : inputs)
    for (int k = 0; k < static_cast<int>(in.size()); ++k) ExpectSelected(in, k);
}

TEST(SelectKthSmallest, EmptyInputAndRanksOutsideTheRangeAreLeftAlone) {
  SelectKthSmallest(nullptr, 0, 0);
  std::vector<double> v = {3, 1, 2};
  SelectKthSmallest(v.data(), 3, 3);
  SelectKthSmallest(v.data(), 3, -1);
  EXPECT_EQ(v, (std::vector<double>{3, 1, 2}));
}

}  // namespace
