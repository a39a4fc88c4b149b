#include "scene/render/selection_render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/feature_point.h"
#include "scene/objects/nhs_object.h"
#include "scene/render/element_render_sw.h"
#include "scene/render/render_context.h"
#include "scene/render/shape_node_for_test.h"
#include "scene/scene.h"

namespace {

using kxtest::ShapeNode;
using vm::Vector2;
using vm::Vector3;

constexpr double kFocal = 100.0;
// On the centre of pixel (320, 240).
constexpr double kPx = 320.5, kPy = 240.5;

// A camera at the origin looking along +z: image position (kPx + f x / z, kPy + f y / z).
Matrix4x4 AxisCamera() {
  Matrix4x4 m;
  m.SetZero();
  m[0][0] = m[1][1] = kFocal;
  m[3][2] = 1.0;
  return m;
}

// The view point at depth z whose image position is (u, v) under AxisCamera.
Vector3 At(double u, double v, double z) {
  return {(u - kPx) * z / kFocal, (v - kPy) * z / kFocal, z};
}

class Selection : public ::testing::Test {
 protected:
  Selection() : root_(NHS_TYPE_SCENE) {
    context_.SetViewMatrix(AxisCamera());
    context_.SetPrincipalPoint(kPx, kPy);
  }

  ShapeNode& Add(uint16_t type = NHS_TYPE_POLY_MESH) {
    return static_cast<ShapeNode&>(*root_.AddChild(new ShapeNode(type)));
  }
  // A square of half-size h pixels around image position (u, v) at depth z, facing the
  // viewer (P0 · ((P0 − P1) × (P1 − P2)) < 0) unless back is set.
  ShapeNode& AddSquare(double u, double v, double h, double z, bool one_sided = false,
                       bool back = false, uint16_t type = NHS_TYPE_POLY_MESH) {
    ShapeNode& node = Add(type);
    ShapeNode::Polygon p{
        {At(u - h, v - h, z), At(u - h, v + h, z), At(u + h, v + h, z), At(u + h, v - h, z)},
        4,
        0xffffffff,
        one_sided,
        false,
        {}};
    if (back) std::reverse(p.points, p.points + 4);
    node.polygons.push_back(p);
    return node;
  }
  ShapeNode& AddMarker(const Vector3& p, unsigned shape = 2, double size = 3,
                       uint16_t type = NHS_TYPE_POLY_MESH) {
    ShapeNode& node = Add(type);
    node.markers.push_back({p, shape, size, 0xffffffff});
    return node;
  }
  ShapeNode& AddLine(const Vector3& a, const Vector3& b, double width) {
    ShapeNode& node = Add();
    node.lines.push_back({a, b, width, 0xffffffff});
    return node;
  }
  // The id under the pixel of the optical axis.
  std::int32_t PickCentre() { return PickObjectAt(context_, &root_, 320, 240); }

  RenderContext context_;
  NHSObject root_;
};

TEST_F(Selection, PickTakesTheNearestButAGizmoPartBeforeAll) {
  EXPECT_EQ(PickCentre(), 0);  // empty scene
  ShapeNode& far = AddSquare(kPx, kPy, 10, 20);
  ShapeNode& near = AddSquare(kPx, kPy, 10, 10);
  EXPECT_EQ(PickCentre(), near.GetUID());
  // A gizmo handle behind both still wins: it is drawn over the scene.
  ShapeNode& handle = AddMarker(At(kPx, kPy, 50), 0, 3, NHS_TYPE_HANDLE);
  EXPECT_EQ(PickCentre(), handle.GetUID());
  // Among gizmo parts the nearer one wins again.
  ShapeNode& front_handle = AddSquare(kPx, kPy, 2, 40, false, false, NHS_TYPE_HANDLE);
  EXPECT_EQ(PickCentre(), front_handle.GetUID());
  delete &handle;
  delete &front_handle;
  delete &near;
  EXPECT_EQ(PickCentre(), far.GetUID());
}

TEST_F(Selection, PickAtEqualDepthKeepsTheFirstDrawn) {
  AddSquare(kPx, kPy, 10, 10);
  ShapeNode& second = AddSquare(kPx, kPy, 8, 10);  // children are drawn newest first
  EXPECT_EQ(PickCentre(), second.GetUID());
}

TEST_F(Selection, PickInterpolatesDepthAcrossASlantedPolygon) {
  // A plane slanting from depth 5 at the left edge to 15 at the right (z = x / 2 + 7.5)
  // meets a flat one at depth 10 along x = 5, image column kPx + 50: each is nearer on
  // one side of it. Depth values are affine on the screen, not in the image column.
  ShapeNode& flat = AddSquare(kPx, kPy, 100, 10);
  ShapeNode& slanted = Add();
  const double h = 100;
  slanted.polygons.push_back({{At(kPx - h, kPy - h, 5), At(kPx - h, kPy + h, 5),
                               At(kPx + h, kPy + h, 15), At(kPx + h, kPy - h, 15)},
                              4,
                              0xffffffff,
                              false,
                              false,
                              {}});
  EXPECT_EQ(PickObjectAt(context_, &root_, 365, 260), slanted.GetUID());
  EXPECT_EQ(PickObjectAt(context_, &root_, 375, 220), flat.GetUID());
}

TEST_F(Selection, HiddenAndLockedElementsAreNeverReturned) {
  ShapeNode& behind = AddSquare(kPx, kPy, 10, 20);
  ShapeNode& hidden = AddSquare(kPx, kPy, 10, 10);
  hidden.Hide();
  EXPECT_EQ(PickCentre(), behind.GetUID());
  // A locked element in front answers 0 rather than what it covers.
  ShapeNode& grid = AddSquare(kPx, kPy, 10, 5);
  grid.SetNodeFlags(UID_FLAG_LOCKED, true);
  EXPECT_EQ(PickCentre(), 0);
  delete &behind;
  EXPECT_EQ(PickCentre(), 0);
  EXPECT_EQ(SelectObjectsInCircle(context_, &root_, kPx, kPy, 50, true), 0);
  std::vector<UIDBase*> found;
  EXPECT_EQ(CollectObjectsInRectangle(&found, context_, &root_, 0, 0, 640, 480), 0);
  EXPECT_TRUE(found.empty());
}

TEST_F(Selection, TheSceneBuiltinsAreHitButNeverReturned) {
  Scene scene;
  Matrix4x4 camera = AxisCamera();
  camera[3][3] = 10.0;  // the world origin 10 units ahead
  context_.SetViewMatrix(camera);
  NHSElementRender_PointSelect selector;
  const std::uint32_t hit = selector.Pick(context_, scene, 320, 240);
  ASSERT_NE(hit, 0u);  // the axes and the orbit centre meet there
  EXPECT_TRUE(UIDRegistry::Instance().GetObject(static_cast<std::int32_t>(hit))->GetUIDFlags() &
              UID_FLAG_LOCKED);
  EXPECT_EQ(PickObjectAt(context_, &scene, 320, 240), 0);
  EXPECT_EQ(SelectObjectsInRectangle(context_, &scene, 0, 0, 640, 480, true), 0);
  // A user object in front of the origin is returned, off the row where the grid, seen
  // edge-on, reaches the near plane.
  ShapeNode& user = static_cast<ShapeNode&>(*scene.AddChild(new ShapeNode));
  user.GetTransform()[2][3] = -10.0;
  user.polygons.push_back({{At(300, 220, 5), At(300, 260, 5), At(340, 260, 5), At(340, 220, 5)},
                           4,
                           0xffffffff,
                           true,
                           false,
                           {}});
  EXPECT_EQ(PickObjectAt(context_, &scene, 320, 230), user.GetUID());
}

TEST_F(Selection, MarkerHitsWithinItsShapeWidenedByOnePixel) {
  struct Case {
    unsigned shape;
    double size, du, dv;
    double z;
    bool hit;
  };
  const Case cases[] = {
      {0, 4, 4.5, 0, 10, true},     // square: r = 5
      {0, 4, 5.5, 0, 10, false},    //
      {0, 4, 4.5, -4.5, 10, true},  // corner of the square
      {1, 4, 3, 3, 10, false},      // diamond: |u| + |v| < 5
      {1, 4, 2, 2.9, 10, true},     //
      {2, 4, 3, 3, 10, true},       // octagon: u² + v² < 25
      {2, 4, 4, 3.1, 10, false},    //
      {3, 4, 1.2, 4.5, 10, true},   // cross: a bar 1.25 wide
      {3, 4, 2, 4.5, 10, false},    //
      {7, 4, 0, 0, 10, false},      // unknown shape
      // Behind the viewer the marker is not drawn; clamping its depth to the near
      // distance would put it on the centre.
      {0, 4, 0, 0, -10, false},
  };
  for (const Case& c : cases) {
    std::unique_ptr<ShapeNode> node(&AddMarker(At(kPx + c.du, kPy + c.dv, c.z), c.shape, c.size));
    EXPECT_EQ(PickCentre() != 0, c.hit)
        << "shape " << c.shape << " at (" << c.du << ", " << c.dv << "), z " << c.z;
  }
}

TEST_F(Selection, OneSidedPolygonSeenFromItsBackIsNeverPicked) {
  struct Case {
    bool one_sided, back, picked;
  };
  const Case cases[] = {
      {true, false, true}, {true, true, false}, {false, true, true}, {false, false, true}};
  for (const Case& c : cases) {
    std::unique_ptr<ShapeNode> node(&AddSquare(kPx, kPy, 10, 10, c.one_sided, c.back));
    EXPECT_EQ(PickCentre() != 0, c.picked) << c.one_sided << c.back;
    EXPECT_EQ(SelectObjectsInCircle(context_, &root_, kPx, kPy, 1, true), c.picked ? 1 : 0);
  }
}

TEST_F(Selection, LineHitsWithinHalfItsWidthPlusOne) {
  struct Case {
    double u0, u1, dv;  // the line from u0 to u1 at dv below the centre
    bool hit;
  };
  const Case cases[] = {
      {300, 340, 1.9, true},      {300, 340, 2.1, false},
      {340, 300, -1.9, true},     {kPx + 1.9, 340, 0, true},  // beyond its end
      {kPx + 2.1, 340, 0, false}, {300, kPx - 1.5, 1.5, false},
  };
  for (const Case& c : cases) {
    std::unique_ptr<ShapeNode> node(
        &AddLine(At(c.u0, kPy + c.dv, 10), At(c.u1, kPy + c.dv, 10), 2));
    EXPECT_EQ(PickCentre() != 0, c.hit) << c.u0 << " " << c.u1 << " " << c.dv;
  }
  // A line cut at the near plane is picked along its visible part.
  std::unique_ptr<ShapeNode> node(&AddLine(At(kPx, kPy, 10), Vector3{0, 0, -5}, 1));
  EXPECT_NE(PickCentre(), 0);
}

TEST_F(Selection, CircleHitsALineThatPassesWithinTheRadius) {
  AddLine(At(200, kPy + 3, 10), At(440, kPy + 3, 10), 2);
  EXPECT_EQ(SelectObjectsInCircle(context_, &root_, kPx, kPy, 2, true), 0);
  EXPECT_EQ(SelectObjectsInCircle(context_, &root_, kPx, kPy, 3, true), 1);
  EXPECT_EQ(SelectObjectsInCircle(context_, &root_, kPx, kPy, 3, true), 0);  // already
  EXPECT_EQ(SelectObjectsInCircle(context_, &root_, kPx, kPy, 3, false), 1);
}

TEST_F(Selection, AreaHoldsPolygonsAndLinesAnywhereInsideIt) {
  // Far from the rectangle's first corner: a test against the 1 × 1 target at the
  // selection origin would drop both polygons.
  ShapeNode& inside = AddSquare(250, 250, 10, 10);
  ShapeNode& across = AddSquare(300, 250, 10, 10);  // its right half is outside
  ShapeNode& line_in = AddLine(At(120, 150, 5), At(280, 280, 8), 1);
  AddLine(At(120, 150, 5), At(296, 280, 8), 1);  // one end outside
  const std::vector<Vector2> lasso = {{100, 100}, {295, 100}, {295, 295}, {100, 295}};
  for (int order = 0; order < 4; ++order) {
    const double xa = order & 1 ? 295 : 100, xb = order & 1 ? 100 : 295;
    const double ya = order & 2 ? 295 : 100, yb = order & 2 ? 100 : 295;
    std::vector<UIDBase*> found;
    EXPECT_EQ(CollectObjectsInRectangle(&found, context_, &root_, xa, ya, xb, yb), 2) << order;
    std::vector<std::int32_t> ids;
    for (const UIDBase* o : found) ids.push_back(o->GetUID());
    std::vector<std::int32_t> expected = {inside.GetUID(), line_in.GetUID()};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ids, expected) << order;
  }
  EXPECT_FALSE(UIDRegistry::Instance().IsSelected(inside.GetUID()));  // collecting selects nothing
  EXPECT_EQ(SelectObjectsInArea(context_, &root_, lasso, true), 2);
  EXPECT_TRUE(UIDRegistry::Instance().IsSelected(line_in.GetUID()));
  EXPECT_FALSE(UIDRegistry::Instance().IsSelected(across.GetUID()));
  EXPECT_EQ(SelectObjectsInRectangle(context_, &root_, 100, 100, 295, 295, true), 0);
  EXPECT_EQ(SelectObjectsInArea(context_, &root_, {{100, 100}, {295, 295}}, false), 0);
  EXPECT_EQ(SelectObjectsInArea(context_, &root_, lasso, false), 2);
  EXPECT_EQ(CollectObjectsInRectangle(nullptr, context_, &root_, 100, 100, 295, 295), 0);
}

// Random 3D points under a turned camera, selected by circle, rectangle and lasso and
// compared with their image positions computed here from the camera matrix.
TEST_F(Selection, AreaSelectionOfPointsMatchesTheirImagePositions) {
  Matrix4x4 camera;
  camera.SetZero();
  Matrix4x4 turn;
  turn.SetZero();
  turn.SetRotationXYZ(0.1, -0.2, 0.05);
  const double t[3] = {0.3, -0.2, 6.0};
  for (int r = 0; r < 3; ++r) {
    const int row = r == 2 ? 3 : r;  // the context uses rows 0, 1 and 3
    const double scale = r == 2 ? 1.0 : kFocal;
    for (int c = 0; c < 3; ++c) camera[row][c] = scale * turn[r][c];
    camera[row][3] = scale * t[r];
  }
  context_.SetViewMatrix(camera);

  struct Point {
    ShapeNode* node;
    double u, v;  // image position
    bool seen;    // in front of the viewer, not locked
  };
  std::vector<Point> points;
  std::mt19937 random(7);
  std::uniform_real_distribution<double> coord(-2.5, 2.5);
  for (int i = 0; i < 120; ++i) {
    const Vector3 p{coord(random), coord(random), coord(random)};
    ShapeNode& node = AddMarker(p);
    const double a = camera[0][0] * p.x + camera[0][1] * p.y + camera[0][2] * p.z + camera[0][3];
    const double b = camera[1][0] * p.x + camera[1][1] * p.y + camera[1][2] * p.z + camera[1][3];
    const double z = camera[3][0] * p.x + camera[3][1] * p.y + camera[3][2] * p.z + camera[3][3];
    if (i % 13 == 5) node.SetNodeFlags(UID_FLAG_LOCKED, true);
    if (i % 17 == 3) node.Hide();
    points.push_back({&node, a / z + kPx, b / z + kPy, i % 13 != 5 && i % 17 != 3});
  }
  // A point behind the camera that clamping its depth would put inside every area.
  Matrix4x4 inverse_turn;
  inverse_turn.Transpose(turn);
  const Vector3 behind_view{0.0001, 0.0001, -3};
  Vector3 behind;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) behind[r] += inverse_turn[r][c] * (behind_view[c] - t[c]);
  }
  points.push_back({&AddMarker(behind), kPx + 1, kPy + 1, false});

  struct Area {
    const char* name;
    std::function<int(bool)> select;
    std::function<bool(double, double)> contains;
  };
  const double cx = 330, cy = 250, radius = 90;
  const double x0 = 250, y0 = 190, x1 = 420, y1 = 330;
  // A triangle, tested here by the sides its vertices turn to.
  const std::vector<Vector2> lasso = {{200, 150}, {450, 220}, {260, 360}};
  const Area areas[] = {
      {"circle", [&](bool s) { return SelectObjectsInCircle(context_, &root_, cx, cy, radius, s); },
       [&](double u, double v) {
         return (u - cx) * (u - cx) + (v - cy) * (v - cy) <= radius * radius;
       }},
      {"rectangle",
       [&](bool s) { return SelectObjectsInRectangle(context_, &root_, x1, y1, x0, y0, s); },
       [&](double u, double v) { return u >= x0 && u < x1 && v >= y0 && v < y1; }},
      {"lasso", [&](bool s) { return SelectObjectsInArea(context_, &root_, lasso, s); },
       [&](double u, double v) {
         int sides = 0;
         for (int i = 0; i < 3; ++i) {
           const Vector2& a = lasso[i];
           const Vector2& b = lasso[(i + 1) % 3];
           sides += (b.x - a.x) * (v - a.y) - (b.y - a.y) * (u - a.x) > 0 ? 1 : -1;
         }
         return std::abs(sides) == 3;
       }},
  };
  for (const Area& area : areas) {
    int expected = 0;
    for (const Point& p : points) expected += p.seen && area.contains(p.u, p.v);
    ASSERT_GT(expected, 5) << area.name;
    EXPECT_EQ(area.select(true), expected) << area.name;
    for (const Point& p : points) {
      EXPECT_EQ(UIDRegistry::Instance().IsSelected(p.node->GetUID()),
                p.seen && area.contains(p.u, p.v))
          << area.name << " at " << p.u << ", " << p.v;
    }
    EXPECT_EQ(area.select(true), 0) << area.name;
    EXPECT_EQ(area.select(false), expected) << area.name;
  }
}

// Objects that size themselves in pixels (the gizmo) must see the same scale when they
// are drawn and when they are picked.
TEST_F(Selection, ScaleAtDepthMatchesTheSoftwareRenderer) {
  struct Probe : NHSObject {
    Probe() : NHSObject(NHS_TYPE_HANDLE) {}
    void Draw(NHSElementRender& r, const Matrix3x4&) const override {
      scale = r.ScaleAtDepth(7.0);
      r.ScaleFocal(3.0);
      scaled = r.ScaleAtDepth(0.5);  // below the near distance
      r.ScaleFocal(1.0 / 3.0);
    }
    mutable double scale = 0.0, scaled = 0.0;
  };
  Probe& probe = static_cast<Probe&>(*root_.AddChild(new Probe));
  std::vector<std::uint32_t> pixels(64 * 48);
  context_.SetTarget(pixels.data(), 64, 64, 48, 0, 0, 64, 48);
  context_.SetSampleFactor(2);
  context_.RenderScene(&root_);
  const double drawn = probe.scale, drawn_scaled = probe.scaled;
  EXPECT_GT(drawn, 0.0);
  PickCentre();
  EXPECT_DOUBLE_EQ(probe.scale, drawn);
  EXPECT_DOUBLE_EQ(probe.scaled, drawn_scaled);
}

}  // namespace
