// Test helper: a tracker with a small job on disk: grey PGM frames in a private folder,
// taken through SetSequence, feature tracks over every frame linked to map points (one a
// user point, one removed), a polygon mask and a line strip.
#pragma once

#include <string>
#include <vector>

#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "image/packed_string_list.h"
#include "interaction/meta_ctracker.h"
#include "interaction/undo_stack.h"
#include "testing/temp_dir.h"
#include "tracking/maps/feature_map.h"
#include "tracking/objects/vertex_object_pool.h"
#include "tracking/storage/project_job_for_test.h"

namespace kxtest {

// n frames of width x height named img0000.pgm, ... in dir.
inline SharedPtr<PackedStringList> WritePgmFrames(const TempDir& dir, int n, int width,
                                                  int height) {
  auto list = SharedPtr<PackedStringList>::Make();
  for (int k = 0; k < n; ++k) {
    const std::string path = dir.File("img000" + std::to_string(k) + ".pgm");
    WriteFile(path, "P5\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n" +
                        std::string(size_t(width * height), char(30 * k + 10)));
    list->Append(path.c_str(), k);
  }
  return list;
}

// Gives tracker the job described above: kFrames frames through SetSequence, kTracks
// tracks linked to one map point each (track 1's a user point, track 4's removed), a mask
// and a line strip. tracks[t][k]: the feature of track t in frame k.
struct TrackerJobData {
  static constexpr int kFrames = 4;
  static constexpr int kTracks = 6;

  std::vector<SharedPtr<FeaturePoint3D>> points;
  std::vector<std::vector<SharedPtr<FeaturePoint2D>>> tracks;

  void Fill(uic::MetaCTracker& tracker, const TempDir& dir, int width, int height) {
    ClearUndoStack();
    EXPECT_EQ(tracker.SetSequence(WritePgmFrames(dir, kFrames, width, height)), 0);
    FeatureMap& map = *tracker.GetFeatureMap();
    for (int t = 0; t < kTracks; ++t) {
      auto p =
          SharedPtr<FeaturePoint3D>::Make(t * 0.5, 1.0 - t, 4.0 + t, FeaturePoint3D::eCartesian);
      if (t == 1) p->SetFlags(FP3D_FLAG_LOCATOR);
      if (t == 4) p->SetFlags(FP3D_FLAG_REMOVED);
      map.AddFPoint3D(p);
      points.push_back(p);
      std::vector<SharedPtr<FeaturePoint2D>> track;
      for (int k = 0; k < kFrames; ++k) {
        FeatureImage& image = *tracker.GetImageList()[size_t(k)];
        auto f = SharedPtr<FeaturePoint2D>::Make(&image, 1.0 + t + 0.25 * k, 2.0 + k);
        f->SetFPoint3D(p);
        image.AddFPoint2D(f);
        if (k > 0) Link(track.back(), f, 0x61);
        track.push_back(f);
      }
      tracks.push_back(track);
    }
    VertexObjectPool& pool = tracker.GetVertexObjectPool();
    std::vector<Vertex> vertices(4);
    for (int i = 0; i < 4; ++i) vertices[size_t(i)].SetKey(0, {1.0 + i, 2.0 * i, 0.0});
    pool.AddPolygonMask(kFrames, vertices, 1)->SetName("mask");
    vertices.resize(2);
    pool.AddLineStrip(vertices, 2, 0, kFrames - 1);
  }
};

struct TrackerJob : TrackerJobData {
  TempDir dir;
  uic::MetaCTracker tracker;

  explicit TrackerJob(int width = 16, int height = 12) { Fill(tracker, dir, width, height); }
  ~TrackerJob() { ClearUndoStack(); }
};

}  // namespace kxtest
