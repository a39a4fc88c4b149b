#include "optimise/bundle_adjuster_sparse.h"

#include <cmath>

#include "features/feature_image.h"
#include "foundation/camera/camera_geometry.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/notify.h"
#include "optimise/optimizer_sparse_lm.h"

namespace {

int Bit(unsigned mask, unsigned bit) {
  return (mask & bit) ? 1 : 0;
}

// The uncertainty results of a finished optimizer.
template <class Optimizer>
void StoreResults(const Optimizer& opt, int k, BundleAdjusterSparse& adjuster) {
  const int measurements = opt.m_data.GetNumberOfMeasurements();
  const int redundancy = 2 * measurements - (opt.m_num_parameters - opt.m_held);
  const double variance = opt.m_chisq / (redundancy > 0 ? redundancy : 1);
  double sum = 0.0;
  for (int j = 0; j < opt.m_num_points; ++j) {
    const double* v = opt.GetPointBlock(j);
    double inverse[9];
    if (k == 2) {
      sparse_lm::InvertBlock<2>(v, inverse);
      sum += std::sqrt(variance * (inverse[0] + inverse[3]) / 2.0);
    } else {
      sparse_lm::InvertBlock<3>(v, inverse);
      sum += std::sqrt(variance * (inverse[0] + inverse[4] + inverse[8]) / 3.0);
    }
  }
  adjuster.m_mean_point_std_dev = opt.m_num_points > 0 ? sum / opt.m_num_points : -1.0;
  adjuster.m_iterations = opt.m_iterations;
}

// The common start of a run: the log lines, the pixel sizes and the optimizer's data.
// False for an empty list.
template <class Optimizer>
bool StartRun(const char* method, const BundleAdjuster::ImageList& list,
              BundleAdjusterSparse& adjuster, Optimizer& opt) {
  Notify(5, "BundleAdjusterSparse::%s: started Sparse LM", method);
  Notify(5, "BundleAdjusterSparse::%s: before optimization RMSE %f [pel]", method,
         std::sqrt(BundleAdjuster::GetMSE(list, true)));
  if (list.empty()) {
    Notify(5, "BundleAdjusterSparse::%s: empty list of fimages", method);
    return false;
  }
  adjuster.m_pixel_width = list.front()->GetPixelSizeX();
  adjuster.m_pixel_height = list.front()->GetPixelSizeY();
  if (adjuster.m_parameter.m_max_iterations >= 0)
    opt.m_parameters.m_nMaxIterations = adjuster.m_parameter.m_max_iterations;
  opt.m_data.SetFImageList(list, &adjuster.m_parameter.m_parameter_mask);
  opt.m_data.SetInitialParameters(list);
  return true;
}

}  // namespace

BundleAdjusterSparse::~BundleAdjusterSparse() {
  m_fimage_list.clear();
}

void BundleAdjusterSparse::AddFImage(const SharedPtr<FeatureImage>& image) {
  m_fimage_list.push_back(image);
}

void BundleAdjusterSparse::SetFImageList(const ImageList& list) {
  m_fimage_list.clear();
  for (const SharedPtr<FeatureImage>& image : list) AddFImage(image);
}

bool BundleAdjusterSparse::Run(const ImageList& list, unsigned n) {
  SetFImageList(list);
  if (n == 0) n = static_cast<unsigned>(m_fimage_list.size());
  return Optimize(n);
}

bool BundleAdjusterSparse::Optimize(unsigned n) {
  const unsigned mask = m_parameter.m_parameter_mask;
  Notify(5,
         "BundleAdjusterSparse::Optimize: (p %d, t %d, r %d), (x %d, y %d, z %d), f %d, ppx %d, "
         "ppy %d, proj %d",
         Bit(mask, kCamPan), Bit(mask, kCamTilt), Bit(mask, kCamRoll), Bit(mask, kCamCentreX),
         Bit(mask, kCamCentreY), Bit(mask, kCamCentreZ), Bit(mask, kCamFocal),
         Bit(mask, kCamPrincipalX), Bit(mask, kCamPrincipalY), Bit(mask, kCamProjectionMatrix));
  Notify(5, "BundleAdjusterSparse::Optimize: m_parameter.m_estimate_model = %d",
         m_parameter.m_estimate_model);
  if (m_fimage_list.empty()) {
    Notify(5, "BundleAdjusterSparse::Optimize: empty list of fimages");
    return false;
  }
  if (n < m_fimage_list.size()) {
    m_fimage_list.erase(
        m_fimage_list.begin(),
        m_fimage_list.begin() + static_cast<std::ptrdiff_t>(m_fimage_list.size() - n));
    Notify(5, "BundleAdjusterSparse::Optimize: size of m_fimage_list: %d",
           static_cast<int>(m_fimage_list.size()));
  } else {
    Notify(5, "BundleAdjusterSparse::Optimize: optimizing whole fimage list");
  }
  try {
    switch (m_parameter.m_estimate_model) {
      case 0:
        return OptimizeRT();
      case 1:
        return OptimizeR();
      default:
        Notify(2, "BundleAdjusterSparse::Optimize: unknown estimate model %d",
               m_parameter.m_estimate_model);
        return false;
    }
  } catch (const char* text) {
    Notify(2, "BundleAdjusterSparse::Optimize: stopped with error \"%s\"", text);
    return false;
  }
}

bool BundleAdjusterSparse::OptimizeRT() {
  OptimizerSparseLM_RTKFPoint3D opt;
  if (!StartRun("OptimizeRT", m_fimage_list, *this, opt)) return false;
  const bool converged = opt.Optimize();
  if (converged)
    Notify(5, "BundleAdjusterSparse::OptimizeRT: Convergence within %d iterations.",
           opt.m_parameters.m_nMaxIterations);
  else
    Notify(5, "BundleAdjusterSparse::OptimizeRT: No convergence within %d itearations.",
           opt.m_parameters.m_nMaxIterations);

  const ModelRTKFPoint3DDataSparse& data = opt.m_data;
  const unsigned mask = data.GetMask();
  const int pc = data.GetParametersPerCamera();
  for (size_t c = 0; c < m_fimage_list.size(); ++c) {
    FeatureImage& image = *m_fimage_list[c];
    const double* block = opt.m_a.data() + c * static_cast<size_t>(pc);
    if (mask & kCamProjectionMatrix) {
      Matrix3x4 p;
      for (int r = 0; r < 3; ++r)
        for (int j = 0; j < 4; ++j) p[r][j] = block[4 * r + j];
      GetCameraFromProjectionMatrix(p, image);
      continue;
    }
    double pan, tilt, roll;
    GetCameraAngles(image, pan, tilt, roll);
    vm::Vector3 centre = image.GetC();
    double f = image.GetFocalLength();
    int n = 0;
    if (mask & kCamPan) pan = block[n++];
    if (mask & kCamTilt) tilt = block[n++];
    if (mask & kCamRoll) roll = block[n++];
    if (mask & kCamCentreX) centre.x = block[n++];
    if (mask & kCamCentreY) centre.y = block[n++];
    if (mask & kCamCentreZ) centre.z = block[n++];
    if (mask & kCamFocal) f = block[n++];
    PerspectiveCamera turned;
    NormalizeCameraPose(turned);
    SetCameraPTRZ(turned, pan, tilt, roll, 1.0);
    image.SetAll(centre, turned.GetA(), turned.GetH(), turned.GetV(), image.GetWidth(),
                 image.GetHeight(), image.GetPixelSizeX(), image.GetPixelSizeY(),
                 image.GetDistortionCoefficients(), image.GetFurtherValues(),
                 image.GetDistortionModel());
    image.SetFocalLength(f);
  }
  const double* points = opt.m_a.data() + static_cast<size_t>(data.GetNumberOfCameras()) * pc;
  const std::vector<FeaturePoint3D*>& list = data.GetFPoint3DList();
  for (size_t j = 0; j < list.size(); ++j) {
    list[j]->x = points[3 * j];
    list[j]->y = points[3 * j + 1];
    list[j]->z = points[3 * j + 2];
  }
  m_final_rmse = std::sqrt(GetMSE(m_fimage_list, true));
  Notify(4, "BundleAdjusterSparse::OptimizeRT: final RMSE %f [pel]", m_final_rmse);
  StoreResults(opt, 3, *this);
  return converged;
}

bool BundleAdjusterSparse::OptimizeR() {
  OptimizerSparseLM_RKFPoint3D opt;
  if (!StartRun("OptimizeR", m_fimage_list, *this, opt)) return false;
  const bool converged = opt.Optimize();
  if (converged)
    Notify(5, "BundleAdjusterSparse::OptimizeR: Convergence within 100 iterations.");
  else
    Notify(5, "BundleAdjusterSparse::OptimizeR: No convergence within 100 itearations.");

  // The data's mask: it has no principal-point bits (the rotation-only model drops them).
  const unsigned mask = opt.m_data.GetMask();
  const std::vector<double>& a = opt.m_a;
  size_t index = 0;
  auto next = [&]() { return index < a.size() ? a[index++] : 0.0; };
  for (const SharedPtr<FeatureImage>& image : m_fimage_list) {
    double pan, tilt, roll;
    GetCameraAngles(*image, pan, tilt, roll);
    if (mask & kCamPan) pan = next();
    if (mask & kCamTilt) tilt = next();
    if (mask & kCamRoll) roll = next();
    NormalizeCameraPose(*image);
    SetCameraPTRZ(*image, pan, tilt, roll, 1.0);
    if (mask & kCamFocal) image->SetFocalLength(next());
  }
  for (FeaturePoint3D* point : opt.m_data.GetFPoint3DList()) {
    point->x = next();
    point->y = next();
  }
  if (index != a.size())
    Notify(2, "BundleAdjusterSparse::OptimizeR: parameter size %d and index %d missmatch",
           static_cast<int>(a.size()), static_cast<int>(index));
  m_final_rmse = std::sqrt(GetMSE(m_fimage_list, true));
  Notify(5, "BundleAdjusterSparse::OptimizeR: final RMSE %f [pel]\n", m_final_rmse);
  StoreResults(opt, 2, *this);
  return converged;
}
