#include "optimise/reduced_camera_system.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "foundation/numeric/dense_matrix.h"
#include "optimise/parallel_chunks.h"

namespace {

// Rows of one factorisation panel: every row of the triangle before a panel is read once
// per panel, so wider panels read less memory; the panel's own triangle is done in order.
constexpr int kPanelRows = 64;
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

// out[r] = Dot(a[r], b, n) for R rows at once, b read once; every row's sum is formed in
// Dot's order, so the grouping of rows never changes a result.
template <int R>
inline void DotRowsBody(const double* const* a, const double* b, int n, double* out) {
  double s[R][4] = {};
  int i = 0;
  for (; i + 4 <= n; i += 4)
    for (int r = 0; r < R; ++r)
      for (int q = 0; q < 4; ++q) s[r][q] += a[r][i + q] * b[i + q];
  for (; i < n; ++i)
    for (int r = 0; r < R; ++r) s[r][0] += a[r][i] * b[i];
  for (int r = 0; r < R; ++r) out[r] = (s[r][0] + s[r][1]) + (s[r][2] + s[r][3]);
}

template <int R>
void DotRowsPortable(const double* const* a, const double* b, int n, double* out) {
  DotRowsBody<R>(a, b, n, out);
}

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
template <int R>
__attribute__((target("avx2"))) void DotRowsAvx2(const double* const* a, const double* b, int n,
                                                 double* out) {
  DotRowsBody<R>(a, b, n, out);
}
const bool g_has_avx2 = __builtin_cpu_supports("avx2");
#endif

// One to four rows; without fused multiply-adds the wider instructions give the same bits.
void DotRows(int rows, const double* const* a, const double* b, int n, double* out) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  if (g_has_avx2) {
    switch (rows) {
      case 4:
        return DotRowsAvx2<4>(a, b, n, out);
      case 3:
        return DotRowsAvx2<3>(a, b, n, out);
      case 2:
        return DotRowsAvx2<2>(a, b, n, out);
      default:
        return DotRowsAvx2<1>(a, b, n, out);
    }
  }
#endif
  switch (rows) {
    case 4:
      return DotRowsPortable<4>(a, b, n, out);
    case 3:
      return DotRowsPortable<3>(a, b, n, out);
    case 2:
      return DotRowsPortable<2>(a, b, n, out);
    default:
      return DotRowsPortable<1>(a, b, n, out);
  }
}

}  // namespace

void ReducedCameraSystem::SetStructure(int blocks, int block_size,
                                       const std::vector<int>& first_block) {
  position_.clear();
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

namespace {

// Factorisation work of the envelope that order (block -> place) gives: the sum of the
// squared row widths, in blocks. first receives the first coupled place of every place.
double EnvelopeWork(const std::vector<int>& order, const std::vector<int>& start,
                    const std::vector<int>& neighbours, std::vector<int>& first) {
  const size_t blocks = order.size();
  first.assign(blocks, 0);
  for (size_t b = 0; b < blocks; ++b) {
    int lowest = order[b];
    for (int q = start[b]; q < start[b + 1]; ++q)
      lowest = std::min(lowest, order[static_cast<size_t>(neighbours[static_cast<size_t>(q)])]);
    first[static_cast<size_t>(order[b])] = lowest;
  }
  double work = 0.0;
  for (size_t p = 0; p < blocks; ++p) {
    const double width = static_cast<double>(p) - first[p] + 1.0;
    work += width * width;
  }
  return work;
}

// Reverse Cuthill-McKee: breadth-first from a far end of each connected part, the
// neighbours of a block by rising degree, the whole sequence reversed. Returns block -> place.
std::vector<int> ReverseCuthillMcKee(const std::vector<int>& start,
                                     const std::vector<int>& neighbours) {
  const int blocks = static_cast<int>(start.size()) - 1;
  auto degree = [&](int b) {
    return start[static_cast<size_t>(b) + 1] - start[static_cast<size_t>(b)];
  };
  std::vector<int> sequence, level(static_cast<size_t>(blocks), -1), scratch;
  std::vector<char> placed(static_cast<size_t>(blocks), 0);
  // Breadth-first levels from root over the unplaced blocks; returns the last block reached.
  auto sweep = [&](int root, std::vector<int>& visit) {
    visit.assign(1, root);
    level[static_cast<size_t>(root)] = 0;
    for (size_t head = 0; head < visit.size(); ++head) {
      const int b = visit[head];
      const size_t from = visit.size();
      for (int q = start[static_cast<size_t>(b)]; q < start[static_cast<size_t>(b) + 1]; ++q) {
        const int nb = neighbours[static_cast<size_t>(q)];
        if (placed[static_cast<size_t>(nb)] || level[static_cast<size_t>(nb)] >= 0) continue;
        level[static_cast<size_t>(nb)] = level[static_cast<size_t>(b)] + 1;
        visit.push_back(nb);
      }
      std::stable_sort(visit.begin() + static_cast<std::ptrdiff_t>(from), visit.end(),
                       [&](int x, int y) { return degree(x) < degree(y); });
    }
    for (int b : visit) level[static_cast<size_t>(b)] = -1;
    return visit.back();
  };
  for (int seed = 0; seed < blocks; ++seed) {
    if (placed[static_cast<size_t>(seed)]) continue;
    // A far end: the last block of a sweep from the seed, then from that block again.
    int root = sweep(sweep(seed, scratch), scratch);
    sweep(root, scratch);
    for (int b : scratch) {
      placed[static_cast<size_t>(b)] = 1;
      sequence.push_back(b);
    }
  }
  std::vector<int> position(static_cast<size_t>(blocks));
  for (int p = 0; p < blocks; ++p)
    position[static_cast<size_t>(sequence[static_cast<size_t>(p)])] = blocks - 1 - p;
  return position;
}

}  // namespace

double ReducedCameraSystem::FactorWork(int block_size, const std::vector<int>& start,
                                       const std::vector<int>& neighbours) {
  const int blocks = static_cast<int>(start.size()) - 1;
  std::vector<int> given(static_cast<size_t>(std::max(0, blocks))), first;
  for (int b = 0; b < blocks; ++b) given[static_cast<size_t>(b)] = b;
  const double work =
      std::min(EnvelopeWork(given, start, neighbours, first),
               EnvelopeWork(ReverseCuthillMcKee(start, neighbours), start, neighbours, first));
  // A block row of width w blocks: block_size rows of about w * block_size columns.
  return 0.5 * work * block_size * block_size * block_size;
}

void ReducedCameraSystem::SetCoupling(int blocks, int block_size, const std::vector<int>& start,
                                      const std::vector<int>& neighbours) {
  std::vector<int> given(static_cast<size_t>(blocks));
  for (int b = 0; b < blocks; ++b) given[static_cast<size_t>(b)] = b;
  std::vector<int> first, first_rcm;
  const double given_work = EnvelopeWork(given, start, neighbours, first);
  std::vector<int> rcm = ReverseCuthillMcKee(start, neighbours);
  const double rcm_work = EnvelopeWork(rcm, start, neighbours, first_rcm);
  if (rcm_work < given_work) {
    SetStructure(blocks, block_size, first_rcm);
    position_ = std::move(rcm);
  } else {
    SetStructure(blocks, block_size, first);
  }
}

void ReducedCameraSystem::ZeroBlockRow(int block_row) {
  const int r0 = block_row * block_size_;
  const int r1 = r0 + block_size_;
  const size_t begin = row_offset_[static_cast<size_t>(r0)];
  const size_t end = r1 < Size() ? row_offset_[static_cast<size_t>(r1)] : values_.size();
  std::fill(values_.begin() + static_cast<std::ptrdiff_t>(begin),
            values_.begin() + static_cast<std::ptrdiff_t>(end), 0.0);
}

void ReducedCameraSystem::FactorOuter(int begin, int end, int r0) {
  // Rows of the same camera block share their start and go through DotRows together.
  struct Group {
    int first, rows, start;
  };
  std::vector<Group> groups;
  int lowest = r0;
  for (int i = begin; i < end;) {
    Group g{i, 1, RowStart(i)};
    while (g.rows < 4 && i + g.rows < end && RowStart(i + g.rows) == g.start) ++g.rows;
    if (g.start < r0) groups.push_back(g);
    lowest = std::min(lowest, g.start);
    i += g.rows;
  }
  // Column by column, so row j is read once for all rows of the range; L[i][j] needs
  // only L[i][..j) and row j.
  const double* a[4];
  double dots[4];
  for (int j = lowest; j < r0; ++j) {
    const double* lj = Row(j);
    const int sj = RowStart(j);
    const double pivot = lj[j - sj];
    for (const Group& g : groups) {
      if (g.start > j) continue;
      const int m0 = std::max(g.start, sj);
      for (int r = 0; r < g.rows; ++r) a[r] = Row(g.first + r) + (m0 - g.start);
      DotRows(g.rows, a, lj + (m0 - sj), j - m0, dots);
      for (int r = 0; r < g.rows; ++r) {
        double& l = Row(g.first + r)[j - g.start];
        l = (l - dots[r]) / pivot;
      }
    }
  }
}

bool ReducedCameraSystem::Factor() {
  const int n = Size();
  for (int r0 = 0; r0 < n; r0 += kPanelRows) {
    const int r1 = std::min(n, r0 + kPanelRows);
    // Outer part: columns before the panel depend only on finished rows, so the rows of
    // the panel go in parallel.
    double work = 0.0;
    for (int i = r0; i < r1; ++i) {
      const double width = std::max(0, r0 - RowStart(i));
      work += width * width * 0.5;
    }
    if (work > kParallelWork) {
      ParallelChunks(r1 - r0, 1,
                     [&](int begin, int end) { FactorOuter(r0 + begin, r0 + end, r0); });
    } else {
      FactorOuter(r0, r1, r0);
    }
    // Inner triangle and pivots in order: L[i][j] = (N[i][j] - L[i][..j) . L[j][..j)) / L[j][j].
    for (int i = r0; i < r1; ++i) {
      double* li = Row(i);
      const int si = RowStart(i);
      for (int j = std::max(r0, si); j < i; ++j) {
        const double* lj = Row(j);
        const int sj = RowStart(j);
        const int m0 = std::max(si, sj);
        li[j - si] = (li[j - si] - Dot(li + (m0 - si), lj + (m0 - sj), j - m0)) / lj[j - sj];
      }
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
