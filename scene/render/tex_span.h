// The inner steps of a textured span, exposed for the span item and its tests.
//
// A span's row of samples is cut into segments; texture coordinates are exact (divided by
// the depth value) at segment ends and stepped linearly in between, with shorter segments
// where the depth changes fast. Segments cover the whole span, visible or not, so a
// sample's texel does not depend on what else was drawn before. Coordinates are
// texels × 2^18, clamped to 0 .. 2^30, and wrap around the texture by masking.
#pragma once

#include <cstdint>

#include "scene/render/nhs_texture.h"

// One segment of a run: count samples from u, v on, with the steps per two samples.
struct TexSegment {
  std::int32_t count;
  std::int64_t u;
  std::int64_t v;
  std::int64_t du2;
  std::int64_t dv2;
};

// A run never has more segments than this (its least segment length grows with it).
constexpr int kMaxTexSegments = 1024;

// The perspective-correct coordinate of a sample: (numerator / s) clamped to 0 .. 2^30
// and truncated; not-a-number gives 0.
std::int64_t TexCoordAt(double numerator, double s);

// The run of n ≥ 1 samples whose first sample has the coordinate numerators u and v and
// the depth value s, each growing by du, dv and dsdx per sample: fills out (room for
// kMaxTexSegments) and returns the number of segments. The counts sum to n.
int ComputeTexSegments(TexSegment* out, int n, double u, double v, double s, double du, double dv,
                       double dsdx);

// Index of the texel of (u, v) in the texture's pixels; coordinates repeat the texture.
inline std::uint32_t TexelIndex(const NHSTexture& t, std::int64_t u, std::int64_t v) {
  const std::uint32_t col = static_cast<std::uint32_t>(u >> 18) & ((1u << t.log2_width) - 1u);
  const std::uint32_t row = static_cast<std::uint32_t>(v >> 18) & ((1u << t.log2_height) - 1u);
  return (row << t.log2_width) + col;
}

// Visits the samples of consecutive segments in order: visit(index, u, v). Within a
// segment samples go in pairs, the first at (u, v), the second half a step further (the
// half rounded toward minus infinity), then (u, v) advances by the step per two samples;
// a sample left over takes (u, v).
template <class Visit>
void ForEachTexSample(const TexSegment* segs, int n_segs, Visit visit) {
  int i = 0;
  for (int k = 0; k < n_segs; ++k) {
    const TexSegment& seg = segs[k];
    std::int64_t u = seg.u;
    std::int64_t v = seg.v;
    const std::int64_t hu = seg.du2 >> 1;
    const std::int64_t hv = seg.dv2 >> 1;
    int c = seg.count;
    for (; c >= 2; c -= 2) {
      visit(i, u, v);
      visit(i + 1, u + hu, v + hv);
      u += seg.du2;
      v += seg.dv2;
      i += 2;
    }
    if (c == 1) visit(i++, u, v);
  }
}
