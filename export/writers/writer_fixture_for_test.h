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
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "export/save_cam_path.h"
#include "foundation/camera/camera_geometry.h"

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

}  // namespace kxtest
