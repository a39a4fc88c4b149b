#include "scene/objects/builtin_objects.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "features/feature_image.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_mapper.h"
#include "foundation/tracks/feature_point.h"
#include "image/image_cache.h"
#include "image/packed_string_list.h"
#include "scene/display_settings.h"
#include "scene/objects/recording_render_for_test.h"

namespace {

using kxtest::RecordingRender;
using vm::Vector3;

// Identity rotation, pushed 100 units in front of the viewer.
Matrix3x4 InFront() {
  return Matrix3x4{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 100}};
}

TEST(BuiltinObjects, AxesLinesAndHeadsPointAwayFromTheStart) {
  struct Case {
    double start, end;
  } const cases[] = {{0, 50}, {10, -20}};
  for (const Case& c : cases) {
    NHSObject_Cross3D axes;
    for (int i = 0; i < 3; ++i) {
      axes.start[i] = c.start;
      axes.end[i] = c.end;
    }
    // Turned so that no axis runs along the line of sight (a head seen end-on shows only
    // its base).
    Matrix4x4 turn;
    turn.SetZero();
    turn.SetRotationXYZ(0.5, 0.7, 0.3);
    Matrix3x4 model = InFront();
    for (int row = 0; row < 3; ++row) {
      for (int col = 0; col < 3; ++col) model[row][col] = turn[row][col];
    }
    const Vector3 T(0, 0, 100);
    // Coordinate along object axis i of a view point.
    auto along = [&](const Vector3& q, int i) { return (q - T).Dot(MatrixColumn(model, i)); };
    RecordingRender r;
    axes.Draw(r, model);
    const double L = c.end - c.start;
    for (int i = 0; i < 3; ++i) {
      const uint32_t color = axes.colors[i];
      // The axis line, in its own colour.
      int lines = 0;
      for (const auto& l : r.lines) {
        if (l.color != color || l.width != axes.line_width) continue;
        if (std::fabs(along(l.a, i) - c.start) < 1e-9 && std::fabs(along(l.b, i) - c.end) < 1e-9) {
          ++lines;
        }
      }
      EXPECT_EQ(lines, 1) << "axis " << i;
      // The head's geometry lies from the end to a tenth of the line beyond it.
      double lo = 1e30, hi = -1e30;
      for (const auto& p : r.polygons) {
        if (p.color != color) continue;
        for (const Vector3& q : p.points) {
          lo = std::min(lo, along(q, i));
          hi = std::max(hi, along(q, i));
        }
      }
      const double tip = c.end + 0.1 * L;
      EXPECT_NEAR(std::min(c.end, tip), lo, 1e-9) << "axis " << i;
      EXPECT_NEAR(std::max(c.end, tip), hi, 1e-9) << "axis " << i;
    }
  }
}

TEST(BuiltinObjects, GridLinesCornerAndSelectedColour) {
  NHSObject_Grid grid;
  grid.SetCells(4, 2);
  grid.SetExtents(8.0f, 2.0f);
  grid.SetColor(0xff123456);
  grid.SetOrientation(3);  // draws as 0: first axis X, second Y
  for (bool selected : {false, true}) {
    UIDRegistry::Instance().SetSelected(grid.GetUID(), selected);
    RecordingRender r;
    grid.Draw(r, InFront());
    int along_x = 0, along_y = 0;
    for (const auto& l : r.lines) {
      EXPECT_EQ(l.color, selected ? NHSObject_Grid::kSelectedColor : 0xff123456u);
      const Vector3 d = l.b - l.a;
      along_x += std::fabs(d.x - 8.0) < 1e-9 && d.y == 0.0;
      along_y += std::fabs(d.y - 2.0) < 1e-9 && d.x == 0.0;
    }
    EXPECT_EQ(along_x, 3);
    EXPECT_EQ(along_y, 5);
    ASSERT_FALSE(r.lines.empty());
    EXPECT_NEAR(r.lines[0].a.x, -4.0, 1e-9);  // the start corner, centred on the origin
    EXPECT_NEAR(r.lines[0].a.y, -1.0, 1e-9);
  }
  UIDRegistry::Instance().SetSelected(grid.GetUID(), false);
}

TEST(BuiltinObjects, OrbitCentreLeavesItsMiddleOpen) {
  NHSObject_OrbitCenter centre;
  centre.size = 5.0f;
  RecordingRender r;
  centre.Draw(r, InFront());
  ASSERT_EQ(r.lines.size(), 6u);
  const Vector3 T(0, 0, 100);
  for (const auto& l : r.lines) {
    EXPECT_EQ(l.color, centre.color);
    EXPECT_NEAR((l.a - T).Length(), 2.5, 1e-9);
    EXPECT_NEAR((l.b - T).Length(), 0.5, 1e-9);
  }
}

TEST(BuiltinObjects, CameraTrackJoinsItsPositions) {
  NHSObject_CameraTrack track;
  track.SetColor(0xff00ff00);
  RecordingRender r;
  track.GetPositions() = {{1, 2, 3}};
  track.Draw(r, InFront());
  EXPECT_TRUE(r.lines.empty());
  track.GetPositions() = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  track.Draw(r, InFront());
  ASSERT_EQ(r.lines.size(), 2u);
  EXPECT_EQ(r.lines[1].a.x, 4.0);
  EXPECT_EQ(r.lines[1].b.z, 109.0);
  EXPECT_EQ(r.lines[1].color, 0xff00ff00u);
}

TEST(BuiltinObjects, CameraTakesFrustumPlacementAndFrame) {
  FeatureImage image;
  image.SetPixelSize(0.01, 0.01);
  image.SetFocalLength(10.0);
  image.SetImageIndex(3);
  Matrix4x4 moved;
  moved.SetZero();
  for (int i = 0; i < 4; ++i) moved[i][i] = 1.0;
  moved[0][3] = 7.0;  // the scene matrix: a shift along x

  NHSObject_Camera camera;
  camera.SetFromCamera(image, moved, nullptr);
  EXPECT_DOUBLE_EQ(camera.GetDepth(), 5.0);
  EXPECT_DOUBLE_EQ(camera.GetHalfWidth(), 1.8);
  EXPECT_DOUBLE_EQ(camera.GetHalfHeight(), 1.44);
  const Matrix4x4 c2w = image.GetCameraToWorldMatrix();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) {
      EXPECT_DOUBLE_EQ(camera.GetTransform()[r][c], c2w[r][c] + (r == 0 && c == 3 ? 7.0 : 0.0));
    }
  }
  EXPECT_EQ(camera.GetTexture(), nullptr);

  // With a cache the frame becomes the texture; a frame the cache lacks drops it.
  PackedStringListPtr list;
  list.Allocate();
  list->Append("frames.dummy", 0);
  ImageCache cache;
  ASSERT_EQ(cache.SetImageList(list, -1, -1), 0);
  camera.SetFromCamera(image, moved, &cache);
  ASSERT_NE(camera.GetTexture(), nullptr);
  RecordingRender r;
  camera.Draw(r, InFront());
  EXPECT_EQ(r.lines.size(), 8u);
  ASSERT_EQ(r.polygons.size(), 1u);
  const auto& frame = r.polygons[0];
  EXPECT_EQ(frame.color, NHSObject_Camera::kFrameColor);
  EXPECT_FALSE(frame.one_sided);
  EXPECT_EQ(frame.texture, camera.GetTexture());
  EXPECT_EQ(frame.uv, (std::vector<double>{1, 1, 0, 1, 0, 0}));
  EXPECT_DOUBLE_EQ(frame.points[0].x, 1.8);
  EXPECT_DOUBLE_EQ(frame.points[2].y, -1.44);
  EXPECT_DOUBLE_EQ(frame.points[0].z, 105.0);

  image.SetImageIndex(-1);
  camera.SetFromCamera(image, moved, &cache);
  EXPECT_EQ(camera.GetTexture(), nullptr);
  r.Clear();
  camera.Draw(r, InFront());
  EXPECT_TRUE(r.polygons.empty());
}

TEST(BuiltinObjects, PointCloudMarkersFollowThePointState) {
  const DisplaySettings& settings = DisplaySettings::Get();
  const double base = settings.point_marker_size * 0.5;
  auto point = [](uint32_t flags, int cs = FeaturePoint3D::eCartesian) {
    auto p = SharedPtr<FeaturePoint3D>::Make(1.0, 2.0, 3.0, cs);
    p->SetFlags(flags);
    return p;
  };
  struct Case {
    const char* name;
    uint32_t flags;
    double size;
  } const cases[] = {
      {"seen", FP3D_FLAG_SEEN, base},
      {"not seen", 0, base * 0.75},
      {"protected, seen", FP3D_FLAG_PROTECTED | FP3D_FLAG_SEEN, base * 2},
      {"protected, not seen", FP3D_FLAG_PROTECTED, base * 1.5},
      {"protected but removed", FP3D_FLAG_PROTECTED | FP3D_FLAG_REMOVED, base * 0.75},
  };
  const uint32_t all = 0x04 | 0x08 | 0x10 | 0x40;
  NHSObject_FeaturePoints cloud;
  cloud.AssignFlags(all);
  NHSObject_FeaturePoints::PointList points;
  ReadWriteSpinLock lock;
  for (const Case& c : cases) points.push_back(point(c.flags));
  cloud.SetPoints(points, lock);
  RecordingRender r;
  cloud.Draw(r, InFront());
  ASSERT_EQ(r.markers.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& m = r.markers[i];
    EXPECT_DOUBLE_EQ(m.size, cases[i].size) << cases[i].name;
    EXPECT_EQ(m.shape, 2u);
    EXPECT_EQ(m.id, uint32_t(points[i]->GetUID()));
    EXPECT_EQ(m.color, GetObjectDisplayColor(all, *points[i]) + 0x01000000u) << cases[i].name;
    EXPECT_EQ(m.p.z, 103.0);
  }

  // Hidden points draw nothing: the export view hides removed ones.
  cloud.AssignFlags(0x20);
  r.Clear();
  cloud.Draw(r, InFront());
  EXPECT_EQ(r.markers.size(), std::size(cases) - 1);

  // A direction point sits at its distance along its direction from the cloud's camera.
  points.assign(1, point(FP3D_FLAG_SEEN, FeaturePoint3D::eSpherical));
  points[0]->x = 0.3;
  points[0]->y = -0.2;
  points[0]->z = 10.0;
  cloud.AssignFlags(all);
  r.Clear();
  cloud.Draw(r, InFront());
  ASSERT_EQ(r.markers.size(), 1u);
  const Vector3 expected = cloud.GetC() + SphericalDirection(0.3, -0.2) * 10.0 + Vector3(0, 0, 100);
  EXPECT_NEAR((r.markers[0].p - expected).Length(), 0.0, 1e-9);
  EXPECT_EQ(points[0]->GetCS(), int32_t(FeaturePoint3D::eSpherical));  // unchanged
}

}  // namespace
