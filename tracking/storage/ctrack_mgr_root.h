// CTrackMgrRoot: the stored state of a tracking job and its restore from a project file
// (the "CTrackMgr" object): the image list, the frame range, the image path, the initial
// camera and the vertex objects, which it owns, and the feature map and frame cache it
// restores into (not owned; set with SetLinks).
//
// The tracking manager holds this state (it derives from this class, or keeps one and
// forwards to it) and restores a project with Read, which runs Clear, RestoreObject and
// PostProcessDataBaseIn (the first and the last may be extended by the deriving class). Both map
// objects ("FMapFreeMove", "FMapSphere") restore into the linked map; GetMapKind tells which one
// was read, so the manager can set its switch for pure rotation, from which its save names the
// map again. Contents() is what WriteCTrackMgr takes (the manager overrides it to name its
// current map).
//
// Errors: format errors are thrown as constant texts; Read then empties the job (Clear) and
// puts the cache's settings back before passing the text on, so a failed load leaves nothing
// half-restored. Bad stored indices are logged at level 2 and leave the feature unlinked.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/project/data_base.h"
#include "foundation/runtime/shared_ptr.h"
#include "tracking/maps/feature_map.h"
#include "tracking/objects/vertex_object_pool.h"
#include "tracking/storage/project_writer.h"

class DataBaseIn;
class ImageCache;

class CTrackMgrRoot : public DataBase {
 public:
  using ImageList = std::vector<SharedPtr<FeatureImage>>;

  // What the job restores into without owning it.
  struct Links {
    // The free-motion map: both map objects restore into it. Null: map objects are
    // skipped as unknown, Clear logs "FMap not set".
    FeatureMap* map = nullptr;
    // The frame cache: "TopFieldFirst" (a change clears the cache) and "DeintMethod".
    // Null: both are read and dropped.
    ImageCache* image_cache = nullptr;
    // The owner given to restored images (the manager).
    FeatureImageOwner* image_owner = nullptr;
    // Called after a load with the map's new image list, before the map's GetMSE: the
    // free-motion map's incremental list takes it. May be empty.
    std::function<void(const ImageList&)> set_incremental_list;
  };

  CTrackMgrRoot() = default;
  explicit CTrackMgrRoot(const Links& links) : links_(links) {}
  ~CTrackMgrRoot() override;
  CTrackMgrRoot(const CTrackMgrRoot&) = delete;
  CTrackMgrRoot& operator=(const CTrackMgrRoot&) = delete;

  void SetLinks(const Links& links) { links_ = links; }
  const Links& GetLinks() const { return links_; }

  // ---- restore
  // Clear, RestoreObject, PostProcessDataBaseIn (DataBaseIn::Read). On a thrown text the
  // job is cleared again, the frame cache gets its field order and mode back, and the text
  // is passed on.
  void Read(DataBaseIn& in);
  // Frame range 0, 0, step 1, no map kind, empty image path. Without a map: level 2
  // "CameraTrackingManager::Clear: FMap not set !" and nothing else. Otherwise the map is
  // reset, level 4 "CameraTrackingManager::Clear: %d images removed from memory!", the
  // images, the vertex objects and the initial camera are dropped.
  virtual void Clear();
  // "FImage", "FMapFreeMove", "FMapSphere", "PMask", "LineStrip", "FocalGizmo",
  // "TopFieldFirst", "DeintMethod", "Frms" (start and end kept when >= 0, step always),
  // "Path".
  bool CheckForField(DataBaseIn& in, const char* key) override;
  // Turns the stored indices into links: names joined to the image path, the initial
  // camera from the first image, features and anchors linked to the map's points, frame
  // range from the first and last image, track links rebuilt from the stored successor
  // positions (score 1, flags the stored ones with bit 0 added, 0 when stored 0; a
  // successor that already has a predecessor is left alone), then the map takes the
  // images of the frame range and measures its error.
  virtual void PostProcessDataBaseIn();

  // ---- the job
  ImageList& GetImageList() { return m_image_list; }
  const ImageList& GetImageList() const { return m_image_list; }
  int32_t GetFrameStart() const { return m_frame_start; }
  int32_t GetFrameEnd() const { return m_frame_end; }
  int32_t GetFrameStep() const { return m_frame_step; }
  void SetFrameRange(int32_t start, int32_t end, int32_t step) {
    m_frame_start = start;
    m_frame_end = end;
    m_frame_step = step;
  }
  // The directory the image names of a loaded project are relative to; null when empty.
  void SetImagePath(const char* path) { m_image_path = path ? path : ""; }
  const char* GetImagePath() const { return m_image_path.empty() ? nullptr : m_image_path.c_str(); }
  // Null until a load or the set-up creates it.
  PerspectiveCamera* GetInitCamera() const { return m_init_camera.get(); }
  VertexObjectPool& GetVertexObjectPool() { return m_vertex_object_pool; }
  const VertexObjectPool& GetVertexObjectPool() const { return m_vertex_object_pool; }
  // The map object read last (kNone before any).
  ProjectMapKind GetMapKind() const { return map_kind_; }
  void SetMapKind(ProjectMapKind kind) { map_kind_ = kind; }

  // The job as WriteCTrackMgr takes it (the map's points when a map is linked and the
  // kind is not kNone; the cache's settings when a cache is linked). The manager names its
  // current map instead.
  virtual CTrackMgrContents Contents() const;

 protected:
  ImageList m_image_list;
  VertexObjectPool m_vertex_object_pool;
  int32_t m_frame_start = 0;
  int32_t m_frame_end = 0;
  int32_t m_frame_step = 1;
  std::unique_ptr<PerspectiveCamera> m_init_camera;
  std::string m_image_path;

 private:
  void LinkPoints();
  void LinkTracks();
  void HandImagesToMap();

  Links links_;
  ProjectMapKind map_kind_ = ProjectMapKind::kNone;
};

// path + "/" + name with every backslash turned into a slash: names stored on another
// system ("C:\shots", "seq\img.tga") resolve with this system's separator.
std::string JoinImagePath(const std::string& path, const char* name);
