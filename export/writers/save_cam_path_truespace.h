// SaveCamPathTruespace: the camera path, the 3D points and the user's polygon objects as a
// Caligari ASCII scene (trueSpace), export type 9.
//
// The file is a 32-byte header line, then flat chunks, then the end marker
// "END  V1.00 Id 0 Parent 0 Size 0" without a line end. Each chunk is a header line
// "<kind> V<version, 2 decimals> Id <id> Parent <parent id> Size <8 digits>" and its body;
// the size counts every byte after its eight digits up to the chunk's end (the header's
// line end included), so a reader skips a chunk from the end of its size field. The
// hierarchy is in the parent ids only.
//
// Chunks: the scene "Scen", the render options "ROpt", with an image cache the background
// channel (each frame's image file name, without its folder), the camera "Came" with its
// unit and its channels: rotation (a quaternion per frame), translation (only when some
// centre lies off the origin), field of view ("size" 3.35 x tan of half the angle, x and
// y); one bone "Point_<i>" per 3D point; then per visible user object that has a polygon
// form (export_meshes.h) a polygon chunk "PolH" with its unit and material chunks. A
// position (x, y, z) of the tracking data is written as (-x/2, -z/2, -y/2). Objects under
// a hidden object are left out; transforms compose down the tree. The n-th written mesh
// (from 0) takes the ids 105759709 + n (PolH), 105859709 + n (unit), 105959709 + n
// (material) and, unnamed, the name "polh_<n>". Numbers are "%g" (six significant
// digits) in the classic locale; lines end in a line feed.
//
// Failures: an empty camera list (no file), a file that cannot be created, a chunk too
// large for its size field (10^8 bytes or more) and a write that fails are logged at
// level 2 and give false.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "export/save_cam_path.h"
#include "foundation/numeric/fixed_matrix.h"

class NHSObject;
class NHSObject_PolyMesh;

class SaveCamPathTruespace : public SaveCamPath {
 public:
  SaveCamPathTruespace(const char* directory, const char* file_name)
      : SaveCamPath(directory, file_name) {}

  bool Export(const CameraList& cameras, const PointList& points) override;

  // A chunk's header line with the size left at 00000000; remembers where the size goes.
  void BeginChunk(std::ostream& out, const char* kind, double version, unsigned long id,
                  unsigned long parent);
  // Fills in the size of the chunk begun last (out must be seekable). False, after a
  // level-2 line, when the size needs more than eight digits (the field stays 00000000 and
  // Export fails).
  bool EndChunk(std::ostream& out);
  // The polygon objects of the subtree of object (placed by parent, its parent's transform
  // into the world), object first, then its children from the first.
  void WriteSceneObjects(std::ostream& out, const Matrix3x4& parent, const NHSObject& object);
  // The PolH, Unit and Mat1 chunks of one mesh placed by the world transform g; advances
  // the mesh number.
  void WritePolyMesh(std::ostream& out, const Matrix3x4& g, const NHSObject_PolyMesh& mesh);

 private:
  std::streamoff size_position_ = 0;
  uint32_t mesh_number_ = 0;
  bool sizes_fit_ = true;
};

// "Transform", the three rows of m (four "%g" values each) and "0 0 0 1", one line each.
void WriteTransformRows(const Matrix3x4& m, std::ostream& out);
