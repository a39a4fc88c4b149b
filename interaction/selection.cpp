#include "interaction/selection.h"

#include <memory>

#include "features/feature_image.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/undo_commands.h"
#include "interaction/undo_stack.h"
#include "scene/objects/nhs_object.h"
#include "scene/scene.h"
#include "tracking/objects/vertex_object_pool.h"

namespace uic {

namespace {

// The registry's selected objects of one type range, in ascending id order.
std::vector<UIDBase*> CollectSelected(uint16_t low, uint16_t high) {
  std::vector<UIDBase*> objects;
  UIDRegistry::Instance().CollectSelected(objects, low, high);
  return objects;
}

// A selected vertex with its owner and its position at frame.
struct PlacedVertex {
  Vertex* vertex;
  VertexObject* owner;
  vm::Vector3 position;
};

std::vector<PlacedVertex> SelectedVerticesAt(MetaCTracker* tracker, int frame) {
  std::vector<PlacedVertex> out;
  if (tracker == nullptr || frame < 0) return out;
  VertexObjectPool& pool = tracker->GetVertexObjectPool();
  for (UIDBase* entry : CollectSelected(UID_TYPE_VERTEX, UID_TYPE_VERTEX)) {
    auto* vertex = dynamic_cast<Vertex*>(entry);
    VertexObject* owner = vertex ? pool.FindObjectOfVertex(vertex) : nullptr;
    vm::Vector3 p;
    if (owner != nullptr && owner->GetVertexPosition(&p, vertex, unsigned(frame))) {
      out.push_back({vertex, owner, p});
    }
  }
  return out;
}

}  // namespace

bool Selection::DeselectAll(bool silent) {
  if (Scene* scene = static_cast<Controller&>(*this).GetScene()) scene->SelectObject(0);
  UIDRegistry::Instance().SelectTypeRange(false, 1, 39);
  if (!silent) m_selection_changed.Emit();
  return true;
}

bool Selection::HasSelectedVertices() const {
  return !CollectSelected(UID_TYPE_VERTEX, UID_TYPE_VERTEX).empty();
}

VertexObject* Selection::GetSelectedVertexObject() {
  MetaCTracker* tracker = static_cast<Controller&>(*this).GetCTracker();
  if (tracker == nullptr) return nullptr;
  const std::vector<UIDBase*> vertices = CollectSelected(UID_TYPE_VERTEX, UID_TYPE_VERTEX);
  if (vertices.empty()) return nullptr;
  return tracker->GetVertexObjectPool().FindObjectOfVertex(dynamic_cast<Vertex*>(vertices[0]));
}

int Selection::GetSelectedPoints3D(std::vector<FeaturePoint3D*>& points) {
  points.clear();
  const std::vector<UIDBase*> features =
      CollectSelected(UID_TYPE_FEATURE_POINT_2D, UID_TYPE_FEATURE_POINT_2D);
  if (!features.empty()) {
    for (UIDBase* entry : features) {
      auto* feature = dynamic_cast<FeaturePoint2D*>(entry);
      if (feature == nullptr) continue;
      FeaturePoint3D* p = feature->GetFPoint3D().Get();
      if (p != nullptr && !p->TestFlags(FP3D_FLAG_REMOVED)) points.push_back(p);
    }
  } else {
    for (UIDBase* entry : CollectSelected(UID_TYPE_FEATURE_POINT_3D, UID_TYPE_FEATURE_POINT_3D)) {
      auto* p = dynamic_cast<FeaturePoint3D*>(entry);
      if (p != nullptr && !p->TestFlags(FP3D_FLAG_REMOVED)) points.push_back(p);
    }
  }
  return static_cast<int>(points.size());
}

void Selection::MoveSelectedVertices(double dx, double dy) {
  auto& controller = static_cast<Controller&>(*this);
  const int frame = controller.GetCurrentFrame();
  for (PlacedVertex& v : SelectedVerticesAt(controller.GetCTracker(), frame)) {
    v.owner->SetVertexPosition(v.vertex, {v.position.x + dx, v.position.y + dy, v.position.z},
                               frame);
  }
}

void Selection::ZoomVertices(double factor) {
  auto& controller = static_cast<Controller&>(*this);
  if (controller.GetCTracker() == nullptr) {
    Notify(2, "Selection::ZoomVertices: tracking manager not set!");
    return;
  }
  const int frame = controller.GetCurrentFrame();
  const std::vector<PlacedVertex> vertices = SelectedVerticesAt(controller.GetCTracker(), frame);
  if (vertices.empty()) return;
  vm::Vector3 c{0.0, 0.0, 0.0};
  for (const PlacedVertex& v : vertices) c = c + v.position;
  c = c * (1.0 / double(vertices.size()));
  for (const PlacedVertex& v : vertices) {
    v.owner->SetVertexPosition(v.vertex, c + (v.position - c) * factor, frame);
  }
}

void Selection::MoveOrbitCenterToSelection() {
  std::vector<FeaturePoint3D*> points;
  if (GetSelectedPoints3D(points) == 0) return;
  vm::Vector3 c{0.0, 0.0, 0.0};
  for (const FeaturePoint3D* p : points) {
    c = c + vm::Vector3{p->x, p->y, p->z};
  }
  c = c * (1.0 / double(points.size()));
  auto& controller = static_cast<Controller&>(*this);
  Scene* scene = controller.GetScene();
  if (scene == nullptr) {
    Notify(2, "Selection::MoveOrbitCenterToSelection: scene not set!");
    return;
  }
  scene->SetOrbitCenter(c);
  controller.UpdateViewers();
}

void Selection::SelectTrackPointsInFrame(int frame) {
  UIDRegistry& registry = UIDRegistry::Instance();
  bool selected = false;
  for (UIDBase* entry : CollectSelected(UID_TYPE_FEATURE_POINT_2D, UID_TYPE_FEATURE_POINT_2D)) {
    auto* plain = dynamic_cast<FeaturePoint2D*>(entry);
    SharedPtr<FeaturePoint2D> feature =
        plain ? SharedPtr<FeaturePoint2D>::FromPlainPointer(plain) : SharedPtr<FeaturePoint2D>();
    if (!feature) continue;
    if (feature->GetImage() != nullptr && feature->GetImage()->GetImageIndex() == frame) break;
    if (SharedPtr<FeaturePoint2D> there = FindTrackPointInImage(feature, frame)) {
      registry.SetSelected(there->GetUID(), true);
      selected = true;
    }
  }
  if (selected) m_selection_changed.Emit();
}

}  // namespace uic

namespace Tools {

void align_ground_grid(CameraTrackingManager* tracker, NHSObject* object, Matrix4x4& result,
                       Scene* scene) {
  result = Matrix4x4{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
  if (tracker == nullptr) {
    Notify(2, "Tools::align_ground_grid: camera tracking manager null");
    return;
  }
  if (object == nullptr) return;
  Matrix3x3 r;
  object->GetNormalizedRotation(r);
  const Matrix3x4& m = object->GetTransform();
  const double t[3] = {m[0][3], m[1][3], m[2][3]};
  // R' = R Rx(+90 degrees): columns (R0, R2, -R1); T = [R'^T | -R'^T t].
  Matrix3x3 rp;
  for (int i = 0; i < 3; ++i) {
    rp[i][0] = r[i][0];
    rp[i][1] = r[i][2];
    rp[i][2] = -r[i][1];
  }
  Matrix4x4 transform{};
  for (int i = 0; i < 3; ++i) {
    double shift = 0.0;
    for (int k = 0; k < 3; ++k) {
      transform[i][k] = rp[k][i];
      shift -= rp[k][i] * t[k];
    }
    transform[i][3] = shift;
  }
  transform[3][3] = 1.0;
  PushCommand(
      new uic::SceneTransformCmd(dynamic_cast<uic::MetaCTracker*>(tracker), scene, transform));
  if (scene != nullptr) scene->TransformReconstruction(transform);
  tracker->TransformScene(transform.m);
  if (scene != nullptr) scene->SetData(tracker);
  result = transform;
}

void AlignGroundGridToSelection(uic::ViewerBase*, CameraTrackingManager* tracker) {
  uic::Controller& controller = *uic::Controller::Instance();
  Scene* scene = controller.GetScene();
  if (scene == nullptr) {
    Notify(2, "Tools::AlignGroundGridToSelection: scene in view not set");
    return;
  }
  if (tracker == nullptr) {
    Notify(2, "Tools::AlignGroundGridToSelection: tracking manger not set");
    return;
  }
  std::vector<FeaturePoint3D*> points;
  points.reserve(256);
  controller.GetSelectedPoints3D(points);
  Matrix4x4 result;
  if (points.size() >= 3) {
    const std::vector<const FeaturePoint3D*> through(points.begin(), points.end());
    std::unique_ptr<NHSObject> plane(scene->AddSceneObject(2, through, 0));
    if (!plane) return;
    Notify(5, "Tools::AlignGroundGridToSelection: align to selected points (num %d)",
           int(points.size()));
    align_ground_grid(tracker, plane.get(), result, scene);
    plane->Unlink();  // the helper plane leaves the scene again
  } else if (!points.empty()) {
    Notify(5, "Tools::AlignGroundGridToSelection: nothing selected");
    return;
  } else {
    std::vector<UIDBase*> objects;
    UIDRegistry::Instance().CollectSelected(objects, UID_TYPE_SCENE_OBJECT_FIRST,
                                            UID_TYPE_SCENE_OBJECT_LAST);
    auto* object = objects.empty() ? nullptr : dynamic_cast<NHSObject*>(objects[0]);
    if (object == nullptr) return;
    Notify(5, "Tools::AlignGroundGridToSelection: align to 3D object");
    align_ground_grid(tracker, object, result, scene);
  }
  controller.UpdateViewers();
}

}  // namespace Tools
