#include "optimise/model_rt.h"

#include <cmath>

#include "foundation/runtime/notify.h"
#include "geometry/two_view_transfer.h"
#include "optimise/model_ptrz.h"

ModelRTData::ModelRTData() : m_start(5, 0.0) {}

ModelRTData::~ModelRTData() {
  m_start.clear();
  m_elements.clear();
}

void ModelRTData::SetCorrespondences(const t_ListFCorr& list, const PerspectiveCamera* a,
                                     const PerspectiveCamera* b) {
  m_elements.clear();
  m_depth_signs.clear();
  if (a == nullptr || b == nullptr) {
    Notify(2, "ModelRTData::SetCorrespondences: camera == NULL !");
    return;
  }
  m_camera = *a;
  m_f = a->GetFocalLength();
  MakePanTiltRollElements(list, *a, *b, m_elements);
  m_depth_signs.assign(m_elements.size(), 0);
}

void ModelRTData::SetCorrespondences(FeatureCorrespondenceIterator iterator,
                                     const PerspectiveCamera* a, const PerspectiveCamera* b) {
  t_ListFCorr list;
  while (SharedPtr<FeatureCorrespondence> corr = iterator.Next()) list.push_back(corr);
  SetCorrespondences(list, a, b);
}

void ModelRTData::GetModelInput(unsigned i, ModelRTInput& out) const {
  const CorrEl& e = m_elements[i];
  out.x0 = e.x0;
  out.y0 = e.y0;
  out.x1 = e.x1;
  out.y1 = e.y1;
  out.corr = e.corr;
  out.f = m_f;
  if (m_depth_signs.size() != m_elements.size()) m_depth_signs.assign(m_elements.size(), 0);
  out.depth_sign = &m_depth_signs[i];
}

void ModelRTData::GetMeasurement(unsigned i, double out[2]) const {
  out[0] = m_elements[i].x1;
  out[1] = m_elements[i].y1;
}

vm::Vector3 ModelRT::GetTransFromAB(double a, double b) {
  if (a == 0.0 && b == 0.0) {
    Notify(2, "ModelRT::GetTransFromAB: a=0.0 and b=0.0");
    return {0.0, 0.0, 0.0};
  }
  const double s = 1.0 / std::sqrt(a * a + b * b + 1.0);
  return {a * s, b * s, s};
}

namespace {

void Transfer(const ModelRTInput& in, const double* p, double& u, double& v) {
  const vm::Vector3 t = ModelRT::GetTransFromAB(p[3], p[4]);
  u = TwoViewReprojectU(p[0], p[1], p[2], 1.0, t, in.f, in.x0, in.y0, in.x1, in.y1);
  v = TwoViewReprojectV(p[0], p[1], p[2], 1.0, t, in.f, in.x0, in.y0, in.x1, in.y1);
}

}  // namespace

bool ModelRT::ComputeWithGradient(const ModelRTInput& input, const std::vector<double>& p,
                                  ModelOutput out[2], int mode) {
  if (p.size() != 5) return false;
  double u = 0.0, v = 0.0;
  Transfer(input, p.data(), u, v);
  if (input.depth_sign != nullptr) {
    const vm::Vector3 t = GetTransFromAB(p[3], p[4]);
    const double lambda =
        TwoViewDepth(p[0], p[1], p[2], 1.0, t, input.f, input.x0, input.y0, input.x1, input.y1);
    *input.depth_sign = lambda < 0.0 ? -1 : 1;
  }
  if (mode != 1) {
    out[0].value = u;
    out[1].value = v;
  }
  if (mode == 0) return true;
  out[0].gradient.resize(5);
  out[1].gradient.resize(5);
  double q[5];
  for (int k = 0; k < 5; ++k) {
    const bool angle = k < 3;
    const double h = angle ? 1e-6 : 10.0;
    const double scale = angle ? 500000.0 : 0.05;
    for (int j = 0; j < 5; ++j) q[j] = p[j];
    double u_minus = 0.0, v_minus = 0.0, u_plus = 0.0, v_plus = 0.0;
    q[k] = p[k] - h;
    Transfer(input, q, u_minus, v_minus);
    q[k] = p[k] + h;
    Transfer(input, q, u_plus, v_plus);
    out[0].gradient[k] = (u_plus - u_minus) * scale;
    out[1].gradient[k] = (v_plus - v_minus) * scale;
  }
  return true;
}
