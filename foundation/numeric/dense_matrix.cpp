#include "foundation/numeric/dense_matrix.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

#include "foundation/numeric/dense_kernels.h"
#include "foundation/numeric/dense_vector.h"
#include "foundation/runtime/worker_pool.h"

namespace {

inline uint32_t EvenUp(uint32_t v) {
  return v + (v & 1u);
}

}  // namespace

Matrix::Matrix(double* data, uint32_t rows, uint32_t cols, uint32_t stride)
    : stride_(stride), rows_(rows), cols_(cols) {
  storage_.SetForeign(data);
}

Matrix::Matrix(const Matrix& other) {
  Resize(other.rows_, other.cols_);
  CopyRows(static_cast<int>(cols_), other.stride_, storage_.data, stride_, other.storage_.data,
           static_cast<int>(rows_));
}

Matrix::Matrix(Matrix&& other) noexcept
    : storage_(std::move(other.storage_)),
      stride_(other.stride_),
      rows_(other.rows_),
      cols_(other.cols_) {
  other.stride_ = other.rows_ = other.cols_ = 0;
}

Matrix& Matrix::operator=(const Matrix& other) {
  if (this == &other) return *this;
  if (rows_ != other.rows_ || cols_ != other.cols_) Resize(other.rows_, other.cols_);
  CopyRows(static_cast<int>(cols_), other.stride_, storage_.data, stride_, other.storage_.data,
           static_cast<int>(rows_));
  return *this;
}

void Matrix::Resize(uint32_t rows, uint32_t cols) {
  if (rows == rows_ && cols == cols_) return;
  // Empty before the request, so a failure never leaves dimensions without storage.
  rows_ = cols_ = stride_ = 0;
  uint32_t stride = EvenUp(cols);
  if (cols != 0 && stride == 0) {  // cols = 2³² - 1 wraps
    storage_.Free();
    throw kAllocationFailedMessage;
  }
  storage_.Allocate(static_cast<uint64_t>(rows) * stride);
  stride_ = stride;
  rows_ = rows;
  cols_ = cols;
}

void Matrix::SetIdentity(uint32_t n) {
  if (rows_ != n || cols_ != n) Resize(n, n);
  for (uint32_t r = 0; r < n; ++r) {
    double* row = Row(r);
    std::memset(row, 0, n * sizeof(double));
    row[r] = 1.0;
  }
}

void Matrix::SetZero() {
  if (rows_ == 0 || cols_ == 0) return;
  if (stride_ == cols_) {
    std::memset(storage_.data, 0, static_cast<size_t>(rows_) * cols_ * sizeof(double));
    return;
  }
  for (uint32_t r = 0; r < rows_; ++r) std::memset(Row(r), 0, cols_ * sizeof(double));
}

void Matrix::Subtract(const Matrix& A, const Matrix& B) {
  if (rows_ != A.rows_ || cols_ != A.cols_) Resize(A.rows_, A.cols_);
  if (A.cols_ == A.stride_ && A.cols_ == B.stride_ && A.cols_ == stride_) {
    SubtractVectors(A.storage_.data, storage_.data, B.storage_.data,
                    static_cast<int>(static_cast<size_t>(rows_) * cols_));
    return;
  }
  for (uint32_t r = 0; r < rows_; ++r)
    SubtractVectors(A.Row(r), Row(r), B.Row(r), static_cast<int>(cols_));
}

void Matrix::MultiplyABt(const Matrix& A, const Matrix& B) {
  Product(A, B, false);
}

void Matrix::MultiplyAtB(const Matrix& A, const Matrix& B) {
  Product(A, B, true);
}

// ---------------------------------------------------------------------------
// Products

uint32_t ProductChunkCount(uint32_t d) {
  if (d < 32) return 1;
  if (d < 256) return 2;
  return static_cast<uint32_t>((static_cast<uint64_t>(d) + 127) / 128);
}

uint32_t SplitRange(uint32_t* bounds, uint32_t count, uint32_t total) {
  bounds[0] = 0;
  for (uint32_t i = 1; i < count; ++i) {
    uint32_t b = static_cast<uint32_t>(static_cast<uint64_t>(total) * i / count);
    bounds[i] = EvenUp(b);
  }
  bounds[count] = total;
  uint32_t largest = 2;
  for (uint32_t i = 0; i < count; ++i) {
    if (bounds[i + 1] > bounds[i]) largest = std::max(largest, bounds[i + 1] - bounds[i]);
  }
  return EvenUp(largest);
}

namespace {

// Element (i, j) of the product, for the plain loops: even and odd terms in
// two accumulators.
void MultiplyPlain(Matrix& R, const Matrix& A, const Matrix& B, bool transposeA, uint32_t m,
                   uint32_t n, uint32_t k) {
  for (uint32_t i = 0; i < m; ++i) {
    double* out = R.Row(i);
    for (uint32_t j = 0; j < n; ++j) {
      double even = 0.0, odd = 0.0;
      uint32_t l = 0;
      if (!transposeA) {
        const double* a = A.Row(i);
        const double* b = B.Row(j);
        for (; l + 1 < k; l += 2) {
          even += a[l] * b[l];
          odd += a[l + 1] * b[l + 1];
        }
        if (l < k) even += a[l] * b[l];
      } else {
        for (; l + 1 < k; l += 2) {
          even += A(l, i) * B(l, j);
          odd += A(l + 1, i) * B(l + 1, j);
        }
        if (l < k) even += A(l, i) * B(l, j);
      }
      out[j] = even + odd;
    }
  }
}

// Largest chunk the chunk counts can give (d ≤ 128·count, bounds rounded to
// even), which sizes the per-worker stack buffers.
constexpr uint32_t kMaxChunk = 132;

class BlockedProduct {
 public:
  BlockedProduct(Matrix& R, const Matrix& A, const Matrix& B, bool transposeA, uint32_t m,
                 uint32_t n, uint32_t k)
      : R_(R), A_(A), B_(B), transposeA_(transposeA) {
    nr_ = ProductChunkCount(m);
    nc_ = ProductChunkCount(n);
    nk_ = ProductChunkCount(k);
    size_t words = static_cast<size_t>(nr_) + nc_ + nk_ + 3 + static_cast<size_t>(nr_) * nc_;
    uint32_t* w = inline_;
    if (words > kInlineWords) {
      heap_.reset(new uint32_t[words]);
      w = heap_.get();
    }
    rowBounds_ = w;
    colBounds_ = rowBounds_ + nr_ + 1;
    kBounds_ = colBounds_ + nc_ + 1;
    locks_ = kBounds_ + nk_ + 1;
    maxRows_ = SplitRange(rowBounds_, nr_, m);
    maxCols_ = SplitRange(colBounds_, nc_, n);
    maxK_ = SplitRange(kBounds_, nk_, k);
    for (uint32_t i = 0; i < nr_ * nc_; ++i) locks_[i] = 1;
  }

  uint32_t Tiles() const { return nr_ * nc_ * nk_; }

  // Claims tiles until none is left.
  void Work() {
    uint32_t rc, cc, kc;
    while (NextTile(rc, cc, kc)) {
      uint32_t r0 = rowBounds_[rc], rows = rowBounds_[rc + 1] - r0;
      uint32_t c0 = colBounds_[cc], cols = colBounds_[cc + 1] - c0;
      uint32_t k0 = kBounds_[kc], kl = kBounds_[kc + 1] - k0;
      if (!transposeA_) {
        // Tile on the stack of the worker; ABt needs only this buffer.
        alignas(32) double tile[kMaxChunk * kMaxChunk];
        MultiplyTileABt(B_.Row(c0) + k0, tile, maxCols_, A_.Row(r0) + k0, A_.Stride(), B_.Stride(),
                        static_cast<int>(rows), static_cast<int>(cols), static_cast<int>(kl));
        MergeTile(rc, cc, tile, rows, cols);
      } else {
        alignas(32) double tile[kMaxChunk * kMaxChunk];
        alignas(32) double at[kMaxChunk * kMaxChunk];
        alignas(32) double bt[kMaxChunk * kMaxChunk];
        TransposeBlock(A_.Stride(), at, maxK_, A_.Row(k0) + r0, static_cast<int>(rows),
                       static_cast<int>(kl));
        TransposeBlock(B_.Stride(), bt, maxK_, B_.Row(k0) + c0, static_cast<int>(cols),
                       static_cast<int>(kl));
        MultiplyTileABt(bt, tile, maxCols_, at, maxK_, maxK_, static_cast<int>(rows),
                        static_cast<int>(cols), static_cast<int>(kl));
        MergeTile(rc, cc, tile, rows, cols);
      }
    }
  }

  void Run();

 private:
  static constexpr size_t kInlineWords = 128;

  bool NextTile(uint32_t& rc, uint32_t& cc, uint32_t& kc) {
    uint32_t t = counter_.fetch_add(1, std::memory_order_relaxed);
    if (t >= Tiles()) return false;
    rc = t % nr_;
    t /= nr_;
    cc = t % nc_;
    kc = t / nc_;
    return true;
  }

  // The block's lock word serialises the contributions of its k tiles and
  // counts them: 0 = taken, v > 0 = free with v - 1 contributions merged.
  void MergeTile(uint32_t rc, uint32_t cc, const double* tile, uint32_t rows, uint32_t cols) {
    std::atomic_ref<uint32_t> lock(locks_[rc * nc_ + cc]);
    uint32_t v;
    for (;;) {
      while (lock.load(std::memory_order_relaxed) == 0) {
      }
      v = lock.exchange(0, std::memory_order_acquire);
      if (v != 0) break;
    }
    uint32_t r0 = rowBounds_[rc], c0 = colBounds_[cc];
    for (uint32_t i = 0; i < rows; ++i) {
      double* out = R_.Row(r0 + i) + c0;
      const double* src = tile + static_cast<size_t>(i) * maxCols_;
      if (v == 1) {
        std::memcpy(out, src, cols * sizeof(double));
      } else {
        AddVectors(out, out, src, static_cast<int>(cols));
      }
    }
    lock.exchange(v + 1, std::memory_order_release);
  }

  Matrix& R_;
  const Matrix& A_;
  const Matrix& B_;
  bool transposeA_;
  uint32_t nr_, nc_, nk_;
  uint32_t* rowBounds_;
  uint32_t* colBounds_;
  uint32_t* kBounds_;
  uint32_t* locks_;
  uint32_t maxRows_ = 0, maxCols_ = 0, maxK_ = 0;
  std::atomic<uint32_t> counter_{0};
  alignas(4) uint32_t inline_[kInlineWords];
  std::unique_ptr<uint32_t[]> heap_;
};

// The caller works alone unless the pool has more than 100 threads to give.
void BlockedProduct::Run() {
  uint32_t n = static_cast<uint32_t>(std::max(WorkerPool::GetNumberOfThreads(), 1));
  n = std::min(n, Tiles());
  if (n <= 100) {
    Work();
    return;
  }
  WorkerPool::ParallelFor(
      this, nullptr, 0, static_cast<int>(n),
      [](void* context, void*) { static_cast<BlockedProduct*>(context)->Work(); }, false);
}

}  // namespace

void Matrix::Product(const Matrix& A, const Matrix& B, bool transposeA) {
  uint32_t m = transposeA ? A.cols_ : A.rows_;
  uint32_t k = transposeA ? A.rows_ : A.cols_;
  uint32_t n = transposeA ? B.cols_ : B.rows_;
  if (m == 0 || n == 0 || k == 0) {
    Resize(m, n);
    SetZero();
    return;
  }
  if (storage_.data == A.storage_.data || storage_.data == B.storage_.data) {
    Matrix temp;
    temp.Product(A, B, transposeA);
    *this = temp;
    return;
  }
  Resize(m, n);
  if (m < 8 || n < 8 || k < 8) {
    MultiplyPlain(*this, A, B, transposeA, m, n, k);
    return;
  }
  BlockedProduct product(*this, A, B, transposeA, m, n, k);
  product.Run();
}
