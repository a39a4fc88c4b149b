#include "geometry/sample_calculator_proj_matrix.h"

#include <cmath>
#include <cstdio>

#include "foundation/numeric/dense_matrix.h"
#include "foundation/numeric/dense_vector.h"
#include "foundation/numeric/small_eigen.h"
#include "foundation/runtime/notify.h"

namespace {

constexpr double kNoFit = 1e38;

const FeaturePoint3D* LaterPoint(const CorrEl& e) {
  if (!e.corr || !e.corr->GetSecond()) return nullptr;
  return e.corr->GetSecond()->GetFPoint3D().Get();
}

const FeaturePoint3D* LaterOrEarlierPoint(const CorrEl& e) {
  if (const FeaturePoint3D* p = LaterPoint(e)) return p;
  if (!e.corr || !e.corr->GetFirst()) return nullptr;
  return e.corr->GetFirst()->GetFPoint3D().Get();
}

double Row(const Matrix3x4& p, int r, const vm::Vector3& x) {
  return p[r][0] * x.x + p[r][1] * x.y + p[r][2] * x.z + p[r][3];
}

// RMS reprojection error of the six sample elements; kNoFit when one is on the focal
// plane.
double SampleError(const Matrix3x4& p, const std::vector<const FeaturePoint3D*>& points,
                   const std::vector<CorrEl*>& sample) {
  double sum = 0.0;
  for (size_t i = 0; i < sample.size(); ++i) {
    const double w = Row(p, 2, *points[i]);
    if (w == 0.0) return kNoFit;
    const double du = sample[i]->x1 - Row(p, 0, *points[i]) / w;
    const double dv = sample[i]->y1 - Row(p, 1, *points[i]) / w;
    sum += du * du + dv * dv;
  }
  return std::sqrt(sum / static_cast<double>(sample.size()));
}

}  // namespace

ParameterSetProjMatrix::ParameterSetProjMatrix() = default;

ParameterSetProjMatrix::ParameterSetProjMatrix(const ParameterSetProjMatrix& other)
    : ParameterSet(other),
      BitMask(0),
      m_p(other.m_p),
      m_sx(other.m_sx),
      m_sy(other.m_sy),
      m_camera(other.m_camera) {}

bool ParameterSetProjMatrix::Project(const vm::Vector3& x, double& u, double& v) const {
  const double w = Row(m_p, 2, x);
  if (w == 0.0) return false;
  u = Row(m_p, 0, x) / w;
  v = Row(m_p, 1, x) / w;
  return true;
}

double ParameterSetProjMatrix::GetSquaredError(const CorrEl& element) const {
  const FeaturePoint3D* point = LaterOrEarlierPoint(element);
  double u = 0.0, v = 0.0;
  if (point == nullptr || !Project(*point, u, v)) return kNoFit;
  return 0.5 * ((v - element.y1) * (v - element.y1) + (u - element.x1) * (u - element.x1));
}

double ParameterSetProjMatrix::GetWeightedSquaredError(const CorrEl& element) const {
  const FeaturePoint3D* point = LaterPoint(element);
  double u = 0.0, v = 0.0;
  if (point == nullptr || !Project(*point, u, v)) return kNoFit;
  const double w = Row(m_p, 2, *point);
  const double r[2] = {u - element.x1, v - element.y1};
  // J (2x3): derivative of the projection by the point.
  double j[6];
  for (int c = 0; c < 3; ++c) {
    j[c] = (m_p[0][c] - u * m_p[2][c]) / w;
    j[3 + c] = (m_p[1][c] - v * m_p[2][c]) / w;
  }
  const Matrix3x3& s3 = point->GetCoVarianceMatrix();
  double js[6];  // J S3
  for (int row = 0; row < 2; ++row) {
    for (int c = 0; c < 3; ++c) {
      js[3 * row + c] =
          j[3 * row] * s3[0][c] + j[3 * row + 1] * s3[1][c] + j[3 * row + 2] * s3[2][c];
    }
  }
  Matrix2x2 weight;
  weight.MultiplyABt(js, j);
  const float* s2 = element.corr->GetSecond()->GetCoVariance();
  weight[0][0] += s2[0];
  weight[0][1] += s2[1];
  weight[1][0] += s2[1];
  weight[1][1] += s2[2];
  InvertMatrix2x2(weight, weight);  // the identity when singular
  return r[0] * (weight[0][0] * r[0] + weight[0][1] * r[1]) +
         r[1] * (weight[1][0] * r[0] + weight[1][1] * r[1]);
}

SharedPtr<ParameterSet> ParameterSetProjMatrix::Clone() const {
  return SharedPtr<ParameterSetProjMatrix>::Make(*this);
}

void SampleCalculatorProjMatrix::CalcParameter(const std::vector<CorrEl*>& sample) {
  m_parameter_sets.clear();
  if (sample.size() != 6) {
    Notify(2, "o_SampleCalculatorProjMatrixMatrix::CalcParameter: parameter list len should be 6");
    return;
  }
  std::vector<const FeaturePoint3D*> points(6);
  for (size_t i = 0; i < 6; ++i) {
    points[i] = LaterPoint(*sample[i]);
    if (points[i] == nullptr) {
      Notify(2, "o_SampleCalculatorProjMatrixMatrix::CalcParameter: at least one 3DFP is NULL");
      return;
    }
  }

  Matrix a(12, 12);
  a.SetZero();
  for (uint32_t i = 0; i < 6; ++i) {
    const double x = points[i]->x, y = points[i]->y, z = points[i]->z;
    const double u = sample[i]->x1, v = sample[i]->y1;
    const double row_v[12] = {0, 0, 0, 0, -x, -y, -z, -1, x * v, y * v, z * v, v};
    const double row_u[12] = {x, y, z, 1, 0, 0, 0, 0, -x * u, -y * u, -z * u, -u};
    for (uint32_t c = 0; c < 12; ++c) {
      a(i, c) = row_v[c];
      a(i + 6, c) = row_u[c];
    }
  }
  Vector solution;
  if (!SolveHomogeneousLeastSquares(&solution, nullptr, a)) return;
  Matrix3x4& p = set_.m_p;
  for (int c = 0; c < 12; ++c) p.m[c] = solution[static_cast<uint32_t>(c)];

  const double e0 = SampleError(p, points, sample);

  // One damped Gauss-Newton step on the twelve entries.
  Matrix jacobian(12, 12);
  jacobian.SetZero();
  Vector residual(12);
  bool usable = true;
  for (uint32_t i = 0; i < 6 && usable; ++i) {
    const vm::Vector3& x = *points[i];
    const double w = Row(p, 2, x);
    if (w == 0.0) {
      usable = false;
      break;
    }
    const double u = Row(p, 0, x) / w, v = Row(p, 1, x) / w;
    const double xh[4] = {x.x / w, x.y / w, x.z / w, 1.0 / w};
    double* ju = jacobian.Row(2 * i);
    double* jv = jacobian.Row(2 * i + 1);
    for (int c = 0; c < 4; ++c) {
      ju[c] = xh[c];
      ju[8 + c] = -u * xh[c];
      jv[4 + c] = xh[c];
      jv[8 + c] = -v * xh[c];
    }
    residual[2 * i] = sample[i]->x1 - u;
    residual[2 * i + 1] = sample[i]->y1 - v;
  }
  if (usable) {
    Matrix normal;
    normal.MultiplyAtB(jacobian, jacobian);
    for (uint32_t c = 0; c < 12; ++c) normal(c, c) *= 1.001;
    Vector rhs, delta;
    rhs.MultiplyTransposed(jacobian, residual);
    if (normal.InvertSymmetric(normal)) {
      delta.Multiply(normal, rhs);
      Matrix3x4 refined = p;
      for (uint32_t c = 0; c < 12; ++c) refined.m[c] += delta[c];
      if (SampleError(refined, points, sample) < e0) p = refined;
    }
  }
  m_parameter_sets.push_back(&set_);
}

bool SampleCalculatorProjMatrix::MakeCorrEl(const SharedPtr<FeatureCorrespondence>& corr,
                                            CorrEl& out) {
  if (!corr || !corr->GetFirst() || !corr->GetSecond()) return false;
  CorrElMapper mapper(m_current_camera);
  mapper.m_unit_mode = kCorrElPixels;
  return mapper.MapCorrespondence(corr, out);
}

void SampleCalculatorProjMatrix::Print() const {
  std::printf("\nProjectionMatrix : \n");
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 4; ++c) std::printf(" %f", set_.m_p[r][c]);
    std::printf("\n");
  }
  std::printf("\n");
}

void SampleCalculatorProjMatrix::InitCameraChanged() {
  set_.m_camera = m_init_camera;
  set_.m_sx = m_init_camera.GetPixelSizeX();
  set_.m_sy = m_init_camera.GetPixelSizeY();
}

void SampleCalculatorProjMatrix::CurrentCameraChanged() {
  set_.m_camera = m_current_camera;
  set_.m_sx = m_current_camera.GetPixelSizeX();
  set_.m_sy = m_current_camera.GetPixelSizeY();
}
