// The project-file restore of a camera's fields (PerspectiveCamera::CheckForField) and
// their writer (WriteCamera).
//
// Binary files hold the camera as one record (PF_CAMERA_RECORD); ascii files as eleven
// named fields, each of which changes only its own member. Values are stored as read: A
// is not normalised, so a restored camera equals the saved one up to the file's number
// precision. The further coefficients k[2], k[3] are not stored (a record zeroes them);
// RdDim, the further values and the name are never read. A model id outside the table
// restores Poly3.

#include "foundation/camera/perspective_camera.h"
#include "foundation/project/data_base_in.h"
#include "foundation/project/data_base_out.h"

namespace {

vm::Vector3 GetVector3(DataBaseIn& in) {
  double v[3];
  in.GetVec3(v);
  return {v[0], v[1], v[2]};
}

// Image sizes are unsigned; a negative one marks a damaged file.
uint32_t GetSize(DataBaseIn& in) {
  const int32_t n = in.GetInt();
  if (n < 0) throw "PerspectiveCamera::CheckForField: negative image size";
  return static_cast<uint32_t>(n);
}

}  // namespace

bool PerspectiveCamera::CheckForField(DataBaseIn& in, const char* key) {
  if (key == nullptr) {
    if (in.GetFieldId() != PF_CAMERA_RECORD) return false;
    const vm::Vector3 c = GetVector3(in);
    const vm::Vector3 a = GetVector3(in);
    const vm::Vector3 h = GetVector3(in);
    const vm::Vector3 v = GetVector3(in);
    const uint32_t width = GetSize(in);
    const uint32_t height = GetSize(in);
    double rest[4];
    in.GetFloats(rest, 4);
    const int32_t model = in.GetInt();
    // Set only after the whole record was read: a damaged record leaves the camera as it
    // was.
    c_ = c;
    a_ = a;
    h_ = h;
    v_ = v;
    width_ = width;
    height_ = height;
    sx_ = rest[0];
    sy_ = rest[1];
    k_[0] = rest[2];
    k_[1] = rest[3];
    k_[2] = 0.0;
    k_[3] = 0.0;
    model_ = GetRadialDistortionFunction(model);
    return true;
  }
  if (in.IsField(key, PF_KEY_CVEC)) {
    c_ = GetVector3(in);
  } else if (in.IsField(key, PF_KEY_AVEC)) {
    a_ = GetVector3(in);
  } else if (in.IsField(key, PF_KEY_HVEC)) {
    h_ = GetVector3(in);
  } else if (in.IsField(key, PF_KEY_VVEC)) {
    v_ = GetVector3(in);
  } else if (in.IsField(key, PF_KEY_WIDTH)) {
    width_ = GetSize(in);
  } else if (in.IsField(key, PF_KEY_HEIGHT)) {
    height_ = GetSize(in);
  } else if (in.IsField(key, PF_KEY_PIXEL_SIZE_X)) {
    sx_ = in.GetFloat();
  } else if (in.IsField(key, PF_KEY_PIXEL_SIZE_Y)) {
    sy_ = in.GetFloat();
  } else if (in.IsField(key, PF_KEY_RAD_DIST_K3)) {
    k_[0] = in.GetFloat();
  } else if (in.IsField(key, PF_KEY_RAD_DIST_K5)) {
    k_[1] = in.GetFloat();
  } else if (in.IsField(key, PF_KEY_RAD_DIST_TYPE)) {
    model_ = GetRadialDistortionFunction(in.GetInt());
  } else {
    return false;
  }
  return true;
}

void WriteCamera(DataBaseOut& out, const PerspectiveCamera& camera) {
  const vm::Vector3* vectors[4] = {&camera.GetC(), &camera.GetA(), &camera.GetH(), &camera.GetV()};
  const ProjectKey vector_keys[4] = {PF_KEY_CVEC, PF_KEY_AVEC, PF_KEY_HVEC, PF_KEY_VVEC};
  const double* k = camera.GetDistortionCoefficients();
  const double reals[4] = {camera.GetPixelSizeX(), camera.GetPixelSizeY(), k[0], k[1]};
  const ProjectKey real_keys[4] = {PF_KEY_PIXEL_SIZE_X, PF_KEY_PIXEL_SIZE_Y, PF_KEY_RAD_DIST_K3,
                                   PF_KEY_RAD_DIST_K5};
  const int32_t width = static_cast<int32_t>(camera.GetWidth());
  const int32_t height = static_cast<int32_t>(camera.GetHeight());
  const int model = GetRadDistType(camera.GetDistortionModel());
  const int32_t model_id = model >= 0 ? model : kRadDistPoly3;

  if (out.IsBinary()) {
    out.PutByte(PF_CAMERA_RECORD);
    for (const vm::Vector3* v : vectors) {
      const double xyz[3] = {v->x, v->y, v->z};
      out.PutFloats(xyz, 3);
    }
    out.PutInt(width);
    out.PutInt(height);
    out.PutFloats(reals, 4);
    out.PutInt(model_id);
    return;
  }
  for (int i = 0; i < 4; ++i) {
    const double xyz[3] = {vectors[i]->x, vectors[i]->y, vectors[i]->z};
    out.WriteFloats(vector_keys[i], xyz, 3);
  }
  out.WriteInt(PF_KEY_WIDTH, width);
  out.WriteInt(PF_KEY_HEIGHT, height);
  for (int i = 0; i < 4; ++i) out.WriteFloat(real_keys[i], reals[i]);
  out.WriteInt(PF_KEY_RAD_DIST_TYPE, model_id);
}
