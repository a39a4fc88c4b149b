// FeatureImage: one frame of a tracking job. It is the frame's camera (a PerspectiveCamera
// that the solver estimates) together with the frame's file name and indices, the 2D
// features measured in it, the anchors placed with the locator tool, and access to the
// frame's luminance picture through the job's image cache.
//
// The tracking manager owns one image per frame (through SharedPtr) and is reached through
// the FeatureImageOwner interface. The image owns the handles of its features and anchors;
// features and correspondences form reference cycles, so every operation that drops a
// feature first unlinks it from its track (UnlinkFromTrack), and so does destruction.
//
// Project files: RestoreObject (from DataBase) reads an "FImage" object: "FP2D" (a feature,
// or an anchor when its flags have FP2D_FLAG_ANCHOR), "Filename", "FileIndex", "Index",
// "Flgs"; every other field goes to the camera's handler.
//
// Threads: the GUI and the tracking thread use an image, never at the same time for the
// same list. Worker jobs may read the luminance picture; appending to the lists happens on
// the calling thread. Failures are log messages (level 2) with a stated result; nothing
// throws except the project reader's format errors.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "features/picture.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/project/data_base.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/bit_mask.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"
#include "foundation/tracks/feature_point.h"
#include "image/image_cache.h"

// What an image needs of the tracking job that owns it. The tracking manager implements it.
class FeatureImageOwner {
 public:
  // The job's frame cache (may be null while the job has none).
  virtual ImageCache* GetImageCache() = 0;

 protected:
  ~FeatureImageOwner() = default;
};

class FeatureImage : public PerspectiveCamera,
                     public BitMask,
                     public DataBase,
                     public SharedBlockMarker {
 public:
  using FeatureList = std::vector<SharedPtr<FeaturePoint2D>>;

  // Number of per-frame statistics slots (see GetStatistic).
  static constexpr int kStatisticCount = 8;

  // A default camera, empty texts and lists, indices -1, flags 0, no frame, no match
  // camera, statistics -1. owner may be null.
  FeatureImage();
  explicit FeatureImage(FeatureImageOwner* owner);
  // Unlinks and drops the features, then the anchors, then the match camera and the frame.
  ~FeatureImage() override;
  FeatureImage(const FeatureImage&) = delete;
  FeatureImage& operator=(const FeatureImage&) = delete;

  // ---- names and indices
  // Stores the image file name (level 4 log); null is logged (level 2) and changes nothing.
  void SetFileName(const char* name);
  const char* GetFileName() const { return file_name_.c_str(); }
  // The default target of SaveFPoints.
  void SetFPointFileName(const char* name) { fpoint_file_name_ = name ? name : ""; }
  const char* GetFPointFileName() const { return fpoint_file_name_.c_str(); }
  // A further file name the tracking engine keeps with the frame; empty at construction.
  void SetAuxFileName(const char* name) { aux_file_name_ = name ? name : ""; }
  const char* GetAuxFileName() const { return aux_file_name_.c_str(); }
  // The frame index in the sequence ("Index") and the index of the frame's file
  // ("FileIndex"); -1 when unknown.
  int32_t GetImageIndex() const { return image_index_; }
  void SetImageIndex(int32_t index) { image_index_ = index; }
  int32_t GetFileIndex() const { return file_index_; }
  void SetFileIndex(int32_t index) { file_index_ = index; }

  // ---- owner and frame
  // The owner; null is logged (level 2).
  FeatureImageOwner* GetCTrackMgr() const;
  // The owner without the report: null when there is none.
  FeatureImageOwner* GetOwner() const { return owner_; }
  // The owner's cached frame of this image's index; empty without an owner or cache.
  SharedPtr<ImageCacheEntry> GetCacheEntry() const;
  // The frame's full-size luminance as a one-band picture viewing the cached frame (which
  // the image holds until ReleaseLumPicture), or null when there is no frame (level 2
  // log). The picture is not owned by the caller and must not be used after
  // ReleaseLumPicture, a later failed GetLumPicture or destruction.
  CPicture<uint8_t>* GetLumPicture();
  // Drops the held frame; the picture becomes empty.
  void ReleaseLumPicture();

  // ---- match camera (the matching stage's snapshot of this frame's camera)
  // Null before InitMatchCamera.
  PerspectiveCamera* GetMatchCamera() const { return match_camera_.get(); }
  // Creates the match camera once, as a full copy of camera (distortion included); later
  // calls do nothing.
  void InitMatchCamera(const PerspectiveCamera& camera);

  // ---- features and anchors
  const FeatureList& GetFPoints2D() const { return features_; }
  FeatureList& GetFPoints2D() { return features_; }
  const FeatureList& GetAnchors() const { return anchors_; }
  FeatureList& GetAnchors() { return anchors_; }
  // Append; return the new count.
  size_t AddFPoint2D(const SharedPtr<FeaturePoint2D>& feature);
  size_t AddAnchor(const SharedPtr<FeaturePoint2D>& anchor);
  // Removes the same feature (pointer equality) from the features, else from the anchors:
  // unlinks it from its track, flags its 3D point FP3D_FLAG_REMOVED (the feature keeps
  // its link) and erases it, keeping the others' order. False when it is in neither list.
  bool RemoveFPoint2D(const SharedPtr<FeaturePoint2D>& feature);
  // Unlink every feature (anchor) from its track, then empty the list; 3D points unmarked.
  void ClearFPoints2D();
  void ClearAnchors();
  // Removes (unlinked) the features with FP2D_FLAG_MANUAL when manual is set, else those
  // without it; the others keep their order. Anchors and 3D points are untouched.
  void ClearManualOrAutoFPoints2D(bool manual);
  // Features (not anchors) with a predecessor (predecessor set) or a successor link.
  int CountCorrespondences(bool predecessor) const;
  // True as soon as n features with the chosen link were seen walking the list; so n = 0
  // is true for any non-empty list and false for an empty one.
  bool HasCorrespondences(bool predecessor, uint32_t n) const;

  // Writes the features as a 2D point file (12 significant digits) to path, or to the
  // stored point file name when path is null or empty. False when both are empty (level 2,
  // no file) or when writing fails.
  bool SaveFPoints(const char* path) const;

  // ---- statistics the feature maps write: slots 0 and 1 the outlier elimination's two
  // counts, slots 6 and 7 the numbers of 3D points and of spherical 3D points of the
  // error measurement; the mean squared reprojection error. All -1 until written.
  int32_t GetStatistic(int slot) const { return statistics_[slot & 7]; }
  void SetStatistic(int slot, int32_t value) { statistics_[slot & 7] = value; }
  double GetMeanSquaredError() const { return mean_squared_error_; }
  void SetMeanSquaredError(double value) { mean_squared_error_ = value; }

  // The project fields of an "FImage" object (see above); serves both bases.
  bool CheckForField(DataBaseIn& in, const char* key) override;

 private:
  std::string file_name_;
  std::string fpoint_file_name_;
  std::string aux_file_name_;
  SharedPtr<ImageCacheEntry> cache_entry_;
  int32_t image_index_ = -1;
  int32_t file_index_ = -1;
  FeatureList features_;
  FeatureList anchors_;
  CPicture<uint8_t> lum_picture_;
  std::unique_ptr<PerspectiveCamera> match_camera_;
  int32_t statistics_[kStatisticCount] = {-1, -1, -1, -1, -1, -1, -1, -1};
  double mean_squared_error_ = -1.0;
  FeatureImageOwner* owner_ = nullptr;
};

class DataBaseOut;
class PositionTable;

// Writes the image as an "FImage" object, the counterpart of its CheckForField:
// "Filename" (the file name without its directory, when not empty), "FileIndex", "Index",
// "Flgs", the camera (WriteCamera), one "FP2D" per non-null feature, then one per
// non-null anchor. points3d: positions of the written 3D points; next_features and
// next_anchors: positions in the next written frame's lists (null for the last frame).
void WriteFeatureImage(DataBaseOut& out, const FeatureImage& image, const PositionTable& points3d,
                       const PositionTable* next_features, const PositionTable* next_anchors);

// The frame index of an image for the track walks (-1 for null).
int32_t FeatureImageFrameIndex(const FeatureImage* image);

// The feature of start's track that lies in frame frame_index (see feature_correspondence.h).
SharedPtr<FeaturePoint2D> FindTrackPointInImage(const SharedPtr<FeaturePoint2D>& start,
                                                int32_t frame_index);
