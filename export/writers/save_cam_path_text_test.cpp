#include "export/writers/save_cam_path_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "export/writers/export_fixture_for_test.h"
#include "foundation/tracks/feature_flags.h"
#include "testing/locale.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace {

SharedPtr<FeatureImage> Camera(int file_index, vm::Vector3 c, vm::Vector3 a, vm::Vector3 h,
                               vm::Vector3 v, uint32_t width, uint32_t height, double sx,
                               double sy) {
  auto image = SharedPtr<FeatureImage>::Make();
  image->Set(c, a, h, v, width, height, 0.0, sx, sy, 0.0, 0, nullptr);
  image->SetImageIndex(file_index - 12);
  image->SetFileIndex(file_index);
  return image;
}

// Two cameras: one at the origin looking along +z (10 mm), one turned about Y with an
// off-centre principal point and non-square pixels (12 mm).
SaveCamPath::CameraList TwoCameras() {
  return {Camera(12, {0, 0, 0}, {0, 0, 1}, {1000, 0, 0}, {0, 1000, 0}, 720, 576, 0.01, 0.01),
          Camera(13, {100.5, -50.25, 2000}, {0.6, 0, 0.8}, {966, 0, -712}, {-3, 1200, -4}, 1920,
                 1080, 0.01, 0.011)};
}

SaveCamPath::FeaturePointList TwoPointsAndARemovedOne() {
  auto removed = SharedPtr<FeaturePoint3D>::Make(9.0, 9.0, 9.0, FeaturePoint3D::eCartesian);
  removed->SetFlags(FP3D_FLAG_REMOVED);
  return {SharedPtr<FeaturePoint3D>::Make(1.5, -2.25, 3000.0, FeaturePoint3D::eCartesian), removed,
          SharedPtr<FeaturePoint3D>::Make(-10.0, 20.125, 2500.5, FeaturePoint3D::eCartesian)};
}

class SaveCamPathTextTest : public testing::Test {
 protected:
  // Writes the fixture through Save and returns the file with the date masked.
  std::string Write(const SaveCamPath::FeaturePointList& points) {
    SaveCamPathText writer(dir_.path().c_str(), "cams.txt");
    EXPECT_TRUE(writer.Save(TwoCameras(), points));
    return kxtest::MaskDates(kxtest::ReadText(dir_.File("cams.txt")), "# Creation date: ", "\n",
                             "Aaa Aaa dd dd:dd:dd dddd");
  }

  kxtest::ReleaseVersion version_;
  kxtest::TempDir dir_;
};

TEST_F(SaveCamPathTextTest, GoldenFile) {
  const std::string golden =
      kxtest::ReadText(std::string(KALVEX_SOURCE_DIR) + "/testdata/export/text_export.txt");
  ASSERT_FALSE(golden.empty());
  // A decimal comma in the process's locales (C and C++) changes nothing.
  EXPECT_EQ(kxtest::WriteInBothLocales([&] { return Write(TwoPointsAndARemovedOne()); }), golden);
}

TEST_F(SaveCamPathTextTest, WithoutPointsTheFileEndsAfterOneEmptyLine) {
  const std::string with_points = Write(TwoPointsAndARemovedOne());
  const size_t section = with_points.find("#\n# 3D Feature Points\n");
  ASSERT_NE(section, std::string::npos);
  EXPECT_EQ(with_points.substr(with_points.size() - 3), "\n\n\n");  // last point, two empty

  EXPECT_EQ(Write({}), with_points.substr(0, section) + "\n");
  // Points that are all excluded leave the same file.
  EXPECT_EQ(Write({TwoPointsAndARemovedOne()[1]}), with_points.substr(0, section) + "\n");
}

TEST_F(SaveCamPathTextTest, ZeroFocalLengthGivesAFieldOfViewOf180Degrees) {
  // H along the axis: no focal length (H0 is reported as zero).
  SaveCamPathText writer(dir_.path().c_str(), "flat.txt");
  kxtest::LogCapture log;
  ASSERT_TRUE(writer.Export(
      {Camera(1, {0, 0, 0}, {0, 0, 1}, {0, 0, 5}, {0, 1000, 0}, 720, 576, 0.01, 0.01)}, {}));
  EXPECT_NE(kxtest::ReadText(dir_.File("flat.txt"))
                .find("\t0.0000000000\t180.0000000000\t0.0100000000\t0.0100000000\n"),
            std::string::npos);
}

TEST_F(SaveCamPathTextTest, FailuresAreReportedAndNothingIsClaimed) {
  kxtest::ExpectFailuresReported(
      [](const char* directory, const char* file) {
        return std::make_unique<SaveCamPathText>(directory, file);
      },
      "SaveCamPathText::Export");
}

TEST_F(SaveCamPathTextTest, HasNoTwoDimensionalTrackEntry) {
  SaveCamPathText writer(dir_.path().c_str(), "track.txt");
  EXPECT_FALSE(writer.Save2DTrack(SharedPtr<FeaturePoint2D>::Make()));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("track.txt")));
}

}  // namespace
