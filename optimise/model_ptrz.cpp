#include "optimise/model_ptrz.h"

#include <cmath>

#include "foundation/runtime/notify.h"
#include "geometry/two_view_transfer.h"

namespace {

// The elements of list between a and b; false (no elements) for a null camera.
bool BuildElements(const t_ListFCorr& list, const PerspectiveCamera* a, const PerspectiveCamera* b,
                   std::vector<CorrEl>& elements) {
  elements.clear();
  if (a == nullptr || b == nullptr) return false;
  MakePanTiltRollElements(list, *a, *b, elements);
  return true;
}

// Values and gradients of the pan/tilt/roll/zoom prediction at focal length f. With
// with_f the fifth gradient entry is d/df. False when W.r = 0.
bool Predict(double x0, double y0, double f, const std::vector<double>& p, bool with_f,
             ModelOutput out[2], int mode) {
  const double pan = p[0], tilt = p[1], roll = p[2], z = p[3];
  const PanTiltRollRows m(pan, tilt, roll);
  const double cp = std::cos(pan), sp = std::sin(pan);
  const double ct = std::cos(tilt), st = std::sin(tilt);
  const double cr = std::cos(roll), sr = std::sin(roll);
  const vm::Vector3 r{x0, y0, f};
  const double a = m.u.Dot(r), b = m.v.Dot(r), c = m.w.Dot(r);
  if (c == 0.0) return false;
  const double u = z * f * a / c;
  const double v = z * f * b / c;
  if (mode != 1) {
    out[0].value = u;
    out[1].value = v;
  }
  if (mode == 0) return true;
  const size_t n = with_f ? 5 : 4;
  out[0].gradient.resize(n);
  out[1].gradient.resize(n);
  const double zf = z * f, c2 = c * c;
  // Pan.
  const double da_p = x0 * m.u.z - f * m.u.x, db_p = x0 * m.v.z - f * m.v.x;
  const double dc_p = x0 * cp * ct - f * sp * ct;
  out[0].gradient[0] = zf * (da_p * c - a * dc_p) / c2;
  out[1].gradient[0] = zf * (db_p * c - b * dc_p) / c2;
  // Tilt.
  const double da_t = sr * c, db_t = cr * c;
  const double dc_t = -x0 * sp * st - y0 * ct - f * cp * st;
  out[0].gradient[1] = zf * (da_t * c - a * dc_t) / c2;
  out[1].gradient[1] = zf * (db_t * c - b * dc_t) / c2;
  // Roll turns the prediction about the principal point.
  out[0].gradient[2] = v;
  out[1].gradient[2] = -u;
  // Zoom.
  out[0].gradient[3] = f * a / c;
  out[1].gradient[3] = f * b / c;
  if (with_f) {
    out[0].gradient[4] = z * ((a + f * m.u.z) / c - f * a * cp * ct / c2);
    out[1].gradient[4] = z * ((b + f * m.v.z) / c - f * b * cp * ct / c2);
  }
  return true;
}

}  // namespace

void MakePanTiltRollElements(const t_ListFCorr& list, const PerspectiveCamera& a,
                             const PerspectiveCamera& b, std::vector<CorrEl>& elements) {
  elements.clear();
  CorrElFromCorrespondenceIcsCp builder(a, b);
  CorrEl element;
  for (const SharedPtr<FeatureCorrespondence>& corr : list) {
    if (!corr || !corr->GetFirst() || !corr->GetSecond()) continue;
    if (builder(corr, element)) elements.push_back(element);
  }
}

// ---- ModelPTRZData

ModelPTRZData::ModelPTRZData() : m_start{0.0, 0.0, 0.0, 1.0} {}

ModelPTRZData::~ModelPTRZData() {
  m_start.clear();
  m_elements.clear();
}

void ModelPTRZData::SetCorrespondences(const t_ListFCorr& list, const PerspectiveCamera* a,
                                       const PerspectiveCamera* b) {
  if (!BuildElements(list, a, b, m_elements)) {
    Notify(2, "ModelPTRZData::SetCorrespondences: camera == NULL !");
    return;
  }
  m_f = a->GetFocalLength();
  Notify(9, "ModelPTRZData::SetCorrespondences: no. of correspondences: %d",
         static_cast<int>(m_elements.size()));
}

void ModelPTRZData::SetCorrespondences(FeatureCorrespondenceIterator iterator,
                                       const PerspectiveCamera* a, const PerspectiveCamera* b) {
  t_ListFCorr list;
  while (SharedPtr<FeatureCorrespondence> corr = iterator.Next()) list.push_back(corr);
  SetCorrespondences(list, a, b);
}

void ModelPTRZData::SetFocalLength(const PerspectiveCamera& camera) {
  m_f = camera.GetFocalLength();
}

void ModelPTRZData::GetModelInput(unsigned i, ModelPTRZInput& out) const {
  out.x0 = m_elements[i].x0;
  out.y0 = m_elements[i].y0;
  out.f = m_f;
}

void ModelPTRZData::GetMeasurement(unsigned i, double out[2]) const {
  out[0] = m_elements[i].x1;
  out[1] = m_elements[i].y1;
}

// ---- ModelPTRZFData

ModelPTRZFData::ModelPTRZFData() : m_start{0.0, 0.0, 0.0, 1.0, 10.0} {}

ModelPTRZFData::~ModelPTRZFData() {
  m_start.clear();
  m_elements.clear();
}

void ModelPTRZFData::SetCorrespondences(const t_ListFCorr& list, const PerspectiveCamera* a,
                                        const PerspectiveCamera* b) {
  if (!BuildElements(list, a, b, m_elements))
    Notify(2, "ModelPTRZFData::SetCorrespondences: camera == NULL !");
}

void ModelPTRZFData::SetInitialParameters(double pan, double tilt, double roll, double zoom,
                                          double f) {
  m_start = {pan, tilt, roll, zoom, f};
}

void ModelPTRZFData::GetModelInput(unsigned i, ModelPTRZFInput& out) const {
  out.x0 = m_elements[i].x0;
  out.y0 = m_elements[i].y0;
}

void ModelPTRZFData::GetMeasurement(unsigned i, double out[2]) const {
  out[0] = m_elements[i].x1;
  out[1] = m_elements[i].y1;
}

// ---- models

bool ModelPTRZ::ComputeWithGradient(const ModelPTRZInput& input, const std::vector<double>& p,
                                    ModelOutput out[2], int mode) {
  if (p.size() != 4) return false;
  return Predict(input.x0, input.y0, input.f, p, false, out, mode);
}

bool ModelPTRZF::ComputeWithGradient(const ModelPTRZFInput& input, const std::vector<double>& p,
                                     ModelOutput out[2], int mode) {
  if (p.size() != 5) {
    // The count comes from the caller's data: refuse it rather than end the program.
    Notify(2, "ModelPTRZF::ComputeWithGradient: bad list size of parameters: %d !",
           static_cast<int>(p.size()));
    return false;
  }
  return Predict(input.x0, input.y0, p[4], p, true, out, mode);
}
