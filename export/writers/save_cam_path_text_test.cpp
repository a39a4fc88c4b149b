#include "export/writers/save_cam_path_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <filesystem>
#include <locale>
#include <string>

#include "export/writers/writer_fixture_for_test.h"
#include "foundation/runtime/product_info.h"
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
  void SetUp() override {
    ProductInfo::SetVersion(1, 6, 0);
    ProductInfo::SetReleaseKind(ProductInfo::kFinal);
  }
  void TearDown() override {
    ProductInfo::SetVersion(1, 0, 0);
    ProductInfo::SetReleaseKind(ProductInfo::kAlpha);
  }

  // Writes the fixture through Save and returns the file with the date masked.
  std::string Write(const SaveCamPath::FeaturePointList& points) {
    SaveCamPathText writer(dir_.path().c_str(), "cams.txt");
    EXPECT_TRUE(writer.Save(TwoCameras(), points));
    return kxtest::MaskDate(kxtest::ReadText(dir_.File("cams.txt")));
  }

  kxtest::TempDir dir_;
};

TEST_F(SaveCamPathTextTest, GoldenFile) {
  const std::string golden =
      kxtest::ReadText(std::string(KALVEX_SOURCE_DIR) + "/testdata/export/text_export.txt");
  ASSERT_FALSE(golden.empty());
  EXPECT_EQ(Write(TwoPointsAndARemovedOne()), golden);

  // A decimal comma in the process's locales (C and C++) changes nothing.
  struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  kxtest::DecimalCommaLocale comma;  // the C locale, when the system can build one
  const std::locale saved =
      std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
  const std::string text = Write(TwoPointsAndARemovedOne());
  std::locale::global(saved);
  EXPECT_EQ(text, golden);
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
  struct Case {
    const char* name;
    std::string directory;
    const char* file;
    bool cameras;
    std::string message;
  } cases[] = {
      {"full device", "/dev", "full", true,
       "SaveCamPathText::Export: write file \"/dev/full\" failed !!"},
      {"missing directory", dir_.File("missing"), "cams.txt", true,
       "SaveCamPathText::Export: open file \"" + dir_.File("missing") + "/cams.txt\" failed !!"},
      {"no cameras", dir_.path(), "empty.txt", false,
       "SaveCamPathText::Export: empty camera list!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SaveCamPathText writer(c.directory.c_str(), c.file);
    kxtest::LogCapture log(5);
    const SaveCamPath::CameraList cameras = c.cameras ? TwoCameras() : SaveCamPath::CameraList();
    EXPECT_FALSE(writer.Export(cameras, {{1, 2, 3}}));
    EXPECT_TRUE(log.Has(c.message)) << log.text;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.File("empty.txt")));
}

TEST_F(SaveCamPathTextTest, HasNoTwoDimensionalTrackEntry) {
  SaveCamPathText writer(dir_.path().c_str(), "track.txt");
  EXPECT_FALSE(writer.Save2DTrack(SharedPtr<FeaturePoint2D>::Make()));
  EXPECT_FALSE(std::filesystem::exists(dir_.File("track.txt")));
}

}  // namespace
