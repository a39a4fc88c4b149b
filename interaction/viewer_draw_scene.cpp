// The scene view: the pending observer drag applied by the manip mode (finished ground-grid
// and scene moves recorded for undo), the scene rendered through the active observer, the
// frame label, the axis legend and the overlays it shares with the image view; and the
// scene objects under a band of either view.
#include <algorithm>
#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "foundation/runtime/notify.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/moved_scene_commands.h"
#include "interaction/undo_stack.h"
#include "interaction/viewer_base.h"
#include "scene/display_settings.h"
#include "scene/render/selection_render.h"
#include "scene/scene.h"

namespace uic {

void ViewerBase::DrawSceneView() {
  const bool pending = IsPendingFrame();
  Scene* scene = m_controller->GetScene();
  if (scene == nullptr) {
    Notify(2, "ViewerBase::DrawSceneView: scene not set");
    return;
  }
  MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(2, "ViewerBase::DrawSceneView: tracking manager not set!");
    return;
  }
  // The camera object and the point flags follow the frame's camera and features, which a
  // running tracking step may be changing: they catch up at a redraw after the step.
  std::shared_lock<std::shared_mutex> reading(tracker->GetResultLock(), std::try_to_lock);
  const bool readable = reading.owns_lock();
  if (readable) scene->UpdateCameraObject();
  const ViewerState* state = CurrentState();
  if (state == nullptr) return;
  const uint32_t flags = static_cast<uint32_t>(state->m_flags);
  if (readable && m_image_changed && state->m_mode == 1 && (flags & eShowPointCloudMask) != 0) {
    if (SharedPtr<FeatureMap> map = tracker->GetFeatureMap()) {
      scene->SetFPoints3D(map);
      m_image_changed = false;
    }
  }
  m_painter.Clear(DisplaySettings::Get().SlotColor(DS_SLOT_SCENE_BACKGROUND) & 0x00FFFFFFu);

  // A pending frame keeps the drag for the next frame that is not.
  if (!pending) {
    ObserverView& view = ActiveObserver();
    switch (m_manip_mode) {
      case eManipGroundGrid:
        if (m_scene_moved) {
          // The command holds the move the grid made, so it is recorded after the move.
          const Matrix4x4 G = scene->SyncMovedGroundGrid(tracker);
          PushCommand(new MovedGroundGridCmd(this, tracker, scene, G));
          TransformObservers(G);
          m_scene_moved = false;
          scene->UpdateObjectFlags(1, flags);
        }
        view.UpdateTransform(m_observer_drag, scene, true);
        std::fill(m_observer_drag, m_observer_drag + 6, 0.0);
        view.UpdateProjection(m_observer_drag);
        break;
      case eManipScene:
        if (m_scene_moved) {
          // The command reads the accumulated move before the scene hands it on.
          PushCommand(new MovedSceneCmd(tracker, scene));
          scene->SyncMovedScene(tracker);
          m_scene_moved = false;
          scene->UpdateObjectFlags(1, flags);
        }
        view.UpdateTransform(m_observer_drag, scene, false);
        std::fill(m_observer_drag, m_observer_drag + 6, 0.0);
        view.UpdateProjection(m_observer_drag);
        break;
      case eManipFixToCamera:
        if (m_image && readable) {
          view.UpdateCameraAttached(*m_image);
          scene->UpdateObjectFlags(1, flags);
        }
        break;
      default:
        view.UpdateProjection(m_observer_drag);
        break;
    }
    std::fill(m_observer_drag, m_observer_drag + 6, 0.0);
    scene->UpdateObjectFlags(1, flags);
    // The renderer divides by the fourth row: scaled so that the view spans pixels.
    Matrix4x4 M = view.m_projection;
    for (int c = 0; c < 4; ++c) M[3][c] *= 0.01;
    m_render_context.SetViewMatrix(M);
    m_render_context.RenderScene(scene);
    std::fill(m_observer_drag, m_observer_drag + 6, 0.0);
  }
  if (!m_image) return;
  DrawFrameLabel(true);
  if ((flags & 0x400000u) != 0) DrawAxisLegend();
  DrawSelectionFeedback();
  if (m_overlay_options.m_tool_indicator) DrawToolIndicator();
  if (m_overlay_options.m_corner_boxes) DrawCornerBoxes();
}

void ViewerBase::DrawAxisLegend() {
  const double h = GetHeight();
  if (m_overlay_options.m_widget_text) {
    DrawText(10, h - 15, 200, 200, 200, "(");
    DrawText(20, h - 15, 255, 0, 0, "x,");
    DrawText(30, h - 15, 0, 255, 0, "y,");
    DrawText(40, h - 15, 0, 0, 255, "z");
    DrawText(50, h - 15, 200, 200, 200, ")");
    return;
  }
  const DisplaySettings& ds = DisplaySettings::Get();
  const double x = (10.25 - m_offset_x) / (m_aspect_scale * m_zoom);
  const double y = (h - m_offset_y - 55.25) / m_zoom;
  static const char* const kTexts[3] = {"x -", "y -", "z -"};
  for (int i = 0; i < 3; ++i) {
    m_painter.DrawText(x, y + 15.0 * i / m_zoom, kTexts[i], 3, ds.color_table[28 + i]);
  }
}

int ViewerBase::GetSceneObjectsWithinRectangle(std::vector<UIDBase*>* out, const RubberBand& band) {
  if (out == nullptr) return 0;
  // View pixels as they are: the selection renderers measure them from the projection centre
  // the render context holds (the image view's overlay centre, the scene view's middle).
  const double x0 = std::max(0, band.m_min_x), y0 = std::max(0, band.m_min_y);
  const double x1 = std::max(0, band.m_max_x), y1 = std::max(0, band.m_max_y);
  const ViewerState* state = CurrentState();
  const int mode = state ? state->m_mode : -1;
  if (mode != 0 && mode != 1) {
    Notify(2, "ViewerBase::GetSceneObjectsWithinRectangle: bad view mode %d", mode);
  }
  Scene* scene = m_controller->GetScene();
  if (scene == nullptr) {
    Notify(2, "ViewerBase::GetSceneObjectsWithinRectangle: scene not set");
    return 0;
  }
  if (band.m_max_x != band.m_min_x && band.m_max_y != band.m_min_y) {
    return CollectObjectsInRectangle(out, m_render_context, scene, x0, y0, x1, y1);
  }
  const int32_t id = PickObjectAt(m_render_context, scene, x0, y0);
  UIDBase* hit = id != 0 ? UIDRegistry::Instance().GetObject(id) : nullptr;
  if (hit == nullptr) return 0;
  out->push_back(hit);
  return 1;
}

}  // namespace uic
