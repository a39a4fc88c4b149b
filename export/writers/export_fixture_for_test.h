// Test fixture of the camera-path writers: a small solved shot with known numbers, date
// masking, the decimal-comma run and the failure table every writer shares.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <functional>
#include <locale>
#include <memory>
#include <string>

#include "export/save_cam_path.h"
#include "foundation/runtime/product_info.h"
#include "testing/locale.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace kxtest {

// The product version 1.6.0 (final) while it lives, as the golden files have it.
struct ReleaseVersion {
  ReleaseVersion() {
    ProductInfo::SetVersion(1, 6, 0);
    ProductInfo::SetReleaseKind(ProductInfo::kFinal);
  }
  ~ReleaseVersion() {
    ProductInfo::SetVersion(1, 0, 0);
    ProductInfo::SetReleaseKind(ProductInfo::kAlpha);
  }
  ReleaseVersion(const ReleaseVersion&) = delete;
  ReleaseVersion& operator=(const ReleaseVersion&) = delete;
};

constexpr double kRadians = 3.14159265358979323846 / 180.0;

// A camera whose rotation is Ry(pan) Rx(tilt) Rz(roll) (degrees; columns H0, V0, A), with
// focal length f (mm), the principal point at the image centre and pixels sx x sy (mm).
inline SharedPtr<FeatureImage> PosedCamera(int image_index, int file_index, vm::Vector3 c,
                                           double pan, double tilt, double roll, double f,
                                           uint32_t width, uint32_t height, double sx, double sy) {
  const double cp = std::cos(pan * kRadians), sp = std::sin(pan * kRadians);
  const double ct = std::cos(tilt * kRadians), st = std::sin(tilt * kRadians);
  const double cr = std::cos(roll * kRadians), sr = std::sin(roll * kRadians);
  // Ry(pan) Rx(tilt) Rz(roll), row-major.
  const double r[3][3] = {
      {cp * cr + sp * st * sr, -cp * sr + sp * st * cr, sp * ct},
      {ct * sr, ct * cr, -st},
      {-sp * cr + cp * st * sr, sp * sr + cp * st * cr, cp * ct},
  };
  const vm::Vector3 h0{r[0][0], r[1][0], r[2][0]}, v0{r[0][1], r[1][1], r[2][1]},
      a{r[0][2], r[1][2], r[2][2]};
  const double fx = f / sx, fy = f / sy;
  auto image = SharedPtr<FeatureImage>::Make();
  image->Set(c, a, vm::Vector3{fx * h0.x, fx * h0.y, fx * h0.z},
             vm::Vector3{fy * v0.x, fy * v0.y, fy * v0.z}, width, height, 0.0, sx, sy, 0.0, 0,
             nullptr);
  image->SetImageIndex(image_index);
  image->SetFileIndex(file_index);
  return image;
}

// Three cameras of images 10..12 (files 100..102) with distinct pan, tilt and roll, 35 mm
// on 1920 x 1080 pixels of 0.0125 x 0.01375 mm (the aspect 100:110); the first centre has
// y = 0, which the formats that negate y write as a negative zero.
inline SaveCamPath::CameraList ThreeCameras() {
  return {
      PosedCamera(10, 100, {100.5, 0.0, -2000.0}, 10, 5, 2, 35, 1920, 1080, 0.0125, 0.01375),
      PosedCamera(11, 101, {150.25, -20.5, -1900.0}, 20, -15, -7, 36, 1920, 1080, 0.0125, 0.01375),
      PosedCamera(12, 102, {210.0, -35.75, -1750.5}, -30, 25, 12, 38.5, 1920, 1080, 0.0125,
                  0.01375)};
}

// (1, 2, 3); a point on the x-z plane (a negative zero once y is negated); one large and
// one small coordinate, which the "%g" formats write with an exponent or six digits.
inline SaveCamPath::PointList FourPoints() {
  return {{1.0, 2.0, 3.0}, {-250.5, 0.0, 1000.0}, {1234567.5, -0.000123, 42.0}, {0.5, -7.25, 5e-7}};
}

// `text` with every date between `label` and `end` replaced by "<date>"; each date must
// match `form` (A upper-case letter, a lower-case letter, d digit, anything else literal).
inline std::string MaskDates(const std::string& text, const std::string& label,
                             const std::string& end, const std::string& form) {
  std::string masked = text;
  size_t at = 0;
  int found = 0;
  while ((at = masked.find(label, at)) != std::string::npos) {
    const size_t start = at + label.size();
    const size_t stop = masked.find(end, start);
    if (stop == std::string::npos) break;
    const std::string date = masked.substr(start, stop - start);
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
        default:
          ok = c == form[i];
      }
    }
    EXPECT_TRUE(ok) << "date \"" << date << "\"";
    masked.replace(start, stop - start, "<date>");
    at = start + 6;
    ++found;
  }
  EXPECT_GT(found, 0) << "no date after \"" << label << "\"";
  return masked;
}

inline std::string GoldenText(const std::string& name) {
  return ReadText(std::string(KALVEX_SOURCE_DIR) + "/testdata/export/" + name);
}

// Runs `write` once as it is and once with a decimal comma in the C and the C++ global
// locales; both results must be the same.
inline std::string WriteInBothLocales(const std::function<std::string()>& write) {
  const std::string plain = write();
  struct CommaPunct : std::numpunct<char> {
    char do_decimal_point() const override { return ','; }
  };
  DecimalCommaLocale comma;
  const std::locale saved =
      std::locale::global(std::locale(std::locale::classic(), new CommaPunct));
  const std::string with_comma = write();
  std::locale::global(saved);
  EXPECT_EQ(with_comma, plain) << "the locale reached the file";
  return plain;
}

// A full device, a missing directory and an empty camera list: false, the writer's
// message, and no file for the empty list.
inline void ExpectFailuresReported(
    const std::function<std::unique_ptr<SaveCamPath>(const char*, const char*)>& make,
    const std::string& writer) {
  TempDir dir;
  struct Case {
    const char* name;
    std::string directory;
    const char* file;
    bool cameras;
    std::string message;
  } cases[] = {
      {"full device", "/dev", "full", true, writer + ": write file \"/dev/full\" failed !!"},
      {"missing directory", dir.File("missing"), "out", true,
       writer + ": open file \"" + dir.File("missing") + "/out\" failed !!"},
      {"no cameras", dir.path(), "empty", false, writer + ": empty camera list!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<SaveCamPath> out = make(c.directory.c_str(), c.file);
    LogCapture log(5);
    EXPECT_FALSE(out->Export(c.cameras ? ThreeCameras() : SaveCamPath::CameraList(), FourPoints()));
    EXPECT_TRUE(log.Has(c.message)) << log.text;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("empty")));
}

}  // namespace kxtest
