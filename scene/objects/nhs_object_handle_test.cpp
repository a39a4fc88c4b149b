#include "scene/objects/nhs_object_handle.h"

#include <gtest/gtest.h>

#include <memory>

#include "scene/objects/nhs_object_scene.h"
#include "scene/objects/primitives.h"
#include "scene/objects/recording_render_for_test.h"

namespace {

using kxtest::RecordingRender;
using kxtest::Translation;
using vm::Vector3;

struct HideableBox : NHSObject_Cuboid {
  void Hide() { SetUIDFlags(GetUIDFlags() | UID_FLAG_HIDDEN); }
};

// A scene with a selected box and its gizmo.
struct GizmoScene {
  NHSObject_Scene scene;
  HideableBox* box = static_cast<HideableBox*>(scene.AddChild(new HideableBox));
  NHSObject_Handle* gizmo = nullptr;
  GizmoScene() {
    scene.SelectObject(box->GetUID());
    gizmo = scene.GetGizmo();
  }

  std::unique_ptr<RecordingRender> Draw(const Matrix3x4& model) {
    auto r = std::make_unique<RecordingRender>();
    gizmo->Draw(*r, model);
    EXPECT_EQ(r->focal, 1000.0);  // restored
    return r;
  }
};

TEST(Gizmo, ModesAndPartPicking) {
  NHSObject_Handle gizmo;
  EXPECT_EQ(gizmo.GetMode(), 0x1E38Eu);
  struct Case {
    bool r, s, t;
    uint32_t mode;
  } cases[] = {{true, false, true, 0x1C00E},
               {false, true, false, 0x2380},
               {true, true, true, 0x1E38E},
               {false, false, false, 0}};
  for (const Case& c : cases) {
    EXPECT_EQ(gizmo.SetModes(c.r, c.s, c.t), c.mode);
    EXPECT_EQ(gizmo.GetMode(), c.mode);
  }
  EXPECT_EQ(gizmo.PickPart(gizmo.GetPartId(8)), 8);
  EXPECT_EQ(gizmo.GetActiveMask(), 0x100u);
  EXPECT_EQ(gizmo.PickPart(gizmo.GetUID()), 0);
  EXPECT_EQ(gizmo.GetActiveMask(), 0u);
  // Every part id resolves to the gizmo; the ids go with it.
  const int32_t part = gizmo.GetPartId(19);
  EXPECT_EQ(UIDRegistry::Instance().GetObject(part), &gizmo);
  { NHSObject_Handle other; }
  EXPECT_EQ(UIDRegistry::Instance().GetObject(part), &gizmo);
}

TEST(Gizmo, DrawsNothingWithoutModeSceneOrVisibleSelection) {
  GizmoScene g;
  EXPECT_FALSE(g.Draw(Translation(0, 0, 10))->lines.empty());
  g.gizmo->SetModes(false, false, false);
  EXPECT_TRUE(g.Draw(Translation(0, 0, 10))->lines.empty());
  g.gizmo->SetModes(true, true, true);
  g.box->Hide();
  EXPECT_TRUE(g.Draw(Translation(0, 0, 10))->lines.empty());

  NHSObject_Handle loose;  // not below a scene root
  RecordingRender r;
  loose.Draw(r, Translation(0, 0, 10));
  EXPECT_TRUE(r.lines.empty() && r.polygons.empty());
}

TEST(Gizmo, AxesKeepTheirScreenSizeAndGrowForTranslation) {
  GizmoScene g;
  for (double z : {10.0, 1000.0}) {
    g.gizmo->SetModes(true, false, false);
    const Matrix3x4 model = Translation(0.3 * z, -0.2 * z, z, 0.01 * z);
    auto rp = g.Draw(model);
    const RecordingRender& r = *rp;
    ASSERT_GE(r.lines.size(), 3u);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(r.lines[i].id, 0u);
      EXPECT_EQ(r.lines[i].width, 1.5);
    }
    // X and Y lie in the screen plane: 100 pixels; the origin stays where it projects.
    EXPECT_NEAR(RecordingRender::ScreenLength(r.lines[0]), 100.0, 0.5) << z;
    EXPECT_NEAR(RecordingRender::ScreenLength(r.lines[1]), 100.0, 0.5) << z;
    EXPECT_NEAR(r.lines[0].focal * r.lines[0].a.x / r.lines[0].a.z, 1000.0 * 0.3, 1e-9);
    const double rotate_length = (r.lines[0].b - r.lines[0].a).Length();

    g.gizmo->SetModes(false, false, true);
    auto tp = g.Draw(model);
    const RecordingRender& t = *tp;
    EXPECT_NEAR((t.lines[0].b - t.lines[0].a).Length(), 1.2 * rotate_length, 1e-12);
  }
}

TEST(Gizmo, PartsSitWhereTheirTableSaysAndHighlight) {
  GizmoScene g;
  g.gizmo->SetModes(false, true, true);
  g.gizmo->PickPart(g.gizmo->GetPartId(8));
  auto rp = g.Draw(Translation(0, 0, 10));
  const RecordingRender& r = *rp;
  const double len = 100.0 / (256 * 1000.0 / 10);
  const Vector3 o{0, 0, 10};
  auto polygons_of = [&](int part) {
    std::vector<const RecordingRender::Polygon*> out;
    for (const auto& p : r.polygons) {
      if (p.id == static_cast<uint32_t>(g.gizmo->GetPartId(part))) out.push_back(&p);
    }
    return out;
  };
  auto lines_of = [&](int part) {
    int n = 0;
    for (const auto& l : r.lines) n += l.id == static_cast<uint32_t>(g.gizmo->GetPartId(part));
    return n;
  };
  // The highlighted box: translucent and outlined; an idle one opaque without outline.
  ASSERT_FALSE(polygons_of(8).empty());
  for (const auto* p : polygons_of(8)) EXPECT_EQ(p->color, 0x7f00ff00u);
  EXPECT_GT(lines_of(8), 0);
  ASSERT_FALSE(polygons_of(7).empty());
  for (const auto* p : polygons_of(7)) EXPECT_EQ(p->color, 0xffff0000u);
  EXPECT_EQ(lines_of(7), 0);
  // Box 9 (Z) is centred 0.75 len along Z; arrow 14 has its apex at 1.5 len along X.
  Vector3 centre{};
  int n = 0;
  for (const auto* p : polygons_of(9)) {
    for (const Vector3& q : p->points) centre += q, ++n;
  }
  ASSERT_GT(n, 0);
  EXPECT_NEAR((centre * (1.0 / n) - o).x, 0.0, 1e-9);
  EXPECT_NEAR((centre * (1.0 / n) - o).z, 0.75 * len, 0.15 * len);
  bool apex = false;
  for (const auto* p : polygons_of(14)) {
    apex |= RecordingRender::Near(p->points[0], o + Vector3{1.5 * len, 0, 0}, 1e-9);
  }
  EXPECT_TRUE(apex);
  // No rotation parts: no circle, which carries the gizmo's own id.
  for (const auto& l : r.lines) EXPECT_NE(l.id, static_cast<uint32_t>(g.gizmo->GetUID()));
}

TEST(Gizmo, RingsAndTheCircleInRotationMode) {
  GizmoScene g;
  g.gizmo->SetModes(true, false, false);
  auto rp = g.Draw(Translation(0, 0, 10));
  const RecordingRender& r = *rp;
  int circle = 0;
  for (const auto& l : r.lines) circle += l.id == static_cast<uint32_t>(g.gizmo->GetUID());
  EXPECT_EQ(circle, 96);
  const double len = 100.0 / (256 * 1000.0 / 10);
  // The ring about X: a ribbon 0.1 len wide along X on the circle of radius len in the Y-Z
  // plane (the ring about Z shows the viewer only the edge of its ribbon).
  int ring = 0;
  for (const auto& p : r.polygons) {
    if (p.id != static_cast<uint32_t>(g.gizmo->GetPartId(1))) continue;
    EXPECT_EQ(p.color, 0xffff0000u);
    for (const Vector3& q : p.points) {
      EXPECT_NEAR(std::hypot(q.y, q.z - 10), len, 0.06 * len);
      EXPECT_LE(std::abs(q.x), 0.05 * len + 1e-15);
      ++ring;
    }
  }
  EXPECT_GT(ring, 0);
  EXPECT_EQ(r.BackFacingPolygons(), 0);
}

}  // namespace
