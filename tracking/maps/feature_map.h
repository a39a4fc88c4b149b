// FeatureMap: the abstract solver map of a tracking run. It holds the frames taken into
// the reconstruction (oldest first, the newest last), the 3D point cloud, and the
// components the per-frame stages use: the correlator (through a template handle), the
// guided matcher, the outlier detector, the camera estimator and the progress observer.
//
// The manager drives a run with Init (first frame of a reconstruction), then per frame
// Match, OutlierElimination and CameraEstimation, and after the last frame
// FinalEstimation and Refinement. Init and Match are shared by every map; the other
// stages belong to the implementations (a camera turning about its centre, free motion).
//
// Ownership: the map holds counted handles to its components, frames and points; the
// observer and the owning manager are not owned. A point's index (FeaturePoint3D Id) is
// its position in the point list.
//
// Threads: the stages run on the tracking thread. The point list is guarded by the map's
// ReadWriteSpinLock: every change of the list itself (append, clear, the 3D view's
// deletion of selected points) holds the write side for the time of the change only,
// and the viewer reads the list under the read side. Code that only changes values of
// points already in the list (subset selection, export marks, scene transforms, which run
// between tracking runs) walks it without the lock.
//
// Failures: Init throws its two precondition texts as const char*; the other operations
// log (level 2) and return false or change nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "features/feature_correlator.h"
#include "features/feature_image.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/project/data_base.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/runtime/spin_lock.h"
#include "foundation/tracks/feature_point.h"
#include "geometry/guided_matching.h"
#include "geometry/outlier_detector.h"
#include "optimise/callback.h"
#include "optimise/camera_estimator.h"

class CameraTrackingManager;

class FeatureMap : public DataBase {
 public:
  using ImageList = std::vector<SharedPtr<FeatureImage>>;
  using PointList = std::vector<SharedPtr<FeaturePoint3D>>;

  // Uninitialised, no components, no frames or points, RMSE -1, 25 frames per second.
  FeatureMap();
  // Empties the frame lists and the points (ClearImages, ClearFPoint3D) and releases the
  // components; the observer and the manager are left alone.
  ~FeatureMap() override;
  FeatureMap(const FeatureMap&) = delete;
  FeatureMap& operator=(const FeatureMap&) = delete;

  // ---- stages
  // Starts a reconstruction with image as its only frame: empties the frames and points,
  // takes a full copy of image's camera as the map camera and hands it to the outlier
  // detector and the estimator as their initial camera. Throws
  // "FeatureMap::Init: no outlier detector has been set" or
  // "FeatureMap::Init: no estimator has been set" (after the same level-2 line), leaving
  // the map empty and uninitialised. A null image: level 2, false, the map empty.
  virtual bool Init(SharedPtr<FeatureImage>& image);
  // Correlates image (the newest frame) with the last frame of the list and appends it:
  // the image's match camera (created once, as a copy of its camera) goes to the outlier
  // detector as reference camera, to the estimator as current camera and to the
  // correlator; the image's camera takes the previous frame's camera, its own distortion
  // kept. Bit FIMAGE_FLAG_SAVE_CORRESPONDENCES with a correspondence file name (the
  // image's aux file name) dumps the correspondences there. With an observer, the image
  // loses flag 8 and the observer hears (1, image index). False, with a level-2 line and
  // nothing changed, when the list is empty, no correlator template is set or image is
  // null.
  virtual bool Match(SharedPtr<FeatureImage>& image);
  virtual bool OutlierElimination() = 0;
  virtual bool CameraEstimation() = 0;
  virtual bool FinalEstimation() = 0;
  virtual bool Refinement() = 0;
  virtual bool IsInitialised() { return m_initialised; }
  // The next frame starts a new reconstruction (Init); frames and points stay until then.
  void ClearInitialised() { m_initialised = false; }
  // Recomputes the map RMSE (pixels) and stores it.
  virtual void GetMSE() = 0;
  // True when a free-motion map could only give its frames rotation-only cameras (the
  // camera's travel unsolved); false for every other result.
  virtual bool RotationOnlyResult() const { return false; }

  // Project field "FP3D": a point (direction point unless its "CS" says otherwise) is
  // restored and appended with AddFPoint3D, so its index is its list position whatever
  // "Id" the file holds. Other fields are unknown here.
  bool CheckForField(DataBaseIn& in, const char* key) override;

  // ---- frames
  // Appends a non-null image; returns the list size.
  int AppendImage(SharedPtr<FeatureImage>& image);
  // Replaces the frame list; returns its size.
  int SetImageList(const ImageList& images);
  // Empties both frame lists and clears the initialised flag.
  void ClearImages();
  // The newest frame, or an empty handle when there is none.
  SharedPtr<FeatureImage> GetCurrentFImage() const;
  const ImageList& GetFImageList() const { return m_fimage_list; }

  // ---- 3D points
  // Sets the point's index to the list size and appends it under the write lock. Null:
  // level-2 "FeatureMap::AddFPoint3D: 3D feature point is null", nothing added.
  void AddFPoint3D(SharedPtr<FeaturePoint3D>& point);
  // Empties the point list under the write lock.
  void ClearFPoint3D();
  // ClearImages, then ClearFPoint3D.
  void Reset();
  // Points without FP3D_FLAG_REMOVED (read under the read lock).
  unsigned CountValidFPoint3D();
  // The point list; read it from another thread only under the read side of
  // GetFPoint3DLock(), and change the list itself only under its write side.
  const PointList& GetFPoint3DList() const { return m_fpoint3d_list; }
  ReadWriteSpinLock& GetFPoint3DLock() { return m_fpoint3d_lock; }

  // Chooses at most n of points into out (emptied first): the n / 2 most precise ones
  // (weight 1 / trace of the covariance, 0 when the trace is not positive; ties keep
  // list order), then the rest by track length, longest first. A track length is
  // measured once per point, at its first feature met walking images in order, as 1 plus
  // the successive forward links whose later feature shows the same point; removed,
  // protected and unseen points are never chosen by track length. Uses and clears
  // FP3D_FLAG_TEMP_MARK; takes no lock. Null points are skipped; n < 0 counts as 0.
  static void SelectFPoint3DSubset(const ImageList& images, const PointList& points, PointList& out,
                                   int n);
  // Excludes every unprotected point from export (FP3D_FLAG_NO_EXPORT) except a subset
  // of at most n chosen by SelectFPoint3DSubset over the map's frames. Protected points
  // are never touched. Takes no lock.
  void MarkFPoint3DExport(int n);

  // ---- components
  // Guided matching is not run by the maps: logs that at level 4 and returns false.
  bool RunGuidedMatcher(int mode);
  void SetCorrelatorTemplate(SharedPtr<FeatureCorrelator> correlator);
  void SetGuidedMatcher(SharedPtr<GuidedMatching> matcher);
  void SetOutlierDetector(SharedPtr<OutlierDetector> detector);
  void SetCameraEstimator(SharedPtr<CameraEstimator> estimator);
  // The observer is not owned; null when nobody watches.
  void SetObserver(Callback* observer) { m_observer = observer; }
  const SharedPtr<FeatureCorrelator>& GetCorrelator() const { return m_correlator; }
  const SharedPtr<FeatureCorrelator>& GetCorrelatorTemplate() const {
    return m_correlator_template;
  }
  const SharedPtr<GuidedMatching>& GetGuidedMatcher() const { return m_guided_matcher; }
  const SharedPtr<OutlierDetector>& GetOutlierDetector() const { return m_outlier_detector; }
  const SharedPtr<CameraEstimator>& GetCameraEstimator() const { return m_estimator; }
  Callback* GetObserver() const { return m_observer; }

  // ---- map values
  const PerspectiveCamera& GetMapCamera() const { return m_camera; }
  double GetRMSE() const { return m_rmse; }
  float GetFrameRate() const { return m_frame_rate; }
  void SetFrameRate(float rate) { m_frame_rate = rate; }
  CameraTrackingManager* GetManager() const { return m_manager; }
  void SetManager(CameraTrackingManager* manager) { m_manager = manager; }

 protected:
  PerspectiveCamera m_camera;  // the first frame's camera, set by Init
  bool m_initialised = false;
  SharedPtr<FeatureCorrelator> m_correlator;           // the one the last Match used
  SharedPtr<FeatureCorrelator> m_correlator_template;  // Match uses this very object
  SharedPtr<GuidedMatching> m_guided_matcher;
  ImageList m_fimage_list2;  // emptied with m_fimage_list; for the implementations
  SharedPtr<OutlierDetector> m_outlier_detector;
  SharedPtr<CameraEstimator> m_estimator;
  Callback* m_observer = nullptr;
  PointList m_fpoint3d_list;
  ReadWriteSpinLock m_fpoint3d_lock;
  ImageList m_fimage_list;
  double m_rmse = -1.0;  // pixels; -1 until measured
  float m_frame_rate = 25.0f;
  CameraTrackingManager* m_manager = nullptr;
};
