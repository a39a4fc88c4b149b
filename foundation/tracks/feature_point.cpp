#include "foundation/tracks/feature_point.h"

#include <cmath>

#include "foundation/numeric/dense_matrix.h"
#include "foundation/project/data_base_in.h"
#include "foundation/project/data_base_out.h"
#include "foundation/project/position_table.h"
#include "foundation/runtime/notify.h"
#include "foundation/runtime/random_generator.h"
#include "foundation/tracks/feature_correspondence.h"

// ---- FeaturePoint2D

FeaturePoint2D::FeaturePoint2D(FeatureImage* image)
    : UIDBase(UID_TYPE_FEATURE_POINT_2D), image_(image) {}

FeaturePoint2D::FeaturePoint2D(FeatureImage* image, double x, double y)
    : UIDBase(UID_TYPE_FEATURE_POINT_2D), vm::Vector2{x, y}, image_(image) {}

FeaturePoint2D::FeaturePoint2D(const FeaturePoint2D& other)
    : DataBase(other), UIDBase(other), vm::Vector2(other), BitMask(other), SharedBlockMarker() {
  CopyMembers(other);
}

FeaturePoint2D& FeaturePoint2D::operator=(const FeaturePoint2D& other) {
  if (this == &other) return *this;
  static_cast<vm::Vector2&>(*this) = other;
  AssignFlags(other.GetFlags());
  SetUIDFlags(other.GetUIDFlags());
  CopyMembers(other);
  return *this;
}

void FeaturePoint2D::CopyMembers(const FeaturePoint2D& other) {
  image_ = other.image_;
  attribute_ = other.attribute_;
  point3d_ = other.point3d_;
  successor_ = other.successor_;
  predecessor_ = other.predecessor_;
  for (int i = 0; i < 3; ++i) {
    covariance_[i] = other.covariance_[i];
    inv_covariance_[i] = other.inv_covariance_[i];
  }
  successor_flags_ = other.successor_flags_;
  point3d_index_ = other.point3d_index_;
  successor_index_ = other.successor_index_;
  track_number_ = other.track_number_;
}

FeaturePoint2D::~FeaturePoint2D() {
  predecessor_.Release();
  successor_.Release();
  point3d_.Release();
  attribute_.Release();
}

void FeaturePoint2D::SetCoVariance(float a, float b, float c) {
  SetFlags(FP2D_FLAG_COVARIANCE);
  covariance_[0] = a;
  covariance_[1] = b;
  covariance_[2] = c;
  const float d = a * c - b * b;
  if (d == 0.0f) {
    inv_covariance_[0] = 1.0f;
    inv_covariance_[1] = 0.0f;
    inv_covariance_[2] = 1.0f;
  } else {
    inv_covariance_[0] = c / d;
    inv_covariance_[1] = -b / d;
    inv_covariance_[2] = a / d;
  }
}

Matrix2x2 FeaturePoint2D::GetErrorEllipseAxes() const {
  Matrix2x2 c = {{covariance_[0], covariance_[1], covariance_[1], covariance_[2]}};
  Matrix2x2 axes;
  double values[2];
  axes.SymmetricEigen(values, c);
  for (int j = 0; j < 2; ++j) {
    // |value|: a covariance that is not quite positive gives real axes, not NaN.
    const double s = std::sqrt(std::fabs(values[j]));
    axes[0][j] *= s;
    axes[1][j] *= s;
  }
  return axes;
}

void FeaturePoint2D::SetFPoint3D(const SharedPtr<FeaturePoint3D>& point) {
  point3d_ = point;
  if (point) point3d_index_ = point->GetId();
}

void FeaturePoint2D::SetSuccessor(const SharedPtr<FeatureCorrespondence>& link) {
  successor_ = link;
}

void FeaturePoint2D::SetPredecessor(const SharedPtr<FeatureCorrespondence>& link) {
  predecessor_ = link;
}

bool FeaturePoint2D::TestCorrespondenceFlags(uint32_t mask) const {
  if (successor_ && CorrespondenceFlagsMatch(successor_->GetFlags(), mask)) return true;
  return predecessor_ && CorrespondenceFlagsMatch(predecessor_->GetFlags(), mask);
}

bool FeaturePoint2D::CheckForField(DataBaseIn& in, const char* key) {
  if (in.IsField(key, PF_KEY_VEC2)) {
    double xy[2];
    in.GetVec2(xy);
    x = xy[0];
    y = xy[1];
  } else if (in.IsField(key, PF_KEY_FP3DI)) {
    point3d_index_ = in.GetInt();
  } else if (in.IsField(key, PF_KEY_NFP2DI)) {
    successor_index_ = in.GetInt();
  } else if (in.IsField(key, PF_KEY_NFCSUP)) {
    successor_flags_ = static_cast<uint32_t>(in.GetInt());
  } else if (in.IsField(key, PF_KEY_FLGS)) {
    AssignFlags(static_cast<uint32_t>(in.GetInt()));
  } else {
    return false;
  }
  return true;
}

// ---- FeaturePoint3D

FeaturePoint3D::FeaturePoint3D(int32_t cs) : UIDBase(UID_TYPE_FEATURE_POINT_3D), cs_(cs) {
  covariance_.SetIdentity();
  axes_.SetIdentity();
}

FeaturePoint3D::FeaturePoint3D(double x, double y, double z, int32_t cs)
    : UIDBase(UID_TYPE_FEATURE_POINT_3D), vm::Vector3{x, y, z}, cs_(cs) {
  covariance_.SetIdentity();
  axes_.SetIdentity();
}

FeaturePoint3D& FeaturePoint3D::operator=(const FeaturePoint3D& other) {
  if (this == &other) return *this;
  Meta::operator=(other);
  SetUIDFlags(other.GetUIDFlags());
  static_cast<vm::Vector3&>(*this) = other;
  AssignFlags(other.GetFlags());
  id_ = other.id_;
  covariance_ = other.covariance_;
  axes_ = other.axes_;
  cs_ = other.cs_;
  image_index_ = other.image_index_;
  num_measurements_ = other.num_measurements_;
  state_[0] = other.state_[0];
  state_[1] = other.state_[1];
  return *this;
}

FeaturePoint3D::~FeaturePoint3D() = default;

void FeaturePoint3D::SetCoVariance(const double c[9]) {
  for (int i = 0; i < 9; ++i) covariance_.m[i] = c[i];
  double values[3];
  axes_.SymmetricEigen(values, covariance_);
  for (int j = 0; j < 3; ++j) {
    const double s = std::sqrt(std::fabs(values[j]));
    for (int i = 0; i < 3; ++i) axes_[i][j] *= s;
  }
}

void FeaturePoint3D::SetCoVarianceMatrix(const Matrix& c) {
  if (c.Rows() != 3 || c.Cols() != 3) {
    Notify(2, "FeaturePoint3D::SetCoVarianceMatrix: bad matrix dimension (%dx%d)",
           static_cast<int>(c.Rows()), static_cast<int>(c.Cols()));
    return;
  }
  double e[9];
  for (uint32_t r = 0; r < 3; ++r) {
    for (uint32_t k = 0; k < 3; ++k) e[3 * r + k] = c(r, k);
  }
  SetCoVariance(e);
}

double FeaturePoint3D::GetCoVariance(int i, int j) const {
  if (i < 0 || i > 2 || j < 0 || j > 2) {
    Notify(2, "FeaturePoint3D::GetCoVariance: bad indices %d, %d", i, j);
    return 1.0;
  }
  return covariance_[i][j];
}

bool FeaturePoint3D::CheckForField(DataBaseIn& in, const char* key) {
  if (in.IsField(key, PF_KEY_VEC3)) {
    double xyz[3];
    in.GetVec3(xyz);
    x = xyz[0];
    y = xyz[1];
    z = xyz[2];
  } else if (in.IsField(key, PF_KEY_ID)) {
    id_ = in.GetInt();
  } else if (in.IsField(key, PF_KEY_CS)) {
    cs_ = in.GetInt();
  } else if (in.IsField(key, PF_KEY_FLGS)) {
    AssignFlags(static_cast<uint32_t>(in.GetInt()));
  } else if (in.IsField(key, PF_KEY_NAME)) {
    char name[PF_MAX_TEXT + 1];
    in.GetString(name, sizeof name);
    SetName(name);
  } else {
    return false;
  }
  return true;
}

// ---- project-file writers

void WriteFeaturePoint2D(DataBaseOut& out, const FeaturePoint2D& feature,
                         const PositionTable& points3d, const PositionTable* next_list) {
  out.BeginObject(PF_KEY_FP2D);
  const double xy[2] = {feature.x, feature.y};
  out.WriteFloats(PF_KEY_VEC2, xy, 2);
  out.WriteInt(PF_KEY_FP3DI, points3d.Find(feature.GetFPoint3D().Get()));
  const FeatureCorrespondence* successor = feature.GetSuccessor().Get();
  int32_t next = -1;
  if (successor != nullptr && next_list != nullptr) {
    next = next_list->Find(successor->GetSecond().Get());
  }
  out.WriteInt(PF_KEY_NFP2DI, next);
  // The flags belong to the stored link: without one a reader drops them, and a second save
  // of the loaded job must give the same bytes.
  out.WriteInt(PF_KEY_NFCSUP, next >= 0 ? static_cast<int32_t>(successor->GetFlags()) : 0);
  out.WriteInt(PF_KEY_FLGS, static_cast<int32_t>(feature.GetFlags()));
  out.EndObject();
}

void WriteFeaturePoint3D(DataBaseOut& out, const FeaturePoint3D& point) {
  out.BeginObject(PF_KEY_FP3D);
  const char* name = point.GetName();
  if (name != nullptr && *name != '\0') out.WriteString(PF_KEY_NAME, name);
  const double xyz[3] = {point.x, point.y, point.z};
  out.WriteFloats(PF_KEY_VEC3, xyz, 3);
  out.WriteInt(PF_KEY_ID, point.GetId());
  out.WriteInt(PF_KEY_CS, point.GetCS());
  if (point.GetFlags() != 0) out.WriteInt(PF_KEY_FLGS, static_cast<int32_t>(point.GetFlags()));
  out.EndObject();
}

// ---- helpers

bool InvertMatrix2x2(Matrix2x2& target, const Matrix2x2& m) {
  const double d = m.m[0] * m.m[3] - m.m[1] * m.m[2];
  if (d == 0.0) {
    target.m[0] = 1.0;
    target.m[1] = 0.0;
    target.m[2] = 0.0;
    target.m[3] = 1.0;
    return false;
  }
  const double a = m.m[0], b = m.m[1], c = m.m[2], e = m.m[3];
  target.m[0] = e / d;
  target.m[1] = -b / d;
  target.m[2] = -c / d;
  target.m[3] = a / d;
  return true;
}
