#include "features/region_filter.h"

#include <algorithm>
#include <cstdint>

#include "foundation/runtime/notify.h"

namespace {

int AddressAsInt(const void* p) {
  return static_cast<int>(reinterpret_cast<intptr_t>(p));
}

// out(x) = Σ c[K−1−i]·in(x − r + i) for x in [first, last] of one row. The sum starts
// with the tap of in(x − r) in every variant, so the unrolled lengths (kTaps > 0) give
// bit for bit the result of the general loop (kTaps == 0, taps given at run time).
template <int kTaps>
void ConvolveRow(const float* in, float* out, const float* c, int taps, int first, int last) {
  const int k = kTaps > 0 ? kTaps : taps;
  const int r = k / 2;
  for (int x = first; x <= last; ++x) {
    const float* p = in + x - r;
    float s = c[k - 1] * p[0];
    for (int i = 1; i < k; ++i) s += c[k - 1 - i] * p[i];
    out[x] = s;
  }
}

// out(x) = Σ c[K−1−i]·rows[i](x) for x in [first, last]; rows[i] is the input row
// y − r + i. Accumulates tap by tap over the row, which keeps each element's order of
// summation that of the general formula.
template <int kTaps>
void ConvolveColumnRow(const float* const* rows, float* out, const float* c, int taps, int first,
                       int last) {
  const int k = kTaps > 0 ? kTaps : taps;
  {
    const float* p = rows[0];
    const float tap = c[k - 1];
    for (int x = first; x <= last; ++x) out[x] = tap * p[x];
  }
  for (int i = 1; i < k; ++i) {
    const float* p = rows[i];
    const float tap = c[k - 1 - i];
    for (int x = first; x <= last; ++x) out[x] += tap * p[x];
  }
}

}  // namespace

void ImageROI::CalcClippedRegion(uint32_t width, uint32_t height, uint32_t& x1_out,
                                 uint32_t& x2_out, uint32_t& y1_out, uint32_t& y2_out) const {
  const int64_t w = width, h = height;
  int64_t cx1 = 0, cx2 = w - 1, cy1 = 0, cy2 = h - 1;
  if (enabled) {
    const int64_t rx2 = static_cast<int64_t>(x1) + sx;
    const int64_t ry2 = static_cast<int64_t>(y1) + sy;
    if (x1 >= 0 && x1 < w) cx1 = x1;
    if (y1 >= 0 && y1 < h) cy1 = y1;
    if (rx2 >= 0 && rx2 < w) cx2 = rx2;
    if (ry2 >= 0 && ry2 < h) cy2 = ry2;
    if (cx2 < cx1 || cy2 < cy1) {
      cx1 = 0;
      cx2 = w - 1;
      cy1 = 0;
      cy2 = h - 1;
      Notify(2,
             "ImageROI::CalcClippedRegion: bad region: x1,y1: %d,%d, sx,sy: %d,%d, correct values "
             "to the whole image: x1,x2: %d,%d, y1,y2: %d,%d",
             x1, y1, sx, sy, 0, static_cast<int>(cx2), 0, static_cast<int>(cy2));
    }
  }
  x1_out = static_cast<uint32_t>(cx1);
  x2_out = static_cast<uint32_t>(cx2);
  y1_out = static_cast<uint32_t>(cy1);
  y2_out = static_cast<uint32_t>(cy2);
}

bool ImageROI::IsDifferent(const ImageROI& other) const {
  return x1 != other.x1 || y1 != other.y1 || sx != other.sx || sy != other.sy ||
         enabled != other.enabled;
}

bool ImageFilter<float>::RegionFilter::Check() const {
  if (input == nullptr || output == nullptr || kernel == nullptr || taps == 0) {
    Notify(2, "RegionFilter::Check: images and/or kernel null pointer");
    return false;
  }
  if (input == output) {
    Notify(2, "RegionFilter::Check: input and output image are the same (%d,%d)",
           AddressAsInt(input), AddressAsInt(output));
    return false;
  }
  if (!input->HasSameSize(*output)) {
    Notify(2,
           "RegionFilter::Check: input and output images have different sizes "
           "(%dx%dx%d),(%dx%dx%d)",
           static_cast<int>(input->Width()), static_cast<int>(input->Height()),
           static_cast<int>(input->Bands()), static_cast<int>(output->Width()),
           static_cast<int>(output->Height()), static_cast<int>(output->Bands()));
    return false;
  }
  return true;
}

void ImageFilter<float>::HorizFilter::Work() {
  if (!Check()) {
    Notify(2, "HorizFilter::Work: Check failed");
    return;
  }
  const int k = static_cast<int>(taps);
  const int r = k / 2;
  const int width = static_cast<int>(input->Width());
  const int first = std::max(x1, r);
  const int last = std::min(x2, width - r - 1);
  const size_t stride = input->RowStride();
  for (int y = std::max(y1, 0); y <= y2 && y < static_cast<int>(input->Height()); ++y) {
    const float* in = input->Data() + y * stride;
    float* out = output->Data() + y * stride;
    if (k == 1) {
      for (int x = first; x <= last; ++x) out[x] = in[x];
      continue;
    }
    switch (k) {
      case 3:
        ConvolveRow<3>(in, out, kernel, k, first, last);
        break;
      case 5:
        ConvolveRow<5>(in, out, kernel, k, first, last);
        break;
      case 7:
        ConvolveRow<7>(in, out, kernel, k, first, last);
        break;
      default:
        ConvolveRow<0>(in, out, kernel, k, first, last);
        break;
    }
  }
}

void ImageFilter<float>::VertiFilter::Work() {
  if (!Check()) {
    Notify(2, "VertiFilter::Work: Check failed");
    return;
  }
  const int k = static_cast<int>(taps);
  const int r = k / 2;
  const int width = static_cast<int>(input->Width());
  const int height = static_cast<int>(input->Height());
  const int first = std::max(x1, 0);
  const int last = std::min(x2, width - 1);
  const size_t stride = input->RowStride();
  std::vector<const float*> rows(static_cast<size_t>(k));
  for (int y = std::max(y1, r); y <= std::min(y2, height - r - 1); ++y) {
    float* out = output->Data() + y * stride;
    if (k == 1) {
      const float* in = input->Data() + y * stride;
      for (int x = first; x <= last; ++x) out[x] = in[x];
      continue;
    }
    for (int i = 0; i < k; ++i) rows[i] = input->Data() + (y - r + i) * stride;
    switch (k) {
      case 3:
        ConvolveColumnRow<3>(rows.data(), out, kernel, k, first, last);
        break;
      case 5:
        ConvolveColumnRow<5>(rows.data(), out, kernel, k, first, last);
        break;
      case 7:
        ConvolveColumnRow<7>(rows.data(), out, kernel, k, first, last);
        break;
      default:
        ConvolveColumnRow<0>(rows.data(), out, kernel, k, first, last);
        break;
    }
  }
}

ImageFilter<float>::ImageFilter() {
  SetNumberOfJobs(1);
}

void ImageFilter<float>::SetNumberOfJobs(uint32_t n) {
  if (n == 0) n = 1;
  horiz_.clear();
  verti_.clear();
  for (uint32_t i = 0; i < n; ++i) {
    horiz_.push_back(std::make_unique<HorizFilter>());
    verti_.push_back(std::make_unique<VertiFilter>());
  }
  last_width_ = 0;
  last_height_ = 0;
}

void ImageFilter<float>::SetupRegions() {
  const uint32_t w = intermediate_.Width(), h = intermediate_.Height();
  if (w == 0 || h == 0) {
    Notify(2, "ImageFilter::SetupRegions: bad image size (%dx%d)", static_cast<int>(w),
           static_cast<int>(h));
    return;
  }
  bool changed = false;
  if (w != last_width_ || h != last_height_) {
    last_width_ = w;
    last_height_ = h;
    changed = true;
  }
  if (roi_.enabled && roi_.IsDifferent(last_roi_)) {
    last_roi_ = roi_;
    changed = true;
  }
  if (!changed) return;
  uint32_t x1, x2, y1, y2;
  roi_.CalcClippedRegion(w, h, x1, x2, y1, y2);
  Notify(10, "ImageFilter::SetupRegions: ROI enabled %s, x1,y1: %d,%d x2,y2: %d,%d",
         roi_.enabled ? "true" : "false", static_cast<int>(x1), static_cast<int>(y1),
         static_cast<int>(x2), static_cast<int>(y2));

  const int32_t n_h = static_cast<int32_t>(horiz_.size());
  const int32_t rows_each = static_cast<int32_t>(y2 - y1 + 1) / n_h;
  for (int32_t i = 0; i < n_h; ++i) {
    HorizFilter& job = *horiz_[i];
    job.x1 = static_cast<int32_t>(x1);
    job.x2 = static_cast<int32_t>(x2);
    job.y1 = static_cast<int32_t>(y1) + i * rows_each;
    job.y2 = i == n_h - 1 ? static_cast<int32_t>(y2) : job.y1 + rows_each - 1;
  }
  const int32_t n_v = static_cast<int32_t>(verti_.size());
  const int32_t columns_each = static_cast<int32_t>(x2 - x1 + 1) / n_v;
  for (int32_t i = 0; i < n_v; ++i) {
    VertiFilter& job = *verti_[i];
    job.y1 = static_cast<int32_t>(y1);
    job.y2 = static_cast<int32_t>(y2);
    job.x1 = static_cast<int32_t>(x1) + i * columns_each;
    job.x2 = i == n_v - 1 ? static_cast<int32_t>(x2) : job.x1 + columns_each - 1;
  }
}

void ImageFilter<float>::Convolve(const CPicture<float>& input, const FilterKernel& row_kernel,
                                  const FilterKernel& column_kernel, CPicture<float>& output) {
  const bool in_place = &input == &output;
  intermediate_.Resize(input.Width(), input.Height(), input.Bands());
  SetupRegions();
  if (!in_place && !output.HasSameSize(input)) {
    // A fresh output gets defined values in the frame the passes leave alone.
    output.Resize(input.Width(), input.Height(), input.Bands());
    for (uint32_t b = 0; b < output.Bands(); ++b) output.FillBand(b, 0.0f);
  }

  const uint32_t kh = static_cast<uint32_t>(row_kernel.Size());
  const uint32_t kv = static_cast<uint32_t>(column_kernel.Size());
  if (input.Width() < kh || input.Height() < kv) {
    if (in_place) {
      Notify(3,
             "ImageFilter::Convolve: filter kernel > image size (%dx%d > %dx%d), leaving the "
             "images as they are (input and output are the same).",
             static_cast<int>(kh), static_cast<int>(kv), static_cast<int>(input.Width()),
             static_cast<int>(input.Height()));
    } else {
      Notify(3,
             "ImageFilter::Convolve: filter kernel > image size (%dx%d > %dx%d), copying the "
             "image.",
             static_cast<int>(kh), static_cast<int>(kv), static_cast<int>(input.Width()),
             static_cast<int>(input.Height()));
      output.CopyFrom(input);
    }
    return;
  }
  if (input.Bands() == 0) return;  // no plane to filter

  // The row pass leaves the intermediate's edge columns alone, and the column pass
  // reads them: give them a defined value.
  const uint32_t rh = std::min(kh / 2, intermediate_.Width());
  if (rh > 0) {
    for (uint32_t b = 0; b < intermediate_.Bands(); ++b) {
      float* base = intermediate_.Data() + static_cast<size_t>(b) * intermediate_.BandStride();
      for (uint32_t y = 0; y < intermediate_.Height(); ++y) {
        float* row = base + static_cast<size_t>(y) * intermediate_.RowStride();
        std::fill(row, row + rh, 0.0f);
        std::fill(row + intermediate_.Width() - rh, row + intermediate_.Width(), 0.0f);
      }
    }
  }

  for (auto& job : horiz_) {
    job->input = &input;
    job->kernel = row_kernel.Data();
    job->taps = kh;
    job->output = &intermediate_;
    job->Run();
  }
  for (auto& job : verti_) {
    job->input = &intermediate_;
    job->kernel = column_kernel.Data();
    job->taps = kv;
    job->output = &output;
    job->Run();
  }
}
