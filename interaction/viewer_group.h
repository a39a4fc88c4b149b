// uic::ViewerGroup: the viewers of the interface, the controller's first part.
//
// Viewers are kept in the order they were added and are not owned; a viewer removes
// itself (RemoveViewer) before it dies, and one that did not is dropped unused at the next
// operation over the list. The first viewer added is the main viewer until
// another one is activated. Interface thread only.
#pragma once

#include <vector>

#include "foundation/runtime/shared_ptr.h"
#include "foundation/runtime/signal.h"

class FeatureImage;

namespace uic {

class ViewerBase;

class ViewerGroup : public HasSlots {
 public:
  virtual ~ViewerGroup() = default;

  // Appends viewer; the first viewer of the list becomes the main viewer. Returns the
  // number of viewers.
  int AddViewer(ViewerBase* viewer);
  // Takes viewer out of the list; when it was the main viewer, the first remaining one
  // (or none) becomes the main viewer.
  void RemoveViewer(ViewerBase* viewer);
  // Redraws every viewer in list order.
  void UpdateViewers();
  // Every viewer resets its view and shows image.
  void ShowImage(const SharedPtr<FeatureImage>& image);
  // Every viewer shows no image.
  void ClearImages();
  // Called by a viewer the user clicked or scrolled in: it becomes the main viewer and the
  // only one with the active bit; when it shows another frame than the current one, that
  // frame becomes current (status text and notifications as for a frame change).
  void SetActiveViewer(ViewerBase* viewer);
  ViewerBase* GetMainViewer() const { return m_main_viewer; }
  const std::vector<ViewerBase*>& GetViewers() const { return m_viewers; }

 protected:
  // Only as a part of the controller.
  ViewerGroup() = default;
  void ForgetDeadViewers();

  std::vector<ViewerBase*> m_viewers;
  ViewerBase* m_main_viewer = nullptr;
};

}  // namespace uic
