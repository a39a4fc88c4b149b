#pragma once

// The cameras of a tripod sequence against known 3D points: every image's pan, tilt, roll
// (and optionally focal length) together with one offset T of the optical centre from
// the rotation centre P, shared by all images.
//
// A sample is a feature of image c, undistorted, in mm on the sensor about the principal
// point, with its 3D point X; D = X - P. Camera coordinates are R_0 (D - T) for image 0
// (its centre at P + T) and R_c D - T for every other image (its centre at P + R_c^T T,
// the offset turning with the camera); the prediction is f_c (xc, yc) / zc.
//
// Parameters: T (mm), then per image in list order pan, tilt, roll (radians) and, with
// the focal length, f (mm): 3 + 4 N or 3 + 3 N.

#include <vector>

#include "features/feature_image.h"
#include "foundation/camera/perspective_camera.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/tracks/feature_point.h"
#include "optimise/optimizer_lm.h"
#include "optimise/plain_estimator.h"

struct RAxesKSample {
  const PerspectiveCamera* camera = nullptr;
  int image = 0;  // index in the image list
  double x = 0.0;
  double y = 0.0;
  SharedPtr<FeaturePoint3D> point;
};

struct ModelRAxesKKnownFPoint3DInput {
  const FeaturePoint3D* point = nullptr;
  const PerspectiveCamera* camera = nullptr;
  int image = 0;
  const unsigned* num_cameras = nullptr;
  const bool* estimate_focal = nullptr;
  const double* centre = nullptr;  // P, three values
};

class ModelRAxesKKnownFPoint3DData {
 public:
  // N := number of images; P := *centre when centre is not null (three values; else P
  // stays, the origin at first). Samples: the features of each image whose link to the
  // next or the previous image carries FCORR_SUPPORT_ROTATION or FCORR_SUPPORT_FREEMOVE
  // and whose 3D point exists and is not removed.
  void SetData(const std::vector<FeatureImage*>& images, bool estimate_focal, const double* centre);
  // The start vector from the cameras: T = the first camera's centre - P, then each
  // camera's angles (world axes) and, with the focal length, its focal length. Entries of
  // exactly 0 become 1e-16.
  void SetInitialParameters(const std::vector<FeatureImage*>& images);

  // The size of the start vector; logged (level 2) when it is below 6.
  unsigned GetNumberOfParameters() const;
  unsigned GetNumberOfSamples() const { return static_cast<unsigned>(m_samples.size()); }
  const std::vector<double>& GetStartVector() const { return m_start_vector; }
  // A direction point is used with its values as coordinates (logged); a sample without
  // a point is logged and then refused by the model.
  void GetModelInput(unsigned i, ModelRAxesKKnownFPoint3DInput& out) const;
  void GetMeasurement(unsigned i, double out[2]) const;

  std::vector<double> m_start_vector = {0, 0, 0, 0, 0, 0, 10.0};
  std::vector<RAxesKSample> m_samples;
  unsigned m_num_cameras = 0;
  bool m_estimate_focal = true;
  double m_centre[3] = {0.0, 0.0, 0.0};
};

class ModelRAxesKKnownFPoint3D : public ModelWithGradient<ModelRAxesKKnownFPoint3DInput, 2>,
                                 public Model<ModelRAxesKKnownFPoint3DInput, 2> {
 public:
  const char* GetMyClassName() const override { return "ModelRAxesKKnownFPoint3D"; }
  // Exact gradients by T and by the sample's own image parameters (the other images'
  // entries are 0). A zero depth takes 1e-16 for 1 / zc. False (level 2) for a parameter
  // vector that does not fit N or an image index >= N; false for a missing point.
  bool ComputeWithGradient(const ModelRAxesKKnownFPoint3DInput& input,
                           const std::vector<double>& parameters, ModelOutput out[2],
                           int mode) const;
};

class OptimizerLM_RAxesKKnownFPoint3D
    : public OptimizerLM<ModelRAxesKKnownFPoint3D, ModelRAxesKKnownFPoint3DData> {};

class CameraEstimatorRAxesKKnownFPoint3D : public PlainEstimator {
 public:
  // Fits the images' cameras jointly about the rotation centre (null: the origin). On
  // success every camera gets its fitted angles, its centre where the model puts it,
  // its principal point at the image centre and, with estimate_focal, its fitted focal
  // length (else it keeps its own); image size, pixel size and distortion stay. m_error
  // accumulates chi2 per sample (mm^2). False (level 2, cameras unchanged) for fewer than
  // two images or a fit that did not converge; the fit's const char* failures pass
  // through (an image without samples ends in "OptimizerLM::Optimize: numerical
  // problems").
  bool Optimize(const std::vector<FeatureImage*>& images, bool estimate_focal,
                const double* rotation_centre);
};
