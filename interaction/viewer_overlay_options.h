// uic::ViewerOverlayOptions: which overlays a viewer (or the timeline) draws on top of
// its picture: texts through the widget's text hooks, the corner boxes and the tool
// indicator with its four tool letters, and the colour of the boxes.
#pragma once

#include <cstdint>

namespace uic {

struct ViewerOverlayOptions {
  // The box colour as 0xAARRGGBB.
  uint32_t GetBackgroundColor() const { return m_box_color; }

  bool m_widget_text = false;
  bool m_corner_boxes = false;
  bool m_tool_indicator = false;
  char m_tool_letters[4] = {'1', '2', '3', '4'};
  uint32_t m_box_color = 0xFF505050;
};

}  // namespace uic
