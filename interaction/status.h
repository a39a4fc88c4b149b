// uic::Status: the status-bar text and how long it shows, the controller's third part.
// Interface thread only.
#pragma once

#include <string>

namespace uic {

class Status {
 public:
  virtual ~Status() = default;

  // Stores text and its display time (ms) and sends the controller's status notification.
  // Frame changes and the project open and save actions show theirs for 2000 ms.
  void SetStatusText(const std::string& text, int milliseconds);
  const std::string& GetStatusText() const { return m_status_text; }
  int GetDisplayTime() const { return m_display_time; }

 protected:
  // Only as a part of the controller.
  Status() = default;

  int m_display_time = 0;
  std::string m_status_text;
};

}  // namespace uic
