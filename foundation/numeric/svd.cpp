#include "foundation/numeric/svd.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "foundation/numeric/aligned_buffer.h"
#include "foundation/numeric/dense_kernels.h"
#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"
#include "foundation/numeric/pythag.h"
#include "platform/console.h"

// The routine is built twice, for AVX2 and for any x86-64, and the loader
// picks one; its helpers are inlined into each so that the wider build
// vectorises them. Both builds perform the same operations element by
// element (no reassociation, no fused multiply-add), so the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
#define KX_SVD_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define KX_SVD_CLONES
#endif
#define KX_SVD_INLINE [[gnu::always_inline]] inline

namespace {

using numeric::Pythag;
using numeric::Sign;

// sums[j] += p0·r0[j], then p1·r1[j], p2·r2[j] and p3·r3[j], for j = j0 ..
// n-1: one pass over sums for four rows, the same bits as one row at a time.
KX_SVD_INLINE void AddFourRows(double* sums, int j0, int n, double p0, const double* r0, double p1,
                               const double* r1, double p2, const double* r2, double p3,
                               const double* r3) {
  for (int j = j0; j < n; ++j) {
    double t = sums[j] + p0 * r0[j];
    t = t + p1 * r1[j];
    t = t + p2 * r2[j];
    sums[j] = t + p3 * r3[j];
  }
}

// sums[j] = Σ a[k][col]·a[k][j] over k = k0 .. m-1, for j = j0 .. n-1,
// accumulated in ascending k as a column-by-column loop would.
KX_SVD_INLINE void ColumnSums(const double* a, size_t stride, int col, int k0, int m, int j0, int n,
                              double* sums) {
  for (int j = j0; j < n; ++j) sums[j] = 0.0;
  int k = k0;
  for (; k + 4 <= m; k += 4) {
    const double* r0 = a + k * stride;
    const double* r1 = r0 + stride;
    const double* r2 = r1 + stride;
    const double* r3 = r2 + stride;
    AddFourRows(sums, j0, n, r0[col], r0, r1[col], r1, r2[col], r2, r3[col], r3);
  }
  for (; k < m; ++k) {
    const double* row = a + k * stride;
    double akc = row[col];
    for (int j = j0; j < n; ++j) sums[j] += akc * row[j];
  }
}

// a[k][j] += f[j]·a[k][col] for k = k0 .. m-1, j = j0 .. n-1.
KX_SVD_INLINE void ColumnUpdates(double* a, size_t stride, int col, int k0, int m, int j0, int n,
                                 const double* f) {
  for (int k = k0; k < m; ++k) {
    double* row = a + k * stride;
    double akc = row[col];
    for (int j = j0; j < n; ++j) row[j] += f[j] * akc;
  }
}

// Each row j = first .. m-1 gets a[j][k] += (Σk' a[j][k']·a[i][k'])·r[k] for
// k = first .. n-1. Four rows at a time keep four sums in flight; each sum
// still runs in ascending k. With f, each row first gets the column update
// a[j][k] += f[k]·a[j][i] still pending from the left-hand step, so that both
// updates share one pass over the trailing matrix (the row sees the same
// operations in the same order as two separate passes).
KX_SVD_INLINE void RowUpdates(double* a, size_t stride, int i, int first, int m, int n,
                              const double* r, const double* f) {
  const double* ai = a + i * stride;
  int j = first;
  for (; j + 4 <= m; j += 4) {
    double* r0 = a + j * stride;
    double* r1 = r0 + stride;
    double* r2 = r1 + stride;
    double* r3 = r2 + stride;
    if (f) {
      for (double* row : {r0, r1, r2, r3}) {
        const double aji = row[i];
        for (int k = first; k < n; ++k) row[k] += f[k] * aji;
      }
    }
    double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0;
    for (int k = first; k < n; ++k) {
      s0 += r0[k] * ai[k];
      s1 += r1[k] * ai[k];
      s2 += r2[k] * ai[k];
      s3 += r3[k] * ai[k];
    }
    for (int k = first; k < n; ++k) {
      r0[k] += s0 * r[k];
      r1[k] += s1 * r[k];
      r2[k] += s2 * r[k];
      r3[k] += s3 * r[k];
    }
  }
  for (; j < m; ++j) {
    double* row = a + j * stride;
    if (f) {
      const double aji = row[i];
      for (int k = first; k < n; ++k) row[k] += f[k] * aji;
    }
    double s = 0.0;
    for (int k = first; k < n; ++k) s += row[k] * ai[k];
    for (int k = first; k < n; ++k) row[k] += s * r[k];
  }
}

// The diagonalisation rotates columns of U and V. None of its decisions reads
// U or V, so the rotations are logged and applied later in batches, on the
// transposes (where a column is a contiguous row) and strip by strip of
// columns, so that a batch passes over the factor once while it stays in the
// cache. Each element still sees the same rotations, in the same order, with
// the same operations as in a column-by-column loop: the same bits.
// Columns of a transposed factor rotated together, in registers.
constexpr int kLanes = 24;

// Columns the rotations run over in a transposed factor with `cols` columns:
// whole strips once there is one (the padding columns are zero and never read
// back), else just the columns.
int RotatedWidth(int cols) {
  return cols < kLanes ? cols : (cols + kLanes - 1) / kLanes * kLanes;
}

// Where a transposed factor (a row per column of U or V) keeps its elements
// while it is rotated: strips of kLanes columns, each strip one block with
// its rows one after the other. A strip that the rotations stream through
// again and again then spans a few pages and cache sets instead of one of
// each per row. A factor narrower than a strip is one block of plain rows.
struct FactorLayout {
  FactorLayout(int rows, int cols)
      : cols(cols),
        width(RotatedWidth(cols)),
        pitch(static_cast<size_t>(std::min(width, kLanes))),
        strip(static_cast<size_t>(rows) * pitch) {}
  // Doubles the factor takes.
  size_t Size() const { return strip * static_cast<size_t>((width + kLanes - 1) / kLanes); }
  // The element (row, col); x0 of a strip's first column gives the strip's
  // row start.
  KX_SVD_INLINE double* At(double* t, int row, int col) const {
    return t + static_cast<size_t>(col / kLanes) * strip + row * pitch + col % kLanes;
  }
  int cols, width;
  size_t pitch, strip;
};

struct Rotation {
  int y, z;  // rows (y, z) ← (y·c + z·s, z·c − y·s)
  double c, s;
};

class RotationLog {
 public:
  // Room for the log of a problem of order n, which makes about n² rotations.
  static uint32_t CapacityFor(int n) {
    return static_cast<uint32_t>(
        std::min<uint64_t>(kMaxCapacity, 2 * static_cast<uint64_t>(n) * n + 16));
  }

  // t: the transposed factor laid out by `layout`; ops: room for
  // CapacityFor(n) rotations, owned by the caller.
  RotationLog(double* t, const FactorLayout& layout, int n, Rotation* ops)
      : capacity_(CapacityFor(n)), ops_(ops), t_(t), layout_(layout) {}

  KX_SVD_INLINE void Add(int y, int z, double c, double s) {
    if (count_ == capacity_) Flush();
    ops_[count_++] = Rotation{y, z, c, s};
  }

  // Applies every logged rotation, in order. A sweep rotates rows (j, j+1),
  // then (j+1, j+2) ...; a cancellation rotates one row against several. The
  // row the next rotation shares stays in registers instead of going back to
  // memory and coming in again, which halves the traffic of a strip.
  KX_SVD_INLINE void Flush() {
    if (layout_.width < kLanes) {
      FlushNarrow();
    } else {
      for (int x0 = 0; x0 < layout_.width; x0 += kLanes) FlushStrip(layout_.At(t_, 0, x0));
    }
    count_ = 0;
  }

 private:
  typedef double Quad __attribute__((vector_size(32)));
  // kLanes doubles of one row, held in registers.
  struct Strip {
    Quad a, b, c, d, e, f;
  };

  // Vectors go by reference only: by value they would warn that the default
  // build passes them differently (everything here is inlined anyway).
  KX_SVD_INLINE static void LoadQuad(const double* p, Quad& r) {
    __builtin_memcpy(&r, p, sizeof r);
  }
  KX_SVD_INLINE static void StoreQuad(double* p, const Quad& v) {
    __builtin_memcpy(p, &v, sizeof v);
  }
  KX_SVD_INLINE static void Load(const double* p, Strip& r) {
    LoadQuad(p, r.a);
    LoadQuad(p + 4, r.b);
    LoadQuad(p + 8, r.c);
    LoadQuad(p + 12, r.d);
    LoadQuad(p + 16, r.e);
    LoadQuad(p + 20, r.f);
  }
  KX_SVD_INLINE static void Store(double* p, const Strip& r) {
    StoreQuad(p, r.a);
    StoreQuad(p + 4, r.b);
    StoreQuad(p + 8, r.c);
    StoreQuad(p + 12, r.d);
    StoreQuad(p + 16, r.e);
    StoreQuad(p + 20, r.f);
  }

  KX_SVD_INLINE static void Rotate(Quad& y, Quad& z, const Quad& c, const Quad& s) {
    const Quad yq = y, zq = z;
    y = yq * c + zq * s;
    z = zq * c - yq * s;
  }
  KX_SVD_INLINE static void Rotate(Strip& y, Strip& z, double cs, double sn) {
    const Quad c = {cs, cs, cs, cs}, s = {sn, sn, sn, sn};
    Rotate(y.a, z.a, c, s);
    Rotate(y.b, z.b, c, s);
    Rotate(y.c, z.c, c, s);
    Rotate(y.d, z.d, c, s);
    Rotate(y.e, z.e, c, s);
    Rotate(y.f, z.f, c, s);
  }

  // The strip whose row 0 starts at `base` (rows kLanes apart).
  KX_SVD_INLINE void FlushStrip(double* base) {
    auto row = [base](int r) { return base + r * kLanes; };
    uint32_t o = 0;
    while (o < count_) {
      uint32_t e = o + 1;
      if (e < count_ && ops_[e].y == ops_[o].z) {
        // A sweep: each rotation's second row is the next one's first.
        while (e < count_ && ops_[e].y == ops_[e - 1].z) ++e;
        Strip y, z;
        Load(row(ops_[o].y), y);
        for (uint32_t k = o; k < e; ++k) {
          Load(row(ops_[k].z), z);
          Rotate(y, z, ops_[k].c, ops_[k].s);
          Store(row(ops_[k].y), y);
          y = z;
        }
        Store(row(ops_[e - 1].z), y);
      } else if (e < count_ && ops_[e].y == ops_[o].y) {
        // A cancellation: one row against each of several.
        while (e < count_ && ops_[e].y == ops_[o].y) ++e;
        Strip y, z;
        Load(row(ops_[o].y), y);
        for (uint32_t k = o; k < e; ++k) {
          Load(row(ops_[k].z), z);
          Rotate(y, z, ops_[k].c, ops_[k].s);
          Store(row(ops_[k].z), z);
        }
        Store(row(ops_[o].y), y);
      } else {
        Strip y, z;
        Load(row(ops_[o].y), y);
        Load(row(ops_[o].z), z);
        Rotate(y, z, ops_[o].c, ops_[o].s);
        Store(row(ops_[o].y), y);
        Store(row(ops_[o].z), z);
      }
      o = e;
    }
  }

  // A factor narrower than a strip, one rotation at a time.
  KX_SVD_INLINE void FlushNarrow() {
    const int w = layout_.width;
    for (uint32_t o = 0; o < count_; ++o) {
      const Rotation& r = ops_[o];
      double* y = layout_.At(t_, r.y, 0);
      double* z = layout_.At(t_, r.z, 0);
      for (int x = 0; x < w; ++x) {
        const double yx = y[x], zx = z[x];
        y[x] = yx * r.c + zx * r.s;
        z[x] = zx * r.c - yx * r.s;
      }
    }
  }

  static constexpr uint32_t kMaxCapacity = 1u << 15;
  uint32_t capacity_;
  Rotation* ops_;
  uint32_t count_ = 0;
  double* t_;
  FactorLayout layout_;
};

// The transpose of src (rows × cols, row stride srcStride) into t laid out by
// `layout` (cols rows of `rows` columns), padding columns zeroed.
KX_SVD_INLINE void TransposeToLayout(const double* src, size_t srcStride, int rows, int cols,
                                     const FactorLayout& layout, double* t) {
  for (int r0 = 0; r0 < layout.width; r0 += kLanes) {
    const int r1 = std::min(rows, r0 + kLanes), w = std::min(layout.width - r0, kLanes);
    for (int c = 0; c < cols; ++c) {
      double* out = layout.At(t, c, r0);
      for (int r = r0; r < r1; ++r) out[r - r0] = src[r * srcStride + c];
      for (int r = r1 - r0; r < w; ++r) out[r] = 0.0;
    }
  }
}

// The inverse: dst (rows × cols, row stride dstStride) from t.
KX_SVD_INLINE void TransposeFromLayout(const FactorLayout& layout, double* t, int rows, int cols,
                                       double* dst, size_t dstStride) {
  for (int r0 = 0; r0 < rows; r0 += kLanes) {
    const int r1 = std::min(rows, r0 + kLanes);
    for (int c = 0; c < cols; ++c) {
      const double* in = layout.At(t, c, r0);
      for (int r = r0; r < r1; ++r) dst[r * dstStride + c] = in[r - r0];
    }
  }
}

// Rows `rows` of row-major f (row stride fs, width ≥ layout.width with
// zero padding) into t laid out by `layout`.
KX_SVD_INLINE void CopyToLayout(const double* f, size_t fs, int rows, const FactorLayout& layout,
                                double* t) {
  for (int x0 = 0; x0 < layout.width; x0 += kLanes) {
    const int w = std::min(layout.width - x0, kLanes);
    for (int r = 0; r < rows; ++r)
      std::copy(f + r * fs + x0, f + r * fs + x0 + w, layout.At(t, r, x0));
  }
}

// From this order on (the smaller of m and n) the orthogonal factors are
// built from their reflectors a block at a time with matrix products, which
// rounds differently; below it one reflector at a time, as fast there and
// with the bits the solver's small systems have always had. The bidiagonal
// form, and so every singular value and its place, is the same either way.
constexpr int kBlockedFrom = 128;
// Reflectors per block.
constexpr int kReflectors = 16;

// rows[j·rowStride + r] += Σp c[j·kReflectors + p]·xt[p·xStride + r] for
// j < count, p < b, r in [r0, r1): four rows and eight positions at a time in
// registers, the reflectors streamed past them.
KX_SVD_INLINE void AddReflections(double* rows, size_t rowStride, int count, const double* c, int b,
                                  const double* xt, size_t xStride, int r0, int r1) {
  typedef double Quad __attribute__((vector_size(32)));
  int j = 0;
  for (; j + 4 <= count; j += 4) {
    double* q0 = rows + j * rowStride;
    double* q1 = q0 + rowStride;
    double* q2 = q1 + rowStride;
    double* q3 = q2 + rowStride;
    const double* c0 = c + j * kReflectors;
    const double* c1 = c0 + kReflectors;
    const double* c2 = c1 + kReflectors;
    const double* c3 = c2 + kReflectors;
    int r = r0;
    for (; r + 8 <= r1; r += 8) {
      Quad a0, a1, b0, b1, d0, d1, e0, e1;
      __builtin_memcpy(&a0, q0 + r, 32);
      __builtin_memcpy(&a1, q0 + r + 4, 32);
      __builtin_memcpy(&b0, q1 + r, 32);
      __builtin_memcpy(&b1, q1 + r + 4, 32);
      __builtin_memcpy(&d0, q2 + r, 32);
      __builtin_memcpy(&d1, q2 + r + 4, 32);
      __builtin_memcpy(&e0, q3 + r, 32);
      __builtin_memcpy(&e1, q3 + r + 4, 32);
      for (int p = 0; p < b; ++p) {
        Quad x0, x1;
        __builtin_memcpy(&x0, xt + p * xStride + r, 32);
        __builtin_memcpy(&x1, xt + p * xStride + r + 4, 32);
        const Quad k0 = {c0[p], c0[p], c0[p], c0[p]}, k1 = {c1[p], c1[p], c1[p], c1[p]};
        const Quad k2 = {c2[p], c2[p], c2[p], c2[p]}, k3 = {c3[p], c3[p], c3[p], c3[p]};
        a0 += k0 * x0;
        a1 += k0 * x1;
        b0 += k1 * x0;
        b1 += k1 * x1;
        d0 += k2 * x0;
        d1 += k2 * x1;
        e0 += k3 * x0;
        e1 += k3 * x1;
      }
      __builtin_memcpy(q0 + r, &a0, 32);
      __builtin_memcpy(q0 + r + 4, &a1, 32);
      __builtin_memcpy(q1 + r, &b0, 32);
      __builtin_memcpy(q1 + r + 4, &b1, 32);
      __builtin_memcpy(q2 + r, &d0, 32);
      __builtin_memcpy(q2 + r + 4, &d1, 32);
      __builtin_memcpy(q3 + r, &e0, 32);
      __builtin_memcpy(q3 + r + 4, &e1, 32);
    }
    for (; r < r1; ++r) {
      for (int p = 0; p < b; ++p) {
        const double x = xt[p * xStride + r];
        q0[r] += c0[p] * x;
        q1[r] += c1[p] * x;
        q2[r] += c2[p] * x;
        q3[r] += c3[p] * x;
      }
    }
  }
  for (; j < count; ++j) {
    double* q = rows + j * rowStride;
    const double* cj = c + j * kReflectors;
    for (int p = 0; p < b; ++p) {
      const double* x = xt + p * xStride;
      for (int r = r0; r < r1; ++r) q[r] += cj[p] * x[r];
    }
  }
}

// Builds an orthogonal factor, transposed, from its reflectors: row j of ft
// is H0·H1···H(j-1) applied to row j as step j leaves it, where step i
// reflects with Hi = I + x·yᵀ. ft has `steps` rows of `len` positions (row
// stride fs, a multiple of 4; ft 32-byte aligned) and is zero on entry, as
// are the rows and padding beyond. reflector(i, x, y) writes x and y (len
// positions, zero outside the support, which starts at i or later) and
// returns false when step i does not reflect (x and y zero); ownRow(j, row)
// writes row j as step j leaves it. work: 2·kReflectors·fs + kReflectors² +
// steps·kReflectors doubles, 32-byte aligned.
//
// A block of steps i0 .. i1-1 acts on the rows already built (j ≥ i1) as
// P = H(i0)···H(i1-1) = I + X·T·Yᵀ (T unit upper triangular), two matrix
// products; the block's own rows take its steps one by one.
template <class Reflector, class OwnRow>
KX_SVD_INLINE void BuildFactorBlocked(double* ft, size_t fs, int len, int steps, double* work,
                                      Reflector reflector, OwnRow ownRow) {
  double* yt = work;
  double* xt = yt + kReflectors * fs;
  double* tm = xt + kReflectors * fs;
  double* z = tm + kReflectors * kReflectors;
  bool active[kReflectors];
  for (int i1 = steps; i1 > 0;) {
    const int i0 = std::max(0, i1 - kReflectors), b = i1 - i0;
    const int rs = i0 & ~3;  // first position any reflector of the block touches, aligned
    for (int p = 0; p < b; ++p) active[p] = reflector(i0 + p, xt + p * fs, yt + p * fs);
    // T column by column: appending H on the right adds T·(Yᵀ·x) above a 1.
    for (int q = 0; q < b; ++q) {
      double d[kReflectors];
      for (int p = 0; p < q; ++p) {
        d[p] = 0.0;
        if (!active[p] || !active[q]) continue;
        const double* y = yt + p * fs;
        const double* x = xt + q * fs;
        double t = 0.0;
        for (int r = rs; r < len; ++r) t += y[r] * x[r];
        d[p] = t;
      }
      for (int p = 0; p < q; ++p) {
        double t = 0.0;
        for (int r = p; r < q; ++r) t += tm[p * kReflectors + r] * d[r];
        tm[p * kReflectors + q] = t;
      }
      tm[q * kReflectors + q] = 1.0;
    }
    const int built = steps - i1;
    if (built > 0) {
      double* rows = ft + i1 * fs;
      // z = rows·Y, then z·Tᵀ in place (row by row, ascending p reads only
      // entries not yet overwritten), then rows += z·Xᵀ.
      MultiplyTileABt(yt + rs, z, kReflectors, rows + rs, fs, fs, built, b, len - rs);
      for (int j = 0; j < built; ++j) {
        double* zj = z + j * kReflectors;
        for (int p = 0; p < b; ++p) {
          double t = zj[p];
          for (int q = p + 1; q < b; ++q) t += tm[p * kReflectors + q] * zj[q];
          zj[p] = t;
        }
      }
      AddReflections(rows, fs, built, z, b, xt, fs, rs, len);
    }
    for (int j = i0; j < i1; ++j) {
      double* row = ft + j * fs;
      ownRow(j, row);
      for (int i = j - 1; i >= i0; --i) {
        const int p = i - i0;
        if (!active[p]) continue;
        const double* y = yt + p * fs;
        const double* x = xt + p * fs;
        double t = 0.0;
        for (int r = rs; r < len; ++r) t += y[r] * row[r];
        for (int r = rs; r < len; ++r) row[r] += t * x[r];
      }
    }
    i1 = i0;
  }
}

}  // namespace

KX_SVD_CLONES bool nr_svdcmp(double* a, int m, int n, size_t aStride, double* w, double* v,
                             size_t vStride) {
  if (n <= 0) return true;
  auto A = [a, aStride](int r, int c) -> double& { return a[r * aStride + c]; };
  auto V = [v, vStride](int r, int c) -> double& { return v[r * vStride + c]; };
  // One block for rv1, a row of sums, the rotations of one sweep (cosines
  // and sines for V and for A, or the cancelling rotations), the columns of V
  // to negate (7n in all, rounded up to whole vectors), the transposes of U and V for the
  // diagonalisation and the two rotation logs (3 doubles a rotation).
  AlignedBuffer<double> work;
  const FactorLayout uLayout(n, m), vLayout(n, n);
  const size_t uSize = (uLayout.Size() + 3) & ~size_t{3}, vSize = (vLayout.Size() + 3) & ~size_t{3};
  const uint64_t logWords = 3 * static_cast<uint64_t>(RotationLog::CapacityFor(n));
  static_assert(sizeof(Rotation) == 3 * sizeof(double));
  const size_t front = (7 * static_cast<size_t>(n) + 3) & ~size_t{3};  // keeps ut 32-byte aligned
  work.Allocate(front + static_cast<uint64_t>(uSize) + vSize + 2 * logWords);
  double* rv1 = work.data;
  double* sums = rv1 + n;
  double* cv = sums + n;
  double* sv = cv + n;
  double* ca = sv + n;
  double* sa = ca + n;

  double g = 0.0, scale = 0.0, anorm = 0.0, s, f, h;
  int l = 0;
  // Householder reduction to bidiagonal form.
  for (int i = 0; i < n; ++i) {
    l = i + 1;
    rv1[i] = scale * g;
    g = s = scale = 0.0;
    double pending = 0.0;  // scale of a left-hand update not yet applied below row i
    if (i < m) {
      for (int k = i; k < m; ++k) scale += std::fabs(A(k, i));
      if (scale != 0.0) {
        for (int k = i; k < m; ++k) {
          A(k, i) /= scale;
          s += A(k, i) * A(k, i);
        }
        f = A(i, i);
        g = -Sign(std::sqrt(s), f);
        h = f * g - s;
        A(i, i) = f - g;
        // Column sums and updates run along the rows (each element sees the
        // same operations in the same order as column by column).
        ColumnSums(a, aStride, i, i, m, l, n, sums);
        for (int j = l; j < n; ++j) sums[j] = sums[j] / h;
        // Row i now; rows below wait for the right-hand step to share its
        // pass (column i, which the updates read, is scaled after them).
        ColumnUpdates(a, aStride, i, i, i + 1, l, n, sums);
        pending = scale;
      }
    }
    w[i] = scale * g;
    g = s = scale = 0.0;
    if (i < m && i != n - 1) {
      for (int k = l; k < n; ++k) scale += std::fabs(A(i, k));
      if (scale != 0.0) {
        for (int k = l; k < n; ++k) {
          A(i, k) /= scale;
          s += A(i, k) * A(i, k);
        }
        f = A(i, l);
        g = -Sign(std::sqrt(s), f);
        h = f * g - s;
        A(i, l) = f - g;
        for (int k = l; k < n; ++k) rv1[k] = A(i, k) / h;
        RowUpdates(a, aStride, i, l, m, n, rv1, pending != 0.0 ? sums : nullptr);
        if (pending != 0.0) {
          for (int k = i; k < m; ++k) A(k, i) *= pending;
          pending = 0.0;
        }
        for (int k = l; k < n; ++k) A(i, k) *= scale;
      }
    }
    if (pending != 0.0) {
      ColumnUpdates(a, aStride, i, l, m, l, n, sums);
      for (int k = i; k < m; ++k) A(k, i) *= pending;
      pending = 0.0;
    }
    anorm = std::max(anorm, std::fabs(w[i]) + std::fabs(rv1[i]));
  }
  double* ut = work.data + front;
  double* vt = ut + uSize;
  if (std::min(m, n) >= kBlockedFrom) {
    // Vᵀ and Uᵀ built as plain rows, then laid out for the diagonalisation.
    AlignedBuffer<double> blockWork;
    const size_t fs =
        (static_cast<size_t>(std::max(uLayout.width, vLayout.width)) + 3) & ~size_t{3};
    const size_t rowsSize = static_cast<size_t>(n) * fs;
    blockWork.Allocate(rowsSize + 2 * kReflectors * static_cast<uint64_t>(fs) +
                       kReflectors * kReflectors + static_cast<uint64_t>(n) * kReflectors);
    double* rows = blockWork.data;
    double* reflectorWork = rows + rowsSize;
    std::fill(rows, rows + rowsSize, 0.0);
    // Step i < n-1 of V reflects with y = row i of a right of the diagonal
    // and x = y/(a[i][i+1]·g), g the superdiagonal element; row i of Vᵀ
    // leaves its step as eᵢ.
    BuildFactorBlocked(
        rows, fs, n, n, reflectorWork,
        [&](int i, double* x, double* y) {
          std::fill(x, x + n, 0.0);
          std::fill(y, y + n, 0.0);
          if (i >= n - 1 || i >= m || rv1[i + 1] == 0.0) return false;
          const double gi = rv1[i + 1];
          const double* ai = &A(i, 0);
          for (int k = i + 1; k < n; ++k) {
            y[k] = ai[k];
            x[k] = (ai[k] / ai[i + 1]) / gi;  // double division against underflow
          }
          return true;
        },
        [&](int j, double* row) {
          std::fill(row, row + n, 0.0);
          row[j] = 1.0;
        });
    CopyToLayout(rows, fs, n, vLayout, vt);
    std::fill(rows, rows + rowsSize, 0.0);
    // Step i of U reflects with y = column i of a from the diagonal down and
    // x = y/(a[i][i]·w[i]); row j of Uᵀ leaves its step as eⱼ + y/w[j].
    BuildFactorBlocked(
        rows, fs, m, std::min(m, n), reflectorWork,
        [&](int i, double* x, double* y) {
          std::fill(x, x + m, 0.0);
          std::fill(y, y + m, 0.0);
          if (w[i] == 0.0) return false;
          const double gi = 1.0 / w[i];
          const double aii = A(i, i);
          for (int k = i; k < m; ++k) {
            y[k] = A(k, i);
            x[k] = (A(k, i) / aii) * gi;
          }
          return true;
        },
        [&](int j, double* row) {
          std::fill(row, row + m, 0.0);
          if (w[j] != 0.0) {
            const double gj = 1.0 / w[j];
            for (int k = j; k < m; ++k) row[k] = A(k, j) * gj;
          }
          row[j] += 1.0;
        });
    CopyToLayout(rows, fs, n, uLayout, ut);
  } else {
    // Accumulation of the right-hand transformations.
    // As on the left, the update pass of step i gathers the cur of step i-1
    // (rows i .. n-1 in ascending order, each once it is final).
    l = n;
    {
      double* cur = sums;
      double* next = cv;  // free until the diagonalisation
      bool haveSums = false;
      for (int i = n - 1; i >= 0; --i) {
        const bool nextNeeds = i > 0 && rv1[i] != 0.0;
        if (i < n - 1) {
          if (g != 0.0) {
            // Double division against underflow.
            for (int j = l; j < n; ++j) V(j, i) = (A(i, j) / A(i, l)) / g;
            if (!haveSums) {
              for (int j = l; j < n; ++j) cur[j] = 0.0;
              for (int k = l; k < n; ++k) {
                double aik = A(i, k);
                const double* vk = &V(k, 0);
                for (int j = l; j < n; ++j) cur[j] += aik * vk[j];
              }
            }
            for (int j = l; j < n; ++j) V(i, j) = 0.0;
            V(i, i) = 1.0;
            if (nextNeeds) {
              const double ap = A(i - 1, i);
              const double* vi = &V(i, 0);
              for (int j = i; j < n; ++j) next[j] = 0.0;
              for (int j = i; j < n; ++j) next[j] += ap * vi[j];
            }
            auto update = [&](double* vk) {
              double vki = vk[i];
              for (int j = l; j < n; ++j) vk[j] += cur[j] * vki;
              vk[i] = 0.0;
            };
            const double* ap = &A(i - 1, 0);
            int k = l;
            // Four rows per pass over the sums, added one after the other.
            for (; k + 4 <= n; k += 4) {
              double* v0 = &V(k, 0);
              double* v1 = v0 + vStride;
              double* v2 = v1 + vStride;
              double* v3 = v2 + vStride;
              update(v0);
              update(v1);
              update(v2);
              update(v3);
              if (nextNeeds) {
                AddFourRows(next, i, n, ap[k], v0, ap[k + 1], v1, ap[k + 2], v2, ap[k + 3], v3);
              }
            }
            for (; k < n; ++k) {
              double* vk = &V(k, 0);
              update(vk);
              if (nextNeeds)
                for (int j = i; j < n; ++j) next[j] += ap[k] * vk[j];
            }
            std::swap(cur, next);
            haveSums = nextNeeds;
            g = rv1[i];
            l = i;
            continue;
          }
          for (int j = l; j < n; ++j) V(i, j) = V(j, i) = 0.0;
        }
        haveSums = false;
        V(i, i) = 1.0;
        g = rv1[i];
        l = i;
      }
    }
    // Accumulation of the left-hand transformations. The pass that updates
    // rows i .. m-1 for step i also gathers the column sums of step i-1 over
    // the same rows, each row once it is final (ascending rows, as a separate
    // pass would add them).
    double* cur = sums;
    double* next = cv;  // free until the diagonalisation
    bool haveSums = false;
    for (int i = std::min(m, n) - 1; i >= 0; --i) {
      l = i + 1;
      g = w[i];
      for (int j = l; j < n; ++j) A(i, j) = 0.0;
      if (g != 0.0) {
        g = 1.0 / g;
        if (!haveSums) ColumnSums(a, aStride, i, l, m, l, n, cur);
        for (int j = l; j < n; ++j) cur[j] = (cur[j] / A(i, i)) * g;
        haveSums = i > 0 && w[i - 1] != 0.0;
        if (haveSums)
          for (int j = i; j < n; ++j) next[j] = 0.0;
        auto update = [&](double* row, int k) {
          const double aki = row[i];
          for (int j = l; j < n; ++j) row[j] += cur[j] * aki;
          row[i] *= g;
          if (k == i) row[i] += 1.0;
        };
        int k = i;
        // Four rows per pass over the sums, added one after the other.
        for (; k + 4 <= m; k += 4) {
          double* r0 = &A(k, 0);
          double* r1 = r0 + aStride;
          double* r2 = r1 + aStride;
          double* r3 = r2 + aStride;
          update(r0, k);
          update(r1, k + 1);
          update(r2, k + 2);
          update(r3, k + 3);
          if (haveSums) {
            AddFourRows(next, i, n, r0[i - 1], r0, r1[i - 1], r1, r2[i - 1], r2, r3[i - 1], r3);
          }
        }
        for (; k < m; ++k) {
          double* row = &A(k, 0);
          update(row, k);
          if (haveSums) {
            const double akp = row[i - 1];
            for (int j = i; j < n; ++j) next[j] += akp * row[j];
          }
        }
        std::swap(cur, next);
      } else {
        haveSums = false;
        for (int j = i; j < m; ++j) A(j, i) = 0.0;
        A(i, i) += 1.0;
      }
    }
    TransposeToLayout(a, aStride, m, n, uLayout, ut);
    TransposeToLayout(v, vStride, n, n, vLayout, vt);
  }
  // Diagonalisation of the bidiagonal form, on Uᵀ (n × m) and Vᵀ (n × n).
  auto* logs = reinterpret_cast<Rotation*>(vt + vSize);
  RotationLog uLog(ut, uLayout, n, logs), vLog(vt, vLayout, n, logs + logWords / 3);
  // Columns of V to negate at the end: no rotation touches column k once
  // value k has converged.
  double* negate = sa + n;  // n flags
  for (int i = 0; i < n; ++i) negate[i] = 0.0;
  bool converged = true;
  for (int k = n - 1; k >= 0; --k) {
    for (int its = 0;; ++its) {
      bool cancel = true;
      int nm = 0;
      for (l = k; l >= 0; --l) {
        nm = l - 1;
        // rv1[0] is always 0, so l = 0 always splits; stopping there also
        // keeps non-finite input from reading in front of w.
        if (l == 0 || std::fabs(rv1[l]) + anorm == anorm) {
          cancel = false;
          break;
        }
        if (std::fabs(w[nm]) + anorm == anorm) break;
      }
      if (cancel) {
        double c = 0.0;
        s = 1.0;
        int last = l;  // rotations of columns (nm, i) for i = l .. last - 1
        for (int i = l; i <= k; ++i) {
          f = s * rv1[i];
          rv1[i] = c * rv1[i];
          if (std::fabs(f) + anorm == anorm) break;
          g = w[i];
          h = Pythag(f, g);
          w[i] = h;
          c = g / h;
          s = -f / h;
          ca[i] = c;
          sa[i] = s;
          last = i + 1;
        }
        for (int i = l; i < last; ++i) uLog.Add(nm, i, ca[i], sa[i]);
      }
      double z = w[k];
      if (l == k) {
        if (z < 0.0) {
          w[k] = -z;
          negate[k] = 1.0;
        }
        break;
      }
      if (its == 30) {
        platform::ConsolePrintf(stderr, "no convergence in 30 nr_svdcmp iterations\n");
        converged = false;
        break;
      }
      // Shift from the bottom 2 × 2 minor.
      double x = w[l];
      nm = k - 1;
      double y = w[nm];
      g = rv1[nm];
      h = rv1[k];
      f = ((y - z) * (y + z) + (g - h) * (g + h)) / (2.0 * h * y);
      g = Pythag(f, 1.0);
      f = ((x - z) * (x + z) + h * ((y / (f + Sign(g, f))) - h)) / x;
      // One QR sweep.
      double c = 1.0;
      s = 1.0;
      for (int j = l; j <= nm; ++j) {
        int i = j + 1;
        g = rv1[i];
        y = w[i];
        h = s * g;
        g = c * g;
        z = Pythag(f, h);
        rv1[j] = z;
        c = f / z;
        s = h / z;
        f = x * c + g * s;
        g = g * c - x * s;
        h = y * s;
        y = y * c;
        cv[j] = c;
        sv[j] = s;
        z = Pythag(f, h);
        w[j] = z;
        if (z != 0.0) {
          c = f / z;
          s = h / z;
        }
        f = c * g + s * y;
        x = c * y - s * g;
        ca[j] = c;
        sa[j] = s;
      }
      // The sweep's rotations, row by row in the order they were made.
      for (int j = l; j <= nm; ++j) {
        vLog.Add(j, j + 1, cv[j], sv[j]);
        uLog.Add(j, j + 1, ca[j], sa[j]);
      }
      rv1[l] = 0.0;
      rv1[k] = f;
      w[k] = x;
    }
  }
  uLog.Flush();
  vLog.Flush();
  for (int k = 0; k < n; ++k) {
    if (negate[k] == 0.0) continue;
    for (int j = 0; j < n; ++j) {
      double* x = vLayout.At(vt, k, j);
      *x = -*x;
    }
  }
  TransposeFromLayout(uLayout, ut, m, n, a, aStride);
  TransposeFromLayout(vLayout, vt, n, n, v, vStride);
  return converged;
}

bool Matrix::SVD(Vector& w, Matrix& V, const Matrix& A) {
  if (this != &A) *this = A;
  uint32_t n = cols_;
  if (V.rows_ != n || V.cols_ != n) V.Resize(n, n);
  if (w.Size() != n) w.Resize(n);
  return nr_svdcmp(storage_.data, static_cast<int>(rows_), static_cast<int>(n), stride_, w.Data(),
                   V.storage_.data, V.stride_);
}
