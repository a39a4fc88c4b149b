#include "optimise/reduced_camera_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"
#include "testing/pool_threads.h"

namespace {

// A random positive definite system with the coupling of first_block, filled through the
// envelope rows; returns the dense matrix for comparison.
Matrix FillRandom(ReducedCameraSystem& system, int block_size, const std::vector<int>& first,
                  uint32_t seed) {
  const int blocks = static_cast<int>(first.size());
  system.SetStructure(blocks, block_size, first);
  const int n = system.Size();
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  Matrix dense(static_cast<uint32_t>(n), static_cast<uint32_t>(n));
  dense.SetZero();
  for (int r = 0; r < n; ++r) {
    double* row = system.Row(r);
    const int start = system.RowStart(r);
    for (int c = start; c < r; ++c) {
      row[c - start] = unit(random);
      dense(r, c) = dense(c, r) = row[c - start];
    }
    row[r - start] = 4.0 * (r - start + 1) + 1.0;  // diagonally dominant
    dense(r, r) = row[r - start];
  }
  return dense;
}

// Factor and solve against Gaussian elimination on the dense matrix, for a band, a
// varying envelope and a full triangle, on one thread and on four.
TEST(ReducedCameraSystemTest, SolvesLikeTheDenseSystem) {
  struct Case {
    const char* name;
    int block_size;
    std::vector<int> first;
  };
  std::vector<int> band, full;
  for (int c = 0; c < 40; ++c) band.push_back(std::max(0, c - 3));
  for (int c = 0; c < 30; ++c) full.push_back(0);
  const Case cases[] = {{"band", 7, band},
                        {"uneven", 3, {0, 0, 1, 0, 3, 5, 2, 7}},
                        {"full", 6, full},
                        {"single", 4, {0}}};
  for (const Case& c : cases) {
    for (int threads : {1, 4}) {
      SCOPED_TRACE(std::string(c.name) + " threads " + std::to_string(threads));
      kxtest::PoolThreads pool(threads);
      ReducedCameraSystem system;
      const Matrix dense = FillRandom(system, c.block_size, c.first, 3);
      const int n = system.Size();
      Vector b(static_cast<uint32_t>(n));
      std::vector<double> x(static_cast<size_t>(n));
      for (int i = 0; i < n; ++i) b[i] = x[static_cast<size_t>(i)] = std::sin(1.0 + i);
      ASSERT_TRUE(system.Factor());
      system.Solve(x.data());
      Vector expected;
      ASSERT_TRUE(expected.Solve(dense, b));
      for (int i = 0; i < n; ++i) EXPECT_NEAR(x[static_cast<size_t>(i)], expected[i], 1e-12) << i;
    }
  }
}

// Storage grows with the blocks for a band, as the triangle for a full coupling.
TEST(ReducedCameraSystemTest, StoresOnlyTheEnvelope) {
  ReducedCameraSystem system;
  std::vector<int> band;
  for (int c = 0; c < 1000; ++c) band.push_back(std::max(0, c - 9));
  system.SetStructure(1000, 7, band);
  EXPECT_LT(system.StoredElements(), size_t{1000} * 7 * 7 * 10);
  std::vector<int> full(100, 0);
  system.SetStructure(100, 7, full);
  EXPECT_EQ(system.StoredElements(), size_t{700} * 701 / 2);
}

// Couplings that are narrow bands in some order: the system finds that order itself, stores
// a narrow envelope and still solves the system given in block order; a band already in
// order keeps it.
TEST(ReducedCameraSystemTest, OrdersTheBlocksToNarrowTheEnvelope) {
  constexpr int kBlocks = 100, kReach = 3, kSize = 2;
  // Shuffled labels of a band and of a ring (an orbit closing on itself), a band in order.
  std::vector<int> shuffled(kBlocks), identity(kBlocks);
  for (int b = 0; b < kBlocks; ++b) identity[b] = shuffled[b] = b;
  std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(7));
  struct Case {
    const char* name;
    const std::vector<int>& label;
    bool ring;
  };
  const Case cases[] = {{"shuffled band", shuffled, false},
                        {"shuffled ring", shuffled, true},
                        {"band in order", identity, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::vector<int>> coupled(kBlocks);
    for (int s = 0; s < kBlocks; ++s)
      for (int d = 1; d <= kReach; ++d) {
        if (!c.ring && s + d >= kBlocks) break;
        const int a = c.label[s], b = c.label[(s + d) % kBlocks];
        coupled[a].push_back(b);
        coupled[b].push_back(a);
      }
    std::vector<int> start{0}, neighbours;
    for (const std::vector<int>& list : coupled) {
      neighbours.insert(neighbours.end(), list.begin(), list.end());
      start.push_back(static_cast<int>(neighbours.size()));
    }
    ReducedCameraSystem system;
    system.SetCoupling(kBlocks, kSize, start, neighbours);
    // Rows reach back two breadth-first levels at most, against the whole triangle in the
    // shuffled order.
    const size_t width = (4 * kReach + 1) * kSize;
    EXPECT_LE(system.StoredElements(), kBlocks * kSize * width);
    if (c.label == identity && !c.ring) {
      for (int b = 0; b < kBlocks; ++b) EXPECT_EQ(system.Position(b), b);
    }

    // A diagonally dominant system in block order, written at the chosen places.
    const int n = kBlocks * kSize;
    Matrix dense(n, n);
    dense.SetZero();
    std::mt19937 random(11);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    for (int a = 0; a < kBlocks; ++a)
      for (int b : coupled[a])
        if (b < a)
          for (int i = 0; i < kSize; ++i)
            for (int j = 0; j < kSize; ++j)
              dense(a * kSize + i, b * kSize + j) = dense(b * kSize + j, a * kSize + i) =
                  unit(random);
    for (int r = 0; r < n; ++r) dense(r, r) = 4.0 * kSize * (2 * kReach + 1);
    for (int a = 0; a < kBlocks; ++a)
      for (int b = 0; b < kBlocks; ++b)
        if (system.Position(b) <= system.Position(a))
          for (int i = 0; i < kSize; ++i)
            for (int j = 0; j < kSize; ++j) {
              const int r = system.Position(a) * kSize + i, col = system.Position(b) * kSize + j;
              if (col > r || col < system.RowStart(r)) continue;
              system.Row(r)[col - system.RowStart(r)] = dense(a * kSize + i, b * kSize + j);
            }
    Vector rhs(static_cast<uint32_t>(n));
    std::vector<double> x(static_cast<size_t>(n));
    for (int a = 0; a < kBlocks; ++a)
      for (int i = 0; i < kSize; ++i) {
        rhs[a * kSize + i] = std::cos(1.0 + a * kSize + i);
        x[static_cast<size_t>(system.Position(a) * kSize + i)] = rhs[a * kSize + i];
      }
    ASSERT_TRUE(system.Factor());
    system.Solve(x.data());
    Vector expected;
    ASSERT_TRUE(expected.Solve(dense, rhs));
    for (int a = 0; a < kBlocks; ++a)
      for (int i = 0; i < kSize; ++i)
        EXPECT_NEAR(x[static_cast<size_t>(system.Position(a) * kSize + i)], expected[a * kSize + i],
                    1e-12);
  }
}

// A singular or indefinite system is refused; ToDense gives back the symmetric matrix.
TEST(ReducedCameraSystemTest, RefusesSystemsThatAreNotPositiveDefinite) {
  ReducedCameraSystem system;
  const Matrix dense = FillRandom(system, 2, {0, 0, 1}, 5);
  Matrix copy;
  system.ToDense(copy);
  for (uint32_t r = 0; r < dense.Rows(); ++r)
    for (uint32_t c = 0; c < dense.Cols(); ++c) EXPECT_EQ(copy(r, c), dense(r, c));
  for (double diagonal : {0.0, -1.0}) {
    SCOPED_TRACE(diagonal);
    FillRandom(system, 2, {0, 0, 1}, 5);
    system.ZeroBlockRow(1);  // rows 2 and 3: no coupling, no diagonal
    system.Row(3)[3 - system.RowStart(3)] = diagonal;
    system.Row(2)[2 - system.RowStart(2)] = 1.0;
    EXPECT_FALSE(system.Factor());
  }
}

}  // namespace
