#include "geometry/outlier_detector_known_cam.h"

#include <cmath>

#include "foundation/camera/camera_geometry.h"
#include "foundation/runtime/notify.h"
#include "geometry/corr_el.h"
#include "geometry/two_view_transfer.h"

void OutlierDetectorKnownCam::SetInitCamera(const PerspectiveCamera& camera) {
  m_init_camera = camera;
  m_previous_camera = camera;
}

void OutlierDetectorKnownCam::SetCurrentCamera(const PerspectiveCamera& camera) {
  m_match_camera = camera;
}

void OutlierDetectorKnownCam::SetRefCamera(const PerspectiveCamera& camera) {
  m_current_camera = camera;
}

void OutlierDetectorKnownCam::SetCorrespondences(
    const std::vector<SharedPtr<FeaturePoint2D>>& features, bool direction) {
  SetCorrespondences(CollectFeatureLinks(features, direction));
}

void OutlierDetectorKnownCam::SetCorrespondences(
    const std::vector<SharedPtr<FeatureCorrespondence>>& corrs) {
  m_corr_els.clear();
  CorrElMapper mapper(m_match_camera);
  CorrEl element;
  for (const SharedPtr<FeatureCorrespondence>& corr : corrs) {
    if (!corr || !corr->GetFirst() || !corr->GetSecond()) continue;
    mapper.MapCorrespondence(corr, element);
    m_corr_els.push_back(element);
  }
}

void OutlierDetectorKnownCam::Run(uint32_t mask) {
  m_num_supported = 0;
  m_num_unsupported = 0;
  if (m_corr_els.empty()) return;

  // Camera 1 of the transfer is the previous camera, so the first ray takes its focal
  // length and the zoom carries the current one.
  const double f = m_previous_camera.GetFocalLength();
  const double zoom = f != 0.0 ? m_current_camera.GetFocalLength() / f : 1.0;
  const vm::Vector3 t = m_previous_camera.WorldToCamera(m_current_camera.GetC());
  double pan = 0.0, tilt = 0.0, roll = 0.0;
  GetCameraAngles(m_current_camera, pan, tilt, roll, &m_previous_camera);
  Notify(8, "OutlierDetectorKnownCam::Run:");

  const double sx = m_current_camera.GetPixelSizeX();
  const double sy = m_current_camera.GetPixelSizeY();
  for (const CorrEl& e : m_corr_els) {
    const double u = TwoViewReprojectU(pan, tilt, roll, zoom, t, f, e.x0, e.y0, e.x1, e.y1);
    const double v = TwoViewReprojectV(pan, tilt, roll, zoom, t, f, e.x0, e.y0, e.x1, e.y1);
    const double du = (u - e.x1) / sx, dv = (v - e.y1) / sy;
    const bool supported = std::sqrt(du * du + dv * dv) < m_threshold;
    if (supported)
      ++m_num_supported;
    else
      ++m_num_unsupported;
    FeatureCorrespondence& corr = *e.corr;
    if (mask == 0) {
      if (supported) corr.SetFlags(0);
    } else if (supported) {
      corr.SetFlags(corr.GetFlags() | mask);
    } else {
      corr.SetFlags(corr.GetFlags() & ~mask);
    }
  }
  m_previous_camera = m_current_camera;
}
