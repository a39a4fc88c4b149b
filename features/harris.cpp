#include "features/harris.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "foundation/runtime/notify.h"
#include "platform/console.h"

namespace {

const char* BoolText(bool b) {
  return b ? "true" : "false";
}

// Sets a frame of `width` pixels around band 0 of the picture to zero.
template <typename T>
void ClearFrame(CPicture<T>& p, uint32_t width) {
  const uint32_t w = p.Width(), h = p.Height();
  if (w == 0 || h == 0 || p.Bands() == 0) return;
  const uint32_t fx = std::min(width, w), fy = std::min(width, h);
  for (uint32_t y = 0; y < h; ++y) {
    T* row = p.Data() + static_cast<size_t>(y) * p.RowStride();
    if (y < fy || y >= h - fy) {
      std::fill(row, row + w, T(0));
    } else {
      std::fill(row, row + fx, T(0));
      std::fill(row + w - fx, row + w, T(0));
    }
  }
}

}  // namespace

void Harris::Parameter::Print() const {
  platform::ConsolePrintf(stdout,
                          "Harris::Parameter:\n"
                          "\t corner count max: \t %u\n"
                          "\t gauss sigma: \t\t %f\n"
                          "\t relative minimum: \t %f\n"
                          "\t scale factor: \t\t %f\n"
                          "\t local max window size:  %u\n"
                          "\t adaptive: \t\t \"%s\"\n"
                          "\t adaptive window size: \t %u\n"
                          "\t density_thresh: \t %f\n"
                          "\t corner count low: \t %u\n"
                          "\t derivation gauss: \t \"%s\"\n"
                          "\t derivation gauss sigma: %f\n"
                          "\t border: \t\t%u\n"
                          "\t calculate covariance: %s\n",
                          corner_count_max, static_cast<double>(gauss_sigma),
                          static_cast<double>(relative_minimum), static_cast<double>(scale_factor),
                          local_max_window_size, BoolText(adaptive), adaptive_window_size,
                          static_cast<double>(density_thresh), corner_count_low,
                          BoolText(derivation_gauss), static_cast<double>(derivation_gauss_sigma),
                          border, BoolText(calculate_covariance));
}

bool Harris::Parameter::IsDifferent(const Parameter& o) const {
  return corner_count_max != o.corner_count_max || gauss_sigma != o.gauss_sigma ||
         relative_minimum != o.relative_minimum || scale_factor != o.scale_factor ||
         local_max_window_size != o.local_max_window_size || adaptive != o.adaptive ||
         adaptive_window_size != o.adaptive_window_size || density_thresh != o.density_thresh ||
         corner_count_low != o.corner_count_low || derivation_gauss != o.derivation_gauss ||
         derivation_gauss_sigma != o.derivation_gauss_sigma || border != o.border ||
         calculate_covariance != o.calculate_covariance;
}

Harris::Harris() {
  kernel_.SetSigma(parameter_.gauss_sigma);
}

Harris::Harris(const CPicture<unsigned char>& picture) : MetaDetector(picture) {
  kernel_.SetSigma(parameter_.gauss_sigma);
}

void Harris::SetParameter(const Parameter& parameter) {
  const bool adaptive_changed = parameter.adaptive != parameter_.adaptive;
  const bool border_changed = parameter.border != parameter_.border;
  bool length_changed = false;
  if (parameter.gauss_sigma != parameter_.gauss_sigma) {
    const size_t old_length = kernel_.Size();
    kernel_.SetSigma(parameter.gauss_sigma);
    length_changed = kernel_.Size() != old_length;
  }
  if (parameter_.IsDifferent(parameter)) {
    parameter_.Print();
    recompute_ = true;
  }
  parameter_ = parameter;
  // A wider border leaves gradients of the previous picture in the new frame unless
  // the buffers are cleared again.
  if (adaptive_changed || length_changed || border_changed) InitBuffers();
}

void Harris::OnNewImage() {
  if (luminance_ == nullptr) {
    Notify(2, "Harris::OnNewImage: luminance image not set !");
    return;
  }
  const uint32_t w = luminance_->Width(), h = luminance_->Height();
  Notify(5, "Harris::OnNewImage: luminance size %ux%u", w, h);
  if (w != gx_.Width() || h != gx_.Height()) {
    width_ = w;
    height_ = h;
    Notify(5, "Harris::OnNewImage: resize %u %u", w, h);
    InitBuffers();
  }
}

void Harris::InitBuffers() {
  Notify(5, "Harris::InitBuffers:");
  gx_.Resize(width_, height_, 1);
  gy_.Resize(width_, height_, 1);
  gxx_.Resize(width_, height_, 1);
  gxy_.Resize(width_, height_, 1);
  gyy_.Resize(width_, height_, 1);
  response_.Resize(width_, height_, 1);
  mask_.Resize(width_, height_, 1);
  if (parameter_.adaptive)
    adaptive_mask_.Resize(width_, height_, 1);
  else
    adaptive_mask_.Resize(0, 0, 0);
  // The gradients always leave a frame of at least 2 unwritten; clear at least that.
  const uint32_t m =
      std::max({static_cast<uint32_t>(kernel_.Size() / 2), parameter_.border, uint32_t{2}});
  ClearFrame(gx_, m);
  ClearFrame(gy_, m);
  ClearFrame(gxx_, m);
  ClearFrame(gxy_, m);
  ClearFrame(gyy_, m);
  mask_.FillBand(0, 0);
}

void Harris::ComputeGradients() {
  const int w = static_cast<int>(width_), h = static_cast<int>(height_);
  const int a = static_cast<int>(std::min<uint32_t>(std::max<uint32_t>(parameter_.border, 2),
                                                    static_cast<uint32_t>(INT32_MAX / 2)));
  const ptrdiff_t ls = luminance_->RowStride(), gs = gx_.RowStride();
  const unsigned char* lum = luminance_->Data();
  for (int y = a; y < h - a; ++y) {
    const unsigned char* l = lum + y * ls;
    int32_t* ox = gx_.Data() + y * gs;
    int32_t* oy = gy_.Data() + y * gs;
    for (int x = a; x < w - a; ++x) {
      ox[x] = 2 * (l[x + 2] - l[x - 2]) + l[x + 1] - l[x - 1];
      oy[x] = 2 * (l[x + 2 * ls] - l[x - 2 * ls]) + l[x + ls] - l[x - ls];
    }
  }
}

void Harris::ComputeProducts() {
  const int w = static_cast<int>(width_), h = static_cast<int>(height_);
  const ptrdiff_t gs = gx_.RowStride(), fs = gxx_.RowStride();
  const int32_t* gx = gx_.Data();
  const int32_t* gy = gy_.Data();
  if (parameter_.derivation_gauss) {
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const int32_t dx = gx[y * gs + x], dy = gy[y * gs + x];
        gxx_.Data()[y * fs + x] = static_cast<float>(dx * dx);
        gxy_.Data()[y * fs + x] = static_cast<float>(dx * dy);
        gyy_.Data()[y * fs + x] = static_cast<float>(dy * dy);
      }
    }
    return;
  }
  // The derivative taps along one axis and a box of 5 along the other.
  for (int y = 2; y < h - 2; ++y) {
    for (int x = 2; x < w - 2; ++x) {
      const int32_t* cx = gx + y * gs + x;
      const int32_t* ry = gy + y * gs + x;
      const int32_t sx = cx[-2 * gs] + cx[-gs] + cx[0] + cx[gs] + cx[2 * gs];
      const int32_t sy = ry[-2] + ry[-1] + ry[0] + ry[1] + ry[2];
      const float fx = static_cast<float>(sx), fy = static_cast<float>(sy);
      gxx_.Data()[y * fs + x] = fx * fx;
      gxy_.Data()[y * fs + x] = fx * fy;
      gyy_.Data()[y * fs + x] = fy * fy;
    }
  }
}

void Harris::ComputeResponse() {
  const float k = parameter_.scale_factor;
  const size_t fs = gxx_.RowStride();
  float maximum = 0.0f;
  for (uint32_t y = 0; y < height_; ++y) {
    const float* a = gxx_.Data() + y * fs;
    const float* b = gxy_.Data() + y * fs;
    const float* c = gyy_.Data() + y * fs;
    float* r = response_.Data() + y * fs;
    for (uint32_t x = 0; x < width_; ++x) {
      const float trace = a[x] + c[x];
      const float v = a[x] * c[x] - b[x] * b[x] - k * (trace * trace);
      r[x] = v;
      if (v > maximum) maximum = v;
    }
  }
  maximum_response_ = maximum;
}

uint32_t Harris::CountLocalMaxima(float threshold) {
  const int w = static_cast<int>(width_), h = static_cast<int>(height_);
  const uint32_t size = parameter_.local_max_window_size;
  const int half = size == 0 ? 0 : static_cast<int>(std::min<uint32_t>((size - 1) / 2, 1u << 20));
  // Pixels the scan does not reach must not keep marks of an earlier scan.
  ClearFrame(mask_, static_cast<uint32_t>(half));
  const size_t rs = response_.RowStride(), ms = mask_.RowStride();
  const float* resp = response_.Data();
  uint32_t count = 0;
  for (int y = half; y < h - half; ++y) {
    unsigned char* mrow = mask_.Data() + y * ms;
    for (int x = half; x < w - half; ++x) {
      const float v = resp[y * rs + x];
      bool is_max = v > threshold;
      for (int j = -half; is_max && j <= half; ++j) {
        const float* row = resp + (y + j) * rs;
        for (int i = -half; i <= half; ++i) {
          if (row[x + i] > v) {
            is_max = false;
            break;
          }
        }
      }
      mrow[x] = is_max ? 1 : 0;
      if (is_max) ++count;
    }
  }
  return count;
}

float Harris::ComputeHistogramThreshold(float /*threshold*/, float maximum_response) {
  const double m = std::pow(static_cast<double>(maximum_response), 0.25);
  uint32_t bins[200] = {};
  const int w = static_cast<int>(width_), h = static_cast<int>(height_);
  const size_t rs = response_.RowStride(), ms = mask_.RowStride();
  for (int y = 2; y < h - 2; ++y) {
    for (int x = 2; x < w - 2; ++x) {
      if (mask_.Data()[y * ms + x] == 0) continue;
      const float r = response_.Data()[y * rs + x];
      double v = r > 0.0f && m > 0.0 ? std::pow(static_cast<double>(r), 0.25) / m * 199.0 : 0.0;
      v = std::clamp(v, 0.0, 199.0);
      ++bins[static_cast<int>(v)];
    }
  }
  const uint64_t n = parameter_.corner_count_max;
  int i = 199;
  uint64_t sum = 0;
  while (sum < n && i > 0) {
    sum += bins[i];
    --i;
  }
  return static_cast<float>(std::pow((i + 2) / 199.0 * m, 4.0));
}

float Harris::AdjustThreshold(float threshold) {
  const uint32_t target = parameter_.corner_count_max;
  uint32_t n = CountLocalMaxima(threshold);
  for (int i = 0; i < 10 && static_cast<double>(n) < 0.9 * target; ++i) {
    parameter_.relative_minimum *= 0.5f;
    threshold = maximum_response_ * parameter_.relative_minimum;
    n = CountLocalMaxima(threshold);
  }
  if (n > target) {
    threshold = ComputeHistogramThreshold(threshold, maximum_response_);
    parameter_.relative_minimum = threshold / maximum_response_;
  }
  return threshold;
}

void Harris::ComputeAdaptive() {
  Notify(5, "Harris::ComputeAdaptive: ...");
  const float t = maximum_response_ * parameter_.relative_minimum;
  const uint32_t n = CountLocalMaxima(t);
  Notify(5, "Harris::ComputeAdaptive: %d corners with response above %e", static_cast<int>(n),
         static_cast<double>(t));

  const int64_t tile = std::max<uint32_t>(parameter_.adaptive_window_size, 1);
  const int64_t w = width_, h = height_;
  const int64_t across = w > 1 ? (w - 1 + tile - 1) / tile : 0;
  const int64_t down = h > 1 ? (h - 1 + tile - 1) / tile : 0;
  const int64_t tiles = across * down;
  const int64_t per_tile = parameter_.corner_count_max == 0 ? parameter_.corner_count_low
                           : tiles > 0                      ? parameter_.corner_count_max / tiles
                                                            : 0;
  Notify(5, "Harris::ComputeAdaptive: Tiles %d x %d, no. per tile %d", static_cast<int>(across),
         static_cast<int>(down), static_cast<int>(per_tile));

  adaptive_mask_.Resize(width_, height_, 1);
  adaptive_mask_.FillBand(0, 0);
  const size_t rs = response_.RowStride(), ms = mask_.RowStride();
  std::vector<float> values;
  for (int pass = 0; pass < 2; ++pass) {
    Notify(5, "Harris::ComputeAdaptive: pass %d", pass);
    const int64_t offset = pass == 0 ? 0 : tile / 2;
    for (int64_t j = 0; j < down; ++j) {
      const int64_t y0 = offset + j * tile;
      const int64_t y1 = std::min(y0 + tile, h - 1);
      for (int64_t i = 0; i < across; ++i) {
        const int64_t x0 = offset + i * tile;
        const int64_t x1 = std::min(x0 + tile, w - 1);
        if (x1 <= x0 || y1 <= y0) continue;
        values.clear();
        for (int64_t y = y0; y < y1; ++y)
          for (int64_t x = x0; x < x1; ++x)
            if (mask_.Data()[y * ms + x] != 0) values.push_back(response_.Data()[y * rs + x]);
        const double share = static_cast<double>((x1 - x0) * (y1 - y0)) /
                             (static_cast<double>(tile) * static_cast<double>(tile));
        const int64_t quota = static_cast<int64_t>(share * static_cast<double>(per_tile));
        const int64_t c = static_cast<int64_t>(values.size());
        float bound = 0.0f;
        if (c > quota) {
          std::sort(values.begin(), values.end());
          bound = values[c - quota - 1];
        }
        for (int64_t y = y0; y < y1; ++y)
          for (int64_t x = x0; x < x1; ++x)
            if (mask_.Data()[y * ms + x] != 0 && response_.Data()[y * rs + x] >= bound)
              adaptive_mask_.Data()[y * ms + x] = 1;
      }
    }
  }
  mask_.CopyFrom(adaptive_mask_);
}

bool Harris::ComputeSubPixelMax(uint32_t column, uint32_t row, double* x, double* y) const {
  if (x == nullptr || y == nullptr) {
    Notify(1, "Harris::ComputeSubPixelMax: output parameter == NULL");
    std::abort();
  }
  // The fit needs all eight neighbours.
  if (column < 1 || row < 1 || column + 1 >= width_ || row + 1 >= height_) return false;
  const size_t rs = response_.RowStride();
  const float* base = response_.Data() + row * rs + column;
  double r[3][3];  // r[j + 1][i + 1] = R(column + i, row + j)
  for (int j = -1; j <= 1; ++j)
    for (int i = -1; i <= 1; ++i) r[j + 1][i + 1] = base[j * static_cast<ptrdiff_t>(rs) + i];
  double row_sum[3], column_sum[3];
  for (int k = 0; k < 3; ++k) {
    row_sum[k] = r[k][0] + r[k][1] + r[k][2];
    column_sum[k] = r[0][k] + r[1][k] + r[2][k];
  }
  const double ryy = (row_sum[0] - 2.0 * row_sum[1] + row_sum[2]) / 3.0;
  const double rxx = (column_sum[0] - 2.0 * column_sum[1] + column_sum[2]) / 3.0;
  const double rxy = (r[0][0] - r[0][2] - r[2][0] + r[2][2]) / 4.0;
  const double rx = (column_sum[2] - column_sum[0]) / 6.0;
  const double ry = (row_sum[2] - row_sum[0]) / 6.0;
  const double d = rxx * ryy - rxy * rxy;
  if (!(d > 0.0)) return false;
  const double dx = (rxy * ry - ryy * rx) / d;
  if (std::fabs(dx) > 1.0) return false;
  const double dy = (rxy * rx - rxx * ry) / d;
  if (std::fabs(dy) > 1.0) return false;
  *x = column + dx;
  *y = row + dy;
  return true;
}

Matrix2x2 Harris::ComputeCovariance(double x, double y) const {
  Matrix2x2 c;
  c.m[0] = 1.0;
  c.m[1] = 0.0;
  c.m[2] = 0.0;
  c.m[3] = 1.0;
  const float fx = static_cast<float>(x) + 0.5f, fy = static_cast<float>(y) + 0.5f;
  if (!(fx >= 0.0f && fy >= 0.0f)) return c;
  const uint32_t px = static_cast<uint32_t>(fx), py = static_cast<uint32_t>(fy);
  if (px >= width_ || py >= height_) return c;
  const size_t i = static_cast<size_t>(py) * gxx_.RowStride() + px;
  const double a = gxx_.Data()[i], b = gxy_.Data()[i], cc = gyy_.Data()[i];
  const double d = a * cc - b * b;
  if (d == 0.0) return c;
  c.m[0] = cc / d;
  c.m[1] = -b / d;
  c.m[2] = -b / d;
  c.m[3] = a / d;
  return c;
}

uint32_t Harris::Compute() {
  if (luminance_ == nullptr) {
    Notify(2, "Harris::Compute: luminance image not set !");
    return 0;
  }
  features_.clear();
  if (luminance_->Width() != width_ || luminance_->Height() != height_ || gx_.Width() != width_ ||
      gx_.Height() != height_) {
    Notify(2, "Harris::Compute: buffers %ux%u do not fit the luminance image %ux%u", gx_.Width(),
           gx_.Height(), luminance_->Width(), luminance_->Height());
    return 0;
  }

  ComputeGradients();
  ComputeProducts();
  filter_.Convolve(gxx_, kernel_, kernel_, gxx_);
  filter_.Convolve(gxy_, kernel_, kernel_, gxy_);
  filter_.Convolve(gyy_, kernel_, kernel_, gyy_);
  ComputeResponse();

  float threshold = 0.0f;
  if (parameter_.adaptive) {
    ComputeAdaptive();
  } else {
    threshold = AdjustThreshold(parameter_.relative_minimum * maximum_response_);
  }

  const size_t rs = response_.RowStride(), ms = mask_.RowStride();
  for (uint32_t y = 0; y < height_; ++y) {
    for (uint32_t x = 0; x < width_; ++x) {
      if (mask_.Data()[y * ms + x] == 0 || !(response_.Data()[y * rs + x] > threshold)) continue;
      double fx, fy;
      if (!ComputeSubPixelMax(x, y, &fx, &fy)) continue;
      SharedPtr<FeaturePoint2D> feature = SharedPtr<FeaturePoint2D>::Make(nullptr, fx, fy);
      if (parameter_.calculate_covariance) {
        const Matrix2x2 c = ComputeCovariance(fx, fy);
        feature->SetCoVariance(static_cast<float>(c.m[0]), static_cast<float>(c.m[1]),
                               static_cast<float>(c.m[3]));
      }
      features_.push_back(feature);
    }
  }
  const uint32_t count = static_cast<uint32_t>(features_.size());
  Notify(5, "Harris::Compute: Found %u corners", count);
  return count;
}
