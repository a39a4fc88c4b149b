#include "export/writer_support.h"

#include <charconv>
#include <cmath>
#include <cstdint>

#include "foundation/camera/perspective_camera.h"

namespace {

std::time_t fixed_moment = 0;

}  // namespace

std::time_t CreationTime() {
  return fixed_moment != 0 ? fixed_moment : std::time(nullptr);
}

void SetCreationTimeForTest(std::time_t moment) {
  fixed_moment = moment;
}

double FrameRateFromSingle(float rate) {
  // The shortest decimal text that reads back as the same float, read as a double.
  char text[64];
  const std::to_chars_result written = std::to_chars(text, text + sizeof text, rate);
  double value = rate;
  if (written.ec == std::errc()) std::from_chars(text, written.ptr, value);
  return value;
}

double HorizontalFieldOfViewDegrees(const PerspectiveCamera& camera) {
  const uint32_t width = camera.GetWidth();
  return 114.59155902616465 *
         std::atan(camera.GetPixelSizeX() * double(width) / (2.0 * camera.GetFocalLength()));
}
