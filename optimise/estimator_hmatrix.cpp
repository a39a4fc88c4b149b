#include "optimise/estimator_hmatrix.h"

#include <cmath>

#include "foundation/numeric/dense_matrix.h"
#include "foundation/runtime/notify.h"

namespace {

const char* TrueFalse(bool b) {
  return b ? "true" : "false";
}

}  // namespace

bool EstimatorHMatrix::Optimize(Matrix* h, const t_ListFCorr& correspondences,
                                PerspectiveCamera* camera0, PerspectiveCamera* camera1,
                                const ModelHMatrixSettings* settings) {
  if (h == nullptr) {
    Notify(2, "EstimatorHMatrix::Optimize: input matrix == NULL");
    return false;
  }
  if (h->Rows() != 3 || h->Cols() != 3 || camera0 == nullptr || camera1 == nullptr) {
    Notify(2, "EstimatorHMatrix::Optimize: bad input (matrix %ux%u, cameras %p, %p)", h->Rows(),
           h->Cols(), static_cast<void*>(camera0), static_cast<void*>(camera1));
    return false;
  }
  m_pixel_size_x = camera0->GetPixelSizeX();
  m_pixel_size_y = camera0->GetPixelSizeY();
  OptimizerLM_HMatrix optimizer;
  ModelHMatrixSettings s;
  if (settings != nullptr) s = *settings;
  if (s.MeasureName() == nullptr) {
    // Nothing would say which residuals to fit.
    Notify(2, "EstimatorHMatrix::Optimize: bad distance measure type");
    return false;
  }
  optimizer.m_model.m_settings = s;
  optimizer.m_data.SetData(correspondences, camera0, camera1, s);
  optimizer.m_data.SetInitialParameters(*h, camera0, camera1);
  if (!optimizer.Optimize()) {
    Notify(2, "EstimatorHMatrix::Optimize failed !");
    return false;
  }
  const double e = optimizer.m_chisq / optimizer.m_num_samples;
  m_error = e * (s.m_distance_measure == kHMatrixSymmetricError ? 0.25 : 0.5);
  Notify(5,
         "EstimatorHMatrix::Optimize: settings: %s, dist. meas. type=%s\n\t\tk3_0=%s, k3_1=%s, "
         "k5_0=%s, k5_1=%s\n",
         s.m_variant ? "variant k3 k5" : "invariant k3 k5", s.MeasureName(), TrueFalse(s.k3_0),
         TrueFalse(s.k3_1), TrueFalse(s.k5_0), TrueFalse(s.k5_1));

  const std::vector<double>& p = optimizer.m_param_vector;
  for (uint32_t i = 0; i < 8; ++i) (*h)(i / 3, i % 3) = p[i];
  (*h)(2, 2) = 1.0;
  Notify(5, "\t H-Matrix:");
  for (uint32_t r = 0; r < 3; ++r)
    Notify(5, "\t %e \t %e \t %e", (*h)(r, 0), (*h)(r, 1), (*h)(r, 2));

  double k3[2] = {camera0->GetDistortionCoefficients()[0], camera1->GetDistortionCoefficients()[0]};
  double k5[2] = {camera0->GetDistortionCoefficients()[1], camera1->GetDistortionCoefficients()[1]};
  for (int i = 0; i < 2; ++i) {
    if (s.K3Index(i) >= 0) k3[i] = p[s.K3Index(i)];
    if (s.K5Index(i) >= 0) k5[i] = p[s.K5Index(i)];
  }
  Notify(5,
         "EstimatorHMatrix::Optimize: Radial Distortion:\n\t\t k3_0=%e, k5_0=%e\n\t\t k3_1=%e, "
         "k5_1=%e\n\t\tresult RMSE: %e [pel] (%e [mm])\n",
         k3[0], k5[0], k3[1], k5[1], std::sqrt(m_error / (m_pixel_size_x * m_pixel_size_y)),
         std::sqrt(m_error));
  camera0->SetDistortion(k3[0], k5[0], camera0->GetRdDim(), camera0->GetDistortionModel());
  camera1->SetDistortion(k3[1], k5[1], camera1->GetRdDim(), camera1->GetDistortionModel());
  return true;
}

bool CameraEstimatorRadDistHMatrix::Optimize(PerspectiveCamera* camera0, PerspectiveCamera* camera1,
                                             FeatureCorrespondenceIterator iterator) {
  t_ListFCorr list;
  while (SharedPtr<FeatureCorrespondence> corr = iterator.Next()) list.push_back(corr);
  return Optimize(camera0, camera1, list);
}

bool CameraEstimatorRadDistHMatrix::Optimize(PerspectiveCamera* camera0, PerspectiveCamera* camera1,
                                             const t_ListFCorr& correspondences) {
  if (camera0 == nullptr || camera1 == nullptr) {
    Notify(2, "CameraEstimatorRadDistHMatrix::Optimize: one of the input cameras == NULL");
    return false;
  }
  if (camera0->GetRdDim() != 0 || camera1->GetRdDim() != 0)
    Notify(2, "CameraEstimatorRadDistHMatrix::Optimize: dimension of radial distortion not in mm");
  m_pixel_size_x = camera0->GetPixelSizeX();
  m_pixel_size_y = camera0->GetPixelSizeY();
  const double before[2][2] = {
      {camera0->GetDistortionCoefficients()[0], camera0->GetDistortionCoefficients()[1]},
      {camera1->GetDistortionCoefficients()[0], camera1->GetDistortionCoefficients()[1]}};
  Matrix h;
  h.SetIdentity(3);
  EstimatorHMatrix estimator;

  ModelHMatrixSettings only_k3 = m_settings;
  only_k3.k5_0 = only_k3.k5_1 = false;
  bool result = estimator.Optimize(&h, correspondences, camera0, camera1, &only_k3);
  if (!result)
    Notify(2, "CameraEstimatorRadDistHMatrix::Optimize: estimation of H-matrix (only k3) failed !");
  if (m_settings.k5_0 || m_settings.k5_1) {
    ModelHMatrixSettings only_k5 = m_settings;
    only_k5.k3_0 = only_k5.k3_1 = false;
    if (!estimator.Optimize(&h, correspondences, camera0, camera1, &only_k5))
      Notify(2,
             "CameraEstimatorRadDistHMatrix::Optimize: estimation of H-matrix (only k5) failed !");
    result = estimator.Optimize(&h, correspondences, camera0, camera1, &m_settings);
    if (!result)
      Notify(2,
             "CameraEstimatorRadDistHMatrix::Optimize: estimation of H-matrix (k3 and k5) failed "
             "!");
  }

  if (m_limit) {
    const double s2 = m_pixel_size_x * m_pixel_size_y;
    const double l3 = m_max_k3 / s2, l5 = m_max_k5 / (s2 * s2);
    static const char* const kMessages[2][2] = {
        {"CameraEstimatorRadDistHMatrix::Optimize: limit first K3 from %e to %e (abs. max. %e "
         "[mm^-2] %e [pel^-2]) !",
         "CameraEstimatorRadDistHMatrix::Optimize: limit first K5 from %e to %e (abs. max. %e "
         "[mm^-4] %e [pel^-4]) !"},
        {"CameraEstimatorRadDistHMatrix::Optimize: limit second K3 from %e to %e (abs. max. %e "
         "[mm^-2] %e [pel^-2]) !",
         "CameraEstimatorRadDistHMatrix::Optimize: limit second K5 from %e to %e (abs. max. %e "
         "[mm^-4] %e [pel^-4]) !"}};
    PerspectiveCamera* cameras[2] = {camera0, camera1};
    for (int c = 0; c < 2; ++c) {
      PerspectiveCamera& cam = *cameras[c];
      for (int j = 0; j < 2; ++j) {
        const double k = cam.GetDistortionCoefficients()[j];
        const double limit = j == 0 ? l3 : l5;
        if (!(std::fabs(k) > limit)) continue;
        Notify(5, kMessages[c][j], k, before[c][j], limit, j == 0 ? m_max_k3 : m_max_k5);
        const double* now = cam.GetDistortionCoefficients();
        cam.SetDistortion(j == 0 ? before[c][0] : now[0], j == 1 ? before[c][1] : now[1],
                          cam.GetRdDim(), cam.GetDistortionModel());
      }
    }
  }
  Notify(5,
         "CameraEstimatorRadDistHMatrix::Optimize:\n\t\tk3_0=%e, k5_0=%e\n\t\tk3_1=%e, k5_1=%e\n",
         camera0->GetDistortionCoefficients()[0], camera0->GetDistortionCoefficients()[1],
         camera1->GetDistortionCoefficients()[0], camera1->GetDistortionCoefficients()[1]);
  return result;
}
