#include "interaction/status.h"

#include "interaction/controller.h"

namespace uic {

void Status::SetStatusText(const std::string& text, int milliseconds) {
  m_status_text = text;
  m_display_time = milliseconds;
  static_cast<Controller&>(*this).m_status_changed.Emit();
}

}  // namespace uic
