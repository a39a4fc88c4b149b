// SaveCamPathCollada: the camera path, its optics and the 3D points as a COLLADA 1.4
// document (".dae", Y up).
//
// The camera node "Camera" carries translate (Cx, -Cy, -Cz), then rotations about Y (-pan),
// X (tilt) and Z (-roll) in degrees, against the world axes: the tracking system turned by
// 180 degrees about X. Five animations drive them and the camera's horizontal field of
// view (degrees; 180 for a focal length of 0), one key per camera at i / fps seconds
// (single precision), LINEAR between keys. The points are nodes "auto_i" at (x, -y, -z)
// under "PointCloudNode". Lengths stay in mm although the asset declares centimetres, as
// importers of earlier exports expect. Every number is fixed with six decimals, in the
// classic locale; names are XML-escaped.
//
// The user's objects (SetSceneObjects; save_cam_path_collada_objects.h) follow as polygon
// meshes: a geometry per mesh (untransformed vertices, a polygon list) and a node per mesh
// with its transform as a matrix (y and z rows negated at the top), nested as the objects
// are. When some mesh is textured, each textured object adds an image (a PNG file
// "<base>_<k>.png" beside the document, k counting from 0 in every export), an effect and
// a material, bound in its node. Ids are XML names unique in the document: an object's id
// is its name, with "_<n>" appended when the name is taken. Without meshes the document
// holds no geometry library (an empty one is invalid).
//
// Failures: an empty camera list (no file), a file that cannot be created or a write that
// fails, and a texture file that cannot be written (the document is complete) are logged
// at level 2 and give false.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <set>
#include <string>
#include <unordered_map>

#include "export/save_cam_path.h"

class NHSObject;

class SaveCamPathCollada : public SaveCamPath {
 public:
  SaveCamPathCollada(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  bool Export(const CameraList& cameras, const PointList& points) override;

  // The XML declaration, the opening root element and the asset block.
  static void WriteHeader(std::ostream& out);
  // One point light with id and name `name` (escaped).
  static void WriteLight(std::ostream& out, const std::string& name);

  // The walks over an object tree, each in pre-order (an object, then its children from the
  // first): per object with a texture its image (the PNG file written beside the document,
  // the image counter advanced), its effect and its material; per polygon mesh its
  // geometry and its node (indented by tabs; children's nodes inside it; a bound material
  // only with with_materials, i.e. when the material library was written; the matrix is
  // the object's transform, with its y and z rows negated unless the node is nested in a
  // mesh's node). Ids are those Export assigned, else the objects' names.
  void WriteImages(std::ostream& out, const NHSObject& object);
  void WriteEffects(std::ostream& out, const NHSObject& object) const;
  void WriteMaterials(std::ostream& out, const NHSObject& object) const;
  void WriteGeometries(std::ostream& out, const NHSObject& object) const;
  void WriteMeshNodes(std::ostream& out, const NHSObject& object, bool with_materials, int tabs = 4,
                      bool nested = false) const;

  // The number of texture files written (or tried) in this export.
  uint32_t GetImageCounter() const { return image_counter_; }

 private:
  // Gives every object under root its id: XmlName of its name, or the first of name_1,
  // name_2, ... whose derived ids (geometry, sources, texture, ...) meet none in `taken`.
  void AssignObjectIds(const NHSObject& root, std::set<std::string>& taken);
  std::string ObjectId(const NHSObject& object) const;
  // The output path's directory and file name, split at its last '/' or '\\' (a path
  // given in Windows form keeps it); returns that separator, '/' when there is none.
  char SplitOutputPath(std::string* directory, std::string* file) const;
  // The texture file name "<base>_<counter>.png" and its path beside the document.
  std::string TextureFileName() const;
  std::string TexturePath(const std::string& file_name) const;

  uint32_t image_counter_ = 0;
  bool textures_written_ = true;
  std::unordered_map<const NHSObject*, std::string> object_ids_;
};

// `text` with &, <, >, " and ' replaced by their XML entities.
std::string XmlEscape(const std::string& text);

// The current local time as "%Y-%m-%dT%H:%M:%S" into `text`; false, `text` untouched, when
// the time is not available.
bool FormatIsoDateTime(std::string& text);
