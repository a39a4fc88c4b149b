#include "image/image_transform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>

#include "foundation/runtime/worker_pool.h"
#include "testing/pool_threads.h"

namespace {

using kxtest::PoolThreads;

using Image = Array<unsigned int, 1>;

void FillRandom(Image& image, unsigned seed) {
  std::mt19937 rng(seed);
  for (uint32_t y = 0; y < image.Height(); ++y)
    for (uint32_t x = 0; x < image.Width(); ++x) image.SetElement(rng(), x, y, 0);
}

unsigned int Channel(unsigned int pixel, int c) {
  return (pixel >> (8 * c)) & 255;
}

// x' = sx·x + ox, y' = sy·y + oy.
class AffineMapper : public MetaMapper {
 public:
  AffineMapper(double sx, double ox, double sy, double oy) : sx_(sx), ox_(ox), sy_(sy), oy_(oy) {}
  void Map(double& x_out, double& y_out, double x, double y) const override {
    x_out = sx_ * x + ox_;
    y_out = sy_ * y + oy_;
  }

 private:
  double sx_, ox_, sy_, oy_;
};

class ConstantMapper : public MetaMapper {
 public:
  ConstantMapper(double x, double y) : x_(x), y_(y) {}
  void Map(double& x_out, double& y_out, double, double) const override {
    x_out = x_;
    y_out = y_;
  }

 private:
  double x_, y_;
};

bool SameImage(const Image& a, const Image& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
  for (uint32_t y = 0; y < a.Height(); ++y)
    for (uint32_t x = 0; x < a.Width(); ++x)
      if (a.GetElement(x, y, 0) != b.GetElement(x, y, 0)) return false;
  return true;
}

TEST(TransformImageTest, IdentityCopiesWithEveryOrder) {
  PoolThreads pool(2);
  for (uint32_t size : {37u, 230u}) {  // on the caller; on the pool
    Image src(size, size - 13), dst(size, size - 13);
    FillRandom(src, size);
    const AffineMapper identity(1, 0, 1, 0);
    for (int order : {1, 2, 4}) {
      ASSERT_EQ(TransformImage(dst.Plane(0), 0.5, 0.5, src.Plane(0), identity, order, 0), 0);
      EXPECT_TRUE(SameImage(dst, src)) << "order " << order << " size " << size;
    }
    for (int order : {1, 2, 4}) {
      ASSERT_EQ(ScaleImageRect(dst.Plane(0), src.Plane(0), 1, 1, 0, 0, order, 0), 0);
      EXPECT_TRUE(SameImage(dst, src)) << "scale order " << order << " size " << size;
    }
  }
}

TEST(TransformImageTest, HalfPixelShiftAveragesFourPixels) {
  Image src(20, 9), dst(20, 9);
  FillRandom(src, 4);
  const unsigned int border = 0x80402010;
  const AffineMapper identity(1, 0, 1, 0);
  ASSERT_EQ(TransformImage(dst.Plane(0), 0, 0, src.Plane(0), identity, 2, border), 0);
  auto at = [&](int x, int y) { return x < 0 || y < 0 ? border : src.GetElement(x, y, 0); };
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 20; ++x)
      for (int c = 0; c < 4; ++c) {
        const unsigned sum = Channel(at(x - 1, y - 1), c) + Channel(at(x, y - 1), c) +
                             Channel(at(x - 1, y), c) + Channel(at(x, y), c);
        ASSERT_EQ(Channel(dst.GetElement(x, y, 0), c), (sum + 2) >> 2) << x << ", " << y;
      }
}

TEST(TransformImageTest, PositionsOutsideGiveTheBorder) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const ConstantMapper mappers[] = {{-10, -10}, {1e12, 3}, {3, -1e300}, {inf, 2},
                                    {2, -inf},  {nan, 2},  {2, nan}};
  Image src(16, 16), dst(50, 40);
  FillRandom(src, 8);
  for (const ConstantMapper& mapper : mappers)
    for (int order : {1, 2, 4}) {
      ASSERT_EQ(TransformImage(dst.Plane(0), 0, 0, src.Plane(0), mapper, order, 0xDEADBEEF), 0);
      for (uint32_t y = 0; y < 40; ++y)
        for (uint32_t x = 0; x < 50; ++x) ASSERT_EQ(dst.GetElement(x, y, 0), 0xDEADBEEFu) << order;
    }
}

TEST(TransformImageTest, UnsupportedOrderLeavesTheDestination) {
  Image src(8, 8), dst(8, 8);
  FillRandom(src, 1);
  FillRandom(dst, 2);
  Image before;
  before.CopyFrom(dst);
  const AffineMapper identity(1, 0, 1, 0);
  testing::internal::CaptureStderr();
  EXPECT_EQ(TransformImage(dst.Plane(0), 0.5, 0.5, src.Plane(0), identity, 3, 0), -1);
  EXPECT_EQ(ScaleImageRect(dst.Plane(0), src.Plane(0), 1, 1, 0, 0, 0, 0), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "TransformImage<32bit>: unsupported filter order 3\n"
            "ScaleImageRect<32bit>: unsupported filter order 0\n");
  EXPECT_TRUE(SameImage(dst, before));
}

TEST(TransformImageTest, InterpolatedRecordsMatchPerPixelSampling) {
  // An affine map whose 16.16 positions are exact: interpolating the records
  // between the mapped pixels must give the positions of mapping every pixel.
  PoolThreads pool(2);
  Image src(300, 200);
  FillRandom(src, 12);
  const AffineMapper affine(0.75, 1.25, 0.625, -2.5);
  for (int order : {1, 2, 4}) {
    Image dst(401, 263), ref(401, 263);
    ASSERT_EQ(TransformImage(dst.Plane(0), 0.5, 0.25, src.Plane(0), affine, order, 7), 0);
    const double shift = order == 1 ? 0 : -0.5;
    auto fill_reference = [&](auto& access) {
      for (int y = 0; y < 263; ++y)
        for (int x = 0; x < 401; ++x) {
          MappedCoord c{static_cast<int32_t>((0.75 * (x + 0.5) + 1.25 + shift) * 65536),
                        static_cast<int32_t>((0.625 * (y + 0.25) - 2.5 + shift) * 65536), 0, 0};
          access.MapRow(x, y, &c, 1);
        }
    };
    if (order == 1) {
      ArrayMapDataAccess<unsigned int, 1> access(ref.Plane(0), src.Plane(0), 7);
      fill_reference(access);
    } else if (order == 2) {
      ArrayMapDataAccess<unsigned int, 2> access(ref.Plane(0), src.Plane(0), 7);
      fill_reference(access);
    } else {
      ArrayMapDataAccess<unsigned int, 4> access(ref.Plane(0), src.Plane(0), 7);
      fill_reference(access);
    }
    EXPECT_TRUE(SameImage(dst, ref)) << "order " << order;
  }
}

TEST(TransformImageTest, ResamplesASmoothPatternClosely) {
  // A linear ramp per channel: bilinear and four-tap sampling reproduce it
  // within rounding anywhere inside, at fractional positions.
  Image src(64, 48), dst(40, 30);
  for (uint32_t y = 0; y < 48; ++y)
    for (uint32_t x = 0; x < 64; ++x)
      src.SetElement((2 * x) | ((3 * y) << 8) | ((x + y) << 16) | (200u << 24), x, y, 0);
  const AffineMapper affine(1.37, 3.3, 1.21, 4.1);  // maps into [3.3, 58.8] × [4.1, 40.4]
  for (int order : {2, 4}) {
    ASSERT_EQ(TransformImage(dst.Plane(0), 0.5, 0.5, src.Plane(0), affine, order, 0), 0);
    for (uint32_t y = 0; y < 30; ++y)
      for (uint32_t x = 0; x < 40; ++x) {
        const double sx = 1.37 * (x + 0.5) + 3.3 - 0.5, sy = 1.21 * (y + 0.5) + 4.1 - 0.5;
        const unsigned int p = dst.GetElement(x, y, 0);
        EXPECT_NEAR(Channel(p, 0), 2 * sx, 1.01) << order << ": " << x << ", " << y;
        EXPECT_NEAR(Channel(p, 1), 3 * sy, 1.01) << order << ": " << x << ", " << y;
        EXPECT_NEAR(Channel(p, 2), sx + sy, 1.01) << order << ": " << x << ", " << y;
        EXPECT_EQ(Channel(p, 3), 200u);
      }
  }
}

TEST(ScaleImageRectTest, HalfSizeAveragesBlocks) {
  Image src(130, 70), dst(65, 35);
  FillRandom(src, 6);
  PoolThreads pool(2);
  ASSERT_EQ(ScaleImageRect(dst.Plane(0), src.Plane(0), 2, 2, 0, 0, 2, 0), 0);
  for (uint32_t y = 0; y < 35; ++y)
    for (uint32_t x = 0; x < 65; ++x)
      for (int c = 0; c < 4; ++c) {
        const unsigned sum = Channel(src.GetElement(2 * x, 2 * y, 0), c) +
                             Channel(src.GetElement(2 * x + 1, 2 * y, 0), c) +
                             Channel(src.GetElement(2 * x, 2 * y + 1, 0), c) +
                             Channel(src.GetElement(2 * x + 1, 2 * y + 1, 0), c);
        ASSERT_EQ(Channel(dst.GetElement(x, y, 0), c), (sum + 2) >> 2) << x << ", " << y;
      }

  // A window partly left of and below the source: border there.
  Image small(10, 10);
  ASSERT_EQ(ScaleImageRect(small.Plane(0), src.Plane(0), 1, 1, -3, 65, 1, 0xAB), 0);
  EXPECT_EQ(small.GetElement(2, 0, 0), 0xABu);
  EXPECT_EQ(small.GetElement(3, 0, 0), src.GetElement(0, 65, 0));
  EXPECT_EQ(small.GetElement(3, 4, 0), src.GetElement(0, 69, 0));
  EXPECT_EQ(small.GetElement(3, 5, 0), 0xABu);
}

// Records the threads that call it. The first thread waits (up to 2 s) in
// its first call for a second one, so that a worker surely takes part when
// the pool is used.
class ThreadMapper : public MetaMapper {
 public:
  void Map(double& x_out, double& y_out, double x, double y) const override {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      if (threads_.insert(std::this_thread::get_id()).second) {
        if (threads_.size() == 1)
          joined_.wait_for(lock, std::chrono::seconds(2), [this] { return threads_.size() > 1; });
        else
          joined_.notify_all();
      }
    }
    x_out = x;
    y_out = y;
  }
  size_t Threads() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return threads_.size();
  }

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable joined_;
  mutable std::set<std::thread::id> threads_;
};

TEST(TransformImageTest, PoolOnlyAbove192By192) {
  PoolThreads pool(2);
  Image src(200, 200);
  FillRandom(src, 3);
  {
    Image dst(192, 192);
    ThreadMapper mapper;
    TransformImage(dst.Plane(0), 0.5, 0.5, src.Plane(0), mapper, 1, 0);
    EXPECT_EQ(mapper.Threads(), 1u);
  }
  {
    Image dst(193, 192);
    ThreadMapper mapper;
    TransformImage(dst.Plane(0), 0.5, 0.5, src.Plane(0), mapper, 1, 0);
    EXPECT_EQ(mapper.Threads(), 2u);
  }
}

TEST(TransformImageTest, InPlaceEqualsSeparateDestination) {
  PoolThreads pool(2);
  const AffineMapper affine(0.9, 7.3, 1.1, -3.7);
  for (int order : {1, 2, 4}) {
    Image src(250, 170), separate(250, 170);
    FillRandom(src, 21);
    ASSERT_EQ(TransformImage(separate.Plane(0), 0.5, 0.5, src.Plane(0), affine, order, 5), 0);
    ASSERT_EQ(TransformImage(src.Plane(0), 0.5, 0.5, src.Plane(0), affine, order, 5), 0);
    EXPECT_TRUE(SameImage(src, separate)) << order;
  }

  // A smaller destination inside the source's memory (rendered privately).
  Image src(64, 64), copy;
  FillRandom(src, 22);
  copy.CopyFrom(src);
  ArrayMap<unsigned int> corner(src.Plane(0).data + 10 * src.Stride() + 10, src.Stride(), 20, 20);
  Image separate(20, 20);
  ASSERT_EQ(ScaleImageRect(separate.Plane(0), copy.Plane(0), 2, 2, 0, 0, 2, 0), 0);
  ASSERT_EQ(ScaleImageRect(corner, src.Plane(0), 2, 2, 0, 0, 2, 0), 0);
  for (uint32_t y = 0; y < 20; ++y)
    for (uint32_t x = 0; x < 20; ++x)
      ASSERT_EQ(src.GetElement(10 + x, 10 + y, 0), separate.GetElement(x, y, 0)) << x << ", " << y;
  EXPECT_EQ(src.GetElement(9, 10, 0), copy.GetElement(9, 10, 0));
}

}  // namespace
