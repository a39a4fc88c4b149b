// STAND-IN, replaced at merge: the tracking driver's calls into manager operations that
// are being completed in parallel (clearing features and points, initial cameras, the
// focal length, feature tags, recycled frames, the undo stack).
// Each body is the smallest behaviour the driver relies on, written against what the
// manager offers today.
#include "foundation/tracks/feature_point.h"
#include "interaction/meta_ctracker.h"

namespace uic {

void MetaCTracker::EngineClearAllFPointsAndResetFMap(int bits) {
  SharedPtr<FeatureMap> map = GetFeatureMap();
  if ((bits & 3) && map) map->ClearImages();
  if ((bits & 2) && map) map->ClearFPoint3D();
}

void MetaCTracker::EngineInitCameras() {
  PerspectiveCamera* camera = GetInitCamera();
  if (camera == nullptr) return;
  for (SharedPtr<FeatureImage>& image : m_image_list) {
    if (image) static_cast<PerspectiveCamera&>(*image) = *camera;
  }
}

void MetaCTracker::EngineSetInitFocalLength(double /*focal35*/) {}

long MetaCTracker::EngineSetFPoint2DBitMask(int /*selector*/, uint32_t /*bits*/, bool /*set*/) {
  return 0;
}

void MetaCTracker::EngineRecycleImages(unsigned /*n*/) {}

void MetaCTracker::EngineClearUndoStack() {}

}  // namespace uic
