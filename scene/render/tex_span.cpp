#include "scene/render/tex_span.h"

#include <algorithm>
#include <cmath>

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
