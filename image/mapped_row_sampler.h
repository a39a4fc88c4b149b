// Sampling a row of 32-bit pixels (four 8-bit channels, treated alike) at 16.16
// fixed-point source positions: the pixel kernels behind TransformImage and
// ScaleImageRect (image_transform.h).
//
// Positions are source pixel coordinates with the origin at the corner of
// pixel (0, 0); the integer part picks the pixel (the upper-left one of the
// blended cell for orders 2 and 4), the 16-bit fraction weights the blend.
// Pixels outside the source read as the border value.
//
// SampleMappedRow has a packed form (SSE2, and AVX2 chosen at run time where
// the processor has it) for the cells that lie wholly inside the source; it
// gives the same bits as the portable form, which tests compare.
#pragma once

#include <cstdint>

#include "foundation/numeric/array.h"

// One position record for four destination pixels, 16.16 fixed point: pixel
// 4g + k of a row samples at (x + k·dx, y + k·dy) of record g.
struct MappedCoord {
  int32_t x;
  int32_t y;
  int32_t dx;
  int32_t dy;
};

// Blend of four pixels P00 (x, y), P10 (x+1, y), P01 (x, y+1), P11 (x+1, y+1)
// with 16-bit fractions fx, fy (0 … 65535), per byte: rows in units of 1/64,
// then the vertical blend, rounded.
uint32_t BlendPixels(uint32_t p00, uint32_t p10, uint32_t p01, uint32_t p11, int32_t fx,
                     int32_t fy);

// The four-tap half-pixel filter (−1, 5, 5, −1)/8 at (x + fx/65536,
// y + fy/65536) with bilinear interpolation (15-bit fractions) inside the
// quarter cell holding the position. Reads columns x−1 … x+2 and rows
// y−1 … y+2, which the caller guarantees exist.
uint32_t FourTapPixel(const ArrayMap<unsigned int>& source, int64_t x, int64_t y, int32_t fx,
                      int32_t fy);

// Which form of SampleMappedRow runs: the best the processor offers, SSE2, or
// the portable one. All give the same bits.
enum class SamplerPath { kBest, kSse2, kPortable };

// Writes count pixels to out: pixel i samples the source at the position
// (x + k·dx, y + k·dy) of record i / 4 with k = i % 4, each coordinate
// clamped to 32 bits, with filter order 1 (nearest: the pixel holding the
// position), 2 (bilinear: every missing pixel of the cell reads as border) or
// 4 (four-tap where its 4 × 4 pixels exist, else the order-2 rule). Any other
// order writes nothing. out must not overlap the source.
void SampleMappedRow(int order, uint32_t* out, const ArrayMap<unsigned int>& source,
                     uint32_t border, const MappedCoord* coords, int count,
                     SamplerPath path = SamplerPath::kBest);
