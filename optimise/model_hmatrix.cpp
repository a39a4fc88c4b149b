#include "optimise/model_hmatrix.h"

#include "foundation/numeric/dense_matrix.h"
#include "foundation/runtime/notify.h"

int ModelHMatrixSettings::K3Index(int image) const {
  if (!m_variant) return (k3_0 || k3_1) ? 8 : -1;
  if (image == 0) return k3_0 ? 8 : -1;
  return k3_1 ? 8 + int(k3_0) : -1;
}

int ModelHMatrixSettings::K5Index(int image) const {
  if (!m_variant) return (k5_0 || k5_1) ? 8 + int(k3_0 || k3_1) : -1;
  const int first = 8 + int(k3_0) + int(k3_1);
  if (image == 0) return k5_0 ? first : -1;
  return k5_1 ? first + int(k5_0) : -1;
}

unsigned ModelHMatrixSettings::NumberOfParameters() const {
  if (!m_variant) return 8u + unsigned(k3_0 || k3_1) + unsigned(k5_0 || k5_1);
  return 8u + unsigned(k3_0) + unsigned(k3_1) + unsigned(k5_0) + unsigned(k5_1);
}

const char* ModelHMatrixSettings::MeasureName() const {
  switch (m_distance_measure) {
    case kHMatrixSymmetricError:
      return "SymmetricError";
    case kHMatrixOnlyError0:
      return "OnlyError_0";
    case kHMatrixOnlyError1:
      return "OnlyError_1";
    default:
      return nullptr;
  }
}

namespace {

// Raw variables of the residuals: h11 .. h32, then K3_0, K5_0, K3_1, K5_1.
constexpr int kRaw = 12;
constexpr int kK3_0 = 8, kK5_0 = 9, kK3_1 = 10, kK5_1 = 11;

}  // namespace

bool ModelHMatrix::ComputeWithGradient(const ModelHMatrixInput& in, const std::vector<double>& a,
                                       ModelOutput out[4], int mode) {
  const ModelHMatrixSettings& s = m_settings;
  const int measure = s.m_distance_measure;
  if (s.MeasureName() == nullptr) {
    Notify(2, "ModelHMatrix::ComputeWithGradient: bad distance measure type");
    return false;
  }
  const double* h = a.data();
  const int index[4] = {s.K3Index(0), s.K5Index(0), s.K3Index(1), s.K5Index(1)};
  const double* own0 = in.camera0->GetDistortionCoefficients();
  const double* own1 = in.camera1->GetDistortionCoefficients();
  const double k3_0 = index[0] >= 0 ? a[index[0]] : own0[0];
  const double k5_0 = index[1] >= 0 ? a[index[1]] : own0[1];
  const double k3_1 = index[2] >= 0 ? a[index[2]] : own1[0];
  const double k5_1 = index[3] >= 0 ? a[index[3]] : own1[1];

  const double r0 = in.x0 * in.x0 + in.y0 * in.y0, r1 = in.x1 * in.x1 + in.y1 * in.y1;
  const double s0 = 1.0 + k3_0 * r0 + k5_0 * r0 * r0, s1 = 1.0 + k3_1 * r1 + k5_1 * r1 * r1;
  const double px = s0 * in.x0, py = s0 * in.y0;  // undistorted in image 0
  const double X = s1 * in.x1, Y = s1 * in.y1;    // undistorted in image 1

  const double w = h[6] * px + h[7] * py + 1.0;
  if (w == 0.0) {
    Notify(2, "ModelHMatrix::ComputeWithGradient: denominator H == 0.0 !");
    return false;
  }
  // q = adj(H) (X, Y, 1).
  const double adj[9] = {
      h[4] - h[5] * h[7],        h[2] * h[7] - h[1],        h[1] * h[5] - h[2] * h[4],
      h[5] * h[6] - h[3],        h[0] - h[2] * h[6],        h[2] * h[3] - h[0] * h[5],
      h[3] * h[7] - h[4] * h[6], h[1] * h[6] - h[0] * h[7], h[0] * h[4] - h[1] * h[3]};
  const double qa = adj[0] * X + adj[1] * Y + adj[2];
  const double qb = adj[3] * X + adj[4] * Y + adj[5];
  const double qc = adj[6] * X + adj[7] * Y + adj[8];
  if (qc == 0.0) {
    Notify(2, "ModelHMatrix::ComputeWithGradient: denominator inv. H == 0.0 !");
    return false;
  }
  const double nx = h[0] * px + h[1] * py + h[2], ny = h[3] * px + h[4] * py + h[5];
  const double e1x = nx / w - X, e1y = ny / w - Y;
  const double e0x = qa / qc - px, e0y = qb / qc - py;

  // Gradients over the raw variables.
  double g1x[kRaw] = {}, g1y[kRaw] = {}, g0x[kRaw] = {}, g0y[kRaw] = {};
  if (mode != 0) {
    // Forward: (H p0)/w - p1.
    const double iw = 1.0 / w, iw2 = iw * iw;
    g1x[0] = px * iw, g1x[1] = py * iw, g1x[2] = iw;
    g1y[3] = px * iw, g1y[4] = py * iw, g1y[5] = iw;
    g1x[6] = -nx * px * iw2, g1x[7] = -nx * py * iw2;
    g1y[6] = -ny * px * iw2, g1y[7] = -ny * py * iw2;
    // d(e1)/d(p0) times d(p0)/dK = r^2 (x0, y0) or r^4 (x0, y0).
    const double dxpx = (h[0] * w - nx * h[6]) * iw2, dxpy = (h[1] * w - nx * h[7]) * iw2;
    const double dypx = (h[3] * w - ny * h[6]) * iw2, dypy = (h[4] * w - ny * h[7]) * iw2;
    const double fx = dxpx * in.x0 + dxpy * in.y0, fy = dypx * in.x0 + dypy * in.y0;
    g1x[kK3_0] = fx * r0, g1x[kK5_0] = fx * r0 * r0;
    g1y[kK3_0] = fy * r0, g1y[kK5_0] = fy * r0 * r0;
    g1x[kK3_1] = -in.x1 * r1, g1x[kK5_1] = -in.x1 * r1 * r1;
    g1y[kK3_1] = -in.y1 * r1, g1y[kK5_1] = -in.y1 * r1 * r1;

    // Backward: (qa, qb) / qc - p0 with q = adj(H) (X, Y, 1).
    const double da[8] = {
        0.0, -Y + h[5],           h[7] * Y - h[4], 0.0, X - h[2], -h[7] * X + h[1],
        0.0, -h[5] * X + h[2] * Y};
    const double db[8] = {
        Y - h[5], 0.0, -h[6] * Y + h[3], -X + h[2], 0.0, h[6] * X - h[0], h[5] * X - h[2] * Y, 0.0};
    const double dc[8] = {-h[7] * Y + h[4],     h[6] * Y - h[3],    0.0,
                          h[7] * X - h[1],      -h[6] * X + h[0],   0.0,
                          -h[4] * X + h[1] * Y, h[3] * X - h[0] * Y};
    const double ic = 1.0 / qc, ic2 = ic * ic;
    for (int k = 0; k < 8; ++k) {
      g0x[k] = (da[k] * qc - qa * dc[k]) * ic2;
      g0y[k] = (db[k] * qc - qb * dc[k]) * ic2;
    }
    // d(q)/dX and d(q)/dY are adj's first two columns.
    const double ax = (adj[0] * qc - qa * adj[6]) * ic2, ay = (adj[1] * qc - qa * adj[7]) * ic2;
    const double bx = (adj[3] * qc - qb * adj[6]) * ic2, by = (adj[4] * qc - qb * adj[7]) * ic2;
    const double gx = ax * in.x1 + ay * in.y1, gy = bx * in.x1 + by * in.y1;
    g0x[kK3_1] = gx * r1, g0x[kK5_1] = gx * r1 * r1;
    g0y[kK3_1] = gy * r1, g0y[kK5_1] = gy * r1 * r1;
    g0x[kK3_0] = -in.x0 * r0, g0x[kK5_0] = -in.x0 * r0 * r0;
    g0y[kK3_0] = -in.y0 * r0, g0y[kK5_0] = -in.y0 * r0 * r0;
  }

  const double zero[kRaw] = {};
  double v[4] = {0.0, 0.0, 0.0, 0.0};
  const double* grads[4] = {zero, zero, zero, zero};
  if (measure == kHMatrixSymmetricError) {
    v[0] = e1x, v[1] = e1y, v[2] = e0x, v[3] = e0y;
    grads[0] = g1x, grads[1] = g1y, grads[2] = g0x, grads[3] = g0y;
  } else if (measure == kHMatrixOnlyError0) {
    v[0] = e0x, v[1] = e0y;
    grads[0] = g0x, grads[1] = g0y;
  } else {
    v[0] = e1x, v[1] = e1y;
    grads[0] = g1x, grads[1] = g1y;
  }
  const size_t n = a.size();
  const int raw_k[4] = {kK3_0, kK5_0, kK3_1, kK5_1};
  for (int j = 0; j < 4; ++j) {
    out[j].value = v[j];
    if (mode == 0) continue;
    out[j].gradient.assign(n, 0.0);
    for (int k = 0; k < 8; ++k) out[j].gradient[k] = grads[j][k];
    // A shared coefficient collects the terms of both images.
    for (int c = 0; c < 4; ++c)
      if (index[c] >= 0) out[j].gradient[index[c]] += grads[j][raw_k[c]];
  }
  return true;
}

ModelHMatrixData::ModelHMatrixData() : m_start(12, 0.0) {
  m_start[0] = m_start[4] = 1.0;
}

namespace {

// A feature in mm about the camera's principal point, centred with width/2.
void ToMillimetres(const FeaturePoint2D& f, const PerspectiveCamera& camera, double& x, double& y) {
  x = (f.x - camera.GetWidth() / 2.0 - camera.GetCenterPointX()) * camera.GetPixelSizeX();
  y = (f.y - camera.GetHeight() / 2.0 - camera.GetCenterPointY()) * camera.GetPixelSizeY();
}

}  // namespace

void ModelHMatrixData::SetData(const t_ListFCorr& correspondences, const PerspectiveCamera* camera0,
                               const PerspectiveCamera* camera1,
                               const ModelHMatrixSettings& settings) {
  m_settings = settings;
  m_samples.clear();
  m_samples.reserve(correspondences.size());
  for (const SharedPtr<FeatureCorrespondence>& corr : correspondences) {
    CorrEl e;
    ToMillimetres(*corr->GetFirst(), *camera0, e.x0, e.y0);
    ToMillimetres(*corr->GetSecond(), *camera1, e.x1, e.y1);
    e.corr = corr;
    m_samples.push_back(e);
  }
}

void ModelHMatrixData::SetInitialParameters(const Matrix& h, const PerspectiveCamera* camera0,
                                            const PerspectiveCamera* camera1) {
  m_start.assign(m_settings.NumberOfParameters(), 0.0);
  m_camera0 = camera0;
  m_camera1 = camera1;
  const double h33 = h(2, 2);
  if (h33 == 0.0) {
    Notify(2, "ModelHMatrixData::SetInitialParameters: h33==0.0 !");
    return;
  }
  const double scale = 1.0 / h33;
  for (uint32_t i = 0; i < 8; ++i) m_start[i] = h(i / 3, i % 3) * scale;
  const double* k0 = camera0->GetDistortionCoefficients();
  const double* k1 = camera1->GetDistortionCoefficients();
  const int i30 = m_settings.K3Index(0), i31 = m_settings.K3Index(1);
  const int i50 = m_settings.K5Index(0), i51 = m_settings.K5Index(1);
  if (m_settings.m_variant) {
    if (i30 >= 0) m_start[i30] = k0[0];
    if (i31 >= 0) m_start[i31] = k1[0];
    if (i50 >= 0) m_start[i50] = k0[1];
    if (i51 >= 0) m_start[i51] = k1[1];
  } else {
    if (i30 >= 0) m_start[i30] = (k0[0] + k1[0]) / 2.0;
    if (i50 >= 0) m_start[i50] = (k0[1] + k1[1]) / 2.0;
  }
}

void ModelHMatrixData::GetModelInput(unsigned i, ModelHMatrixInput& out) const {
  const CorrEl& e = m_samples[i];
  out.x0 = e.x0, out.y0 = e.y0, out.x1 = e.x1, out.y1 = e.y1;
  out.camera0 = m_camera0;
  out.camera1 = m_camera1;
}
