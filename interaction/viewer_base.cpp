#include "interaction/viewer_base.h"

#include "interaction/controller.h"

namespace uic {

ViewerBase::ViewerBase() : m_controller(Controller::Instance()) {}

ViewerBase::~ViewerBase() = default;

int ViewerBase::SetFImage(SharedPtr<FeatureImage> image) {
  m_image = std::move(image);
  return m_image ? 0 : -1;
}

void ViewerBase::ResetView() {}

}  // namespace uic
