#include "features/pyramid_tracker.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "features/affine_feature_attribute.h"
#include "features/image_pyramid.h"
#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"
#include "foundation/runtime/notify.h"
#include "image/filter_kernel.h"
#include "image/separable_convolution.h"

const char* TrackStatusName(int status) {
  switch (status) {
    case kTrackTracked:
      return "tracked";
    case kTrackTrackable:
      return "trackable";
    case kTrackNotFound:
      return "not found";
    case kTrackSmallDeterminant:
      return "small determinate";
    case kTrackMaxIterations:
      return "exceed max iterations";
    case kTrackOutOfBounds:
      return "out of bounds";
    case kTrackLargeResidue:
      return "large residue";
    case kTrackNotDefined:
      return "not defined";
    case kTrackLargeDifference:
      return "large difference";
    default:
      return "unknown";
  }
}

float SampleBilinear(const ArrayMap<float>& level, float x, float y) {
  const float xf = std::floor(x), yf = std::floor(y);
  const float fx = x - xf, fy = y - yf;
  const long x0 = static_cast<long>(xf), y0 = static_cast<long>(yf);
  const long w = level.width, h = level.height;
  auto at = [&](long px, long py) -> float {
    if (px < 0 || py < 0 || px >= w || py >= h) return 0.0f;
    return level.data[px + py * static_cast<long>(level.stride)];
  };
  return (1.0f - fy) * ((1.0f - fx) * at(x0, y0) + fx * at(x0 + 1, y0)) +
         fy * ((1.0f - fx) * at(x0, y0 + 1) + fx * at(x0 + 1, y0 + 1));
}

void SampleWindow(const ArrayMap<float>& level, float x, float y, int w, int h, float* dst,
                  int dst_stride) {
  const float left = x - static_cast<float>(w / 2);
  const float top = y - static_cast<float>(h / 2);
  const float lf = std::floor(left), tf = std::floor(top);
  const long x0 = static_cast<long>(lf), y0 = static_cast<long>(tf);
  if (x0 >= 0 && y0 >= 0 && x0 + w < static_cast<long>(level.width) &&
      y0 + h < static_cast<long>(level.height)) {
    // Whole window and its right and lower neighbours inside: no checks.
    const float fx = left - lf, fy = top - tf;
    const float w00 = (1.0f - fy) * (1.0f - fx), w10 = (1.0f - fy) * fx;
    const float w01 = fy * (1.0f - fx), w11 = fy * fx;
    const size_t stride = level.stride;
    for (int j = 0; j < h; ++j) {
      const float* r0 = level.data + (y0 + j) * stride + x0;
      const float* r1 = r0 + stride;
      float* out = dst + static_cast<size_t>(j) * dst_stride;
      int i = 0;
#if defined(__SSE2__)
      // Four samples at once, each summed in the scalar order below.
      const __m128 v00 = _mm_set1_ps(w00), v10 = _mm_set1_ps(w10);
      const __m128 v01 = _mm_set1_ps(w01), v11 = _mm_set1_ps(w11);
      for (; i + 4 <= w; i += 4) {
        __m128 sum = _mm_mul_ps(v00, _mm_loadu_ps(r0 + i));
        sum = _mm_add_ps(sum, _mm_mul_ps(v10, _mm_loadu_ps(r0 + i + 1)));
        sum = _mm_add_ps(sum, _mm_mul_ps(v01, _mm_loadu_ps(r1 + i)));
        sum = _mm_add_ps(sum, _mm_mul_ps(v11, _mm_loadu_ps(r1 + i + 1)));
        _mm_storeu_ps(out + i, sum);
      }
#endif
      for (; i < w; ++i) out[i] = w00 * r0[i] + w10 * r0[i + 1] + w01 * r1[i] + w11 * r1[i + 1];
    }
    return;
  }
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i)
      dst[static_cast<size_t>(j) * dst_stride + i] =
          SampleBilinear(level, left + static_cast<float>(i), top + static_cast<float>(j));
}

void ComputeTrackerPyramids(const ArrayMap<unsigned char>& luminance, uint32_t levels,
                            uint32_t subsampling, const FilterKernel& smoothing,
                            const FilterKernel& gradient, ImagePyramid* intensity,
                            ImagePyramid* gradient_x, ImagePyramid* gradient_y) {
  intensity->AllocLevels(luminance.width, luminance.height, levels, subsampling, subsampling);
  gradient_x->AllocLevels(luminance.width, luminance.height, levels, subsampling, subsampling);
  gradient_y->AllocLevels(luminance.width, luminance.height, levels, subsampling, subsampling);
  const ArrayMap<float>& level0 = intensity->GetCPicture(0)->Plane(0);
  const bool smooth = !(smoothing.Size() == 1 && smoothing[0] == 1.0f);
  // With the low pass, the raw values go to x-gradient level 0 (written last) and are
  // filtered from there into level 0: no in-place pass.
  const ArrayMap<float>& raw = smooth ? gradient_x->GetCPicture(0)->Plane(0) : level0;
  for (uint32_t y = 0; y < raw.height; ++y) {
    const unsigned char* in = luminance.data + static_cast<size_t>(y) * luminance.stride;
    float* out = raw.data + static_cast<size_t>(y) * raw.stride;
    for (uint32_t x = 0; x < raw.width; ++x) out[x] = in[x];
  }
  if (!smooth) {
    Notify(5, "FeatureCorrelatorOpticalFlow::ComputePyramid: skip low pass");
  } else {
    Notify(5,
           "FeatureCorrelatorOpticalFlow::ComputePyramid: filter image gauss sigma %f, kernel "
           "size %d",
           static_cast<double>(smoothing.Sigma()), static_cast<int>(smoothing.Size()));
    SeparableConvolutionBatch batch;
    batch.Add(SeparableConvolution(level0, raw, 0, 0, smoothing, smoothing, 1, 1));
    batch.Execute();
  }
  intensity->ComputeLevels();
  SeparableConvolutionBatch batch;
  for (int l = 0; l < intensity->NumberOfLevels(); ++l) {
    const ArrayMap<float>& source = intensity->GetCPicture(l)->Plane(0);
    if (source.width == 0 || source.height == 0) continue;
    batch.Add(SeparableConvolution(gradient_x->GetCPicture(l)->Plane(0), source, 0, 0, gradient,
                                   smoothing, 1, 1));
    batch.Add(SeparableConvolution(gradient_y->GetCPicture(l)->Plane(0), source, 0, 0, smoothing,
                                   gradient, 1, 1));
  }
  batch.Execute();
}

TrackerPyramids TrackerPyramidViews(ImagePyramid& intensity, ImagePyramid& gradient_x,
                                    ImagePyramid& gradient_y) {
  TrackerPyramids views;
  const int levels = std::min(
      {intensity.NumberOfLevels(), gradient_x.NumberOfLevels(), gradient_y.NumberOfLevels()});
  for (int l = 0; l < levels; ++l) {
    views.intensity.push_back(intensity.GetCPicture(l)->Plane(0));
    views.gradient_x.push_back(gradient_x.GetCPicture(l)->Plane(0));
    views.gradient_y.push_back(gradient_y.GetCPicture(l)->Plane(0));
  }
  return views;
}

void PyramidTracker::Setup(const TrackerPyramids& first, const TrackerPyramids& second,
                           const OpticalFlowParameter& parameter, uint32_t subsampling,
                           uint32_t levels) {
  first_ = first;
  second_ = second;
  parameter_ = parameter;
  subsampling_ = subsampling;
  levels_ = static_cast<uint32_t>(std::min<size_t>(
      {levels, first.intensity.size(), second.intensity.size(), first.gradient_x.size(),
       first.gradient_y.size(), second.gradient_x.size(), second.gradient_y.size()}));
  w_ = static_cast<int>(parameter_.m_window_width);
  h_ = static_cast<int>(parameter_.m_window_height);
  hw_ = w_ / 2;
  hh_ = h_ / 2;
  window_.Resize(parameter_.m_window_width, parameter_.m_window_height);
  second_window_.Resize(parameter_.m_window_width, parameter_.m_window_height);
  // Sampling writes only the window's columns: the row padding stays 0 for the sums.
  std::fill(window_.Data(), window_.Data() + size_t{3} * window_.Stride() * window_.Height(), 0.0f);
  std::fill(second_window_.Data(),
            second_window_.Data() + size_t{3} * second_window_.Stride() * second_window_.Height(),
            0.0f);
  cached_x_ = cached_y_ = -1e10f;
  cached_level_ = -1;
}

bool PyramidTracker::WindowOutside(float x, float y, int level) const {
  const ArrayMap<float>& pic = first_.intensity[level];
  const float max_x = static_cast<float>(pic.width) - 1.0f;
  const float max_y = static_cast<float>(pic.height) - 1.0f;
  const float hw = static_cast<float>(hw_), hh = static_cast<float>(hh_);
  return x - hw < 0.0f || x + hw > max_x || y - hh < 0.0f || y + hh > max_y;
}

void PyramidTracker::MoveWindowInside(int level, float* x, float* y) const {
  const ArrayMap<float>& pic = first_.intensity[level];
  // A window half its size from the border leaves the second window room for the
  // motion a coarse level measures (up to about its half size).
  auto clamp = [](float v, float half, float size) {
    for (const float margin : {2.0f * half, half})
      if (size - 1.0f - margin >= margin) return std::clamp(v, margin, size - 1.0f - margin);
    return v;
  };
  *x = clamp(*x, static_cast<float>(hw_), static_cast<float>(pic.width));
  *y = clamp(*y, static_cast<float>(hh_), static_cast<float>(pic.height));
}

bool PyramidTracker::ComputeStep(float x1, float y1, float x2, float y2, int level, float* dx,
                                 float* dy) {
  if (x1 != cached_x_ || y1 != cached_y_ || level != cached_level_) {
    SampleWindow(first_.intensity[level], x1, y1, w_, h_, window_.Plane(0).data,
                 static_cast<int>(window_.Stride()));
    SampleWindow(first_.gradient_x[level], x1, y1, w_, h_, window_.Plane(1).data,
                 static_cast<int>(window_.Stride()));
    SampleWindow(first_.gradient_y[level], x1, y1, w_, h_, window_.Plane(2).data,
                 static_cast<int>(window_.Stride()));
    cached_x_ = x1;
    cached_y_ = y1;
    cached_level_ = level;
  }
  const int stride = static_cast<int>(second_window_.Stride());
  SampleWindow(second_.intensity[level], x2, y2, w_, h_, second_window_.Plane(0).data, stride);
  SampleWindow(second_.gradient_x[level], x2, y2, w_, h_, second_window_.Plane(1).data, stride);
  SampleWindow(second_.gradient_y[level], x2, y2, w_, h_, second_window_.Plane(2).data, stride);
  // Four lanes of partial sums over rows padded to a multiple of 4 (the padding is 0
  // in both windows), added up at the end.
  float axx[4] = {}, axy[4] = {}, ayy[4] = {}, aex[4] = {}, aey[4] = {};
  const int padded = (w_ + 3) & ~3;
#if defined(__SSE2__)
  __m128 vxx = _mm_setzero_ps(), vxy = vxx, vyy = vxx, vex = vxx, vey = vxx;
#endif
  for (int j = 0; j < h_; ++j) {
    const size_t row = static_cast<size_t>(j) * stride;
    const float* i1 = window_.Plane(0).data + row;
    const float* gx1 = window_.Plane(1).data + row;
    const float* gy1 = window_.Plane(2).data + row;
    const float* i2 = second_window_.Plane(0).data + row;
    const float* gx2 = second_window_.Plane(1).data + row;
    const float* gy2 = second_window_.Plane(2).data + row;
#if defined(__SSE2__)
    for (int i = 0; i < padded; i += 4) {
      const __m128 e = _mm_sub_ps(_mm_loadu_ps(i1 + i), _mm_loadu_ps(i2 + i));
      const __m128 gx = _mm_add_ps(_mm_loadu_ps(gx1 + i), _mm_loadu_ps(gx2 + i));
      const __m128 gy = _mm_add_ps(_mm_loadu_ps(gy1 + i), _mm_loadu_ps(gy2 + i));
      vxx = _mm_add_ps(vxx, _mm_mul_ps(gx, gx));
      vxy = _mm_add_ps(vxy, _mm_mul_ps(gx, gy));
      vyy = _mm_add_ps(vyy, _mm_mul_ps(gy, gy));
      vex = _mm_add_ps(vex, _mm_mul_ps(e, gx));
      vey = _mm_add_ps(vey, _mm_mul_ps(e, gy));
    }
#else
    for (int i = 0; i < padded; i += 4)
      for (int k = 0; k < 4; ++k) {
        const float e = i1[i + k] - i2[i + k];
        const float gx = gx1[i + k] + gx2[i + k];
        const float gy = gy1[i + k] + gy2[i + k];
        axx[k] += gx * gx;
        axy[k] += gx * gy;
        ayy[k] += gy * gy;
        aex[k] += e * gx;
        aey[k] += e * gy;
      }
#endif
  }
#if defined(__SSE2__)
  _mm_storeu_ps(axx, vxx);
  _mm_storeu_ps(axy, vxy);
  _mm_storeu_ps(ayy, vyy);
  _mm_storeu_ps(aex, vex);
  _mm_storeu_ps(aey, vey);
#endif
  auto lanes = [](const float a[4]) { return (a[0] + a[1]) + (a[2] + a[3]); };
  // The sums above use gx1 + gx2; the step needs the mean of the two images'
  // gradients, else every step is half the true one. Scaling by powers of two is exact.
  const float gxx = 0.25f * lanes(axx), gxy = 0.25f * lanes(axy), gyy = 0.25f * lanes(ayy),
              ex = 0.5f * lanes(aex), ey = 0.5f * lanes(aey);
  const float det = gxx * gyy - gxy * gxy;
  if (det < parameter_.m_min_determinant) return false;
  *dx = (gyy * ex - gxy * ey) / det;
  *dy = (gxx * ey - gxy * ex) / det;
  return true;
}

float PyramidTracker::Residue(float x2, float y2, int level) {
  // The first-image window of this level is cached by the steps before.
  const int stride = static_cast<int>(second_window_.Stride());
  SampleWindow(second_.intensity[level], x2, y2, w_, h_, second_window_.Plane(0).data, stride);
  float lane[4] = {};
  const int padded = (w_ + 3) & ~3;
  for (int j = 0; j < h_; ++j) {
    const float* i1 = window_.Plane(0).data + static_cast<size_t>(j) * stride;
    const float* i2 = second_window_.Plane(0).data + static_cast<size_t>(j) * stride;
    for (int i = 0; i < padded; i += 4)
      for (int k = 0; k < 4; ++k) lane[k] += std::fabs(i1[i + k] - i2[i + k]);
  }
  const float sum = (lane[0] + lane[1]) + (lane[2] + lane[3]);
  return sum / static_cast<float>(w_ * h_);
}

int PyramidTracker::TrackFeatureAt(float x1, float y1, float* x2, float* y2, int level) {
  int status = kTrackTracked;
  bool converged = false;
  uint32_t i = 0;
  for (;;) {
    if (WindowOutside(x1, y1, level) || WindowOutside(*x2, *y2, level)) {
      status = kTrackOutOfBounds;
      break;
    }
    float dx = 0.0f, dy = 0.0f;
    if (!ComputeStep(x1, y1, *x2, *y2, level, &dx, &dy)) {
      status = kTrackSmallDeterminant;
      break;
    }
    *x2 += dx;
    *y2 += dy;
    ++i;
    converged = std::fabs(dx) < parameter_.m_min_displacement &&
                std::fabs(dy) < parameter_.m_min_displacement;
    if (converged || i >= parameter_.m_max_iterations) break;
  }
  // A step that settles on the last allowed iteration has converged.
  if (status == kTrackTracked && !converged) return kTrackMaxIterations;
  if (WindowOutside(*x2, *y2, level)) return kTrackOutOfBounds;
  if (status != kTrackTracked) return status;
  // The steps above left the first-image window of (x1, y1) at this level cached.
  if (Residue(*x2, *y2, level) > parameter_.m_max_residue) return kTrackLargeResidue;
  return kTrackTracked;
}

int PyramidTracker::TrackFeatureList() {
  Notify(5,
         "FeatureCorrelatorOpticalFlow::Tracker::TrackFeatureList: pid: %d, levels %d, "
         "subsampling %d, features to track %d",
         0, static_cast<int>(levels_), static_cast<int>(subsampling_),
         static_cast<int>(items_.size()));
  tracked_count_ = 0;
  if (levels_ == 0) {
    // No pyramid to track on.
    for (TrackItem& item : items_) {
      item.x = item.y = -1.0f;
      item.status = kTrackOutOfBounds;
    }
    return 0;
  }
  const float sub = static_cast<float>(subsampling_);
  const ArrayMap<float>& base = first_.intensity[0];
  // Items are independent: visiting them top to bottom keeps the pyramid rows of
  // neighbouring features in the cache. Each result goes back to its own item.
  order_.resize(items_.size());
  for (size_t i = 0; i < items_.size(); ++i) order_[i] = static_cast<uint32_t>(i);
  std::stable_sort(order_.begin(), order_.end(),
                   [this](uint32_t a, uint32_t b) { return items_[a].y < items_[b].y; });
  for (const uint32_t index : order_) {
    TrackItem& item = items_[index];
    float x1 = item.x, y1 = item.y;
    for (uint32_t l = 0; l < levels_; ++l) {
      x1 /= sub;
      y1 /= sub;
    }
    float x2 = x1, y2 = y1;
    int status = kTrackTrackable;
    for (int level = static_cast<int>(levels_) - 1; level >= 0; --level) {
      x1 *= sub;
      y1 *= sub;
      x2 *= sub;
      y2 *= sub;
      // Near the border a coarse level measures the motion with the nearest window
      // that fits: the motion field is smooth at that scale.
      float wx1 = x1, wy1 = y1;
      if (level > 0) MoveWindowInside(level, &wx1, &wy1);
      float wx2 = x2 + (wx1 - x1), wy2 = y2 + (wy1 - y1);
      status = TrackFeatureAt(wx1, wy1, &wx2, &wy2, level);
      // A coarse level that still cannot hold the window or has no texture says
      // nothing about the motion: its start estimate goes down to the finer level.
      // Only level 0 decides whether the feature is lost.
      if (level == 0 || (status != kTrackSmallDeterminant && status != kTrackOutOfBounds)) {
        x2 = wx2 - (wx1 - x1);
        y2 = wy2 - (wy1 - y1);
      }
    }
    // trunc(x2) inside [0, width): also false for NaN.
    if (!(x2 > -1.0f && x2 < static_cast<float>(base.width) && y2 > -1.0f &&
          y2 < static_cast<float>(base.height))) {
      status = kTrackOutOfBounds;
      Notify(5,
             "FeatureCorrelatorOpticalFlow::Tracker::TrackFeatureList: feature out of bounds  "
             "(%.2f,%.2f), (%dx%d)",
             static_cast<double>(x2), static_cast<double>(y2), static_cast<int>(base.width),
             static_cast<int>(base.height));
    }
    if (status == kTrackTracked) {
      item.x = x2;
      item.y = y2;
      item.status = kTrackTracked;
      if (item.attribute != nullptr && parameter_.m_consistency_check != 0) {
        const int check = TrackFeatureAffine(item.attribute, &x2, &y2, 0);
        if (check != kTrackTracked) {
          item.x = item.y = -1.0f;
          item.status = static_cast<float>(check);
          item.attribute = nullptr;
          Notify(5,
                 "FeatureCorrelatorOpticalFlow::Tracker::TrackFeatureList: consistency check "
                 "failed, reason: \"%s\"",
                 TrackStatusName(check));
        }
      }
    } else if (status <= kTrackNotFound && status >= kTrackLargeResidue) {
      item.x = item.y = -1.0f;
      item.status = static_cast<float>(status);
    } else {
      Notify(2,
             "FeatureCorrelatorOpticalFlow::Tracker::TrackFeatureList: unknown status of feature "
             "point %d",
             status);
    }
    if (item.status == 0.0f) ++tracked_count_;
  }
  Notify(5,
         "FeatureCorrelatorOpticalFlow::Tracker::TrackFeatureList: pid %d, %d features "
         "successfully tracked",
         0, tracked_count_);
  return tracked_count_;
}

int PyramidTracker::TrackFeatureAffine(AffineFeatureAttribute* attribute, float* x2, float* y2,
                                       int level) {
  return CheckAppearance(attribute->window.GetBand(0), attribute->matrix, x2, y2, level);
}

bool PyramidTracker::BoxOutside(float x, float y, float hw, float hh, int level) const {
  const ArrayMap<float>& pic = first_.intensity[level];
  const float max_x = static_cast<float>(pic.width) - 1.0f;
  const float max_y = static_cast<float>(pic.height) - 1.0f;
  return !(x - hw >= 0.0f && x + hw <= max_x && y - hh >= 0.0f && y + hh <= max_y);
}

namespace {

// The four window corners (-hw, hh), (-hw, -hh), (hw, hh), (hw, -hh) mapped by the
// matrix and moved to (x, y): x, y pairs.
void MapCorners(const double m[4], float x, float y, int hw, int hh, double corners[8]) {
  const int offsets[4][2] = {{-hw, hh}, {-hw, -hh}, {hw, hh}, {hw, -hh}};
  for (int k = 0; k < 4; ++k) {
    corners[2 * k] = m[0] * offsets[k][0] + m[1] * offsets[k][1] + x;
    corners[2 * k + 1] = m[2] * offsets[k][0] + m[3] * offsets[k][1] + y;
  }
}

}  // namespace

int PyramidTracker::CheckAppearance(const ArrayMap<float>& window, double matrix[4], float* x2,
                                    float* y2, int level) {
  const int side = static_cast<int>(std::min(window.width, window.height));
  const int hw = side / 2, hh = side / 2;
  const int mode = parameter_.m_consistency_check;
  const ArrayMap<float>& i2 = second_.intensity[level];
  const ArrayMap<float>& gx2 = second_.gradient_x[level];
  const ArrayMap<float>& gy2 = second_.gradient_y[level];
  const ArrayMap<float>& base = first_.intensity[level];
  const double max_x = static_cast<double>(base.width) - 1.0;
  const double max_y = static_cast<double>(base.height) - 1.0;
  auto p = [&](int i, int j) {
    return window.data[(i + hw) + static_cast<size_t>(j + hh) * window.stride];
  };
  Notify(5, "FeatureCorrelatorOpticalFlow::Tracker::TrackFeatureAffine: hhf %.4f, hwf %.4f\n",
         static_cast<double>(hh), static_cast<double>(hw));
  Notify(5, "affine_consistency_check %ld\n", static_cast<long>(mode));
  int status = kTrackNotFound;
  const float ox = *x2, oy = *y2;
  bool converged = false;
  uint32_t it = 0;
  float dx = 0.0f, dy = 0.0f;
  for (;;) {
    if (mode == 1) {
      if (BoxOutside(*x2, *y2, static_cast<float>(hw), static_cast<float>(hh), level)) {
        status = kTrackOutOfBounds;
        break;
      }
      float gxx = 0.0f, gxy = 0.0f, gyy = 0.0f, ex = 0.0f, ey = 0.0f;
      for (int j = -hh; j <= hh; ++j)
        for (int i = -hw; i <= hw; ++i) {
          const float x = *x2 + static_cast<float>(i), y = *y2 + static_cast<float>(j);
          const float e = p(i, j) - SampleBilinear(i2, x, y);
          const float gx = SampleBilinear(gx2, x, y), gy = SampleBilinear(gy2, x, y);
          gxx += gx * gx;
          gxy += gx * gy;
          gyy += gy * gy;
          ex += e * gx;
          ey += e * gy;
        }
      const float det = gxx * gyy - gxy * gxy;
      if (det == 0.0f) {
        status = kTrackSmallDeterminant;
        break;
      }
      dx = (gyy * ex - gxy * ey) / det;
      dy = (gxx * ey - gxy * ex) / det;
      status = kTrackTracked;
      *x2 += dx;
      *y2 += dy;
      converged = std::fabs(dx) < parameter_.m_min_displacement &&
                  std::fabs(dy) < parameter_.m_min_displacement;
    } else if (mode == 2 || mode == 3) {
      double before[8];
      MapCorners(matrix, *x2, *y2, hw, hh, before);
      bool outside = false;
      for (int k = 0; k < 4; ++k)
        outside = outside || !(before[2 * k] >= 0.0 && before[2 * k] <= max_x &&
                               before[2 * k + 1] >= 0.0 && before[2 * k + 1] <= max_y);
      if (outside) {
        const char* labels[4] = {"ul ", "ll ", "ur ", "lr "};
        for (int k = 0; k < 4; ++k)
          Notify(5, "%s\t%g\t%g\n", labels[k], before[2 * k], before[2 * k + 1]);
        status = kTrackOutOfBounds;
        break;
      }
      const uint32_t n = mode == 2 ? 4 : 6;
      Matrix normal(n, n);
      Vector rhs(n), step(n);
      for (uint32_t r = 0; r < n; ++r) {
        rhs[r] = 0.0;
        for (uint32_t c = 0; c < n; ++c) normal(r, c) = 0.0;
      }
      for (int j = -hh; j <= hh; ++j)
        for (int i = -hw; i <= hw; ++i) {
          const float x = static_cast<float>(matrix[0] * i + matrix[1] * j + *x2);
          const float y = static_cast<float>(matrix[2] * i + matrix[3] * j + *y2);
          const double e = p(i, j) - SampleBilinear(i2, x, y);
          const double gx = SampleBilinear(gx2, x, y), gy = SampleBilinear(gy2, x, y);
          double t[6];
          if (mode == 2) {
            t[0] = i * gx + j * gy;
            t[1] = i * gy - j * gx;
            t[2] = gx;
            t[3] = gy;
          } else {
            t[0] = i * gx;
            t[1] = i * gy;
            t[2] = j * gx;
            t[3] = j * gy;
            t[4] = gx;
            t[5] = gy;
          }
          const double weight = mode == 2 ? 0.5 : 1.0;
          for (uint32_t r = 0; r < n; ++r) {
            rhs[r] += weight * e * t[r];
            for (uint32_t c = r; c < n; ++c) normal(r, c) += t[r] * t[c];
          }
        }
      for (uint32_t r = 0; r < n; ++r)
        for (uint32_t c = 0; c < r; ++c) normal(r, c) = normal(c, r);
      if (!step.Solve(normal, rhs)) {
        dx = dy = 0.0f;
        status = kTrackSmallDeterminant;
        break;
      }
      if (mode == 2) {
        matrix[0] += step[0];
        matrix[1] -= step[1];
        matrix[2] += step[1];
        matrix[3] += step[0];
        dx = static_cast<float>(step[2]);
        dy = static_cast<float>(step[3]);
      } else {
        matrix[0] += step[0];
        matrix[2] += step[1];
        matrix[1] += step[2];
        matrix[3] += step[3];
        dx = static_cast<float>(step[4]);
        dy = static_cast<float>(step[5]);
      }
      *x2 += dx;
      *y2 += dy;
      status = kTrackTracked;
      double after[8];
      MapCorners(matrix, *x2, *y2, hw, hh, after);
      converged = std::fabs(dx) < parameter_.m_min_displacement &&
                  std::fabs(dy) < parameter_.m_min_displacement;
      for (int k = 0; k < 8; ++k)
        converged = converged && std::fabs(after[k] - before[k]) <
                                     static_cast<double>(parameter_.m_affine_min_displacement);
    }
    ++it;
    if (converged || it >= parameter_.m_affine_max_iterations) break;
  }
  Notify(5,
         " FeatureCorrelatorOpticalFlow::Tracker::TrackFeatureAffine: convergence %ld, dx,dy %g, "
         "%g, iterations: %ld\n",
         static_cast<long>(converged), static_cast<double>(dx), static_cast<double>(dy),
         static_cast<long>(it));
  if (it >= parameter_.m_affine_max_iterations) {
    Notify(5,
           "FeatureCorrelatorOpticalFlow::Tracker::TrackFeatureAffine: max. iterations exceeded "
           "%ld\n",
           static_cast<long>(parameter_.m_affine_max_iterations));
    return kTrackMaxIterations;
  }
  if (BoxOutside(*x2, *y2, static_cast<float>(hw), static_cast<float>(hh), level))
    status = kTrackOutOfBounds;
  // Moves toward smaller x or y are limited as well.
  const float limit = parameter_.m_affine_max_displacement_diff;
  if (std::fabs(*x2 - ox) > limit || std::fabs(*y2 - oy) > limit) {
    Notify(5,
           "FeatureCorrelatorOpticalFlow::Tracker::TrackFeatureAffine: new (%g, %g), old (%g, %g)",
           static_cast<double>(*x2), static_cast<double>(*y2), static_cast<double>(ox),
           static_cast<double>(oy));
    status = kTrackLargeDifference;
  }
  Notify(
      5,
      "HHHHHHHHHH FeatureCorrelatorOpticalFlow::Tracker::TrackFeatureAffine: features (%g, %g) - "
      "(%g, %g), difference (%g, %g)\n",
      static_cast<double>(ox), static_cast<double>(oy), static_cast<double>(*x2),
      static_cast<double>(*y2), static_cast<double>(*x2 - ox), static_cast<double>(*y2 - oy));
  if (status == kTrackTracked) {
    float sum = 0.0f;
    for (int j = -hh; j <= hh; ++j)
      for (int i = -hw; i <= hw; ++i) {
        const float x = static_cast<float>(matrix[0] * i + matrix[1] * j + *x2);
        const float y = static_cast<float>(matrix[2] * i + matrix[3] * j + *y2);
        sum += std::fabs(SampleBilinear(i2, x, y) - p(i, j));
      }
    const float residue = sum / static_cast<float>((2 * hw + 1) * (2 * hh + 1));
    Notify(5, " FeatureCorrelatorOpticalFlow::Tracker::TrackFeatureAffine: residue %g (max %g)\n",
           static_cast<double>(residue), static_cast<double>(parameter_.m_affine_max_residue));
    Notify(5,
           "FeatureCorrelatorOpticalFlow::Tracker::TrackFeatureAffine: residue %.2f (max %.2f)\n",
           static_cast<double>(residue), static_cast<double>(parameter_.m_affine_max_residue));
    if (residue > parameter_.m_affine_max_residue) {
      Notify(5,
             "FeatureCorrelatorOpticalFlow::Tracker::TrackFeatureAffine: large residue %.2f > %.2f",
             static_cast<double>(residue), static_cast<double>(parameter_.m_affine_max_residue));
      status = kTrackLargeResidue;
    }
  }
  return status;
}
