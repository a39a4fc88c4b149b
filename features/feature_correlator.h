// FeatureCorrelator: the interface of every 2D tracker. A correlator is given two feature
// images, the first (whose features are known) and the second (the next frame in the
// tracking direction); Compute finds the first image's features again in the second,
// creates the new FeaturePoint2D objects there, links each old feature to its new one by a
// FeatureCorrespondence and keeps the links it made in its correspondence list.
//
// Per frame step the engine calls SetCamera, SetFeatureImages, Compute, then the getters.
// SetSharedBuffer and the implementation's parameter setter are called between steps.
//
// The mode flags are the BitMask word: kModeReverse (the second image precedes the first
// in frame order) and kModeTagged (only user-tagged features are tracked). They are 0
// after construction and after Reset, and are set by the interaction layer right after a
// Reset.
//
// The correspondence list shares its links with the features: links and features form
// reference cycles that the features' owners break by unlinking (UnlinkFromTrack).
//
// One thread uses a correlator at a time; it spreads its own work over the WorkerPool and
// returns only when all of it is done.
#pragma once

#include <cstdint>
#include <vector>

#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/runtime/worker_pool.h"
#include "foundation/tracks/bit_mask.h"
#include "foundation/tracks/feature_correspondence.h"

class FeatureImage;

using t_ListFCorr = std::vector<SharedPtr<FeatureCorrespondence>>;

// The job queue the component pool hands to a correlator when the worker pool has two or
// more threads: an array of `capacity` job pointers (3 x the thread count) of which the
// first `count` are queued. A correlator appends while count < capacity, runs the whole
// array with WorkerPool::ParallelFor (RunJobItem) when it is full and once more at the
// end, and leaves count at 0. The array is deleted with the last reference.
struct SharedWorkBuffer {
  // capacity <= 0 gives an empty buffer (no array).
  explicit SharedWorkBuffer(int32_t capacity);
  ~SharedWorkBuffer();
  SharedWorkBuffer(const SharedWorkBuffer&) = delete;
  SharedWorkBuffer& operator=(const SharedWorkBuffer&) = delete;

  js::Job** jobs = nullptr;
  int32_t capacity = 0;
  int32_t count = 0;
};

class FeatureCorrelator : public BitMask {
 public:
  // Mode flag bits.
  static constexpr uint32_t kModeReverse = 0x1;
  static constexpr uint32_t kModeTagged = 0x2;

  // Mode flags 0, no images, no correspondences, a default camera, no shared buffer.
  FeatureCorrelator();
  // Releases the correspondences (without unlinking them from the features) and the
  // shared buffer.
  virtual ~FeatureCorrelator();
  FeatureCorrelator(const FeatureCorrelator&) = delete;
  FeatureCorrelator& operator=(const FeatureCorrelator&) = delete;

  // Clears the correspondence list (without unlinking) and the mode flags.
  virtual void Reset();
  // Tracks the first image's features into the second; returns the number of
  // correspondences made. 0 when an image is missing.
  virtual int32_t Compute() = 0;
  // A new correlator of the same kind and parameters, or an empty handle for kinds that
  // cannot be cloned.
  virtual SharedPtr<FeatureCorrelator> Clone() = 0;
  // Holds `buffer` (null: run every job on the calling thread) and releases the previous
  // one; passing the held buffer keeps its count.
  virtual void SetSharedBuffer(SharedPtr<SharedWorkBuffer> buffer);
  // Counters of the last Compute; the base has none (0, 0, 0.0).
  virtual uint32_t GetLostCount() const;
  virtual int32_t GetCorrespondenceCount() const;
  virtual double GetLostRatio() const;
  // Hooks called at the end of SetFeatureImages and SetCamera; the base does nothing.
  virtual void OnNewFeatureImages();
  virtual void OnNewCamera();

  // Stores both pointers (not owned; the same image twice is valid). A null image is
  // logged at level 2 and the result is false; the pointers are stored in any case and
  // OnNewFeatureImages runs.
  bool SetFeatureImages(FeatureImage* first, FeatureImage* second);
  FeatureImage* GetFirstImage() const { return first_image_; }
  FeatureImage* GetSecondImage() const { return second_image_; }

  // Copies the camera (pose, intrinsics, distortion and name; a derived object such as a
  // feature image contributes its camera part), then calls OnNewCamera.
  void SetCamera(const PerspectiveCamera& camera);
  const PerspectiveCamera& GetCamera() const { return camera_; }

  // The correspondences made by the last Compute.
  const t_ListFCorr& GetCorrespondences() const { return correspondences_; }

  const SharedPtr<SharedWorkBuffer>& GetSharedBuffer() const { return shared_buffer_; }

 protected:
  FeatureImage* first_image_ = nullptr;
  FeatureImage* second_image_ = nullptr;
  t_ListFCorr correspondences_;
  PerspectiveCamera camera_;
  SharedPtr<SharedWorkBuffer> shared_buffer_;
};
