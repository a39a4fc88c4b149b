// The pointer and key events the widget forwards: selecting, dragging selected vertices,
// features and scene objects, drawing masks and lines, adding features, navigating both
// views, and the display and tool keys.
#include <cmath>

#include "foundation/runtime/notify.h"
#include "foundation/runtime/uid_registry.h"
#include "foundation/tracks/bit_mask.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "interaction/undo_commands.h"
#include "interaction/viewer_base.h"
#include "scene/objects/nhs_object_handle.h"
#include "scene/objects/nhs_object_scene.h"
#include "scene/render/selection_render.h"
#include "scene/scene.h"
#include "tracking/objects/vertex_object_pool.h"

namespace uic {

namespace {

constexpr uint32_t kUserFeature = 0x08, kKeyFeature = 0x10;

int BandMargin(double zoom) {
  return static_cast<int>((zoom == 0.0 ? 1.0 : zoom) * 5.5 + 1.0);
}

}  // namespace

bool ViewerBase::InToolMode() const {
  return m_key >= 1 && m_key <= 255;
}

bool ViewerBase::PointerMayEdit(const char* where) {
  MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(2, "ViewerBase::%s: tracker not set!", where);
    return false;
  }
  if (tracker->IsTracking()) {
    // The tracking thread writes the data: the pointer only navigates.
    if (DragPanZoom()) Redraw();
    return false;
  }
  return true;
}

void ViewerBase::StoredImagePosition(int x, int y, double& ix, double& iy) {
  ix = ViewToImageX(x);
  iy = ViewToImageY(y);
  ToStored(ix, iy);
}

bool ViewerBase::MouseClickEvent(uint8_t button, int x, int y) {
  Notify(5, "ViewerBase::MouseClickEvent: (1) button %ld, x,y %ld,%ld", long(button), long(x),
         long(y));
  m_mouse_x = m_press_x = static_cast<int16_t>(x);
  m_mouse_y = m_press_y = static_cast<int16_t>(y);
  m_button = button;
  ViewerState* state = CurrentState();
  if (state == nullptr) return false;
  m_controller->SetActiveViewer(this);
  if (!PointerMayEdit("MouseClickEvent")) return false;
  if (state->m_mode == 1 && button == 2) {
    if (IsCtrlDown()) {
      SetCursorShape(6);
    } else if (IsShiftDown()) {
      SetCursorShape(4);
    } else if (ActiveObserver().m_type == 0) {
      SetCursorShape(8);
    }
  }
  m_drag_started = false;
  if (button != 1 || InToolMode()) return false;
  const double ix = ViewToImageX(x), iy = ViewToImageY(y);
  m_select_rect[0] = m_select_rect[2] = ix;
  m_select_rect[1] = m_select_rect[3] = iy;

  // Pressed on something selectable that is not selected: it is picked at once.
  auto picks_unselected = [&] {
    return !IsSelectedObjectAt(x, y) && IsObjectAt(x, y) && !IsSelectedObjectAGizmo(x, y);
  };
  if (m_selection_tool == eSelectionToolRectangle) {
    m_rubber_band.Init(x, y, 0);
    m_interaction = (m_interaction & ~3) | kInteractionRectangle;
    if (picks_unselected()) {
      if (!IsShiftDown()) m_controller->DeselectAll(true);
      RectangleSelect(m_rubber_band, m_select_rect, true);
    }
  } else if (m_selection_tool == eSelectionToolCircle) {
    m_rubber_band.Init(x, y, 12);
    m_interaction = (m_interaction & ~3) | kInteractionCircle;
    CircleSelect(m_rubber_band, m_select_rect, true);
  } else {
    m_rubber_band.Init(0, 0, 0);
    m_interaction &= ~3;
    if (picks_unselected() && !IsShiftDown()) m_controller->DeselectAll(true);
  }
  if ((m_interaction & (kInteractionMask | kInteractionLine)) == 0 && IsSelectedObjectAt(x, y)) {
    m_interaction &= ~3;
    m_drag_started = true;
  }
  Scene* scene = m_controller->GetScene();
  if (scene != nullptr && UIDRegistry::Instance().AnySelected()) {
    // The picker takes view pixels; the render context holds the projection centre.
    if (state->m_mode != 0 && state->m_mode != 1) {
      Notify(2, "ViewerBase::MouseClickEvent: bad view mode %d", state->m_mode);
    }
    m_gizmo_handle = 0;
    const int32_t id = PickObjectAt(m_render_context, scene, x, y);
    const UIDBase* hit = id != 0 ? UIDRegistry::Instance().GetObject(id) : nullptr;
    if (hit != nullptr && hit->GetUIDType() == UID_TYPE_GIZMO_HANDLE &&
        scene->GetGizmo() != nullptr) {
      m_gizmo_handle = scene->GetGizmo()->PickPart(id);
      m_interaction &= ~3;
      m_drag_started = false;
      Redraw();
    }
  }
  return false;
}

bool ViewerBase::MouseMoveEvent(uint8_t button, int x, int y) {
  const bool first_motion = m_press_x == m_mouse_x && m_press_y == m_mouse_y;
  const int16_t previous_x = m_mouse_x, previous_y = m_mouse_y;
  m_mouse_dx = static_cast<int16_t>(x - m_mouse_x);
  m_mouse_dy = static_cast<int16_t>(y - m_mouse_y);
  m_mouse_x = static_cast<int16_t>(x);
  m_mouse_y = static_cast<int16_t>(y);
  if (!PointerMayEdit("MouseMoveEvent")) return false;
  Scene* scene = m_controller->GetScene();
  if (scene == nullptr) {
    Notify(2, "ViewerBase::MouseMoveEvent: scene not set");
    return false;
  }
  ViewerState* state = CurrentState();
  if (state == nullptr) return false;
  const bool drawing_line =
      (m_interaction & kInteractionLine) != 0 && m_line_points.size() % 2 == 1;
  if (button == 0 && (drawing_line || (m_interaction & kInteractionMask) != 0)) {
    Redraw();
    return false;
  }
  if (button == 1 && !InToolMode() && !m_drag_started) {
    NHSObject* selected = FindSceneObject(scene->GetSelectedId());
    if (m_gizmo_handle != 0 && selected != nullptr) {
      if (first_motion) PushCommand(new SceneObjectTransformCmd(selected));
      DragGizmo(m_render_context.GetRenderView(), m_mouse_dx, m_mouse_dy, m_gizmo_handle, selected);
      if (scene->GetGizmo() != nullptr)
        scene->GetGizmo()->SetModes(m_gizmo_rotate, m_gizmo_scale, m_gizmo_translate);
      m_controller->UpdateViewers();
      return false;
    }
    m_select_rect[2] = ViewToImageX(x);
    m_select_rect[3] = ViewToImageY(y);
    m_rubber_band.Update(x, y);
    if (m_selection_tool == eSelectionToolCircle) {
      CircleSelect(m_rubber_band, m_select_rect, true);
    } else if (m_selection_tool == eSelectionToolLasso) {
      Redraw();
    } else {
      RedrawRect(m_rubber_band, BandMargin(m_zoom));
    }
    return false;
  }
  if (button == 1 && !InToolMode()) {
    m_select_rect[0] = m_select_rect[2] = ViewToImageX(x);
    m_select_rect[1] = m_select_rect[3] = ViewToImageY(y);
    m_rubber_band.Init(x, y, 0);
    if (state->m_mode == 0) {
      DragSelection(first_motion, previous_x, previous_y);
    } else if (state->m_mode != 1) {
      Notify(2, "ViewerBase::MouseMoveEvent: scene select, bad viewing mode %d", state->m_mode);
    }
    return false;
  }
  Navigate(button);
  return false;
}

void ViewerBase::DragSelection(bool first_motion, int previous_x, int previous_y) {
  const int flags = CurrentState()->m_flags;
  MetaCTracker* tracker = m_controller->GetCTracker();
  bool moved = false, features_moved = false;
  if ((flags & (eShowMasks | eShowLines | eShowFocalGizmos)) &&
      m_controller->HasSelectedVertices()) {
    double dx = m_mouse_dx / (m_zoom * m_aspect_scale), dy = m_mouse_dy / m_zoom;
    if (flags & eShowUndistorted) {
      double x0, y0, x1, y1;
      StoredImagePosition(previous_x, previous_y, x0, y0);
      StoredImagePosition(m_mouse_x, m_mouse_y, x1, y1);
      dx = x1 - x0;
      dy = y1 - y0;
    }
    if (first_motion) PushCommand(new VertexObjectPoolCmd(&tracker->GetVertexObjectPool(), 1));
    m_controller->MoveSelectedVertices(dx, dy);
    m_interaction &= ~3;
    m_controller->SetModified(true);
    moved = true;
  }
  if (flags & (eShowUserFeatures | eShowAnchors)) {
    std::vector<UIDBase*> selected;
    UIDRegistry::Instance().CollectSelected(selected, UID_TYPE_FEATURE_POINT_2D,
                                            UID_TYPE_FEATURE_POINT_2D);
    for (UIDBase* entry : selected) {
      auto* f = dynamic_cast<FeaturePoint2D*>(entry);
      if (f == nullptr || !f->TestFlags(kUserFeature)) continue;
      // Features are shown where the display puts them: the motion is measured there.
      double x = f->x, y = f->y;
      ToDisplayed(x, y);
      x += m_mouse_dx / (m_zoom * m_aspect_scale);
      y += m_mouse_dy / m_zoom;
      ToStored(x, y);
      f->x = x;
      f->y = y;
      f->SetFlags(kUserFeature | kKeyFeature);
      m_interaction &= ~3;
      m_controller->UpdateTrackInterpolation(f, true);
      m_controller->SetModified(true);
      features_moved = true;
    }
  }
  if ((flags & eShowLines) && (m_interaction & kInteractionLine) && m_line_points.size() % 2 == 1) {
    m_line_band.Update(m_mouse_x, m_mouse_y);
    RedrawRect(m_line_band, 1);
  } else if (moved || features_moved) {
    m_controller->UpdateViewers();
    if (features_moved) m_controller->EmitSelectionChanged();
  }
}

void ViewerBase::Navigate(uint8_t button) {
  const ViewerState* state = CurrentState();
  if (state->m_mode == 1) {
    ObserverView& view = ActiveObserver();
    const double D = view.m_distance;
    bool acted = false;
    if (button == 2 || button == 3) {
      if (IsShiftDown()) {
        m_observer_drag[3] += m_mouse_dx * D * 0.001;
        m_observer_drag[4] += m_mouse_dy * D * 0.001;
        acted = true;
      } else if (IsCtrlDown()) {
        m_observer_drag[2] += m_mouse_dy;
        acted = true;
      } else if ((button == 2 || IsAltDown()) && view.m_type == 0) {
        m_observer_drag[0] += m_mouse_dy;
        m_observer_drag[1] += m_mouse_dx;
        acted = true;
      }
    } else if (button == 1) {
      // 0.025 x 0.1 as the product rounds, not the literal 0.0025.
      constexpr double kDistanceStep = 0.0025000000000000005;
      switch (m_tool) {
        case 1:
          SetCursorShape(5);
          m_observer_drag[3] += m_mouse_dx;
          m_observer_drag[4] += m_mouse_dy;
          acted = true;
          break;
        case 2: {
          double d = D + (D + 200.0) * m_mouse_dx * kDistanceStep;
          d = d - (d + 200.0) * m_mouse_dy * kDistanceStep;
          view.SetDistance(d);
          acted = true;
          break;
        }
        case 3:
          if (view.m_type == 0) {
            m_observer_drag[0] += m_mouse_dy;
            m_observer_drag[1] += m_mouse_dx;
          }
          acted = true;
          break;
        case 4:
          m_observer_drag[2] += m_mouse_dx + m_mouse_dy;
          acted = true;
          break;
        default:
          break;
      }
    }
    if (acted) {
      m_view_changed = true;
      Redraw();
    }
    return;
  }
  if (state->m_mode != 0) {
    Notify(2, "ViewerBase::MouseMoveEvent: bad viewing mode %d", state->m_mode);
  }
  if (DragPanZoom()) Redraw();
}

bool ViewerBase::MouseReleaseEvent(uint8_t button, int x, int y) {
  m_button = 0;
  m_mouse_x = static_cast<int16_t>(x);
  m_mouse_y = static_cast<int16_t>(y);
  if (!PointerMayEdit("MouseReleaseEvent")) return false;
  m_interaction &= ~3;
  if (m_cursor_shape == 5 && m_key == '1') {
    SetCursorShape(4);
    return false;
  }
  ViewerState* state = CurrentState();
  if (button != 1) {
    if (state != nullptr && state->m_mode == 1 && !m_scene_moved &&
        (m_manip_mode == eManipGroundGrid || m_manip_mode == eManipScene)) {
      m_scene_moved = true;
      m_view_changed = true;
      Redraw();
    }
    return false;
  }
  Scene* scene = m_controller->GetScene();
  if (scene == nullptr) {
    Notify(2, "ViewerBase::MouseReleaseEvent: scene not set");
    return true;
  }
  if (m_gizmo_handle != 0) {
    m_gizmo_handle = 0;
    if (scene->GetGizmo() != nullptr) scene->GetGizmo()->PickPart(0);
    Redraw();
    return false;
  }
  if (!IsShiftDown() && !m_drag_started && m_selection_tool != eSelectionToolCircle &&
      m_tool == 0) {
    m_controller->DeselectAll(false);
    UIDRegistry::Instance().SelectTypeRange(false, 1, 39);
  }
  int n = 0;
  if (!InToolMode()) {
    if (m_selection_tool == eSelectionToolRectangle) {
      m_select_rect[2] = ViewToImageX(x);
      m_select_rect[3] = ViewToImageY(y);
      m_rubber_band.Update(x, y);
      n = RectangleSelect(m_rubber_band, m_select_rect, true);
    } else if (m_selection_tool == eSelectionToolCircle) {
      n = CircleSelect(m_rubber_band, m_select_rect, true);
      m_controller->EmitSelectionChanged();
      m_interaction &= ~kInteractionCircle;
    } else {
      n = LassoSelect(true);
      m_controller->EmitSelectionChanged();
    }
  }
  if (state == nullptr) return false;
  if (state->m_mode == 1 && !m_scene_moved) {
    m_scene_moved = true;
    m_view_changed = true;
    Redraw();
    return false;
  }
  if (state->m_mode == 0 || state->m_mode == 1) ReleaseInImage(n, x, y);
  Redraw();
  return false;
}

void ViewerBase::ReleaseInImage(int selected, int x, int y) {
  MetaCTracker* tracker = m_controller->GetCTracker();
  double ix = 0.0, iy = 0.0;
  StoredImagePosition(x, y, ix, iy);
  const bool vertex_selected = m_controller->HasSelectedVertices();
  const bool drawing_mask = (m_interaction & kInteractionMask) != 0;
  if (CurrentState()->m_mode == 0) {
    if (selected == 0 && m_edit_mode == eEditManualFeatures && IsCtrlDown()) {
      m_add_fpoint2d.Emit(ix, iy, m_image.Get(), tracker);
      m_controller->UpdateViewers();
      m_controller->SetModified(true);
      return;
    }
    if (drawing_mask && !vertex_selected) {
      if (IsCtrlDown()) {
        RemoveLastMaskPoint();
      } else {
        AppendMaskPoint({ix, iy, 0.0});
      }
      m_controller->UpdateViewers();
      return;
    }
    if (drawing_mask && !m_mask_points.empty() &&
        UIDRegistry::Instance().IsSelected(m_mask_points.front().GetUID())) {
      m_controller->SetInfoText(Controller::eInfoEditHint, "");
      ClosePolygonMask();
      m_controller->UpdateViewers();
      return;
    }
    if (!drawing_mask && (m_interaction & kInteractionInsertVertex)) {
      InsertMaskVertex({ix, iy, 0.0});
      m_interaction &= ~kInteractionInsertVertex;
      m_controller->UpdateViewers();
      return;
    }
    if ((m_interaction & kInteractionLine) && m_line_points.size() % 2 == 1) {
      if (m_image) {
        m_line_band.Init(x, y, 0);
        AppendLinePoint({ix, iy, 0.0});
        m_controller->SetInfoText(Controller::eInfoEditHint, "");
        CloseReferenceLine();
        m_message.Emit(*this, eReferenceLineClosed);
      }
      Redraw();
      return;
    }
    if (m_interaction & kInteractionLine) {
      if (m_image) AppendLinePoint({ix, iy, 0.0});
      Redraw();
      return;
    }
  }
  if (selected == 0) return;
  m_lock_view_anchor.SetFromSelected2DFeatures();
  if (m_lock_view_anchor.SetFromScene(m_controller->GetScene())) {
    const vm::Vector3& p = m_lock_view_anchor.m_position;
    Notify(5,
           "ViewerBase::MouseReleaseEvent: got new 3D lock view anchor (%.1f,%.1f,%.1f) from "
           "selected 3D points",
           p.x, p.y, p.z);
  }
}

bool ViewerBase::KeyPressEvent(int key) {
  Notify(5, "ViewerBase::KeyPressEvent: %d, '%c'", key, char(key & 0xFF));
  if (key == m_key) return false;
  m_key = key;
  ViewerState* state = CurrentState();
  if (state == nullptr) return false;
  Scene* scene = m_controller->GetScene();
  if (scene == nullptr) {
    Notify(2, "ViewerBase::KeyPressEvent: scene not set");
    return false;
  }
  const bool in_scene = state->m_mode == 1;
  const int step = m_image ? static_cast<int>(m_image->GetWidth() * 0.03f) : 20;
  ObserverView& view = ActiveObserver();
  bool mode_keys = true;
  auto flags_changed = [&] { m_message.Emit(*this, eDisplayFlagsChanged); };
  // Steps the display bits of mask to their next combination and shows it.
  auto cycle_flags = [&](uint32_t mask) {
    BitMask bits(static_cast<uint32_t>(state->m_flags));
    bits.CycleBits(mask);
    state->m_flags = static_cast<int>(bits.GetFlags());
    flags_changed();
    scene->UpdateObjectFlags(state->m_mode, bits.GetFlags());
    Redraw();
    mode_keys = false;
  };
  // Keys typed with Shift carry the Shift bit: they are matched on the character.
  const int code = (key & ~0xFF) == kKeyShift ? key & 0xFF : key;
  switch (code) {
    case 27:
      if (!m_mask_points.empty()) {
        m_mask_points.clear();
        m_interaction &= ~kInteractionMask;
        Redraw();
        m_controller->EmitObjectPoolChanged();
      }
      break;
    case '+':
    case '-':
      if (in_scene) {
        const double D = view.m_distance;
        view.SetDistance(code == '+' ? D - (D + 200.0) * 0.025 : D + (D + 200.0) * 0.025);
        m_view_changed = true;
      } else {
        ZoomBy(code == '+' ? 1.1 : 1.0 / 1.1);
      }
      Redraw();
      mode_keys = false;
      break;
    case '1':
      if (m_tool != 1) {
        m_tool = 1;
        SetCursorShape(4);
        Redraw();
      }
      break;
    case '2':
      m_tool = 2;
      SetCursorShape(3);
      Redraw();
      break;
    case '3':
    case '4':
      if (in_scene) {
        m_tool = code - '0';
        SetCursorShape(code == '3' ? 8 : 6);
        Redraw();
      }
      break;
    case 'V':
      m_message.Emit(*this, eKeyShiftV);
      mode_keys = false;
      break;
    case 'a':
      if (in_scene) {
        m_observer_type_requested.Emit(static_cast<ObserverViewType>((m_observer + 1) % 4));
        Redraw();
        mode_keys = false;
      }
      break;
    case 'd':
      cycle_flags(0x4C);
      break;
    case 'e':
      state->m_flags ^= eShow3DLines;
      flags_changed();
      Redraw();
      mode_keys = false;
      break;
    case 'f':
      if (!in_scene) cycle_flags(0xA00);
      break;
    case 'g':
      state->m_flags ^= eShowImageGrid;
      flags_changed();
      state->m_flags ^= 0x1000000;
      flags_changed();
      Redraw();
      mode_keys = false;
      break;
    case 'h':
      if (!in_scene) {
        state->m_flags ^= eShowUndistorted;
        flags_changed();
        Redraw();
        mode_keys = false;
      }
      break;
    case 'r':
      // The whole reset: observer, zoom and pan, selection (the view's own reset, which
      // the controller also calls for a new sequence, keeps the selection).
      ResetObserver();
      ResetView();
      m_controller->DeselectAll(false);
      if (m_manip_mode == eManipGroundGrid) m_scene_moved = true;
      Redraw();
      mode_keys = false;
      break;
    case 'v':
      m_message.Emit(*this, eKeyV);
      Redraw();
      mode_keys = false;
      break;
    case 'x':
      if (in_scene) {
        const int next = m_manip_mode == eManipWorld        ? eManipGroundGrid
                         : m_manip_mode == eManipGroundGrid ? eManipScene
                         : m_manip_mode == eManipScene      ? eManipWorld
                                                            : m_manip_mode;
        m_manip_mode_requested.Emit(static_cast<SceneManipMode>(next));
        Redraw();
        mode_keys = false;
      }
      break;
    case 'y':
      if (m_edit_mode == eEditAutoFeatures || m_edit_mode == eEditTestScene ||
          m_edit_mode == eEditManualFeatures) {
        ToggleSelectionTool();
        m_selection_tool_changed.Emit(static_cast<SelectionTool>(m_selection_tool));
      }
      break;
    case 256:
    case 257:
    case 258:
    case 259: {
      const int sign = (code == 256 || code == 258) ? -1 : 1;
      const bool horizontal = code == 256 || code == 257;
      if (in_scene) {
        m_observer_drag[horizontal ? 3 : 4] += sign;
        m_view_changed = true;
      } else {
        (horizontal ? m_offset_x : m_offset_y) += sign * step;
      }
      Redraw();
      mode_keys = false;
      break;
    }
    case 264:
      m_controller->DeleteSelection();
      mode_keys = false;
      break;
    case kKeyCtrl + 0x19:
      RedoLastCommand();
      break;
    case kKeyCtrl + 0x1A:
      UndoLastCommand();
      break;
    default:
      break;
  }
  if (mode_keys) ModeKey(code);
  return false;
}

void ViewerBase::ModeKey(int key) {
  const int c = key;
  switch (m_edit_mode) {
    case eEditLensDistortion:
      if (c == 'l') AddReferenceLine();
      break;
    case eEditTestScene:
      if (c == 'A') m_viewer_activated.Emit(this);
      if (c == 'S') AddSceneObject(0);
      if (c == 's') AddSceneObject(1);
      if (c == 'p') AddSceneObject(2);
      break;
    case eEditManualFeatures:
      if (IsCtrlDown()) SetCursorShape(10);
      break;
    case eEditMask:
      if (c == 'c') {
        ClosePolygonMask();
        m_controller->UpdateViewers();
      } else if (c == 'i') {
        m_interaction |= kInteractionInsertVertex;
      } else if (c == 'm') {
        BeginPolygonMask();
      }
      break;
    case eEditAutoFeatures:
    case eEditExport:
    case eEditSequence:
      break;
    default:
      Notify(2, "ViewerBase::KeyPressEvent: unkown edit mode %d", m_edit_mode);
      break;
  }
}

}  // namespace uic
