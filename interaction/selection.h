// uic::Selection: the interface layer's view of the registry's selected flags, the
// controller's fourth part, and the ground alignment to a selection (Tools).
//
// The selection is not a list of its own: every registered object carries a selected
// flag (UIDRegistry). Selection announces changes, clears the selection, and acts on what
// is selected: the 3D points behind it, the vertices of masks and lines at the current
// frame, the orbit centre, and the follow-up of selected features when the frame
// changes. Interface thread only.
#pragma once

#include <vector>

#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/signal.h"

class CameraTrackingManager;
class FeaturePoint3D;
class NHSObject;
class Scene;
class VertexObject;

namespace uic {

class ViewerBase;

class Selection : public HasSlots {
 public:
  virtual ~Selection() = default;

  // Connected to the viewers, the main window and the timeline.
  Signal0 m_selection_changed;

  void EmitSelectionChanged() { m_selection_changed.Emit(); }
  // Detaches the scene's gizmo and deselects every object of types 1 to 39 that is not
  // locked; unless silent, sends m_selection_changed once. Returns true.
  bool DeselectAll(bool silent);
  // At least one polygon-mask, line or gizmo vertex is selected.
  bool HasSelectedVertices() const;
  // The owner of the first selected vertex (ascending id); null when none is selected
  // or there is no tracker.
  VertexObject* GetSelectedVertexObject();
  // The 3D points behind the selection: those of the selected 2D features when any 2D
  // feature is selected, else the selected 3D points; removed points never. Returns the
  // count.
  int GetSelectedPoints3D(std::vector<FeaturePoint3D*>& points);
  // Moves the selected vertices that have a position at the current frame by (dx, dy)
  // image pixels, keyed at that frame.
  void MoveSelectedVertices(double dx, double dy);
  // Scales the selected vertices (those with a position at the current frame) about
  // their mean by factor, keyed at that frame. Nothing when none qualifies.
  void ZoomVertices(double factor);
  // The orbit centre moves to the mean of GetSelectedPoints3D; nothing without points.
  void MoveOrbitCenterToSelection();
  // Each selected 2D feature's track selects its feature in frame, so the selection
  // follows into the new frame; the walk stops at the first selected feature already in
  // frame. Sends m_selection_changed when something was selected.
  void SelectTrackPointsInFrame(int frame);

 protected:
  // Only as a part of the controller.
  Selection() = default;
};

}  // namespace uic

namespace Tools {

// Moves the reconstruction so that object's xy plane becomes the world's ground (y = 0):
// its origin goes to the world origin, its x axis to +x, its z axis to +y. The move is
// pushed as one undoable uic::SceneTransformCmd and applied to scene and tracking data.
// result: the transform applied (the identity when nothing was done: no tracker, logged).
void align_ground_grid(CameraTrackingManager* tracker, NHSObject* object, Matrix4x4& result,
                       Scene* scene);
// The align button: three or more points of Selection::GetSelectedPoints3D give a plane
// fitted through them to align to; one or two points do nothing ("nothing selected"); without
// points the first selected user scene object is the ground. Every path that aligns redraws the
// viewers.
void AlignGroundGridToSelection(uic::ViewerBase* viewer, CameraTrackingManager* tracker);

}  // namespace Tools
