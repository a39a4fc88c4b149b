#include "features/image_pyramid.h"

#include <gtest/gtest.h>

#include <string>

#include "foundation/runtime/notify.h"
#include "testing/log_capture.h"

namespace {

using kxtest::LogCapture;

void ExpectSizes(ImagePyramid& p, std::initializer_list<std::pair<uint32_t, uint32_t>> sizes) {
  ASSERT_EQ(p.NumberOfLevels(), static_cast<int>(sizes.size()));
  int i = 0;
  for (const auto& [w, h] : sizes) {
    EXPECT_EQ(p.GetCPicture(i)->Width(), w) << i;
    EXPECT_EQ(p.GetCPicture(i)->Height(), h) << i;
    ++i;
  }
}

void Fill(ImagePyramid& p, float (*f)(uint32_t, uint32_t)) {
  Array<float, 1>& level = *p.GetCPicture(0);
  for (uint32_t y = 0; y < level.Height(); ++y)
    for (uint32_t x = 0; x < level.Width(); ++x) level.SetElement(f(x, y), x, y, 0);
}

TEST(ImagePyramidTest, AllocLevelsSizesAndKernels) {
  ImagePyramid p;
  EXPECT_EQ(p.GetImageIndex(), -1);
  EXPECT_EQ(p.XKernel().Size(), 5u);  // default sigma 0.7
  p.AllocLevels(720, 576, 3, 2, 2);
  ExpectSizes(p, {{720, 576}, {360, 288}, {180, 144}});
  EXPECT_EQ(p.XKernel().Sigma(), 1.8f);
  EXPECT_EQ(p.YKernel().Size(), 11u);
  const float* level1 = p.GetCPicture(1)->Data();
  p.AllocLevels(720, 576, 3, 2, 2);  // unchanged: buffers kept
  EXPECT_EQ(p.GetCPicture(1)->Data(), level1);

  p.AllocLevels(721, 577, 3, 2, 2);
  ExpectSizes(p, {{721, 577}, {360, 288}, {180, 144}});

  p.AllocLevels(100, 90, 2, 3, 1);
  ExpectSizes(p, {{100, 90}, {33, 90}});
  EXPECT_EQ(p.XKernel().Sigma(), 0.9f * 3);
  EXPECT_EQ(p.YKernel().Sigma(), 0.9f);
}

TEST(ImagePyramidTest, BadSubsamplingKeepsTheOldFactor) {
  const struct {
    uint32_t sx, sy;
    const char* text;
  } cases[] = {
      {0, 2, "bad subsampling factor x: 0, must be in the range [1..32], keep old value: 2"},
      {33, 2, "bad subsampling factor x: 33, must be in the range [1..32], keep old value: 2"},
      {2, 0, "bad subsampling factor y: 0, must be in the range [1..32], keep old value: 2"},
  };
  for (const auto& c : cases) {
    ImagePyramid p;
    LogCapture log;
    p.AllocLevels(64, 64, 2, c.sx, c.sy);
    EXPECT_NE(log.text.find(c.text), std::string::npos) << log.text;
    EXPECT_EQ(p.XSubsampling(), 2u);
    EXPECT_EQ(p.YSubsampling(), 2u);
    ExpectSizes(p, {{64, 64}, {32, 32}});
  }
}

TEST(ImagePyramidTest, ComputeLevelsKeepsConstantsAndCentresOnEvenPixels) {
  ImagePyramid p;
  p.AllocLevels(200, 150, 3, 2, 2);
  Fill(p, [](uint32_t, uint32_t) { return 77.0f; });
  p.ComputeLevels();
  for (int i = 0; i < 3; ++i) {
    const Array<float, 1>& level = *p.GetCPicture(i);
    for (uint32_t y = 0; y < level.Height(); ++y)
      for (uint32_t x = 0; x < level.Width(); ++x)
        ASSERT_NEAR(level.GetElement(x, y, 0), 77.0f, 1e-3) << i << ": " << x << ", " << y;
  }

  // A plane a + b·x + c·y survives a symmetric filter away from the borders:
  // level 1's pixel (x, y) is level 0's value at (2x, 2y).
  Fill(p, [](uint32_t x, uint32_t y) { return 3.0f + 0.5f * x + 0.25f * y; });
  p.ComputeLevels();
  const Array<float, 1>& level1 = *p.GetCPicture(1);
  for (uint32_t y = 4; y + 4 < level1.Height(); ++y)
    for (uint32_t x = 4; x + 4 < level1.Width(); ++x)
      ASSERT_NEAR(level1.GetElement(x, y, 0), 3.0f + 0.5f * 2 * x + 0.25f * 2 * y, 1e-3);
  EXPECT_NEAR(p.GetCPicture(0)->GetElement(199, 149, 0), 3.0f + 0.5f * 199 + 0.25f * 149, 1e-4);
}

TEST(ImagePyramidTest, MisuseIsLoggedNotRead) {
  LogCapture log;
  ImagePyramid p;
  p.ComputeLevels();
  EXPECT_NE(log.text.find("call AllocLevels first"), std::string::npos) << log.text;

  p.AllocLevels(4, 4, 5, 2, 2);  // 4x4, 2x2, 1x1, 0x0, 0x0
  Fill(p, [](uint32_t, uint32_t) { return 5.0f; });
  log.text.clear();
  p.ComputeLevels();
  EXPECT_NE(log.text.find("level 3 has size 0x0"), std::string::npos) << log.text;
  EXPECT_NEAR(p.GetCPicture(2)->GetElement(0, 0, 0), 5.0f, 1e-5);

  EXPECT_EQ(p.GetCPicture(5), nullptr);
  EXPECT_EQ(p.GetCPicture(-1), nullptr);
  EXPECT_NE(log.text.find("level 5 out of range"), std::string::npos) << log.text;
}

TEST(ImagePyramidTest, HasSameSize) {
  ImagePyramid a, b, c;
  a.AllocLevels(64, 48, 3, 2, 2);
  b.AllocLevels(64, 48, 4, 2, 2);
  LogCapture log;
  EXPECT_FALSE(a.HasSameSize(b));
  EXPECT_EQ(log.text, "");
  b.AllocLevels(64, 48, 3, 2, 2);
  EXPECT_TRUE(a.HasSameSize(b));
  c.AllocLevels(64, 48, 3, 2, 3);
  EXPECT_FALSE(a.HasSameSize(c));
  EXPECT_NE(log.text.find("level 1 have different image sizes: (32x24x1) - (32x16x1)"),
            std::string::npos)
      << log.text;
}

}  // namespace
