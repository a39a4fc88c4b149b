#include "image/image_scaler.h"

#include <algorithm>
#include <cstring>

#include "foundation/numeric/aligned_buffer.h"

namespace {

struct HPhase {
  int first;  // offset of the first tap from p
  int count;
  int w[6];
};

struct VPhase {
  int first;  // first ring row used (0 = oldest)
  int count;
  int w[6];
  int shift;  // the weights sum to 1 << shift
};

struct KernelTable {
  int in, out, n;
  int pa, pb, pc;  // p(i) = (pa i + pb) / pc
  int phases;
  HPhase h[3];
  int first_rule;  // 0 clamped taps, 1 256 x pixel 0, 2 128 x (pixel 0 + pixel 1)
};

constexpr KernelTable kTables[7] = {
    // H11l
    {1, 1, 3, 1, 0, 1, 1, {{-1, 3, {64, 128, 64}}}, 1},
    // H21
    {2, 1, 4, 2, 0, 1, 1, {{-1, 4, {32, 96, 96, 32}}}, 2},
    // H21l
    {2, 1, 6, 2, 0, 1, 1, {{-2, 6, {10, 42, 76, 76, 42, 10}}}, 0},
    // H32
    {3, 2, 4, 3, 0, 2, 2, {{-1, 4, {42, 118, 86, 10}}, {-1, 4, {10, 86, 118, 42}}}, 0},
    // H32l
    {3, 2, 5, 3, 1, 2, 2, {{-2, 5, {6, 50, 98, 78, 24}}, {-2, 5, {24, 78, 98, 50, 6}}}, 0},
    // H43
    {4,
     3,
     4,
     4,
     1,
     3,
     3,
     {{-1, 3, {32, 152, 72}}, {-1, 4, {8, 120, 120, 8}}, {-1, 3, {72, 152, 32}}},
     0},
    // H43l
    {4,
     3,
     5,
     4,
     2,
     3,
     3,
     {{-2, 5, {4, 52, 108, 76, 16}}, {-2, 4, {32, 96, 96, 32}}, {-2, 5, {16, 76, 108, 52, 4}}},
     0},
};

// The vertical phase for readiness r.
VPhase VerticalPhase(ScalerKernel k, int r) {
  switch (k) {
    case ScalerKernel::kH11l:
      return {0, 3, {1, 2, 1}, 2};
    case ScalerKernel::kH21:
      return {0, 4, {1, 3, 3, 1}, 3};
    case ScalerKernel::kH21l:
      return {0, 6, {5, 21, 38, 38, 21, 5}, 7};
    case ScalerKernel::kH32:
      return r > 0 ? VPhase{0, 4, {42, 118, 86, 10}, 8} : VPhase{0, 4, {10, 86, 118, 42}, 8};
    case ScalerKernel::kH32l:
      return r > 0 ? VPhase{0, 5, {24, 78, 98, 50, 6}, 8} : VPhase{0, 5, {6, 50, 98, 78, 24}, 8};
    case ScalerKernel::kH43:
      if (r == 1) return {0, 3, {4, 19, 9}, 5};
      if (r >= 2) return {0, 3, {9, 19, 4}, 5};
      return {0, 4, {1, 15, 15, 1}, 5};
    case ScalerKernel::kH43l:
      if (r == 1) return {0, 5, {4, 19, 27, 13, 1}, 6};
      if (r >= 2) return {0, 4, {1, 3, 3, 1}, 3};
      return {0, 5, {1, 13, 27, 19, 4}, 6};
  }
  return {0, 1, {1}, 0};
}

}  // namespace

// ---------------------------------------------------------------------------------------------

ImageScaler::ImageScaler(int in, int out, int n, int source_bits, int target_bits)
    : n_(n), in_(in), out_(out), source_bits_(source_bits), target_bits_(target_bits) {}

ImageScaler::~ImageScaler() {
  FreeRing();
}

void ImageScaler::FreeRing() {
  AlignedRelease(block_);
  block_ = nullptr;
  ring_.clear();
}

void ImageScaler::SetInputSize(int32_t width, int32_t height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  source_width_ = width;
  source_height_ = height;
  const int32_t tw = static_cast<int32_t>(int64_t(width) * out_ / in_);
  const int32_t th = static_cast<int32_t>(int64_t(height) * out_ / in_);
  if (tw != target_width_ || th != target_height_) FreeRing();
  target_width_ = tw;
  target_height_ = th;
}

void ImageScaler::AddRow(const void* row) {
  if (ring_.empty()) {
    const int64_t bytes = (int64_t(target_width_) * 2 * lanes() + 15) / 16 * 16;
    row_bytes_ = static_cast<int32_t>(std::max<int64_t>(bytes, 16));
    block_ = AlignedAllocate(size_t(row_bytes_) * (n_ + 1));  // throws on failure
    ring_.resize(n_ + 1);
    for (int k = 0; k <= n_; ++k) {
      ring_[k] = reinterpret_cast<uint16_t*>(static_cast<char*>(block_) + size_t(k) * row_bytes_);
    }
  }
  std::rotate(ring_.begin(), ring_.begin() + 1, ring_.begin() + n_);
  uint16_t* newest = ring_[n_ - 1];
  if (row) {
    HorizontalFilter(newest, row);
  } else {
    std::memcpy(newest, ring_[n_ - 2], row_bytes_);
  }
  if (pushed_ == 0) {
    for (int k = n_ / 2; k <= n_ - 2; ++k) std::memcpy(ring_[k], newest, row_bytes_);
  }
  ++pushed_;
}

int ImageScaler::Readiness() const {
  return out_ * pushed_ - in_ * emitted_ - ((out_ * (n_ + 1) + 1) >> 1);
}

int ImageScaler::GetRowsReady() const {
  const int r = Readiness();
  if (r < 0) return 0;
  if (r < in_) return 1;
  return r / in_;
}

void ImageScaler::EmitRow(void* target, int32_t count) {
  const int r = Readiness();
  VerticalFilter(target, std::min(count, target_width_), r);
  ++emitted_;
}

// ---------------------------------------------------------------------------------------------

template <ScalerKernel K, int kSourceBits, int kTargetBits>
class ImageScalerOf final : public ImageScaler {
  static constexpr const KernelTable& kT = kTables[static_cast<int>(K)];
  static constexpr int kLanes = kSourceBits == 32 ? 4 : 1;

 public:
  ImageScalerOf() : ImageScaler(kT.in, kT.out, kT.n, kSourceBits, kTargetBits) {}

 protected:
  void HorizontalFilter(uint16_t* out, const void* source_row) override {
    const uint8_t* src = static_cast<const uint8_t*>(source_row);
    const int32_t sw = source_width_;
    const int32_t tw = target_width_;
    for (int32_t i = 0; i < tw; ++i) {
      const int32_t p = (kT.pa * i + kT.pb) / kT.pc;
      const HPhase& ph = kT.h[kT.phases == 1 ? 0 : i % kT.phases];
      uint16_t* o = out + size_t(i) * kLanes;
      if (i == 0 && kT.first_rule != 0) {
        const int32_t second = std::min(1, sw - 1);
        for (int l = 0; l < kLanes; ++l) {
          o[l] = kT.first_rule == 1 ? uint16_t(256 * src[l])
                                    : uint16_t(128 * (src[l] + src[size_t(second) * kLanes + l]));
        }
        continue;
      }
      const int32_t start = p + ph.first;
      if (start >= 0 && start + ph.count <= sw) {
        const uint8_t* s = src + size_t(start) * kLanes;
        for (int l = 0; l < kLanes; ++l) {
          int sum = 0;
          for (int k = 0; k < ph.count; ++k) sum += ph.w[k] * s[k * kLanes + l];
          o[l] = uint16_t(sum);
        }
      } else {
        for (int l = 0; l < kLanes; ++l) {
          int sum = 0;
          for (int k = 0; k < ph.count; ++k) {
            const int32_t x = std::clamp(start + k, 0, sw - 1);
            sum += ph.w[k] * src[size_t(x) * kLanes + l];
          }
          o[l] = uint16_t(sum);
        }
      }
    }
  }

  void VerticalFilter(void* target, int32_t count, int r) override {
    const VPhase v = VerticalPhase(K, r);
    const uint16_t* rows[6];
    for (int k = 0; k < v.count; ++k) rows[k] = ring_[v.first + k];
    const int32_t values = count * kLanes;
    if constexpr (kTargetBits == 16) {
      uint16_t* out = static_cast<uint16_t*>(target);
      for (int32_t x = 0; x < values; ++x) out[x] = uint16_t(Sum(rows, v, x) >> v.shift);
    } else {
      // 8-bit and 32-bit targets: the high byte of each 8.8 value (lane), in memory order.
      uint8_t* out = static_cast<uint8_t*>(target);
      for (int32_t x = 0; x < values; ++x) out[x] = uint8_t((Sum(rows, v, x) >> v.shift) >> 8);
    }
  }

 private:
  static uint32_t Sum(const uint16_t* const* rows, const VPhase& v, int32_t x) {
    uint32_t s = 0;
    for (int k = 0; k < v.count; ++k) s += uint32_t(v.w[k]) * rows[k][x];
    return s;
  }
};

// ---------------------------------------------------------------------------------------------

namespace {

template <int S, int T>
ImageScalerPtr MakeScaler(ScalerKernel k) {
  switch (k) {
    case ScalerKernel::kH11l:
      return ImageScalerPtr(SharedPtr<ImageScalerOf<ScalerKernel::kH11l, S, T>>::Make());
    case ScalerKernel::kH21:
      return ImageScalerPtr(SharedPtr<ImageScalerOf<ScalerKernel::kH21, S, T>>::Make());
    case ScalerKernel::kH21l:
      return ImageScalerPtr(SharedPtr<ImageScalerOf<ScalerKernel::kH21l, S, T>>::Make());
    case ScalerKernel::kH32:
      return ImageScalerPtr(SharedPtr<ImageScalerOf<ScalerKernel::kH32, S, T>>::Make());
    case ScalerKernel::kH32l:
      return ImageScalerPtr(SharedPtr<ImageScalerOf<ScalerKernel::kH32l, S, T>>::Make());
    case ScalerKernel::kH43:
      return ImageScalerPtr(SharedPtr<ImageScalerOf<ScalerKernel::kH43, S, T>>::Make());
    case ScalerKernel::kH43l:
      return ImageScalerPtr(SharedPtr<ImageScalerOf<ScalerKernel::kH43l, S, T>>::Make());
  }
  return ImageScalerPtr();
}

template <class TargetT, class SourceT>
void ScaleRows(ImageScaler* scaler, const ArrayMap<TargetT>& target,
               const ArrayMap<SourceT>& source) {
  if (!scaler || source.width == 0 || source.height == 0 || !source.data || !target.data) return;
  scaler->SetInputSize(int32_t(std::min<uint32_t>(source.width, INT32_MAX)),
                       int32_t(std::min<uint32_t>(source.height, INT32_MAX)));
  if (scaler->target_width() == 0) return;
  scaler->Restart();
  const int32_t rows = int32_t(std::min<uint32_t>(target.height, INT32_MAX));
  const int32_t width = int32_t(std::min<uint32_t>(target.width, INT32_MAX));
  while (scaler->emitted() < rows) {
    const int32_t y = scaler->pushed();
    scaler->AddRow(y < scaler->source_height() ? source.data + size_t(y) * source.stride : nullptr);
    while (scaler->GetRowsReady() > 0 && scaler->emitted() < rows) {
      scaler->EmitRow(target.data + size_t(scaler->emitted()) * target.stride, width);
    }
  }
}

}  // namespace

ImageScalerPtr CreateImageScaler(int ratio_code, int source_bits, int target_bits, bool smoothing) {
  ScalerKernel kernel;
  switch (ratio_code) {
    case 0:
      if (!smoothing) return ImageScalerPtr();
      kernel = ScalerKernel::kH11l;
      break;
    case 1:
      kernel = smoothing ? ScalerKernel::kH43l : ScalerKernel::kH43;
      break;
    case 2:
      kernel = smoothing ? ScalerKernel::kH32l : ScalerKernel::kH32;
      break;
    case 3:
      kernel = smoothing ? ScalerKernel::kH21l : ScalerKernel::kH21;
      break;
    default:
      return ImageScalerPtr();
  }
  if (source_bits == 8 && target_bits == 8) return MakeScaler<8, 8>(kernel);
  if (source_bits == 8 && target_bits == 16) return MakeScaler<8, 16>(kernel);
  if (source_bits == 32 && target_bits == 32) return MakeScaler<32, 32>(kernel);
  return ImageScalerPtr();
}

void ScaleImage(ImageScaler* scaler, const ArrayMap<uint32_t>& target,
                const ArrayMap<uint32_t>& source) {
  if (scaler && scaler->source_bits() == 32 && scaler->target_bits() == 32) {
    ScaleRows(scaler, target, source);
  }
}

void ScaleImage(ImageScaler* scaler, const ArrayMap<uint8_t>& target,
                const ArrayMap<uint8_t>& source) {
  if (scaler && scaler->source_bits() == 8 && scaler->target_bits() == 8) {
    ScaleRows(scaler, target, source);
  }
}

void ScaleImage(ImageScaler* scaler, const ArrayMap<uint16_t>& target,
                const ArrayMap<uint8_t>& source) {
  if (scaler && scaler->source_bits() == 8 && scaler->target_bits() == 16) {
    ScaleRows(scaler, target, source);
  }
}
