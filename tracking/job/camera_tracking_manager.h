// CameraTrackingManager: the model of one tracking job and the root object of its project
// file. It owns the frames (one FeatureImage per frame, in sequence order; a frame's
// index in m_image_list is its list position), the initial camera, the frame cache and
// the vertex objects (through CTrackMgrRoot), and through its pool every exchangeable
// tracking component including the current feature map.
//
// Compute runs one tracking step per frame on the tracking thread; the set-up operations
// (sequence, file lists, camera aspects, focal length, distortion) and the bulk edits run
// between runs, on one thread at a time. TransformScene and FindMaskKeyFrame take no lock.
//
// Engine services the feature layer reaches through interfaces: the job's frame cache
// (FeatureImageOwner), its polygon masks (the TrackingMaskList lookup, installed by the
// first manager), and the shared work buffer the pool hands to the optical-flow
// correlator. The synthetic correlator's links live as long as the correlator that made
// them: the maps match with the pool's correlator itself (never a clone), and the pool
// keeps it for the manager's lifetime.
//
// Restore: Read (CTrackMgrRoot) runs the manager's Clear, the restore and
// PostProcessDataBaseIn, which sets the free-motion map's pure-rotation
// switch from the stored map kind before the map measures its error; ReadCTrackMgr adds the
// frame cache's file list. Save: WriteCTrackMgr(out, manager) writes Contents().
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "features/tracking_masks.h"
#include "image/image_cache.h"
#include "tracking/job/camera_tracking_pool.h"
#include "tracking/storage/ctrack_mgr_root.h"

// Span statistics of feature tracks (spans in frames: the image index of a track's last
// feature minus that of its first).
struct FeatureTrackLengthStats {
  double sum = 0.0;
  double sum_of_squares = 0.0;
  uint32_t count = 0;
  double min = 0.0;
  double max = 0.0;
};

// A stretch of one feature track, from first along the forward links to last.
struct FeatureTrackSegment {
  FeaturePoint2D* first = nullptr;
  FeaturePoint2D* last = nullptr;
};

class CameraTrackingManager : public CTrackMgrRoot,
                              public CameraTrackingPool,
                              public FeatureImageOwner {
 public:
  // Modes of GetFeatureTrackLengthStats.
  enum TrackLengthMode { eAll2DFeatures = 0, eWith3DPoints = 1 };

  CameraTrackingManager();
  // Clears every feature, link and point (kClearAllTrackingData), then the job (Clear), so the
  // reference cycles between features and links are broken before the images go.
  ~CameraTrackingManager() override;

  // FeatureImageOwner: the job's frame cache.
  ImageCache* GetImageCache() override { return &m_image_cache; }

  // Maximum number of exported 3D points; -1 no limit.
  int GetExportPointLimit() const { return m_export_point_limit; }
  void SetExportPointLimit(int limit) { m_export_point_limit = limit; }

  // Step-mask bits of Compute.
  enum StepBits : int {
    kStepMatchAuto = 0x02,    // correlate the automatic features
    kStepMatchTagged = 0x04,  // correlate the features tagged for tracking
    kStepOutliers = 0x08,     // outlier elimination
    kStepCamera = 0x10,       // camera estimation
  };
  // Bits of ClearAllFPointsAndResetFMap.
  enum ClearBits : int {
    kClearResetMap = 0x01,
    kClearPoints3D = 0x02,
    kClearAutoLinks = 0x04,
    kClearManualLinks = 0x08,
    kClearAutoFeatures = 0x10,
    kClearManualFeatures = 0x20,
    kClearLinkFlags = 0x40,
    // Every feature, link and point (not the link flags).
    kClearAllTrackingData = 0x3F,
  };

  // ---- frame processing (tracking thread)
  // One tracking step for the frame at list position index (from the end when the
  // sequence is reversed); stepMask: StepBits. An uninitialised map only starts with the frame.
  // More than 90 % lost features or a failed stage restart the reconstruction (the call still
  // succeeds). Returns true; throws "bad index" (index -1 or past the end), "FMap not set", "no. of
  // images < 2", "init camera not set", "FMap init failed", "correspondences analysis failed";
  // texts thrown by the stages pass through.
  bool Compute(unsigned index, int stepMask);
  // Makes the next frame start a new reconstruction (reason 1 restart requested, 2 the
  // same, 3 more than 90 % of the features lost, 4 outlier elimination failed, 5 camera
  // estimation failed).
  void SwitchToInitialState(int reason);
  // The current map's final estimation; a thrown text is logged and gives false, as does
  // a missing map.
  bool ComputeFinalCameraEstimation();
  // The next Compute first restarts the reconstruction for this reason (0 means 1).
  void ForceInit(int reason) {
    m_force_init = true;
    m_force_init_reason = reason;
  }

  // ---- image access
  // The handle at a list position; outside the list a level-2 line and a shared null
  // handle (const: nobody can assign into it).
  const SharedPtr<FeatureImage>& GetFImage(unsigned position);
  // The handle of an image index (position = index - first image index); outside the
  // list a level-2 line and the shared null handle.
  const SharedPtr<FeatureImage>& GetFeatureImageFromImageIndex(int imageIndex);

  // ---- bulk edits and queries (between runs; all walk every image in list order and
  // every 2D feature of its feature list; anchors are never touched)
  // ClearBits: kClearResetMap resets the current map; kClearPoints3D unlinks every
  // feature's 3D point (and resets the map); kClearAutoLinks / kClearManualLinks drop
  // both links of every automatic / manual feature; kClearAutoFeatures /
  // kClearManualFeatures remove those features; kClearLinkFlags zeroes every link's flags.
  // Always re-initialises a synthetic correlator template and reseeds the sampling
  // generator.
  void ClearAllFPointsAndResetFMap(int flags);
  // Sets (or clears) mask in the flags of the features chosen by type (0 having any bit
  // of mask, 1 track starts, 2 track ends); returns their count. Another type chooses
  // nothing and logs once per feature.
  int SetFPoint2DBitMask(int type, int mask, bool set);
  // An estimated image (flag 8 clear) has a feature with a valid 3D point.
  bool HasCameraTrackingResult();
  bool HasManualFPoints();
  bool HasFPoints2D();
  // Fills out (zeroed first) with the spans of the tracks (mode eWith3DPoints: only those
  // whose start has a valid 3D point); returns the count, 0 for a bad mode or null out.
  int GetFeatureTrackLengthStats(FeatureTrackLengthStats* out, int mode);
  // The features RemoveFeatureTrack removes for the segment, in track order: from first
  // along the forward links up to and including last, or to the end of the track. Empty
  // when an end is null.
  std::vector<SharedPtr<FeaturePoint2D>> CollectFeatureTrackSegment(
      const FeatureTrackSegment& segment) const;
  // Removes the features of the segment from their images (their 3D points are flagged
  // removed); nothing when an end is null.
  void RemoveFeatureTrack(const FeatureTrackSegment& segment);
  void RemoveFeatureTracks(const std::vector<FeatureTrackSegment>& segments);
  // Applies the row-major 4x4 matrix m to every image camera ([R|t], its top three rows)
  // and to every 3D point of the current map (homogeneous; w' = 0 gives the origin).
  void TransformScene(const double m[16]);
  // The next list position after position (before it when backward) where a polygon
  // mask named maskName (null: any; a mask without a name matches any) has a key; -1
  // when there is none or position is not in the list.
  int FindMaskKeyFrame(unsigned position, const char* maskName, bool backward);

  // ---- restore and clear
  // Empties the sequence template and second text, the frame range, then (with a current
  // map) the map, the images, the vertex objects and the initial camera.
  void Clear() override;
  // The restore's last step: the pure-rotation switch from the stored map kind, then the
  // links (see CTrackMgrRoot).
  void PostProcessDataBaseIn() override;
  // What a save writes: the job with the current map, named by its kind (a free-motion map
  // with its pure-rotation switch on, or any other map, is a pure-rotation map).
  CTrackMgrContents Contents() const override;
  // Loads the "CTrackMgr" object at the reader's position: Read (a thrown text leaves the
  // job empty), then RestoreImageList; throws "unable to load image(s)" when the frame
  // cache refuses the restored names, with the job kept as read so its files can be
  // relocated (ChangeFilePath).
  void ReadCTrackMgr(DataBaseIn& in);

  // ---- image list, sequence and camera set-up
  // GUI thread or start-up, between runs (RecycleImages: the tracking thread between frames
  // of a live run). Failures are results and level-2 lines, never exceptions.
  //
  // A file template is never used as a printf format: its run of '#' (MapWildcard), or
  // else its first integer conversion "%d" / "%0Nd", becomes the frame number; every other
  // '%' is an ordinary character.
  //
  // Builds the file list and hands it to SetImageFileList, returning its result. first or
  // last negative: the directory of the template's name (numbered last, else first, else
  // 0) is searched for the sequence, numbers in [first, last] (last < 0 open). Otherwise
  // one name per number first, first + step, ... <= last; a negative step marks the job
  // for reverse tracking (never cleared) and lists the same files. Step 0 with a closed
  // range, a closed range of kMaxFrameRange numbers or more, and a closed range with a
  // template that has no frame number are refused (-1). Null texts leave the stored texts
  // as they are.
  int SetSequence(const char* fileTemplate, int first, int last, int step, const char* text1,
                  const char* text2, const char* text3);
  // The longest closed frame range SetSequence takes, in frame numbers.
  static constexpr int64_t kMaxFrameRange = 100000;
  // The template has a place for the frame number (a '#' run, "%d" or "%0Nd").
  static bool HasFrameNumber(const std::string& fileTemplate);
  // Replaces the characters from the first to the last '#' by "%d" (one '#') or "%0Nd"
  // (N the run's length). False, and t unchanged, without '#'.
  static bool MapWildcard(std::string& fileTemplate);
  // Hands list to the frame cache and rebuilds the job from it: everything is cleared,
  // one image per cache frame (two per file in field modes 3 and 5; image index = list
  // position, file index = the entry's number), new initial cameras (the old initial
  // camera's distortion and orientation kept), frame range 0 .. frames - 1. A null list
  // rebuilds from the cache's current list. 0, or the cache's non-zero result with
  // nothing changed.
  int SetImageFileList(SharedPtr<PackedStringList> list);
  // New locations of the same files: the images keep their tracking data and take the
  // names of the cache entries numbered with their file indices. Without images it is
  // SetImageFileList. -2 when the cache refuses the list or the list is null.
  int ChangeFilePath(SharedPtr<PackedStringList> list);
  // After a project was read: gives the cache the images' names (entry number = file
  // index) and renumbers the images by list position. 0, or -1 when the cache refuses.
  int RestoreImageList();
  // Live sources: the n oldest images (n clamped to the list size) become the newest,
  // with image and file indices continuing after the last, no 2D features and flags 0;
  // the first image index rises by n.
  void RecycleImages(unsigned n);
  // Image index of the first list entry: the number of frames recycled since it was last
  // set (the tracking driver sets it to 0 at the start of every frame loop).
  int GetFirstImageIndex() const { return m_first_image_index; }
  void SetFirstImageIndex(int index) { m_first_image_index = index; }
  // A new initial camera (a copy of prior when given) of the cache's frame size (720 x 576
  // without frames), the first image's pixel size (0.10666666666666667 x 0.1 mm without
  // images), a 39.6 degree horizontal field of view; every image takes it, keeping its
  // own distortion.
  void InitCameras(const PerspectiveCamera* prior);
  // Pixel size from the frame aspect (width / height of the picture) and the sensor
  // diagonal in mm, on the initial camera and every image; H and V stay (the field of view
  // stays, the focal length in mm follows). Nothing without images, initial camera or a
  // positive, finite result.
  void SetCameraAspects(double frameAspect, double sensorDiagonal);
  // Pixel size from the pixel aspect (psx / psy) and the sensor width in mm (<= 0: the
  // initial camera's), keeping the horizontal field of view. Refuses a non-positive or
  // non-finite aspect.
  void SetPixelAspects(double pixelAspect, double sensorWidth);
  // 35 mm-equivalent focal length of the initial camera and every image; <= 0 means 50 mm.
  void SetInitFocalLength(double focal35);
  // Distortion of the images between lens key frames (FIMAGE_FLAG_LENS_KEY) interpolated
  // linearly over the image index; before the first and after the last key frame the
  // nearest key frame's values; without key frames no distortion anywhere.
  void InterpolateRadialDistortion();
  // The distortion of the camera at a list position; out unchanged outside the list.
  void GetRadialDistortionParameter(RadialDistortionParameters* out, unsigned position) const;

 protected:
  // Image index of the first list entry (raised by RecycleImages).
  int m_first_image_index = 0;
  std::string m_sequence_template;
  std::string m_sequence_text1;
  std::string m_sequence_text2;
  std::string m_sequence_text3;
  // The sequence is tracked from its last frame to its first.
  bool m_reverse = false;
  // Maximum number of exported 3D points; -1 no limit.
  int m_export_point_limit = -1;
  // OR-ed into the flags of every image SetImageFileList creates.
  int m_new_image_flags = 0;
  ImageCache m_image_cache;
  // The next Compute first switches to the initial state, for this reason (0 means 1).
  bool m_force_init = false;
  int m_force_init_reason = 0;

 private:
  // The polygon masks of m_vertex_object_pool as the correlators see them.
  class MaskList : public TrackingMaskList {
   public:
    explicit MaskList(const VertexObjectPool& pool) : pool_(pool) {}
    int GetMaskCount() const override;
    int GetMaskProperty(int mask) const override;
    bool IsMaskActiveAt(int mask, int32_t frame) const override;
    bool IsInsideMask(int mask, double x, double y, int32_t frame) const override;
    void GetMaskPolygon(int mask, int32_t frame,
                        std::vector<std::pair<double, double>>* vertices) const override;

   private:
    const PolygonMask* Mask(int mask) const;
    const VertexObjectPool& pool_;
  };
  static const TrackingMaskList* FindMasks(const FeatureImageOwner* owner);

  MaskList m_mask_list{m_vertex_object_pool};
  // One synthetic-correlator clone per matched frame (clone k makes frame k + 1); a clone
  // unlinks its frame's links when destroyed, so it is kept until the job is cleared.
  std::vector<SharedPtr<FeatureCorrelator>> m_syn_clones;
  // Match, through a fresh clone when the template is a synthetic correlator.
  bool MatchFrame(FeatureMap& map, SharedPtr<FeatureImage>& image);
  // Drops the clones without touching the links they made.
  void ReleaseSynClones();
};
