// uic::ViewerBase: the toolkit-free logic of one interactive viewer (image view or 3D
// test scene), and uic::Cursor, the pointer-shape hooks a widget overrides.
//
// Interface thread only. The viewer does not own its image's tracker; the image is
// shared with the tracker's image list.
#pragma once

#include <string>

#include "features/feature_image.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/runtime/signal.h"

namespace uic {

class Controller;

class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual void SetCursorShape(int /*shape*/) {}
  virtual void RestoreCursor() {}
};

class ViewerBase : public Cursor, public HasSlots {
 public:
  // Interaction bits of m_interaction.
  enum : int { kInteractionActiveViewer = 0x40 };

  ViewerBase();
  ~ViewerBase() override;

  virtual bool IsDrawable() { return true; }
  virtual void Redraw() = 0;
  virtual int GetWidth() = 0;
  virtual int GetHeight() = 0;

  // Shows image (null: none). Returns 0, or -1 for a null image.
  int SetFImage(SharedPtr<FeatureImage> image);
  // The frame shown, or null.
  FeatureImage* GetFImage() const { return m_image.Get(); }
  // Resets zoom, pan and the selection.
  void ResetView();

  int m_interaction = 0;

 protected:
  SharedPtr<FeatureImage> m_image;
  Controller* m_controller = nullptr;
};

}  // namespace uic
