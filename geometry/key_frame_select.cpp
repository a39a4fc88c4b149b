#include "geometry/key_frame_select.h"

#include <cmath>

#include "features/feature_correspondence_iterator.h"
#include "features/feature_image.h"
#include "foundation/runtime/notify.h"
#include "geometry/fmatrix.h"
#include "geometry/rand_sampling.h"
#include "geometry/sample_calculator_fmatrix.h"

namespace {

// The image's own index for messages; -1 for a missing image.
long ImageIndex(const SharedPtr<FeatureImage>& image) {
  return image ? long(image->GetImageIndex()) : -1L;
}

}  // namespace

KeyFrameSelect::KeyFrame::KeyFrame(const SharedPtr<FeatureImage>& first,
                                   const SharedPtr<FeatureImage>& second)
    : m_fimage1(first), m_fimage2(second) {}

KeyFrameSelect::KeyFrame::~KeyFrame() = default;

unsigned KeyFrameSelect::KeyFrame::SearchCorrespondences() {
  if (!m_fimage1 || !m_fimage2) {
    Notify(4, "KeyFrameSelect::KeyFrame::SearchCorrespondences: key image(s) not set");
    return 0;
  }
  m_camera1.CopyFrom(*m_fimage1, false);
  m_camera2.CopyFrom(*m_fimage2, false);
  m_corr_list.clear();
  Notify(4,
         "rt_KeyFrameSelect::KeyFrame::SearchCorrespondences: search correspondences for key "
         "frame %d<->%d",
         int(m_fimage1->GetImageIndex()), int(m_fimage2->GetImageIndex()));
  const int32_t first_index = m_fimage1->GetImageIndex();
  FeatureCorrespondenceIterator links(m_fimage2.Get(), FCORR_SUPPORT_TRUE, true);
  for (SharedPtr<FeatureCorrespondence> c0 = links.Next(); c0; c0 = links.Next()) {
    SharedPtr<FeatureCorrespondence> c = c0;
    while (c && (c->GetFlags() & FCORR_SUPPORT_TRUE)) {
      const SharedPtr<FeaturePoint2D>& f = c->GetFirst();
      if (!f || !f->GetImage()) break;
      if (f->GetImage()->GetImageIndex() == first_index) {
        auto pair = SharedPtr<FeatureCorrespondence>::Make(f, c0->GetSecond());
        pair->SetScore(0.0f);
        pair->SetFlags(FCORR_SUPPORT_TRUE);
        m_corr_list.push_back(pair);
        break;  // a track passes the first image once
      }
      c = f->GetPredecessor();
    }
  }
  return unsigned(m_corr_list.size());
}

std::vector<SharedPtr<FeatureCorrespondence>> KeyFrameSelect::KeyFrame::SampleFMatrix(
    double sigma, FMatrix& fmatrix, double& cost) {
  auto calculator = SharedPtr<SampleCalculatorFMatrix>::Make();
  calculator->SetInitCamera(m_camera1);
  calculator->SetCurrentCamera(m_camera2);
  RandSampling sampler;
  RandSampling::Parameter parameter;
  parameter.m_scoring = 1;
  parameter.m_threshold_mode = 1;
  parameter.m_sigma = 0.5 * sigma;
  parameter.m_max_searchs = 20000;
  parameter.m_min_searchs = 1000;
  parameter.m_adaptive = false;
  parameter.m_ratio = 0.8;
  sampler.SetParameter(parameter);
  sampler.SetSampleCalculator(calculator);
  sampler.SetCurrentCamera(m_camera2);
  sampler.SetCorrespondences(m_corr_list);
  sampler.Run(FCORR_SUPPORT_TRUE);
  cost = sampler.GetBestCost();

  std::vector<SharedPtr<FeatureCorrespondence>> inliers;
  for (const SharedPtr<FeatureCorrespondence>& c : m_corr_list) {
    if ((c->GetFlags() & FCORR_SUPPORT_TRUE)) inliers.push_back(c);
  }
  const SharedPtr<ParameterSetFMatrix> best =
      SharedPtrDynamicCast<ParameterSetFMatrix>(sampler.GetParameterSet());
  if (best) fmatrix.SetMatrix(best->m_fmatrix.m);
  fmatrix.SetCorrespondences(inliers, m_camera1, m_camera2);
  return inliers;
}

void KeyFrameSelect::KeyFrame::EstimateCameras(double sigma, bool calibration_unknown,
                                               double focal_prior) {
  if (!m_fimage1 || !m_fimage2) {
    Notify(4, "KeyFrameSelect::KeyFrame::EstimateCameras: key image(s) not set");
    return;
  }
  FMatrix fmatrix;
  double cost = 0.0;
  const std::vector<SharedPtr<FeatureCorrespondence>> inliers = SampleFMatrix(sigma, fmatrix, cost);
  const bool verbose = NotifyContext::GetNotifyLevel() >= 5;
  if (verbose) {
    Notify(5,
           "KeyFrameSelect::KeyFrame::EstimateCameras: images %ld,%ld, "
           "RMSESymmetricEpipolarDistance F-Matrix after RANSAC: %f",
           ImageIndex(m_fimage1), ImageIndex(m_fimage2),
           std::sqrt(fmatrix.GetMSESymmetricEpipolarDistance()));
  }
  EstimatorFMatrix estimator;
  estimator.SetCorrespondences(inliers, m_camera1, m_camera2);
  estimator.NormalizedEightPointAlgorithm(fmatrix);
  if (verbose) {
    Notify(5,
           "KeyFrameSelect::KeyFrame::EstimateCameras: images %ld,%ld, "
           "RMSESymmetricEpipolarDistance F-Matrix after NEPA: %f",
           ImageIndex(m_fimage1), ImageIndex(m_fimage2),
           std::sqrt(fmatrix.GetMSESymmetricEpipolarDistance()));
  }
  const int distance = m_fimage2->GetImageIndex() - m_fimage1->GetImageIndex();
  if (calibration_unknown) {
    fmatrix.RectifyCAHVtoFMatrixUnknownK(distance, m_camera1, m_camera2, focal_prior);
  } else {
    fmatrix.RectifyCAHVtoFMatrixKnownK(distance, m_camera1, m_camera2);
  }
}

KeyFrameSelect::KeyFrameSelect(const ImageList* reconstructed)
    : m_reconstructed_list(reconstructed) {}

KeyFrameSelect::~KeyFrameSelect() = default;

void KeyFrameSelect::Clear() {
  m_keyframe_list.clear();
}

void KeyFrameSelect::Reset() {
  m_keyframe_list.clear();
  m_protocol.clear();
}

void KeyFrameSelect::AppendToProtocol(const KeyFrame& pair) {
  m_protocol.push_back(pair);
}

void KeyFrameSelect::AppendKeyFrame(const KeyFrame& pair) {
  m_keyframe_list.push_back(pair);
}

int KeyFrameSelect::ManualKeyFrame(const ImageList& list, int first, int second) {
  const bool unknown = IsCalibrationUnknown();
  const long size = long(list.size());
  if (size < 2) {
    Notify(2, "KeyFrameSelect::ManualKeyFrame: no. of images < 2");
    return 4;
  }
  if (first < 0 || second < 0 || first >= size || second >= size) {
    Notify(5, "KeyFrameSelect::ManualKeyFrame: key frames %ld, %ld out of range [0, %ld]",
           long(first), long(second), size);
    return 4;
  }
  if (second <= first) {
    Notify(5, "KeyFrameSelect::ManualKeyFrame: second keyframe (%ld) greater than first (%ld)",
           long(second), long(first));
    return 4;
  }
  if (second != size - 1) return 1;
  if (!(m_std_dev_max > 0.0)) {
    // A zero deviation gives a zero inlier threshold: no geometry could be estimated.
    Notify(2, "KeyFrameSelect::ManualKeyFrame: feature standard deviation %g not positive",
           m_std_dev_max);
    return 4;
  }

  KeyFrame pair(list[size_t(first)], list[size_t(second)]);
  Notify(4, "KeyFrameSelect::ManualKeyFrame: Added keyframe %d<->%d",
         int(ImageIndex(pair.m_fimage1)), int(ImageIndex(pair.m_fimage2)));
  if (pair.SearchCorrespondences() < 7) {
    if (m_keyframe_list.empty()) {
      Notify(
          2,
          "KeyFrameSelect::ManualKeyFrame: ERROR: Manual selected keyframe %d is not in sequence",
          m_parameter.m_second_keyframe);
      return 4;
    }
    return 2;
  }
  pair.m_index = int(m_keyframe_list.size());
  m_keyframe_list.push_back(pair);
  for (KeyFrame& record : m_keyframe_list) {
    record.EstimateCameras(m_std_dev_max, unknown, m_parameter.m_focal_prior);
    record.m_fimage1->CopyFrom(record.m_camera1, true);
    record.m_fimage2->CopyFrom(record.m_camera2, true);
  }
  return 0;
}
