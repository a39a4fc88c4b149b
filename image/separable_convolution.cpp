#include "image/separable_convolution.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cassert>
#include <cstring>
#include <type_traits>
#include <utility>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "foundation/numeric/aligned_buffer.h"
#include "foundation/runtime/worker_pool.h"
#include "platform/atomic.h"

namespace {

std::atomic<ConvolutionPath> g_path{ConvolutionPath::kBest};

constexpr uint32_t kBandColumns = 128;

// Four lanes of floats; every operation is lane-wise IEEE single precision, so
// both implementations give the same bits.
struct PortableOps {
  struct V {
    float f[4];
  };
  static V Load(const float* p) { return V{{p[0], p[1], p[2], p[3]}}; }
  static V Mul(V a, const V& b) {
    for (int k = 0; k < 4; ++k) a.f[k] *= b.f[k];
    return a;
  }
  static V Add(V a, const V& b) {
    for (int k = 0; k < 4; ++k) a.f[k] += b.f[k];
    return a;
  }
  static void Store(float* p, const V& a) { std::memcpy(p, a.f, sizeof a.f); }
  static void Dots8(const float* base, size_t advance, const float* taps, uint32_t k, V* out);
  // out[4c + k] = row k's element c, for c < 4.
  static void Transpose(const float* r0, const float* r1, const float* r2, const float* r3,
                        float* out) {
    for (int c = 0; c < 4; ++c) {
      out[4 * c + 0] = r0[c];
      out[4 * c + 1] = r1[c];
      out[4 * c + 2] = r2[c];
      out[4 * c + 3] = r3[c];
    }
  }
};

#if defined(__SSE2__)
struct SseOps {
  using V = __m128;
  static V Load(const float* p) { return _mm_load_ps(p); }
  static V Mul(V a, V b) { return _mm_mul_ps(a, b); }
  static V Add(V a, V b) { return _mm_add_ps(a, b); }
  static void Store(float* p, V a) { _mm_storeu_ps(p, a); }
  static void Dots8(const float* base, size_t advance, const float* taps, uint32_t k, V* out);
  static void Transpose(const float* r0, const float* r1, const float* r2, const float* r3,
                        float* out) {
    __m128 a = _mm_loadu_ps(r0), b = _mm_loadu_ps(r1), c = _mm_loadu_ps(r2), d = _mm_loadu_ps(r3);
    _MM_TRANSPOSE4_PS(a, b, c, d);
    _mm_store_ps(out, a);
    _mm_store_ps(out + 4, b);
    _mm_store_ps(out + 8, c);
    _mm_store_ps(out + 12, d);
  }
};

// Four-lane words as SseOps, with eight sums formed as four pairs in 256-bit
// registers: the same lane-wise single-precision operations in the same
// order (no fused multiply-add), so the same bits.
struct AvxOps : SseOps {
  static void Dots8(const float* base, size_t advance, const float* taps, uint32_t k, V* out);
};

__attribute__((target("avx"))) inline __m256 LoadPair(const float* a, const float* b) {
  return _mm256_insertf128_ps(_mm256_castps128_ps256(_mm_loadu_ps(a)), _mm_loadu_ps(b), 1);
}

__attribute__((target("avx"))) void AvxOps::Dots8(const float* base, size_t advance,
                                                  const float* taps, uint32_t k, V* out) {
  __m256 a[4];
  __m256 t = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(taps));
  if (advance == 4) {  // the eight words are contiguous
    for (int q = 0; q < 4; ++q) a[q] = _mm256_mul_ps(t, _mm256_loadu_ps(base + 8 * q));
    for (uint32_t i = 1; i < k; ++i) {
      t = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(taps + 4 * i));
      const float* b = base + 4 * i;
      for (int q = 0; q < 4; ++q)
        a[q] = _mm256_add_ps(a[q], _mm256_mul_ps(t, _mm256_loadu_ps(b + 8 * q)));
    }
  } else {
    for (int q = 0; q < 4; ++q)
      a[q] = _mm256_mul_ps(t, LoadPair(base + 2 * q * advance, base + (2 * q + 1) * advance));
    for (uint32_t i = 1; i < k; ++i) {
      t = _mm256_broadcast_ps(reinterpret_cast<const __m128*>(taps + 4 * i));
      const float* b = base + 4 * i;
      for (int q = 0; q < 4; ++q)
        a[q] = _mm256_add_ps(
            a[q], _mm256_mul_ps(t, LoadPair(b + 2 * q * advance, b + (2 * q + 1) * advance)));
    }
  }
  for (int q = 0; q < 4; ++q) {
    out[2 * q] = _mm256_castps256_ps128(a[q]);
    out[2 * q + 1] = _mm256_extractf128_ps(a[q], 1);
  }
}
#endif

uint32_t RoundUp4(uint64_t v) {
  return static_cast<uint32_t>((v + 3) & ~uint64_t{3});
}

int64_t Clamp(int64_t v, int64_t lo, int64_t hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

uint32_t ColumnStart(uint32_t width, uint32_t bands, uint32_t c) {
  if (c == 0) return 0;
  if (c >= bands) return width;
  uint64_t x = static_cast<uint64_t>(width) * c / bands;
  return static_cast<uint32_t>(std::min<uint64_t>(RoundUp4(x), width));
}

// Weighted sums of K lane words at base + 4i, i = 0..K-1, taps walked in the
// order the result formula fixes; output q starts `advance` floats after
// output q − 1. Several outputs at once keep independent adds in flight.
template <class V, class Ops, int kCount>
inline void DotsN(const float* base, size_t advance, const float* taps, uint32_t k_count, V* out) {
  V t = Ops::Load(taps);
  V a[kCount];
  for (int q = 0; q < kCount; ++q) a[q] = Ops::Mul(t, Ops::Load(base + q * advance));
  for (uint32_t i = 1; i < k_count; ++i) {
    t = Ops::Load(taps + 4 * i);
    const float* b = base + 4 * i;
    for (int q = 0; q < kCount; ++q) a[q] = Ops::Add(a[q], Ops::Mul(t, Ops::Load(b + q * advance)));
  }
  for (int q = 0; q < kCount; ++q) out[q] = a[q];
}

void PortableOps::Dots8(const float* base, size_t advance, const float* taps, uint32_t k, V* out) {
  DotsN<V, PortableOps, 8>(base, advance, taps, k, out);
}

#if defined(__SSE2__)
void SseOps::Dots8(const float* base, size_t advance, const float* taps, uint32_t k, V* out) {
  DotsN<V, SseOps, 8>(base, advance, taps, k, out);
}
#endif

template <class Ops>
inline void Dots(const float* base, size_t advance, const float* taps, uint32_t k_count, int count,
                 typename Ops::V* out) {
  using V = typename Ops::V;
  if (count == 8) {
    Ops::Dots8(base, advance, taps, k_count, out);
    return;
  }
  for (; count >= 4; count -= 4, base += 4 * advance, out += 4)
    DotsN<V, Ops, 4>(base, advance, taps, k_count, out);
  for (; count > 0; --count, base += advance, ++out)
    DotsN<V, Ops, 1>(base, advance, taps, k_count, out);
}

}  // namespace

// Lives here so that the band code can reach the job's private fields.
struct SeparableConvolutionBands {
  // Scratch memory of one band worker call.
  struct Scratch {
    AlignedBuffer<float> rows;    // gathered source rows, 4 interleaved
    AlignedBuffer<float> block;   // horizontal results, one column of rows per output column
    AlignedBuffer<float> cols;    // gathered block columns, 4 interleaved
    AlignedBuffer<float> taps_x;  // reversed taps, each repeated 4 times
    AlignedBuffer<float> taps_y;
    uint32_t block_rows = 0;
  };

  // One band of a job: its destination rectangle (x0, y0, bw × bh) and the
  // source columns and rows it reads (edge pixels repeated: gathered columns
  // [0, left) lie left of the image, [right, n_cols) right of it).
  struct Span {
    uint32_t x0, y0, bw, bh, kx, ky;
    int64_t col_start, n_cols, row_start, n_rows, left, right;
  };
  // Fills the span of band `unit` and the scratch's reversed taps (each
  // repeated four times); false for a band with no pixels.
  static bool Prepare(const SeparableConvolution& job, uint32_t unit, Scratch& s, Span& b);

  template <class Ops>
  static void Run(SeparableConvolutionBatch& batch);
  template <class Ops>
  static void Band(const SeparableConvolution& job, uint32_t unit, Scratch& s);
#if defined(__SSE2__)
  static void BandUnitStepAvx(const SeparableConvolution& job, uint32_t unit, Scratch& s);
#endif
};

SeparableConvolution::SeparableConvolution(const ArrayMap<float>& destination,
                                           const ArrayMap<float>& source, int x_offset,
                                           int y_offset, const FilterKernel& horizontal,
                                           const FilterKernel& vertical, int x_step, int y_step)
    : destination_(destination),
      target_(destination),
      source_(source),
      horizontal_(&horizontal.Coefficients()),
      vertical_(&vertical.Coefficients()),
      x_step_(x_step),
      y_step_(y_step) {
  const uint32_t kx = static_cast<uint32_t>(horizontal_->size());
  const uint32_t ky = static_cast<uint32_t>(vertical_->size());
  x_origin_ = x_offset - static_cast<int32_t>((kx - 1u) / 2u);
  y_origin_ = y_offset - static_cast<int32_t>((ky - 1u) / 2u);
  assert(Valid() && "kernels need a tap, steps at least 1, a non-empty source");
  const uint32_t w = destination.width, h = destination.height;
  if (!Valid() || w == 0 || h == 0) return;

  column_bands_ = (w - 1) / 125 + 1;
  // A band needs sy rows per output row plus Ky − sy: keep it near 192 rows.
  int64_t rows_per_band = 192 - 2 * static_cast<int64_t>(y_step) - ky;
  if (rows_per_band < 1) rows_per_band = y_step;
  uint64_t bands = (static_cast<uint64_t>(y_step) * h - 1) / rows_per_band + 1;
  row_bands_ = static_cast<uint32_t>(std::min<uint64_t>(bands, h));

  // Row bands start at ⌊H·r/Nr⌋ with the two low bits taken from (Ky − sy)·r,
  // which makes the source rows of a band a multiple of 4 for odd kernels and
  // step 1. For large steps that shift could reorder the starts or push one
  // past the height: keep them ordered and inside the destination.
  row_bounds_.resize(row_bands_ + 1);
  row_bounds_[0] = 0;
  for (uint32_t r = 1; r < row_bands_; ++r) {
    uint64_t base = static_cast<uint64_t>(h) * r / row_bands_;
    uint64_t y = (base & ~uint64_t{3}) | ((static_cast<uint32_t>(ky - y_step) * r) & 3u);
    row_bounds_[r] =
        static_cast<uint32_t>(std::min<uint64_t>(std::max<uint64_t>(y, row_bounds_[r - 1]), h));
  }
  row_bounds_[row_bands_] = h;
}

SeparableConvolution::SeparableConvolution(const SeparableConvolution& other)
    : destination_(other.destination_),
      target_(other.destination_),
      source_(other.source_),
      x_origin_(other.x_origin_),
      y_origin_(other.y_origin_),
      horizontal_(other.horizontal_),
      vertical_(other.vertical_),
      x_step_(other.x_step_),
      y_step_(other.y_step_),
      column_bands_(other.column_bands_),
      row_bands_(other.row_bands_),
      row_bounds_(other.row_bounds_) {}

bool SeparableConvolution::Valid() const {
  return !horizontal_->empty() && !vertical_->empty() && x_step_ >= 1 && y_step_ >= 1 &&
         source_.data != nullptr && source_.width >= 1 && source_.height >= 1;
}

void SeparableConvolutionBatch::UsePath(ConvolutionPath path) {
  g_path = path;
}

void SeparableConvolutionBatch::Execute() {
  struct ClearOnExit {
    std::vector<SeparableConvolution>& jobs;
    ~ClearOnExit() { jobs.clear(); }
  } clear_on_exit{jobs_};

  unit_counter_ = 0;
  max_source_columns_ = 0;
  max_source_rows_ = 0;
  max_taps_ = 0;
  for (SeparableConvolution& job : jobs_) {
    if (job.row_bands_ == 0) continue;
    const ArrayMap<float>& d = job.destination_;
    const ArrayMap<float>& s = job.source_;
    const float* d_end = d.data + static_cast<size_t>(d.height) * d.stride;
    const float* s_end = s.data + static_cast<size_t>(s.height) * s.stride;
    if (d.data < s_end && s.data < d_end) {
      job.work_.Resize(d.width, d.height);
      job.target_ = job.work_.Plane(0);
    }
    const uint32_t kx = static_cast<uint32_t>(job.horizontal_->size());
    const uint32_t ky = static_cast<uint32_t>(job.vertical_->size());
    const uint64_t columns =
        static_cast<uint64_t>(job.x_step_) * std::min(kBandColumns, d.width) + kx - job.x_step_;
    max_source_columns_ =
        static_cast<uint32_t>(std::max<uint64_t>(max_source_columns_, RoundUp4(columns)));
    for (uint32_t r = 0; r < job.row_bands_; ++r) {
      const uint32_t rows = job.row_bounds_[r + 1] - job.row_bounds_[r];
      if (rows == 0) continue;
      const uint64_t needed = static_cast<uint64_t>(job.y_step_) * rows + ky - job.y_step_;
      max_source_rows_ =
          static_cast<uint32_t>(std::max<uint64_t>(max_source_rows_, RoundUp4(needed)));
    }
    max_taps_ = std::max({max_taps_, kx, ky});
  }

  if (WorkerPool::GetNumberOfThreads() > 0)
    WorkerPool::ParallelFor(this, nullptr, 1, WorkerPool::GetNumberOfThreads(), BandWorker, true);
  else
    BandWorker(this, nullptr);

  for (SeparableConvolution& job : jobs_)
    if (job.target_.data != job.destination_.data) job.destination_.CopyFrom(job.target_);
}

void SeparableConvolutionBatch::BandWorker(void* context, void* /*item*/) {
  SeparableConvolutionBatch& batch = *static_cast<SeparableConvolutionBatch*>(context);
#if defined(__SSE2__)
  const ConvolutionPath path = g_path;
  if (path == ConvolutionPath::kBest && __builtin_cpu_supports("avx")) {
    SeparableConvolutionBands::Run<AvxOps>(batch);
    return;
  }
  if (path != ConvolutionPath::kPortable) {
    SeparableConvolutionBands::Run<SseOps>(batch);
    return;
  }
#endif
  SeparableConvolutionBands::Run<PortableOps>(batch);
}

template <class Ops>
void SeparableConvolutionBands::Run(SeparableConvolutionBatch& batch) {
  Scratch s;
  bool allocated = false;
  for (;;) {
    int64_t unit = platform::AtomicIncrement(&batch.unit_counter_) - 1;
    const SeparableConvolution* job = nullptr;
    for (const SeparableConvolution& j : batch.jobs_) {
      const int64_t units = static_cast<int64_t>(j.column_bands_) * j.row_bands_;
      if (unit < units) {
        job = &j;
        break;
      }
      unit -= units;
    }
    if (job == nullptr) return;
    if (!allocated) {
      // Only a call that gets work pays for its buffers.
      // The unit-step path keeps a ring of Ky + 1 rows in the block.
      s.block_rows = std::max<uint32_t>({batch.max_source_rows_, 4, batch.max_taps_ + 1});
      s.rows.Allocate(4ull * batch.max_source_columns_);
      s.block.Allocate(static_cast<uint64_t>(kBandColumns) * s.block_rows);
      s.cols.Allocate(4ull * s.block_rows);
      s.taps_x.Allocate(4ull * batch.max_taps_);
      s.taps_y.Allocate(4ull * batch.max_taps_);
      allocated = true;
    }
#if defined(__SSE2__)
    if constexpr (std::is_same_v<Ops, AvxOps>) {
      if (job->x_step_ == 1 && job->y_step_ == 1) {
        BandUnitStepAvx(*job, static_cast<uint32_t>(unit), s);
        continue;
      }
    }
#endif
    Band<Ops>(*job, static_cast<uint32_t>(unit), s);
  }
}

bool SeparableConvolutionBands::Prepare(const SeparableConvolution& job, uint32_t unit, Scratch& s,
                                        Span& b) {
  const ArrayMap<float>& dst = job.target_;
  const uint32_t nc = job.column_bands_;
  const uint32_t c = unit % nc, r = unit / nc;
  const uint32_t x0 = ColumnStart(dst.width, nc, c), x1 = ColumnStart(dst.width, nc, c + 1);
  const uint32_t y0 = job.row_bounds_[r], y1 = job.row_bounds_[r + 1];
  if (x1 <= x0 || y1 <= y0) return false;
  const std::vector<float>& cx = *job.horizontal_;
  const std::vector<float>& cy = *job.vertical_;
  const uint32_t kx = static_cast<uint32_t>(cx.size()), ky = static_cast<uint32_t>(cy.size());
  for (uint32_t i = 0; i < kx; ++i)
    for (int k = 0; k < 4; ++k) s.taps_x.data[4 * i + k] = cx[kx - 1 - i];
  for (uint32_t j = 0; j < ky; ++j)
    for (int k = 0; k < 4; ++k) s.taps_y.data[4 * j + k] = cy[ky - 1 - j];
  const int64_t sx = job.x_step_, sy = job.y_step_;
  b.x0 = x0;
  b.y0 = y0;
  b.bw = x1 - x0;
  b.bh = y1 - y0;
  b.kx = kx;
  b.ky = ky;
  b.col_start = sx * x0 + job.x_origin_;
  b.n_cols = sx * b.bw + kx - sx;
  b.row_start = sy * y0 + job.y_origin_;
  b.n_rows = sy * b.bh + ky - sy;
  b.left = Clamp(-b.col_start, 0, b.n_cols);
  b.right = Clamp(static_cast<int64_t>(job.source_.width) - b.col_start, b.left, b.n_cols);
  return true;
}

template <class Ops>
void SeparableConvolutionBands::Band(const SeparableConvolution& job, uint32_t unit, Scratch& s) {
  using V = typename Ops::V;
  Span b;
  if (!Prepare(job, unit, s, b)) return;
  const ArrayMap<float>& src = job.source_;
  const ArrayMap<float>& dst = job.target_;
  const uint32_t x0 = b.x0, y0 = b.y0, bw = b.bw, bh = b.bh, kx = b.kx, ky = b.ky;
  const int64_t sx = job.x_step_, sy = job.y_step_;
  const int64_t col_start = b.col_start, n_cols = b.n_cols, row_start = b.row_start;
  const int64_t n_rows = b.n_rows, left = b.left, right = b.right;
  const int64_t src_w = src.width, src_h = src.height;
  const size_t rows_cap = s.block_rows;
  float* buf = s.rows.data;
  V sums[8];

  // Horizontal pass, four source rows at a time, results stored transposed.
  for (int64_t g = 0; g < n_rows; g += 4) {
    const float* row[4];
    for (int k = 0; k < 4; ++k)
      row[k] = src.data + static_cast<size_t>(Clamp(row_start + g + k, 0, src_h - 1)) * src.stride;
    int64_t col = 0;
    for (; col < left; ++col)
      for (int k = 0; k < 4; ++k) buf[4 * col + k] = row[k][0];
    for (; col + 4 <= right; col += 4) {
      const int64_t x = col_start + col;
      Ops::Transpose(row[0] + x, row[1] + x, row[2] + x, row[3] + x, buf + 4 * col);
    }
    for (; col < right; ++col)
      for (int k = 0; k < 4; ++k) buf[4 * col + k] = row[k][col_start + col];
    for (; col < n_cols; ++col)
      for (int k = 0; k < 4; ++k) buf[4 * col + k] = row[k][src_w - 1];

    for (uint32_t xo = 0; xo < bw; xo += 8) {
      const int count = static_cast<int>(std::min<uint32_t>(8, bw - xo));
      Dots<Ops>(buf + 4 * sx * xo, 4 * sx, s.taps_x.data, kx, count, sums);
      for (int q = 0; q < count; ++q) Ops::Store(s.block.data + (xo + q) * rows_cap + g, sums[q]);
    }
  }

  // Vertical pass, four output columns at a time.
  float* cols = s.cols.data;
  for (uint32_t xg = 0; xg < bw; xg += 4) {
    const float* column[4];
    for (uint32_t k = 0; k < 4; ++k) column[k] = s.block.data + std::min(xg + k, bw - 1) * rows_cap;
    for (int64_t t = 0; t < n_rows; t += 4)
      Ops::Transpose(column[0] + t, column[1] + t, column[2] + t, column[3] + t, cols + 4 * t);
    const uint32_t lanes = std::min<uint32_t>(4, bw - xg);
    for (uint32_t yo = 0; yo < bh; yo += 8) {
      const int count = static_cast<int>(std::min<uint32_t>(8, bh - yo));
      Dots<Ops>(cols + 4 * sy * yo, 4 * sy, s.taps_y.data, ky, count, sums);
      for (int q = 0; q < count; ++q) {
        float* out = dst.data + static_cast<size_t>(y0 + yo + q) * dst.stride + x0 + xg;
        if (lanes == 4) {
          Ops::Store(out, sums[q]);
        } else {
          alignas(16) float tmp[4];
          Ops::Store(tmp, sums[q]);
          std::memcpy(out, tmp, lanes * sizeof(float));
        }
      }
    }
  }
}

#if defined(__SSE2__)
namespace {

// One row of outputs out[x] = Σ_{i<K} taps[i]·in_i[x] for x < count, where
// in_i = first + i·advance (the taps walk along a row for the horizontal
// pass, down the rows for the vertical one): the first product, then one add
// per further tap in ascending i (no fused multiply-add), as every other path
// forms them. With K fixed at compile time the taps stay in registers.
template <int K>
__attribute__((target("avx"))) inline void EightOutputs(const __m256* t, const float* const* in,
                                                        uint32_t at, float* out) {
  __m256 a = _mm256_mul_ps(t[0], _mm256_loadu_ps(in[0] + at));
  for (int i = 1; i < K; ++i)
    a = _mm256_add_ps(a, _mm256_mul_ps(t[i], _mm256_loadu_ps(in[i] + at)));
  _mm256_storeu_ps(out + at, a);
}

template <int K>
__attribute__((target("avx"))) void TapRow(const float* first, size_t advance,
                                           const float* const* rows, const float* taps,
                                           uint32_t /*k*/, uint32_t count, float* out) {
  __m256 t[K];
  for (int i = 0; i < K; ++i) t[i] = _mm256_set1_ps(taps[4 * i]);
  const float* in[K];
  for (int i = 0; i < K; ++i) in[i] = rows ? rows[i] : first + i * advance;
  uint32_t x = 0;
  for (; x + 16 <= count; x += 16) {
    __m256 a = _mm256_mul_ps(t[0], _mm256_loadu_ps(in[0] + x));
    __m256 b = _mm256_mul_ps(t[0], _mm256_loadu_ps(in[0] + x + 8));
    for (int i = 1; i < K; ++i) {
      a = _mm256_add_ps(a, _mm256_mul_ps(t[i], _mm256_loadu_ps(in[i] + x)));
      b = _mm256_add_ps(b, _mm256_mul_ps(t[i], _mm256_loadu_ps(in[i] + x + 8)));
    }
    _mm256_storeu_ps(out + x, a);
    _mm256_storeu_ps(out + x + 8, b);
  }
  for (; x + 8 <= count; x += 8) EightOutputs<K>(t, in, x, out);
  if (x < count && count >= 8) {
    // The last eight again, overlapping: the outputs computed twice get the
    // same value both times.
    EightOutputs<K>(t, in, count - 8, out);
    return;
  }
  for (; x < count; ++x) {
    float a = taps[0] * in[0][x];
    for (int i = 1; i < K; ++i) a = a + taps[4 * i] * in[i][x];
    out[x] = a;
  }
}

// Any number of taps, the taps read from memory.
__attribute__((target("avx"))) void TapRowAny(const float* first, size_t advance,
                                              const float* const* rows, const float* taps,
                                              uint32_t k, uint32_t count, float* out) {
  auto in = [&](uint32_t i) { return rows ? rows[i] : first + i * advance; };
  uint32_t x = 0;
  for (; x + 8 <= count; x += 8) {
    __m256 a = _mm256_mul_ps(_mm256_broadcast_ss(taps), _mm256_loadu_ps(in(0) + x));
    for (uint32_t i = 1; i < k; ++i)
      a = _mm256_add_ps(
          a, _mm256_mul_ps(_mm256_broadcast_ss(taps + 4 * i), _mm256_loadu_ps(in(i) + x)));
    _mm256_storeu_ps(out + x, a);
  }
  for (; x < count; ++x) {
    float a = taps[0] * in(0)[x];
    for (uint32_t i = 1; i < k; ++i) a = a + taps[4 * i] * in(i)[x];
    out[x] = a;
  }
}

using TapRowFunction = void (*)(const float*, size_t, const float* const*, const float*, uint32_t,
                                uint32_t, float*);

constexpr uint32_t kFixedTaps = 24;

template <size_t... I>
constexpr auto FixedTapRows(std::index_sequence<I...>) {
  return std::array<TapRowFunction, sizeof...(I)>{&TapRow<static_cast<int>(I) + 1>...};
}

TapRowFunction PickTapRow(uint32_t k) {
  static constexpr auto fixed = FixedTapRows(std::make_index_sequence<kFixedTaps>());
  return k >= 1 && k <= kFixedTaps ? fixed[k - 1] : &TapRowAny;
}

// Two vertical output rows at once from K + 1 consecutive rows: out0 from
// rows 0 .. K − 1, out1 from rows 1 .. K; each row is loaded once for both.
template <int K>
__attribute__((target("avx"))) void TapRowPair(const float* const* rows, const float* taps,
                                               uint32_t count, float* out0, float* out1) {
  __m256 t[K];
  for (int i = 0; i < K; ++i) t[i] = _mm256_set1_ps(taps[4 * i]);
  auto eight = [](const __m256* tv, const float* const* in, uint32_t at, float* o0, float* o1)
      __attribute__((target("avx"))) {
    __m256 v = _mm256_loadu_ps(in[0] + at);
    __m256 a = _mm256_mul_ps(tv[0], v);
    v = _mm256_loadu_ps(in[1] + at);
    __m256 b = _mm256_mul_ps(tv[0], v);
    for (int i = 1; i < K; ++i) {
      a = _mm256_add_ps(a, _mm256_mul_ps(tv[i], v));
      v = _mm256_loadu_ps(in[i + 1] + at);
      b = _mm256_add_ps(b, _mm256_mul_ps(tv[i], v));
    }
    _mm256_storeu_ps(o0 + at, a);
    _mm256_storeu_ps(o1 + at, b);
  };
  uint32_t x = 0;
  for (; x + 8 <= count; x += 8) eight(t, rows, x, out0, out1);
  if (x < count && count >= 8) {
    eight(t, rows, count - 8, out0, out1);
    return;
  }
  for (; x < count; ++x) {
    float a = taps[0] * rows[0][x], b = taps[0] * rows[1][x];
    for (int i = 1; i < K; ++i) {
      a = a + taps[4 * i] * rows[i][x];
      b = b + taps[4 * i] * rows[i + 1][x];
    }
    out0[x] = a;
    out1[x] = b;
  }
}

using TapRowPairFunction = void (*)(const float* const*, const float*, uint32_t, float*, float*);

template <size_t... I>
constexpr auto FixedTapRowPairs(std::index_sequence<I...>) {
  return std::array<TapRowPairFunction, sizeof...(I)>{&TapRowPair<static_cast<int>(I) + 1>...};
}

// Null for kernels longer than kFixedTaps: then rows go one at a time.
TapRowPairFunction PickTapRowPair(uint32_t k) {
  static constexpr auto fixed = FixedTapRowPairs(std::make_index_sequence<kFixedTaps>());
  return k >= 1 && k <= kFixedTaps ? fixed[k - 1] : nullptr;
}

}  // namespace

// Steps of 1 in both directions (blurs, derivatives): both passes run along
// rows, eight outputs per 256-bit word, without transposing. The horizontal
// results of the last Ky source rows wait in a ring of rows that stays in the
// first-level cache; each output row is formed from them as soon as its last
// source row is in. Same products and sums as Band, so the same bits.
__attribute__((target("avx"))) void SeparableConvolutionBands::BandUnitStepAvx(
    const SeparableConvolution& job, uint32_t unit, Scratch& s) {
  Span b;
  if (!Prepare(job, unit, s, b)) return;
  const ArrayMap<float>& src = job.source_;
  const ArrayMap<float>& dst = job.target_;
  const uint32_t kx = b.kx, ky = b.ky;
  const TapRowFunction horizontal = PickTapRow(kx), vertical = PickTapRow(ky);
  const int64_t src_w = src.width, src_h = src.height;
  const int64_t col_start = b.col_start, n_cols = b.n_cols, left = b.left, right = b.right;
  const bool inside = left == 0 && right == n_cols;
  const TapRowPairFunction vertical_pair = PickTapRowPair(ky);
  // The ring: Ky + 1 rows of kBandColumns floats (bw ≤ 128) at the block's
  // start, listed twice so that the rows of any output row pair are
  // consecutive.
  const uint32_t ring_rows = ky + 1;
  float* ring = s.block.data;
  std::vector<const float*> slots(2 * static_cast<size_t>(ring_rows));
  for (uint32_t j = 0; j < 2 * ring_rows; ++j)
    slots[j] = ring + static_cast<size_t>(j % ring_rows) * kBandColumns;

  uint32_t slot = 0;  // ring slot of source row g
  for (int64_t g = 0; g < b.n_rows; ++g) {
    const int64_t source_row = Clamp(b.row_start + g, 0, src_h - 1);
    const float* row = src.data + static_cast<size_t>(source_row) * src.stride;
    const float* in = row + col_start;
    if (inside && b.row_start + g + 8 < src_h) {
      // Band rows are short runs far apart: fetch ahead what the hardware
      // prefetcher would find too late.
      const float* ahead = in + 8 * static_cast<int64_t>(src.stride);
      for (int64_t col = 0; col < n_cols; col += 16)
        _mm_prefetch(reinterpret_cast<const char*>(ahead + col), _MM_HINT_T0);
      _mm_prefetch(reinterpret_cast<const char*>(ahead + n_cols - 1), _MM_HINT_T0);
    }
    if (!inside) {  // gather the columns with the edge pixels repeated
      float* buf = s.rows.data;
      for (int64_t col = 0; col < left; ++col) buf[col] = row[0];
      std::memcpy(buf + left, row + col_start + left,
                  static_cast<size_t>(right - left) * sizeof(float));
      for (int64_t col = right; col < n_cols; ++col) buf[col] = row[src_w - 1];
      in = buf;
    }
    horizontal(in, 1, nullptr, s.taps_x.data, kx, b.bw,
               ring + static_cast<size_t>(slot) * kBandColumns);
    if (++slot == ring_rows) slot = 0;
    const int64_t y = g - (ky - 1);  // the output row whose last source row this is
    // Formed only for a real output row: above the band it would point before the image.
    if (y < 0) continue;
    float* out = dst.data + static_cast<size_t>(b.y0 + y) * dst.stride + b.x0;
    if (vertical_pair == nullptr) {
      // Rows y .. y + Ky − 1 start one slot after row y − 1's, which is where
      // source row g + 1 goes next.
      vertical(nullptr, 0, slots.data() + slot + 1, s.taps_y.data, ky, b.bw, out);
    } else if (y % 2 == 1) {
      // Rows y − 1 .. y + Ky − 1 start where source row g + 1 goes next.
      vertical_pair(slots.data() + slot, s.taps_y.data, b.bw, out - dst.stride, out);
    } else if (y + 1 == b.bh) {  // the last row of an odd count
      vertical(nullptr, 0, slots.data() + slot + 1, s.taps_y.data, ky, b.bw, out);
    }
  }
}
#endif
