#include "image/separable_convolution.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "foundation/runtime/worker_pool.h"
#include "testing/pool_threads.h"

namespace {

using kxtest::PoolThreads;

void FillRandom(const ArrayMap<float>& m, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-100.0f, 255.0f);
  for (uint32_t y = 0; y < m.height; ++y)
    for (uint32_t x = 0; x < m.width; ++x) m.data[x + y * m.stride] = dist(rng);
}

int Clamp(int v, int lo, int hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

// The result formula, term by term in single precision (or in double).
template <typename Real>
std::vector<Real> Reference(const ArrayMap<float>& s, uint32_t w, uint32_t h, int x_off, int y_off,
                            const FilterKernel& kx, const FilterKernel& ky, int sx, int sy) {
  const int nx = static_cast<int>(kx.Size()), ny = static_cast<int>(ky.Size());
  const int ox = x_off - (nx - 1) / 2, oy = y_off - (ny - 1) / 2;
  std::vector<Real> out(static_cast<size_t>(w) * h);
  for (uint32_t y = 0; y < h; ++y)
    for (uint32_t x = 0; x < w; ++x) {
      Real d = 0;
      for (int j = 0; j < ny; ++j) {
        const int row = Clamp(sy * static_cast<int>(y) + oy + j, 0, s.height - 1);
        Real r = 0;
        for (int i = 0; i < nx; ++i) {
          const int col = Clamp(sx * static_cast<int>(x) + ox + i, 0, s.width - 1);
          Real p =
              static_cast<Real>(kx[nx - 1 - i]) * static_cast<Real>(s.data[col + row * s.stride]);
          r = i == 0 ? p : r + p;
        }
        Real p = static_cast<Real>(ky[ny - 1 - j]) * r;
        d = j == 0 ? p : d + p;
      }
      out[x + y * w] = d;
    }
  return out;
}

struct ConvCase {
  uint32_t src_w, src_h, dst_w, dst_h;
  int type;
  float sigma_x, sigma_y;
  int x_off, y_off, sx, sy;
};

TEST(SeparableConvolutionTest, MatchesFormulaBitForBitOnEveryPathAndThreadCount) {
  const ConvCase cases[] = {
      {720, 576, 360, 288, 1, 1.8f, 1.8f, 0, 0, 2, 2},  // a pyramid level
      {67, 45, 67, 45, 1, 0.7f, 1.0f, 0, 0, 1, 1},
      {301, 400, 290, 390, 1, 1.0f, 1.5f, 3, -2, 1, 1},  // bands of rows and columns, step 1
      {90, 70, 90, 70, 1, 5.0f, 4.5f, 0, 0, 1, 1},       // long kernels, step 1
      {40, 9, 37, 1, 1, 1.0f, 1.2f, 0, 4, 1, 1},         // one output row
      {250, 33, 250, 33, 2, 0.8f, 0.8f, 0, 0, 1, 1},     // two column bands
      {300, 200, 97, 41, 1, 3.0f, 2.0f, 5, -7, 3, 5},    // offsets and odd steps
      {5, 3, 9, 11, 0, 2.0f, 1.0f, 2, 1, 1, 1},          // box, kernel wider than the source
      {1, 1, 3, 2, 1, 1.0f, 1.0f, 0, 0, 1, 1},
      {40, 400, 2, 10, 1, 28.8f, 28.8f, 0, 0, 20, 32},  // huge steps: many thin row bands
  };
  for (const ConvCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.src_w << "x" << c.src_h << " -> " << c.dst_w << "x"
                                    << c.dst_h << " steps " << c.sx << "," << c.sy);
    Array<float, 1> src(c.src_w, c.src_h);
    FillRandom(src.Plane(0), c.src_w * 7 + c.src_h);
    FilterKernel kx, ky;
    kx.SetFilter(c.type, c.sigma_x);
    ky.SetFilter(c.type, c.sigma_y);
    const std::vector<float> expected =
        Reference<float>(src.Plane(0), c.dst_w, c.dst_h, c.x_off, c.y_off, kx, ky, c.sx, c.sy);
    const std::vector<double> exact =
        Reference<double>(src.Plane(0), c.dst_w, c.dst_h, c.x_off, c.y_off, kx, ky, c.sx, c.sy);

    for (ConvolutionPath path :
         {ConvolutionPath::kBest, ConvolutionPath::kFourLanes, ConvolutionPath::kPortable}) {
      for (int threads : {1, 2, 8}) {
        PoolThreads pool(threads);
        SeparableConvolutionBatch::UsePath(path);
        Array<float, 1> dst(c.dst_w, c.dst_h);
        SeparableConvolutionBatch batch;
        batch.Add(
            SeparableConvolution(dst.Plane(0), src.Plane(0), c.x_off, c.y_off, kx, ky, c.sx, c.sy));
        batch.Execute();
        EXPECT_EQ(batch.Size(), 0u);
        for (uint32_t y = 0; y < c.dst_h; ++y)
          for (uint32_t x = 0; x < c.dst_w; ++x) {
            const float got = dst.Plane(0).data[x + y * dst.Stride()];
            const float want = expected[x + y * c.dst_w];
            ASSERT_EQ(std::memcmp(&got, &want, sizeof got), 0)
                << "(" << x << ", " << y << ") " << got << " vs " << want << " path "
                << static_cast<int>(path) << " threads " << threads;
            ASSERT_NEAR(got, exact[x + y * c.dst_w], 1e-4 * 255) << x << ", " << y;
          }
      }
    }
    SeparableConvolutionBatch::UsePath(ConvolutionPath::kBest);
  }
}

TEST(SeparableConvolutionTest, IdentityAndConstantAndRamp) {
  PoolThreads pool(2);
  Array<float, 1> src(131, 70), dst(131, 70);
  FillRandom(src.Plane(0), 3);
  FilterKernel one;
  one.SetSigma(0.0f);
  SeparableConvolutionBatch batch;
  batch.Add(SeparableConvolution(dst.Plane(0), src.Plane(0), 0, 0, one, one, 1, 1));
  batch.Execute();
  for (uint32_t y = 0; y < 70; ++y)
    ASSERT_EQ(std::memcmp(dst.Plane(0).data + y * dst.Stride(),
                          src.Plane(0).data + y * src.Stride(), 131 * sizeof(float)),
              0);

  // A constant stays constant, borders included.
  for (uint32_t y = 0; y < 70; ++y)
    for (uint32_t x = 0; x < 131; ++x) src.SetElement(42.5f, x, y, 0);
  FilterKernel g;
  g.SetSigma(2.5f);
  batch.Add(SeparableConvolution(dst.Plane(0), src.Plane(0), 0, 0, g, g, 1, 1));
  batch.Execute();
  for (uint32_t y = 0; y < 70; ++y)
    for (uint32_t x = 0; x < 131; ++x) ASSERT_NEAR(dst.GetElement(x, y, 0), 42.5f, 1e-4);

  // The x derivative of a ramp rising with x is positive inside the image.
  for (uint32_t y = 0; y < 70; ++y)
    for (uint32_t x = 0; x < 131; ++x) src.SetElement(0.5f * x, x, y, 0);
  FilterKernel d;
  d.SetFilter(2, 0.8f);
  batch.Add(SeparableConvolution(dst.Plane(0), src.Plane(0), 0, 0, d, one, 1, 1));
  batch.Execute();
  for (uint32_t y = 0; y < 70; ++y)
    for (uint32_t x = 1; x + 1 < 131; ++x) ASSERT_GT(dst.GetElement(x, y, 0), 0.0f) << x;
}

TEST(SeparableConvolutionTest, InPlaceEqualsOutOfPlace) {
  PoolThreads pool(2);
  Array<float, 1> src(300, 150), out(300, 150);
  FillRandom(src.Plane(0), 11);
  FilterKernel g;
  g.SetSigma(1.8f);
  SeparableConvolutionBatch batch;
  batch.Add(SeparableConvolution(out.Plane(0), src.Plane(0), 0, 0, g, g, 1, 1));
  batch.Execute();
  batch.Add(SeparableConvolution(src.Plane(0), src.Plane(0), 0, 0, g, g, 1, 1));
  batch.Execute();
  for (uint32_t y = 0; y < 150; ++y)
    ASSERT_EQ(std::memcmp(out.Plane(0).data + y * out.Stride(),
                          src.Plane(0).data + y * src.Stride(), 300 * sizeof(float)),
              0)
        << y;
}

TEST(SeparableConvolutionTest, WritesOnlyTheDestinationRectangle) {
  // A destination view inside a larger plane, width not a multiple of 4:
  // nothing around it may change, whatever the steps and band layout.
  PoolThreads pool(2);
  Array<float, 1> src(400, 300);
  FillRandom(src.Plane(0), 5);
  FilterKernel g;
  for (int step : {1, 2, 32}) {
    g.SetSigma(0.9f * step);
    Array<float, 1> big(300, 40);
    for (uint32_t y = 0; y < 40; ++y)
      for (uint32_t x = 0; x < 300; ++x) big.SetElement(-1.0f, x, y, 0);
    const uint32_t w = 254, h = 300 / step < 30 ? 300 / step : 30;
    ArrayMap<float> view(big.Plane(0).data + 3 * big.Stride() + 5, big.Stride(), w, h);
    SeparableConvolutionBatch batch;
    batch.Add(SeparableConvolution(view, src.Plane(0), 0, 0, g, g, step, step));
    batch.Execute();
    for (uint32_t y = 0; y < 40; ++y)
      for (uint32_t x = 0; x < 300; ++x) {
        const bool inside = x >= 5 && x < 5 + w && y >= 3 && y < 3 + h;
        if (inside) continue;
        ASSERT_EQ(big.GetElement(x, y, 0), -1.0f) << x << ", " << y << " step " << step;
      }
  }
}

TEST(SeparableConvolutionTest, BandCountsAndSeveralJobs) {
  Array<float, 1> a(250, 10), b(125, 10), empty;
  FilterKernel g;
  EXPECT_EQ(SeparableConvolution(a.Plane(0), a.Plane(0), 0, 0, g, g, 1, 1).ColumnBands(), 2u);
  EXPECT_EQ(SeparableConvolution(b.Plane(0), b.Plane(0), 0, 0, g, g, 1, 1).ColumnBands(), 1u);
  EXPECT_EQ(SeparableConvolution(empty.Plane(0), a.Plane(0), 0, 0, g, g, 1, 1).ColumnBands(), 0u);

  // Several independent jobs in one run, one of them with an empty destination.
  PoolThreads pool(4);
  Array<float, 1> src(250, 260), d1(250, 260), d2(125, 130);
  FillRandom(src.Plane(0), 9);
  g.SetSigma(1.8f);
  SeparableConvolutionBatch batch;
  batch.Add(SeparableConvolution(d1.Plane(0), src.Plane(0), 0, 0, g, g, 1, 1));
  batch.Add(SeparableConvolution(empty.Plane(0), src.Plane(0), 0, 0, g, g, 1, 1));
  batch.Add(SeparableConvolution(d2.Plane(0), src.Plane(0), 0, 0, g, g, 2, 2));
  batch.Execute();
  const std::vector<float> r1 = Reference<float>(src.Plane(0), 250, 260, 0, 0, g, g, 1, 1);
  const std::vector<float> r2 = Reference<float>(src.Plane(0), 125, 130, 0, 0, g, g, 2, 2);
  for (uint32_t y = 0; y < 260; ++y)
    for (uint32_t x = 0; x < 250; ++x) ASSERT_EQ(d1.GetElement(x, y, 0), r1[x + y * 250]);
  for (uint32_t y = 0; y < 130; ++y)
    for (uint32_t x = 0; x < 125; ++x) ASSERT_EQ(d2.GetElement(x, y, 0), r2[x + y * 125]);
}

}  // namespace
