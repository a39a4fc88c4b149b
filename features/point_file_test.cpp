#include "features/point_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "features/feature_image.h"
#include "foundation/project/project_bytes_for_test.h"

namespace {

using kxtest::LogCapture;
using FeaturePtr = SharedPtr<FeaturePoint2D>;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::string TempPath(const std::string& stem) {
  return testing::TempDir() + "kx_fpoint_" + std::to_string(getpid()) + "_" + stem;
}

FeaturePtr Add(FeatureImage& image, double x, double y, uint32_t flags = 0) {
  auto f = FeaturePtr::Make(&image, x, y);
  f->AssignFlags(flags);
  image.AddFPoint2D(f);
  return f;
}

TEST(PointFileTest, FileContents) {
  FeatureImage before, image;
  const std::string path = TempPath("contents.fpt");
  FeaturePointIO io;
  EXPECT_EQ(io.GetPrecision(), 12);
  ASSERT_TRUE(io.Save(&image, path.c_str()));
  EXPECT_EQ(ReadAll(path), "#FPOINT V2.0\n");

  // Automatic, linked to Cartesian point (1, 2, 3) with Id 7, no predecessor.
  FeaturePtr a = Add(image, 10.5, 20.25, FP2D_FLAG_QUOTA);
  auto cartesian = SharedPtr<FeaturePoint3D>::Make(1.0, 2.0, 3.0, FeaturePoint3D::eCartesian);
  cartesian->SetId(7);
  a->SetFPoint3D(cartesian);
  // User-placed, no 3D point, predecessor with flags 1 from (9, 19).
  FeaturePtr b = Add(image, 11, 21, FP2D_FLAG_MANUAL);
  auto earlier = FeaturePtr::Make(&before, 9.0, 19.0);
  auto link = SharedPtr<FeatureCorrespondence>::Make(earlier, b);
  earlier->SetSuccessor(link);
  b->SetPredecessor(link);
  // Spherical point: azimuth, elevation, radius; digits beyond 12 are cut, tiny values
  // switch to the exponent form; a predecessor with flags above 2^31.
  FeaturePtr c = Add(image, 1.0 / 3.0, 0.00001, 0);
  auto spherical =
      SharedPtr<FeaturePoint3D>::Make(-0.5, 0.25, 123456789012345.0, FeaturePoint3D::eSpherical);
  spherical->SetId(40000);
  c->SetFPoint3D(spherical);
  auto earlier_c = FeaturePtr::Make(&before, 2.0, 3.0);
  auto link_c = SharedPtr<FeatureCorrespondence>::Make(earlier_c, c);
  link_c->SetFlags(0x80000041u);
  c->SetPredecessor(link_c);
  earlier_c->SetSuccessor(link_c);
  // Anchors are not written.
  image.AddAnchor(FeaturePtr::Make(&image, 5.0, 5.0));

  const std::locale saved = std::locale::global(std::locale::classic());
  try {
    std::locale::global(std::locale("de_DE.UTF-8"));
  } catch (const std::runtime_error&) {
  }
  const bool ok = io.Save(&image, path.c_str());
  std::locale::global(saved);
  ASSERT_TRUE(ok);
  EXPECT_EQ(
      ReadAll(path),
      "#FPOINT V2.0\n"
      "10.5\t20.25\t0\t2\t1\t2\t3\t7\t0\t0\t0\t0\n"
      "11\t21\t1\t0\t0\t0\t0\t0\t1\t9\t19\t1\n"
      "0.333333333333\t1e-05\t0\t1\t-0.5\t0.25\t1.23456789012e+14\t40000\t1\t2\t3\t2147483713\n");

  io.SetPrecision(3);
  ASSERT_TRUE(io.Save(&image, path.c_str()));
  std::istringstream lines(ReadAll(path));
  std::string line;
  for (int i = 0; i < 4; ++i) std::getline(lines, line);
  EXPECT_EQ(line, "0.333\t1e-05\t0\t1\t-0.5\t0.25\t1.23e+14\t40000\t1\t2\t3\t2147483713");

  for (const FeaturePtr& f : {b, c}) UnlinkFromTrack(f);
  std::remove(path.c_str());
}

TEST(PointFileTest, FailuresReturnFalse) {
  FeatureImage image;
  Add(image, 1, 2);
  FeaturePointIO io;
  const std::string missing_dir = TempPath("no_such_dir") + "/x.fpt";
  const struct {
    const FeatureImage* image;
    const char* path;
    const char* message;
  } cases[] = {
      {nullptr, "x.fpt", "Warning: input fimage==NULL"},
      {&image, nullptr, "Warning: input name==NULL"},
      {&image, missing_dir.c_str(), "failed !"},
      {&image, "/dev/full", "Warning: writing file \"/dev/full\" failed !"},
  };
  for (const auto& k : cases) {
    LogCapture log;
    EXPECT_FALSE(io.Save(k.image, k.path)) << k.message;
    EXPECT_TRUE(log.Has(k.message)) << log.text;
  }
}

}  // namespace
