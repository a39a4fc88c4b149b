// Free functions around PerspectiveCamera shared by the estimators, the
// tracking engine, the scene and the exporters: camera <-> 3x4 projection
// matrix, pan/tilt/roll relative to a reference camera, rotating a camera about
// its centre, an RQ split by Givens rotations and diagnostic printers.
//
// Matrices are row-major doubles; angles are radians (the printers show
// degrees).
#ifndef KALVEX_FOUNDATION_CAMERA_CAMERA_GEOMETRY_H_
#define KALVEX_FOUNDATION_CAMERA_CAMERA_GEOMETRY_H_

#include "foundation/camera/perspective_camera.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/numeric/fixed_vector.h"

// P = [H, -H.C; V, -V.C; A, -A.C]: maps a world point to image-centred pixel
// coordinates without distortion.
void GetProjectionMatrixFromCamera(const PerspectiveCamera& camera, Matrix3x4& p);

// Sets C, A, H, V of the camera from P (scaled by 1 / |row 2 left block|)
// through PerspectiveCamera::Set, so A is renormalised and the further
// distortion coefficients become 0; everything else stays. The sign of P is
// kept: P and -P give cameras with opposite axes. A zero third row logs a
// warning and gives C at the origin with zero axes; a singular left block logs
// a warning and the centre is computed with the identity in place of its
// inverse.
void GetCameraFromProjectionMatrix(const Matrix3x4& p, PerspectiveCamera& camera);

// Moves the camera's centre; everything else stays (A renormalised, further
// coefficients zeroed, as PerspectiveCamera::Set does).
void SetCameraCentre(PerspectiveCamera& camera, const vm::Vector3& c);

// Expresses the camera in its own frame: C = 0, A = (0, 0, 1) and, for
// orthogonal image axes, H0 = (1, 0, 0), V0 = (0, 1, 0). Intrinsics stay.
void NormalizeCameraPose(PerspectiveCamera& camera);

// Pan (about the reference's vertical axis), tilt, roll of the camera relative
// to reference (null: the world axes), each in [-pi, pi].
void GetCameraAngles(const PerspectiveCamera& camera, vm::Vector3& angles,
                     const PerspectiveCamera* reference = nullptr);
void GetCameraAngles(const PerspectiveCamera& camera, double& pan, double& tilt, double& roll,
                     const PerspectiveCamera* reference = nullptr);

// H0, V0, A of the camera in the reference's frame (null: the world), 9 values.
void GetCameraAxes(const PerspectiveCamera& camera, double* axes,
                   const PerspectiveCamera* reference = nullptr);

// Rotates the camera about its centre by pan (about V0), tilt (about H0) and
// roll (about A), then sets the focal length (mm). C does not move.
void SetCameraPTRF(PerspectiveCamera& camera, double pan, double tilt, double roll, double focal);
// The same with focal = current focal length * zoom.
void SetCameraPTRZ(PerspectiveCamera& camera, double pan, double tilt, double roll, double zoom);

// In place: M becomes upper triangular with M22 = 1 (a calibration matrix),
// M <- M G1 G2 G3 / M22.
void GivensRQ(Matrix3x3& m);

// [H; V; A] = K R with K upper triangular (K22 not scaled) and R a rotation;
// t = -R C.
void DecomposeCameraMatrix(const PerspectiveCamera& camera, Matrix3x3& k, Matrix3x3& r,
                           vm::Vector3& t);

// Level-4 log printouts; comment may be null.
void PrintIntrinsic(const PerspectiveCamera& camera, bool full, const char* comment);
void PrintPTRZF(const PerspectiveCamera& camera, const PerspectiveCamera* previous,
                const char* comment);
void PrintC(const PerspectiveCamera& camera, const PerspectiveCamera* previous,
            const char* comment);

#endif  // KALVEX_FOUNDATION_CAMERA_CAMERA_GEOMETRY_H_
