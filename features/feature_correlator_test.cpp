#include "features/feature_correlator.h"

#include <gtest/gtest.h>

#include "features/feature_image.h"
#include "foundation/project/project_bytes_for_test.h"

namespace {

using kxtest::LogCapture;

// The smallest correlator: links one fixed pair per Compute and counts the hook calls.
class StubCorrelator : public FeatureCorrelator {
 public:
  int32_t Compute() override {
    correspondences_.clear();
    auto a = SharedPtr<FeaturePoint2D>::Make(nullptr, 1.0, 2.0);
    auto b = SharedPtr<FeaturePoint2D>::Make(nullptr, 3.0, 4.0);
    correspondences_.push_back(SharedPtr<FeatureCorrespondence>::Make(a, b));
    return static_cast<int32_t>(correspondences_.size());
  }
  SharedPtr<FeatureCorrelator> Clone() override { return SharedPtr<StubCorrelator>::Make(); }
  void OnNewFeatureImages() override { ++image_calls; }
  void OnNewCamera() override { ++camera_calls; }
  int image_calls = 0;
  int camera_calls = 0;
};

void ExpectInitialState(const FeatureCorrelator& c) {
  EXPECT_EQ(c.GetFlags(), 0u);
  EXPECT_TRUE(c.GetCorrespondences().empty());
  EXPECT_EQ(c.GetLostCount(), 0u);
  EXPECT_EQ(c.GetCorrespondenceCount(), 0);
  EXPECT_EQ(c.GetLostRatio(), 0.0);
}

TEST(FeatureCorrelatorTest, DefaultsAfterConstructionAndReset) {
  StubCorrelator c;
  ExpectInitialState(c);
  EXPECT_EQ(c.GetFirstImage(), nullptr);
  EXPECT_EQ(c.GetSecondImage(), nullptr);
  EXPECT_FALSE(c.GetSharedBuffer());

  c.SetFlags(FeatureCorrelator::kModeReverse | FeatureCorrelator::kModeTagged);
  EXPECT_EQ(c.Compute(), 1);
  // The list shares its link: a copy outside sees the reset drop the list's reference.
  SharedPtr<FeatureCorrespondence> kept = c.GetCorrespondences()[0];
  EXPECT_EQ(kept.RefCount(), 2);
  c.Reset();
  ExpectInitialState(c);
  EXPECT_EQ(kept.RefCount(), 1);

  SharedPtr<FeatureCorrelator> clone = c.Clone();
  ASSERT_TRUE(clone);
  ExpectInitialState(*clone);
}

TEST(FeatureCorrelatorTest, SharedBufferReferences) {
  auto buffer = SharedPtr<SharedWorkBuffer>::Make(6);
  EXPECT_EQ(buffer->capacity, 6);
  EXPECT_EQ(buffer->count, 0);
  ASSERT_NE(buffer->jobs, nullptr);
  EXPECT_EQ(buffer->jobs[5], nullptr);

  StubCorrelator c;
  c.SetSharedBuffer(buffer);
  EXPECT_EQ(buffer.RefCount(), 2);
  c.SetSharedBuffer(c.GetSharedBuffer());  // the held buffer again
  EXPECT_EQ(buffer.RefCount(), 2);
  c.SetSharedBuffer(buffer);
  EXPECT_EQ(buffer.RefCount(), 2);

  auto other = SharedPtr<SharedWorkBuffer>::Make(3);
  c.SetSharedBuffer(other);
  EXPECT_EQ(buffer.RefCount(), 1);
  EXPECT_EQ(other.RefCount(), 2);
  c.SetSharedBuffer(nullptr);
  EXPECT_EQ(other.RefCount(), 1);
  EXPECT_FALSE(c.GetSharedBuffer());

  {
    StubCorrelator holder;
    holder.SetSharedBuffer(other);
    EXPECT_EQ(other.RefCount(), 2);
  }
  EXPECT_EQ(other.RefCount(), 1);

  SharedWorkBuffer empty(0);
  EXPECT_EQ(empty.jobs, nullptr);
  EXPECT_EQ(empty.capacity, 0);
}

TEST(FeatureCorrelatorTest, NullImagesAreReportedNotFatal) {
  StubCorrelator c;
  FeatureImage image_a, image_b;
  FeatureImage* a = &image_a;
  FeatureImage* b = &image_b;
  {
    LogCapture log;
    EXPECT_FALSE(c.SetFeatureImages(nullptr, nullptr));
    EXPECT_TRUE(log.Has("Warning: first feature image == NULL"));
    EXPECT_TRUE(log.Has("Warning: second feature image == NULL"));
  }
  {
    LogCapture log;
    EXPECT_FALSE(c.SetFeatureImages(a, nullptr));
    EXPECT_FALSE(log.Has("first feature image"));
    EXPECT_TRUE(log.Has("second feature image == NULL"));
  }
  EXPECT_EQ(c.GetFirstImage(), a);
  EXPECT_EQ(c.GetSecondImage(), nullptr);
  EXPECT_EQ(c.image_calls, 2);

  LogCapture log;
  EXPECT_TRUE(c.SetFeatureImages(b, b));  // the same image twice (the preview) is valid
  EXPECT_TRUE(log.text.find("feature image") == std::string::npos);
  EXPECT_EQ(c.GetFirstImage(), b);
  EXPECT_EQ(c.GetSecondImage(), b);
  EXPECT_EQ(c.image_calls, 3);
}

TEST(FeatureCorrelatorTest, SetCameraCopiesAndNotifies) {
  StubCorrelator c;
  PerspectiveCamera camera;
  camera.SetFocalLength(35.0);
  camera.SetName("shot");
  c.SetCamera(camera);
  EXPECT_EQ(c.camera_calls, 1);
  EXPECT_DOUBLE_EQ(c.GetCamera().GetFocalLength(), 35.0);
  EXPECT_STREQ(c.GetCamera().GetName(), "shot");
  camera.SetFocalLength(50.0);
  EXPECT_DOUBLE_EQ(c.GetCamera().GetFocalLength(), 35.0);
}

}  // namespace
