#include "geometry/guided_matching.h"

#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"
#include "foundation/runtime/notify.h"
#include "geometry/fmatrix.h"
#include "geometry/sample_calculator.h"
#include "geometry/sample_calculator_fmatrix.h"
#include "geometry/sample_calculator_hmatrix.h"

namespace {

t_ListFCorr Collect(FeatureCorrespondenceIterator iterator) {
  t_ListFCorr out;
  for (SharedPtr<FeatureCorrespondence> c = iterator.Next(); c; c = iterator.Next())
    out.push_back(c);
  return out;
}

}  // namespace

void GuidedMatching::SetCorrespondences(const t_ListFCorr&) {
  Notify(2,
         "GuidedMatching::SetCorrespondences: parameter: t_ListFCorr, does nothing, method has "
         "to be reimplemented in the derived class !");
}

void GuidedMatching::SetCorrespondences(FeatureCorrespondenceIterator) {
  Notify(2,
         "GuidedMatching::SetCorrespondences: parameter: FeatureCorrespondenceIterator, does "
         "nothing, method has to be reimplemented in the derived class !");
}

bool GuidedMatching::ReEstimate() {
  Notify(2,
         "GuidedMatching::ReEstimatedoes nothing, method has to be reimplemented in the derived "
         "class !");
  return false;
}

bool GuidedMatching::IntoSearchRegion(const SharedPtr<FeaturePoint2D>&,
                                      const SharedPtr<FeaturePoint2D>&, double) {
  Notify(2,
         "GuidedMatching::IntoSearchRegiondoes nothing, method has to be reimplemented in the "
         "derived class !");
  return false;
}

void GuidedMatching::MapCorrespondences(const t_ListFCorr& correspondences) {
  m_vecCorr.clear();
  m_vecCorr.reserve(correspondences.size());
  for (const SharedPtr<FeatureCorrespondence>& corr : correspondences) {
    CorrEl e;
    if (MapTwoViewCorrEl(m_camera2, corr, e)) m_vecCorr.push_back(std::move(e));
  }
}

bool GuidedMatching::InSearchRegion(const SharedPtr<FeaturePoint2D>& first,
                                    const SharedPtr<FeaturePoint2D>& second, double radius,
                                    const char* message) const {
  if (!m_parameter_set) {
    Notify(2, "%s", message);
    return false;
  }
  if (!first || !second) return false;
  CorrEl e;
  MapTwoViewPositions(m_camera2, first->x, first->y, second->x, second->y, e);
  return m_parameter_set->GetSquaredError(e) < radius * radius;
}

void GuidedMatchingHMatrix::SetCorrespondences(FeatureCorrespondenceIterator iterator) {
  MapCorrespondences(Collect(iterator));
}

bool GuidedMatchingHMatrix::IntoSearchRegion(const SharedPtr<FeaturePoint2D>& first,
                                             const SharedPtr<FeaturePoint2D>& second,
                                             double radius) {
  return InSearchRegion(first, second, radius,
                        "GuidedMatchingHMatrix::IntoSearchRegion:  parameter set not set !");
}

bool GuidedMatchingHMatrix::EstimateHMatrix() {
  const uint32_t n = static_cast<uint32_t>(m_vecCorr.size());
  if (n < 4) {
    Notify(2, "GuidedMatchingHMatrix::ReEstimateHMatrix: correspondence size less than 4");
    Notify(2, "              missing call of GuidedMatchingHMatrix::SetCorrespondences !");
    return false;
  }
  Matrix A(2 * n, 8), AtA;
  Vector b(2 * n), Atb, h(8);
  for (uint32_t i = 0; i < n; ++i) SampleCalculatorHMatrix::HomographyRows(m_vecCorr[i], i, A, b);
  AtA.MultiplyAtB(A, A);
  Atb.MultiplyTransposed(A, b);
  if (!h.Solve(AtA, Atb)) {
    // Left open by the model: keep the previous hypothesis rather than a broken one.
    Notify(2,
           "GuidedMatchingHMatrix::EstimateHMatrix: singular normal equations, homography "
           "kept");
    return false;
  }
  auto set = SharedPtr<ParameterSetHMatrix>::Make();
  set->SetFromSolution(h);
  set->SetScales(m_camera2);
  set->ComputeInverse();
  const double* m = set->m_hmatrix.m;
  Notify(5, "GuidedMatchingHMatrix::EstimateHMatrix:\n\t%e %e  %e\n\t%e %e  %e\n\t%e %e  %e", m[0],
         m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]);
  m_parameter_set = set;
  return true;
}

void GuidedMatchingFMatrix::SetCorrespondences(FeatureCorrespondenceIterator iterator) {
  MapCorrespondences(Collect(iterator));
}

bool GuidedMatchingFMatrix::IntoSearchRegion(const SharedPtr<FeaturePoint2D>& first,
                                             const SharedPtr<FeaturePoint2D>& second,
                                             double radius) {
  return InSearchRegion(first, second, radius,
                        "GuidedMatchingFMatrix::IntoSearchRegion:  parameter set not set !");
}

bool GuidedMatchingFMatrix::ReEstimateFMatrix() {
  Notify(4, "GuidedMatchingFMatrix::ReEstimateFMatrix:  m_vecCorr.size = %d",
         static_cast<int>(m_vecCorr.size()));
  if (m_vecCorr.size() < 8) {
    Notify(2, "GuidedMatchingFMatrix::ReEstimateFMatrix: correspondence size less than 8");
    Notify(2, "              missing call of GuidedMatchingFMatrix::SetCorrespondences");
    return false;
  }
  auto set = SharedPtr<ParameterSetFMatrix>::Make();
  set->SetScales(m_camera2);
  EstimatorFMatrix estimator;
  estimator.SetCorrespondences(m_vecCorr);
  if (!estimator.NormalizedEightPointAlgorithm(set->m_fmatrix)) return false;
  m_parameter_set = set;
  return true;
}
