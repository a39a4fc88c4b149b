// Test helpers for the view drawing: a viewer that records its text-hook calls, and pixel
// access to its buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "interaction/viewer.h"

namespace kxtest {

struct TextCall {
  double x, y;
  int red, green, blue;  // -1: the plain hook
  std::string text;
  bool operator==(const TextCall&) const = default;
};

class RecordingViewer : public uic::Viewer {
 public:
  void DrawText(double x, double y, int red, int green, int blue,
                const std::string& text) override {
    texts.push_back({x, y, red, green, blue, text});
  }
  void DrawText(double x, double y, const std::string& text) override {
    texts.push_back({x, y, -1, -1, -1, text});
  }
  // The RGB part of view pixel (x, y).
  uint32_t Pixel(int x, int y) const {
    const ArrayMap<uint32_t>& b = GetBuffer();
    return b.data[size_t(y) * b.stride + size_t(x)] & 0x00FFFFFFu;
  }
  // The RGB part of the view pixel under image position (x, y).
  uint32_t ImagePixel(double x, double y) const {
    return Pixel(int(m_offset_x + (x + 0.5) * m_zoom * m_aspect_scale),
                 int(m_offset_y + (y + 0.5) * m_zoom));
  }

  std::vector<TextCall> texts;
};

}  // namespace kxtest
