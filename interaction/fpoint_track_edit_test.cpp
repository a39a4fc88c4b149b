#include "interaction/fpoint_track_edit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "interaction/meta_ctracker.h"
#include "interaction/tracker_job_for_test.h"
#include "interaction/undo_commands.h"
#include "interaction/undo_stack.h"
#include "testing/log_capture.h"
#include "tracking/maps/feature_map.h"
#include "tracking/maps/feature_map_move.h"

namespace uic {
namespace {

using kxtest::LogCapture;
using kxtest::TempDir;
using kxtest::TrackerJob;
using Track = std::vector<SharedPtr<FeaturePoint2D>>;

// n frames of size w x h; frame 0 holds a bright square [40, 80) x [40, 80) on dark
// ground (when it fits), the others are flat.
struct EditJob {
  explicit EditJob(int n = 10, int w = 128, int h = 128) {
    auto list = SharedPtr<PackedStringList>::Make();
    for (int k = 0; k < n; ++k) {
      std::string pixels(size_t(w * h), char(20));
      if (k == 0 && w >= 80 && h >= 80) {
        for (int y = 40; y < 80; ++y) {
          for (int x = 40; x < 80; ++x) pixels[size_t(y * w + x)] = char(220);
        }
      }
      const std::string path = dir.File("f" + std::to_string(1000 + k) + ".pgm");
      kxtest::WriteFile(path,
                        "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n" + pixels);
      list->Append(path.c_str(), k);
    }
    ClearUndoStack();
    EXPECT_EQ(tracker.SetSequence(list), 0);
    edit.SetMetaCTracker(&tracker);
  }
  ~EditJob() { ClearUndoStack(); }
  FeatureImage* Image(int k) { return tracker.GetImageList()[size_t(k)].Get(); }
  // The track through the feature of frame k's feature list at index i.
  Track TrackOf(int k, size_t i = 0) { return CollectFeatureTrack(Image(k)->GetFPoints2D()[i]); }

  TempDir dir;
  MetaCTracker tracker;
  FPointTrackEdit edit;
};

TEST(FPointTrackEditTest, SnapsOnlyStrictlyWithinTheRadius) {
  EditJob job;
  ASSERT_GT(job.edit.UpdateFoerstnerFeatures(job.Image(0)), 0);
  EXPECT_EQ(job.edit.GetCachedImageIndex(), 0);
  // The corner nearest the square's top left.
  const FeaturePoint2D* corner = nullptr;
  for (const auto& c : job.edit.GetCorners()) {
    if (corner == nullptr || (*c - vm::Vector2{40, 40}).SquaredLength() <
                                 (*corner - vm::Vector2{40, 40}).SquaredLength()) {
      corner = c.Get();
    }
  }
  ASSERT_NE(corner, nullptr);
  ASSERT_LT((*corner - vm::Vector2{40, 40}).SquaredLength(), 9.0);
  const double cx = corner->x, cy = corner->y;
  // Straight left of it: every other corner is farther.
  FeaturePoint2D near(job.Image(0), cx - 24.9, cy);
  EXPECT_TRUE(job.edit.RefineFPoint2D(&near));
  EXPECT_EQ(near.x, cx);
  EXPECT_EQ(near.y, cy);
  FeaturePoint2D off(job.Image(0), cx - 25.0, cy);
  ASSERT_GE((off - *corner).SquaredLength(), 625.0);
  EXPECT_FALSE(job.edit.RefineFPoint2D(&off));
  EXPECT_EQ(off.x, cx - 25.0);

  LogCapture log(5);
  EXPECT_FALSE(job.edit.RefineFPoint2D(nullptr));
  FeaturePoint2D orphan;
  EXPECT_FALSE(job.edit.RefineFPoint2D(&orphan));
  EXPECT_EQ(job.edit.UpdateFoerstnerFeatures(nullptr), 0);
  EXPECT_TRUE(job.edit.GetCorners().empty());
  EXPECT_TRUE(log.Has("FPointTrackEdit::RefineFPoint2D: 2D feature null"));
  EXPECT_TRUE(log.Has("FPointTrackEdit::RefineFPoint2D: image of 2D feature null"));
  EXPECT_TRUE(log.Has("FPointTrackEdit::UpdateFoerstnerFeatures: image null"));
}

TEST(FPointTrackEditTest, APlacedFeatureSnapsWhenRefineIsOn) {
  EditJob job;
  job.edit.SetFlags(FPointTrackEdit::kRefine);
  job.edit.AddFPoint2D(30.0, 41.0, job.Image(0), &job.tracker);
  ASSERT_EQ(job.Image(0)->GetFPoints2D().size(), 1u);
  const FeaturePoint2D& f = *job.Image(0)->GetFPoints2D()[0];
  EXPECT_LT((f - vm::Vector2{40, 40}).Length(), 3.0);
}

TEST(FPointTrackEditTest, SingleFeaturesAndAnchors) {
  EditJob job;
  job.edit.AddFPoint2D(5.0, 6.0, job.Image(3), &job.tracker);
  job.edit.SetCreationMode(FPointTrackEdit::eSingleAnchor);
  job.edit.AddFPoint2D(7.0, 8.0, job.Image(3), &job.tracker);
  ASSERT_EQ(job.Image(3)->GetFPoints2D().size(), 1u);
  ASSERT_EQ(job.Image(3)->GetAnchors().size(), 1u);
  EXPECT_EQ(job.Image(3)->GetFPoints2D()[0]->GetFlags(), 0x38u);
  EXPECT_EQ(job.Image(3)->GetAnchors()[0]->GetFlags(), 0x78u);
  EXPECT_EQ(job.Image(3)->GetAnchors()[0]->x, 7.0);

  LogCapture log(5);
  job.edit.SetCreationMode(7);
  job.edit.AddFPoint2D(1, 1, job.Image(3), &job.tracker);
  job.edit.AddFPoint2D(1, 1, nullptr, &job.tracker);
  job.edit.AddFPoint2D(1, 1, job.Image(3), nullptr);
  EXPECT_TRUE(log.Has("FPointTrackEdit::AddFPoint2D: unkown creation mode 7"));
  EXPECT_TRUE(log.Has("FPointTrackEdit::AddFPoint2D: image not set"));
  EXPECT_TRUE(log.Has("FPointTrackEdit::AddFPoint2D: tracking manager not set"));
  EXPECT_EQ(job.Image(3)->GetFPoints2D().size(), 1u);
}

TEST(FPointTrackEditTest, ATrackIsKeyedAtTheClickedFrameAndFollowsItsKey) {
  EditJob job;
  job.edit.SetCreationMode(FPointTrackEdit::eTrack);
  job.edit.AddFPoint2D(50.0, 60.0, job.Image(4), &job.tracker);
  const Track track = job.TrackOf(0);
  ASSERT_EQ(track.size(), 10u);
  for (int k = 0; k < 10; ++k) {
    const FeaturePoint2D& f = *track[size_t(k)];
    EXPECT_EQ(f.GetImage(), job.Image(k));
    EXPECT_EQ(f.GetFlags(), k == 4 ? 0x18u : 0x08u) << k;
    EXPECT_EQ(f.x, 50.0);
    EXPECT_EQ(f.y, 60.0);
    if (k > 0) {
      EXPECT_EQ(f.GetPredecessor()->GetFlags(), FCORR_FLAGS_USER_LINK);
    }
  }
  track[4]->x += 3.0;
  track[4]->y -= 2.0;
  EXPECT_EQ(job.edit.UpdateTrackInterpolation(track[7].Get(), false), 0);
  for (const auto& f : track) {
    EXPECT_EQ(f->x, 53.0);
    EXPECT_EQ(f->y, 58.0);
  }
}

TEST(FPointTrackEditTest, TwoDimensionalInterpolationIsLinearBetweenKeysAndHeldOutside) {
  EditJob job;
  job.edit.SetCreationMode(FPointTrackEdit::eTrack);
  job.edit.AddFPoint2D(0.0, 0.0, job.Image(2), &job.tracker);
  const Track track = job.TrackOf(0);
  track[6]->SetFlags(FP2D_FLAG_KEY_FEATURE);
  track[2]->x = 10.0;
  track[2]->y = 20.0;
  track[6]->x = 30.0;
  track[6]->y = 0.0;
  ASSERT_EQ(update_feature_track_interpolation(track, false), 0);
  const double want_x[10] = {10, 10, 10, 15, 20, 25, 30, 30, 30, 30};
  const double want_y[10] = {20, 20, 20, 15, 10, 5, 0, 0, 0, 0};
  for (size_t k = 0; k < 10; ++k) {
    EXPECT_DOUBLE_EQ(track[k]->x, want_x[k]) << k;
    EXPECT_DOUBLE_EQ(track[k]->y, want_y[k]) << k;
  }

  LogCapture log(5);
  track[2]->ClearFlags(FP2D_FLAG_KEY_FEATURE);
  track[6]->ClearFlags(FP2D_FLAG_KEY_FEATURE);
  EXPECT_EQ(update_feature_track_interpolation(track, false), -1);
  EXPECT_EQ(update_feature_track_interpolation({}, false), -1);
  EXPECT_TRUE(log.Has("no key feature point found"));
  EXPECT_TRUE(log.Has("empty feature point list of image of first feature not set"));
}

TEST(FPointTrackEditTest, TrackCreationRefusesBadRanges) {
  struct Case {
    int start, end, step;
    const char* message;
  } cases[] = {
      {0, 9, 0, "frame step <= 0 (0) not supported"},
      {6, 2, 1, "start > end (6, > 2) not supported"},
      {3, 3, 1, "no. of images (1) < 2"},
      {0, 9, 10, "no. of images (1) < 2"},
  };
  for (const Case& c : cases) {
    EditJob job(10, 16, 16);
    job.edit.SetCreationMode(FPointTrackEdit::eTrack);
    job.tracker.SetFrameRange(c.start, c.end, c.step);
    LogCapture log(5);
    job.edit.AddFPoint2D(1.0, 1.0, job.Image(3), &job.tracker);
    EXPECT_TRUE(log.Has(c.message)) << c.message;
    for (int k = 0; k < 10; ++k) EXPECT_TRUE(job.Image(k)->GetFPoints2D().empty());
  }
}

TEST(FPointTrackEditTest, AFrameWithoutImageIsSkipped) {
  EditJob job(5, 16, 16);
  SharedPtr<FeatureImage> kept = job.tracker.GetImageList()[2];
  job.tracker.GetImageList()[2] = SharedPtr<FeatureImage>();
  job.edit.SetCreationMode(FPointTrackEdit::eTrack);
  LogCapture log(5);
  job.edit.AddFPoint2D(3.0, 4.0, job.Image(1), &job.tracker);
  EXPECT_TRUE(log.Has("no image for frame 2, skipped"));
  const Track track = job.TrackOf(0);
  ASSERT_EQ(track.size(), 4u);
  EXPECT_EQ(track[2]->GetImage(), job.Image(3));
  job.tracker.GetImageList()[2] = kept;
}

// ---- 3D interpolation: cameras 100 mm apart along x looking down +z at a point.

void SpreadCameras(MetaCTracker& tracker) {
  for (size_t k = 0; k < tracker.GetImageList().size(); ++k) {
    Matrix4x4 shift{{1, 0, 0, 100.0 * double(k), 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
    tracker.GetImageList()[k]->Transform(shift);
  }
}

TEST(FPointTrackEditTest, ALocatorTrackIsTriangulatedFromItsKeys) {
  EditJob job(5, 64, 64);
  SpreadCameras(job.tracker);
  const vm::Vector3 X{150.0, -20.0, 3000.0};
  job.edit.SetCreationMode(FPointTrackEdit::eAnchorTrack);
  job.edit.AddFPoint2D(0.0, 0.0, job.Image(1), &job.tracker);
  Track track = CollectFeatureTrack(job.Image(0)->GetAnchors()[0]);
  ASSERT_EQ(track.size(), 5u);
  EXPECT_EQ(track[1]->GetPredecessor()->GetFlags(), 0u);
  EXPECT_EQ(track[1]->GetFlags(), 0x58u);
  track[3]->SetFlags(FP2D_FLAG_KEY_FEATURE);
  for (size_t k : {1, 3}) {
    double depth;
    ASSERT_TRUE(track[k]->GetImage()->ProjectPoint(X, track[k]->x, track[k]->y, depth, false));
  }
  const size_t points_before = job.tracker.GetFeatureMap()->GetFPoint3DList().size();
  ASSERT_EQ(update_feature_track_interpolation(track, true), 0);
  const SharedPtr<FeaturePoint3D>& p = track[0]->GetFPoint3D();
  ASSERT_TRUE(p);
  EXPECT_NEAR((vm::Vector3(*p) - X).Length(), 0.0, 1e-6);
  EXPECT_EQ(p->GetCS(), FeaturePoint3D::eCartesian);
  EXPECT_TRUE(p->TestFlags(FP3D_FLAG_LOCATOR));
  EXPECT_EQ(job.tracker.GetFeatureMap()->GetFPoint3DList().size(), points_before + 1);
  for (size_t k = 0; k < 5; ++k) {
    EXPECT_EQ(track[k]->GetFPoint3D(), p);
    double x, y, depth;
    track[k]->GetImage()->ProjectPoint(X, x, y, depth, false);
    EXPECT_NEAR(track[k]->x, x, 1e-6) << k;
    EXPECT_NEAR(track[k]->y, y, 1e-6) << k;
  }
  // Again: the same point moves (flag 8), no new point.
  ASSERT_EQ(update_feature_track_interpolation(track, true), 0);
  EXPECT_TRUE(p->TestFlags(FP3D_FLAG_INTERPOLATED));
  EXPECT_EQ(job.tracker.GetFeatureMap()->GetFPoint3DList().size(), points_before + 1);
}

TEST(FPointTrackEditTest, AFailedTriangulationChangesNothing) {
  EditJob job(3, 64, 64);  // every camera at the same place: rays never cross
  job.edit.SetCreationMode(FPointTrackEdit::eTrack);
  job.edit.AddFPoint2D(10.0, 10.0, job.Image(0), &job.tracker);
  Track track = job.TrackOf(0);
  track[2]->SetFlags(FP2D_FLAG_KEY_FEATURE);
  track[2]->x = 40.0;  // a different direction from the same centre
  track[1]->x = 77.0;
  const size_t points_before = job.tracker.GetFeatureMap()->GetFPoint3DList().size();
  LogCapture log(5);
  EXPECT_EQ(update_feature_track_interpolation(track, true), -1);
  EXPECT_FALSE(track[0]->GetFPoint3D());
  EXPECT_EQ(track[1]->x, 77.0);
  EXPECT_EQ(job.tracker.GetFeatureMap()->GetFPoint3DList().size(), points_before);
}

TEST(FPointTrackEditTest, PureRotationPlacesADirectionPoint) {
  EditJob job(3, 64, 64);
  dynamic_cast<FeatureMapMove&>(*job.tracker.GetFeatureMap()).m_free_move = 0;
  job.edit.SetCreationMode(FPointTrackEdit::eAnchorTrack);
  job.edit.AddFPoint2D(20.0, 30.0, job.Image(0), &job.tracker);
  Track track = CollectFeatureTrack(job.Image(0)->GetAnchors()[0]);
  track[2]->SetFlags(FP2D_FLAG_KEY_FEATURE);
  track[1]->x = 5.0;  // not a key: moves back onto the direction
  ASSERT_EQ(update_feature_track_interpolation(track, true), 0);
  ASSERT_TRUE(track[0]->GetFPoint3D());
  EXPECT_EQ(track[0]->GetFPoint3D()->GetCS(), FeaturePoint3D::eSpherical);
  EXPECT_NEAR(track[1]->x, 20.0, 1e-6);
  EXPECT_NEAR(track[1]->y, 30.0, 1e-6);
}

// ---- removal

// Every image's lists and every feature's links, to compare states exactly.
struct TrackState {
  std::vector<FeatureImage::FeatureList> lists;
  std::vector<const FeatureCorrespondence*> links;
  std::vector<uint32_t> point_flags;
  explicit TrackState(const TrackerJob& job) {
    for (const auto& image : job.tracker.GetImageList()) {
      lists.push_back(image->GetFPoints2D());
      for (const auto& f : image->GetFPoints2D()) {
        links.push_back(f->GetPredecessor().Get());
        links.push_back(f->GetSuccessor().Get());
      }
    }
    for (const auto& p : job.points) point_flags.push_back(p->GetFlags() & ~FP3D_FLAG_SEEN);
  }
  bool operator==(const TrackState&) const = default;
};

TEST(FPointTrackEditTest, EveryRemovalIsUndoneExactly) {
  struct Case {
    int operation;
    int frame;                // of the clicked feature of track 2
    std::vector<int> remain;  // frames of track 2 left
  } cases[] = {
      {FPointTrackEdit::eRemoveBefore, 2, {2, 3}},
      {FPointTrackEdit::eRemoveBefore, 0, {0, 1, 2, 3}},
      {FPointTrackEdit::eRemoveAfter, 1, {0, 1}},
      {FPointTrackEdit::eRemoveAfter, 3, {0, 1, 2, 3}},
      {FPointTrackEdit::eRemoveFeature, 1, {0, 2, 3}},
      {FPointTrackEdit::eRemoveTrack, 2, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "operation " << c.operation << " at " << c.frame);
    TrackerJob job;
    FPointTrackEdit edit;
    edit.SetMetaCTracker(&job.tracker);
    const TrackState before(job);
    const auto& track = job.tracks[2];
    edit.RemoveFeatureTracks({track[size_t(c.frame)]}, c.operation, &job.tracker);
    std::vector<int> remain;
    for (int k = 0; k < TrackerJob::kFrames; ++k) {
      const auto& list = job.tracker.GetImageList()[size_t(k)]->GetFPoints2D();
      if (std::find(list.begin(), list.end(), track[size_t(k)]) != list.end()) remain.push_back(k);
    }
    EXPECT_EQ(remain, c.remain);
    const bool removed = c.remain.size() < size_t(TrackerJob::kFrames);
    EXPECT_EQ(UndoStack::Instance().NumUndo(), removed ? 1 : 0);
    if (!removed) continue;
    const TrackState after(job);
    UndoLastCommand();
    EXPECT_TRUE(TrackState(job) == before);
    RedoLastCommand();
    EXPECT_TRUE(TrackState(job) == after);
    UndoLastCommand();
  }
}

TEST(FPointTrackEditTest, TwoFeaturesOfOneTrackRemoveItOnceAndUnknownOperationsNothing) {
  TrackerJob job;
  FPointTrackEdit edit;
  edit.SetMetaCTracker(&job.tracker);
  const TrackState before(job);
  {
    LogCapture log(5);
    edit.RemoveFeatureTracks({job.tracks[1][0]}, 9, &job.tracker);
    EXPECT_TRUE(log.Has("unknown feature point remove operation 9"));
  }
  EXPECT_TRUE(TrackState(job) == before);
  edit.RemoveFeatureTracks({job.tracks[1][0], job.tracks[1][3]}, FPointTrackEdit::eRemoveTrack,
                           &job.tracker);
  EXPECT_EQ(UndoStack::Instance().GetSize(), 32 + 8 * TrackerJob::kFrames);
  UndoLastCommand();
  EXPECT_TRUE(TrackState(job) == before);

  LogCapture log(5);
  FPointTrackEdit no_undo;
  no_undo.RemoveFeatureTracks({job.tracks[0][0]}, FPointTrackEdit::eRemoveTrack, &job.tracker);
  EXPECT_TRUE(log.Has("MetaCTracker not set, no undo"));
  EXPECT_TRUE(job.tracker.GetImageList()[0]->GetFPoints2D().size() == 5u);
}

// ---- merging broken tracks

struct MergeJob : TrackerJob {
  MergeJob() {
    // Track 0 ends after frame 1; its rest becomes a track of its own.
    UnlinkFromTrack(tracks[0][1]);
    kxtest::Link(tracks[0][0], tracks[0][1], 0x61);
    auto other = SharedPtr<FeaturePoint3D>::Make(9.0, 9.0, 9.0, FeaturePoint3D::eCartesian);
    tracker.GetFeatureMap()->AddFPoint3D(other);
    tracks[0][2]->SetFPoint3D(other);
    tracks[0][3]->SetFPoint3D(other);
    second_point = other;
  }
  BrokenTrackCandidate Candidate() const {
    return {tracks[0][0], tracks[0][1], tracks[0][2], tracks[0][3], false};
  }
  SharedPtr<FeaturePoint3D> second_point;
};

TEST(BrokenTrackEditTest, MergesOnlyATrackThatStartsAfterTheFirstEnds) {
  MergeJob job;
  FPointTrackEdit edit;
  const BrokenTrackCandidate forward = job.Candidate();
  BrokenTrackCandidate overlapping = forward;
  overlapping.a2 = job.tracks[1][1];  // a second track starting inside the first
  BrokenTrackCandidate before = forward;
  std::swap(before.a1, before.a2);  // the second track entirely before the first
  std::swap(before.b1, before.b2);
  edit.GetCandidates() = {overlapping, before};
  LogCapture log(5);
  edit.MergeAllBrokenFeatureTracks();
  EXPECT_TRUE(log.Has("Merge failed, Tracks can not be merged because they are overlapping"));
  EXPECT_FALSE(job.tracks[0][1]->GetSuccessor());
  EXPECT_FALSE(job.tracks[0][3]->GetSuccessor());
  EXPECT_FALSE(edit.GetCandidates()[0].merged);
}

TEST(BrokenTrackEditTest, TheLongerTracksPointIsKept) {
  MergeJob job;
  // The second track is longer in the image: its point wins.
  job.tracks[0][3]->x += 50.0;
  FPointTrackEdit edit;
  edit.GetCandidates() = {job.Candidate()};
  edit.SetCurrentCandidate(0);
  edit.MergeBrokenFeatureTracks();
  ASSERT_TRUE(job.tracks[0][1]->GetSuccessor());
  EXPECT_EQ(job.tracks[0][1]->GetSuccessor()->GetSecond(), job.tracks[0][2]);
  EXPECT_EQ(job.tracks[0][2]->GetPredecessor(), job.tracks[0][1]->GetSuccessor());
  EXPECT_EQ(job.tracks[0][1]->GetSuccessor()->GetFlags(), FCORR_SUPPORT_TRUE);
  EXPECT_TRUE(job.points[0]->TestFlags(FP3D_FLAG_REMOVED));
  EXPECT_FALSE(job.second_point->TestFlags(FP3D_FLAG_REMOVED));
  for (const auto& f : job.tracks[0]) EXPECT_EQ(f->GetFPoint3D(), job.second_point);
  EXPECT_TRUE(edit.GetCandidates()[0].merged);
}

TEST(BrokenTrackEditTest, TracksSharingAPointAreLinkedOnly) {
  MergeJob job;
  job.tracks[0][2]->SetFPoint3D(job.points[0]);
  job.tracks[0][3]->SetFPoint3D(job.points[0]);
  FPointTrackEdit edit;
  edit.GetCandidates() = {job.Candidate()};
  edit.SetCurrentCandidate(0);
  LogCapture log(5);
  edit.MergeBrokenFeatureTracks();
  EXPECT_TRUE(log.Has("Merge failed, Tracks are already merged"));
  EXPECT_TRUE(job.tracks[0][1]->GetSuccessor());
  EXPECT_FALSE(job.points[0]->TestFlags(FP3D_FLAG_REMOVED));
}

}  // namespace
}  // namespace uic
