// Streaming fixed-point down-scalers for fixed ratios. A source image is fed row by row:
// each row is filtered horizontally into a ring of intermediate rows (8.8 fixed point,
// 256 = 1.0), and each target row is made by filtering the ring vertically as soon as it
// holds the rows it needs. Edges repeat the first and last pixel / row.
//
// Kernels (in:out, ring rows): 1:1 smoothing "H11l" (3), 2:1 "H21" (4), 2:1 smoothing
// "H21l" (6), 3:2 "H32" (4), "H32l" (5), 4:3 "H43" (4), "H43l" (5). Layouts: 8-bit to
// 8-bit (_8_8), 8-bit to 8.8 16-bit (_8_16) and 32-bit to 32-bit (_32_32, each of the four
// bytes filtered in its own lane, in memory order). The 21 classes are
// ImageScaler_<H>_<V>_<in>_<out>, made by CreateImageScaler.
//
// One scaler serves one thread at a time. The ring is allocated at the first row after the
// target size changed; AddRow (and so ScaleImage) throws "memory allocation failed"
// (const char*) when it cannot be had.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/numeric/array.h"
#include "foundation/runtime/shared_ptr.h"

class ImageScaler {
 public:
  virtual ~ImageScaler();
  ImageScaler(const ImageScaler&) = delete;
  ImageScaler& operator=(const ImageScaler&) = delete;

  // Stores the source size; target size = source size x out / in (rounded down). The ring
  // is freed (and rebuilt at the next row) only when the target size changes.
  void SetInputSize(int32_t width, int32_t height);
  // Starts a new image: nothing pushed, nothing emitted (the ring is kept).
  void Restart() {
    pushed_ = 0;
    emitted_ = 0;
  }
  // Feeds one source row of source-width pixels; null repeats the last row (end of image).
  void AddRow(const void* row);
  // How many target rows can be produced now (0 or 1 for this family).
  int GetRowsReady() const;
  // Produces the next target row (target-width values of the output type, at most `count`).
  void EmitRow(void* target, int32_t count);

  int32_t source_width() const { return source_width_; }
  int32_t source_height() const { return source_height_; }
  int32_t target_width() const { return target_width_; }
  int32_t target_height() const { return target_height_; }
  int32_t pushed() const { return pushed_; }
  int32_t emitted() const { return emitted_; }
  int ratio_in() const { return in_; }
  int ratio_out() const { return out_; }
  int ring_rows() const { return n_; }
  int source_bits() const { return source_bits_; }
  int target_bits() const { return target_bits_; }
  // The ring block (null until the first row); for checking that it is kept.
  const void* ring_block() const { return block_; }
  // Intermediate row k of the ring (0 = oldest, n-1 = newest), lanes interleaved.
  const uint16_t* ring_row(int k) const { return ring_.empty() ? nullptr : ring_[k]; }

 protected:
  ImageScaler(int in, int out, int n, int source_bits, int target_bits);
  // Fills target-width intermediate values (times lanes) from one source row.
  virtual void HorizontalFilter(uint16_t* intermediate, const void* source_row) = 0;
  // Combines the ring rows into one target row of count pixels, phase chosen by r.
  virtual void VerticalFilter(void* target, int32_t count, int r) = 0;

  int Readiness() const;
  int lanes() const { return source_bits_ == 32 ? 4 : 1; }

  std::vector<uint16_t*> ring_;  // n + 1 rows: ring rows 0..n-1, then the spare row
  void* block_ = nullptr;
  int32_t row_bytes_ = 0;
  int32_t pushed_ = 0;
  int32_t emitted_ = 0;
  int32_t source_width_ = 0;
  int32_t source_height_ = 0;
  int32_t target_width_ = 0;
  int32_t target_height_ = 0;
  const int n_;
  const int in_;
  const int out_;
  const int source_bits_;
  const int target_bits_;

 private:
  void FreeRing();
};

using ImageScalerPtr = SharedPtr<ImageScaler>;

// ratio code: 0 = 1:1 (smoothing only), 1 = 4:3, 2 = 3:2, 3 = 2:1; bits (8, 8), (8, 16)
// or (32, 32). Any other combination gives an empty handle.
ImageScalerPtr CreateImageScaler(int ratio_code, int source_bits, int target_bits, bool smoothing);

// Scales a whole image top to bottom: sizes the scaler from the source view, then feeds
// rows (repeating the last once the source is exhausted) and writes target rows until the
// target view's height is reached; at most the scaled width is written per row. Does
// nothing when the scaler's layout does not match the views or the source is empty.
void ScaleImage(ImageScaler* scaler, const ArrayMap<uint32_t>& target,
                const ArrayMap<uint32_t>& source);
void ScaleImage(ImageScaler* scaler, const ArrayMap<uint8_t>& target,
                const ArrayMap<uint8_t>& source);
void ScaleImage(ImageScaler* scaler, const ArrayMap<uint16_t>& target,
                const ArrayMap<uint8_t>& source);

// The 21 classes.
enum class ScalerKernel { kH11l, kH21, kH21l, kH32, kH32l, kH43, kH43l };
template <ScalerKernel K, int kSourceBits, int kTargetBits>
class ImageScalerOf;

using ImageScaler_H11l_V11l_8_8 = ImageScalerOf<ScalerKernel::kH11l, 8, 8>;
using ImageScaler_H21_V21_8_8 = ImageScalerOf<ScalerKernel::kH21, 8, 8>;
using ImageScaler_H21l_V21l_8_8 = ImageScalerOf<ScalerKernel::kH21l, 8, 8>;
using ImageScaler_H32_V32_8_8 = ImageScalerOf<ScalerKernel::kH32, 8, 8>;
using ImageScaler_H32l_V32l_8_8 = ImageScalerOf<ScalerKernel::kH32l, 8, 8>;
using ImageScaler_H43_V43_8_8 = ImageScalerOf<ScalerKernel::kH43, 8, 8>;
using ImageScaler_H43l_V43l_8_8 = ImageScalerOf<ScalerKernel::kH43l, 8, 8>;
using ImageScaler_H11l_V11l_8_16 = ImageScalerOf<ScalerKernel::kH11l, 8, 16>;
using ImageScaler_H21_V21_8_16 = ImageScalerOf<ScalerKernel::kH21, 8, 16>;
using ImageScaler_H21l_V21l_8_16 = ImageScalerOf<ScalerKernel::kH21l, 8, 16>;
using ImageScaler_H32_V32_8_16 = ImageScalerOf<ScalerKernel::kH32, 8, 16>;
using ImageScaler_H32l_V32l_8_16 = ImageScalerOf<ScalerKernel::kH32l, 8, 16>;
using ImageScaler_H43_V43_8_16 = ImageScalerOf<ScalerKernel::kH43, 8, 16>;
using ImageScaler_H43l_V43l_8_16 = ImageScalerOf<ScalerKernel::kH43l, 8, 16>;
using ImageScaler_H11l_V11l_32_32 = ImageScalerOf<ScalerKernel::kH11l, 32, 32>;
using ImageScaler_H21_V21_32_32 = ImageScalerOf<ScalerKernel::kH21, 32, 32>;
using ImageScaler_H21l_V21l_32_32 = ImageScalerOf<ScalerKernel::kH21l, 32, 32>;
using ImageScaler_H32_V32_32_32 = ImageScalerOf<ScalerKernel::kH32, 32, 32>;
using ImageScaler_H32l_V32l_32_32 = ImageScalerOf<ScalerKernel::kH32l, 32, 32>;
using ImageScaler_H43_V43_32_32 = ImageScalerOf<ScalerKernel::kH43, 32, 32>;
using ImageScaler_H43l_V43l_32_32 = ImageScalerOf<ScalerKernel::kH43l, 32, 32>;
