#include "features/good_features.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "foundation/runtime/notify.h"

GoodFeaturesDetector::GoodFeaturesDetector() {
  candidates_.reserve(65536);
  scores_.reserve(65536);
}

void GoodFeaturesDetector::SetData(const OpticalFlowParameter* parameter, const int32_t* border_x,
                                   const int32_t* border_y, const ArrayMap<bool>& mask,
                                   const ArrayMap<float>& gradient_x,
                                   const ArrayMap<float>& gradient_y) {
  parameter_ = parameter;
  border_x_ = border_x;
  border_y_ = border_y;
  mask_ = mask;
  gradient_x_ = gradient_x;
  gradient_y_ = gradient_y;
}

void GoodFeaturesDetector::SetBand(int32_t x_from, int32_t x_to, int32_t y_from, int32_t y_to) {
  x_from_ = x_from;
  x_to_ = x_to;
  y_from_ = y_from;
  y_to_ = y_to;
}

namespace {

// Sorts (score, index) pairs by decreasing score; equal scores keep their order. The
// scores are positive, so their bit patterns order like the values: a radix sort on
// the complemented bits, 11 bits a pass.
void SortByDecreasingScore(std::vector<GoodFeaturesDetector::ScoredIndex>* pairs,
                           std::vector<uint64_t>* scratch) {
  const size_t n = pairs->size();
  if (n < 2) return;
  scratch->resize(2 * n);
  uint64_t* a = scratch->data();
  uint64_t* b = a + n;
  for (size_t i = 0; i < n; ++i) {
    const float score = (*pairs)[i].first;
    uint32_t bits = 0;
    if (score > 0.0f) std::memcpy(&bits, &score, sizeof bits);
    a[i] = (static_cast<uint64_t>(~bits) << 32) | static_cast<uint32_t>((*pairs)[i].second);
  }
  for (int shift = 32; shift < 64; shift += 11) {
    size_t count[2049] = {};
    for (size_t i = 0; i < n; ++i) ++count[((a[i] >> shift) & 2047) + 1];
    for (int k = 1; k <= 2048; ++k) count[k] += count[k - 1];
    for (size_t i = 0; i < n; ++i) b[count[(a[i] >> shift) & 2047]++] = a[i];
    std::swap(a, b);
  }
  for (size_t i = 0; i < n; ++i) {
    const uint32_t bits = ~static_cast<uint32_t>(a[i] >> 32);
    float score;
    std::memcpy(&score, &bits, sizeof score);
    (*pairs)[i] = {score, static_cast<int32_t>(static_cast<uint32_t>(a[i]))};
  }
}

// e[i] = gxx + gyy - sqrt((gxx - gyy)² + 4 gxy²) (twice the smaller eigenvalue) of the
// sums rounded to float, for a whole row. The vector path gives the scalar results
// (same operations in the same order, exactly rounded square roots).
void SmallerEigenvalues(const double* sxx, const double* sxy, const double* syy, double* e,
                        int32_t n) {
  int32_t i = 0;
#if defined(__SSE2__)
  const __m128d four = _mm_set1_pd(4.0);
  for (; i + 2 <= n; i += 2) {
    const __m128d gxx = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_loadu_pd(sxx + i)));
    const __m128d gxy = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_loadu_pd(sxy + i)));
    const __m128d gyy = _mm_cvtps_pd(_mm_cvtpd_ps(_mm_loadu_pd(syy + i)));
    const __m128d diff = _mm_sub_pd(gxx, gyy);
    const __m128d d = _mm_add_pd(_mm_mul_pd(diff, diff), _mm_mul_pd(_mm_mul_pd(four, gxy), gxy));
    _mm_storeu_pd(e + i, _mm_sub_pd(_mm_add_pd(gxx, gyy), _mm_sqrt_pd(d)));
  }
#endif
  for (; i < n; ++i) {
    const double gxx = static_cast<float>(sxx[i]), gxy = static_cast<float>(sxy[i]),
                 gyy = static_cast<float>(syy[i]);
    e[i] = gxx + gyy - std::sqrt((gxx - gyy) * (gxx - gyy) + 4.0 * gxy * gxy);
  }
}

}  // namespace

void GoodFeaturesDetector::Work() {
  candidates_.clear();
  scores_.clear();
  const OpticalFlowParameter& p = *parameter_;
  const int32_t hw = static_cast<int32_t>(p.m_window_width / 2);
  const int32_t hh = static_cast<int32_t>(p.m_window_height / 2);
  const int32_t mx = std::max(*border_x_, hw);
  const int32_t my = std::max(*border_y_, hh);
  const int32_t width =
      static_cast<int32_t>(std::min({mask_.width, gradient_x_.width, gradient_y_.width}));
  const int32_t height =
      static_cast<int32_t>(std::min({mask_.height, gradient_x_.height, gradient_y_.height}));
  const int32_t xs = std::max(x_from_, mx);
  const int32_t ys = std::max(y_from_, my);
  // The inclusive end of the scan, moved in where the window would leave the image.
  const int32_t xe = std::min({x_to_, width - mx, width - 1 - hw});
  const int32_t ye = std::min({y_to_, height - my, height - 1 - hh});
  const int measure = p.m_corner_measure;
  const bool subpixel = p.m_subpixel && (measure == 1 || measure == 2);
  if (xs <= xe && ys <= ye) {
    // Window sums by running sums: per-column sums over the window's rows (a ring of
    // the rows' products, so each product is formed once), then per-row sums over the
    // window's columns.
    const int nq = subpixel ? 7 : 3;
    const int32_t c0 = xs - hw;  // first column read
    const int32_t nc = xe + hw - c0 + 1;
    const int32_t nx = xe - xs + 1;
    const int32_t rows = 2 * hh + 1;
    column_sums_.assign(static_cast<size_t>(nq) * nc, 0.0);
    ring_.resize(static_cast<size_t>(rows) * nq * nc);
    row_sums_.resize(static_cast<size_t>(nq) * nx);
    e_.resize(static_cast<size_t>(nx));
    double* cs = column_sums_.data();
    // Adds the products of row r to the column sums, keeping them in ring slot k.
    // With `leave` the products kept in slot k are taken off each sum first, in the
    // same pass.
    auto enter_row = [&](int32_t r, int32_t k, bool leave) {
      double* slot = ring_.data() + static_cast<size_t>(k) * nq * nc;
      if (leave && !subpixel) {
        const float* gx = gradient_x_.data + static_cast<size_t>(r) * gradient_x_.stride + c0;
        const float* gy = gradient_y_.data + static_cast<size_t>(r) * gradient_y_.stride + c0;
        for (int32_t c = 0; c < nc; ++c) {
          const double x = gx[c], y = gy[c];
          const double xx = x * x, xy = x * y, yy = y * y;
          cs[c] = (cs[c] - slot[c]) + xx;
          cs[nc + c] = (cs[nc + c] - slot[nc + c]) + xy;
          cs[2 * nc + c] = (cs[2 * nc + c] - slot[2 * nc + c]) + yy;
          slot[c] = xx;
          slot[nc + c] = xy;
          slot[2 * nc + c] = yy;
        }
        return;
      }
      if (leave)
        for (int32_t q = 0; q < nq * nc; ++q) cs[q] -= slot[q];
      const float* gx = gradient_x_.data + static_cast<size_t>(r) * gradient_x_.stride + c0;
      const float* gy = gradient_y_.data + static_cast<size_t>(r) * gradient_y_.stride + c0;
      for (int32_t c = 0; c < nc; ++c) {
        const double x = gx[c], y = gy[c];
        slot[c] = x * x;
        slot[nc + c] = x * y;
        slot[2 * nc + c] = y * y;
      }
      if (subpixel) {
        const double py = r;
        for (int32_t c = 0; c < nc; ++c) {
          const double px = c0 + c;
          slot[3 * nc + c] = px * slot[c];
          slot[4 * nc + c] = px * slot[nc + c];
          slot[5 * nc + c] = py * slot[nc + c];
          slot[6 * nc + c] = py * slot[2 * nc + c];
        }
      }
      for (int32_t q = 0; q < nq * nc; ++q) cs[q] += slot[q];
    };
    for (int32_t r = ys - hh; r <= ys + hh; ++r) enter_row(r, (r - (ys - hh)) % rows, false);
    const double t = 2.0 * static_cast<double>(p.m_eigenvalue_threshold);
    const int32_t window = 2 * hw + 1;
    for (int32_t y = ys; y <= ye; ++y) {
      if (y > ys) {
        // Row y - hh - 1 leaves, row y + hh enters the same slot.
        const int32_t k = (y - hh - 1 - (ys - hh)) % rows;
        enter_row(y + hh, k, true);
      }
      // The quantities' running sums side by side: independent chains.
      double sum[7] = {0, 0, 0, 0, 0, 0, 0};
      for (int q = 0; q < nq; ++q)
        for (int32_t c = 0; c < window; ++c) sum[q] += cs[q * nc + c];
      double* out = row_sums_.data();
      for (int q = 0; q < nq; ++q) out[static_cast<size_t>(q) * nx] = sum[q];
      if (nq == 3) {
        const double *a = cs, *b = cs + nc, *c = cs + 2 * nc;
        double s0 = sum[0], s1 = sum[1], s2 = sum[2];
        for (int32_t i = 1; i < nx; ++i) {
          s0 += a[i + window - 1] - a[i - 1];
          s1 += b[i + window - 1] - b[i - 1];
          s2 += c[i + window - 1] - c[i - 1];
          out[i] = s0;
          out[nx + i] = s1;
          out[2 * static_cast<size_t>(nx) + i] = s2;
        }
      } else {
        for (int32_t i = 1; i < nx; ++i)
          for (int q = 0; q < nq; ++q) {
            const double* col = cs + q * nc;
            sum[q] += col[i + window - 1] - col[i - 1];
            out[static_cast<size_t>(q) * nx + i] = sum[q];
          }
      }
      const double* sxx = row_sums_.data();
      const double* sxy = sxx + nx;
      const double* syy = sxy + nx;
      SmallerEigenvalues(sxx, sxy, syy, e_.data(), nx);
      const bool* mask_row = mask_.data + static_cast<size_t>(y) * mask_.stride + xs;
      for (int32_t i = 0; i < nx; ++i) {
        const double gxx = static_cast<float>(sxx[i]), gxy = static_cast<float>(sxy[i]),
                     gyy = static_cast<float>(syy[i]);
        const double e = e_[i];
        double score;
        if (measure == 1) {
          if (!(gxx > t && gyy > t && e > t)) continue;
          score = e / 2.0;
        } else if (measure == 2) {
          const double trace = gxx + gyy;
          if (trace == 0.0) continue;
          const double det = gxx * gyy - gxy * gxy;
          if (!(4.0 * det / (trace * trace) > 0.5)) continue;
          score = det / trace;
        } else {
          if (!(gxx + gyy > t && e > t)) continue;
          score = e / 2.0;
        }
        if (mask_row[i]) continue;
        CornerCandidate cand;
        cand.x = static_cast<int16_t>(xs + i);
        cand.y = static_cast<int16_t>(y);
        cand.gxx = static_cast<float>(gxx);
        cand.gxy = static_cast<float>(gxy);
        cand.gyy = static_cast<float>(gyy);
        if (subpixel) {
          cand.sx1 = static_cast<float>(row_sums_[3 * static_cast<size_t>(nx) + i]);
          cand.sx2 = static_cast<float>(row_sums_[4 * static_cast<size_t>(nx) + i]);
          cand.sy1 = static_cast<float>(row_sums_[5 * static_cast<size_t>(nx) + i]);
          cand.sy2 = static_cast<float>(row_sums_[6 * static_cast<size_t>(nx) + i]);
        } else {
          cand.sx1 = cand.sx2 = cand.sy1 = cand.sy2 = 0.0f;
        }
        scores_.emplace_back(static_cast<float>(score), static_cast<int32_t>(candidates_.size()));
        candidates_.push_back(cand);
      }
    }
  }
  SortByDecreasingScore(&scores_, &sort_scratch_);
  scores_.push_back(kSentinel);
  Notify(10,
         "FeatureCorrelatorOpticalFlow::CornerDetector::Work: pid: %d, region: x1,x2: %d,%d, "
         "y1,y2: %d,%d, found %d features",
         0, xs, xe, ys, ye, static_cast<int>(candidates_.size()));
}

void MarkMinDistance(const ArrayMap<bool>& mask, int32_t x, int32_t y, int32_t d) {
  const int64_t x0 = std::max<int64_t>(0, int64_t{x} - d);
  const int64_t x1 = std::min<int64_t>(int64_t{mask.width} - 1, int64_t{x} + d);
  const int64_t y0 = std::max<int64_t>(0, int64_t{y} - d);
  const int64_t y1 = std::min<int64_t>(int64_t{mask.height} - 1, int64_t{y} + d);
  for (int64_t r = y0; r <= y1; ++r)
    for (int64_t c = x0; c <= x1; ++c) mask.data[c + r * static_cast<int64_t>(mask.stride)] = true;
}

namespace {
// trunc(v) clamped to [lo, hi] without overflowing for huge or NaN values.
int64_t TruncClamped(double v, int64_t lo, int64_t hi) {
  if (!(v > static_cast<double>(lo))) return lo;
  if (v >= static_cast<double>(hi)) return hi;
  return static_cast<int64_t>(v);
}
}  // namespace

void FillPolygonMask(const std::vector<std::pair<double, double>>& vertices,
                     const ArrayMap<bool>& mask, bool value, bool or_mode) {
  const size_t n = vertices.size();
  if (n < 3) return;
  const int64_t height = mask.height, width = mask.width;
  auto row_of = [&](double y) {
    const int64_t r = TruncClamped(y, -1, height) + 1;
    return std::clamp<int64_t>(r, 0, height);
  };
  struct Edge {
    double ux, uy, slope;
    int64_t r0, r1;
  };
  std::vector<Edge> edges;
  int64_t min_row = height, max_row = 0;
  for (size_t i = 0; i < n; ++i) {
    const auto& a = vertices[i];
    const auto& b = vertices[i == 0 ? n - 1 : i - 1];
    const int64_t ra = row_of(a.second), rb = row_of(b.second);
    min_row = std::min({min_row, ra});
    max_row = std::max({max_row, ra});
    if (ra == rb) continue;
    const auto& u = ra < rb ? a : b;
    const auto& l = ra < rb ? b : a;
    edges.push_back({u.first, u.second, (l.first - u.first) / (l.second - u.second),
                     std::min(ra, rb), std::max(ra, rb)});
  }
  std::vector<double> crossings;
  for (int64_t k = min_row; k < max_row; ++k) {
    crossings.clear();
    for (const Edge& e : edges)
      if (k >= e.r0 && k < e.r1)
        crossings.push_back((static_cast<double>(k) - e.uy) * e.slope + e.ux);
    std::sort(crossings.begin(), crossings.end());
    bool* row = mask.data + k * static_cast<int64_t>(mask.stride);
    for (size_t i = 0; i + 1 < crossings.size(); i += 2) {
      const int64_t from = std::max<int64_t>(0, TruncClamped(crossings[i], -1, width) + 1);
      const int64_t to = std::min<int64_t>(width, TruncClamped(crossings[i + 1], -1, width));
      for (int64_t c = from; c < to; ++c) row[c] = or_mode ? (row[c] || value) : value;
    }
  }
}
