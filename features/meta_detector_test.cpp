#include "features/meta_detector.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Counts its computations and images; leaves the flag set like a Harris detector.
class CountingDetector : public MetaDetector {
 public:
  using MetaDetector::MetaDetector;
  uint32_t Compute() override {
    ++computations;
    features_.push_back(SharedPtr<FeaturePoint2D>::Make(nullptr, 1.0 * computations, 2.0));
    if (clear_flag) recompute_ = false;
    return 1;
  }
  void OnNewImage() override { ++new_images; }
  int computations = 0;
  int new_images = 0;
  bool clear_flag = false;
};

// A 3 × 2 picture with every pixel set to the band values.
const CPicture<unsigned char>& Pixel(std::vector<unsigned char> bands) {
  static CPicture<unsigned char> p;
  p.Resize(3, 2, static_cast<uint32_t>(bands.size()));
  for (uint32_t b = 0; b < bands.size(); ++b) p.FillBand(b, bands[b]);
  return p;
}

TEST(MetaDetectorTest, ConvertsByBandCount) {
  struct Case {
    std::vector<unsigned char> bands;
    unsigned char luminance;
  } cases[] = {
      {{77}, 77},
      {{12, 200}, 12},
      {{255, 0, 0}, 76},  // (38·255 + 64) >> 7
      {{0, 0, 255}, 30},
      {{0, 255, 0}, 149},
      {{255, 255, 255}, 255},
      {{100, 100, 100, 0}, 100},
      {{100, 100, 100, 255}, 100},
      {{255, 255, 255, 7}, 255},
      {{10, 0, 0, 0}, 3},  // 0.3·10 + 0.5 truncated
  };
  for (const Case& t : cases) {
    CountingDetector d;
    d.SetImage(Pixel(t.bands));
    const CPicture<unsigned char>* lum = d.GetLuminancePicture();
    ASSERT_NE(lum, nullptr);
    EXPECT_EQ(lum->Width(), 3u);
    EXPECT_EQ(lum->Height(), 2u);
    EXPECT_EQ(lum->Bands(), 1u);
    for (uint32_t y = 0; y < 2; ++y)
      for (uint32_t x = 0; x < 3; ++x)
        EXPECT_EQ(lum->GetElement(x, y, 0), t.luminance) << t.bands.size() << " bands";
  }
}

TEST(MetaDetectorTest, OneBandIsCopiedPixelForPixel) {
  CPicture<unsigned char> p;
  p.Resize(19, 5, 1);
  for (uint32_t y = 0; y < 5; ++y)
    for (uint32_t x = 0; x < 19; ++x) p.SetElement(static_cast<unsigned char>(x * 13 + y), x, y, 0);
  CountingDetector d(p);
  for (uint32_t y = 0; y < 5; ++y)
    for (uint32_t x = 0; x < 19; ++x)
      ASSERT_EQ(d.GetLuminancePicture()->GetElement(x, y, 0), p.GetElement(x, y, 0));
}

TEST(MetaDetectorTest, UnsupportedBandCountIsReportedAndGivesZeros) {
  CountingDetector d;
  testing::internal::CaptureStderr();
  d.SetImage(Pixel({9, 9, 9, 9, 9}));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            " MetaDetector::MetaDetector: bad no. of bands: 5\n");
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 3; ++x) EXPECT_EQ(d.GetLuminancePicture()->GetElement(x, y, 0), 0);
}

TEST(MetaDetectorTest, ComputesOnlyWhenFlagged) {
  CountingDetector d;
  const CPicture<unsigned char>& p = Pixel({5});
  d.clear_flag = true;
  EXPECT_EQ(d.Detect(p).size(), 1u);
  EXPECT_EQ(d.new_images, 1);
  EXPECT_EQ(d.GetFeatures().size(), 1u);  // stored list, no second computation
  EXPECT_EQ(d.computations, 1);
  d.Detect(p);  // a new picture always recomputes
  EXPECT_EQ(d.computations, 2);
  EXPECT_EQ(d.new_images, 2);

  d.clear_flag = false;  // a detector that keeps the flag computes on every request
  d.SetImage(p);
  d.GetFeatures();
  const MetaDetector::FeatureList& list = d.GetFeatures();
  EXPECT_EQ(d.computations, 4);
  ASSERT_EQ(list.size(), 1u);  // the old list is cleared before each computation
  EXPECT_EQ(list[0]->x, 4.0);
}

TEST(MetaDetectorTest, MakeLuminancePicture) {
  CPicture<unsigned char> out;
  MakeLuminancePicture(out, Pixel({40, 99}));
  EXPECT_EQ(out.Bands(), 1u);
  EXPECT_EQ(out.GetElement(2, 1, 0), 40);
  MakeLuminancePicture(out, Pixel({255, 0, 0, 255, 255}));
  EXPECT_EQ(out.GetElement(2, 1, 0), 76);
}

}  // namespace
