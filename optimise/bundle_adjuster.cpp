#include "optimise/bundle_adjuster.h"

#include <cmath>

#include "features/feature_image.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_mapper.h"

namespace {

// The statistics slots of the error measurement (see FeatureImage).
constexpr int kCartesianPointsSlot = 6;
constexpr int kDirectionPointsSlot = 7;

}  // namespace

BundleAdjuster::~BundleAdjuster() = default;

double BundleAdjuster::GetMSE(const ImageList& list, bool in_pixels) {
  if (list.empty()) {
    Notify(5, "BundleAdjuster::GetMSE: empty list of fimages, return %g", 1e30);
    return 1e30;
  }
  // Direction points stand at their radius along the direction from the first camera
  // (as FeatureMapper::ToCartesian places them, without making a point object).
  const vm::Vector3 centre = list.front() ? list.front()->GetC() : vm::Vector3{0.0, 0.0, 0.0};
  double total = 0.0;
  long total_count = 0;
  for (const SharedPtr<FeatureImage>& image : list) {
    if (!image) continue;
    const double sx = in_pixels ? 1.0 : image->GetPixelSizeX();
    const double sy = in_pixels ? 1.0 : image->GetPixelSizeY();
    double sum = 0.0;
    long count = 0;
    int cartesian = 0;
    int directions = 0;
    for (const SharedPtr<FeaturePoint2D>& feature : image->GetFPoints2D()) {
      if (!feature || !feature->GetFPoint3D()) continue;
      const FeaturePoint3D& point = *feature->GetFPoint3D();
      vm::Vector3 position;
      if (point.GetCS() == FeaturePoint3D::eSpherical) {
        position = centre + SphericalDirection(point.x, point.y) * point.z;
        ++directions;
      } else if (point.GetCS() == FeaturePoint3D::eCartesian) {
        position = point;
        ++cartesian;
      } else {
        Notify(2, "BundleAdjuster::GetMSE: unsupported coordinate system %d",
               static_cast<int>(point.GetCS()));
        continue;
      }
      double x = 0.0, y = 0.0;
      image->ProjectPCS(position, x, y);
      const double dx = (feature->x - x) * sx;
      const double dy = (feature->y - y) * sy;
      sum += dx * dx + dy * dy;
      count += 2;
    }
    if (count == 0) continue;
    image->SetMeanSquaredError(sum / static_cast<double>(count));
    image->SetStatistic(kCartesianPointsSlot, cartesian);
    image->SetStatistic(kDirectionPointsSlot, directions);
    Notify(5, "BundleAdjuster::GetMSE: frame no. %d RMSE %f",
           static_cast<int>(image->GetImageIndex()), std::sqrt(sum / static_cast<double>(count)));
    total += sum;
    total_count += count;
  }
  return total_count > 0 ? total / static_cast<double>(total_count) : 1e30;
}
