#pragma once

// The feature data a tracking job shares between its correlators, solvers, viewer and
// project file:
//   FeaturePoint2D  one measured image position in one frame (pixels), with a
//                   covariance, a link to a 3D point and links to the same scene point
//                   in the previous and next frame (FeatureCorrespondence, see
//                   feature_correspondence.h);
//   FeaturePoint3D  a reconstructed scene point: world coordinates in mm (Cartesian), or
//                   a direction from the camera centre (spherical: azimuth and elevation
//                   in radians, a radius in mm).
// Both are held by SharedPtr. Features and their correspondences hold each other, so a
// track lives until its features are unlinked (UnlinkFromTrack); owners unlink before
// they drop their lists. Reference counts are atomic; the members are not protected
// (one thread changes a feature at a time). Flag bits: feature_flags.h.

#include <cstdint>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"
#include "foundation/project/data_base.h"
#include "foundation/runtime/meta.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/bit_mask.h"
#include "foundation/tracks/feature_flags.h"

class DataBaseOut;
class FeatureImage;
class PositionTable;
class FeatureCorrespondence;
class FeaturePoint3D;
class Matrix;

// Base of the per-feature records a correlator hangs on its features (the optical-flow
// tracker's window record derives from it); released with the feature.
class FeatureAttribute {
 public:
  virtual ~FeatureAttribute() = default;
};

class FeaturePoint2D : public DataBase,
                       public UIDBase,
                       public vm::Vector2,
                       public BitMask,
                       public SharedBlockMarker {
 public:
  // image: the owning image (not owned), may be null. Position (0, 0) or (x, y), flags 0,
  // covariance and inverse (1, 0, 1), no links, stored indices -1.
  explicit FeaturePoint2D(FeatureImage* image = nullptr);
  FeaturePoint2D(FeatureImage* image, double x, double y);
  // A new UID (with the source's registry name); everything else is copied, the link
  // handles included: the copy sits in the same correspondences, whose ends still name
  // the source.
  FeaturePoint2D(const FeaturePoint2D& other);
  // Copies the same members; the target keeps its UID id.
  FeaturePoint2D& operator=(const FeaturePoint2D& other);
  ~FeaturePoint2D() override;

  FeatureImage* GetImage() const { return image_; }
  void SetImage(FeatureImage* image) { image_ = image; }

  // Covariance [a b; b c] in pixel^2. Setting it sets FP2D_FLAG_COVARIANCE and the
  // inverse (c/d, -b/d, a/d) with d = a c - b^2 in float; d exactly 0 gives (1, 0, 1).
  void SetCoVariance(float a, float b, float c);
  const float* GetCoVariance() const { return covariance_; }
  const float* GetInvCoVariance() const { return inv_covariance_; }
  // The inverse as the 2x2 weight matrix (a, b; b, c) in doubles.
  Matrix2x2 GetInverseCoVariance() const {
    const float* w = inv_covariance_;
    return {{w[0], w[1], w[1], w[2]}};
  }
  // Column j: eigenvector j of the covariance times the square root of |eigenvalue j|;
  // column 0 belongs to the eigenvalue of larger magnitude.
  Matrix2x2 GetErrorEllipseAxes() const;

  // The linked 3D point. Linking a point sets the stored 3D index to the point's Id.
  const SharedPtr<FeaturePoint3D>& GetFPoint3D() const { return point3d_; }
  void SetFPoint3D(const SharedPtr<FeaturePoint3D>& point);

  // Link to the next frame (this feature is the earlier end) and from the previous one
  // (this feature is the later end). Setting only replaces this side's handle.
  const SharedPtr<FeatureCorrespondence>& GetSuccessor() const { return successor_; }
  const SharedPtr<FeatureCorrespondence>& GetPredecessor() const { return predecessor_; }
  void SetSuccessor(const SharedPtr<FeatureCorrespondence>& link);
  void SetPredecessor(const SharedPtr<FeatureCorrespondence>& link);
  // True when the successor exists and its flags match mask, or else the predecessor
  // exists and matches (CorrespondenceFlagsMatch).
  bool TestCorrespondenceFlags(uint32_t mask) const;

  const SharedPtr<FeatureAttribute>& GetAttribute() const { return attribute_; }
  void SetAttribute(const SharedPtr<FeatureAttribute>& attribute) { attribute_ = attribute; }

  // Storage fields that the project reader fills and turns into links: the position of
  // the 3D point in the feature map's list, the position of the successor in the next
  // frame's list of the same kind (-1: none) and the successor's flag word.
  int32_t GetFPoint3DIndex() const { return point3d_index_; }
  void SetFPoint3DIndex(int32_t index) { point3d_index_ = index; }
  int32_t GetSuccessorIndex() const { return successor_index_; }
  void SetSuccessorIndex(int32_t index) { successor_index_ = index; }
  uint32_t GetSuccessorFlags() const { return successor_flags_; }
  void SetSuccessorFlags(uint32_t flags) { successor_flags_ = flags; }

  // The feature's number in a 2D track file.
  int32_t GetTrackNumber() const { return track_number_; }
  void SetTrackNumber(int32_t number) { track_number_ = number; }

  // Project fields "Vec2", "FP3Di", "nFP2Di", "nFCSup", "Flgs".
  bool CheckForField(DataBaseIn& in, const char* key) override;

 private:
  void CopyMembers(const FeaturePoint2D& other);

  SharedPtr<FeatureAttribute> attribute_;
  FeatureImage* image_ = nullptr;
  SharedPtr<FeaturePoint3D> point3d_;
  SharedPtr<FeatureCorrespondence> successor_;
  SharedPtr<FeatureCorrespondence> predecessor_;
  float covariance_[3] = {1.0f, 0.0f, 1.0f};
  float inv_covariance_[3] = {1.0f, 0.0f, 1.0f};
  uint32_t successor_flags_ = 0;
  int32_t point3d_index_ = -1;
  int32_t successor_index_ = -1;
  int32_t track_number_ = 0;
};

class FeaturePoint3D : public DataBase,
                       public Meta,
                       public UIDBase,
                       public vm::Vector3,
                       public BitMask,
                       public SharedBlockMarker {
 public:
  enum CoordinateSystem : int32_t { eSpherical = 0, eCartesian = 1 };

  // Position (0, 0, 0) or (x, y, z), flags 0, Id -1, identity covariance and axes, no
  // name, further words 0.
  explicit FeaturePoint3D(int32_t cs = eSpherical);
  FeaturePoint3D(double x, double y, double z, int32_t cs);
  // A new UID (with the source's registry name); the copy owns a copy of the name.
  FeaturePoint3D(const FeaturePoint3D& other) = default;
  // Copies the members, the name (an absent name becomes absent) and the UID flags; the
  // target keeps its UID id.
  FeaturePoint3D& operator=(const FeaturePoint3D& other);
  ~FeaturePoint3D() override;

  int32_t GetId() const { return id_; }
  void SetId(int32_t id) { id_ = id; }
  int32_t GetCS() const { return cs_; }
  void SetCS(int32_t cs) { cs_ = cs; }

  // Covariance (row-major 3x3); setting it recomputes the error-ellipsoid axes: column i
  // is eigenvector i times the square root of |eigenvalue i|, eigenvalues by decreasing
  // magnitude.
  void SetCoVariance(const double c[9]);
  // Needs a 3x3 matrix; any other size logs "bad matrix dimension" (level 2) and changes
  // nothing.
  void SetCoVarianceMatrix(const Matrix& c);
  // One element; indices outside 0..2 log (level 2) and give 1.0.
  double GetCoVariance(int i, int j) const;
  const Matrix3x3& GetCoVarianceMatrix() const { return covariance_; }
  const Matrix3x3& GetErrorEllipsoidAxes() const { return axes_; }

  // The frame of the 2D feature that last triangulated the point, and the number of
  // observations that triangulation used.
  uint32_t GetImageIndex() const { return image_index_; }
  void SetImageIndex(uint32_t index) { image_index_ = index; }
  uint32_t GetNumMeasurements() const { return num_measurements_; }
  void SetNumMeasurements(uint32_t n) { num_measurements_ = n; }
  // Two words the solver keeps with the point (i = 0 or 1); copied with it.
  uint32_t GetStateWord(int i) const { return state_[i & 1]; }
  void SetStateWord(int i, uint32_t word) { state_[i & 1] = word; }

  // Project fields "Name", "Vec3", "Id", "CS", "Flgs".
  bool CheckForField(DataBaseIn& in, const char* key) override;

 private:
  int32_t id_ = -1;
  Matrix3x3 covariance_;
  Matrix3x3 axes_;
  int32_t cs_;
  uint32_t image_index_ = 0;
  uint32_t num_measurements_ = 0;
  uint32_t state_[2] = {0, 0};
};

// The project-file writers, counterparts of the CheckForField handlers above.
// "FP2D": "Vec2", "FP3Di" (the 3D point's position in points3d, -1 without one),
// "nFP2Di" (the position of the successor's later feature in next_list, the next frame's
// written list of the same kind; -1 without successor, without next_list or when the
// feature is not there), "nFCSup" (the successor's flags, 0 when
// "nFP2Di" is -1), "Flgs".
// The covariance, the track number and the attribute are not stored.
void WriteFeaturePoint2D(DataBaseOut& out, const FeaturePoint2D& feature,
                         const PositionTable& points3d, const PositionTable* next_list);
// "FP3D": "Name" (when it has one), "Vec3", "Id", "CS", "Flgs" (when not 0). The
// covariance and the solver's words are not stored.
void WriteFeaturePoint3D(DataBaseOut& out, const FeaturePoint3D& point);

// m = [m0 m1; m2 m3]: target = m^-1 and true; a determinant of exactly 0 gives the
// identity and false. target may be m.
bool InvertMatrix2x2(Matrix2x2& target, const Matrix2x2& m);
