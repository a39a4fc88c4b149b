#include <gtest/gtest.h>

#include "foundation/runtime/uid_registry.h"
#include "interaction/controller_job_for_test.h"
#include "interaction/observer_view.h"
#include "scene/objects/primitives.h"
#include "scene/scene.h"

namespace {

TEST(LockViewAnchor, TakesTheSelectedPointsOrTheTrack) {
  kxtest::ControllerJob job;
  uic::LockViewAnchor anchor;
  anchor.m_kind = uic::LockViewAnchor::eTrack2D;
  EXPECT_FALSE(anchor.SetFromSelected2DFeatures());  // nothing selected: unchanged
  EXPECT_EQ(anchor.m_kind, uic::LockViewAnchor::eTrack2D);

  UIDRegistry& registry = UIDRegistry::Instance();
  registry.SetSelected(job.tracks[0][1]->GetUID(), true);  // point (0, 1, 4)
  registry.SetSelected(job.tracks[2][0]->GetUID(), true);  // point (1, -1, 6)
  ASSERT_TRUE(anchor.SetFromSelected2DFeatures());
  EXPECT_EQ(anchor.m_kind, uic::LockViewAnchor::ePoint3D);
  EXPECT_DOUBLE_EQ(anchor.m_position.x, 0.5);
  EXPECT_DOUBLE_EQ(anchor.m_position.y, 0.0);
  EXPECT_DOUBLE_EQ(anchor.m_position.z, 5.0);

  // Features without 3D points: the first one's track.
  kxtest::C().DeselectAll(true);
  for (const auto& f : job.tracks[3]) f->SetFPoint3D(SharedPtr<FeaturePoint3D>());
  registry.SetSelected(job.tracks[3][2]->GetUID(), true);
  ASSERT_TRUE(anchor.SetFromSelected2DFeatures());
  EXPECT_EQ(anchor.m_kind, uic::LockViewAnchor::eTrack2D);
  EXPECT_EQ(anchor.m_track.size(), job.tracks[3].size());
}

TEST(LockViewAnchor, TakesTheSelectedSceneObject) {
  kxtest::ControllerJob job;
  Scene* scene = kxtest::C().GetScene();
  uic::LockViewAnchor anchor;
  EXPECT_FALSE(anchor.SetFromScene(scene));
  auto* cube = new NHSObject_Cuboid();
  scene->AddChild(cube);
  Matrix3x4 G;
  cube->GetGlobalTransform(G, false);
  scene->SelectObject(cube->GetUID());
  ASSERT_TRUE(anchor.SetFromScene(scene));
  EXPECT_EQ(anchor.m_kind, uic::LockViewAnchor::ePoint3D);
  EXPECT_DOUBLE_EQ(anchor.m_position.x, G[0][3]);
  EXPECT_DOUBLE_EQ(anchor.m_position.z, G[2][3]);
}

}  // namespace
