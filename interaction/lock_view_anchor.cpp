// Taking the lock-view anchor from a selection: the image view then follows the selected
// 3D position or 2D track from frame to frame.
#include <vector>

#include "features/feature_image.h"
#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/feature_mapper.h"
#include "foundation/tracks/feature_point.h"
#include "interaction/fpoint_track_edit.h"
#include "interaction/observer_view.h"
#include "scene/scene.h"

namespace uic {

void LockViewAnchor::Reset() {
  m_kind = eNone;
  m_position = {0.0, 0.0, 0.0};
  m_track.clear();
}

bool LockViewAnchor::SetFromSelected2DFeatures() {
  std::vector<UIDBase*> selected;
  UIDRegistry::Instance().CollectSelected(selected, UID_TYPE_FEATURE_POINT_2D,
                                          UID_TYPE_FEATURE_POINT_2D);
  std::vector<FeaturePoint2D*> features;
  for (UIDBase* entry : selected) {
    if (auto* f = dynamic_cast<FeaturePoint2D*>(entry)) features.push_back(f);
  }
  if (features.empty()) return false;
  Reset();
  vm::Vector3 sum{0.0, 0.0, 0.0};
  int n = 0;
  for (FeaturePoint2D* f : features) {
    const FeaturePoint3D* p = f->GetFPoint3D().Get();
    if (p == nullptr) continue;
    vm::Vector3 q{p->x, p->y, p->z};
    if (p->GetCS() != FeaturePoint3D::eCartesian) {
      if (f->GetImage() == nullptr) continue;
      // A direction only: taken at five focal lengths from the feature's camera.
      FeaturePoint3D direction(*p);
      direction.z = 5.0 * f->GetImage()->GetFocalLength();
      FeaturePoint3D cartesian;
      FeatureMapper(*f->GetImage()).ToCartesian(direction, &cartesian);
      q = {cartesian.x, cartesian.y, cartesian.z};
    }
    sum += q;
    ++n;
  }
  if (n > 0) {
    m_kind = ePoint3D;
    m_position = sum * (1.0 / n);
    return true;
  }
  m_kind = eTrack2D;
  for (UIDBase* entry : selected) {
    // The registry holds the feature; its track is found through a counted handle.
    auto* f = dynamic_cast<FeaturePoint2D*>(entry);
    if (f == nullptr || f->GetImage() == nullptr) continue;
    for (const SharedPtr<FeaturePoint2D>& own : f->GetImage()->GetFPoints2D()) {
      if (own.Get() == f) {
        m_track = CollectFeatureTrack(own);
        return true;
      }
    }
    for (const SharedPtr<FeaturePoint2D>& own : f->GetImage()->GetAnchors()) {
      if (own.Get() == f) {
        m_track = CollectFeatureTrack(own);
        return true;
      }
    }
    return true;
  }
  return true;
}

bool LockViewAnchor::SetFromScene(Scene* scene) {
  if (scene == nullptr) return false;
  vm::Vector3 position{0.0, 0.0, 0.0};
  bool found = false;
  if (const int32_t id = scene->GetSelectedId(); id != 0) {
    if (auto* object = dynamic_cast<NHSObject*>(UIDRegistry::Instance().GetObject(id))) {
      Matrix3x4 G;
      object->GetGlobalTransform(G, false);
      position = {G[0][3], G[1][3], G[2][3]};
      found = true;
    }
  }
  if (!found) found = scene->GetSelected3DPoints(&position, nullptr) > 0;
  if (!found) return false;
  Reset();
  m_kind = ePoint3D;
  m_position = position;
  return true;
}

}  // namespace uic
