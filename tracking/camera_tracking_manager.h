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
