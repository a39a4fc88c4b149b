#include "scene/user_object_factory.h"

#include <memory>
#include <optional>

#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/point_transform.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_mapper.h"
#include "foundation/tracks/feature_point.h"
#include "scene/objects/mesh_objects.h"
#include "scene/objects/point_triangulation.h"
#include "scene/objects/primitives.h"
#include "scene/plane_fit.h"
#include "scene/scene.h"

using vm::Vector2;
using vm::Vector3;

namespace {

int TriangulateDelaunay(std::vector<MeshTriangle>& out, std::vector<Vector2> points) {
  std::vector<PointTriangle> triangles;
  const int code = BuildTriangleMeshFromPoints(triangles, std::move(points));
  if (code < 0) return code;
  out.clear();
  out.reserve(triangles.size());
  for (const PointTriangle& t : triangles) out.push_back({t.a, t.b, t.c});
  return 0;
}

PointTriangulator g_triangulator = &TriangulateDelaunay;

enum : uint32_t {
  kTypeBox = 0,
  kTypeCone = 1,
  kTypePlane = 2,
  kTypeMesh = 3,
  kTypeTexturedMesh = 4,
};

constexpr uint32_t kTexturedMeshColor = 0x00ffffff;

void SetTranslation(NHSObject& object, const Vector3& t) {
  Matrix3x4& m = object.GetTransform();
  m.m[3] = t.x, m.m[7] = t.y, m.m[11] = t.z;
}

}  // namespace

PointTriangulator SetPointTriangulator(PointTriangulator triangulator) {
  const PointTriangulator before = g_triangulator;
  g_triangulator = triangulator;
  return before;
}

PointTriangulator GetPointTriangulator() {
  return g_triangulator;
}

NHSObject* Scene::AddSceneObject(uint32_t type, const std::vector<const FeaturePoint3D*>& selection,
                                 uint32_t color) {
  // Direction points (a pure-rotation solve) become Cartesian points through the point
  // cloud's camera; when there are any, only they are used.
  std::vector<std::unique_ptr<FeaturePoint3D>> converted;
  std::vector<const FeaturePoint3D*> points;
  std::optional<FeatureMapper> mapper;
  for (const FeaturePoint3D* p : selection) {
    if (p == nullptr || p->GetCS() != FeaturePoint3D::eSpherical) continue;
    if (!mapper) mapper.emplace(*points_);
    auto cartesian = std::make_unique<FeaturePoint3D>(FeaturePoint3D::eCartesian);
    mapper->ToCartesian(*p, cartesian.get());
    points.push_back(cartesian.get());
    converted.push_back(std::move(cartesian));
  }
  if (converted.empty()) {
    for (const FeaturePoint3D* p : selection) {
      if (p != nullptr) points.push_back(p);
    }
  }
  const int n = static_cast<int>(points.size());
  Notify(5, "Scene::AddSceneObject: 3D points %d, color 0x%x", n, color);

  Vector3 centre{0, 0, 50};
  if (n > 0) {
    centre = {0, 0, 0};
    for (const FeaturePoint3D* p : points) centre += *p;
    centre *= 1.0 / n;
  }
  Notify(5, "Scene::AddSceneObject:");

  NHSObject* object = nullptr;
  const char* prefix = nullptr;
  switch (type) {
    case kTypeBox: {
      auto* box = new NHSObject_Cuboid();
      box->SetColor(color);
      box->SetCorners({0, 0, 0}, {5, 5, 5});
      SetTranslation(*box, centre);
      object = box, prefix = "Cube_";
      break;
    }
    case kTypeCone: {
      auto* cone = new NHSObject_Cone(5, 1.5, 5.0, 20);
      cone->SetColor(color);
      SetTranslation(*cone, centre);
      object = cone, prefix = "Cone_";
      break;
    }
    case kTypePlane:
      if (n < 3) {
        auto* rect = new NHSObject_Rect();
        rect->SetCorners(-2.5, -2.5, 2.5, 2.5);
        rect->SetColor(color);
        rect->SetOrientation(0);
        SetTranslation(*rect, centre);
        object = rect;
      } else {
        object = gen_approx_plane(points, color);
      }
      prefix = n < 4 ? "Plane_" : "ApproxPlane_";
      break;
    case kTypeMesh:
    case kTypeTexturedMesh:
      if (n < 3) {
        Notify(4, "Scene::AddSceneObject: need at least 3 points for triangle mesh (%d)", n);
        break;
      }
      object = type == kTypeMesh
                   ? AddSceneObjectFromPoints(color, points, centre, current_image_.Get(), false)
                   : AddSceneObjectFromPoints(kTexturedMeshColor, points, centre,
                                              current_image_.Get(), true);
      prefix = "TriangleMesh_";
      break;
    default:
      Notify(4, "Scene::AddSceneObject: unknown type %ld", static_cast<long>(type));
      break;
  }
  if (object == nullptr) return nullptr;

  UIDRegistry& registry = UIDRegistry::Instance();
  registry.SetUniqueName(object->GetUID(), prefix);
  Notify(5, "Scene::AddSceneObject: name \"%s\"", registry.GetName(object->GetUID()));
  object->PreMultiplyTransform(scene_matrix_);
  AddChild(object);
  return object;
}

NHSObject_TriMesh* Scene::AddSceneObjectFromPoints(uint32_t color,
                                                   const std::vector<const FeaturePoint3D*>& points,
                                                   const Vector3& centre, const FeatureImage* image,
                                                   bool textured) {
  const size_t n = points.size();
  if (n < 3) return nullptr;

  // The mesh's axes r0, r1, r2 and each point's 2D coordinates.
  Vector3 r[3];
  std::vector<Vector2> q;
  q.reserve(n);
  if (image != nullptr) {
    Matrix3x4 P;
    GetProjectionMatrixFromCamera(*image, P);
    r[0] = image->H0(), r[1] = image->V0(), r[2] = image->GetA();
    for (const FeaturePoint3D* p : points) {
      Vector3 h;
      TransformPoint(h, P, *p);
      // A point behind the camera would come out mirrored into the image.
      if (!(h.z > 0)) {
        Notify(4, "Scene::AddSceneObjectFromPoints: a point lies behind the camera");
        return nullptr;
      }
      q.push_back({h.x / h.z, h.y / h.z});
    }
  } else {
    PlaneFit fit;
    if (fit_plane_random_sampling(points, fit) < 0) return nullptr;
    for (int i = 0; i < 3; ++i)
      r[i] = {fit.rotation.m[i], fit.rotation.m[3 + i], fit.rotation.m[6 + i]};
    for (const FeaturePoint3D* p : points) q.push_back({r[0].Dot(*p), r[1].Dot(*p)});
    textured = false;
  }

  if (g_triangulator == nullptr) {
    Notify(2, "Scene::AddSceneObjectFromPoints: no triangulation available");
    return nullptr;
  }
  std::vector<MeshTriangle> triangles;
  if (g_triangulator(triangles, q) < 0) return nullptr;
  std::erase_if(triangles, [n](const MeshTriangle& t) { return t.a >= n || t.b >= n || t.c >= n; });

  auto mesh = std::make_unique<NHSObject_TriMesh>();
  mesh->SetColor(color);
  std::vector<Vector3> positions;
  positions.reserve(n);
  mesh->Vertices().reserve(n);
  for (const FeaturePoint3D* p : points) {
    const Vector3 d = *p - centre;
    mesh->Vertices().push_back({r[0].Dot(d), r[1].Dot(d), r[2].Dot(d)});
    positions.push_back(*p);
  }

  bool done = false;
  if (textured) {
    const SharedPtr<ImageCacheEntry> entry = image->GetCacheEntry();
    if (entry && entry->error == 0 && entry->bgra.data != nullptr) {
      const ArrayMap<const uint32_t> frame(entry->bgra.data, entry->bgra.stride, entry->bgra.width,
                                           entry->bgra.height);
      done = TextureMeshFromFrame(*mesh, q, positions, triangles, *image, frame);
    }
  }
  if (!done && color != 0) {
    for (const MeshTriangle& t : triangles) mesh->Triangles().push_back({t.a, t.b, t.c, 0, 0, 0});
  }

  Matrix3x3 R;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) R.m[3 * i + j] = r[j][i];
  }
  mesh->GetTransform().SetRotationPart(R);
  SetTranslation(*mesh, centre);
  return mesh.release();
}
