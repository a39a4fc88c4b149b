#include "tracking/maps/feature_map.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>
#include <utility>

#include "features/correspondence_dump.h"
#include "foundation/project/data_base_in.h"
#include "foundation/runtime/notify.h"
#include "foundation/tracks/feature_correspondence.h"
#include "foundation/tracks/feature_flags.h"

namespace {

// 1 plus the successive forward links from feature whose later feature shows point.
int TrackLength(const SharedPtr<FeaturePoint2D>& feature, const FeaturePoint3D* point) {
  int length = 1;
  const FeaturePoint2D* current = feature.Get();
  while (current) {
    const SharedPtr<FeatureCorrespondence>& link = current->GetSuccessor();
    if (!link) break;
    const FeaturePoint2D* next = link->GetSecond().Get();
    if (!next || next->GetFPoint3D().Get() != point) break;
    ++length;
    current = next;
  }
  return length;
}

}  // namespace

FeatureMap::FeatureMap() = default;

FeatureMap::~FeatureMap() {
  ClearImages();
  ClearFPoint3D();
  // The components go in a fixed order; the observer and the manager are not ours.
  m_estimator = nullptr;
  m_outlier_detector = nullptr;
  m_fimage_list2.clear();
  m_guided_matcher = nullptr;
  m_correlator_template = nullptr;
  m_correlator = nullptr;
}

bool FeatureMap::Init(SharedPtr<FeatureImage>& image) {
  ClearImages();
  ClearFPoint3D();
  if (!m_outlier_detector) {
    static const char* const kText = "FeatureMap::Init: no outlier detector has been set";
    Notify(2, "%s", kText);
    throw kText;
  }
  if (!m_estimator) {
    static const char* const kText = "FeatureMap::Init: no estimator has been set";
    Notify(2, "%s", kText);
    throw kText;
  }
  if (!image) {
    Notify(2, "FeatureMap::Init: image is null");
    return false;
  }
  m_camera.CopyFrom(*image, false);
  m_fimage_list.push_back(image);
  m_outlier_detector->SetInitCamera(m_camera);
  m_estimator->SetInitCamera(m_camera);
  m_initialised = true;
  return true;
}

bool FeatureMap::Match(SharedPtr<FeatureImage>& image) {
  // The callers guarantee these; a breach fails the step instead of ending the program.
  if (m_fimage_list.empty()) {
    Notify(2, "FeatureMap::Match: image list empty !");
    return false;
  }
  if (!m_correlator_template) {
    Notify(2, "FeatureMap::Match: no correlator template has been set; STOP !");
    return false;
  }
  if (!image) {
    Notify(2, "FeatureMap::Match: image is null");
    return false;
  }
  image->InitMatchCamera(*image);
  const PerspectiveCamera& camera = *image->GetMatchCamera();
  if (m_outlier_detector) m_outlier_detector->SetRefCamera(camera);
  if (m_estimator) m_estimator->SetCurrentCamera(camera);

  // A new frame starts from its predecessor's pose.
  const SharedPtr<FeatureImage> previous = m_fimage_list.back();
  image->CopyFrom(*previous, true);

  m_correlator = m_correlator_template;
  m_correlator->SetCamera(camera);
  m_correlator->SetFeatureImages(previous.Get(), image.Get());
  m_correlator->Compute();

  const char* dump_name = image->GetAuxFileName();
  if (image->TestFlags(FIMAGE_FLAG_SAVE_CORRESPONDENCES) && dump_name[0] != '\0') {
    Notify(4, "FeatureMap::Match: saving \"%s\"", dump_name);
    FeatureCorrespondenceIO::Save(m_correlator.Get(), dump_name);
  }

  m_fimage_list.push_back(image);
  if (m_observer) {
    image->ClearFlags(FIMAGE_FLAG_NOT_PROCESSED);
    m_observer->UpdateVisualisation(1, image->GetImageIndex());
  }
  return true;
}

int FeatureMap::AppendImage(SharedPtr<FeatureImage>& image) {
  if (image) m_fimage_list.push_back(image);
  return static_cast<int>(m_fimage_list.size());
}

int FeatureMap::SetImageList(const ImageList& images) {
  m_fimage_list = images;
  return static_cast<int>(m_fimage_list.size());
}

void FeatureMap::ClearImages() {
  m_fimage_list.clear();
  m_fimage_list2.clear();
  m_initialised = false;
}

SharedPtr<FeatureImage> FeatureMap::GetCurrentFImage() const {
  return m_fimage_list.empty() ? SharedPtr<FeatureImage>() : m_fimage_list.back();
}

void FeatureMap::AddFPoint3D(SharedPtr<FeaturePoint3D>& point) {
  if (!point) {
    Notify(2, "FeatureMap::AddFPoint3D: 3D feature point is null");
    return;
  }
  std::lock_guard lock(m_fpoint3d_lock);
  point->SetId(static_cast<int32_t>(m_fpoint3d_list.size()));
  m_fpoint3d_list.push_back(point);
}

void FeatureMap::ClearFPoint3D() {
  // Released outside the lock: the last release of a point runs its destructor, which
  // has no business inside a spin section.
  PointList released;
  {
    std::lock_guard lock(m_fpoint3d_lock);
    released.swap(m_fpoint3d_list);
  }
}

void FeatureMap::Reset() {
  ClearImages();
  ClearFPoint3D();
}

unsigned FeatureMap::CountValidFPoint3D() {
  std::shared_lock lock(m_fpoint3d_lock);
  unsigned count = 0;
  for (const SharedPtr<FeaturePoint3D>& point : m_fpoint3d_list) {
    if (point && !point->TestFlags(FP3D_FLAG_REMOVED)) ++count;
  }
  return count;
}

void FeatureMap::SelectFPoint3DSubset(const ImageList& images, const PointList& points,
                                      PointList& out, int n) {
  out.clear();
  if (n < 0) n = 0;

  // Precision first: weight 1 / trace of the covariance, largest first.
  std::vector<std::pair<double, const SharedPtr<FeaturePoint3D>*>> weighted;
  weighted.reserve(points.size());
  for (const SharedPtr<FeaturePoint3D>& point : points) {
    if (!point) continue;
    const double trace =
        point->GetCoVariance(0, 0) + point->GetCoVariance(1, 1) + point->GetCoVariance(2, 2);
    weighted.emplace_back(trace > 0.0 ? 1.0 / trace : 0.0, &point);
  }
  std::stable_sort(weighted.begin(), weighted.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });

  const size_t precise = std::min(weighted.size(), static_cast<size_t>(n / 2));
  for (size_t i = 0; i < weighted.size(); ++i) {
    if (i < precise) {
      out.push_back(*weighted[i].second);
    } else {
      (*weighted[i].second)->SetFlags(FP3D_FLAG_TEMP_MARK);
    }
  }

  // Track lengths, each candidate measured once at the first feature met.
  std::vector<std::pair<int, SharedPtr<FeaturePoint3D>>> tracked;
  for (const SharedPtr<FeatureImage>& image : images) {
    if (!image) continue;
    for (const SharedPtr<FeaturePoint2D>& feature : image->GetFPoints2D()) {
      if (!feature) continue;
      const SharedPtr<FeaturePoint3D>& point = feature->GetFPoint3D();
      if (!point || point->TestFlags(FP3D_FLAG_REMOVED | FP3D_FLAG_PROTECTED) ||
          !point->TestFlags(FP3D_FLAG_TEMP_MARK)) {
        continue;
      }
      tracked.emplace_back(TrackLength(feature, point.Get()), point);
      point->ClearFlags(FP3D_FLAG_TEMP_MARK);
    }
  }
  // Candidates never met keep no mark either.
  for (size_t i = precise; i < weighted.size(); ++i) {
    (*weighted[i].second)->ClearFlags(FP3D_FLAG_TEMP_MARK);
  }

  std::stable_sort(tracked.begin(), tracked.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (size_t i = 0; i < tracked.size() && out.size() < static_cast<size_t>(n); ++i) {
    out.push_back(tracked[i].second);
  }
}

void FeatureMap::MarkFPoint3DExport(int n) {
  PointList subset;
  SelectFPoint3DSubset(m_fimage_list, m_fpoint3d_list, subset, n);
  for (const SharedPtr<FeaturePoint3D>& point : m_fpoint3d_list) {
    if (point && !point->TestFlags(FP3D_FLAG_PROTECTED)) point->SetFlags(FP3D_FLAG_NO_EXPORT);
  }
  for (const SharedPtr<FeaturePoint3D>& point : subset) {
    if (!point->TestFlags(FP3D_FLAG_PROTECTED)) point->ClearFlags(FP3D_FLAG_NO_EXPORT);
  }
}

bool FeatureMap::RunGuidedMatcher(int /*mode*/) {
  Notify(4, "FeatureMap::RunGuidedMatcher: not supported");
  return false;
}

void FeatureMap::SetCorrelatorTemplate(SharedPtr<FeatureCorrelator> correlator) {
  m_correlator_template = std::move(correlator);
}

void FeatureMap::SetGuidedMatcher(SharedPtr<GuidedMatching> matcher) {
  m_guided_matcher = std::move(matcher);
}

void FeatureMap::SetOutlierDetector(SharedPtr<OutlierDetector> detector) {
  m_outlier_detector = std::move(detector);
}

void FeatureMap::SetCameraEstimator(SharedPtr<CameraEstimator> estimator) {
  m_estimator = std::move(estimator);
}

bool FeatureMap::CheckForField(DataBaseIn& in, const char* key) {
  if (!in.IsField(key, PF_KEY_FP3D)) return false;
  auto point = SharedPtr<FeaturePoint3D>::Make(FeaturePoint3D::eSpherical);
  point->RestoreObject(in);
  AddFPoint3D(point);
  return true;
}
