// Scene: the 3D scene of one tracking job as the viewers show it.
//
// The root holds six built-in objects, added in this order so that the child list reads
// Point_Cloud, Camera_Track, Camera, Orbit_Center, WCS_Grid, WCS_Axes (each named in the
// registry and locked); user objects (type codes 12 .. 23) and the gizmo added later come
// before them. SetData fills the point cloud, the camera track and the camera object from a
// job's result: the point cloud shows the current feature map's 3D points in place, under
// that map's lock, and keeps the map alive while it shows them.
//
// Moves of the reconstruction accumulate in the scene matrix and in the moved objects'
// transforms until SyncMovedScene or SyncMovedGroundGrid hands them to the tracking data.
//
// Interface thread only (and the batch end, which runs after the tracking thread ended).
// The point list belongs to a feature map the tracking thread may change: every walk takes
// the map's read lock, SetFPoints3D and DeleteSelected3DPoints its write lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/runtime/shared_ptr.h"
#include "scene/objects/builtin_objects.h"
#include "scene/objects/nhs_object_scene.h"

class CameraTrackingManager;
class FeatureImage;
class FeatureMap;
class FeaturePoint3D;
class ImageCache;
class NHSObject_TriMesh;

// Bits of a view's display flag word that the scene reads (the point colours read 0x04 to
// 0x40, see GetObjectDisplayColor).
enum : uint32_t {
  SCENE_SHOW_USER_OBJECTS = 0x80,
  SCENE_SHOW_GRID_CAMERA_VIEW = 0x10000,
  SCENE_SHOW_CAMERA_TRACK = 0x100000,
  SCENE_SHOW_CAMERA = 0x200000,
  SCENE_SHOW_AXES = 0x400000,
  SCENE_SHOW_ORBIT_CENTER = 0x800000,
  SCENE_SHOW_GRID_OBSERVER_VIEW = 0x1000000,
};

class Scene : public NHSObject_Scene {
 public:
  using PointList = std::vector<SharedPtr<FeaturePoint3D>>;

  Scene();
  ~Scene() override;

  // Rebuilds point cloud, camera track and camera object from the job: scene matrix back to
  // the identity, no current image, the current map's points, then RebuildCameraTrack.
  // Without a job or a current feature map: logged, false, nothing changed.
  bool SetData(CameraTrackingManager* manager);
  // Forgets the points (the point cloud shows its own empty list) and deletes every user
  // object; the built-ins and (after deselecting) nothing else stay.
  void ClearData();
  // Shows the map's 3D points (null: none). With a current image, flag 0x40 is cleared on
  // every point and set on the points that image's features link to, under the map's
  // write lock. The point cloud's transform becomes the identity.
  void SetFPoints3D(const SharedPtr<FeatureMap>& map);
  // Empties the camera track, copies the first image's camera (distortion included) into
  // the point cloud and puts the camera centre of every image in the frame range on the
  // track; the camera object's next image is the first one in range while no texture was
  // loaded, else the one with the last textured index. False only without a job.
  bool RebuildCameraTrack(CameraTrackingManager* manager);

  // Sets the camera object's next image (logged when the image or cache is missing) and
  // marks it pending; a forced update stays forced until applied.
  void SetCameraObjectParams(const SharedPtr<FeatureImage>& image, ImageCache* cache, bool force);
  // Applies a pending image: a forced update loads its frame as texture; later updates
  // follow the image with its frame while a texture was loaded, else move the camera only.
  void UpdateCameraObject();
  // Shows and hides the built-ins and user objects for viewing mode 0 (camera view) or 1
  // (observer view) and the display flag word; hands the word to the point cloud. Any other
  // mode is logged and changes nothing.
  void UpdateObjectFlags(int mode, uint32_t flags);

  void SetOrbitCenter(const vm::Vector3& p);
  vm::Vector3 GetOrbitCenter() const;

  // Moves axes and grid only (the world frame); the scene matrix stays.
  void TransformWCS(const Matrix3x4& M);
  // scene matrix = M x scene matrix, then M applied to every child but the point cloud.
  void TransformExceptPointCloud(const Matrix4x4& M);
  // scene matrix = M x scene matrix, then M applied to camera, track, points and user
  // objects.
  void TransformReconstruction(const Matrix4x4& M);
  // Makes the moved grid the world frame: W = inverse of the grid's transform moves the
  // scene and (CameraTrackingManager::TransformScene) the tracking data; grid and axes go
  // back to the identity. Returns W (the identity without a job); the caller keeps it for
  // undo.
  Matrix4x4 SyncMovedGroundGrid(CameraTrackingManager* manager);
  // Hands the accumulated scene matrix to the tracking data and resets it.
  void SyncMovedScene(CameraTrackingManager* manager);

  // Marks selected, shown, not yet removed points removed (flag 2) under the write lock;
  // nothing is taken out of the list. Returns how many.
  std::size_t DeleteSelected3DPoints();
  // The selected, shown points (appended to `list`) and their mean; a single point is its
  // own mean, none gives (0, 0, 0). Either output may be null. Returns the count.
  std::size_t GetSelected3DPoints(vm::Vector3* mean, PointList* list);

  // Selects the grid and sets the gizmo's modes; returns NHSObject_Handle::SetModes.
  uint32_t SelectGroundGrid(bool rotate, bool scale, bool translate);
  // Grid, camera and track colours from the display settings' slots 22, 23, 24.
  void ApplyBuiltinColors();

  const Matrix4x4& GetSceneMatrix() const { return scene_matrix_; }
  int32_t GetLastTexturedIndex() const { return last_textured_index_; }
  const SharedPtr<FeatureImage>& GetCurrentImage() const { return current_image_; }
  bool IsCameraObjectPending() const { return pending_; }

  NHSObject_Cross3D* GetAxes() const { return axes_; }
  NHSObject_Grid* GetGrid() const { return grid_; }
  NHSObject_OrbitCenter* GetOrbitCenterObject() const { return orbit_center_; }
  NHSObject_Camera* GetCameraObject() const { return camera_; }
  NHSObject_CameraTrack* GetCameraTrack() const { return track_; }
  NHSObject_FeaturePoints* GetPointCloud() const { return points_; }

  // ---- user objects from selected points (user_object_factory.cpp)
  // Makes an object of `type` on the points and hangs it under the root, named with the
  // type's prefix and the next free number: 0 a box (0, 0, 0)..(5, 5, 5) "Cube_", 1 a cone
  // (orientation 5, radius 1.5, height 5, 20 segments) "Cone_", each placed at the points'
  // mean; 2 a rectangle, ±2.5 at the mean for fewer than 3 points ("Plane_"), else the
  // fitted plane (gen_approx_plane; "Plane_" for 3 points, "ApproxPlane_" from 4); 3 a
  // triangle mesh in `color` and 4 one textured from the current image (colour 0x00FFFFFF),
  // both "TriangleMesh_" and needing 3 points. Direction points are made Cartesian first
  // (through the point cloud's camera), and when there are any only they are used; with no
  // points the mean is (0, 0, 50). The object moves by the scene matrix (so it follows the
  // reconstruction's moves since the last sync) and belongs to the scene. Null, with a
  // level-4 log line for an unknown type or too few points for a mesh, when nothing is made.
  NHSObject* AddSceneObject(uint32_t type, const std::vector<const FeaturePoint3D*>& points,
                            uint32_t color);
  // The triangle mesh through at least 3 points around `centre`, unattached (the caller
  // owns it), or null. With an image the points are projected into it and the mesh's axes
  // are the camera's H0, V0, A; a point on or behind the camera plane (w <= 0) makes no
  // mesh. Without one, the fitted plane's axes and the points' plane coordinates serve (and
  // no texture). Vertex i is the point's offset from the centre on those axes; the mesh's
  // transform (rotation by the axes, translation the centre) puts it back on the point.
  // Textured: painted from the image's cached frame (none: untextured). Untextured faces are
  // added only for a colour other than 0.
  NHSObject_TriMesh* AddSceneObjectFromPoints(uint32_t color,
                                              const std::vector<const FeaturePoint3D*>& points,
                                              const vm::Vector3& centre, const FeatureImage* image,
                                              bool textured);

 private:
  void ShowUserObjects(bool show);

  NHSObject_Cross3D* axes_;
  NHSObject_Grid* grid_;
  NHSObject_OrbitCenter* orbit_center_;
  NHSObject_Camera* camera_;
  NHSObject_CameraTrack* track_;
  NHSObject_FeaturePoints* points_;

  Matrix4x4 scene_matrix_;
  int32_t last_textured_index_ = -1;
  SharedPtr<FeatureImage> current_image_;
  ImageCache* cache_ = nullptr;
  bool force_ = true;
  bool pending_ = false;
  SharedPtr<FeatureMap> shown_map_;  // keeps the shown point list alive
};
