#include "interaction/controller.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/feature_flags.h"
#include "interaction/controller_job_for_test.h"
#include "interaction/undo_commands.h"
#include "interaction/undo_stack.h"
#include "scene/display_settings.h"
#include "scene/objects/nhs_object.h"
#include "scene/scene.h"
#include "testing/log_capture.h"
#include "tracking/maps/feature_map.h"
#include "tracking/objects/vertex_object_pool.h"

namespace uic {
namespace {

using kxtest::C;
using kxtest::ControllerJob;
using kxtest::GroupViewer;
using kxtest::LogCapture;
using kxtest::NotificationRecorder;
using Names = std::vector<std::string>;

TEST(ControllerTest, AFrameChangeShowsTheFileNameAndIsSentOnceUnlessForced) {
  ControllerJob job;
  NotificationRecorder rec;
  C().SetCurrentFrame(0, false);
  EXPECT_TRUE(rec.names.empty());
  C().SetCurrentFrame(0, true);
  EXPECT_EQ(rec.names, (Names{"status", "frame"}));
  rec.names.clear();
  C().SetCurrentFrame(2, false);
  EXPECT_EQ(rec.names, (Names{"status", "frame"}));
  EXPECT_EQ(C().GetCurrentFrame(), 2);
  EXPECT_EQ(C().GetStatusText(), job.tracker->GetImageList()[2]->GetFileName());
  EXPECT_EQ(C().GetDisplayTime(), 2000);
}

TEST(ControllerTest, RangeEndsAreClampedAndAlwaysAnnounced) {
  ControllerJob job;  // frames 0 .. 3
  NotificationRecorder rec;
  struct Case {
    bool start;
    int frame;
    int want_start, want_end;
  } cases[] = {
      {true, 2, 2, 3},   {true, 9, 3, 3}, {true, -1, 3, 3},  // above the end: the end
      {false, 0, 3, 3},  {true, 1, 1, 3}, {false, 2, 1, 2},  // below the start: the start
      {false, -5, 1, 2},                                     // negative: not stored
  };
  for (const Case& c : cases) {
    rec.names.clear();
    if (c.start) {
      C().SetStartFrame(c.frame);
    } else {
      C().SetEndFrame(c.frame);
    }
    EXPECT_EQ(C().GetStartFrame(), c.want_start) << c.frame;
    EXPECT_EQ(C().GetEndFrame(), c.want_end) << c.frame;
    EXPECT_EQ(rec.names, (Names{"frame"}));
  }
}

TEST(ControllerTest, SimpleSettersSendTheirOwnNotification) {
  ControllerJob job;
  NotificationRecorder rec;
  C().SetModified(true);
  EXPECT_TRUE(C().IsModified());
  C().SetTrackingSettings(*C().GetTrackingSettings());
  C().SetInfoText(Controller::eInfoEditHint, "close the mask");
  C().SetInfoText(Controller::InfoEnum(5), "nowhere");
  C().EmitViewerModeChanged();
  EXPECT_EQ(rec.names, (Names{"need-save", "settings", "info1", "info5", "mode"}));
  EXPECT_EQ(C().GetInfoText(Controller::eInfoEditHint), "close the mask");
  EXPECT_EQ(C().GetInfoText(Controller::eInfoCursorPosition), "");
}

TEST(ControllerTest, TheTrackerIsReplacedOnlyByAnotherOne) {
  ControllerJob job;
  LogCapture log(5);
  C().SetCTracker(nullptr);
  C().SetCTracker(job.tracker);
  EXPECT_EQ(C().GetCTracker(), job.tracker);
  EXPECT_EQ(C().GetMetaCTracker(), job.tracker);
  EXPECT_TRUE(log.Has("uic::Global::SetCTracker: tracker is Null"));
  EXPECT_TRUE(log.Has("uic::Global::SetCTracker: new tracker = old tracker"));
  EXPECT_EQ(C().GetNumberOfImages(), 4);
  EXPECT_EQ(C().GetScene(), &job.tracker->GetScene());
  // A new tracker: the old one's undo commands must not outlive it.
  PushCommand(new VertexObjectPoolCmd(&job.tracker->GetVertexObjectPool(), 2));
  // Nor may a viewer keep showing one of its frames, whose owner is about to go.
  GroupViewer viewer;
  viewer.SetFImage(job.tracker->GetImageList()[0]);
  C().SetCTracker(new MetaCTracker());
  EXPECT_EQ(UndoStack::Instance().NumUndo(), 0);
  EXPECT_EQ(C().GetMetaCTracker(), C().GetCTracker());
  EXPECT_EQ(viewer.GetFImage(), nullptr);
}

TEST(ControllerTest, TheTrackersResultMessagesBecomeTheGlobalDataNotification) {
  ControllerJob job;
  NotificationRecorder rec;
  job.tracker->EmitTrackingMessage(eMsgUpdate);
  job.tracker->EmitTrackingMessage(eMsgDataChanged);
  job.tracker->EmitTrackingMessage(eMsgSceneChanged);
  EXPECT_EQ(rec.names, (Names{"global", "global"}));
}

TEST(ControllerTest, ClearingTheProjectEmptiesJobViewersAndHistory) {
  ControllerJob job;
  GroupViewer viewer;
  viewer.SetFImage(job.tracker->GetImageList()[0]);
  PushCommand(new VertexObjectPoolCmd(&job.tracker->GetVertexObjectPool(), 2));
  C().SetModified(true);
  NotificationRecorder rec;
  C().ClearProject();
  EXPECT_EQ(rec.names, (Names{"need-save", "sequence", "pool"}));
  EXPECT_FALSE(C().IsModified());
  EXPECT_EQ(UndoStack::Instance().NumUndo(), 0);
  EXPECT_EQ(viewer.GetFImage(), nullptr);
  EXPECT_EQ(C().GetNumberOfImages(), 0);
}

TEST(ControllerTest, AReferenceLineIsStartedInTheMainViewerAndMarksTheProject) {
  ControllerJob job;
  GroupViewer viewer;
  viewer.SetFImage(job.tracker->GetImageList()[0]);
  const size_t before = job.tracker->GetVertexObjectPool().GetLineStrips().size();
  NotificationRecorder rec;
  C().AddReferenceLine();
  EXPECT_EQ(job.tracker->GetVertexObjectPool().GetLineStrips().size(), before + 1);
  EXPECT_TRUE(C().IsModified());
  // The viewer's own notifications for the new line come first, then the controller's.
  ASSERT_GE(rec.names.size(), 2u);
  EXPECT_EQ(Names(rec.names.end() - 2, rec.names.end()), (Names{"need-save", "pool"}));
}

TEST(ControllerTest, OnlyTheActivatedViewerCarriesTheActiveBit) {
  ControllerJob job;
  GroupViewer first, second;
  EXPECT_EQ(C().GetMainViewer(), &first);
  second.SetFImage(job.tracker->GetImageList()[3]);
  NotificationRecorder rec;
  C().SetActiveViewer(&second);
  EXPECT_EQ(C().GetMainViewer(), &second);
  EXPECT_TRUE(second.m_interaction & ViewerBase::kInteractionActiveViewer);
  EXPECT_FALSE(first.m_interaction & ViewerBase::kInteractionActiveViewer);
  // The second viewer showed frame 3: it became current.
  EXPECT_EQ(C().GetCurrentFrame(), 3);
  EXPECT_EQ(rec.names, (Names{"status", "frame"}));
  rec.names.clear();
  C().SetActiveViewer(&first);  // no image: no frame change
  EXPECT_TRUE(first.m_interaction & ViewerBase::kInteractionActiveViewer);
  EXPECT_FALSE(second.m_interaction & ViewerBase::kInteractionActiveViewer);
  EXPECT_TRUE(rec.names.empty());
  first.redraws = second.redraws = 0;
  C().UpdateViewers();
  EXPECT_EQ(first.redraws, 1);
  EXPECT_EQ(second.redraws, 1);
  {
    kxtest::CountingViewer gone;  // added, never removed: dropped once destroyed
    C().AddViewer(&gone);
  }
  C().UpdateViewers();
  EXPECT_EQ(C().GetViewers().size(), 2u);
}

TEST(ControllerTest, RadialDistortionStaysWithinItsRange) {
  ControllerJob job(64, 48);
  GroupViewer viewer;
  const auto& images = job.tracker->GetImageList();
  viewer.SetFImage(images[1]);
  viewer.redraws = 0;
  images[2]->SetFlags(FIMAGE_FLAG_LENS_KEY);
  {
    LogCapture log(5);
    for (double k : {0.25, -0.2000001, std::numeric_limits<double>::quiet_NaN()}) {
      C().SetRadialDistortion(k, false);
    }
    EXPECT_TRUE(log.Has("to [-0.2, 0.2]"));
  }
  EXPECT_EQ(C().GetNormalizedK3(), 0.0);
  EXPECT_EQ(viewer.redraws, 0);

  C().SetRadialDistortion(0.2, false);  // the limits belong to the range
  EXPECT_NEAR(C().GetNormalizedK3(), 0.2, 1e-15);
  EXPECT_TRUE(images[1]->TestFlags(FIMAGE_FLAG_LENS_KEY));
  for (size_t i : {0, 2, 3}) {
    EXPECT_FALSE(images[i]->TestFlags(FIMAGE_FLAG_LENS_KEY)) << i;
    EXPECT_EQ(images[i]->GetDistortionCoefficients()[0], images[1]->GetDistortionCoefficients()[0]);
  }
  EXPECT_EQ(viewer.redraws, 1);

  NotificationRecorder rec;
  C().ClearRadialDistortion();
  for (const auto& image : images) {
    EXPECT_EQ(image->GetDistortionCoefficients()[0], 0.0);
    EXPECT_FALSE(image->TestFlags(FIMAGE_FLAG_LENS_KEY));
  }
  EXPECT_EQ(rec.names, (Names{"pool"}));
  EXPECT_EQ(C().GetNormalizedK3(), 0.0);
}

TEST(ControllerTest, InterpolatedDistortionFollowsTheLensKeys) {
  ControllerJob job(64, 48);
  GroupViewer viewer;
  const auto& images = job.tracker->GetImageList();
  viewer.SetFImage(images[0]);
  C().SetRadialDistortion(-0.1, true);
  viewer.SetFImage(images[2]);
  C().SetRadialDistortion(0.1, true);
  const double k0 = images[0]->GetDistortionCoefficients()[0];
  const double k2 = images[2]->GetDistortionCoefficients()[0];
  EXPECT_NEAR(images[1]->GetDistortionCoefficients()[0], (k0 + k2) / 2, 1e-12 * std::fabs(k0));
  EXPECT_EQ(images[3]->GetDistortionCoefficients()[0], k2);
}

TEST(ControllerTest, ExportModesChooseExactlyTheirPoints) {
  ControllerJob job;
  job.points[3]->SetName("corner");
  UIDRegistry::Instance().SetSelected(job.points[2]->GetUID(), true);
  struct Case {
    int mode;
    std::vector<bool> exported;  // per point
  } cases[] = {
      {0, {true, true, true, true, true, true}},
      {2, {false, false, true, false, false, false}},
      {3, {false, false, false, true, false, false}},
      {4, {false, true, false, false, false, false}},
      {5, {true, false, true, true, true, true}},
      {7, {true, false, true, true, true, true}},
  };
  for (const Case& c : cases) {
    C().SetFPoint3DExportMode(c.mode, 0);
    for (size_t i = 0; i < job.points.size(); ++i) {
      EXPECT_EQ(!job.points[i]->TestFlags(FP3D_FLAG_NO_EXPORT), c.exported[i])
          << "mode " << c.mode << " point " << i;
    }
  }
  C().SetFPoint3DExportMode(0, 0);
  C().SetFPoint3DExportMode(1, 0);  // the limit keeps the user point only
  EXPECT_FALSE(job.points[1]->TestFlags(FP3D_FLAG_NO_EXPORT));
  EXPECT_TRUE(job.points[0]->TestFlags(FP3D_FLAG_NO_EXPORT));
}

// ---- DeleteSelection

TEST(ControllerDeleteSelectionTest, NothingSelectedSendsNothing) {
  ControllerJob job;
  NotificationRecorder rec;
  C().DeleteSelection();
  EXPECT_TRUE(rec.names.empty());
  EXPECT_FALSE(C().IsModified());
  EXPECT_EQ(UndoStack::Instance().NumUndo(), 0);
}

TEST(ControllerDeleteSelectionTest, EachKindIsDeletedAndUndone) {
  const Names after_delete{"need-save", "selection", "pool", "selection"};
  struct Case {
    const char* what;
    const char* label;
  } cases[] = {{"2d", "Remove feature tracks"},
               {"3d", "Delete 3D points"},
               {"object", "unknown"},
               {"vertex", "Delete Polygon Object"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ControllerJob job;
    GroupViewer viewer;
    Scene& scene = job.tracker->GetScene();
    UIDRegistry& registry = UIDRegistry::Instance();
    auto* cube = new NHSObject(NHS_TYPE_CUBOID);
    scene.AddChild(cube);
    const int32_t cube_id = cube->GetUID();
    VertexObjectPool& pool = job.tracker->GetVertexObjectPool();
    const std::string what = c.what;
    if (what == "2d") registry.SetSelected(job.tracks[2][1]->GetUID(), true);
    if (what == "3d") {
      scene.UpdateObjectFlags(1, ~0u);  // a view that shows every point
      registry.SetSelected(job.points[3]->GetUID(), true);
    }
    if (what == "object") registry.SetSelected(cube_id, true);
    if (what == "vertex") {
      registry.SetSelected(pool.GetLineStrips().front().GetVertices().front().GetUID(), true);
    }
    viewer.redraws = 0;
    NotificationRecorder rec;
    C().DeleteSelection();
    EXPECT_EQ(rec.names, after_delete);
    EXPECT_TRUE(C().IsModified());
    EXPECT_GE(viewer.redraws, 1);
    EXPECT_FALSE(registry.AnySelected());
    EXPECT_EQ(GetCommandLabel(PeekUndoRedoCommand(false)), std::string(c.label));

    if (what == "2d") {
      for (int k = 0; k < 4; ++k)
        EXPECT_EQ(job.tracks[2][size_t(k)]->GetImage()->GetFPoints2D().size(), 5u);
    } else if (what == "3d") {
      EXPECT_TRUE(job.points[3]->TestFlags(FP3D_FLAG_REMOVED));
    } else if (what == "object") {
      EXPECT_EQ(cube->GetParent(), nullptr);
    } else {
      EXPECT_TRUE(pool.GetLineStrips().empty());  // two vertices less one: gone
    }

    UndoLastCommand();
    if (what == "2d") {
      for (int k = 0; k < 4; ++k) {
        const auto& list = job.tracker->GetImageList()[size_t(k)]->GetFPoints2D();
        EXPECT_EQ(list.size(), 6u);
        EXPECT_EQ(list[2], job.tracks[2][size_t(k)]);
      }
      EXPECT_EQ(job.tracks[2][0]->GetSuccessor()->GetSecond(), job.tracks[2][1]);
      EXPECT_FALSE(job.points[2]->TestFlags(FP3D_FLAG_REMOVED));
    } else if (what == "3d") {
      EXPECT_FALSE(job.points[3]->TestFlags(FP3D_FLAG_REMOVED));
    } else if (what == "object") {
      EXPECT_EQ(cube->GetParent(), &scene);
    } else {
      ASSERT_EQ(pool.GetLineStrips().size(), 1u);
      EXPECT_EQ(pool.GetLineStrips().front().GetVertices().size(), 2u);
    }
  }
}

TEST(ControllerDeleteSelectionTest, ARefusedObjectDeletionStillTakesTheObjectOut) {
  ControllerJob job;
  Scene& scene = job.tracker->GetScene();
  auto* cube = new NHSObject(NHS_TYPE_CUBOID);
  scene.AddChild(cube);
  const int32_t id = cube->GetUID();
  UIDRegistry::Instance().SetSelected(id, true);
  DisplaySettings::Get().undo_memory_limit = 0;
  C().DeleteSelection();
  DisplaySettings::Get().undo_memory_limit = DefaultUndoMemoryLimit();
  EXPECT_EQ(UndoStack::Instance().NumUndo(), 0);
  EXPECT_EQ(FindSceneObject(id), nullptr);  // deleted, not left in the scene
  for (NHSObject* c = scene.GetFirstChild(); c != nullptr; c = c->GetNextSibling()) {
    EXPECT_NE(c->GetUID(), id);
  }
}

TEST(ControllerTest, DeletingAllReferenceLinesIsUndoable) {
  ControllerJob job;
  GroupViewer viewer;
  NotificationRecorder rec;
  C().DeleteAllReferenceLines();
  EXPECT_TRUE(job.tracker->GetVertexObjectPool().GetLineStrips().empty());
  EXPECT_EQ(rec.names, (Names{"pool", "need-save"}));
  EXPECT_TRUE(C().IsModified());
  UndoLastCommand();
  EXPECT_EQ(job.tracker->GetVertexObjectPool().GetLineStrips().size(), 1u);
}

TEST(ControllerTest, SequenceChangesAreAnnounced) {
  ControllerJob job;
  GroupViewer viewer;
  NotificationRecorder rec;
  SequenceProperty p = C().GetSequenceProperty();
  C().SetSequenceProperty(p);  // nothing changes: no sequence notification
  EXPECT_EQ(std::count(rec.names.begin(), rec.names.end(), "sequence"), 0);
  p.m_frame_rate = p.m_frame_rate + 5.0;
  C().SetSequenceProperty(p);
  EXPECT_EQ(std::count(rec.names.begin(), rec.names.end(), "sequence"), 1);

  rec.names.clear();
  EXPECT_EQ(C().SetSequence(kxtest::WritePgmFrames(job.dir, 3, 8, 6)), 0);
  EXPECT_EQ(rec.names, (Names{"need-save", "sequence", "pool", "sequence"}));
  EXPECT_EQ(C().GetNumberOfImages(), 3);
  EXPECT_EQ(viewer.GetFImage(), job.tracker->GetImageList()[0].Get());
}

}  // namespace
}  // namespace uic
