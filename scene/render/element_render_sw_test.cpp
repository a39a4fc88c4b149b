#include "scene/render/element_render_sw.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "scene/render/raster_for_test.h"

namespace {

using kxtest::RasterArenas;
using kxtest::TestImage;
using vm::Vector3;

constexpr std::uint32_t kBackground = 0xff000000;

// A target of w × h pixels at F samples each, the optical axis at its centre.
RenderProjection MakeProjection(int w, int h, unsigned f, double focal) {
  RenderProjection pr;
  pr.sample_factor = f;
  const double view[12] = {focal, 0, 0, 0, 0, focal, 0, 0, 0, 0, 1, 0};
  Matrix3x4 v, out;
  for (int i = 0; i < 12; ++i) v.m[i] = view[i];
  const double pp[2] = {w / 2.0, h / 2.0};
  EXPECT_TRUE(pr.Setup(out, v, pp, 0, 0, w, h));
  pr.focal = focal * f;  // view points in the tests are in world units
  return pr;
}

// Which samples a convex polygon (view points) covers, by casting the ray through each
// sample centre at its plane; the hit must lie inside every edge and not nearer than near.
struct PolygonReference {
  const RenderProjection& pr;
  std::vector<Vector3> pts;

  // 1 inside, 0 outside; depth value in s.
  bool Inside(double x, double y, double* s = nullptr) const {
    Vector3 n;  // Newell's normal: fine for collinear first points
    for (std::size_t i = 0; i < pts.size(); ++i) n += pts[i].Cross(pts[(i + 1) % pts.size()]);
    const Vector3 d{(x - pr.offset_x) / pr.focal, (y - pr.offset_y) / pr.focal, 1.0};
    const double t = n.Dot(pts[0]) / n.Dot(d);
    if (!(t >= pr.near_distance)) return false;
    const Vector3 hit = d * t;
    double sign = 0.0;
    for (std::size_t i = 0; i < pts.size(); ++i) {
      const Vector3& a = pts[i];
      const Vector3& b = pts[(i + 1) % pts.size()];
      const double side = n.Dot((b - a).Cross(hit - a));
      if (side == 0.0) continue;
      if (sign == 0.0) sign = side;
      if ((side > 0) != (sign > 0)) return false;
    }
    if (s) *s = pr.focal / t;
    return true;
  }
  // Whether the sample lies clearly inside or outside (not on the outline).
  bool Clear(int x, int y) const {
    const bool c = Inside(x, y);
    for (double dx : {-1e-3, 1e-3}) {
      for (double dy : {-1e-3, 1e-3}) {
        if (Inside(x + dx, y + dy) != c) return false;
      }
    }
    return true;
  }
};

TestImage Render(const RenderProjection& pr, DrawItemArena& arena) {
  TestImage image(pr.width / static_cast<int>(pr.sample_factor),
                  pr.height / static_cast<int>(pr.sample_factor), kBackground);
  RasterArenas(&arena, 1, static_cast<int>(pr.sample_factor), image);
  return image;
}

TEST(RenderProjection, SetupMapsImagePositionsToSamples) {
  struct Case {
    double view[12];
    double pp[2];
    int x0, y0;
    unsigned f;
  };
  const Case cases[] = {
      {{800, 0, 320, 100, 0, 760, 240, -50, 0, 0, 1, 4}, {320, 240}, 0, 0, 1},
      {{0.6, 0.8, 0, 1, -0.8, 0.6, 0, 2, 0, 0, 0.002, 0.01}, {12.5, -3}, 17, 5, 2},
  };
  for (const Case& c : cases) {
    RenderProjection pr;
    pr.sample_factor = c.f;
    Matrix3x4 v, out;
    for (int i = 0; i < 12; ++i) v.m[i] = c.view[i];
    ASSERT_TRUE(pr.Setup(out, v, c.pp, c.x0, c.y0, 64, 48));
    EXPECT_EQ(pr.width, static_cast<int>(64 * c.f));
    EXPECT_EQ(pr.y_limit, 48 * c.f - 0.5);
    for (const Vector3& w : {Vector3{0.3, -0.2, 5.0}, Vector3{-1.0, 2.0, 40.0}}) {
      double a[3], view_point[3];
      for (int r = 0; r < 3; ++r) {
        a[r] = v[r][0] * w.x + v[r][1] * w.y + v[r][2] * w.z + v[r][3];
        view_point[r] = out[r][0] * w.x + out[r][1] * w.y + out[r][2] * w.z + out[r][3];
      }
      const ScreenPoint p = pr.Project({view_point[0], view_point[1], view_point[2]});
      EXPECT_NEAR(p.x, (a[0] / a[2] + c.pp[0] - c.x0 - 0.5) * c.f, 1e-9);
      EXPECT_NEAR(p.y, (a[1] / a[2] + c.pp[1] - c.y0 - 0.5) * c.f, 1e-9);
    }
  }
  // A view matrix without depth row, or a target past the 16-bit rows, draws nothing.
  RenderProjection pr;
  Matrix3x4 v = {{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}}, out;
  const double pp[2] = {0, 0};
  EXPECT_FALSE(pr.Setup(out, v, pp, 0, 0, 10, 10));
  v[2][2] = 1;
  pr.sample_factor = 2;
  EXPECT_FALSE(pr.Setup(out, v, pp, 0, 0, 16384, 10));
  EXPECT_TRUE(pr.Setup(out, v, pp, 0, 0, 16383, 10));
}

TEST(RenderProjection, ClipSegmentCutsAtTheNearPlane) {
  const RenderProjection pr = MakeProjection(64, 64, 1, 100);
  ScreenPoint a, b;
  ASSERT_TRUE(pr.ClipSegment(a, b, {1.0, 0.0, 3.0}, {-1.0, 0.0, -1.0}));
  EXPECT_DOUBLE_EQ(a.s, 100.0 / 3.0);
  EXPECT_DOUBLE_EQ(b.s, pr.focal / pr.near_distance);
  EXPECT_NEAR(b.x, pr.offset_x + 0.0 * 100.0, 1e-12);  // the cut is at x = 0, z = 1
  EXPECT_FALSE(pr.ClipSegment(a, b, {1.0, 0.0, 0.5}, {-1.0, 0.0, 0.99}));
  EXPECT_NEAR(pr.ShadeFactor({0, 0, -2}, true), 0.79, 1e-12);
  EXPECT_EQ(pr.ShadeFactor({0, 0, 2}, true), 0.3);
  EXPECT_NEAR(pr.ShadeFactor({0, 0, 2}, false), 0.79, 1e-12);
}

TEST(ElementRenderSW, MarkerSizeRoundingAndNearLimit) {
  RenderProjection pr = MakeProjection(64, 64, 2, 100);
  pr.offset_x = -2.5;  // a point on the axis lands half-way between two columns
  DrawItemArena arena;
  NHSElementRender_SW r(arena, pr);
  r.DrawMarker({0.0, 0.0, 1.0}, kMarkerSquare, 3.4, 0x01000000, 0);  // exactly at near
  r.DrawMarker({0.0, 0.0, 0.999}, kMarkerSquare, 3.4, 0x01000000, 0);
  ASSERT_EQ(arena.Used(), DrawItemArena::RecordSize(sizeof(NHSDrawItem_Marker)));
  const auto& m = static_cast<const NHSDrawItem_Marker&>(arena.ItemAt(0));
  EXPECT_EQ(m.half_size, 7);       // trunc(2 × 3.4 + 0.5)
  EXPECT_EQ(m.center_x, -3);       // -2.5 rounds away from zero
  EXPECT_EQ(m.first_row, 63 - 7);  // the centre row is (32 - 0.5) × 2
  EXPECT_EQ(m.end_row, 63 + 8);
  EXPECT_EQ(m.color, 0x00000000u);  // alpha 0x01 + 0xff wraps to 0
  EXPECT_FLOAT_EQ(m.depth, 200.0f);
  // Past the left edge by more than its half-size: nothing.
  r.DrawMarker({-0.1, 0.0, 1.0}, kMarkerSquare, 3.4, 0, 0);
  EXPECT_EQ(arena.Used(), DrawItemArena::RecordSize(sizeof(NHSDrawItem_Marker)));
  EXPECT_DOUBLE_EQ(MakeProjection(10, 10, 2, 1000).focal, 2000.0);
  NHSElementRender_SW far_renderer(arena, MakeProjection(10, 10, 2, 1000));
  EXPECT_DOUBLE_EQ(far_renderer.ScaleAtDepth(10.0), 100.0);
}

TEST(ElementRenderSW, LinesCoverTheirRectangleAcrossTheTargetEdges) {
  // focal 1 and the axis at the origin: view (x, y, 1) is sample (x, y).
  RenderProjection pr = MakeProjection(40, 30, 1, 1);
  pr.offset_x = pr.offset_y = 0.0;
  struct Case {
    Vector3 a, b;
    double width;
  };
  const Case cases[] = {
      {{-8.3, 3.1, 1}, {30.2, 25.7, 1}, 3.0},  // in through the left edge, its upper side first
      {{52.0, 2.2, 1}, {10.4, 22.9, 1}, 4.0},  // in through the right edge
      {{5.5, 27.0, 1}, {45.0, -3.0, 1}, 2.5},  // out through the top and the right
      {{30.5, -5.0, 1}, {-12.0, 40.0, 1}, 5.0},
      {{-20.0, 10.0, 1}, {-2.0, 20.0, 1}, 2.0},  // wholly left
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a.x << "," << c.a.y << " " << c.b.x << "," << c.b.y);
    DrawItemArena arena;
    NHSElementRender_SW r(arena, pr);
    r.DrawLine(c.a, c.b, c.width, 0xff00aa00, 0);
    const TestImage image = Render(pr, arena);
    kxtest::ExpectLineCoverage(image, c.a.x, c.a.y, c.b.x, c.b.y, c.width, 0x00aa00u);
  }
  DrawItemArena arena;
  NHSElementRender_SW r(arena, pr);
  r.DrawLine({5, 5, 1}, {5.00005, 5, 1}, 3.0, 0xffffffff, 0);
  EXPECT_EQ(arena.Used(), 0u);
}

TEST(ElementRenderSW, PolygonsCoverTheSamplesTheirPlaneHits) {
  const RenderProjection pr = MakeProjection(48, 40, 1, 40);
  struct Case {
    const char* what;
    std::vector<Vector3> pts;
    bool one_sided;
    bool drawn;
  };
  const Case cases[] = {
      {"front triangle", {{-0.5, -0.4, 2}, {-0.3, 0.4, 2.5}, {0.5, 0.1, 3}}, true, true},
      {"back face, one-sided", {{-0.5, -0.4, 2}, {0.5, 0.1, 3}, {-0.3, 0.4, 2.5}}, true, false},
      {"back face, two-sided", {{-0.5, -0.4, 2}, {0.5, 0.1, 3}, {-0.3, 0.4, 2.5}}, false, true},
      // Top vertex exactly on sample row 0, first two edges meeting there.
      {"top on row 0", {{-0.2, -19.5 / 40.0, 1}, {-0.4, 0.3, 1}, {0.4, 0.2, 1}}, false, true},
      {"collinear first edges",
       {{-0.4, -0.3, 2}, {-0.4, 0.0, 2}, {-0.4, 0.3, 2}, {0.4, 0.3, 2}, {0.4, -0.3, 2}},
       false,
       true},
      {"through the near plane",
       {{-3, 0.5, 0.2}, {3, 0.5, 0.2}, {3, 0.5, 20}, {-3, 0.5, 20}},
       false,
       true},
      {"partly off the target", {{-2, -0.2, 1.5}, {-0.2, 3, 1.5}, {0.3, -0.1, 1.5}}, false, true},
      {"wholly left", {{-9, -0.2, 1.5}, {-8, 0.3, 1.5}, {-1.3, -0.1, 1.5}}, false, false},
      {"not a number", {{-0.5, -0.4, 2}, {std::nan(""), 0.4, 2.5}, {0.5, 0.1, 3}}, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DrawItemArena arena;
    NHSElementRender_SW r(arena, pr);
    r.DrawPolygon(c.pts.data(), static_cast<int>(c.pts.size()), 0xff8080ff, 0, c.one_sided, nullptr,
                  nullptr, nullptr);
    if (!c.drawn) {
      EXPECT_EQ(arena.Used(), 0u);
      continue;
    }
    const TestImage image = Render(pr, arena);
    const PolygonReference ref{pr, c.pts};
    int covered = 0;
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) {
        if (!ref.Clear(x, y)) continue;
        const bool inside = ref.Inside(x, y);
        covered += inside;
        EXPECT_EQ(image.At(x, y) != kBackground, inside) << x << "," << y;
      }
    }
    EXPECT_GT(covered, 10);
  }
}

TEST(ElementRenderSW, PolygonColoursAndShading) {
  const RenderProjection pr = MakeProjection(8, 8, 1, 4);
  const Vector3 quad[4] = {{-1, -1, 1}, {-1, 1, 1}, {1, 1, 1}, {1, -1, 1}};  // faces the viewer
  struct Case {
    std::uint32_t color;
    std::uint32_t pixel;
  };
  const Case cases[] = {
      {0x00112233, 0xff112233},  // alpha 0: flat, opaque
      {0xff112233, 0x000d1a28},  // shaded head-on by 0.79, alpha 0
  };
  for (const Case& c : cases) {
    DrawItemArena arena;
    NHSElementRender_SW r(arena, pr);
    r.DrawPolygon(quad, 4, c.color, 0, true, nullptr, nullptr, nullptr);
    EXPECT_EQ(Render(pr, arena).At(4, 4), c.pixel);
  }
}

TEST(ElementRenderSW, NearerPolygonWinsInEitherDrawOrder) {
  // Two planes crossing each other: every clear sample shows the nearer one.
  const RenderProjection pr = MakeProjection(40, 40, 2, 30);
  const std::vector<Vector3> a = {{-1, -1, 2}, {-1, 1, 2}, {1, 1, 4}, {1, -1, 4}};
  const std::vector<Vector3> b = {{-1, -1, 4}, {-1, 1, 4}, {1, 1, 2}, {1, -1, 2}};
  const PolygonReference ra{pr, a}, rb{pr, b};
  for (bool a_first : {true, false}) {
    DrawItemArena arena;
    NHSElementRender_SW r(arena, pr);
    for (int k = 0; k < 2; ++k) {
      const bool draw_a = (k == 0) == a_first;
      const std::vector<Vector3>& p = draw_a ? a : b;
      r.DrawPolygon(p.data(), 4, draw_a ? 0x00ff0000 : 0x000000ff, 0, false, nullptr, nullptr,
                    nullptr);
    }
    const TestImage image = Render(pr, arena);
    for (int y = 0; y < image.height; ++y) {
      for (int x = 0; x < image.width; ++x) {
        // Pixel centre in samples: (x + 0.25, y + 0.25) × 2 covers samples 2x, 2x + 1.
        double sa, sb;
        bool clear = true;
        for (int sy = 2 * y; sy < 2 * y + 2; ++sy) {
          for (int sx = 2 * x; sx < 2 * x + 2; ++sx) {
            clear = clear && ra.Clear(sx, sy) && rb.Clear(sx, sy) && ra.Inside(sx, sy, &sa) &&
                    rb.Inside(sx, sy, &sb) && std::fabs(sa - sb) > 0.05;
          }
        }
        if (!clear) continue;
        ra.Inside(2 * x, 2 * y, &sa);
        rb.Inside(2 * x, 2 * y, &sb);
        EXPECT_EQ(image.At(x, y), sa > sb ? 0x00ff0000u : 0x000000ffu) << x << "," << y;
      }
    }
  }
}

TEST(ElementRenderSW, TexturedPolygonFollowsThePerspective) {
  // A floor tile receding from the viewer, textured with texels naming their column and row.
  std::vector<std::uint32_t> texels(64 * 64);
  for (std::uint32_t r = 0; r < 64; ++r) {
    for (std::uint32_t c = 0; c < 64; ++c) texels[r * 64 + c] = r << 8 | c;
  }
  const NHSTexture texture{texels.data(), 6, 6};
  const RenderProjection pr = MakeProjection(64, 48, 1, 50);
  const Vector3 p[4] = {{-1, 0.5, 1.5}, {-1, 0.5, 6}, {1, 0.5, 6}, {1, 0.5, 1.5}};
  const double uv[6] = {0, 0, 0, 1, 1, 1};  // u along x, v along z
  DrawItemArena arena;
  NHSElementRender_SW r(arena, pr);
  r.DrawPolygon(p, 4, 0x00ffffff, 0, false, nullptr, &texture, uv);  // copies the texels
  const TestImage image = Render(pr, arena);
  const PolygonReference ref{pr, {p[0], p[1], p[2], p[3]}};
  int checked = 0;
  for (int y = 0; y < image.height; ++y) {
    for (int x = 0; x < image.width; ++x) {
      if (!ref.Clear(x, y) || !ref.Inside(x, y)) continue;
      // Where the ray hits the floor y = 0.5.
      const double z = 0.5 * pr.focal / (y - pr.offset_y);
      const double wx = (x - pr.offset_x) / pr.focal * z;
      const double u = (wx + 1) / 2 * 64, v = (z - 1.5) / 4.5 * 64;
      const std::uint32_t t = image.At(x, y);
      EXPECT_NEAR(static_cast<double>(t & 0xff), u, 1.5) << x << "," << y;
      EXPECT_NEAR(static_cast<double>(t >> 8 & 0xff), v, 1.5) << x << "," << y;
      ++checked;
    }
  }
  EXPECT_GT(checked, 200);
}

}  // namespace
