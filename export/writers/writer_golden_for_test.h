// Test helper for golden files of the scene writers (3ds Max, dotXSI, Maya, FBX):
//
//   kxtest::TurnedCamera(), GoldenCameras(), EightPoints()
//                          a solve for golden files: three cameras at images 10 to 12
//                          (files 100 to 102), one upright, and eight points
//   kxtest::WriterTest<W>  a writer's test with the creation time and product fixed
//   kxtest::ExpectGoldenFile  a file against testdata/export, in the C locale and with a
//                          decimal comma
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <locale>
#include <optional>
#include <string>

#include "export/save_cam_path.h"
#include "export/writer_support.h"
#include "export/writers/writer_fixture_for_test.h"
#include "testing/locale.h"
#include "testing/temp_dir.h"

namespace kxtest {

inline constexpr double kGoldenPi = 3.14159265358979323846;

// A camera whose axes are [H0 V0 A] = Ry(pan) Rx(tilt) Rz(roll) (degrees), centre c in mm,
// focal length in mm, principal point (xp, yp) in pixels from the image centre.
inline SharedPtr<FeatureImage> TurnedCamera(int image_index, int file_index, double pan,
                                            double tilt, double roll, vm::Vector3 c, double focal,
                                            uint32_t width = 1920, uint32_t height = 1080,
                                            double sx = 0.01, double sy = 0.011, double xp = 0.0,
                                            double yp = 0.0) {
  const double p = pan * kGoldenPi / 180, t = tilt * kGoldenPi / 180, r = roll * kGoldenPi / 180;
  const double cp = std::cos(p), sp = std::sin(p), ct = std::cos(t), st = std::sin(t),
               cr = std::cos(r), sr = std::sin(r);
  // Columns of Ry(p) Rx(t) Rz(r).
  const vm::Vector3 h0{cp * cr + sp * st * sr, ct * sr, -sp * cr + cp * st * sr};
  const vm::Vector3 v0{-cp * sr + sp * st * cr, ct * cr, sp * sr + cp * st * cr};
  const vm::Vector3 a{sp * ct, -st, cp * ct};
  const double fx = focal / sx, fy = focal / sy;
  const vm::Vector3 h{fx * h0.x + xp * a.x, fx * h0.y + xp * a.y, fx * h0.z + xp * a.z};
  const vm::Vector3 v{fy * v0.x + yp * a.x, fy * v0.y + yp * a.y, fy * v0.z + yp * a.z};
  auto image = SharedPtr<FeatureImage>::Make();
  image->Set(c, a, h, v, width, height, 0.0, sx, sy, 0.0, 0, nullptr);
  image->SetImageIndex(image_index);
  image->SetFileIndex(file_index);
  return image;
}

// Three cameras at image indices 10, 11, 12 (files 100 to 102): upright at the origin,
// then turned by distinct pan, tilt and roll, one with an off-centre principal point.
inline SaveCamPath::CameraList GoldenCameras() {
  return {TurnedCamera(10, 100, 0, 0, 0, {0, 0, 0}, 35),
          TurnedCamera(11, 101, 20, -10, 5, {120.5, -40.25, 300}, 36),
          TurnedCamera(12, 102, -35, 15, -8, {250, -80, 650.125}, 37.5, 1920, 1080, 0.01, 0.011,
                       12.5, -4)};
}

// Eight points: enough for the longest first line of the formats that wrap, with a
// negative zero and a tiny and a large coordinate.
inline SaveCamPath::PointList EightPoints() {
  return {{1.5, -2.25, 3000}, {-10, 20.125, 2500.5}, {-0.0, 0.0, 1000},        {1e-5, 7, -1234567},
          {100, 200, 300},    {-100.25, 0.5, 4000},  {33.3333333, -66.6, 999}, {5, 5, 5}};
}

// Fixes the creation time at 2012-06-14 09:05:03 in UTC, the local time zone for the scope.
class FixedCreationTime {
 public:
  FixedCreationTime() {
    const char* tz = std::getenv("TZ");
    if (tz != nullptr) saved_tz_ = tz;
    ::setenv("TZ", "UTC0", 1);
    ::tzset();
    SetCreationTimeForTest(1339664703);
  }
  ~FixedCreationTime() {
    SetCreationTimeForTest(0);
    if (saved_tz_) {
      ::setenv("TZ", saved_tz_->c_str(), 1);
    } else {
      ::unsetenv("TZ");
    }
    ::tzset();
  }
  FixedCreationTime(const FixedCreationTime&) = delete;
  FixedCreationTime& operator=(const FixedCreationTime&) = delete;

 private:
  std::optional<std::string> saved_tz_;
};

// A writer's test: product information and creation time fixed, a temporary directory.
template <typename Writer>
class WriterTest : public testing::Test {
 protected:
  // Exports the lists (as Save hands them over) to <dir>/<file name> after `setup` and
  // returns the file.
  std::string Write(const SaveCamPath::CameraList& cameras, const SaveCamPath::PointList& points,
                    const std::function<void(Writer&)>& setup = nullptr) {
    Writer writer(dir_.path().c_str(), file_name_);
    if (setup) setup(writer);
    EXPECT_TRUE(writer.Export(cameras, points));
    return ReadText(dir_.File(file_name_));
  }
  // Writes the fixture solve (ThreeCameras, EightPoints) and compares it with the golden
  // file of that name (see ExpectGoldenFile).
  void ExpectGolden(const std::string& golden);

  const char* file_name_ = "scene";
  ReleaseVersion product_;
  FixedCreationTime time_;
  TempDir dir_;
};

// Runs `write` (which writes the file at `path`) once in the classic locale and once with
// a decimal comma in the process's C and C++ locales; both must give the golden file
// testdata/export/<golden>, in which the file's directory reads "<dir>".
// KALVEX_UPDATE_GOLDEN=1 rewrites the golden file instead.
inline void ExpectGoldenFile(const std::function<void()>& write, const std::string& path,
                             const std::string& golden) {
  const std::string golden_path = std::string(KALVEX_SOURCE_DIR) + "/testdata/export/" + golden;
  const std::string directory = path.substr(0, path.rfind('/'));
  const auto read = [&] {
    std::string text = ReadText(path);
    for (size_t at = text.find(directory); at != std::string::npos; at = text.find(directory)) {
      text.replace(at, directory.size(), "<dir>");
    }
    return text;
  };
  write();
  const std::string text = read();
  const char* update = std::getenv("KALVEX_UPDATE_GOLDEN");
  if (update != nullptr && std::string(update) == "1") {
    std::ofstream(golden_path, std::ios::binary) << text;
  }
  EXPECT_EQ(text, ReadText(golden_path)) << golden;

  struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  DecimalCommaLocale comma;
  const std::locale saved =
      std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
  write();
  std::locale::global(saved);
  EXPECT_EQ(read(), text) << golden << " under a decimal comma";
}

template <typename Writer>
void WriterTest<Writer>::ExpectGolden(const std::string& golden) {
  ExpectGoldenFile([&] { Write(GoldenCameras(), EightPoints()); }, dir_.File(file_name_), golden);
}

}  // namespace kxtest
