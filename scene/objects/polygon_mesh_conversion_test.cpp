#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scene/objects/draw_rules.h"
#include "scene/objects/mesh_objects.h"
#include "scene/objects/primitives.h"
#include "scene/objects/recording_render_for_test.h"
#include "scene/objects/texture_pow2.h"

namespace {

using vm::Vector3;

struct Face {
  std::vector<uint32_t> v, tex;
  bool one_sided;
  uint32_t override_color;
};

std::vector<Face> Faces(const NHSObject_PolyMesh& mesh) {
  std::vector<Face> faces;
  mesh.ForEachPolygon([&](const NHSObject_PolyMesh::PolygonView& p) {
    faces.push_back(
        {{p.vertices, p.vertices + p.n}, {p.tex, p.tex + p.n}, p.one_sided, p.override_color});
  });
  return faces;
}

Vector3 Normal(const NHSObject_PolyMesh& mesh, const Face& f) {
  const auto& v = mesh.Vertices();
  return FaceNormal(v[f.v[0]], v[f.v[1]], v[f.v[2]]);
}

Vector3 Mean(const std::vector<Vector3>& points) {
  Vector3 sum{0, 0, 0};
  for (const Vector3& p : points) sum = sum + p;
  return sum * (1.0 / static_cast<double>(points.size()));
}

// Every face of a convex solid turns its normal away from the solid's inside.
void ExpectOutwardFaces(const NHSObject_PolyMesh& mesh) {
  const Vector3 inside = Mean(mesh.Vertices());
  for (const Face& f : Faces(mesh)) {
    EXPECT_TRUE(f.one_sided);
    EXPECT_GT(Normal(mesh, f).Dot(mesh.Vertices()[f.v[0]] - inside), 1e-9);
  }
}

void ExpectCommonParts(const NHSObject& source, const NHSObject_PolyMesh& mesh) {
  EXPECT_EQ(mesh.GetUIDType(), NHS_TYPE_POLY_MESH);
  EXPECT_NE(mesh.GetUID(), source.GetUID());
  EXPECT_EQ(mesh.GetColor(), source.GetColor());
  for (int i = 0; i < 12; ++i) EXPECT_EQ(mesh.GetTransform().m[i], source.GetTransform().m[i]);
  EXPECT_EQ(mesh.GetParent(), nullptr);
  EXPECT_EQ(mesh.GetFirstChild(), nullptr);
  EXPECT_EQ(mesh.GetFirstProperty(), nullptr);
  for (const Face& f : Faces(mesh)) EXPECT_EQ(f.override_color, 0u);
}

Matrix3x4 SomeTransform() {
  Matrix3x4 t;
  const double m[12] = {0, -1, 0, 3, 1, 0, 0, -2, 0, 0, 1, 7};
  for (int i = 0; i < 12; ++i) t.m[i] = m[i];
  return t;
}

TEST(PolyMeshFromTriMesh, CopiesVerticesTrianglesAndSharesTheTexture) {
  NHSObject_TriMesh tri;
  tri.SetColor(0x80123456);
  tri.SetTransform(SomeTransform());
  UIDRegistry::Instance().SetName(tri.GetUID(), "Scan");
  tri.Vertices() = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}};
  tri.Triangles() = {{0, 1, 2, 3, 2, 1}, {1, 3, 2, 0, 1, 2}};

  {  // coordinates without a texture: texture numbers are zeros
    tri.Coordinates() = {{0, 0}, {1, 0}, {0, 1}, {1, 1}};
    NHSObject_PolyMesh mesh(tri);
    ExpectCommonParts(tri, mesh);
    EXPECT_STREQ(UIDRegistry::Instance().GetName(mesh.GetUID()), "Scan");
    const auto faces = Faces(mesh);
    ASSERT_EQ(faces.size(), 2u);
    EXPECT_EQ(faces[0].v, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(faces[1].v, (std::vector<uint32_t>{1, 3, 2}));
    for (const Face& f : faces) {
      EXPECT_FALSE(f.one_sided);
      EXPECT_EQ(f.tex, (std::vector<uint32_t>{0, 0, 0}));
    }
    EXPECT_EQ(mesh.Coordinates().size(), 4u);
  }

  tri.SetTexture(MakeTexturePow2(nullptr, 0, 4, 4));
  const int32_t refs = tri.GetTexture().RefCount();
  {
    NHSObject_PolyMesh mesh(tri);
    EXPECT_EQ(mesh.GetTexture().Get(), tri.GetTexture().Get());
    EXPECT_EQ(tri.GetTexture().RefCount(), refs + 1);
    const auto faces = Faces(mesh);
    EXPECT_EQ(faces[0].tex, (std::vector<uint32_t>{3, 2, 1}));
    EXPECT_EQ(faces[1].tex, (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(mesh.Vertices().size(), 4u);
  }
  EXPECT_EQ(tri.GetTexture().RefCount(), refs);
  EXPECT_EQ(tri.Triangles().size(), 2u);  // the source is left as it was
}

TEST(PolyMeshFromRect, CornersAndWindingPerOrientationAndNoName) {
  // The normal follows the conversion's own axes (s on k, t on k + 1), so orientation 2
  // faces +Y where the drawn rectangle faces -Y.
  struct Case {
    uint32_t orientation;
    std::vector<uint32_t> order;
    Vector3 normal;
  };
  const Case cases[] = {
      {0, {0, 1, 3, 2}, {0, 0, 1}},  {1, {0, 1, 3, 2}, {1, 0, 0}},  {2, {0, 1, 3, 2}, {0, 1, 0}},
      {3, {2, 3, 1, 0}, {0, 0, -1}}, {4, {2, 3, 1, 0}, {-1, 0, 0}}, {5, {2, 3, 1, 0}, {0, -1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.orientation);
    NHSObject_Rect rect;
    rect.SetOrientation(c.orientation);
    rect.SetColor(0xff00ff00);
    rect.SetTransform(SomeTransform());
    UIDRegistry::Instance().SetName(rect.GetUID(), "Floor");
    NHSObject_PolyMesh mesh(rect);
    ExpectCommonParts(rect, mesh);
    EXPECT_EQ(UIDRegistry::Instance().GetName(mesh.GetUID()), nullptr);
    const auto faces = Faces(mesh);
    ASSERT_EQ(faces.size(), 1u);
    EXPECT_EQ(faces[0].v, c.order);
    EXPECT_FALSE(faces[0].one_sided);
    const Vector3 n = Normal(mesh, faces[0]);
    EXPECT_NEAR(n.x / 4, c.normal.x, 1e-12);
    EXPECT_NEAR(n.y / 4, c.normal.y, 1e-12);
    EXPECT_NEAR(n.z / 4, c.normal.z, 1e-12);
    EXPECT_FALSE(mesh.IsTextured());
  }

  NHSObject_Rect rect;  // the default corners (-1, -1, 1, 1), orientation 0
  NHSObject_PolyMesh mesh(rect);
  const std::vector<Vector3> want = {{1, 1, 0}, {-1, 1, 0}, {1, -1, 0}, {-1, -1, 0}};
  ASSERT_EQ(mesh.Vertices().size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(mesh.Vertices()[i].x, want[i].x);
    EXPECT_EQ(mesh.Vertices()[i].y, want[i].y);
    EXPECT_EQ(mesh.Vertices()[i].z, want[i].z);
  }
  // s along Z and t along X for k = 2.
  rect.SetOrientation(2);
  rect.SetCorners(1, 2, 3, 4);
  NHSObject_PolyMesh turned(rect);
  EXPECT_EQ(turned.Vertices()[0].z, 3);
  EXPECT_EQ(turned.Vertices()[0].x, 4);
  EXPECT_EQ(turned.Vertices()[0].y, 0);
}

TEST(PolyMeshFromCuboid, EightCornersSixOutwardQuadsAndTheName) {
  NHSObject_Cuboid box;
  box.SetCorners({0, 0, 0}, {5, 5, 5});
  box.SetColor(0xffff0000);
  box.SetTransform(SomeTransform());
  UIDRegistry::Instance().SetName(box.GetUID(), "Cube_3");
  NHSObject_PolyMesh mesh(box);
  ExpectCommonParts(box, mesh);
  EXPECT_STREQ(UIDRegistry::Instance().GetName(mesh.GetUID()), "Cube_3");
  ASSERT_EQ(mesh.Vertices().size(), 8u);
  EXPECT_EQ(mesh.Vertices()[7].x, 5);
  EXPECT_EQ(mesh.Vertices()[7].y, 5);
  EXPECT_EQ(mesh.Vertices()[7].z, 5);
  EXPECT_EQ(mesh.Vertices()[1].x, 5);  // bit 0 picks x
  EXPECT_EQ(mesh.Vertices()[1].y, 0);
  const auto faces = Faces(mesh);
  ASSERT_EQ(faces.size(), 6u);
  EXPECT_EQ(faces[0].v, (std::vector<uint32_t>{0, 2, 3, 1}));
  EXPECT_EQ(faces[5].v, (std::vector<uint32_t>{1, 3, 7, 5}));
  ExpectOutwardFaces(mesh);
}

TEST(PolyMeshFromCone, UserConeHasTheApexRingBelowAndOutwardFaces) {
  NHSObject_Cone cone(5, 1.5, 5.0, 20);
  cone.SetColor(0xff0000ff);
  cone.SetTransform(SomeTransform());
  UIDRegistry::Instance().SetName(cone.GetUID(), "Cone_0");
  NHSObject_PolyMesh mesh(cone);
  ExpectCommonParts(cone, mesh);
  EXPECT_STREQ(UIDRegistry::Instance().GetName(mesh.GetUID()), "Cone_0");
  ASSERT_EQ(mesh.Vertices().size(), 21u);
  EXPECT_EQ(mesh.Vertices()[0].x, 0);
  EXPECT_EQ(mesh.Vertices()[0].y, 0);
  EXPECT_EQ(mesh.Vertices()[0].z, 0);
  for (size_t i = 1; i < 21; ++i) {
    const Vector3& v = mesh.Vertices()[i];
    EXPECT_NEAR(v.y, -5.0, 1e-6);
    EXPECT_NEAR(std::hypot(v.x, v.z), 1.5, 1e-6);
  }
  const auto faces = Faces(mesh);
  ASSERT_EQ(faces.size(), 21u);
  ASSERT_EQ(faces[0].v.size(), 20u);
  for (uint32_t i = 0; i < 20; ++i) EXPECT_EQ(faces[0].v[i], i + 1);
  EXPECT_EQ(faces[1].v, (std::vector<uint32_t>{0, 1, 20}));
  EXPECT_EQ(faces[2].v, (std::vector<uint32_t>{0, 2, 1}));
  EXPECT_EQ(faces[20].v, (std::vector<uint32_t>{0, 20, 19}));
  ExpectOutwardFaces(mesh);
}

TEST(PolyMeshFromCone, RingIsTheDrawnRingInEveryOrientation) {
  for (uint32_t o = 0; o < 6; ++o) {
    SCOPED_TRACE(o);
    NHSObject_Cone cone(o, 2.0, 3.0, 7);
    NHSObject_PolyMesh mesh(cone);
    ExpectOutwardFaces(mesh);
    // Every corner the cone draws in front of the viewer is a vertex of the mesh.
    const Vector3 shift{0.3, -0.2, 20};
    kxtest::RecordingRender r;
    DrawCone({0xff000000, 0}, 1, 2.0, 3.0, 7, o, kxtest::Translation(shift.x, shift.y, shift.z), r);
    ASSERT_FALSE(r.polygons.empty());
    for (const auto& p : r.polygons) {
      for (const Vector3& q : p.points) {
        double best = 1e9;
        for (const Vector3& v : mesh.Vertices()) best = std::min(best, (v + shift - q).Length());
        EXPECT_LT(best, 1e-9);
      }
    }
  }
}

TEST(PolyMeshFromCone, NoSegmentsGiveTheApexAndAnEmptyBase) {
  NHSObject_Cone cone(0, 1.0, 1.0, 0);
  NHSObject_PolyMesh mesh(cone);
  EXPECT_EQ(mesh.Vertices().size(), 1u);
  const auto faces = Faces(mesh);
  ASSERT_EQ(faces.size(), 1u);
  EXPECT_TRUE(faces[0].v.empty());
}

}  // namespace
