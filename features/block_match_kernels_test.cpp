#include "features/block_match_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

struct Image {
  int width = 0, height = 0, stride = 0;
  std::vector<uint32_t> px;
  Image(int w, int h, int s = 0) : width(w), height(h), stride(s ? s : w), px(size_t(stride) * h) {}
  uint32_t* data() { return px.data(); }
  uint8_t at(int x, int y, int c) const {
    return reinterpret_cast<const uint8_t*>(&px[size_t(y) * stride + x])[c];
  }
  void set(int x, int y, int c, int v) {
    reinterpret_cast<uint8_t*>(&px[size_t(y) * stride + x])[c] = uint8_t(v);
  }
};

// A smooth colour texture shifted by (dx, dy): every channel is a different sum
// of sinusoids, so blocks are distinct and gradients exist in both directions.
Image Texture(int w, int h, double dx = 0.0, double dy = 0.0) {
  Image im(w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double u = x - dx, v = y - dy;
      const double ch[4] = {
          128 + 60 * std::sin(0.31 * u + 0.17 * v) + 40 * std::cos(0.23 * v - 0.11 * u),
          128 + 55 * std::sin(0.19 * u - 0.29 * v + 1.0) + 45 * std::cos(0.37 * u + 0.13 * v),
          128 + 70 * std::cos(0.27 * u + 0.21 * v + 2.0) + 30 * std::sin(0.41 * v), 0};
      for (int c = 0; c < 4; ++c) im.set(x, y, c, int(std::lround(ch[c])));
    }
  }
  return im;
}

Image Random(int w, int h, int levels, unsigned seed) {
  Image im(w, h);
  std::mt19937 rng(seed);
  for (auto& p : im.px) {
    uint32_t v = 0;
    for (int c = 0; c < 4; ++c)
      v |= uint32_t(rng() % levels * (255 / std::max(levels - 1, 1))) << (8 * c);
    p = v;
  }
  return im;
}

TEST(BlockMatchKernelsTest, PlainKernelsSumToScaleAndDerivativesToZero) {
  const double fractions[] = {0.0, 0.25, 0.5, 0.9, -0.3, -0.75};
  for (double f : fractions) {
    for (double a : {1.0, -0.15, -0.8}) {
      int16_t k6[6], k8[8];
      MakeKernel6(f, a, k6);
      MakeKernel8(f, a, k8);
      int s6 = 0, s8 = 0;
      for (int v : k6) s6 += v;
      for (int v : k8) s8 += v;
      EXPECT_NEAR(s6, 32768, 3) << "f=" << f << " a=" << a;
      EXPECT_NEAR(s8, 32768, 4) << "f=" << f << " a=" << a;
    }
  }
  // Lanczos at an integer position: the centre tap is capped and its excess
  // goes to the neighbours.
  int16_t k[6];
  MakeKernel6(0.0, 1.0, k);
  EXPECT_EQ(k[2], 32767);
  EXPECT_EQ(k[1], 1);
  EXPECT_EQ(k[3], 1);
  EXPECT_EQ(k[0], 0);
  // Derivative taps sum to exactly 0 (a flat image has no slope); halfway between
  // pixels, where the window is centred, they are antisymmetric.
  int16_t d[8];
  for (double f : fractions) {
    for (double a : {-0.15, -0.5, -0.8}) {
      MakeDerivativeKernel8(f, a, d);
      int sum = 0;
      for (int v : d) sum += v;
      EXPECT_EQ(sum, 0) << "f=" << f << " a=" << a;
    }
  }
  MakeDerivativeKernel8(0.5, -0.5, d);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(d[i], -d[7 - i]);
  // The fraction of a negative position is negative (taken toward zero):
  // the taps of -0.25 are the weights at t = -0.25 - k.
  int16_t kn[8];
  MakeKernel8(-0.25, -0.3, kn);
  for (int i = 0; i < 7; ++i) {
    const double t0 = -0.25 - (i - 3), t1 = -0.25 - (i - 2);
    const double want = std::exp(-0.3 * (t0 * t0 - t1 * t1));
    EXPECT_NEAR(double(kn[i]) / kn[i + 1], want, 5e-3 * want) << i;
  }
}

// The taps straight from their definition, rounded by std::round: weights at t = f - k
// (windowed sinc for a > 0, else Gaussian), plain ones scaled to 32768 with the excess
// over 32767 of the centre taps split between their neighbours.
void ReferenceTaps(double f, double a, int n, bool derivative, int16_t* taps) {
  const double pi = 3.14159265358979323846, radius = n / 2;
  auto sinc = [](double x) {
    return std::fabs(x) < 0.0001 ? 1.0 - x * x / 6.0 + x * x * x * x / 120.0 : std::sin(x) / x;
  };
  double w[8], sum = 0.0;
  const int first = -(n / 2 - 1), c = -first;
  for (int i = 0; i < n; ++i) {
    const double t = f - (first + i);
    const double g = std::exp(a * t * t);
    sum += a > 0.0 ? a * sinc(pi * a * t) * sinc(pi * t / radius) : g;
    w[i] = derivative ? 2.0 * a * t * g
           : a > 0.0  ? a * sinc(pi * a * t) * sinc(pi * t / radius)
                      : g;
  }
  if (derivative) {
    // The derivative of the normalised interpolation: less the plain weights times
    // the derivative weights' sum over theirs.
    double dsum = 0.0;
    for (int i = 0; i < n; ++i) dsum += w[i];
    for (int i = 0; i < n; ++i) {
      const double t = f - (first + i);
      w[i] -= std::exp(a * t * t) * dsum / sum;
    }
  }
  const double scale = (derivative ? 16384.0 : 32768.0) / sum;
  for (int i = 0; i < n; ++i) w[i] *= scale;
  for (int k = c; k <= c + 1 && !derivative; ++k) {
    if (w[k] <= 32767.0) continue;
    const double excess = w[k] - 32767.0;
    w[k] = 32767.0;
    w[k - 1] += excess * 0.5;
    w[k + 1] += excess * 0.5;
  }
  int total = 0;
  for (int i = 0; i < n; ++i) {
    taps[i] = int16_t(std::clamp(std::round(w[i]), -32768.0, 32767.0));
    total += taps[i];
  }
  if (derivative) taps[c] = int16_t(taps[c] - total);  // a flat image has no slope
}

TEST(BlockMatchKernelsTest, KernelTapsMatchTheirDefinition) {
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> fraction(-0.999, 0.999);
  for (int trial = 0; trial < 3000; ++trial) {
    // Every tenth fraction a multiple of 1/64, where products land on halves more often.
    const double f = trial % 10 == 0 ? (trial / 10 % 127 - 63) / 64.0 : fraction(rng);
    const double a = trial % 2 ? 1.0 + 0.5 * (trial % 3) : -0.15 - 0.08 * (trial % 9);
    SCOPED_TRACE(::testing::Message() << "f=" << f << " a=" << a);
    int16_t got[8], want[8];
    MakeKernel6(f, a, got);
    ReferenceTaps(f, a, 6, false, want);
    ASSERT_TRUE(std::equal(got, got + 6, want));
    MakeKernel8(f, a, got);
    ReferenceTaps(f, a, 8, false, want);
    ASSERT_TRUE(std::equal(got, got + 8, want));
    if (a > 0.0) continue;
    MakeDerivativeKernel8(f, a, got);
    ReferenceTaps(f, a, 8, true, want);
    ASSERT_TRUE(std::equal(got, got + 8, want));
  }
}

// Reference halving straight from the filter definition.
Image HalveReference(const Image& s) {
  Image d(s.width / 2, s.height / 2);
  const int n = s.width / 2, last = 2 * (s.height / 2) - 1;
  for (int c = 0; c < 4; ++c) {
    auto filt = [&](int row, int k) {
      if (k == 0) return 16 * (s.at(0, row, c) + s.at(1, row, c));
      if (k == n - 1) return 16 * (s.at(2 * n - 2, row, c) + s.at(2 * n - 1, row, c));
      static const int w[6] = {-1, 3, 14, 14, 3, -1};
      int v = 0;
      for (int t = 0; t < 6; ++t) v += w[t] * s.at(2 * k - 2 + t, row, c);
      return v;
    };
    for (int k = 0; k < d.height; ++k) {
      for (int j = 0; j < n; ++j) {
        static const int w[6] = {-1, 3, 14, 14, 3, -1};
        int v = 512;
        for (int t = 0; t < 6; ++t) v += w[t] * filt(std::clamp(2 * k - 2 + t, 0, last), j);
        d.set(j, k, c, std::clamp(v >> 10, 0, 255));
      }
    }
  }
  return d;
}

TEST(BlockMatchKernelsTest, HalveImageMatchesFilterDefinition) {
  const int sizes[][2] = {{4, 4}, {5, 7}, {6, 3}, {7, 9}, {8, 8}, {13, 11}, {32, 17}, {75, 14}};
  for (auto [w, h] : sizes) {
    const Image src = Random(w, h, 256, unsigned(w * 100 + h));
    Image dst(w / 2, h / 2, w / 2 + 3);
    std::fill(dst.px.begin(), dst.px.end(), 0xdeadbeefu);
    HalveImageRGBA(dst.data(), dst.stride, src.px.data(), src.stride, w, h);
    const Image ref = HalveReference(src);
    for (int y = 0; y < ref.height; ++y) {
      for (int x = 0; x < ref.width; ++x) {
        for (int c = 0; c < 4; ++c) {
          ASSERT_EQ(dst.at(x, y, c), ref.at(x, y, c)) << w << "x" << h << " at " << x << "," << y;
        }
      }
      for (int x = ref.width; x < dst.stride; ++x)
        EXPECT_EQ(dst.px[size_t(y) * dst.stride + x], 0xdeadbeefu);
    }
  }
}

TEST(BlockMatchKernelsTest, HalveImageNarrowAndTinyImages) {
  // Width 2 or 3: one column of ceiling averages of 2x2 pixels; odd last row
  // and column ignored.
  Image src(3, 5);
  const int vals[5][3] = {{1, 2, 99}, {2, 2, 99}, {10, 0, 99}, {0, 0, 99}, {77, 77, 77}};
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 3; ++x)
      for (int c = 0; c < 4; ++c) src.set(x, y, c, vals[y][x]);
  Image dst(1, 3);
  std::fill(dst.px.begin(), dst.px.end(), 0xffffffffu);
  HalveImageRGBA(dst.data(), 1, src.data(), 3, 3, 5);
  EXPECT_EQ(dst.at(0, 0, 1), 2);  // ceil(ceil(1.5)=2, 2) = 2
  EXPECT_EQ(dst.at(0, 1, 1), 3);  // ceil(5, 0) = 3
  EXPECT_EQ(dst.px[2], 0xffffffffu);
  // Below two columns or rows nothing is written.
  uint32_t out = 0x12345678u;
  HalveImageRGBA(&out, 1, src.data(), 3, 1, 5);
  HalveImageRGBA(&out, 1, src.data(), 3, 3, 1);
  EXPECT_EQ(out, 0x12345678u);
}

TEST(BlockMatchKernelsTest, PackedAndScalarKernelsAgree) {
  const Image im = Random(23, 19, 256, 7);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> pos(-6.0, 28.0);
  for (int trial = 0; trial < 200; ++trial) {
    const double x = pos(rng), y = pos(rng);
    const int bw = 1 + int(rng() % 13), bh = 1 + int(rng() % 9);
    std::vector<uint32_t> a(bw * bh), b(bw * bh);
    ResampleBlock6(im.px.data(), im.stride, im.width, im.height, a.data(), bw, bw, bh, x, y, 1.0);
    scalar_kernels::ResampleBlock6(im.px.data(), im.stride, im.width, im.height, b.data(), bw, bw,
                                   bh, x, y, 1.0);
    ASSERT_EQ(a, b) << x << "," << y;
    sse2_kernels::ResampleBlock6(im.px.data(), im.stride, im.width, im.height, a.data(), bw, bw, bh,
                                 x, y, 1.0);
    ASSERT_EQ(a, b) << "SSE2 " << x << "," << y;
    for (int mode = 0; mode < 3; ++mode) {
      std::vector<int16_t> p(4 * bw * bh), q(4 * bw * bh);
      const double as = -0.15 - 0.1 * (trial % 7);
      ResampleBlock8(im.px.data(), im.stride, im.width, im.height, p.data(), 4 * bw, bw, bh, x, y,
                     mode == 1, mode == 2, as);
      scalar_kernels::ResampleBlock8(im.px.data(), im.stride, im.width, im.height, q.data(), 4 * bw,
                                     bw, bh, x, y, mode == 1, mode == 2, as);
      ASSERT_EQ(p, q) << x << "," << y << " mode " << mode;
      sse2_kernels::ResampleBlock8(im.px.data(), im.stride, im.width, im.height, p.data(), 4 * bw,
                                   bw, bh, x, y, mode == 1, mode == 2, as);
      ASSERT_EQ(p, q) << "SSE2 " << x << "," << y << " mode " << mode;
    }
  }
  for (int n = 0; n < 14; ++n) {
    uint32_t brute = 0;
    for (int i = 0; i < 4 * n; ++i) {
      brute += std::abs(int(reinterpret_cast<const uint8_t*>(im.px.data())[i]) -
                        int(reinterpret_cast<const uint8_t*>(im.px.data() + 50)[i]));
    }
    EXPECT_EQ(SumAbsDiffBGRA(im.px.data(), im.px.data() + 50, n), brute) << n;
    EXPECT_EQ(scalar_kernels::SumAbsDiffBGRA(im.px.data(), im.px.data() + 50, n), brute) << n;
  }
}

TEST(BlockMatchKernelsTest, ResampleAtIntegerPositionsCopiesAndRepeatsEdges) {
  const Image im = Random(9, 7, 256, 3);
  // A block reaching two pixels past the left/top and right/bottom borders.
  for (auto [x0, y0] : {std::pair{-2, -2}, std::pair{4, 3}}) {
    Image blk(7, 6);
    ResampleBlock6(im.px.data(), im.stride, im.width, im.height, blk.data(), 7, 7, 6, x0, y0, 1.0);
    for (int y = 0; y < 6; ++y) {
      for (int x = 0; x < 7; ++x) {
        const int sx = std::clamp(x0 + x, 0, im.width - 1),
                  sy = std::clamp(y0 + y, 0, im.height - 1);
        for (int c = 0; c < 4; ++c) {
          EXPECT_EQ(blk.at(x, y, c), im.at(sx, sy, c)) << x << "," << y;
        }
      }
    }
  }
  // A constant image through the 16-bit path gives value x 32 + 6, and a zero
  // slope (only the constant 6) at every fraction and smoothing, however bright.
  for (uint32_t level : {0x50505050u, 0xf0f0f0f0u}) {
    Image flat(12, 12);
    std::fill(flat.px.begin(), flat.px.end(), level);
    std::vector<int16_t> b(4 * 16);
    for (double x : {3.0, 3.3, 2.5, -1.7}) {
      for (double a : {-0.15, -0.4, -0.8}) {
        for (int mode = 0; mode < 3; ++mode) {
          ResampleBlock8(flat.px.data(), 12, 12, 12, b.data(), 16, 4, 4, x, 1.0 - x, mode == 1,
                         mode == 2, a);
          for (int16_t v : b) {
            if (mode == 0) {
              EXPECT_NEAR(v, int(level & 0xff) * 32 + 6, 2);
            } else {
              EXPECT_EQ(v, 6) << "x=" << x << " a=" << a << " mode " << mode;
            }
          }
        }
      }
    }
  }
}

TEST(BlockMatchKernelsTest, CopyBlockWindowZeroesOutside) {
  Image im(4, 3);
  for (size_t i = 0; i < im.px.size(); ++i) im.px[i] = uint32_t(i + 1);
  std::vector<uint32_t> w(6 * 5, 0xffffffffu);
  CopyBlockWindow(im.px.data(), im.stride, 4, 3, -1, -1, 6, 5, w.data());
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 6; ++x) {
      const int sx = x - 1, sy = y - 1;
      const uint32_t want =
          (sx >= 0 && sx < 4 && sy >= 0 && sy < 3) ? uint32_t(sy * 4 + sx + 1) : 0;
      EXPECT_EQ(w[y * 6 + x], want) << x << "," << y;
    }
  }
  std::vector<uint32_t> far(4, 0xffffffffu);
  CopyBlockWindow(im.px.data(), im.stride, 4, 3, 10, 0, 2, 2, far.data());
  EXPECT_EQ(far, std::vector<uint32_t>(4, 0));
}

// Brute-force search in the order the matcher promises.
struct Best {
  int cost, dx, dy;
};
// grid (optional) receives every offset's cost at [(dx + rx) * (2 ry + 1) + dy + ry].
Best BruteSearch(const Image& src, const Image& tgt, const BlockMatchPosition& p, int bw, int bh,
                 int rx, int ry, std::vector<int>* grid = nullptr) {
  if (grid != nullptr) grid->assign(size_t(2 * rx + 1) * (2 * ry + 1), 0);
  std::vector<uint32_t> tpl(bw * bh);
  scalar_kernels::ResampleBlock6(src.px.data(), src.stride, src.width, src.height, tpl.data(), bw,
                                 bw, bh, p.source_x - (bw - 1) * 0.5, p.source_y - (bh - 1) * 0.5,
                                 1.0);
  const int bx = int(p.target_x) - bw / 2, by = int(p.target_y) - bh / 2;
  Best best{INT_MAX, 0, 0};
  for (int dx = -rx; dx <= rx; ++dx) {
    std::vector<int> order;
    for (int dy = -ry; dy <= ry; dy += (bw % 2 ? 2 : 1)) order.push_back(dy);
    if (bw % 2)
      for (int dy = -ry + 1; dy <= ry; dy += 2) order.push_back(dy);
    for (int dy : order) {
      int cost = 4 * (std::abs(dx) + std::abs(dy));
      for (int y = 0; y < bh; ++y)
        for (int x = 0; x < bw; ++x) {
          const int tx = bx + dx + x, ty = by + dy + y;
          const bool in = tx >= 0 && ty >= 0 && tx < tgt.width && ty < tgt.height;
          for (int c = 0; c < 4; ++c) {
            const int t = in ? tgt.at(tx, ty, c) : 0;
            cost += std::abs(int(reinterpret_cast<const uint8_t*>(&tpl[y * bw + x])[c]) - t);
          }
        }
      if (grid != nullptr) (*grid)[size_t(dx + rx) * (2 * ry + 1) + dy + ry] = cost;
      if (cost < best.cost) best = {cost, dx, dy};
    }
  }
  return best;
}

TEST(BlockMatchKernelsTest, SearchMatchesBruteForceIncludingTieOrder) {
  // Few grey levels make many equal costs, so the visiting order shows.
  const int cases[][4] = {{8, 8, 3, 3}, {7, 5, 2, 3}, {3, 3, 4, 1}, {8, 4, 0, 2}, {5, 6, 2, 0}};
  for (auto [bw, bh, rx, ry] : cases) {
    for (unsigned seed = 0; seed < 6; ++seed) {
      const Image src = Random(24, 22, 2, seed), tgt = Random(24, 22, 2, seed + 100);
      BlockMatchPosition p{11.0 + seed % 3, 10.5, 9.7 + seed % 4, 12.2};
      std::vector<int> grid;
      const Best want = BruteSearch(src, tgt, p, bw, bh, rx, ry, &grid);
      const int bx = int(p.target_x) - bw / 2, by = int(p.target_y) - bh / 2;
      // The candidates: the matcher's own choice first, then strict local minima of the
      // cost, by increasing cost, none next to one before.
      BlockMatchCandidate cand[4];
      const int kept = SearchBlockCandidates(p, src.px.data(), tgt.px.data(), 24, 24, 22, bw, bh,
                                             rx, ry, cand, 4);
      const int got = MatchBlockSAD(p, src.px.data(), tgt.px.data(), 24, 24, 22, bw, bh, rx, ry, 0);
      ASSERT_EQ(got, want.cost) << bw << "x" << bh << " seed " << seed;
      EXPECT_EQ(p.target_x, bx + want.dx + (bw - 1) * 0.5);
      EXPECT_EQ(p.target_y, by + want.dy + (bh - 1) * 0.5);
      ASSERT_GE(kept, 1);
      EXPECT_EQ(cand[0].cost, got);
      EXPECT_EQ(cand[0].target_x, p.target_x);
      EXPECT_EQ(cand[0].target_y, p.target_y);
      for (int k = 1; k < kept; ++k) {
        SCOPED_TRACE(::testing::Message() << bw << "x" << bh << " seed " << seed << " cand " << k);
        const int dx = int(cand[k].target_x - bx - (bw - 1) * 0.5);
        const int dy = int(cand[k].target_y - by - (bh - 1) * 0.5);
        auto at = [&](int x, int y) { return grid[size_t(x + rx) * (2 * ry + 1) + y + ry]; };
        EXPECT_EQ(cand[k].cost, at(dx, dy));
        EXPECT_GE(cand[k].cost, cand[k - 1].cost);
        for (int ny = std::max(dy - 1, -ry); ny <= std::min(dy + 1, ry); ++ny)
          for (int nx = std::max(dx - 1, -rx); nx <= std::min(dx + 1, rx); ++nx)
            if (nx != dx || ny != dy) {
              EXPECT_LT(at(dx, dy), at(nx, ny));
            }
        for (int j = 0; j < k; ++j)
          EXPECT_TRUE(std::abs(cand[j].target_x - cand[k].target_x) > 1.0 ||
                      std::abs(cand[j].target_y - cand[k].target_y) > 1.0);
      }
    }
  }
}

TEST(BlockMatchKernelsTest, SearchBoundsAndNoSearch) {
  const Image im = Texture(40, 30);
  struct Case {
    double tx, ty;
    int want;
  };
  // Block origin = trunc(target) - 4 for an 8x8 block; it may not reach the
  // last column or row.
  const Case cases[] = {{4.0, 10.0, 0},   {3.9, 10.0, -2}, {10.0, 3.0, -2},  {35.9, 10.0, 0},
                        {36.0, 10.0, -2}, {10.0, 25.5, 0}, {10.0, 26.0, -2}, {-0.5, 10, -2}};
  for (const Case& c : cases) {
    BlockMatchPosition p{c.tx, c.ty, c.tx, c.ty};
    const int r = MatchBlockSAD(p, im.px.data(), im.px.data(), 40, 40, 30, 8, 8, 2, 2, 0);
    if (c.want < 0) {
      EXPECT_EQ(r, c.want) << c.tx << "," << c.ty;
      EXPECT_EQ(p.target_x, c.tx);
    } else {
      EXPECT_GE(r, 0) << c.tx << "," << c.ty;
    }
  }
  BlockMatchPosition p{10, 10, 10, 10};
  EXPECT_EQ(MatchBlockSAD(p, im.px.data(), im.px.data(), 40, 40, 30, 0, 8, 2, 2, 0), -1);
  EXPECT_EQ(MatchBlockSAD(p, im.px.data(), im.px.data(), 40, 40, 30, 8, 8, 0, 0, 0), INT_MAX);
  EXPECT_EQ(p.target_x, 10.0);
  // Identical flat images: the zero offset is best, and an even block puts
  // the estimate half a pixel up and left before refinement.
  Image flat(40, 30);
  std::fill(flat.px.begin(), flat.px.end(), 0x40302010u);
  BlockMatchPosition q{20, 15, 20, 15};
  EXPECT_EQ(MatchBlockSAD(q, flat.px.data(), flat.px.data(), 40, 40, 30, 8, 8, 3, 3, 0), 0);
  EXPECT_EQ(q.target_x, 19.5);
  EXPECT_EQ(q.target_y, 14.5);
  // Identical textured images from a half-pixel source: the template is an
  // exact copy, found one pixel right and down of the block origin (cost =
  // the offset penalty only), which is the source position again.
  BlockMatchPosition h{20.5, 15.5, 20.5, 15.5};
  EXPECT_EQ(MatchBlockSAD(h, im.px.data(), im.px.data(), 40, 40, 30, 8, 8, 3, 3, 0), 8);
  EXPECT_EQ(h.target_x, 20.5);
  EXPECT_EQ(h.target_y, 15.5);
}

// A target showing the source block twice: both places are candidates, the nearer
// (smaller offset penalty) first; the search's bounds are MatchBlockSAD's.
TEST(BlockMatchKernelsTest, CandidatesFindEveryCopyOfTheBlock) {
  const Image src = Random(48, 40, 256, 7);
  Image tgt = Random(48, 40, 256, 8);
  const int sx = 20, sy = 18;  // block top-left in the source (source position + 3.5)
  for (auto [ox, oy] : {std::pair{3, -2}, std::pair{-5, 4}})
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x)
        tgt.px[size_t(sy + oy + y) * 48 + sx + ox + x] = src.px[size_t(sy + y) * 48 + sx + x];
  const BlockMatchPosition p{sx + 3.5, sy + 3.5, sx + 3.5, sy + 3.5};
  BlockMatchCandidate cand[3];
  ASSERT_EQ(SearchBlockCandidates(p, src.px.data(), tgt.px.data(), 48, 48, 40, 8, 8, 6, 6, cand, 3),
            3);
  // The zero offset's block starts a pixel up and left of the template: the copies lie
  // at offsets (4, -1) and (-4, 5), costs 4 (|dx| + |dy|).
  EXPECT_EQ(cand[0].cost, 20);
  EXPECT_EQ(cand[0].target_x, p.target_x + 3);
  EXPECT_EQ(cand[0].target_y, p.target_y - 2);
  EXPECT_EQ(cand[1].cost, 36);
  EXPECT_EQ(cand[1].target_x, p.target_x - 5);
  EXPECT_EQ(cand[1].target_y, p.target_y + 4);
  EXPECT_GT(cand[2].cost, 1000);  // noise
  BlockMatchCandidate one[1];
  EXPECT_EQ(SearchBlockCandidates(p, src.px.data(), tgt.px.data(), 48, 48, 40, 8, 8, 6, 6, one, 1),
            1);
  EXPECT_EQ(one[0].cost, 20);
  EXPECT_EQ(SearchBlockCandidates(p, src.px.data(), tgt.px.data(), 48, 48, 40, 0, 8, 6, 6, one, 1),
            -1);
  const BlockMatchPosition edge{sx + 3.5, sy + 3.5, 3.9, 20};
  EXPECT_EQ(
      SearchBlockCandidates(edge, src.px.data(), tgt.px.data(), 48, 48, 40, 8, 8, 6, 6, one, 1),
      -2);
  EXPECT_EQ(SearchBlockCandidates(p, src.px.data(), tgt.px.data(), 48, 48, 40, 8, 8, 0, 0, one, 1),
            1);
  EXPECT_EQ(one[0].cost, INT_MAX);
  EXPECT_EQ(one[0].target_x, p.target_x);
}

TEST(BlockMatchKernelsTest, KnownTranslationsAreRecovered) {
  const Image src = Texture(64, 64);
  struct Shift {
    double dx, dy, tol;
  };
  const Shift shifts[] = {{0, 0, 1e-3},      {3, -2, 1e-3},     {-1, 1, 1e-3},
                          {0.3, -0.6, 0.05}, {1.5, 0.25, 0.05}, {-2.7, 1.8, 0.05}};
  for (const Shift& s : shifts) {
    const Image tgt = Texture(64, 64, s.dx, s.dy);
    for (auto [x, y] : {std::pair{30.0, 31.0}, std::pair{24.0, 37.0}}) {
      BlockMatchPosition p{x, y, x, y};
      const int r = MatchBlockSAD(p, src.px.data(), tgt.px.data(), 64, 64, 64, 8, 8, 4, 4, 15);
      ASSERT_EQ(r, 0) << s.dx << "," << s.dy;
      EXPECT_NEAR(p.target_x, x + s.dx, s.tol) << s.dx << "," << s.dy;
      EXPECT_NEAR(p.target_y, y + s.dy, s.tol) << s.dx << "," << s.dy;
    }
  }
}

// Strong stripes crossed by faint ones, on a dark and on a bright ground, shifted by
// up to a pixel and a half: the refinement finds the shift on both. It lost the
// feature when the slope kernels saw the ground level.
TEST(BlockMatchKernelsTest, RefinementIgnoresTheGroundLevel) {
  auto faint = [](int ground, double dx, double dy) {
    Image im(48, 48);
    for (int y = 0; y < 48; ++y) {
      for (int x = 0; x < 48; ++x) {
        const double u = x - dx, v = y - dy;
        const int g = int(std::lround(ground + 20 * std::sin(0.5 * u + 0.1 * v) +
                                      3 * std::cos(0.45 * v - 0.15 * u)));
        for (int c = 0; c < 3; ++c) im.set(x, y, c, g);
      }
    }
    return im;
  };
  for (int ground : {30, 225}) {
    const Image src = faint(ground, 0, 0);
    for (auto [dx, dy] : {std::pair{0.6, -0.3}, std::pair{-0.45, 0.7}, std::pair{1.2, 0.9}}) {
      const Image tgt = faint(ground, dx, dy);
      // Block corners on whole pixels, where the eight-tap window is lopsided.
      BlockMatchPosition p{24.5, 23.5, 24.5, 23.5};
      ASSERT_EQ(RefineBlockSubPixel(p, src.px.data(), tgt.px.data(), 48, 48, 48, 8, 8, 15), 0)
          << ground << ": " << dx << "," << dy;
      EXPECT_NEAR(p.target_x, 24.5 + dx, 0.04) << ground << ": " << dx << "," << dy;
      EXPECT_NEAR(p.target_y, 23.5 + dy, 0.04) << ground << ": " << dx << "," << dy;
    }
  }
}

// The refinement step by step as defined, from the public resamplers: six blocks
// per step, the gradients averaged, the weighted 2x2 solve.
int ReferenceRefine(BlockMatchPosition& pos, const Image& src, const Image& tgt, int bw, int bh,
                    int iterations) {
  const double hw = (bw - 1) * 0.5, hh = (bh - 1) * 0.5;
  const int n = bw * bh;
  std::vector<int16_t> S(4 * n), T(4 * n), sx(4 * n), tx(4 * n), sy(4 * n), ty(4 * n), gx(4 * n),
      gy(4 * n);
  auto sample = [&](const Image& im, double x, double y, bool dx, bool dy, double a,
                    std::vector<int16_t>& out) {
    scalar_kernels::ResampleBlock8(im.px.data(), im.stride, im.width, im.height, out.data(), 4 * bw,
                                   bw, bh, x, y, dx, dy, a);
  };
  const double weight[4] = {1, 2, 1, 1};
  double ox = 0, oy = 0;
  for (int i = 0;; ++i) {
    const double a = i < 7 ? -0.15 - 0.08 * i : -0.8;
    const double x0 = pos.source_x - hw, y0 = pos.source_y - hh;
    const double x1 = pos.target_x - hw + ox, y1 = pos.target_y - hh + oy;
    sample(src, x0, y0, false, false, a, S);
    sample(src, x0, y0, true, false, a, sx);
    sample(tgt, x1, y1, true, false, a, tx);
    sample(src, x0, y0, false, true, a, sy);
    sample(tgt, x1, y1, false, true, a, ty);
    sample(tgt, x1, y1, false, false, a, T);
    for (int k = 0; k < 4 * n; ++k) {
      gx[k] = int16_t((sx[k] + tx[k]) >> 1);
      gy[k] = int16_t((sy[k] + ty[k]) >> 1);
    }
    int64_t sums[20];
    BlockCrossSums(S.data(), T.data(), gx.data(), gy.data(), n, sums);
    double b1 = 0, b2 = 0, gxx = 0, gxy = 0, gyy = 0;
    for (int c = 0; c < 4; ++c) {
      b1 += weight[c] * double(sums[4 * kSumEGx + c]);
      b2 += weight[c] * double(sums[4 * kSumEGy + c]);
      gxx += weight[c] * double(sums[4 * kSumGxGx + c]);
      gxy += weight[c] * double(sums[4 * kSumGxGy + c]);
      gyy += weight[c] * double(sums[4 * kSumGyGy + c]);
    }
    const double det = gxx * gyy - gxy * gxy;
    if (!(det >= 1.0)) return -2;
    const double stepX = 0.5 * (gyy * b1 - gxy * b2) / det;
    const double stepY = 0.5 * (gxx * b2 - gxy * b1) / det;
    ox += stepX;
    oy += stepY;
    if (ox * ox + oy * oy > 4.0) return -3;
    if (stepX * stepX + stepY * stepY < 1e-7 || i + 1 >= iterations) {
      pos.target_x += ox;
      pos.target_y += oy;
      return 0;
    }
  }
}

// The refinement shares kernels, rows and passes between its blocks; it must still
// give exactly the result of the plain definition, near borders and for odd sizes.
TEST(BlockMatchKernelsTest, RefinementMatchesItsDefinitionExactly) {
  const Image src = Texture(48, 40), tgt = Texture(48, 40, 0.8, -0.5);
  const Image noise = Random(48, 40, 256, 3);
  std::mt19937 rng(11);
  std::uniform_real_distribution<double> position(-2.0, 50.0), offset(-1.5, 1.5);
  int outcomes[3] = {0, 0, 0};
  for (int k = 0; k < 300; ++k) {
    const int bw = 1 + k % 9, bh = 1 + (k / 9) % 10;
    const Image& target = k % 5 == 0 ? noise : tgt;
    const double x = position(rng), y = position(rng) * 0.8;
    BlockMatchPosition a{x, y, x + offset(rng), y + offset(rng)}, b = a;
    const int ra = RefineBlockSubPixel(a, src.px.data(), target.px.data(), 48, 48, 40, bw, bh, 15);
    const int rb = ReferenceRefine(b, src, target, bw, bh, 15);
    ASSERT_EQ(ra, rb) << "case " << k;
    ASSERT_EQ(a.target_x, b.target_x) << "case " << k;
    ASSERT_EQ(a.target_y, b.target_y) << "case " << k;
    ++outcomes[ra == 0 ? 0 : ra == -2 ? 1 : 2];
  }
  // The table reaches successes and both failures.
  EXPECT_GT(outcomes[0], 0);
  EXPECT_GT(outcomes[2], 0);
}

TEST(BlockMatchKernelsTest, RefinementOutcomes) {
  // Linear ramps: the linearised step is exact, so one step lands on the
  // answer and the next is below the stop limit.
  Image ramp(40, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      ramp.set(x, y, 0, 5 * x);
      ramp.set(x, y, 1, 3 * x + 3 * y);
      ramp.set(x, y, 2, 5 * y);
    }
  struct Case {
    double ox, oy;
    int iterations, want;
  };
  const Case cases[] = {{1.2, -0.7, 15, 0},
                        {-0.9, 0.3, 15, 0},
                        {2.6, 0.0, 15, -3},
                        {-2.0, -2.0, 15, -3},
                        {0.6, 0.4, 0, 0}};
  for (const Case& c : cases) {
    BlockMatchPosition p{20, 20, 20 + c.ox, 20 + c.oy};
    const int r =
        RefineBlockSubPixel(p, ramp.px.data(), ramp.px.data(), 40, 40, 40, 8, 8, c.iterations);
    EXPECT_EQ(r, c.want) << c.ox << "," << c.oy;
    if (r == 0 && c.iterations > 0) {
      EXPECT_NEAR(p.target_x, 20.0, 0.02);
      EXPECT_NEAR(p.target_y, 20.0, 0.02);
    } else {
      EXPECT_EQ(p.target_x, 20 + c.ox);
      EXPECT_EQ(p.target_y, 20 + c.oy);
    }
  }
  // A flat image has no gradient: singular system, target unchanged.
  Image flat(40, 40);
  std::fill(flat.px.begin(), flat.px.end(), 0x80808080u);
  BlockMatchPosition p{20, 20, 20.3, 19.6};
  EXPECT_EQ(RefineBlockSubPixel(p, flat.px.data(), flat.px.data(), 40, 40, 40, 8, 8, 15), -2);
  EXPECT_EQ(p.target_x, 20.3);
  EXPECT_EQ(RefineBlockSubPixel(p, flat.px.data(), flat.px.data(), 40, 40, 40, 8, 0, 15), -1);
}

}  // namespace
