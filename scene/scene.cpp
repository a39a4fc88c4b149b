#include "scene/scene.h"

#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "features/feature_image.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "scene/display_settings.h"
#include "scene/objects/nhs_object_handle.h"
#include "tracking/job/camera_tracking_manager.h"
#include "tracking/maps/feature_map.h"

namespace {

Matrix4x4 Identity4() {
  Matrix4x4 m;
  m.SetZero();
  for (int i = 0; i < 4; ++i) m[i][i] = 1.0;
  return m;
}

Matrix3x4 Identity3x4() {
  Matrix3x4 m;
  std::memcpy(m.m, Identity4().m, sizeof m.m);
  return m;
}

template <class T>
T* AddBuiltin(NHSObject& root, T* object, const char* name) {
  UIDRegistry::Instance().SetName(object->GetUID(), name);
  object->SetNodeFlags(UID_FLAG_LOCKED, true);
  root.AddChild(object);
  return object;
}

void Show(NHSObject* node, bool show) {
  node->SetNodeFlags(UID_FLAG_HIDDEN, !show);
}

// The point is selected and the view shows it.
bool SelectedAndShown(uint32_t display_flags, const FeaturePoint3D& p) {
  return (p.GetUIDFlags() & UID_FLAG_SELECTED) != 0 &&
         NHSObject_FeaturePoints::GetPointColor(display_flags, p) != 0;
}

}  // namespace

Scene::Scene() : scene_matrix_(Identity4()) {
  DisplaySettings& settings = DisplaySettings::Get();

  axes_ = AddBuiltin(*this, new NHSObject_Cross3D, "WCS_Axes");
  for (int i = 0; i < 3; ++i) axes_->end[i] = 50.0;
  axes_->line_width = 1.25f;
  axes_->SetColor(0xffc0c0c0);

  grid_ = AddBuiltin(*this, new NHSObject_Grid, "WCS_Grid");
  grid_->SetOrientation(5);
  grid_->SetExtents(200.0f, 200.0f);
  grid_->SetCells(50, 50);
  grid_->SetColor(settings.SlotColor(DS_SLOT_GROUND_GRID));

  orbit_center_ = AddBuiltin(*this, new NHSObject_OrbitCenter, "Orbit_Center");
  orbit_center_->size = 5.0f;
  orbit_center_->line_width = 2.5f;
  orbit_center_->color = 0xffaaaaaa;

  camera_ = AddBuiltin(*this, new NHSObject_Camera, "Camera");
  camera_->SetColor(settings.SlotColor(DS_SLOT_CAMERA));

  track_ = AddBuiltin(*this, new NHSObject_CameraTrack, "Camera_Track");
  track_->SetColor(settings.SlotColor(DS_SLOT_CAMERA_TRACK));

  points_ = AddBuiltin(*this, new NHSObject_FeaturePoints, "Point_Cloud");
}

Scene::~Scene() {
  points_->UseOwnPoints();
}

// ---- result

bool Scene::SetData(CameraTrackingManager* manager) {
  SharedPtr<FeatureMap> map = manager ? manager->GetFeatureMap() : SharedPtr<FeatureMap>();
  if (!map) {
    Notify(2, "Scene::SetData: ctrack manager or feature map Null");
    return false;
  }
  scene_matrix_ = Identity4();
  current_image_ = SharedPtr<FeatureImage>();
  SetFPoints3D(map);
  return RebuildCameraTrack(manager);
}

bool Scene::RebuildCameraTrack(CameraTrackingManager* manager) {
  if (manager == nullptr) return false;
  std::vector<vm::Vector3>& positions = track_->GetPositions();
  positions.clear();
  track_->SetTransform(Identity3x4());
  const auto& images = manager->GetImageList();
  if (images.empty()) return true;
  if (images.front()) points_->CopyFrom(*images.front(), false);
  const int32_t first = manager->GetFrameStart(), last = manager->GetFrameEnd();
  bool camera_set = false;
  for (const SharedPtr<FeatureImage>& image : images) {
    if (!image) continue;
    const int32_t index = image->GetImageIndex();
    if (index < first || index > last) continue;
    positions.push_back(image->GetC());
    if (camera_set) continue;
    if (last_textured_index_ == -1 || index == last_textured_index_) {
      SetCameraObjectParams(image, manager->GetImageCache(), false);
      camera_set = true;
    }
  }
  return true;
}

void Scene::SetFPoints3D(const SharedPtr<FeatureMap>& map) {
  if (!map) {
    points_->UseOwnPoints();
    shown_map_ = SharedPtr<FeatureMap>();
    points_->SetTransform(Identity3x4());
    return;
  }
  if (current_image_) {
    // The tracking thread may add points and set flags meanwhile: the write lock keeps the
    // list and the flag words still while they are rewritten.
    std::lock_guard<ReadWriteSpinLock> writing(map->GetFPoint3DLock());
    for (const SharedPtr<FeaturePoint3D>& p : map->GetFPoint3DList()) {
      if (p) p->ClearFlags(FP3D_FLAG_SEEN);
    }
    for (const SharedPtr<FeaturePoint2D>& f : current_image_->GetFPoints2D()) {
      if (f && f->GetFPoint3D()) f->GetFPoint3D()->SetFlags(FP3D_FLAG_SEEN);
    }
  } else {
    Notify(5, "Scene::SetFPoints3D: no current image set");
  }
  points_->SetTransform(Identity3x4());
  points_->SetPoints(map->GetFPoint3DList(), map->GetFPoint3DLock());
  shown_map_ = map;
}

void Scene::ClearData() {
  points_->UseOwnPoints();
  shown_map_ = SharedPtr<FeatureMap>();
  // Deselect first: deleting the selected object deletes the gizmo, which may be the next
  // sibling the loop holds.
  SelectObject(0);
  NHSObject* next = nullptr;
  for (NHSObject* child = GetFirstChild(); child != nullptr; child = next) {
    next = child->GetNextSibling();
    if (child->IsSceneObject()) delete child;
  }
}

// ---- camera object

void Scene::SetCameraObjectParams(const SharedPtr<FeatureImage>& image, ImageCache* cache,
                                  bool force) {
  if (!image) Notify(2, "Scene::SetCameraObjectParams: image not set");
  if (cache == nullptr) Notify(2, "Scene::SetCameraObjectParams: image cache not set");
  current_image_ = image;
  cache_ = cache;
  pending_ = true;
  force_ = force_ || force;
}

void Scene::UpdateCameraObject() {
  if (!pending_ || !current_image_) return;
  pending_ = false;
  const bool force = force_;
  force_ = false;
  const int32_t index = current_image_->GetImageIndex();
  if (force) {
    camera_->SetFromCamera(*current_image_, scene_matrix_, cache_);
    last_textured_index_ = cache_ != nullptr ? index : -1;
  } else if (last_textured_index_ >= 0 && last_textured_index_ != index) {
    camera_->SetFromCamera(*current_image_, scene_matrix_, cache_);
    last_textured_index_ = index;
  } else {
    camera_->SetFromCamera(*current_image_, scene_matrix_, nullptr);
  }
}

// ---- visibility

void Scene::ShowUserObjects(bool show) {
  for (NHSObject* c = GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    if (c->IsSceneObject()) Show(c, show);
  }
}

void Scene::UpdateObjectFlags(int mode, uint32_t flags) {
  if (mode == 0) {
    Show(axes_, false);
    Show(grid_, (flags & SCENE_SHOW_GRID_CAMERA_VIEW) != 0);
    Show(orbit_center_, false);
    Show(camera_, false);
    Show(track_, false);
  } else if (mode == 1) {
    const bool axes = (flags & SCENE_SHOW_AXES) != 0;
    Show(axes_, axes);
    Show(grid_, (flags & SCENE_SHOW_GRID_OBSERVER_VIEW) != 0);
    Show(camera_, (flags & SCENE_SHOW_CAMERA) != 0);
    Show(track_, (flags & SCENE_SHOW_CAMERA_TRACK) != 0);
    bool orbit = (flags & SCENE_SHOW_ORBIT_CENTER) != 0;
    if (orbit && axes) {
      // On the axes' origin the axes already mark it.
      const Matrix3x4& o = orbit_center_->GetTransform();
      const Matrix3x4& a = axes_->GetTransform();
      double d2 = 0.0;
      for (int r = 0; r < 3; ++r) d2 += (o[r][3] - a[r][3]) * (o[r][3] - a[r][3]);
      orbit = d2 > 1e-4;
    }
    Show(orbit_center_, orbit);
  } else {
    Notify(2, "Scene::UpdateObjectFlags: unknown viewing mode: %d", mode);
    return;
  }
  Show(points_, true);
  ShowUserObjects((flags & SCENE_SHOW_USER_OBJECTS) != 0);
  points_->AssignFlags(flags);
}

void Scene::SetOrbitCenter(const vm::Vector3& p) {
  Matrix3x4& t = orbit_center_->GetTransform();
  for (int r = 0; r < 3; ++r) t[r][3] = p[r];
}

vm::Vector3 Scene::GetOrbitCenter() const {
  const Matrix3x4& t = orbit_center_->GetTransform();
  return {t[0][3], t[1][3], t[2][3]};
}

// ---- moves

void Scene::TransformWCS(const Matrix3x4& M) {
  axes_->PreMultiplyTransform(M);
  grid_->PreMultiplyTransform(M);
}

void Scene::TransformExceptPointCloud(const Matrix4x4& M) {
  scene_matrix_.Multiply(M, scene_matrix_);
  for (NHSObject* c = GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    if (c != points_) c->PreMultiplyTransform(M);
  }
}

void Scene::TransformReconstruction(const Matrix4x4& M) {
  scene_matrix_.Multiply(M, scene_matrix_);
  for (NHSObject* c = GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    if (c == camera_ || c == track_ || c == points_ || c->IsSceneObject()) {
      c->PreMultiplyTransform(M);
    }
  }
}

Matrix4x4 Scene::SyncMovedGroundGrid(CameraTrackingManager* manager) {
  Matrix4x4 W = Identity4();
  if (manager == nullptr) {
    Notify(2, "Scene::SyncMovedGroundGrid: camera tracking manager not set!");
    return W;
  }
  Matrix3x4 inverse;
  inverse.InvertAffine(grid_->GetTransform());
  std::memcpy(W.m, inverse.m, sizeof inverse.m);
  TransformExceptPointCloud(W);
  scene_matrix_ = Identity4();
  manager->TransformScene(W.m);
  if (current_image_) camera_->SetFromCamera(*current_image_, scene_matrix_, nullptr);
  SetData(manager);
  grid_->SetTransform(Identity3x4());
  axes_->SetTransform(Identity3x4());
  return W;
}

void Scene::SyncMovedScene(CameraTrackingManager* manager) {
  if (manager == nullptr) {
    Notify(2, "Scene::SyncMovedScene: camera tracking manager not set!");
    return;
  }
  manager->TransformScene(scene_matrix_.m);
  scene_matrix_ = Identity4();
  if (current_image_) camera_->SetFromCamera(*current_image_, scene_matrix_, nullptr);
  SetData(manager);
}

// ---- selected points

std::size_t Scene::DeleteSelected3DPoints() {
  const uint32_t display_flags = points_->GetFlags();
  std::size_t n = 0;
  {
    std::lock_guard<ReadWriteSpinLock> writing(points_->GetLock());
    for (const SharedPtr<FeaturePoint3D>& p : points_->GetPoints()) {
      if (!p || p->TestFlags(FP3D_FLAG_REMOVED) || !SelectedAndShown(display_flags, *p)) continue;
      p->SetFlags(FP3D_FLAG_REMOVED);
      ++n;
    }
  }
  Notify(5, "Scene::DeleteSelected3DPoints: delete %ld 3D points", static_cast<long>(n));
  return n;
}

std::size_t Scene::GetSelected3DPoints(vm::Vector3* mean, PointList* list) {
  vm::Vector3 sum{0.0, 0.0, 0.0};
  const uint32_t display_flags = points_->GetFlags();
  std::size_t n = 0;
  {
    std::shared_lock<ReadWriteSpinLock> reading(points_->GetLock());
    for (const SharedPtr<FeaturePoint3D>& p : points_->GetPoints()) {
      if (!p || !SelectedAndShown(display_flags, *p)) continue;
      if (list != nullptr) list->push_back(p);
      sum = sum + vm::Vector3(*p);
      ++n;
    }
  }
  if (mean != nullptr) *mean = n > 1 ? sum * (1.0 / double(n)) : sum;
  return n;
}

// ---- grid and colours

uint32_t Scene::SelectGroundGrid(bool rotate, bool scale, bool translate) {
  UIDRegistry::Instance().SetSelected(grid_->GetUID(), true);
  SelectObject(grid_->GetUID());
  return GetGizmo()->SetModes(rotate, scale, translate);
}

void Scene::ApplyBuiltinColors() {
  const DisplaySettings& settings = DisplaySettings::Get();
  grid_->SetColor(settings.SlotColor(DS_SLOT_GROUND_GRID));
  camera_->SetColor(settings.SlotColor(DS_SLOT_CAMERA));
  track_->SetColor(settings.SlotColor(DS_SLOT_CAMERA_TRACK));
}
