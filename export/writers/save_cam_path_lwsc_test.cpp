#include "export/writers/save_cam_path_lwsc.h"

#include <gtest/gtest.h>

#include <string>

#include "export/writers/writer_fixture_for_test.h"
#include "testing/log_capture.h"

namespace {

using kxtest::FourPoints;
using kxtest::ThreeCameras;

class SaveCamPathLWSCTest : public testing::Test {
 protected:
  std::string Write(const SaveCamPath::PointList& points, double fps) {
    SaveCamPathLWSC writer(dir_.path().c_str(), "scene.lws");
    writer.SetFramesPerSecond(fps);
    EXPECT_TRUE(writer.Export(ThreeCameras(), points));
    return kxtest::ReadText(dir_.File("scene.lws"));
  }
  kxtest::TempDir dir_;
};

TEST_F(SaveCamPathLWSCTest, GoldenFile) {
  const std::string golden = kxtest::GoldenText("lightwave.lws");
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(kxtest::WriteInBothLocales([&] { return Write(FourPoints(), 29.97); }), golden);
}

TEST_F(SaveCamPathLWSCTest, RateAndPointsChangeOnlyTheirLines) {
  const std::string with_points = Write(FourPoints(), 29.97);
  const std::string plain = Write({}, 25.0);
  EXPECT_NE(plain.find("\nFramesPerSecond 25\n"), std::string::npos);
  // Without points the scene null is followed by the camera, still parented to it.
  const size_t nulls = with_points.find("AddNullObject auto~0\n");
  const size_t camera = with_points.find("ShowCamera 1 4\n");
  ASSERT_NE(nulls, std::string::npos);
  ASSERT_NE(camera, std::string::npos);
  std::string expected = with_points.substr(0, nulls) + with_points.substr(camera);
  const std::string rate = "FramesPerSecond 29.97\n";
  expected.replace(expected.find(rate), rate.size(), "FramesPerSecond 25\n");
  EXPECT_EQ(plain, expected);
}

}  // namespace
