#include "export/writers/save_cam_path_houdini.h"

#include <gtest/gtest.h>

#include <string>

#include "export/writers/writer_fixture_for_test.h"
#include "testing/temp_dir.h"

namespace {

class SaveCamPathHoudiniTest : public testing::Test {
 protected:
  std::string Write(const SaveCamPath::CameraList& cameras) {
    SaveCamPathHoudini writer(dir_.path().c_str(), "camera.clip");
    EXPECT_TRUE(writer.Export(cameras, kxtest::PathPoints()));
    return kxtest::ReadText(dir_.File("camera.clip"));
  }
  // The data line of a track.
  static std::string Data(const std::string& text, const std::string& track) {
    const size_t name = text.find("name = " + track + "\n");
    if (name == std::string::npos) return "no track " + track;
    const size_t data = text.find("data = ", name);
    return text.substr(data, text.find('\n', data) + 1 - data);
  }
  kxtest::TempDir dir_;
};

TEST_F(SaveCamPathHoudiniTest, GoldenFile) {
  const std::string golden =
      kxtest::ReadText(std::string(KALVEX_SOURCE_DIR) + "/testdata/export/houdini_camera.clip");
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(Write(kxtest::PathCameras()), golden);
}

TEST_F(SaveCamPathHoudiniTest, RotationsAreTurnedByHalfATurn) {
  const struct {
    double tilt;  // degrees
    const char* rx;
  } cases[] = {
      {0.0, "data = 180 \n"},
      {0.001 * 57.29577951308232, "data = -179.943 \n"},
      {-0.001 * 57.29577951308232, "data = 179.943 \n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tilt);
    const std::string text = Write({kxtest::PathCamera(0, {1, 2, 3}, 0.0, c.tilt, 0.0)});
    EXPECT_EQ(Data(text, "Rx"), c.rx);
    EXPECT_EQ(Data(text, "Px"), "data = 1 \n");
    if (c.tilt == 0.0) {
      EXPECT_EQ(Data(text, "Ry"), "data = 180 \n");
      EXPECT_EQ(Data(text, "Rz"), "data = 180 \n");
    }
  }
}

TEST_F(SaveCamPathHoudiniTest, FovCountsImageIndicesAndKeepsTheFirstCamera) {
  // 32 x 35 mm / 36 mm of sensor.
  SaveCamPath::CameraList ten;
  for (int i = 5; i <= 14; ++i) ten.push_back(kxtest::PathCamera(i, {0, 0, 0}, 0, 0, 0));
  ten.back()->SetFocalLength(70.0);
  std::string ten_values = "data = ";
  for (int i = 0; i < 10; ++i) ten_values += "31.1111 ";
  EXPECT_EQ(Data(Write(ten), "FOV"), ten_values + "\n");

  // A gap in the indices lengthens it; a last index before the first empties it.
  const SaveCamPath::CameraList gap = {kxtest::PathCamera(5, {0, 0, 0}, 0, 0, 0),
                                       kxtest::PathCamera(7, {0, 0, 0}, 0, 0, 0)};
  const std::string text = Write(gap);
  EXPECT_NE(text.find("tracklength = 2\n"), std::string::npos);
  EXPECT_EQ(Data(text, "FOV"), "data = 31.1111 31.1111 31.1111 \n");
  const SaveCamPath::CameraList backwards = {kxtest::PathCamera(7, {0, 0, 0}, 0, 0, 0),
                                             kxtest::PathCamera(5, {0, 0, 0}, 0, 0, 0)};
  EXPECT_EQ(Data(Write(backwards), "FOV"), "data = \n");
}

}  // namespace
