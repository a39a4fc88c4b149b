#include "export/writer_support.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/product_info.h"

namespace {

std::time_t fixed_moment = 0;

}  // namespace

std::time_t CreationTime() {
  return fixed_moment != 0 ? fixed_moment : std::time(nullptr);
}

void SetCreationTimeForTest(std::time_t moment) {
  fixed_moment = moment;
}

std::string CtimeText(std::time_t moment) {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  std::tm local{};
  if (::localtime_r(&moment, &local) == nullptr) return "Thu Jan 01 00:00:00 1970";
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d", kDays[local.tm_wday % 7],
                kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, local.tm_year + 1900);
  return text;
}

std::string CreatorText() {
  return ProductInfo::GetMakerName() + ' ' + ProductInfo::GetProductName() + ' ' +
         ProductInfo::GetVersionString();
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
