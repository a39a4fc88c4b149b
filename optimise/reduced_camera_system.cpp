#include "optimise/reduced_camera_system.h"

#include <algorithm>
#include <cmath>

#include "foundation/numeric/dense_matrix.h"
#include "optimise/parallel_chunks.h"

namespace {

// Rows of one factorisation panel.
constexpr int kPanelRows = 32;
// Below this many multiply-adds a panel's outer part is done on the caller alone.
constexpr double kParallelWork = 40000.0;

double Dot(const double* a, const double* b, int n) {
  double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    s0 += a[i] * b[i];
    s1 += a[i + 1] * b[i + 1];
    s2 += a[i + 2] * b[i + 2];
    s3 += a[i + 3] * b[i + 3];
  }
  for (; i < n; ++i) s0 += a[i] * b[i];
  return (s0 + s1) + (s2 + s3);
}

}  // namespace

void ReducedCameraSystem::SetStructure(int blocks, int block_size,
                                       const std::vector<int>& first_block) {
  if (blocks == blocks_ && block_size == block_size_ && first_block == first_block_) return;
  blocks_ = blocks;
  block_size_ = block_size;
  first_block_ = first_block;
  const int n = blocks * block_size;
  row_start_.resize(static_cast<size_t>(n));
  row_offset_.resize(static_cast<size_t>(n));
  size_t offset = 0;
  for (int r = 0; r < n; ++r) {
    const int start = first_block[static_cast<size_t>(r / block_size)] * block_size;
    row_start_[static_cast<size_t>(r)] = start;
    row_offset_[static_cast<size_t>(r)] = offset;
    offset += static_cast<size_t>(r - start + 1);
  }
  values_.assign(offset, 0.0);
}

void ReducedCameraSystem::ZeroBlockRow(int block_row) {
  const int r0 = block_row * block_size_;
  const int r1 = r0 + block_size_;
  const size_t begin = row_offset_[static_cast<size_t>(r0)];
  const size_t end = r1 < Size() ? row_offset_[static_cast<size_t>(r1)] : values_.size();
  std::fill(values_.begin() + static_cast<std::ptrdiff_t>(begin),
            values_.begin() + static_cast<std::ptrdiff_t>(end), 0.0);
}

bool ReducedCameraSystem::Factor() {
  const int n = Size();
  // Row i, columns [from, to): L[i][j] = (N[i][j] - L[i][..j) . L[j][..j)) / L[j][j].
  auto row_part = [this](int i, int from, int to) {
    double* li = Row(i);
    const int si = RowStart(i);
    for (int j = std::max(from, si); j < to; ++j) {
      const double* lj = Row(j);
      const int sj = RowStart(j);
      const int m0 = std::max(si, sj);
      li[j - si] = (li[j - si] - Dot(li + (m0 - si), lj + (m0 - sj), j - m0)) / lj[j - sj];
    }
  };
  for (int r0 = 0; r0 < n; r0 += kPanelRows) {
    const int r1 = std::min(n, r0 + kPanelRows);
    // Outer part: columns before the panel depend only on finished rows, so the rows of
    // the panel go in parallel.
    double work = 0.0;
    for (int i = r0; i < r1; ++i) {
      const double width = std::max(0, r0 - RowStart(i));
      work += width * width * 0.5;
    }
    auto outer = [&](int begin, int end) {
      for (int i = r0 + begin; i < r0 + end; ++i) row_part(i, 0, r0);
    };
    if (work > kParallelWork) {
      ParallelChunks(r1 - r0, 1, outer);
    } else {
      outer(0, r1 - r0);
    }
    // Inner triangle and pivots in order.
    for (int i = r0; i < r1; ++i) {
      row_part(i, r0, i);
      double* li = Row(i);
      const int si = RowStart(i);
      const double pivot = li[i - si] - Dot(li, li, i - si);
      if (!(pivot > 0.0) || !std::isfinite(pivot)) return false;
      li[i - si] = std::sqrt(pivot);
    }
  }
  return true;
}

void ReducedCameraSystem::Solve(double* b) const {
  const int n = Size();
  for (int i = 0; i < n; ++i) {
    const double* li = Row(i);
    const int si = RowStart(i);
    b[i] = (b[i] - Dot(li, b + si, i - si)) / li[i - si];
  }
  for (int i = n - 1; i >= 0; --i) {
    const double* li = Row(i);
    const int si = RowStart(i);
    const double x = b[i] / li[i - si];
    b[i] = x;
    for (int m = si; m < i; ++m) b[m] -= li[m - si] * x;
  }
}

void ReducedCameraSystem::ToDense(Matrix& out) const {
  const int n = Size();
  out.Resize(static_cast<uint32_t>(n), static_cast<uint32_t>(n));
  out.SetZero();
  for (int r = 0; r < n; ++r) {
    const double* row = Row(r);
    const int start = RowStart(r);
    for (int c = start; c <= r; ++c) {
      out(static_cast<uint32_t>(r), static_cast<uint32_t>(c)) = row[c - start];
      out(static_cast<uint32_t>(c), static_cast<uint32_t>(r)) = row[c - start];
    }
  }
}
