#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "interaction/controller_job_for_test.h"
#include "interaction/undo_commands.h"
#include "tracking/objects/vertex_object_pool.h"

namespace {

// A 720 x 576 job shown in a viewer at frame 0, its own mask and line removed.
struct MaskEdit : ::testing::Test {
  MaskEdit() {
    pool().Clear();
    viewer.HandleCurrentFrameChanged();
  }
  VertexObjectPool& pool() { return job.tracker->GetVertexObjectPool(); }
  std::vector<vm::Vector3> Positions(const VertexObject& object, int frame = 0) {
    std::vector<vm::Vector3> out;
    object.GetVertexPositions(out, unsigned(frame));
    return out;
  }
  void Append(std::initializer_list<vm::Vector3> points) {
    for (const vm::Vector3& p : points) viewer.AppendMaskPoint(p);
  }

  kxtest::ControllerJob job{720, 576};
  kxtest::CountingViewer viewer;
};

TEST_F(MaskEdit, MasksAreNumberedOnlyWhenMade) {
  viewer.BeginPolygonMask();
  EXPECT_EQ(viewer.m_interaction, uic::ViewerBase::kInteractionMask);
  Append({{10, 10, 0}, {100, 10, 0}});
  EXPECT_TRUE(kxtest::C().IsModified());
  viewer.ClosePolygonMask();  // two points: nothing, no number used, no undo step
  EXPECT_TRUE(pool().GetPolygonMasks().empty());
  EXPECT_TRUE(viewer.m_mask_points.empty());
  EXPECT_EQ(viewer.m_interaction, 0);
  EXPECT_EQ(PeekUndoRedoCommand(false), nullptr);

  for (int k = 0; k < 2; ++k) {
    viewer.BeginPolygonMask();
    Append({{10, 10, 0}, {100, 10, 0}, {100, 100, 0}});
    viewer.ClosePolygonMask();
  }
  ASSERT_EQ(pool().GetPolygonMasks().size(), 2u);
  const PolygonMask& first = pool().GetPolygonMasks().front();
  EXPECT_EQ(first.GetName(), "Mask_0");
  EXPECT_EQ(pool().GetPolygonMasks().back().GetName(), "Mask_1");
  // Its own colour: the RGB of the mask slot (blue by default) at half opacity.
  EXPECT_DOUBLE_EQ(first.GetColor().b, 1.0);
  EXPECT_DOUBLE_EQ(first.GetColor().r, 0.0);
  EXPECT_DOUBLE_EQ(first.GetColor().a, 0.5);
  EXPECT_TRUE(first.TestFlags(1));
  EXPECT_EQ(first.GetStartIndex(), 0);
  EXPECT_EQ(first.GetEndIndex(), kxtest::TrackerJobData::kFrames - 1);
}

TEST_F(MaskEdit, TheRegularTriangleHangsBelowTheCentre) {
  viewer.AddRegularPolygonMask(2);  // not a polygon
  EXPECT_TRUE(pool().GetPolygonMasks().empty());
  viewer.AddRegularPolygonMask(3);
  ASSERT_EQ(pool().GetPolygonMasks().size(), 1u);
  const std::vector<vm::Vector3> p = Positions(pool().GetPolygonMasks().front());
  const double expected[3][2] = {{360.0, 460.8}, {509.649, 201.6}, {210.351, 201.6}};
  ASSERT_EQ(p.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(p[size_t(i)].x, expected[i][0], 5e-4);
    EXPECT_NEAR(p[size_t(i)].y, expected[i][1], 5e-4);
  }
}

TEST_F(MaskEdit, TheFirstPointStays) {
  Append({{1, 1, 0}, {2, 2, 0}});
  viewer.RemoveLastMaskPoint();
  viewer.RemoveLastMaskPoint();
  EXPECT_EQ(viewer.m_mask_points.size(), 1u);
}

TEST(MaskEditWithoutTracker, ClosingKeepsThePointsAndTheDrawing) {
  kxtest::CountingViewer viewer;
  viewer.m_mask_points.resize(3);
  viewer.m_interaction = uic::ViewerBase::kInteractionMask;
  viewer.ClosePolygonMask();
  EXPECT_EQ(viewer.m_mask_points.size(), 3u);
  EXPECT_EQ(viewer.m_interaction, uic::ViewerBase::kInteractionMask);
}

TEST_F(MaskEdit, ClosingAMaskIsOneUndoStep) {
  Append({{10, 10, 0}, {100, 10, 0}, {100, 100, 0}});
  viewer.ClosePolygonMask();
  ASSERT_EQ(pool().GetPolygonMasks().size(), 1u);
  UndoLastCommand();
  EXPECT_TRUE(pool().GetPolygonMasks().empty());
  RedoLastCommand();
  ASSERT_EQ(pool().GetPolygonMasks().size(), 1u);
  EXPECT_EQ(pool().GetPolygonMasks().front().GetName(), "Mask_0");
}

TEST_F(MaskEdit, DefaultLinesTurnFiveDegreesEach) {
  viewer.CurrentState()->m_flags &= ~uic::ViewerBase::eShowLines;
  viewer.AddReferenceLine();
  viewer.AddReferenceLine();
  EXPECT_TRUE(viewer.CurrentState()->m_flags & uic::ViewerBase::eShowLines);
  EXPECT_EQ(viewer.m_interaction, 0);
  ASSERT_EQ(pool().GetLineStrips().size(), 2u);
  const LineStrip& first = pool().GetLineStrips().front();
  EXPECT_EQ(first.GetName(), "Line_0");
  EXPECT_EQ(pool().GetLineStrips().back().GetName(), "Line_1");
  EXPECT_EQ(first.GetFlags(), 1u);
  EXPECT_DOUBLE_EQ(first.GetColor().r, 1.0);  // the reference-line slot, opaque
  EXPECT_DOUBLE_EQ(first.GetColor().a, 1.0);
  std::vector<vm::Vector3> p = Positions(first);
  ASSERT_EQ(p.size(), 2u);
  EXPECT_NEAR(p[0].x, 360.0, 1e-9);
  EXPECT_NEAR(p[0].y, 86.4, 1e-9);
  EXPECT_NEAR(p[1].x, 360.0, 1e-9);
  EXPECT_NEAR(p[1].y, 489.6, 1e-9);
  p = Positions(pool().GetLineStrips().back());
  ASSERT_EQ(p.size(), 2u);
  const double a = 5.0 * M_PI / 180.0, L = 0.7 * 288;
  EXPECT_NEAR(p[0].x, 360.0 + L * std::sin(a), 1e-9);
  EXPECT_NEAR(p[0].y, 288.0 - L * std::cos(a), 1e-9);
  UndoLastCommand();
  EXPECT_EQ(pool().GetLineStrips().size(), 1u);
}

TEST_F(MaskEdit, AnUnpairedLinePointIsDropped) {
  viewer.BeginReferenceLine();
  EXPECT_EQ(viewer.m_interaction,
            uic::ViewerBase::kInteractionLine | uic::ViewerBase::kInteractionLine2);
  viewer.AppendLinePoint({5, 5, 0});
  viewer.CloseReferenceLine();  // the new-line action closes first
  viewer.BeginReferenceLine();
  EXPECT_TRUE(viewer.m_line_points.empty());
  EXPECT_TRUE(pool().GetLineStrips().empty());
  EXPECT_EQ(PeekUndoRedoCommand(false), nullptr);
}

TEST_F(MaskEdit, AVertexGoesIntoTheNearestEdge) {
  Append({{100, 100, 0}, {300, 100, 0}, {300, 300, 0}});
  viewer.ClosePolygonMask();
  viewer.InsertMaskVertex({200, 90, 0});
  const std::vector<vm::Vector3> p = Positions(pool().GetPolygonMasks().front());
  ASSERT_EQ(p.size(), 4u);
  EXPECT_DOUBLE_EQ(p[1].x, 200.0);
  EXPECT_DOUBLE_EQ(p[1].y, 90.0);
}

}  // namespace
