#include "scene/objects/textured_mesh.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/point_transform.h"
#include "scene/objects/mesh_objects.h"

namespace {

using vm::Vector2;
using vm::Vector3;

Vector3 Apply(const Matrix3x3& M, const Vector2& p) {
  Vector3 out;
  return TransformPoint2D(out, M, p);
}

std::vector<Vector2> Box(double w, double h) {
  return {{-3, 7}, {-3 + w, 7}, {-3 + w, 7 + h}, {-3, 7 + h}};
}

TEST(LayoutMeshTexture, BoxFillsPowerOfTwoSidesWithTwoTexelMargins) {
  struct Case {
    double w, h;
    int width, height;
    bool swapped;  // the points' y runs along the texture's x
  };
  const Case cases[] = {
      {100, 50, 128, 64, false},
      {50, 100, 128, 64, true},
      {1000, 10, 1024, 16, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << " x " << c.h);
    const std::vector<Vector2> q = Box(c.w, c.h);
    const MeshTextureLayout layout = LayoutMeshTexture(q);
    ASSERT_TRUE(layout.texture);
    EXPECT_EQ(layout.texture->Width(), c.width);
    EXPECT_EQ(layout.texture->Height(), c.height);
    double lo_x = HUGE_VAL, hi_x = -HUGE_VAL, lo_y = HUGE_VAL, hi_y = -HUGE_VAL;
    for (const Vector2& p : q) {
      const Vector3 t = Apply(layout.texel_map, p);
      lo_x = std::min(lo_x, t.x), hi_x = std::max(hi_x, t.x);
      lo_y = std::min(lo_y, t.y), hi_y = std::max(hi_y, t.y);
    }
    EXPECT_NEAR(lo_x, 2, 1e-6);
    EXPECT_NEAR(hi_x, c.width - 2, 1e-6);
    EXPECT_NEAR(lo_y, 2, 1e-6);
    EXPECT_NEAR(hi_y, c.height - 2, 1e-6);
    // Along x runs the points' x, or their y when swapped.
    const Vector3 dx = Apply(layout.texel_map, {1, 0}) - Apply(layout.texel_map, {0, 0});
    EXPECT_NEAR(std::abs(dx.x) < 1e-9, c.swapped, 0);
    const uint32_t* texels = layout.texture->pixels;
    for (int i = 0; i < c.width * c.height; ++i) ASSERT_EQ(texels[i], 0u);
  }
}

TEST(LayoutMeshTexture, WideSpreadIsCappedAndMappedIntoTheActualTexture) {
  // A point near the camera plane throws its projection far out.
  const std::vector<Vector2> q = {{0, 0}, {300000, 0}, {0, 20}, {10, 5}};
  const MeshTextureLayout layout = LayoutMeshTexture(q);
  ASSERT_TRUE(layout.texture);
  EXPECT_EQ(layout.texture->Width(), int(kMeshTextureMaxSide));
  for (const Vector2& p : q) {
    const Vector3 t = Apply(layout.texel_map, p);
    EXPECT_GE(t.x, 2 - 1e-6);
    EXPECT_LE(t.x, layout.texture->Width() - 2 + 1e-6);
    EXPECT_GE(t.y, 2 - 1e-6);
    EXPECT_LE(t.y, layout.texture->Height() - 2 + 1e-6);
  }
}

TEST(LayoutMeshTexture, TurnsAThinDiagonalSpreadToTheAxes) {
  // Points along a 45-degree line: a turn of pi/4 packs them into a thin strip.
  std::vector<Vector2> q;
  for (int i = 0; i <= 10; ++i) q.push_back({10.0 * i, 10.0 * i + (i % 2)});
  const MeshTextureLayout layout = LayoutMeshTexture(q);
  EXPECT_EQ(layout.texture->Width(), 256);  // 141 + 4 along the line
  EXPECT_LE(layout.texture->Height(), 8);
}

ArrayMap<const uint32_t> View(const std::vector<uint32_t>& pixels, uint32_t width,
                              uint32_t height) {
  return {pixels.data(), width, width, height};
}

TEST(SampleBilinear32, CentresCornersAndThinImages) {
  const std::vector<uint32_t> image = {0x00000000, 0x40804020, 0xff102030, 0x80ff00ff};
  const auto im = View(image, 2, 2);
  struct Case {
    double x, y;
    uint32_t want;
  };
  const Case cases[] = {
      {0, 0, 0x00000000},   {1, 0, 0x40804020}, {0, 1, 0xff102030},   {1, 1, 0x80ff00ff},
      {-5, -5, 0x00000000}, {9, 9, 0x80ff00ff}, {0.5, 0, 0x20402010}, {NAN, 0, 0x00000000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.x << ", " << c.y);
    EXPECT_EQ(SampleBilinear32(c.x, c.y, im), c.want);
  }

  // One pixel wide, one high, one pixel: only those pixels are read (AddressSanitizer
  // checks), the border extended.
  const std::vector<uint32_t> column = {0x11111111, 0x33333333};
  EXPECT_EQ(SampleBilinear32(5.0, 0.5, View(column, 1, 2)), 0x22222222u);
  EXPECT_EQ(SampleBilinear32(0.5, 9.0, View(column, 2, 1)), 0x22222222u);
  const std::vector<uint32_t> one = {0x12345678};
  EXPECT_EQ(SampleBilinear32(3.0, -2.0, View(one, 1, 1)), 0x12345678u);
  EXPECT_EQ(SampleBilinear32(0, 0, ArrayMap<const uint32_t>()), 0u);
}

TEST(SampleBilinear32, RoundedWeightsDoNotCarryIntoTheNextChannel) {
  // At fractions 1/256 and 1/2 the four rounded weights add up to 258.
  const std::vector<uint32_t> white(4, 0xffffffff);
  EXPECT_EQ(SampleBilinear32(1.0 / 256, 0.5, View(white, 2, 2)), 0xffffffffu);
}

// A camera at the origin looking along +z with focal length f pixels, for a w × h image.
PerspectiveCamera FrontCamera(uint32_t w, uint32_t h, double f) {
  PerspectiveCamera camera;
  camera.Set(Vector3{0, 0, 0}, Vector3{0, 0, 1}, Vector3{f, 0, 0}, Vector3{0, f, 0}, w, h, 0.0,
             0.01, 0.01, 0.0, 0, nullptr);
  return camera;
}

// A frame whose channels run linearly with the pixel position, so bilinear sampling is
// exact up to its 1/256 weights.
uint32_t Ramp(double x, double y) {
  const auto r = static_cast<uint32_t>(std::lround(x * 0.75)) & 0xff;
  const auto g = static_cast<uint32_t>(std::lround(y * 0.75)) & 0xff;
  const auto b = static_cast<uint32_t>(std::lround((x + y) * 0.25)) & 0xff;
  return r << 16 | g << 8 | b;
}

struct Painted {
  NHSObject_TriMesh mesh;
  std::vector<Vector2> q;
  std::vector<Vector3> points;
  std::vector<MeshTriangle> triangles;
};

// Projects the points into the camera and textures the mesh of `triangles` over them from
// a w × h frame.
bool Paint(Painted& p, const PerspectiveCamera& camera, const std::vector<uint32_t>& frame,
           uint32_t w, uint32_t h) {
  Matrix3x4 P;
  GetProjectionMatrixFromCamera(camera, P);
  for (const Vector3& x : p.points) {
    Vector3 hom;
    TransformPoint(hom, P, x);
    p.q.push_back({hom.x / hom.z, hom.y / hom.z});
  }
  p.mesh.Vertices().resize(p.points.size());
  return TextureMeshFromFrame(p.mesh, p.q, p.points, p.triangles, camera, View(frame, w, h)) &&
         p.mesh.GetTexture();
}

// The vertices' texel positions, from their texture coordinates.
std::vector<Vector2> TexelPositions(const NHSObject_TriMesh& mesh) {
  const int W = mesh.GetTexture()->Width(), H = mesh.GetTexture()->Height();
  std::vector<Vector2> t;
  for (const Vector2& uv : mesh.Coordinates()) t.push_back({uv.x * W - 0.5, uv.y * H - 0.5});
  return t;
}

TEST(TextureMeshFromFrame, TexelsShowTheFrameWhereTheirTriangleLies) {
  constexpr uint32_t kW = 320, kH = 240;
  std::vector<uint32_t> frame(kW * kH);
  for (uint32_t y = 0; y < kH; ++y) {
    for (uint32_t x = 0; x < kW; ++x) frame[y * kW + x] = Ramp(x, y);
  }
  for (const double k3 : {0.0, -0.2}) {
    SCOPED_TRACE(k3);
    PerspectiveCamera camera = FrontCamera(kW, kH, 300);
    camera.SetDistortion(k3, 0, 0, nullptr);
    Painted p;
    p.points = {{-2, -1.5, 10}, {2.5, -1, 12}, {2, 1.8, 14}, {-1.5, 1.2, 11}};
    p.triangles = {{0, 1, 2}, {0, 2, 3}};
    ASSERT_TRUE(Paint(p, camera, frame, kW, kH));

    const NHSTexture& texture = *p.mesh.GetTexture();
    const int W = texture.Width(), H = texture.Height();
    ASSERT_EQ(p.mesh.Coordinates().size(), 4u);
    ASSERT_EQ(p.mesh.Triangles().size(), 2u);
    EXPECT_EQ(p.mesh.Triangles()[1].a, p.mesh.Triangles()[1].ta);
    EXPECT_EQ(p.mesh.Triangles()[1].c, p.mesh.Triangles()[1].tc);
    const std::vector<Vector2> t = TexelPositions(p.mesh);

    int checked = 0;
    for (int ty = 0; ty < H; ++ty) {
      for (int tx = 0; tx < W; ++tx) {
        // The last triangle that holds the texel well inside paints it: the point of the
        // 3D triangle with the texel's barycentric weights, seen through the camera.
        for (int f = 1; f >= 0; --f) {
          const MeshTriangle& tri = p.triangles[size_t(f)];
          const Vector2 a = t[tri.a], b = t[tri.b], c = t[tri.c];
          const double det = (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
          const double l1 = ((tx - a.x) * (c.y - a.y) - (c.x - a.x) * (ty - a.y)) / det;
          const double l2 = ((b.x - a.x) * (ty - a.y) - (tx - a.x) * (b.y - a.y)) / det;
          const double l0 = 1 - l1 - l2;
          if (std::min({l0, l1, l2}) < 0.02) continue;
          const Vector3 X = p.points[tri.a] * l0 + p.points[tri.b] * l1 + p.points[tri.c] * l2;
          double x, y, depth;
          ASSERT_TRUE(camera.ProjectPoint(X, x, y, depth, true));
          const uint32_t got = texture.pixels[size_t(ty) * W + tx], want = Ramp(x, y);
          for (int shift = 0; shift < 24; shift += 8) {
            EXPECT_NEAR(double((got >> shift) & 0xff), double((want >> shift) & 0xff), 2.0)
                << tx << ", " << ty;
          }
          ++checked;
          break;
        }
      }
    }
    EXPECT_GT(checked, W * H / 4);
  }
}

TEST(TextureMeshFromFrame, BoundaryEdgesArePaintedFiveTexelsOutward) {
  constexpr uint32_t kW = 200, kH = 200;
  const std::vector<uint32_t> frame(kW * kH, 0x00808080);
  const PerspectiveCamera camera = FrontCamera(kW, kH, 100);
  Painted p;
  // A square of two triangles, its diagonal 0–2 shared.
  p.points = {{-5, -5, 10}, {5, -5, 10}, {5, 5, 10}, {-5, 5, 10}};
  p.triangles = {{0, 1, 2}, {0, 2, 3}};
  ASSERT_TRUE(Paint(p, camera, frame, kW, kH));
  const NHSTexture& texture = *p.mesh.GetTexture();
  const int W = texture.Width(), H = texture.Height();
  ASSERT_EQ(W, 128);
  ASSERT_EQ(H, 128);
  // The square covers texels 2 .. 126; its outer edges are pushed 5 texels beyond them, so
  // every texel up to the texture's border is painted (grey, give or take the rounding of
  // the sampling weights).
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      const uint32_t v = texture.pixels[size_t(y) * W + x];
      ASSERT_TRUE(v == 0x00808080u || v == 0x007f7f7fu) << x << ", " << y << ": " << v;
    }
  }
}

TEST(TextureMeshFromFrame, InnerEdgesStayUnpushed) {
  constexpr uint32_t kW = 400, kH = 400;
  const std::vector<uint32_t> frame(kW * kH, 0x00ffffff);
  const PerspectiveCamera camera = FrontCamera(kW, kH, 100);
  Painted p;
  // A triangle fan: the first triangle's outer edge 1–2 is a boundary edge, its edges to
  // the other triangles are not. The third point is far out so the texture is larger.
  p.points = {{0, 0, 10}, {10, 0, 10}, {0, 10, 10}, {-10, -10, 10}};
  p.triangles = {{0, 1, 2}, {0, 2, 3}, {0, 3, 1}};
  ASSERT_TRUE(Paint(p, camera, frame, kW, kH));
  const NHSTexture& texture = *p.mesh.GetTexture();
  const int W = texture.Width(), H = texture.Height();
  int painted = 0, outside = 0;
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) painted += texture.pixels[size_t(y) * W + x] != 0;
  }
  // Texels beyond the hull by more than the 5-texel push (plus a texel) stay empty.
  const std::vector<Vector2> t = TexelPositions(p.mesh);
  for (int y = 0; y < H; ++y) {
    for (int x = 0; x < W; ++x) {
      double worst = -HUGE_VAL;  // signed distance outside the hull (a triangle here)
      const int hull[3] = {1, 2, 3};
      for (int i = 0; i < 3; ++i) {
        const Vector2 a = t[size_t(hull[i])], b = t[size_t(hull[(i + 1) % 3])];
        const Vector2 e = b - a;
        const Vector2 centre = (t[1] + t[2] + t[3]) * (1.0 / 3);
        Vector2 n{e.y, -e.x};
        n *= 1 / n.Length();
        if (n.x * (centre.x - a.x) + n.y * (centre.y - a.y) > 0) n = -n;
        worst = std::max(worst, n.x * (x - a.x) + n.y * (y - a.y));
      }
      if (worst > 6.5) outside += texture.pixels[size_t(y) * W + x] != 0;
    }
  }
  EXPECT_GT(painted, 0);
  EXPECT_EQ(outside, 0);
}

TEST(TextureMeshFromFrame, TexelsBehindTheCameraStayEmpty) {
  constexpr uint32_t kW = 100, kH = 100;
  const std::vector<uint32_t> frame(kW * kH, 0x00ffffff);
  const PerspectiveCamera camera = FrontCamera(kW, kH, 100);
  // The texel map of a triangle whose 3D corners are given behind the camera (as a
  // wrongly placed mesh would have them): nothing may be painted.
  Matrix3x3 Q = {{0, 40, 0, 0, 0, 40, 1, 1, 1}};
  Matrix3x3 X = {{0, 4, 0, 0, 0, 4, -10, -10, -10}};
  Matrix3x3 T = {{1, 0, 10, 0, 1, 10, 0, 0, 1}};
  std::vector<uint32_t> texels(64 * 64, 0);
  PaintTextureTriangle(ArrayMap<uint32_t>(texels.data(), 64, 64, 64), View(frame, kW, kH), camera,
                       Q, X, T, MESH_EDGE_AB | MESH_EDGE_BC | MESH_EDGE_CA, {20, 20});
  for (uint32_t v : texels) ASSERT_EQ(v, 0u);
  // The same triangle in front is painted.
  X = {{0, 4, 0, 0, 0, 4, 10, 10, 10}};
  PaintTextureTriangle(ArrayMap<uint32_t>(texels.data(), 64, 64, 64), View(frame, kW, kH), camera,
                       Q, X, T, 0, {20, 20});
  EXPECT_EQ(texels[size_t(20) * 64 + 20], 0x00ffffffu);
}

}  // namespace
