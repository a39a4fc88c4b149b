#include "export/writers/export_time.h"

#include <algorithm>
#include <cstdio>

namespace {

bool LocalNow(std::tm& out) {
  const std::time_t now = std::time(nullptr);
  return now != std::time_t(-1) && ::localtime_r(&now, &out) != nullptr;
}

}  // namespace

std::string FormatCreationDate(const std::tm& time) {
  // Fixed English names: strftime's %a and %b would follow the user's locale.
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char text[64];
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %04d\n",
                kDays[std::clamp(time.tm_wday, 0, 6)], kMonths[std::clamp(time.tm_mon, 0, 11)],
                std::clamp(time.tm_mday, 0, 99), std::clamp(time.tm_hour, 0, 99),
                std::clamp(time.tm_min, 0, 99), std::clamp(time.tm_sec, 0, 99),
                std::clamp(time.tm_year + 1900, 0, 9999));
  return text;
}

std::string CurrentCreationDate() {
  std::tm now{};
  if (!LocalNow(now)) return "\n";
  return FormatCreationDate(now);
}

bool FormatIsoDateTime(std::string& text) {
  std::tm now{};
  if (!LocalNow(now)) return false;
  char buffer[512];
  // Digits and separators only: no locale reaches this pattern.
  const size_t length = std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%S", &now);
  if (length == 0) return false;
  text.assign(buffer, length);
  return true;
}
