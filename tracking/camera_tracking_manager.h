// CameraTrackingManager: the model of one tracking job and the root object of its project
// file. It owns the frames (one FeatureImage per frame, in sequence order; a frame's
// index in m_image_list is its list position), the initial camera, the frame cache and
// the vertex objects (through CTrackMgrRoot), and through its pool every exchangeable
// tracking component including the current feature map.
//
// Compute runs one tracking step per frame on the tracking thread; the set-up operations
// (sequence, file lists, camera aspects, focal length, distortion) run between runs.
#pragma once

#include <string>

#include "features/feature_image.h"
#include "image/image_cache.h"
#include "tracking/camera_tracking_pool.h"
#include "tracking/ctrack_mgr_root.h"

class CameraTrackingManager : public CTrackMgrRoot,
                              public CameraTrackingPool,
                              public FeatureImageOwner {
 public:
  CameraTrackingManager();
  ~CameraTrackingManager() override;

  // FeatureImageOwner: the job's frame cache.
  ImageCache* GetImageCache() override { return &m_image_cache; }

  // Maximum number of exported 3D points; -1 no limit.
  int GetExportPointLimit() const { return m_export_point_limit; }
  void SetExportPointLimit(int limit) { m_export_point_limit = limit; }

  // ---- frame processing (tracking thread)
  // One tracking step for the frame at list position index; stepMask bits 2/4 match, 8
  // outlier elimination, 16 camera estimation. Failures that end the call are thrown as
  // texts.
  bool Compute(unsigned index, int stepMask);
  // Makes the next frame start a new reconstruction (reason 1 restart requested, 3 more
  // than 90 % of the features lost, 4 outlier elimination failed, 5 camera estimation
  // failed).
  void SwitchToInitialState(int reason);
  // The current map's final estimation; a thrown text is logged and gives false.
  bool ComputeFinalCameraEstimation();

  // ---- image access
  // The handle at a list position; outside the list a level-2 line and a null handle.
  SharedPtr<FeatureImage>& GetFImage(unsigned position);

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
  // range is refused (-1). Null texts leave the stored texts as they are.
  int SetSequence(const char* fileTemplate, int first, int last, int step, const char* text1,
                  const char* text2, const char* text3);
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
};
