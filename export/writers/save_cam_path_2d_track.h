// The 2D track writers: the image positions of one feature's track for compositing
// programs, After Effects keyframe text (SaveCamPathAfterEffects2D) and a Silhouette
// tracker file (SaveCamPathSilhouette).
//
// Save2DTrack(feature) walks from the feature back to the first feature of its track and
// writes the whole track forward from there, one line per feature. Frames count the
// track's features from 0, whatever their image indices: the keys start where the user
// places them. The frame rate is the writer's (SetFramesPerSecond, 25 until set): After
// Effects times the keys with it, Silhouette only names the tracker with it. The first
// data line of each format is separated differently from the following ones, as the
// importers expect. Numbers in the stream's default form (six significant digits),
// classic locale. Export (the camera path) writes nothing and returns true.
#pragma once

#include <fstream>
#include <vector>

#include "export/save_cam_path.h"

// What the two writers share: the walk along the track and the file handling.
class SaveCamPath2DTrack : public SaveCamPath {
 public:
  using SaveCamPath::SaveCamPath;

  bool Export(const CameraList& cameras, const PointList& points) override;
  // False with a level-2 log for a null feature, a track whose first feature has no image,
  // a file that cannot be created or a write that fails. A track whose links come back to a feature
  // already written ends there.
  bool Export2DTrack(const SharedPtr<FeaturePoint2D>& feature) override;

  // The features of the track of feature, from its first to its last.
  static std::vector<const FeaturePoint2D*> CollectTrack(const FeaturePoint2D& feature);

 protected:
  // The writer's class name for its log lines.
  virtual const char* Name() const = 0;
  // The whole file for a track of at least one feature, the first with an image.
  virtual void Write(std::ofstream& out, const std::vector<const FeaturePoint2D*>& track) = 0;
};

class SaveCamPathAfterEffects2D : public SaveCamPath2DTrack {
 public:
  using SaveCamPath2DTrack::SaveCamPath2DTrack;

 protected:
  const char* Name() const override { return "SaveCamPathAfterEffects2D"; }
  // The keyframe header with the frame rate and the first feature's image size and pixel
  // aspect, then "frame x y 0" lines.
  void Write(std::ofstream& out, const std::vector<const FeaturePoint2D*>& track) override;
};

class SaveCamPathSilhouette : public SaveCamPath2DTrack {
 public:
  using SaveCamPath2DTrack::SaveCamPath2DTrack;

 protected:
  const char* Name() const override { return "SaveCamPathSilhouette"; }
  // One tracker "Tracker<fps>" in green, luminance mode, 7 x 7 match and search sizes,
  // then "frame x y 0 0 0 0" lines.
  void Write(std::ofstream& out, const std::vector<const FeaturePoint2D*>& track) override;
};
