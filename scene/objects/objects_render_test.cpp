// The objects drawn through the software renderer: what the facing rule keeps must be what
// the renderer's one-sided test keeps, so closed shapes show their colour and not the
// background.
#include <gtest/gtest.h>

#include <cmath>

#include "scene/objects/curved_primitives.h"
#include "scene/objects/mesh_objects.h"
#include "scene/objects/primitives.h"
#include "scene/objects/recording_render_for_test.h"
#include "scene/render/element_render_sw.h"
#include "scene/render/raster_for_test.h"

namespace {

using kxtest::TestImage;

constexpr uint32_t kBackground = 0xff000000;

// 64 x 64 pixels, focal 64, the optical axis at the centre.
TestImage RenderObject(const NHSObject& object, const Matrix3x4& model) {
  RenderProjection pr;
  Matrix3x4 view = kxtest::Translation(0, 0, 0), out;
  view.m[0] = view.m[5] = 64.0;
  const double pp[2] = {32, 32};
  EXPECT_TRUE(pr.Setup(out, view, pp, 0, 0, 64, 64));
  pr.focal = 64.0;
  DrawItemArena arena;
  NHSElementRender_SW r(arena, pr);
  object.Draw(r, model);
  TestImage image(64, 64, kBackground);
  kxtest::RasterArenas(&arena, 1, 1, image);
  return image;
}

TEST(ObjectsRender, ClosedShapesCoverTheirCentre) {
  NHSObject_Cuboid box;
  box.SetCorners({-1, -1, -1}, {1, 1, 1});
  NHSObject_Sphere sphere;
  NHSObject_Torus torus;
  NHSObject_Cylinder cylinder;
  NHSObject_Cone cone(1, 1.0, 1.0, 16);
  NHSObject_TriMesh tri;
  tri.Vertices() = {{-1, -1, 0}, {1, -1, 0}, {0, 1, 0}};
  tri.Triangles() = {{0, 1, 2, 0, 0, 0}};
  struct Case {
    const NHSObject* object;
    int x, y;  // a pixel the object covers
  } cases[] = {{&box, 32, 34},      {&sphere, 32, 34}, {&torus, 43, 34},  // the ring, not the hole
               {&cylinder, 32, 34}, {&cone, 32, 34},   {&tri, 32, 34}};
  // Slightly turned, 6 units away; the torus and cylinder are seen from aside.
  Matrix3x4 model = kxtest::Translation(0, 0.2, 6);
  const double c = std::cos(0.4), s = std::sin(0.4);
  model.m[5] = c, model.m[6] = -s, model.m[9] = s, model.m[10] = c;
  for (const Case& t : cases) {
    SCOPED_TRACE(t.object->GetUIDType());
    const TestImage image = RenderObject(*t.object, model);
    EXPECT_NE(image.At(t.x, t.y), kBackground);
    EXPECT_EQ(image.At(1, 1), kBackground);
  }
}

}  // namespace
