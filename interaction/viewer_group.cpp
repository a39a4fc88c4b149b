#include "interaction/viewer_group.h"

#include <algorithm>

#include "features/feature_image.h"
#include "interaction/controller.h"
#include "interaction/viewer_base.h"

namespace uic {

int ViewerGroup::AddViewer(ViewerBase* viewer) {
  m_viewers.push_back(viewer);
  if (m_main_viewer == nullptr) m_main_viewer = m_viewers.front();
  return static_cast<int>(m_viewers.size());
}

void ViewerGroup::RemoveViewer(ViewerBase* viewer) {
  m_viewers.erase(std::remove(m_viewers.begin(), m_viewers.end(), viewer), m_viewers.end());
  if (m_main_viewer == viewer) m_main_viewer = m_viewers.empty() ? nullptr : m_viewers.front();
}

void ViewerGroup::ForgetDeadViewers() {
  for (ViewerBase* viewer : std::vector<ViewerBase*>(m_viewers)) {
    if (!ViewerBase::IsLive(viewer)) RemoveViewer(viewer);
  }
}

void ViewerGroup::UpdateViewers() {
  ForgetDeadViewers();
  for (ViewerBase* viewer : m_viewers) viewer->Redraw();
}

void ViewerGroup::ShowImage(const SharedPtr<FeatureImage>& image) {
  ForgetDeadViewers();
  for (ViewerBase* viewer : m_viewers) {
    viewer->ResetView();
    viewer->SetFImage(image);
  }
}

void ViewerGroup::ClearImages() {
  ForgetDeadViewers();
  for (ViewerBase* viewer : m_viewers) viewer->SetFImage(SharedPtr<FeatureImage>());
}

void ViewerGroup::SetActiveViewer(ViewerBase* viewer) {
  auto& controller = static_cast<Controller&>(*this);
  ForgetDeadViewers();
  for (ViewerBase* v : m_viewers) {
    if (v != viewer) {
      v->m_interaction &= ~ViewerBase::kInteractionActiveViewer;
      continue;
    }
    m_main_viewer = v;
    v->m_interaction |= ViewerBase::kInteractionActiveViewer;
    const FeatureImage* image = v->GetFImage();
    if (image != nullptr && image->GetImageIndex() != controller.GetCurrentFrame()) {
      controller.ChangeCurrentFrame(image->GetImageIndex());
    }
  }
}

}  // namespace uic
