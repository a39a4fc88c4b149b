// CPicture<T>: a multi-band picture of width × height × bands elements, one
// plane per band, rows padded to a multiple of 16 bytes and data aligned to 16
// bytes so that image kernels can use aligned vector loads. Element (x, y, b)
// is Data()[x + y·RowStride() + b·BandStride()]. Used for luminance pictures
// and masks (unsigned char), integer derivative images (int32_t), and float
// and double work images.
//
// The picture owns its block; views from GetBand die when it is resized or
// destroyed. Resizing to the current size keeps the contents; any other size
// leaves them uninitialised.
//
// The checked accessors throw a formatted text as `const char*`. Each throw
// gets a buffer of its own out of a process-wide ring of 64 static buffers,
// so concurrent throws never garble each other and the text stays valid on
// any thread until 64 further failures. Allocation failures throw "memory
// allocation failed".
#pragma once

#include <cstdint>
#include <cstdlib>
#include <utility>

#include "foundation/numeric/aligned_buffer.h"
#include "foundation/numeric/array.h"
#include "foundation/runtime/notify.h"

namespace picture_detail {
// Formats "CPicture::<operation>: %u, %u, %u outside range [%u, %u, %u]" into
// a fresh buffer and throws its address.
[[noreturn]] void ThrowRangeError(const char* operation, uint32_t x, uint32_t y, uint32_t band,
                                  uint32_t width, uint32_t height, uint32_t bands);
// A block of `bytes` + 16 bytes (malloc); throws kAllocationFailedMessage.
void* AllocateBlock(uint64_t bytes);
}  // namespace picture_detail

template <typename T>
class CPicture {
  static_assert(16 % sizeof(T) == 0, "rows are padded to 16 bytes");

 public:
  // Elements per 16 bytes: the row stride is a multiple of this.
  static constexpr uint32_t kStrideStep = 16 / sizeof(T);

  CPicture() = default;
  ~CPicture() { std::free(block_); }
  CPicture(const CPicture&) = delete;
  CPicture& operator=(const CPicture&) = delete;
  // Moves take the block; the source is left empty.
  CPicture(CPicture&& other) noexcept { Swap(other); }
  CPicture& operator=(CPicture&& other) noexcept {
    if (this != &other) {
      CPicture empty;
      Swap(other);
      empty.Swap(other);  // other ends empty; our old block goes with `empty`
    }
    return *this;
  }

  // Nothing when all three equal the current values; otherwise a new block
  // (contents not initialised). A size with no element leaves no block and
  // null data. Throws "memory allocation failed" (the picture is then empty).
  void Resize(uint32_t width, uint32_t height, uint32_t bands) {
    if (width == width_ && height == height_ && bands == bands_) return;
    std::free(block_);
    block_ = nullptr;
    data_ = nullptr;
    width_ = height_ = bands_ = row_stride_ = band_stride_ = 0;
    const uint64_t row =
        (static_cast<uint64_t>(width) + kStrideStep - 1) / kStrideStep * kStrideStep;
    const uint64_t band = row * height;
    const uint64_t elements = band * bands;
    if (band > UINT32_MAX || elements >= AlignedBuffer<T>::kLimit) throw kAllocationFailedMessage;
    if (elements != 0) {
      block_ = picture_detail::AllocateBlock(elements * sizeof(T));
      const uintptr_t address = reinterpret_cast<uintptr_t>(block_);
      data_ = reinterpret_cast<T*>((address + 15) & ~uintptr_t{15});
    }
    width_ = width;
    height_ = height;
    bands_ = bands;
    row_stride_ = static_cast<uint32_t>(row);
    band_stride_ = static_cast<uint32_t>(band);
  }

  // Element (x, y, band); throws "CPicture::GetElement: %u, %u, %u outside
  // range [%u, %u, %u]" (x, y, band, width, height, bands) when out of range.
  T GetElement(uint32_t x, uint32_t y, uint32_t band) const {
    if (!Inside(x, y, band))
      picture_detail::ThrowRangeError("GetElement", x, y, band, width_, height_, bands_);
    return data_[Index(x, y, band)];
  }

  // Stores element (x, y, band); throws "CPicture::SetElement: ..." like
  // GetElement when out of range (nothing is written).
  void SetElement(const T& value, uint32_t x, uint32_t y, uint32_t band) {
    if (!Inside(x, y, band))
      picture_detail::ThrowRangeError("SetElement", x, y, band, width_, height_, bands_);
    data_[Index(x, y, band)] = value;
  }

  // View of one band (not checked: band must be below Bands()).
  ArrayMap<T> GetBand(uint32_t band) const {
    return ArrayMap<T>(data_ + static_cast<size_t>(band) * band_stride_, row_stride_, width_,
                       height_);
  }

  // Sets every element of the band; a band not below Bands() logs at level 2
  // and changes nothing.
  void FillBand(uint32_t band, const T& value) {
    if (band >= bands_) {
      Notify(2, "CPicture::FillBand: invalid band: %d\n", static_cast<int>(band));
      return;
    }
    for (uint32_t y = 0; y < height_; ++y) {
      T* row = data_ + Index(0, y, band);
      for (uint32_t x = 0; x < width_; ++x) row[x] = value;
    }
  }

  // Makes the picture a one-band view of `plane` without owning its pixels: the
  // plane's owner keeps them valid while the picture shows them. The picture's
  // own block is released; resizing to another size or destroying the picture
  // never frees viewed pixels. The plane's stride must be a multiple of
  // kStrideStep.
  void SetView(const ArrayMap<T>& plane) {
    std::free(block_);
    block_ = nullptr;
    data_ = plane.data;
    width_ = plane.width;
    height_ = plane.height;
    bands_ = 1;
    row_stride_ = plane.stride;
    band_stride_ = static_cast<uint32_t>(static_cast<uint64_t>(plane.stride) * plane.height);
  }

  // Resizes to the other's size and copies every band.
  void CopyFrom(const CPicture& other) {
    if (this == &other) return;
    Resize(other.width_, other.height_, other.bands_);
    for (uint32_t b = 0; b < bands_; ++b) GetBand(b).CopyFrom(other.GetBand(b));
  }

  bool HasSameSize(const CPicture& other) const {
    return width_ == other.width_ && height_ == other.height_ && bands_ == other.bands_;
  }

  T* Data() const { return data_; }
  uint32_t Width() const { return width_; }
  uint32_t Height() const { return height_; }
  uint32_t Bands() const { return bands_; }
  uint32_t RowStride() const { return row_stride_; }
  uint32_t BandStride() const { return band_stride_; }

 private:
  void Swap(CPicture& other) noexcept {
    std::swap(block_, other.block_);
    std::swap(data_, other.data_);
    std::swap(band_stride_, other.band_stride_);
    std::swap(row_stride_, other.row_stride_);
    std::swap(width_, other.width_);
    std::swap(height_, other.height_);
    std::swap(bands_, other.bands_);
  }
  bool Inside(uint32_t x, uint32_t y, uint32_t band) const {
    return x < width_ && y < height_ && band < bands_;
  }
  size_t Index(uint32_t x, uint32_t y, uint32_t band) const {
    return x + static_cast<size_t>(y) * row_stride_ + static_cast<size_t>(band) * band_stride_;
  }

  void* block_ = nullptr;
  T* data_ = nullptr;
  uint32_t band_stride_ = 0;
  uint32_t row_stride_ = 0;
  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t bands_ = 0;
};
