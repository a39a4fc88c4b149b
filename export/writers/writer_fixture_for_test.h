// Test helper for the camera-path writers: a small fixed camera path and point set, and
// the masking of the creation date in headers.
//
//   kxtest::PathCameras()  two cameras with known pan, tilt and roll (kPans, kTilts,
//                          kRolls, degrees), 720 x 576 pixels of 0.05 x 0.055 mm, focal
//                          length 35 mm (a sensor 36 mm wide), image indices 10 and 11,
//                          file indices 100 and 101
//   kxtest::PathPoints()   two points, one with y = 0 (its negation is a negative zero)
//   kxtest::ThreeCameras() three cameras of images 10..12 (files 100..102) with distinct
//                          pan, tilt and roll and non-square pixels
//   kxtest::FourPoints()   points that hit negative zeros, exponents and rounding
//   kxtest::MaskDates(text, label, end, form) every date between label and end replaced
//                          by "<date>", after checking its form
//   kxtest::MaskDate(text) the text with the date after "Creation date: " replaced by
//                          "<date>", after checking that it has the form
//                          "Www Mmm dd hh:mm:ss yyyy"
//   kxtest::WriteInBothLocales(write) the output of write, which a decimal comma in the
//                          process's locales must not change
//   kxtest::ReleaseVersion the product version 1.6.0 (final) while it lives
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <locale>
#include <string>

#include "export/save_cam_path.h"
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

// A camera whose rotation is Ry(pan) Rx(tilt) Rz(roll) (degrees; columns H0, V0, A), with
// focal length f (mm), the principal point at the image centre and pixels sx x sy (mm).
inline SharedPtr<FeatureImage> PosedCamera(int image_index, int file_index, vm::Vector3 c,
                                           double pan, double tilt, double roll, double f,
                                           uint32_t width, uint32_t height, double sx, double sy) {
  constexpr double kRadians = 3.14159265358979323846 / 180.0;
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

inline std::string MaskDate(const std::string& text) {
  return MaskDates(text, "Creation date: ", "\n", "Aaa Aaa dd dd:dd:dd dddd");
}

}  // namespace kxtest
