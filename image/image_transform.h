// Resampling of 32-bit pixels (four 8-bit channels, treated alike):
//
// - TransformImage fills a destination from a source through a point mapping
//   (MetaMapper);
// - ScaleImageRect fills a destination from a scaled, shifted, axis-aligned
//   window of a source.
//
// Both sample with filter order 1 (nearest), 2 (bilinear) or 4 (four-tap
// half-pixel filter (−1, 5, 5, −1)/8 with bilinear interpolation between the
// half-pixel values), write the border value where the source has no pixels,
// spread the work over the worker pool, and accept a destination that shares
// memory with the source. Arithmetic is integer only: 16.16 positions for
// mapped sampling, 32.32 steps for row scaling. Source coordinates have their
// origin at the corner of pixel (0, 0); orders 2 and 4 sample the pixel
// centres, so they shift positions by −0.5.
#pragma once

#include <cstdint>

#include "foundation/numeric/array.h"
#include "image/mapped_row_sampler.h"
#include "image/meta_mapper.h"

// The destination rectangle a sampler writes.
struct ImageAccessRect {
  int x;
  int y;
  int width;
  int height;
};

// A sampler bound to one destination and one source.
class MetaImageAccess {
 public:
  virtual ~MetaImageAccess() = default;
  // Writes count destination pixels from (dest_x, dest_y) to the right,
  // sampling the source row at height source_y at source_x + i·step.
  virtual void ScaleRow(int dest_x, int dest_y, double source_x, double source_y, double step,
                        int count) = 0;
  // Writes count destination pixels from (dest_x, dest_y) to the right at the
  // positions of the records (one per four pixels).
  virtual void MapRow(int dest_x, int dest_y, const MappedCoord* coords, int count) = 0;
  // {0, 0, destination width, destination height}.
  virtual ImageAccessRect GetRect() const = 0;
  virtual int GetFilterOrder() const = 0;
};

template <typename T, int N>
class ArrayMapDataAccess;

// Sampler of filter order N (1, 2 or 4) over views of 32-bit pixels. When the
// two views' memory overlaps, the smaller image (by width × height) is
// replaced by a private copy: a smaller destination is rendered privately and
// written back by the destructor; otherwise the source is copied first. The
// views must stay valid for the sampler's life. Writes to disjoint rows or
// tiles from several threads are safe.
template <int N>
class ArrayMapDataAccess<unsigned int, N> : public MetaImageAccess {
  static_assert(N == 1 || N == 2 || N == 4, "filter orders 1, 2 and 4");

 public:
  ArrayMapDataAccess(const ArrayMap<unsigned int>& destination,
                     const ArrayMap<unsigned int>& source, unsigned int border);
  ~ArrayMapDataAccess() override;
  ArrayMapDataAccess(const ArrayMapDataAccess&) = delete;
  ArrayMapDataAccess& operator=(const ArrayMapDataAccess&) = delete;

  void ScaleRow(int dest_x, int dest_y, double source_x, double source_y, double step,
                int count) override;
  void MapRow(int dest_x, int dest_y, const MappedCoord* coords, int count) override;
  ImageAccessRect GetRect() const override;
  int GetFilterOrder() const override { return N; }

 private:
  ArrayMap<unsigned int> given_;   // the destination handed in
  ArrayMap<unsigned int> target_;  // where pixels are written
  ArrayMap<unsigned int> source_;  // where pixels are read
  unsigned int border_;
  Array<unsigned int, 1> private_target_;
  Array<unsigned int, 1> private_source_;
};

// Destination pixel (x, y) receives the source sample at mapper.Map(x + a,
// y + b), shifted by (−0.5, −0.5) for orders 2 and 4. The mapper is evaluated
// exactly for every fourth pixel of every fourth row (plus the ends of tiles
// of 192 × 128 pixels); positions in between are interpolated. Returns 0, or
// −1 for an order other than 1, 2 or 4 after writing "TransformImage<32bit>:
// unsupported filter order %d\n" on the standard error stream (destination
// untouched). Mapped positions that are not finite or lie beyond 16384
// pixels from the origin count as outside the source.
int TransformImage(const ArrayMap<unsigned int>& destination, double a, double b,
                   const ArrayMap<unsigned int>& source, const MetaMapper& mapper, int order,
                   unsigned int border);

// Destination pixel (x, y) receives the source sample at (ox + sx·(x + 0.5),
// oy + sy·(y + 0.5)). Returns 0, or −1 with "ScaleImageRect<32bit>:
// unsupported filter order %d\n" on the standard error stream.
int ScaleImageRect(const ArrayMap<unsigned int>& destination, const ArrayMap<unsigned int>& source,
                   double sx, double sy, double ox, double oy, int order, unsigned int border);
