// uic::SequenceProperty: the description of the loaded image sequence. The tracker is one;
// the shell edits copies of it.
#pragma once

#include <cstdint>

#include "interaction/base_object.h"

namespace uic {

class SequenceProperty : public BaseObject {
 public:
  int32_t m_interlacing = 0;           // interlacing mode 0..4
  double m_image_aspect = 4.0 / 3.0;   // frame aspect (width : height as shown)
  double m_sensor_aspect = 4.0 / 3.0;  // aspect of the sensor area behind the pixel sizes
  int32_t m_width = 0;                 // frame size in pixels
  int32_t m_height = 0;
  double m_sensor_width = 0.2;      // mm
  double m_sensor_height = 0.2;     // mm
  double m_pixel_aspect = 1.0;      // pixel width / pixel height
  double m_sensor_diagonal = 16.0;  // mm
  double m_frame_rate = 25.0;       // frames per second
  bool m_anamorphic = false;        // false: image and sensor aspect move together
  int32_t m_num_frames = 0;
};

}  // namespace uic
