// Radial lens distortion models.
//
// A model maps a squared radius (distance from the principal point, squared) to
// a dimensionless factor g; the caller multiplies the point's offset from the
// principal point by g. The direct form (inverse == false) maps distorted
// (observed) positions to ideal (pinhole) ones, the inverse form maps ideal
// positions to distorted ones.
//
// Units: the squared radius is in mm^2 when the camera measures its distortion
// radius in mm (RdDim == 0), in pixel^2 otherwise; the coefficients use the
// matching unit.
//
// Failure: the Newton inverses of Poly3 and Poly5 return exactly 3.0 when the
// radius lies beyond the model's range or the iteration does not converge.
// Callers that need to tell a failed inverse from a real factor compare the
// result with kRadialDistortionFailure. The fisheye models saturate instead of
// approaching the tangent's pole. No model logs, throws or allocates; all are
// safe on any thread.
#ifndef KALVEX_FOUNDATION_CAMERA_RADIAL_DISTORTION_H_
#define KALVEX_FOUNDATION_CAMERA_RADIAL_DISTORTION_H_

// r2: squared radius; k: four coefficients k[0..3]; inverse: false = direct.
using RadialDistortionFunction = double (*)(double r2, const double* k, bool inverse);

// Id of a model: its index in the model table; stored in project files.
enum RadDistType : int {
  kRadDistPoly3 = 0,
  kRadDistPoly5 = 1,
  kRadDistFisheye = 2,
  kRadDistFisheyeEquisolid = 3,
  kRadDistPoly4 = 4,
};
inline constexpr int kNumRadDistTypes = 5;

// The factor a failed Poly3/Poly5 inverse returns.
inline constexpr double kRadialDistortionFailure = 3.0;

// r_u = r_d (1 + k0 r_d^2).
double Poly3(double r2, const double* k, bool inverse);
// r_u = r_d (1 + k0 r_d^2 + k1 r_d^4).
double Poly5(double r2, const double* k, bool inverse);
// Equidistant fisheye; the sign of k0 swaps the direct and inverse branches.
double Fisheye(double r2, const double* k, bool inverse);
// Equisolid-angle fisheye; the sign of k0 swaps the direct and inverse branches.
double FisheyeEquisolid(double r2, const double* k, bool inverse);
// Polynomial in the radius normalised by the base radius k0 (k1..k3 the terms).
double Poly4(double r2, const double* k, bool inverse);

// The model of an id 0..4; any other id gives Poly3.
RadialDistortionFunction GetRadialDistortionFunction(int id);

// The id of a model of the table, or -1 for a function that is not one of them.
int GetRadDistType(RadialDistortionFunction f);

#endif  // KALVEX_FOUNDATION_CAMERA_RADIAL_DISTORTION_H_
