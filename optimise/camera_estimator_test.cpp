#include "optimise/camera_estimator.h"

#include <gtest/gtest.h>

#include "testing/log_capture.h"

namespace {

// Counts the hook calls; Run is not part of what is tested here.
class HookCounter : public CameraEstimator {
 public:
  bool Run(PerspectiveCamera*) override { return false; }
  void InitCameraChanged() override { ++init; }
  void PreviousCameraChanged() override { ++previous; }
  void CurrentCameraChanged() override { ++current; }
  int init = 0, previous = 0, current = 0;
};

TEST(CameraEstimatorTest, SettersCopyTheCameraThenCallTheirHook) {
  HookCounter estimator;
  PerspectiveCamera camera;
  camera.SetFocalLength(12.5);
  estimator.SetInitCamera(camera);
  estimator.SetPreviousCamera(camera);
  estimator.SetPreviousCamera(camera);
  estimator.SetCurrentCamera(camera);
  EXPECT_EQ(estimator.init, 1);
  EXPECT_EQ(estimator.previous, 2);
  EXPECT_EQ(estimator.current, 1);
  EXPECT_DOUBLE_EQ(estimator.GetCurrentCamera().GetFocalLength(), 12.5);
  camera.SetFocalLength(30.0);
  EXPECT_DOUBLE_EQ(estimator.GetInitCamera().GetFocalLength(), 12.5);
}

TEST(CameraEstimatorTest, ErrorBeforeAnyRunInPixelsUsesThePreviousCamera) {
  HookCounter estimator;
  EXPECT_EQ(estimator.GetError(false), 1e32);
  // Default pixel size 0.1 mm.
  EXPECT_DOUBLE_EQ(estimator.GetError(true), 1e32 / (0.1 * 0.1));
}

TEST(CameraEstimatorTest, BaseCorrespondenceFormsOnlyLog) {
  HookCounter estimator;
  kxtest::LogCapture log;
  estimator.SetCorrespondences(t_ListFCorr(), nullptr, nullptr);
  estimator.SetCorrespondences(FeatureCorrespondenceIterator(nullptr, 1, true), nullptr, nullptr);
  EXPECT_TRUE(log.Has("parameter: t_ListFCorr, does nothing"));
  EXPECT_TRUE(log.Has("parameter: FeatureCorrespondenceIterator, does nothing"));
}

}  // namespace
