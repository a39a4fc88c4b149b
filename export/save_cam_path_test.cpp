#include "export/save_cam_path.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "foundation/runtime/product_info.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_mapper.h"
#include "testing/thrown.h"

namespace {

// Keeps what Save hands over.
class RecordingWriter : public SaveCamPath {
 public:
  RecordingWriter() : SaveCamPath(nullptr, "out.txt") {}
  bool Export(const CameraList& cameras, const PointList& points) override {
    this->cameras = cameras;
    this->points = points;
    return result;
  }
  CameraList cameras;
  PointList points;
  bool result = true;
};

struct Owner : FeatureImageOwner {
  ImageCache* GetImageCache() override { return nullptr; }
};

// A tracked image: camera at centre c looking along +z with focal length 10 mm
// (1000 px of 0.01 mm), Poly3 distortion, a file name and one feature.
SharedPtr<FeatureImage> TrackedImage(Owner* owner, int index, vm::Vector3 c) {
  auto image = SharedPtr<FeatureImage>::Make(owner);
  image->Set(c, {0, 0, 1}, {1000, 0, 0}, {0, 1000, 0}, 640, 480, 1e-4, 0.01, 0.01, 0.0, 0, nullptr);
  image->SetImageIndex(index);
  image->SetFileIndex(100 + index);
  image->SetFileName("frame.png");
  image->AddFPoint2D(SharedPtr<FeaturePoint2D>::Make(image.Get(), 1.0, 2.0));
  return image;
}

SharedPtr<FeaturePoint3D> Point(double x, double y, double z, int cs, uint32_t flags = 0) {
  auto p = SharedPtr<FeaturePoint3D>::Make(x, y, z, cs);
  p->AssignFlags(flags);
  return p;
}

void ExpectNear(const vm::Vector3& a, const vm::Vector3& b, double tolerance = 1e-9) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

TEST(SaveCamPathTest, OutputPathFromDirectoryAndName) {
  struct Case {
    const char* directory;
    const char* file;
    const char* path;
  } cases[] = {
      {"shots/out", "cam.txt", "shots/out/cam.txt"},
      {nullptr, "cam.txt", "cam.txt"},
      {"50%", "cam%d.txt", "50%/cam%d.txt"},
      {"dir", nullptr, "dir/"},
      {nullptr, nullptr, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    struct Writer : SaveCamPath {
      using SaveCamPath::SaveCamPath;
      bool Export(const CameraList&, const PointList&) override { return true; }
    } writer(c.directory, c.file);
    EXPECT_EQ(writer.GetOutputPath(), c.path);
    EXPECT_EQ(writer.GetFramesPerSecond(), 25.0);
    EXPECT_EQ(writer.GetDistanceFactor(), 10.0);
    EXPECT_EQ(writer.GetCoordinateMode(), 0);
    EXPECT_EQ(writer.GetFileIndexNumbering(), 0);
    EXPECT_EQ(writer.GetImageCache(), nullptr);
  }
}

TEST(SaveCamPathTest, CamerasAreIndependentCopiesOfTheCameraAndIndices) {
  Owner owner;
  const SaveCamPath::CameraList tracked = {TrackedImage(&owner, 3, {1, 2, 3}),
                                           TrackedImage(&owner, 4, {5, 6, 7})};
  RecordingWriter writer;
  writer.result = false;
  EXPECT_FALSE(writer.Save(tracked, {}));  // Export's result is passed on

  ASSERT_EQ(writer.cameras.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const FeatureImage& copy = *writer.cameras[i];
    const FeatureImage& source = *tracked[i];
    EXPECT_NE(&copy, &source);
    EXPECT_EQ(copy.GetImageIndex(), source.GetImageIndex());
    EXPECT_EQ(copy.GetFileIndex(), source.GetFileIndex());
    EXPECT_EQ(copy.GetOwner(), &owner);
    EXPECT_EQ(copy.GetC(), source.GetC());
    EXPECT_EQ(copy.GetH(), source.GetH());
    EXPECT_EQ(copy.GetWidth(), 640u);
    EXPECT_EQ(copy.GetDistortionCoefficients()[0], 1e-4);
    EXPECT_STREQ(copy.GetFileName(), "");
    EXPECT_TRUE(copy.GetFPoints2D().empty());
  }
  writer.cameras[0]->SetFileIndex(-7);
  EXPECT_EQ(tracked[0]->GetFileIndex(), 103);
  EXPECT_TRUE(writer.points.empty());
}

TEST(SaveCamPathTest, PointsFilteredAndMadeCartesianInListOrder) {
  Owner owner;
  const vm::Vector3 centre{100, -50, 20};
  const SaveCamPath::CameraList tracked = {TrackedImage(&owner, 0, centre),
                                           TrackedImage(&owner, 1, {0, 0, 0})};
  const double azimuth = 0.3, elevation = -0.2;
  const SaveCamPath::FeaturePointList points = {
      Point(1, 2, 3, FeaturePoint3D::eCartesian),
      Point(9, 9, 9, FeaturePoint3D::eCartesian, FP3D_FLAG_REMOVED),
      Point(azimuth, elevation, 1.0, FeaturePoint3D::eSpherical),
      Point(8, 8, 8, FeaturePoint3D::eCartesian, FP3D_FLAG_NO_EXPORT),
      Point(4, 5, 6, FeaturePoint3D::eCartesian, FP3D_FLAG_PROTECTED),
  };
  RecordingWriter writer;
  EXPECT_TRUE(writer.Save(tracked, points));

  ASSERT_EQ(writer.points.size(), 3u);
  EXPECT_EQ(writer.points[0], (vm::Vector3{1, 2, 3}));
  // 10 focal lengths (10 mm each) from the first camera's centre along the direction.
  ExpectNear(writer.points[1], centre + SphericalDirection(azimuth, elevation) * 100.0);
  EXPECT_EQ(writer.points[2], (vm::Vector3{4, 5, 6}));
  EXPECT_EQ(points[2]->z, 1.0);  // the map's point is untouched

  // Points that are all removed or excluded reach the writer as an empty list.
  RecordingWriter none;
  EXPECT_TRUE(none.Save(tracked, {points[1], points[3]}));
  EXPECT_TRUE(none.points.empty());
  EXPECT_EQ(none.cameras.size(), 2u);
}

// Points come from parallel jobs in any order: they are written in the order their
// tracks are first seen (image by image, feature by feature), the unseen ones last in
// list order, whatever the list order was.
TEST(SaveCamPathTest, PointsInTheOrderTheirTracksAreFirstSeen) {
  Owner owner;
  const SharedPtr<FeaturePoint3D> a = Point(1, 0, 0, FeaturePoint3D::eCartesian);
  const SharedPtr<FeaturePoint3D> b = Point(2, 0, 0, FeaturePoint3D::eCartesian);
  const SharedPtr<FeaturePoint3D> c = Point(3, 0, 0, FeaturePoint3D::eCartesian);
  const SharedPtr<FeaturePoint3D> d = Point(4, 0, 0, FeaturePoint3D::eCartesian);
  const SharedPtr<FeaturePoint3D> e = Point(5, 0, 0, FeaturePoint3D::eCartesian);
  const SaveCamPath::CameraList tracked = {TrackedImage(&owner, 0, {0, 0, 0}),
                                           TrackedImage(&owner, 1, {1, 0, 0})};
  const SharedPtr<FeaturePoint3D>* seen[2][2] = {{&c, &a}, {&b, &a}};
  for (int k = 0; k < 2; ++k) {
    for (const SharedPtr<FeaturePoint3D>* point : seen[k]) {
      auto feature = SharedPtr<FeaturePoint2D>::Make(tracked[k].Get(), 1.0, 2.0);
      feature->SetFPoint3D(*point);
      tracked[k]->AddFPoint2D(feature);
    }
  }
  for (const SaveCamPath::FeaturePointList& list : {SaveCamPath::FeaturePointList{a, b, c, d, e},
                                                    SaveCamPath::FeaturePointList{e, c, b, d, a}}) {
    RecordingWriter writer;
    EXPECT_TRUE(writer.Save(tracked, list));
    std::vector<double> order;
    for (const vm::Vector3& p : writer.points) order.push_back(p.x);
    const std::vector<double> unseen =
        list[0] == a ? std::vector<double>{4, 5} : std::vector<double>{5, 4};
    EXPECT_EQ(order, (std::vector<double>{3, 1, 2, unseen[0], unseen[1]}));
  }
}

TEST(SaveCamPathTest, CoordinateModes) {
  Owner owner;
  const SaveCamPath::CameraList tracked = {TrackedImage(&owner, 0, {1, 2, 3})};
  const SaveCamPath::FeaturePointList points = {Point(4, 5, 6, FeaturePoint3D::eCartesian)};
  struct Case {
    int mode;
    double sign;  // of y and z
  } cases[] = {{0, 1.0}, {1, -1.0}, {2, 1.0}, {-1, 1.0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    RecordingWriter writer;
    writer.SetCoordinateMode(c.mode);
    ASSERT_TRUE(writer.Save(tracked, points));
    ExpectNear(writer.points[0], {4, 5 * c.sign, 6 * c.sign});
    const FeatureImage& camera = *writer.cameras[0];
    ExpectNear(camera.GetC(), {1, 2 * c.sign, 3 * c.sign});
    ExpectNear(camera.GetA(), {0, 0, c.sign});
    ExpectNear(camera.V0(), {0, c.sign, 0});
    ExpectNear(camera.H0(), {1, 0, 0});
    ExpectNear(tracked[0]->GetC(), {1, 2, 3});
  }
}

TEST(SaveCamPathTest, EmptyCameraListThrows) {
  RecordingWriter writer;
  const SaveCamPath::FeaturePointList points = {Point(4, 5, 6, FeaturePoint3D::eCartesian)};
  EXPECT_EQ(kxtest::Thrown([&] { writer.Save({}, points); }),
            "SaveCamPath::Save: empty camera list!");
}

TEST(SaveCamPathTest, NamesAndTheTwoDimensionalEntry) {
  EXPECT_EQ(ProductInfo::GetMakerName(), "TORBANE");
  EXPECT_EQ(SaveCamPath::GetObjectName(), "TORBANE");
  EXPECT_EQ(SaveCamPath::GetCameraName(), "TORBANE_cam");

  RecordingWriter writer;
  EXPECT_FALSE(writer.Save2DTrack(SharedPtr<FeaturePoint2D>::Make()));
}

}  // namespace
