// The homography-with-distortion model: a 3x3 homography H from image 0 to image 1
// (h33 = 1) fitted together with the radial distortion coefficients K3, K5 of either or
// both images, by the transfer distances of the correspondences. Samples are the
// distorted positions in mm about each camera's principal point; a position x is
// undistorted as (1 + K3 r^2 + K5 r^4) x with r = |x|. The model predicts the residuals
// themselves, so every measured value is 0.
#pragma once

#include <vector>

#include "features/feature_correlator.h"
#include "foundation/camera/perspective_camera.h"
#include "geometry/corr_el.h"
#include "optimise/optimizer_lm.h"

class Matrix;

enum HMatrixDistanceMeasure : int {
  kHMatrixSymmetricError = 0,  // "SymmetricError": forward and backward residuals
  kHMatrixOnlyError0 = 1,      // "OnlyError_0": the backward residual in image 0
  kHMatrixOnlyError1 = 2,      // "OnlyError_1": the forward residual in image 1
};

// Plain record, copied by value.
struct ModelHMatrixSettings {
  int m_distance_measure = kHMatrixSymmetricError;
  bool k3_0 = true;  // estimate K3 of image 0
  bool k3_1 = true;  // estimate K3 of image 1
  bool k5_0 = false;
  bool k5_1 = false;
  // true ("variant k3 k5"): each image has its own coefficients; false ("invariant k3
  // k5"): both images share one K3 (when k3_0 or k3_1) and one K5 (when k5_0 or k5_1).
  bool m_variant = true;

  // Parameter index of K3/K5 of image i, or -1 when that coefficient is the camera's.
  // Order: h11 .. h32, then K3_0, K3_1, K5_0, K5_1 (variant) or K3, K5 (invariant).
  int K3Index(int image) const;
  int K5Index(int image) const;
  unsigned NumberOfParameters() const;  // 8 to 12
  // "SymmetricError", "OnlyError_0", "OnlyError_1", or null for another value.
  const char* MeasureName() const;
};

struct ModelHMatrixInput {
  double x0 = 0.0, y0 = 0.0, x1 = 0.0, y1 = 0.0;
  const PerspectiveCamera* camera0 = nullptr;
  const PerspectiveCamera* camera1 = nullptr;
};

class ModelHMatrix : public ModelWithGradient<ModelHMatrixInput, 4>,
                     public Model<ModelHMatrixInput, 4> {
 public:
  const char* GetMyClassName() const override { return "ModelHMatrix"; }
  // The four residuals by the distance measure (the unused ones 0 with zero gradients)
  // and their exact gradients. False, with a level-2 line, when a point maps to the line
  // at infinity either way, or for an unknown distance measure.
  bool ComputeWithGradient(const ModelHMatrixInput& input, const std::vector<double>& parameters,
                           ModelOutput out[4], int mode);

  ModelHMatrixSettings m_settings;
};

class ModelHMatrixData {
 public:
  ModelHMatrixData();

  // Stores the settings and makes one sample per correspondence: each feature in mm
  // about its camera's principal point, centred with width/2 and height/2.
  void SetData(const t_ListFCorr& correspondences, const PerspectiveCamera* camera0,
               const PerspectiveCamera* camera1, const ModelHMatrixSettings& settings);
  // The start vector from H (3x3, divided by h33) and the cameras' coefficients (shared
  // ones averaged). h33 = 0 logs and leaves the start vector zero.
  void SetInitialParameters(const Matrix& h, const PerspectiveCamera* camera0,
                            const PerspectiveCamera* camera1);

  unsigned GetNumberOfParameters() const { return m_settings.NumberOfParameters(); }
  unsigned GetNumberOfSamples() const { return static_cast<unsigned>(m_samples.size()); }
  const std::vector<double>& GetStartVector() const { return m_start; }
  void GetModelInput(unsigned i, ModelHMatrixInput& out) const;
  void GetMeasurement(unsigned, double out[4]) const { out[0] = out[1] = out[2] = out[3] = 0.0; }

  std::vector<double> m_start;
  const PerspectiveCamera* m_camera0 = nullptr;  // not owned
  const PerspectiveCamera* m_camera1 = nullptr;
  std::vector<CorrEl> m_samples;
  ModelHMatrixSettings m_settings;
};

class OptimizerLM_HMatrix : public OptimizerLM<ModelHMatrix, ModelHMatrixData> {};
