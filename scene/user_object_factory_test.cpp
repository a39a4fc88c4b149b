#include "scene/user_object_factory.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "features/feature_image.h"
#include "foundation/numeric/point_transform.h"
#include "foundation/tracks/feature_mapper.h"
#include "foundation/tracks/feature_point.h"
#include "image/image_cache.h"
#include "image/image_list_for_test.h"
#include "scene/objects/mesh_objects.h"
#include "scene/objects/primitives.h"
#include "scene/scene.h"
#include "testing/log_capture.h"
#include "tracking/job/camera_tracking_manager.h"

namespace {

using vm::Vector2;
using vm::Vector3;

// Delaunay by its definition: every triangle whose circumcircle holds no other point
// (inputs must not be co-circular), clockwise for y up.
int BruteForceDelaunay(std::vector<MeshTriangle>& out, std::vector<Vector2> p) {
  if (p.size() < 3) return -1;
  out.clear();
  const uint32_t n = static_cast<uint32_t>(p.size());
  for (uint32_t i = 0; i < n; ++i) {
    for (uint32_t j = i + 1; j < n; ++j) {
      for (uint32_t k = j + 1; k < n; ++k) {
        const Vector2 a = p[i], b = p[j], c = p[k];
        const double d = 2 * (a.x * (b.y - c.y) + b.x * (c.y - a.y) + c.x * (a.y - b.y));
        if (std::abs(d) < 1e-12) continue;
        const double a2 = a.SquaredLength(), b2 = b.SquaredLength(), c2 = c.SquaredLength();
        const Vector2 centre{(a2 * (b.y - c.y) + b2 * (c.y - a.y) + c2 * (a.y - b.y)) / d,
                             (a2 * (c.x - b.x) + b2 * (a.x - c.x) + c2 * (b.x - a.x)) / d};
        const double r2 = (a - centre).SquaredLength();
        bool empty = true;
        for (uint32_t m = 0; m < n && empty; ++m) {
          empty = m == i || m == j || m == k || (p[m] - centre).SquaredLength() >= r2 * (1 - 1e-12);
        }
        if (!empty) continue;
        const double cross = (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
        out.push_back(cross < 0 ? MeshTriangle{i, j, k} : MeshTriangle{i, k, j});
      }
    }
  }
  return 0;
}

// Owns the selected points.
struct Selection {
  std::vector<std::unique_ptr<FeaturePoint3D>> owned;
  std::vector<const FeaturePoint3D*> points;
  void Add(double x, double y, double z, int32_t cs = FeaturePoint3D::eCartesian) {
    owned.push_back(std::make_unique<FeaturePoint3D>(x, y, z, cs));
    points.push_back(owned.back().get());
  }
};

// Points on a bumpy surface some 20 units ahead of the origin (no four co-circular).
Selection Surface(int n, double z = 20) {
  Selection s;
  for (int i = 0; i < n; ++i) {
    const double x = -4 + 8.0 * ((i * 7) % n) / n + 0.13 * i, y = -3 + 6.0 * ((i * 3) % n) / n;
    s.Add(x, y, z + 0.3 * std::sin(1.7 * i));
  }
  return s;
}

Vector3 Translation(const NHSObject& o) {
  const Matrix3x4& m = o.GetTransform();
  return {m.m[3], m.m[7], m.m[11]};
}

std::string NameOf(const NHSObject* o) {
  const char* name = UIDRegistry::Instance().GetName(o->GetUID());
  return name != nullptr ? name : "";
}

void ExpectNear(const Vector3& a, const Vector3& b, double tolerance) {
  EXPECT_NEAR(a.x, b.x, tolerance);
  EXPECT_NEAR(a.y, b.y, tolerance);
  EXPECT_NEAR(a.z, b.z, tolerance);
}

// Each vertex, carried by the mesh's transform, lands on its point.
void ExpectVerticesOnPoints(const NHSObject_TriMesh& mesh, const Selection& s) {
  ASSERT_EQ(mesh.Vertices().size(), s.points.size());
  for (size_t i = 0; i < s.points.size(); ++i) {
    Vector3 p;
    TransformPoint(p, mesh.GetTransform(), mesh.Vertices()[i]);
    ExpectNear(p, *s.points[i], 1e-9);
  }
}

class UserObjectTest : public testing::Test {
 protected:
  void SetUp() override { previous_ = GetPointTriangulator(); }
  void TearDown() override { SetPointTriangulator(previous_); }

  // An image of the camera at the origin looking along +z.
  SharedPtr<FeatureImage> FrontImage(FeatureImageOwner* owner = nullptr) {
    auto image = SharedPtr<FeatureImage>::Make(owner);
    image->Set(Vector3{0, 0, 0}, Vector3{0, 0, 1}, Vector3{500, 0, 0}, Vector3{0, 500, 0}, 640, 480,
               0.0, 0.01, 0.01, 0.0, 0, nullptr);
    image->SetImageIndex(0);
    return image;
  }

  Scene scene_;
  PointTriangulator previous_ = nullptr;
};

TEST_F(UserObjectTest, BoxOnTheMeanNamedInTurnAndMovedWithTheScene) {
  Selection s;
  s.Add(0, 1, 2);
  s.Add(2, 3, 4);
  const int children = scene_.CountChildren();
  NHSObject* first = scene_.AddSceneObject(0, s.points, 0xff00ff00);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->GetParent(), &scene_);
  EXPECT_EQ(scene_.CountChildren(), children + 1);
  EXPECT_EQ(NameOf(first), "Cube_0");
  EXPECT_EQ(first->GetColor(), 0xff00ff00u);
  auto* box = dynamic_cast<NHSObject_Cuboid*>(first);
  ASSERT_NE(box, nullptr);
  Vector3 lo, hi;
  TransformPoint(lo, box->GetTransform(), box->GetMin());
  TransformPoint(hi, box->GetTransform(), box->GetMax());
  ExpectNear(lo, {1, 2, 3}, 1e-12);
  ExpectNear(hi, {6, 7, 8}, 1e-12);

  // After the reconstruction moved, a new object moves with it.
  Matrix4x4 move;
  move.SetZero();
  move[0][1] = -1, move[1][0] = 1, move[2][2] = 1, move[3][3] = 1;
  move[0][3] = 10;
  scene_.TransformReconstruction(move);
  NHSObject* second = scene_.AddSceneObject(0, s.points, 0xff00ff00);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(NameOf(second), "Cube_1");
  ExpectNear(Translation(*second), {10 - 2, 1, 3}, 1e-12);
}

TEST_F(UserObjectTest, TypesNamesAndPlacement) {
  struct Case {
    uint32_t type;
    int points;
    const char* name;
    uint16_t uid_type;
  };
  const Case cases[] = {
      {1, 2, "Cone_0", NHS_TYPE_CONE},
      {2, 2, "Plane_0", NHS_TYPE_RECT},
      {2, 3, "Plane_1", NHS_TYPE_RECT},
      {2, 4, "ApproxPlane_0", NHS_TYPE_RECT},
      {3, 5, "TriangleMesh_0", NHS_TYPE_TRI_MESH},
      {0, 0, "Cube_0", NHS_TYPE_CUBOID},
  };
  std::vector<NHSObject*> made;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Selection s = Surface(c.points);
    NHSObject* o = scene_.AddSceneObject(c.type, s.points, 0xff123456);
    ASSERT_NE(o, nullptr);
    made.push_back(o);
    EXPECT_EQ(NameOf(o), c.name);
    EXPECT_EQ(o->GetUIDType(), c.uid_type);
    Vector3 mean{0, 0, 50};
    if (c.points > 0) {
      mean = {0, 0, 0};
      for (const FeaturePoint3D* p : s.points) mean += *p;
      mean *= 1.0 / c.points;
    }
    if (c.type != 2 || c.points < 3) ExpectNear(Translation(*o), mean, 1e-9);
  }
  // The user's cone and the small plane.
  auto* cone = dynamic_cast<NHSObject_Cone*>(made[0]);
  ASSERT_NE(cone, nullptr);
  EXPECT_EQ(cone->GetOrientation(), 5u);
  EXPECT_FLOAT_EQ(float(cone->GetRadius()), 1.5f);
  EXPECT_FLOAT_EQ(float(cone->GetHeight()), 5.0f);
  EXPECT_EQ(cone->GetSegments(), 20u);
  auto* plane = dynamic_cast<NHSObject_Rect*>(made[1]);
  ASSERT_NE(plane, nullptr);
  EXPECT_FLOAT_EQ(plane->s0(), -2.5f);
  EXPECT_FLOAT_EQ(plane->t1(), 2.5f);
}

TEST_F(UserObjectTest, RefusalsAreLoggedAndAddNothing) {
  kxtest::LogCapture log(5);
  const int children = scene_.CountChildren();
  const Selection two = Surface(2);
  EXPECT_EQ(scene_.AddSceneObject(3, two.points, 0xffffffff), nullptr);
  EXPECT_TRUE(log.Has("Scene::AddSceneObject: need at least 3 points for triangle mesh (2)"));
  EXPECT_EQ(scene_.AddSceneObject(4, two.points, 0xffffffff), nullptr);
  EXPECT_EQ(scene_.AddSceneObject(7, two.points, 0xffffffff), nullptr);
  EXPECT_TRUE(log.Has("Scene::AddSceneObject: unknown type 7"));
  EXPECT_TRUE(log.Has("Scene::AddSceneObject: 3D points 2, color 0xffffffff"));
  // The fit refuses three points on a line.
  Selection line;
  for (int i = 0; i < 3; ++i) line.Add(i, 2 * i, 3 * i);
  EXPECT_EQ(scene_.AddSceneObject(2, line.points, 0xffffffff), nullptr);
  EXPECT_EQ(scene_.CountChildren(), children);

  // Without a triangulation no mesh is made.
  SetPointTriangulator(nullptr);
  EXPECT_EQ(scene_.AddSceneObject(3, Surface(5).points, 0xffffffff), nullptr);
  EXPECT_TRUE(log.Has("no triangulation available"));
  EXPECT_EQ(scene_.CountChildren(), children);
}

TEST_F(UserObjectTest, DirectionPointsAreMadeCartesianAndUsedAlone) {
  // The point cloud's camera stands at (1, 2, 3).
  scene_.GetPointCloud()->Set(Vector3{1, 2, 3}, Vector3{0, 0, 1}, Vector3{500, 0, 0},
                              Vector3{0, 500, 0}, 640, 480, 0.0, 0.01, 0.01, 0.0, 0, nullptr);
  Selection s;
  s.Add(0.3, -0.2, 40, FeaturePoint3D::eSpherical);
  s.Add(100, 100, 100);  // Cartesian: left out since a direction point is there
  s.Add(-0.1, 0.1, 20, FeaturePoint3D::eSpherical);
  kxtest::LogCapture log(5);
  NHSObject* box = scene_.AddSceneObject(0, s.points, 0xffffffff);
  ASSERT_NE(box, nullptr);
  EXPECT_TRUE(log.Has("3D points 2,"));
  const Vector3 c{1, 2, 3};
  const Vector3 want =
      (c + SphericalDirection(0.3, -0.2) * 40 + c + SphericalDirection(-0.1, 0.1) * 20) * 0.5;
  ExpectNear(Translation(*box), want, 1e-9);
  EXPECT_EQ(s.owned[0]->GetCS(), FeaturePoint3D::eSpherical);  // the selection is untouched
}

TEST_F(UserObjectTest, MeshWithoutAnImageLiesOnThePointsInTheFittedPlane) {
  const Selection s = Surface(12);
  auto* mesh = dynamic_cast<NHSObject_TriMesh*>(scene_.AddSceneObject(3, s.points, 0xff0000ff));
  ASSERT_NE(mesh, nullptr);
  EXPECT_EQ(mesh->GetColor(), 0xff0000ffu);
  ExpectVerticesOnPoints(*mesh, s);
  EXPECT_FALSE(mesh->IsTextured());
  std::vector<MeshTriangle> want;
  std::vector<Vector2> q;
  for (const auto& v : mesh->Vertices()) q.push_back({v.x, v.y});  // plane coordinates
  ASSERT_EQ(BruteForceDelaunay(want, q), 0);
  ASSERT_EQ(mesh->Triangles().size(), want.size());
  for (const auto& t : mesh->Triangles()) {
    EXPECT_EQ(t.ta + t.tb + t.tc, 0u);
  }

  // Colour 0: the vertices alone.
  auto* bare = dynamic_cast<NHSObject_TriMesh*>(scene_.AddSceneObject(3, s.points, 0));
  ASSERT_NE(bare, nullptr);
  EXPECT_EQ(bare->Vertices().size(), 12u);
  EXPECT_TRUE(bare->Triangles().empty());

  // Type 4 without an image: the same mesh, untextured, in transparent white.
  auto* white = dynamic_cast<NHSObject_TriMesh*>(scene_.AddSceneObject(4, s.points, 0xff0000ff));
  ASSERT_NE(white, nullptr);
  EXPECT_EQ(white->GetColor(), 0x00ffffffu);
  EXPECT_FALSE(white->GetTexture());
  EXPECT_EQ(white->Triangles().size(), want.size());
}

TEST_F(UserObjectTest, MeshFromTheImageTakesTheCameraAxes) {
  const SharedPtr<FeatureImage> image = FrontImage();
  image->Transform(Matrix3x4{{0.8, -0.6, 0, 1, 0.6, 0.8, 0, -2, 0, 0, 1, -5}});
  scene_.SetCameraObjectParams(image, nullptr, false);
  const Selection s = Surface(9);
  auto* mesh = dynamic_cast<NHSObject_TriMesh*>(scene_.AddSceneObject(3, s.points, 0xff0000ff));
  ASSERT_NE(mesh, nullptr);
  ExpectVerticesOnPoints(*mesh, s);
  const Matrix3x4& m = mesh->GetTransform();
  ExpectNear({m.m[0], m.m[4], m.m[8]}, image->H0(), 1e-12);
  ExpectNear({m.m[1], m.m[5], m.m[9]}, image->V0(), 1e-12);
  ExpectNear({m.m[2], m.m[6], m.m[10]}, image->GetA(), 1e-12);
  EXPECT_FALSE(mesh->Triangles().empty());

  // Without a cached frame the textured mesh stays untextured white.
  auto* white = dynamic_cast<NHSObject_TriMesh*>(scene_.AddSceneObject(4, s.points, 0xff0000ff));
  ASSERT_NE(white, nullptr);
  EXPECT_EQ(white->GetColor(), 0x00ffffffu);
  EXPECT_FALSE(white->IsTextured());
  EXPECT_EQ(white->Triangles().size(), mesh->Triangles().size());
}

TEST_F(UserObjectTest, PointsBehindTheCameraMakeNoMesh) {
  scene_.SetCameraObjectParams(FrontImage(), nullptr, false);
  for (const double z : {-20.0, 0.0}) {
    SCOPED_TRACE(z);
    Selection s = Surface(6);
    s.Add(1, 1, z);
    const int children = scene_.CountChildren();
    EXPECT_EQ(scene_.AddSceneObject(3, s.points, 0xffffffff), nullptr);
    EXPECT_EQ(scene_.AddSceneObject(4, s.points, 0xffffffff), nullptr);
    EXPECT_EQ(scene_.CountChildren(), children);
  }
}

TEST_F(UserObjectTest, TexturedMeshFromTheCachedFrame) {
  CameraTrackingManager manager;  // the image's owner, with the frame cache
  ASSERT_EQ(manager.GetImageCache()->SetImageList(kxtest::ListOf({"frames.dummy"}), -1, -1), 0);
  scene_.SetCameraObjectParams(FrontImage(&manager), manager.GetImageCache(), false);
  const Selection s = Surface(9);
  auto* mesh = dynamic_cast<NHSObject_TriMesh*>(scene_.AddSceneObject(4, s.points, 0xff0000ff));
  ASSERT_NE(mesh, nullptr);
  EXPECT_EQ(mesh->GetColor(), 0x00ffffffu);
  ASSERT_TRUE(mesh->IsTextured());
  EXPECT_EQ(mesh->Coordinates().size(), 9u);
  ASSERT_FALSE(mesh->Triangles().empty());
  for (const auto& t : mesh->Triangles()) {
    EXPECT_EQ(t.a, t.ta);
    EXPECT_EQ(t.b, t.tb);
    EXPECT_EQ(t.c, t.tc);
  }
  for (const Vector2& uv : mesh->Coordinates()) {
    EXPECT_GT(uv.x, 0);
    EXPECT_LT(uv.x, 1);
    EXPECT_GT(uv.y, 0);
    EXPECT_LT(uv.y, 1);
  }
  ExpectVerticesOnPoints(*mesh, s);
}

}  // namespace
