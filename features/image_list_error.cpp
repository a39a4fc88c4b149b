#include "features/image_list_error.h"

#include <cmath>
#include <cstdint>

#include "features/feature_image.h"
#include "foundation/runtime/notify.h"

namespace {

// The synthetic correlator marks the features it displaced on purpose with flag 1.
constexpr uint32_t kSyntheticOutlierFlag = 0x1;

// Statistics slots of a feature image that the error measure writes.
constexpr int kCartesianPointsSlot = 6;
constexpr int kDirectionPointsSlot = 7;

}  // namespace

double ImageListMSE(const std::vector<SharedPtr<FeatureImage>>& images, bool pixels, bool verbose) {
  if (images.empty()) {
    Notify(5, "FeatureMapMove::GetMSE: empty list of fimages, return 1e20");
    return 1e20;
  }
  double total_sum = 0.0;
  long total_measurements = 0;
  int synthetic_outliers = 0;
  for (const SharedPtr<FeatureImage>& image : images) {
    if (!image) continue;
    const double sx = image->GetPixelSizeX();
    const double sy = image->GetPixelSizeY();
    double sum = 0.0;
    int measurements = 0;
    int cartesian_points = 0;
    int direction_points = 0;
    for (const SharedPtr<FeaturePoint2D>& feature : image->GetFPoints2D()) {
      if (!feature) continue;
      const SharedPtr<FeaturePoint3D>& point = feature->GetFPoint3D();
      if (!point || point->TestFlags(FP3D_FLAG_REMOVED)) continue;
      if (feature->TestFlags(kSyntheticOutlierFlag)) {
        ++synthetic_outliers;
        if (verbose) {
          Notify(5,
                 "FeatureMapMove::GetMSE: synthetic outlier detected: frame index=%d, x=%f "
                 "y=%f Id=%d",
                 image->GetImageIndex(), feature->x, feature->y, point->GetId());
        }
      }
      if (point->GetCS() == FeaturePoint3D::eCartesian) {
        double u = 0.0, v = 0.0, depth = 0.0;
        image->ProjectPoint(*point, u, v, depth, false);
        double x = feature->x, y = feature->y;
        if (!pixels) {
          u *= sx, x *= sx;
          v *= sy, y *= sy;
        }
        sum += (x - u) * (x - u) + (y - v) * (y - v);
        measurements += 2;
        ++cartesian_points;
      } else if (point->GetCS() == FeaturePoint3D::eSpherical) {
        ++direction_points;
      }
    }
    if (measurements > 0) {
      total_sum += sum;
      total_measurements += measurements;
      image->SetMeanSquaredError(sum / measurements);
      image->SetStatistic(kCartesianPointsSlot, cartesian_points);
      image->SetStatistic(kDirectionPointsSlot, direction_points);
      if (verbose) {
        Notify(5, "FeatureMapMove::GetMSE: frame index %d No.3DFPs=%d No.Sphere_3DFPs=%d RMSE %f ",
               image->GetImageIndex(), cartesian_points, direction_points,
               std::sqrt(sum / measurements));
      }
    } else if (verbose) {
      Notify(5, "FeatureMapMove::GetMSE: frame index %d no 3DFPs found No.Sphere_3DFPs=%d",
             image->GetImageIndex(), direction_points);
    }
  }
  if (verbose) {
    if (total_measurements > 0) {
      const double q = 1.0 - 6.0 * static_cast<double>(images.size()) /
                                 (2.0 * static_cast<double>(total_measurements));
      if (q > 0.0) {
        Notify(5, "FeatureMapMove::GetMSE: Theoretic residual = %f * Std Deviation", std::sqrt(q));
      }
    }
    if (synthetic_outliers > 0) {
      Notify(5, "FeatureMapMove::GetMSE: total synthetic outliers: %d", synthetic_outliers);
    }
  }
  return total_measurements > 0 ? total_sum / static_cast<double>(total_measurements) : 0.0;
}
