// SaveCamPath: the base of every camera-path writer.
//
// One writer lives for one export: the caller constructs it with the output's directory
// and file name, sets the few shared settings, calls Save (3D writers) or Save2DTrack (2D
// track writers) once and deletes it. Save turns the tracked images and the 3D points into
// two plain lists and hands them to the writer's Export:
//   cameras  new FeatureImage copies in the given order, each holding only the camera
//            (pose, size, pixel size, distortion), the image index, the file index and the
//            owner of the tracked image: nothing a writer does reaches the tracking data;
//   points   the Cartesian positions (mm) of the points that are neither removed nor
//            excluded from export, in the order their tracks are first met walking the
//            cameras' features (then the points no camera sees, in list order), so that
//            identical runs write identical files; a direction point is placed at
//            distance factor x focal length (mm) from the first camera's centre.
// Coordinate mode 1 turns cameras and points by 180 degrees about X ((x, y, z) becomes
// (x, -y, -z)); mode 0 and every other mode leave them as they are.
//
// Failures: Save throws "SaveCamPath::Save: empty camera list!" for an empty list and
// otherwise returns what Export returns. A writer that cannot create or write its file
// logs the path at level 2 and returns false; the caller turns false into its own thrown
// failure. Writers write numbers in the classic locale, whatever the process's locale.
//
// Scene objects: the writers that export the user's objects (COLLADA, trueSpace) read the
// tree set by SetSceneObjects, the scene of the job being exported, which the layer that
// owns the scene hands down (FileIO's scene argument); without one they write cameras and
// points only. The writer reads the tree during Export and never changes it.
//
// Threads: the caller holds the feature map's read lock on the points during Save; the
// writer itself shares nothing.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_point.h"

class ImageCache;
class NHSObject;

class SaveCamPath {
 public:
  using CameraList = std::vector<SharedPtr<FeatureImage>>;
  using PointList = std::vector<vm::Vector3>;
  using FeaturePointList = std::vector<SharedPtr<FeaturePoint3D>>;

  // The output path is directory + "/" + file name; either may be null (a null directory
  // gives the file name alone).
  SaveCamPath(const char* directory, const char* file_name);
  virtual ~SaveCamPath();
  SaveCamPath(const SaveCamPath&) = delete;
  SaveCamPath& operator=(const SaveCamPath&) = delete;

  // Writes the file; true on success.
  virtual bool Export(const CameraList& cameras, const PointList& points) = 0;
  // The 2D track writers' entry: writes the track of one feature. False in the base.
  virtual bool Export2DTrack(const SharedPtr<FeaturePoint2D>& feature);

  // Builds the two lists from the tracked images and the feature map's points (see above)
  // and calls Export. Throws for an empty camera list.
  bool Save(const CameraList& cameras, const FeaturePointList& points);
  // points in the order Save writes them (null points dropped).
  static FeaturePointList StableOrder(const CameraList& cameras, const FeaturePointList& points);
  // Calls Export2DTrack.
  bool Save2DTrack(const SharedPtr<FeaturePoint2D>& feature);

  // The maker name of the product information, or "Default" when it is empty: the base
  // name of the objects writers create.
  static std::string GetObjectName();
  // GetObjectName() + "_cam".
  static std::string GetCameraName();
  // "created by " with the maker name, the product name and the version, blank-separated:
  // the program's line in the headers of formats with comments.
  static std::string GetCreatedBy();
  // The local time for "Creation date" header lines, "Www Mmm dd hh:mm:ss yyyy" in
  // English whatever the locale, the day zero-padded; no line end.
  static std::string GetCreationDate();
  // Pan, tilt and roll of the camera against the world axes (GetCameraAngles), in degrees.
  static vm::Vector3 GetCameraAnglesInDegrees(const PerspectiveCamera& camera);

  const std::string& GetOutputPath() const { return output_path_; }
  // Frames per second of time-based formats (25 until set).
  double GetFramesPerSecond() const { return frames_per_second_; }
  void SetFramesPerSecond(double fps) { frames_per_second_ = fps; }
  // The frame rate as a whole number for formats that want one: 29.97 gives 30, 23.5 24.
  int GetRoundedFramesPerSecond() const { return static_cast<int>(frames_per_second_ + 0.5); }
  // Distance, in focal lengths, of the exported direction points (10).
  double GetDistanceFactor() const { return distance_factor_; }
  // 0 keeps the tracking coordinate system, 1 turns it by 180 degrees about X.
  int GetCoordinateMode() const { return coordinate_mode_; }
  void SetCoordinateMode(int mode) { coordinate_mode_ = mode; }
  // 1: frame numbers start at the first camera's file index (dotXSI); 0: at 0.
  int GetFileIndexNumbering() const { return file_index_numbering_; }
  void SetFileIndexNumbering(int option) { file_index_numbering_ = option; }
  // The tracking job's frame cache, for writers that name image files; not owned.
  ImageCache* GetImageCache() const { return image_cache_; }
  void SetImageCache(ImageCache* cache) { image_cache_ = cache; }
  // The root of the job's scene tree, null for none; not owned, read during Export only.
  const NHSObject* GetSceneObjects() const { return scene_objects_; }
  void SetSceneObjects(const NHSObject* root) { scene_objects_ = root; }

 protected:
  // Opens the output path for text output (creating or replacing it) in the classic locale.
  bool OpenOutput(std::ofstream& out) const;
  // Flushes and closes; false when anything written to the stream was lost.
  static bool CloseOutput(std::ofstream& out);
  // The usual start of an Export: false after a level-2 line "<writer>::Export: empty
  // camera list!" when there is no camera (no file is made), or "<writer>::Export: open
  // file "<path>" failed !!" when the file cannot be created; else out is open.
  bool StartExport(const char* writer, const CameraList& cameras, std::ofstream& out) const;
  // The same without the camera test, for writers of other data.
  bool OpenExport(const char* writer, std::ofstream& out) const;
  // The usual end: closes out; false after "<writer>::Export: write file "<path>" failed
  // !!" at level 2 when anything written was lost.
  bool FinishExport(const char* writer, std::ofstream& out) const;

 private:
  std::string output_path_;
  double frames_per_second_ = 25.0;
  double distance_factor_ = 10.0;
  int coordinate_mode_ = 0;
  int file_index_numbering_ = 0;
  ImageCache* image_cache_ = nullptr;
  const NHSObject* scene_objects_ = nullptr;
};
