#include "scene/render/tex_span.h"

#include <algorithm>
#include <cmath>

#include "scene/render/draw_item.h"

std::int64_t TexCoordAt(double numerator, double s) {
  const double c = numerator / s;
  if (!(c > 0.0)) return 0;              // negative, zero or not a number
  constexpr double kMax = 1073741824.0;  // 2^30
  return static_cast<std::int64_t>(c < kMax ? c : kMax);
}

namespace {

// Segment length for h samples starting at depth s, from the relative depth change over
// the segment; nearing and receding spans shorten differently because the coordinate's
// error grows on the far side of a segment.
int ShortenedLength(int h, double s, double dsdx) {
  const double m = dsdx > 0.0 ? s / (h * dsdx) : -1.0 - s / (h * dsdx);
  const bool nearing = dsdx > 0.0;
  if (m > 15.75) return h >> 1;
  if (m > 7.63) return h >> 2;
  if (m > 3.58) return nearing ? (13 * h) >> 7 : (19 * h) >> 7;
  if (m > 1.572) return nearing ? h >> 5 : (3 * h) >> 5;
  if (m > 0.596) return nearing ? h >> 7 : (3 * h) >> 5;
  if (m > 0.162172) return nearing ? h >> 11 : (19 * h) >> 7;
  if (m > 0.01986) return nearing ? 1 : (3 * h) >> 3;
  return nearing ? 1 : h >> 1;
}

}  // namespace

int ComputeTexSegments(TexSegment* out, int n, double u, double v, double s, double du, double dv,
                       double dsdx) {
  if (n <= 1) {
    out[0] = {1, TexCoordAt(u, s), TexCoordAt(v, s), 0, 0};
    return 1;
  }
  const int g = n / 1024 + 1;
  int count = 0;
  int f = 0;
  std::int64_t u_start = TexCoordAt(u, s);
  std::int64_t v_start = TexCoordAt(v, s);
  while (f < n - 1) {
    const double sf = s + f * dsdx;
    int h = std::min(256, n - f);
    if (h > g && std::fabs(dsdx) * 32.0 * h > sf) h = ShortenedLength(h, sf, dsdx);
    h = std::max(h, g);
    int e = std::min(f + h, n - 1);
    // With the least length g a run can need one segment more than the record buffer
    // holds; the last record then takes the rest of the run.
    if (count == kMaxTexSegments - 1) e = n - 1;
    const int len = e - f;
    const double se = s + e * dsdx;
    const std::int64_t u_end = TexCoordAt(u + e * du, se);
    const std::int64_t v_end = TexCoordAt(v + e * dv, se);
    TexSegment& seg = out[count++];
    seg.count = e == n - 1 ? len + 1 : len;
    seg.u = u_start;
    seg.v = v_start;
    seg.du2 = static_cast<std::int64_t>(static_cast<double>(u_end - u_start) * 2.0 / len);
    seg.dv2 = static_cast<std::int64_t>(static_cast<double>(v_end - v_start) * 2.0 / len);
    u_start = u_end;
    v_start = v_end;
    f = e;
  }
  return count;
}

namespace {

// Visits the samples of the segments in order: write(index, texel).
template <class Write>
void SampleSegments(const TexSegment* segs, int n_segs, const NHSTexture& t, Write write) {
  const std::uint32_t* texels = t.pixels;
  int i = 0;
  for (int k = 0; k < n_segs; ++k) {
    const TexSegment& seg = segs[k];
    std::int64_t u = seg.u;
    std::int64_t v = seg.v;
    const std::int64_t hu = seg.du2 >> 1;  // halves rounded toward minus infinity
    const std::int64_t hv = seg.dv2 >> 1;
    int c = seg.count;
    for (; c >= 2; c -= 2) {
      write(i, texels[TexelIndex(t, u, v)]);
      write(i + 1, texels[TexelIndex(t, u + hu, v + hv)]);
      u += seg.du2;
      v += seg.dv2;
      i += 2;
    }
    if (c == 1) write(i++, texels[TexelIndex(t, u, v)]);
  }
}

}  // namespace

void CopyTexels(std::uint32_t* dst, const TexSegment* segs, int n_segs, const NHSTexture& t) {
  SampleSegments(segs, n_segs, t, [dst](int i, std::uint32_t texel) { dst[i] = texel; });
}

void ModulateTexels(std::uint32_t* dst, const TexSegment* segs, int n_segs, const NHSTexture& t,
                    std::uint32_t color) {
  const std::uint32_t cb = color & 0xff;
  const std::uint32_t cg = (color >> 8) & 0xff;
  const std::uint32_t cr = (color >> 16) & 0xff;
  SampleSegments(segs, n_segs, t, [=](int i, std::uint32_t texel) {
    const std::uint32_t b = ((texel & 0xff) * cb) >> 8;
    const std::uint32_t g = (((texel >> 8) & 0xff) * cg) >> 8;
    const std::uint32_t r = (((texel >> 16) & 0xff) * cr) >> 8;
    dst[i] = r << 16 | g << 8 | b;
  });
}

void AccumulateTexels(std::uint64_t* dst, const TexSegment* segs, int n_segs, const NHSTexture& t,
                      std::uint64_t layer) {
  const std::uint64_t lb = (layer & 0xffff) >> 1;
  const std::uint64_t lg = ((layer >> 16) & 0xffff) >> 1;
  const std::uint64_t lr = ((layer >> 32) & 0xffff) >> 1;
  const std::uint64_t count = layer & 0xffff000000000000ull;
  SampleSegments(segs, n_segs, t, [=](int i, std::uint32_t texel) {
    const std::uint64_t b = ((texel & 0xff) * lb) >> 7;
    const std::uint64_t g = (((texel >> 8) & 0xff) * lg) >> 7;
    const std::uint64_t r = (((texel >> 16) & 0xff) * lr) >> 7;
    AddLayer(dst[i], count | r << 32 | g << 16 | b);
  });
}
