#include "scene/render/render_context.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <vector>

#include "foundation/runtime/random_generator.h"
#include "scene/objects/nhs_object.h"
#include "scene/render/shape_node_for_test.h"
#include "testing/pool_threads.h"

namespace {

using kxtest::ShapeNode;
using vm::Vector3;

// A random scene in front of a camera at the origin: nested nodes of opaque, flat,
// translucent and textured triangles, lines and markers, some drawn in parts, and a
// hidden subtree.
class RandomScene {
 public:
  // in_parts false: every node drawn whole (the same scene otherwise).
  explicit RandomScene(int nodes, bool in_parts = true)
      : in_parts_(in_parts), root_(NHS_TYPE_SCENE), texels_(32 * 16) {
    for (std::size_t i = 0; i < texels_.size(); ++i) {
      texels_[i] = static_cast<std::uint32_t>(i * 2654435761u) | 0xff000000u;
    }
    texture_ = {texels_.data(), 5, 4};
    NHSObject* parent = &root_;
    for (int n = 0; n < nodes; ++n) {
      ShapeNode* node = Make();
      Matrix3x4& t = node->GetTransform();
      t[0][3] = Uniform(-0.5, 0.5);
      parent->AddChild(node);
      if (n % 4 == 3) parent = node;  // some depth
      if (n == nodes / 2) {
        hidden_ = Make();
        hidden_->AddChild(hidden_child_ = Make());
        node->AddChild(hidden_);
      }
    }
    hidden_->Hide();
  }

  const NHSObject& Root() const { return root_; }
  // Every part of a visible node drawn once, the hidden ones never.
  void ExpectDrawnOnce() const { Check(root_, false); }
  void ResetCounts() const { Reset(root_); }

 private:
  double Uniform(double a, double b) { return a + (b - a) * (random_.Next() / 4294967296.0); }
  // Every primitive lies in a depth slab of its own, so no two have equal depth values
  // anywhere (crossing primitives would tie along the crossing).
  void NextSlab() { slab_ += 0.05; }
  Vector3 Point() { return {Uniform(-6, 6), Uniform(-4, 4), slab_ + Uniform(0, 0.04)}; }
  Vector3 Near(const Vector3& a) {
    return {a.x + Uniform(-3, 3), a.y + Uniform(-3, 3), slab_ + Uniform(0, 0.04)};
  }

  ShapeNode* Make() {
    ShapeNode* node = new ShapeNode;
    node->texture = &texture_;
    // Translucent layers in every third node only: no sample gathers the 63 layers past
    // which further ones are dropped (which would make their order count).
    const bool translucent = made_ % 3 == 0;
    node->part_size = in_parts_ ? kPartSizes[made_ % 4] : 0;
    ++made_;
    const std::uint32_t kAlpha[4] = {0xff000000, 0x00000000,
                                     translucent ? 0x80000000u : 0xff000000u,
                                     translucent ? 0x30000000u : 0u};
    for (int i = 0; i < 6; ++i) {
      NextSlab();
      const Vector3 a = Point();
      node->polygons.push_back({{a, Near(a), Near(a)},
                                3,
                                kAlpha[i % 4] | (random_.Next() & 0xffffff),
                                false,
                                i == 5,
                                {0.0, 0.0, 3.0, 0.5, 1.0, 2.0}});
    }
    for (int i = 0; i < 3; ++i) {
      NextSlab();
      node->lines.push_back(
          {Point(), Point(), Uniform(0.5, 4),
           (i || !translucent ? 0xff000000 : 0x90000000) | (random_.Next() & 0xffffff)});
    }
    for (int i = 0; i < 3; ++i) {
      NextSlab();
      node->markers.push_back({Point(), static_cast<unsigned>(i), Uniform(1, 5),
                               0x01000000 | (random_.Next() & 0xffffff)});
    }
    return node;
  }

  void Check(const NHSObject& node, bool hidden) const {
    hidden = hidden || (node.GetUIDFlags() & UID_FLAG_HIDDEN);
    if (const auto* shape = dynamic_cast<const ShapeNode*>(&node)) {
      EXPECT_EQ(shape->draws.load(), hidden ? 0 : shape->DrawParts()) << node.GetUID();
    }
    for (const NHSObject* c = node.GetFirstChild(); c; c = c->GetNextSibling()) Check(*c, hidden);
  }
  void Reset(const NHSObject& node) const {
    if (const auto* shape = dynamic_cast<const ShapeNode*>(&node)) shape->draws = 0;
    for (const NHSObject* c = node.GetFirstChild(); c; c = c->GetNextSibling()) Reset(*c);
  }

  // Whole, and in parts of 5, 1 and 12 of a node's 12 primitives.
  static constexpr int kPartSizes[4] = {0, 5, 1, 12};
  bool in_parts_;
  RandomGenerator random_{12345};
  double slab_ = 3.0;
  int made_ = 0;
  NHSObject root_;
  std::vector<std::uint32_t> texels_;
  NHSTexture texture_;
  ShapeNode* hidden_ = nullptr;
  ShapeNode* hidden_child_ = nullptr;
};

// A camera of focal length 300 pixels: rows 0, 1 of the 4 × 4 matrix and row 3 = (0 0 1 0).
Matrix4x4 Camera(double focal) {
  Matrix4x4 m;
  m.SetZero();
  m[0][0] = m[1][1] = focal;
  m[2][2] = m[3][2] = 1.0;
  return m;
}

std::vector<std::uint32_t> RenderAt(int threads, unsigned f, const RandomScene& scene) {
  kxtest::PoolThreads pool(threads);
  // The target is the rectangle (5, 3, 150, 100) of a larger buffer.
  std::vector<std::uint32_t> buffer(170 * 110, 0xff203040);
  RenderContext context;
  context.SetSampleFactor(f);
  context.SetViewMatrix(Camera(300));
  context.SetPrincipalPoint(80, 53);
  context.SetTarget(buffer.data(), 170, 170, 110, 5, 3, 150, 100);
  scene.ResetCounts();
  context.RenderScene(&scene.Root());
  scene.ExpectDrawnOnce();
  // A second frame over the same buffer reuses the arenas and draws the same items again.
  std::vector<std::uint32_t> first = buffer;
  std::fill(buffer.begin(), buffer.end(), 0xff203040);
  scene.ResetCounts();
  context.RenderScene(&scene.Root());
  EXPECT_EQ(buffer, first);
  return buffer;
}

TEST(RenderContext, SamePixelsOnAnyNumberOfThreads) {
  const RandomScene scene(40);
  for (unsigned f : {1u, 2u}) {
    SCOPED_TRACE(f);
    const std::vector<std::uint32_t> one = RenderAt(1, f, scene);
    int drawn = 0, outside_changed = 0;
    for (int y = 0; y < 110; ++y) {
      for (int x = 0; x < 170; ++x) {
        const bool changed = one[y * 170 + x] != 0xff203040u;
        const bool inside = x >= 5 && x < 155 && y >= 3 && y < 103;
        drawn += changed && inside;
        outside_changed += changed && !inside;
      }
    }
    EXPECT_GT(drawn, 150 * 100 / 4);
    EXPECT_EQ(outside_changed, 0);
    EXPECT_EQ(RenderAt(2, f, scene), one);
    EXPECT_EQ(RenderAt(8, f, scene), one);
    // Drawing nodes in parts changes nothing either.
    EXPECT_EQ(RenderAt(2, f, RandomScene(40, false)), one);
  }
}

TEST(RenderContext, ViewMatrixAndPrincipalPointPlaceThePixels) {
  // A marker of size 0 at world (0.25, -0.1, 5) under focal 400 lands at image position
  // (20 + 64.5, -8 + 40.5); pixel (x, y) has its centre at image position (x + 0.5, y + 0.5).
  NHSObject root(NHS_TYPE_SCENE);
  ShapeNode* node = new ShapeNode;
  node->markers.push_back({{0.25, -0.1, 5.0}, kMarkerSquare, 0.0, 0x01123456});
  root.AddChild(node);
  std::vector<std::uint32_t> buffer(128 * 80, 0);
  RenderContext context;
  context.SetViewMatrix(Camera(400));
  context.SetPrincipalPoint(64.5, 40.5);
  context.SetTarget(buffer.data(), 128, 128, 80, 0, 0, 128, 80);
  context.RenderScene(&root);
  for (int y = 0; y < 80; ++y) {
    for (int x = 0; x < 128; ++x) {
      EXPECT_EQ(buffer[y * 128 + x], x == 84 && y == 32 ? 0x00123456u : 0u) << x << "," << y;
    }
  }
  // A degenerate view matrix (no depth row) and an empty target draw nothing.
  std::fill(buffer.begin(), buffer.end(), 0);
  Matrix4x4 flat = Camera(400);
  flat[3][2] = 0.0;
  context.SetViewMatrix(flat);
  context.RenderScene(&root);
  context.SetViewMatrix(Camera(400));
  context.SetTarget(buffer.data(), 128, 128, 80, 200, 0, 10, 10);
  context.RenderScene(&root);
  EXPECT_EQ(buffer, std::vector<std::uint32_t>(128 * 80, 0));
}

TEST(RenderContext, BandsSplitEvenlyAndThievesTakeTheSecondHalf) {
  RowBands bands;
  bands.Split(3, 10);  // [0, 3), [3, 6), [6, 10)
  std::vector<int> rows;
  for (int i = 0; i < 5; ++i) rows.push_back(bands.Claim(0));
  // Band 0's own rows, then the second half of band 2 (the most rows left).
  EXPECT_EQ(rows, (std::vector<int>{0, 1, 2, 8, 9}));
  // Bands 1 [3, 6) and 2 [6, 8) remain: band 0 takes [4, 6) of band 1.
  EXPECT_EQ(bands.Claim(0), 4);
  EXPECT_EQ(bands.Claim(1), 3);
  EXPECT_EQ(bands.Claim(2), 6);
  EXPECT_EQ(bands.Claim(2), 7);
  // Band 2 is empty; bands 0 [5, 6) and 1 (empty): one row left, taken whole.
  EXPECT_EQ(bands.Claim(2), 5);
  EXPECT_EQ(bands.Claim(0), -1);

  // Equal bands: the first one is the victim.
  bands.Split(3, 9);
  for (int i = 0; i < 3; ++i) bands.Claim(2);
  EXPECT_EQ(bands.Claim(2), 1);  // [0, 3) halves at 1

  // One band over one row.
  bands.Split(1, 1);
  EXPECT_EQ(bands.Count(), 1);
  EXPECT_EQ(bands.Claim(0), 0);
  EXPECT_EQ(bands.Claim(0), -1);
}

}  // namespace
