// Scene objects of the test-scene mode: placing a user object on the selected 3D points,
// and turning, scaling and moving the selected object with the gizmo.
#include <cmath>

#include "foundation/runtime/notify.h"
#include "foundation/runtime/uid_registry.h"
#include "interaction/controller.h"
#include "interaction/undo_commands.h"
#include "interaction/viewer_base.h"
#include "scene/display_settings.h"
#include "scene/objects/nhs_object_scene.h"
#include "scene/render/selection_render.h"
#include "scene/scene.h"

namespace uic {

namespace {

// Below this a screen axis or a row of the projection is taken as degenerate: the axis
// points at the viewer and a motion says nothing about it.
constexpr double kTinyLength = 1e-12;

double RowLength(const Matrix3x4& M, int r) {
  return std::sqrt(M[r][0] * M[r][0] + M[r][1] * M[r][1] + M[r][2] * M[r][2]);
}

vm::Vector3 Column(const Matrix3x3& M, int k) {
  return {M[0][k], M[1][k], M[2][k]};
}

// The single steps a gizmo part code stands for, in the order they are applied: the
// operation (0 turn, 1 scale, 2 move) and the axes. Codes outside 1 .. 19 give none.
struct GizmoSteps {
  int operation = -1;
  int count = 0;
  int axes[2] = {0, 0};
};

GizmoSteps StepsOfCode(int code) {
  static constexpr int kPairs[3][2] = {{0, 1}, {2, 0}, {1, 2}};
  GizmoSteps s;
  if (code < 1 || code > 19 || code == 13) return s;
  const int group = (code - 1) / 6;  // 0 turn, 1 scale, 2 move (13 handled apart)
  const int index = (code >= 14 ? code - 14 : (code - 1) % 6);
  s.operation = code >= 14 ? 2 : group;
  if (index < 3) {
    s.count = 1;
    s.axes[0] = index;
  } else {
    s.count = 2;
    s.axes[0] = kPairs[index - 3][0];
    s.axes[1] = kPairs[index - 3][1];
  }
  return s;
}

}  // namespace

int ViewerBase::AddSceneObject(int type) {
  m_object_color = DisplaySettings::Get().SlotColor(DS_SLOT_NEW_OBJECT);
  Scene* scene = m_controller->GetScene();
  if (scene == nullptr) {
    Notify(2, "ViewerBase::AddSceneObject: scene not set");
    return 0;
  }
  std::vector<FeaturePoint3D*> selected;
  m_controller->GetSelectedPoints3D(selected);
  Notify(5, "ViewerBase::AddSceneObject: color 0x%x, type %d, no. 3D points %d",
         unsigned(m_object_color), type, int(selected.size()));
  const std::vector<const FeaturePoint3D*> points(selected.begin(), selected.end());
  NHSObject* object = scene->AddSceneObject(static_cast<uint32_t>(type), points, m_object_color);
  if (object == nullptr) return 0;
  if (type == 2 && m_image) OrientPlaneToCamera(*m_image, object);
  m_controller->DeselectAll(false);
  PushCommand(new SceneObjectCreateDeleteCmd(object->GetUID(), 0));
  m_controller->SetModified(true);
  m_controller->EmitObjectPoolChanged();
  m_controller->UpdateViewers();
  return 0;
}

void ViewerBase::OrientPlaneToCamera(const FeatureImage& image, NHSObject* plane) {
  if (plane == nullptr) return;
  Matrix3x4 G;
  plane->GetGlobalTransform(G, false);
  const vm::Vector3& A = image.GetA();
  const double facing = A.x * G[0][2] + A.y * G[1][2] + A.z * G[2][2];
  if (!(facing > 0.0)) return;
  Matrix3x3 R;
  R.SetFromMatrix3x4(G);
  for (int r = 0; r < 3; ++r) {
    R[r][1] = -R[r][1];
    R[r][2] = -R[r][2];
  }
  plane->GetTransform().SetRotationPart(R);
}

bool ViewerBase::IsSelectedObjectAGizmo(int x, int y) {
  const ViewerState* state = CurrentState();
  const int mode = state ? state->m_mode : -1;
  // The picker takes view pixels; the render context holds the projection centre.
  if (mode != 0 && mode != 1)
    Notify(2, "ViewerBase::IsSelectedObjectAGizmo: bad view mode %d", mode);
  Scene* scene = m_controller->GetScene();
  if (scene == nullptr) return false;
  const int32_t id = PickObjectAt(m_render_context, scene, x, y);
  if (id == 0) return false;
  const UIDBase* hit = UIDRegistry::Instance().GetObject(id);
  return hit != nullptr && hit->GetUIDType() == UID_TYPE_GIZMO_HANDLE;
}

void ViewerBase::DragGizmo(const Matrix3x4& P, double dx, double dy, int code, NHSObject* object) {
  if (object == nullptr) return;
  Matrix3x3 L;
  object->GetRotation(L);
  const Matrix3x3 L0 = L;  // every step uses the axes the call started with
  vm::Vector3 T{object->GetTransform()[0][3], object->GetTransform()[1][3],
                object->GetTransform()[2][3]};

  Matrix3x4 G, PG;
  object->GetGlobalTransform(G, false);
  PG.Multiply(P, G);
  const double r0 = RowLength(PG, 0), r1 = RowLength(PG, 1), r2 = RowLength(PG, 2);
  const double r2_scale = r2 > kTinyLength ? std::sqrt(r0 * r1) / r2 : 0.0;
  const double z0 = PG[2][3];
  const bool can_move = r0 > kTinyLength && r1 > kTinyLength;
  const vm::Vector3 m{can_move ? dx / r0 : 0.0, can_move ? dy / r1 : 0.0, 0.0};

  // The screen image a(k) of each axis and its screen direction u(k).
  vm::Vector3 a[3];
  double a_length[3];
  vm::Vector2 u[3];
  for (int k = 0; k < 3; ++k) {
    a[k] = {PG[0][k], PG[1][k], PG[2][k] * r2_scale};
    a_length[k] = a[k].Length();
    if (a_length[k] > kTinyLength) {
      u[k] = {a[k].x / a_length[k], a[k].y / a_length[k]};
    } else {
      u[k] = {0.0, 0.0};
    }
  }

  auto turn = [&](int k) {
    if (!(a_length[k] > kTinyLength)) return;
    const double angle =
        0.01 * (u[k].x * dy - u[k].y * dx) / std::sqrt(u[k].x * u[k].x + u[k].y * u[k].y + 1e-5);
    Matrix3x3 R, turned;
    R.SetIdentity();
    R.SetRotation(Column(L0, k), angle);
    turned.Multiply(R, L);
    L = turned;
  };
  auto scale = [&](int k) {
    if (!(a_length[k] > kTinyLength)) return;
    const double f = std::pow(1.01, u[k].x * dx + u[k].y * dy);
    for (int r = 0; r < 3; ++r) L[r][k] *= f;
  };
  auto move = [&](int k) {
    if (!can_move || !(a_length[k] > kTinyLength)) return;
    const double d = m.Dot(a[k]) / a_length[k] * z0;
    T += Column(L0, k) * d;
  };

  if (code == 13) {
    L = L * std::pow(1.01, dx);
  } else {
    const GizmoSteps steps = StepsOfCode(code);
    for (int i = 0; i < steps.count; ++i) {
      const int k = steps.axes[i];
      if (steps.operation == 0) turn(k);
      if (steps.operation == 1) scale(k);
      if (steps.operation == 2) move(k);
    }
  }

  Matrix3x4& local = object->GetTransform();
  local.SetRotationPart(L);
  local[0][3] = T.x;
  local[1][3] = T.y;
  local[2][3] = T.z;
  NHSObject* root = object;
  while (root->GetParent() != nullptr) root = root->GetParent();
  if (auto* scene_root = dynamic_cast<NHSObject_Scene*>(root)) {
    scene_root->SelectObject(object->GetUID());
  }
}

}  // namespace uic
