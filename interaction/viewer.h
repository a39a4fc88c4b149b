// uic::Viewer: a ViewerBase that renders into a 32-bit pixel buffer of its own
// (0xAARRGGBB words, row stride a multiple of 4 pixels), 640 x 480 after construction.
// The shell's widget derives from it, shows the buffer and forwards its input and size.
//
// Update prepares the overlay painter and the render context for a rectangle of the
// buffer and draws the current view into it: the image view or the scene view, as the
// newest view state says.
//
// Interface thread only. Resize throws "memory allocation failed" when the buffer cannot
// be allocated (the buffer is then empty and nothing is drawn).
#pragma once

#include <cstdint>

#include "foundation/numeric/array.h"
#include "interaction/viewer_base.h"

namespace uic {

class Viewer : public ViewerBase {
 public:
  Viewer();
  ~Viewer() override;

  // A new size: the view offsets move by half the change (integer halves) so the picture
  // stays centred; the buffer is reallocated (contents lost) only when the size differs.
  void Resize(int width, int height);
  // Draws the rectangle (x, y, w, h) of the buffer; the part outside the buffer is
  // ignored.
  void Update(int x, int y, int w, int h);
  using ViewerBase::Update;

  // The whole buffer.
  void Redraw() override;
  // The band's box grown by its radius plus margin, clipped at 0.
  void RedrawRect(const RubberBand& band, int margin) override;
  int GetWidth() override { return static_cast<int>(m_buffer.Width()); }
  int GetHeight() override { return static_cast<int>(m_buffer.Height()); }

  const ArrayMap<uint32_t>& GetBuffer() const { return m_buffer.Plane(0); }

 private:
  Array<uint32_t, 1> m_buffer;
};

}  // namespace uic
