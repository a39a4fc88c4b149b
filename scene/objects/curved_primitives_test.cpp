#include "scene/objects/curved_primitives.h"

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <utility>

#include "scene/objects/recording_render_for_test.h"
#include "scene/objects/stored_words_for_test.h"

namespace {

using kxtest::RecordingRender;
using kxtest::Translation;
using kxtest::Words;
using vm::Vector3;

constexpr uint32_t kColor = 0xff336699;
constexpr uint32_t kOne = 0x3f800000;
constexpr SurfaceColors kBoth{kColor, 0xffffffff};

TEST(SphereMesh, SubdividedIcosahedronCountsAndRadius) {
  struct Case {
    int level, vertices, faces;
  } cases[] = {{0, 12, 20}, {1, 42, 80}, {2, 162, 320}, {6, 40962, 81920}, {9, 40962, 81920}};
  std::vector<Vector3> v;
  std::vector<uint16_t> idx;
  for (const Case& c : cases) {
    const SphereMesh mesh = BuildSphereMesh(2.5, c.level, v, idx);
    EXPECT_EQ(mesh.vertices, c.vertices) << c.level;
    EXPECT_EQ(mesh.faces, c.faces) << c.level;
    if (c.level > 2) continue;
    for (int i = 0; i < mesh.vertices; ++i) EXPECT_NEAR(v[i].Length(), 2.5, 1e-12);
    // Closed and outward: every edge joins two faces (V - E + F = 2), every normal points
    // away from the centre.
    std::set<std::pair<int, int>> edges;
    for (int f = 0; f < mesh.faces; ++f) {
      const uint16_t* t = idx.data() + 3 * f;
      for (int e = 0; e < 3; ++e) edges.insert(std::minmax<int>(t[e], t[(e + 1) % 3]));
      const Vector3 n = FaceNormal(v[t[0]], v[t[1]], v[t[2]]);
      EXPECT_GT(n.Dot(v[t[0]]), 0) << c.level << " face " << f;
    }
    EXPECT_EQ(mesh.vertices - static_cast<int>(edges.size()) + mesh.faces, 2);
  }
}

TEST(CurvedDraw, FrontFacesOnlyAndEachEdgeOnce) {
  struct Case {
    const char* name;
    std::function<void(RecordingRender&, const Matrix3x4&)> draw;
    size_t max_faces;
  } cases[] = {
      {"sphere 0", [](auto& r, auto& m) { DrawSphere(kBoth, 7, 1.0, 0, m, r); }, 20},
      {"sphere 2", [](auto& r, auto& m) { DrawSphere(kBoth, 7, 1.0, 2, m, r); }, 320},
      {"cylinder", [](auto& r, auto& m) { DrawCylinder(kBoth, 7, 0.5, 12, 1, m, r); }, 14},
      {"torus", [](auto& r, auto& m) { DrawTorus(r, m, kBoth, 7, 0.25, 12, 6); }, 72},
      {"cone", [](auto& r, auto& m) { DrawCone(kBoth, 7, 0.5, 1.0, 12, 2, m, r); }, 13},
  };
  const Matrix3x4 views[] = {Translation(0, 0, 6), Translation(2, -3, 6), Translation(0, 0, 1.6),
                             Translation(-0.3, 0.9, 1.8)};
  for (const Case& c : cases) {
    for (const Matrix3x4& m : views) {
      SCOPED_TRACE(c.name);
      RecordingRender r;
      c.draw(r, m);
      EXPECT_FALSE(r.polygons.empty());
      EXPECT_LE(r.polygons.size(), c.max_faces);
      EXPECT_EQ(r.BackFacingPolygons(), 0);
      EXPECT_EQ(r.DuplicateLines(1e-9), 0);
      for (const auto& p : r.polygons) EXPECT_TRUE(p.one_sided && p.id == 7);
    }
  }
  // A level-0 sphere shows at most half of its faces (edge-on ones not at all) and at most
  // 30 edges.
  RecordingRender r;
  DrawSphere(kBoth, 7, 1.0, 0, Translation(0, 0, 1000), r);
  EXPECT_LE(r.polygons.size(), 10u);
  EXPECT_LE(r.lines.size(), 30u);
}

TEST(CylinderDraw, TurnedOverDrawsAsUpAndTheTopIsOneUnitUp) {
  for (uint32_t o : {0u, 1u, 2u}) {
    RecordingRender a, b;
    DrawCylinder(kBoth, 1, 2.0, 8, o, Translation(0.5, 0.25, 4), a);
    DrawCylinder(kBoth, 1, 2.0, 8, o + 3, Translation(0.5, 0.25, 4), b);
    ASSERT_EQ(a.polygons.size(), b.polygons.size());
    for (size_t i = 0; i < a.polygons.size(); ++i) {
      EXPECT_EQ(a.polygons[i].points, b.polygons[i].points);
    }
    EXPECT_EQ(a.lines.size(), b.lines.size());
  }
  // Side quads: (b_{i+1}, b_i, b_i + E3, b_{i+1} + E3) with E3 = object Z for orientation 0.
  RecordingRender r;
  DrawCylinder(kBoth, 1, 2.0, 8, 0, Translation(20, 0, 10, 3.0), r);
  int sides = 0;
  for (const auto& p : r.polygons) {
    if (p.points.size() != 4) continue;
    ++sides;
    EXPECT_NEAR((p.points[2] - p.points[1]).Length(), 3.0, 1e-12);
    EXPECT_NEAR(p.points[2].z - p.points[1].z, 3.0, 1e-12);
  }
  EXPECT_GT(sides, 0);
}

TEST(CurvedChunks, GoldenWordsClampsAndReadBack) {
  NHSObject_Cylinder cylinder;
  NHSObject_Sphere sphere;
  NHSObject_Torus torus;
  EXPECT_EQ(kxtest::ClassWords(cylinder), (Words{0x00040002, NHS_DEFAULT_COLOR, 0, 8, 0x3f000000}));
  EXPECT_EQ(kxtest::ClassWords(sphere), (Words{0x00030002, NHS_DEFAULT_COLOR, 0, kOne}));
  EXPECT_EQ(kxtest::ClassWords(torus), (Words{0x00040002, NHS_DEFAULT_COLOR, 12, 6, 0x3e800000}));

  struct Case {
    NHSObject* object;
    Words words;
    uint32_t value;  // segments, level or major count after reading
  } cases[] = {
      {&cylinder, {0x00040002, kColor, 9, 1000, kOne}, 64},
      {&cylinder, {0x00050002, kColor, 9, 12, kOne, 0}, 12},
      {&sphere, {0x00030002, kColor, 7, kOne}, 6},
      {&sphere, {0x00030002, kColor, 0xffffffff, kOne}, 0},
      {&torus, {0x00040002, kColor, 65536 + 12, 6, kOne}, 12},
      {&torus, {0x00040002, kColor, 65535, 6, kOne}, kMaxTorusSegments},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(kxtest::ReadClassWords(*c.object, c.words), 0) << c.words[2];
    const uint32_t value = c.object == &cylinder ? cylinder.GetSegments()
                           : c.object == &sphere ? static_cast<uint32_t>(sphere.GetLevel())
                                                 : torus.GetMajor();
    EXPECT_EQ(value, c.value) << c.words[2];
    EXPECT_EQ(c.object->GetColor(), kColor);
    const Words tree = kxtest::TreeWords(*c.object);
    EXPECT_EQ(kxtest::TreeWords(*kxtest::ReadBack(tree)), tree);
  }
  EXPECT_EQ(cylinder.GetOrientation(), 3u);
  NHSObject_Sphere short_sphere;
  EXPECT_EQ(kxtest::ReadClassWords(short_sphere, {0x00020002, kColor, 1}),
            Serializer::ERROR_TOO_SHORT);
}

}  // namespace
