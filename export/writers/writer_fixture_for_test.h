// Test helper for the camera-path writers: a small fixed camera path and point set, and
// the masking of the creation date in headers.
//
//   kxtest::PathCameras()  two cameras with known pan, tilt and roll (kPans, kTilts,
//                          kRolls, degrees), 720 x 576 pixels of 0.05 x 0.055 mm, focal
//                          length 35 mm (a sensor 36 mm wide), image indices 10 and 11,
//                          file indices 100 and 101
//   kxtest::PathPoints()   two points, one with y = 0 (its negation is a negative zero)
//   kxtest::MaskDate(text) the text with the date after "Creation date: " replaced by
//                          "<date>", after checking that it has the form
//                          "Www Mmm dd hh:mm:ss yyyy"
//   kxtest::PosedCamera(), ThreeCameras(), EightPoints()
//                          a solve for golden files: three cameras at images 10 to 12
//                          (files 100 to 102), one upright, and eight points
//   kxtest::WriterTest<W>  a writer's test with the creation time and product fixed
//   kxtest::ExpectGoldenFile  a file against testdata/export, in the C locale and with a
//                          decimal comma
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
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
#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/product_info.h"
#include "testing/locale.h"
#include "testing/temp_dir.h"

namespace kxtest {

inline constexpr double kPans[2] = {30.0, 35.0};
inline constexpr double kTilts[2] = {-20.0, -18.0};
inline constexpr double kRolls[2] = {5.0, 4.0};

// A camera at c turned by pan, tilt and roll (degrees) from looking along +z.
inline SharedPtr<FeatureImage> PathCamera(int image_index, vm::Vector3 c, double pan, double tilt,
                                          double roll) {
  constexpr double kRadians = 0.017453292519943295;
  auto image = SharedPtr<FeatureImage>::Make();
  image->Set(c, {0, 0, 1}, {700, 0, 0}, {0, 636.3636363636364, 0}, 720, 576, 0.0, 0.05, 0.055, 0.0,
             0, nullptr);
  SetCameraPTRF(*image, pan * kRadians, tilt * kRadians, roll * kRadians, 35.0);
  image->SetImageIndex(image_index);
  image->SetFileIndex(image_index + 90);
  return image;
}

inline SaveCamPath::CameraList PathCameras() {
  return {PathCamera(10, {100, -50, 2000}, kPans[0], kTilts[0], kRolls[0]),
          PathCamera(11, {150.5, -40.25, 1990}, kPans[1], kTilts[1], kRolls[1])};
}

inline SaveCamPath::PointList PathPoints() {
  return {{1.5, -2.25, 3000}, {-10, 0, 2500.5}};
}

inline std::string MaskDate(const std::string& text) {
  const std::string label = "Creation date: ";
  const size_t at = text.find(label);
  if (at == std::string::npos) {
    ADD_FAILURE() << "no creation date in:\n" << text;
    return text;
  }
  const size_t start = at + label.size();
  const std::string date = text.substr(start, 25);
  // A upper-case letter, a lower-case letter, d digit, _ digit or blank; the rest literal.
  const std::string form = "Aaa Aaa _d dd:dd:dd dddd\n";
  bool ok = date.size() == form.size();
  for (size_t i = 0; ok && i < form.size(); ++i) {
    const char c = date[i];
    switch (form[i]) {
      case 'A':
        ok = c >= 'A' && c <= 'Z';
        break;
      case 'a':
        ok = c >= 'a' && c <= 'z';
        break;
      case 'd':
        ok = c >= '0' && c <= '9';
        break;
      case '_':
        ok = c == ' ' || (c >= '0' && c <= '9');
        break;
      default:
        ok = c == form[i];
    }
  }
  EXPECT_TRUE(ok) << "creation date \"" << date << "\"";
  return text.substr(0, start) + "<date>\n" + text.substr(std::min(start + 25, text.size()));
}

constexpr double kPi = 3.14159265358979323846;

// A camera whose axes are [H0 V0 A] = Ry(pan) Rx(tilt) Rz(roll) (degrees), centre c in mm,
// focal length in mm, principal point (xp, yp) in pixels from the image centre.
inline SharedPtr<FeatureImage> PosedCamera(int image_index, int file_index, double pan, double tilt,
                                           double roll, vm::Vector3 c, double focal,
                                           uint32_t width = 1920, uint32_t height = 1080,
                                           double sx = 0.01, double sy = 0.011, double xp = 0.0,
                                           double yp = 0.0) {
  const double p = pan * kPi / 180, t = tilt * kPi / 180, r = roll * kPi / 180;
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
inline SaveCamPath::CameraList ThreeCameras() {
  return {PosedCamera(10, 100, 0, 0, 0, {0, 0, 0}, 35),
          PosedCamera(11, 101, 20, -10, 5, {120.5, -40.25, 300}, 36),
          PosedCamera(12, 102, -35, 15, -8, {250, -80, 650.125}, 37.5, 1920, 1080, 0.01, 0.011,
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

// Product information as this system sets it at start-up, for the scope.
class ReleaseProductInfo {
 public:
  ReleaseProductInfo() {
    ProductInfo::SetVersion(1, 6, 0);
    ProductInfo::SetReleaseKind(ProductInfo::kFinal);
  }
  ~ReleaseProductInfo() {
    ProductInfo::SetVersion(1, 0, 0);
    ProductInfo::SetReleaseKind(ProductInfo::kAlpha);
  }
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
  ReleaseProductInfo product_;
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
  ExpectGoldenFile([&] { Write(ThreeCameras(), EightPoints()); }, dir_.File(file_name_), golden);
}

}  // namespace kxtest
