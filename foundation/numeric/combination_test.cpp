#include "foundation/numeric/combination.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Every subset the calls visit after the first, in order.
std::vector<std::vector<int32_t>> Visit(int32_t k, int32_t n) {
  std::vector<int32_t> idx(static_cast<size_t>(k));
  for (int32_t i = 0; i < k; ++i) idx[static_cast<size_t>(i)] = i;
  std::vector<std::vector<int32_t>> out;
  while (NextCombination(idx.data(), k, n)) out.push_back(idx);
  return out;
}

TEST(CombinationTest, VisitsEverySubsetInOrder) {
  EXPECT_EQ(Visit(2, 4),
            (std::vector<std::vector<int32_t>>{{0, 2}, {0, 3}, {1, 2}, {1, 3}, {2, 3}}));
  EXPECT_TRUE(Visit(0, 4).empty());
  EXPECT_TRUE(Visit(3, 3).empty());
  EXPECT_EQ(Visit(1, 3), (std::vector<std::vector<int32_t>>{{1}, {2}}));
  // C(7, 3) = 35 subsets, the first one given.
  const auto all = Visit(3, 7);
  EXPECT_EQ(all.size(), 34u);
  EXPECT_EQ(all.back(), (std::vector<int32_t>{4, 5, 6}));
  for (size_t i = 1; i < all.size(); ++i) EXPECT_LT(all[i - 1], all[i]);
}

}  // namespace
