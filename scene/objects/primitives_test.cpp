#include "scene/objects/primitives.h"

#include <gtest/gtest.h>

#include "scene/objects/recording_render_for_test.h"
#include "scene/objects/stored_words_for_test.h"

namespace {

using kxtest::RecordingRender;
using kxtest::Translation;
using kxtest::Words;
using vm::Vector3;

constexpr uint32_t kColor = 0xff336699;
constexpr uint32_t kOne = 0x3f800000, kMinusOne = 0xbf800000;

void Select(const NHSObject& o) {
  UIDRegistry::Instance().SetSelected(o.GetUID(), true);
}

TEST(RectDraw, OrientationChoosesTheSideShownInTheFill) {
  // The viewer sits on the side of the rectangle that `at` puts it on.
  struct Case {
    uint32_t orientation;
    Vector3 at;  // the rectangle's origin in view coordinates
    bool front;
  } cases[] = {
      {0, {0, 0, -5}, true}, {3, {0, 0, -5}, false}, {0, {0, 0, 5}, false},
      {3, {0, 0, 5}, true},  {1, {-5, 0, 0}, true},  {4, {-5, 0, 0}, false},
      {2, {0, 5, 0}, true},  {5, {0, 5, 0}, false},  {2, {0, -5, 0}, false},
  };
  for (const Case& c : cases) {
    NHSObject_Rect rect;
    rect.SetColor(kColor);
    rect.SetOrientation(c.orientation);
    RecordingRender r;
    rect.Draw(r, Translation(c.at.x, c.at.y, c.at.z));
    ASSERT_EQ(r.polygons.size(), 1u) << c.orientation;
    EXPECT_EQ(r.polygons[0].color, c.front ? kColor : GreyBlend(kColor)) << c.orientation;
    EXPECT_FALSE(r.polygons[0].one_sided);
    EXPECT_EQ(r.polygons[0].id, static_cast<uint32_t>(rect.GetUID()));
    EXPECT_TRUE(r.lines.empty());
  }
}

TEST(RectDraw, CornersFollowTheAxesAndSelectionOutlines) {
  NHSObject_Rect rect;
  rect.SetColor(kColor);
  rect.SetOrientation(2);
  rect.SetCorners(1, 2, 3, 4);
  Select(rect);
  RecordingRender r;
  rect.Draw(r, Translation(0, 10, 0));
  ASSERT_EQ(r.polygons.size(), 1u);
  // s along X, t along Z.
  EXPECT_EQ(r.polygons[0].points[2], (Vector3{3, 10, 4}));
  EXPECT_EQ(r.polygons[0].color, 0x7f336699u);
  ASSERT_EQ(r.lines.size(), 4u);
  EXPECT_EQ(r.lines[0].color, kColor);

  // Edge-on: the outline only.
  r.Clear();
  rect.Draw(r, Translation(0, 0, 7));
  EXPECT_TRUE(r.polygons.empty());
  EXPECT_EQ(r.lines.size(), 4u);
}

TEST(BoxDraw, FrontFacesOnlyAndEachEdgeOnce) {
  NHSObject_Cuboid box;
  box.SetCorners({-1, -1, -1}, {1, 2, 3});
  Select(box);
  struct Case {
    Vector3 at;
    size_t faces;
  } cases[] = {{{0, 0, 10}, 1}, {{5, 0, 10}, 2}, {{5, -6, 10}, 3}, {{-5, 7, 10}, 3}};
  for (const Case& c : cases) {
    RecordingRender r;
    box.Draw(r, Translation(c.at.x, c.at.y, c.at.z));
    EXPECT_EQ(r.polygons.size(), c.faces);
    EXPECT_EQ(r.BackFacingPolygons(), 0);
    for (const auto& p : r.polygons) EXPECT_TRUE(p.one_sided);
    // One face shows 4 edges, two faces 7, three faces 9.
    EXPECT_EQ(r.lines.size(), c.faces == 1 ? 4u : (c.faces == 2 ? 7u : 9u));
    EXPECT_EQ(r.DuplicateLines(), 0);
  }
}

TEST(ConeDraw, OrientationFiveHasItsBaseBelowAlongY) {
  NHSObject_Cone cone(5, 1.5, 5.0, 20);
  RecordingRender r;
  // Seen from below (the viewer at -Y of the base), so the base shows.
  cone.Draw(r, Translation(0, 20, 0));
  ASSERT_FALSE(r.polygons.empty());
  const auto& base = r.polygons[0];
  ASSERT_EQ(base.points.size(), 20u);
  for (const Vector3& p : base.points) {
    EXPECT_NEAR(p.y, 15.0, 1e-12);
    EXPECT_NEAR(std::hypot(p.x, p.z), 1.5, 1e-12);  // repeated rotation stays on the ring
  }
  EXPECT_EQ(r.BackFacingPolygons(), 0);
  // Apex at the origin: every side triangle starts there.
  for (size_t i = 1; i < r.polygons.size(); ++i) {
    EXPECT_EQ(r.polygons[i].points[0], (Vector3{0, 20, 0}));
  }
}

TEST(ConeDraw, SegmentCountsAreClampedAndZeroDrawsNothing) {
  RecordingRender r;
  DrawCone({kColor, kColor}, 1, 1.0, 2.0, 1000, 0, Translation(0, 0, -10), r);
  ASSERT_FALSE(r.polygons.empty());
  EXPECT_EQ(r.polygons[0].points.size(), kMaxRingSegments);  // the base, facing the viewer
  EXPECT_EQ(r.DuplicateLines(), 0);
  r.Clear();
  DrawCone({kColor, kColor}, 1, 1.0, 2.0, 0, 0, Translation(0, 0, -10), r);
  EXPECT_TRUE(r.polygons.empty() && r.lines.empty());
}

TEST(PrimitiveChunks, GoldenWordsAndReadBack) {
  NHSObject_Rect rect;
  rect.SetColor(0x80112233);
  rect.SetOrientation(4);
  NHSObject_Cuboid box;
  box.SetCorners({-1, 0, 0}, {1, 1, 2});
  NHSObject_Cone cone(5, 1.5, 5.0, 20);
  struct Case {
    const NHSObject* object;
    Words words;
  } cases[] = {
      {&rect, {0x00060002, 0x80112233, 4, kMinusOne, kMinusOne, kOne, kOne}},
      {&box, {0x00070002, NHS_DEFAULT_COLOR, kMinusOne, 0, 0, kOne, kOne, 0x40000000}},
      {&cone, {0x00050002, NHS_DEFAULT_COLOR, 5, 20, 0x3fc00000, 0x40a00000}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kxtest::ClassWords(*c.object), c.words) << c.object->GetUIDType();
    const Words tree = kxtest::TreeWords(*c.object);
    const auto back = kxtest::ReadBack(tree);
    EXPECT_EQ(back->GetUIDType(), c.object->GetUIDType());
    EXPECT_EQ(kxtest::TreeWords(*back), tree);
  }
}

TEST(PrimitiveChunks, LongerChunksLoadShorterOnesFail) {
  const Words rect = {0x00060002, kColor, 7, 0, 0, kOne, kOne};
  struct Case {
    Words words;
    int error;
  } cases[] = {
      {rect, 0},
      {{0x00080002, kColor, 7, 0, 0, kOne, kOne, 0xdead, 0xbeef}, 0},
      {{0x00050002, kColor, 7, 0, 0, kOne}, Serializer::ERROR_TOO_SHORT},
      {{0x00060003, kColor, 7, 0, 0, kOne, kOne}, Serializer::ERROR_WRONG_KIND},
      {{0x00060002, kColor, 7, 0}, Serializer::ERROR_VALUE_PAST_END},
  };
  for (const Case& c : cases) {
    NHSObject_Rect r;
    EXPECT_EQ(kxtest::ReadClassWords(r, c.words), c.error) << c.words[0];
    if (c.error == 0) {
      EXPECT_EQ(r.GetOrientation(), 1u);  // read modulo 6
      EXPECT_EQ(r.GetColor(), kColor);
    }
  }
  // A cone's count beyond the ring (or negative) loads as 64.
  for (uint32_t count : {65u, 0xffffffffu}) {
    NHSObject_Cone cone;
    ASSERT_EQ(kxtest::ReadClassWords(cone, {0x00050002, 0, 0, count, kOne, kOne}), 0);
    EXPECT_EQ(cone.GetSegments(), 64u);
  }
}

}  // namespace
