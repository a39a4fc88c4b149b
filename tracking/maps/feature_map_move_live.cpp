#include "tracking/maps/feature_map_move_live.h"

#include <cctype>
#include <cmath>
#include <cstring>
#include <string_view>

#include "foundation/runtime/notify.h"

namespace {

constexpr std::string_view kSharedName = "FeatureMapMove";
constexpr std::string_view kOwnName = "FeatureMapMoveLive";
// The point-list generator's line, which here has no blank before "3D".
constexpr std::string_view kGenerator = "FeatureMapMove, generate_fcorr_list_with_3dfp:";
constexpr std::string_view kPointsWithBlank = "%d 3D points";

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// The shared engine's format with this map's name for every whole "FeatureMapMove";
// the format itself when it names no such class or the result would not fit.
const char* LiveFormat(const char* format, char* buffer, size_t size) {
  const std::string_view in(format);
  size_t used = 0;
  bool renamed = false;
  const auto put = [&](std::string_view part) {
    if (used + part.size() >= size) return false;
    std::memcpy(buffer + used, part.data(), part.size());
    used += part.size();
    return true;
  };
  size_t from = 0;
  for (size_t at = in.find(kSharedName); at != std::string_view::npos;
       at = in.find(kSharedName, at + 1)) {
    const size_t end = at + kSharedName.size();
    if ((at > 0 && IsNameChar(in[at - 1])) || (end < in.size() && IsNameChar(in[end]))) continue;
    if (!put(in.substr(from, at - from)) || !put(kOwnName)) return format;
    from = end;
    renamed = true;
  }
  if (!renamed) return format;
  std::string_view rest = in.substr(from);
  if (in.starts_with(kGenerator)) {
    const size_t blank = rest.find(kPointsWithBlank);
    if (blank != std::string_view::npos) {
      // Up to "%d", then what follows the blank.
      if (!put(rest.substr(0, blank + 2))) return format;
      rest = rest.substr(blank + 3);
    }
  }
  if (!put(rest)) return format;
  buffer[used] = '\0';
  return buffer;
}

// Runs f with this map's name in the log.
template <class F>
auto AsLive(F f) {
  NotifyFormatScope scope(&LiveFormat);
  return f();
}

}  // namespace

FeatureMapMoveLive::FeatureMapMoveLive() {
  m_parameter.m_estimate_focal = 0;
}

FeatureMapMoveLive::~FeatureMapMoveLive() = default;

bool FeatureMapMoveLive::Init(SharedPtr<FeatureImage>& first) {
  m_free_move = 1;
  return AsLive([&] { return FeatureMapMove::Init(first); });
}

bool FeatureMapMoveLive::OutlierElimination() {
  m_free_move = 1;
  return AsLive([&] { return FeatureMapMove::OutlierElimination(); });
}

bool FeatureMapMoveLive::CameraEstimation() {
  m_free_move = 1;
  return AsLive([&] { return FeatureMapMove::CameraEstimation(); });
}

void FeatureMapMoveLive::GetMSE() {
  m_rmse = std::sqrt(GetMSE(m_incremental_list, true, false));
}

double FeatureMapMoveLive::GetMSE(const std::vector<SharedPtr<FeatureImage>>& images, bool pixels,
                                  bool verbose) {
  return AsLive([&] { return FeatureMapMove::GetMSE(images, pixels, verbose); });
}

double FeatureMapMoveLive::GetMaxStdDev(const SharedPtr<OutlierDetector>& detector) {
  return AsLive([&] { return FeatureMapMove::GetMaxStdDev(detector); });
}

void FeatureMapMoveLive::SetCovarianceMatrices(const std::vector<SharedPtr<FeatureImage>>& images,
                                               double sigma) {
  AsLive([&] { FeatureMapMove::SetCovarianceMatrices(images, sigma); });
}

void FeatureMapMoveLive::generate_fcorr_list_with_3dfp(
    FeatureImage* image, std::vector<SharedPtr<FeatureCorrespondence>>& out, bool direction) {
  AsLive([&] { ::generate_fcorr_list_with_3dfp(image, out, direction); });
}

bool FeatureMapMoveLive::IncrementalBundleAdjust(bool final) {
  return AsLive([&] { return FeatureMapMove::IncrementalBundleAdjust(final); });
}

bool FeatureMapMoveLive::IncrementalBA_2DProjState(bool final) {
  return AsLive([&] { return FeatureMapMove::IncrementalBA_2DProjState(final); });
}

int FeatureMapMoveLive::ProjectionOutlierDetection(const SharedPtr<FeatureImage>& image,
                                                   FeatureImage* neighbour,
                                                   std::vector<SharedPtr<FeaturePoint2D>>* out,
                                                   bool direction) {
  return AsLive(
      [&] { return FeatureMapMove::ProjectionOutlierDetection(image, neighbour, out, direction); });
}

bool FeatureMapMoveLive::CameraResectioning(const SharedPtr<FeatureImage>& image,
                                            FeatureImage* neighbour, bool estimate_projective,
                                            bool direction) {
  return AsLive([&] {
    return FeatureMapMove::CameraResectioning(image, neighbour, estimate_projective, direction);
  });
}

bool FeatureMapMoveLive::ForwardCameraResectioning(int p, bool estimate_projective) {
  return AsLive([&] { return FeatureMapMove::ForwardCameraResectioning(p, estimate_projective); });
}

bool FeatureMapMoveLive::BundleAdjust() {
  return AsLive([&] { return FeatureMapMove::BundleAdjust(); });
}
