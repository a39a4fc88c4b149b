#include "interaction/viewer_base.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <set>
#include <shared_mutex>

#include "foundation/runtime/notify.h"
#include "interaction/controller.h"
#include "interaction/meta_ctracker.h"
#include "scene/display_settings.h"
#include "scene/objects/nhs_object_handle.h"
#include "scene/scene.h"

namespace uic {

void RubberBand::Init(int x, int y, int radius) {
  m_start_x = m_current_x = m_min_x = m_max_x = x;
  m_start_y = m_current_y = m_min_y = m_max_y = y;
  m_radius = radius;
}

void RubberBand::Update(int x, int y) {
  if (m_radius == 0) {
    m_min_x = std::min(m_start_x, m_current_x);
    m_max_x = std::max(m_start_x, m_current_x);
    m_min_y = std::min(m_start_y, m_current_y);
    m_max_y = std::max(m_start_y, m_current_y);
  } else {
    m_min_x = m_max_x = m_current_x;
    m_min_y = m_max_y = m_current_y;
  }
  m_min_x = std::min(m_min_x, x);
  m_max_x = std::max(m_max_x, x);
  m_min_y = std::min(m_min_y, y);
  m_max_y = std::max(m_max_y, y);
  m_current_x = x;
  m_current_y = y;
}

namespace {

// Never destroyed: a viewer may die during the program's exit, after function statics.
std::set<const ViewerBase*>& LiveViewers() {
  static auto* const viewers = new std::set<const ViewerBase*>();
  return *viewers;
}

}  // namespace

int PainterFactorForLevel(int level) {
  if (level <= 1) return 1;
  return level <= 3 ? 2 : 4;
}

ViewerBase::ViewerBase()
    : m_object_color(DisplaySettings::Get().SlotColor(DS_SLOT_NEW_OBJECT)),
      m_controller(Controller::Instance()) {
  m_states.push_back(ViewerState());
  m_controller->m_sequence_changed.Connect(this, &ViewerBase::HandleSequenceChanged);
  m_controller->m_current_frame_changed.Connect(this, &ViewerBase::HandleCurrentFrameChanged);
  static_cast<Selection*>(m_controller)->m_selection_changed.Connect(this, &ViewerBase::Update);
  m_add_fpoint2d.Connect(static_cast<FPointTrackEdit*>(m_controller),
                         &FPointTrackEdit::AddFPoint2D);

  // Types 2 and 3 look along the world's x and y axes instead of its z axis.
  const double still[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  m_observers.reserve(4);
  for (int type = 0; type < 4; ++type) {
    ObserverView view(type);
    view.ResetObserver();
    if (type == 2) view.Turn({0.0, 1.0, 0.0}, -std::numbers::pi / 2.0);
    if (type == 3) view.Turn({1.0, 0.0, 0.0}, -std::numbers::pi / 2.0);
    view.UpdateProjection(still);
    m_observers.push_back(view);
  }
  m_manip_mode = eManipWorld;
  m_render_context.SetSampleFactor(2);
  LiveViewers().insert(this);
}

// HasSlots disconnects every signal; the image reference goes with m_image.
ViewerBase::~ViewerBase() {
  LiveViewers().erase(this);
}

bool ViewerBase::IsLive(const ViewerBase* viewer) {
  return viewer != nullptr && LiveViewers().count(viewer) != 0;
}

int ViewerBase::SetFImage(SharedPtr<FeatureImage> image) {
  if (!image) {
    m_image = nullptr;
    Notify(5, "ViewerBase::SetFImage: no image set");
    return -1;
  }
  if (image.Get() != m_image.Get()) {
    bool new_size = !m_image;
    if (!new_size) {
      // A running tracking step rewrites the cameras, sizes included; the frames of one
      // sequence share their size, so the size is compared only when it can be read.
      MetaCTracker* tracker = m_controller->GetCTracker();
      std::shared_lock<std::shared_mutex> reading;
      if (tracker != nullptr) {
        reading = std::shared_lock<std::shared_mutex>(tracker->GetResultLock(), std::try_to_lock);
      }
      if (tracker == nullptr || reading.owns_lock()) {
        new_size =
            m_image->GetWidth() != image->GetWidth() || m_image->GetHeight() != image->GetHeight();
      }
    }
    m_image = std::move(image);
    if (new_size) ResetZoom();
  }
  MetaCTracker* tracker = m_controller->GetCTracker();
  Scene* scene = m_controller->GetScene();
  if (scene == nullptr || tracker == nullptr) {
    Notify(2, "ViewerBase::SetFImage: scene or camera tracking manager not set");
    return -1;
  }
  scene->SetCameraObjectParams(m_image, tracker->GetImageCache(), false);
  m_image_changed = true;
  m_view_changed = true;
  return 0;
}

void ViewerBase::HandleCurrentFrameChanged() {
  const int i = m_controller->GetCurrentFrame();
  Notify(5, "ViewerBase::HandleCurrentFrameChanged: image %ld", long(i));
  MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(5, "ViewerBase::HandleCurrentFrameChanged:: CTrackMgr is null");
    return;
  }
  const SharedPtr<FeatureImage>& image = tracker->GetFImage(static_cast<unsigned>(i));
  if (!image) {
    Notify(2, "ViewerBase::HandleCurrentFrameChanged:: can't get image %ld", long(i));
    return;
  }
  SetFImage(image);
  Redraw();
}

void ViewerBase::HandleSequenceChanged() {
  SetImageAspectRatio(m_controller->GetSequenceProperty().m_image_aspect);
  Redraw();
}

void ViewerBase::SetImageAspectRatio(double aspect) {
  if (!(aspect > 0.0)) {
    Notify(2, "ViewerBase::SetImageAspectRatio: aspect <= 0");
    return;
  }
  if (!m_image) {
    Notify(2, "ViewerBase::SetImageAspectRatio: no image set");
    return;
  }
  const uint32_t w = m_image->GetWidth(), h = m_image->GetHeight();
  if (w == 0 || h == 0) {
    Notify(2, "ViewerBase::SetImageAspectRatio: zero image size (%d x %d)", int(w), int(h));
    return;
  }
  m_aspect_scale = aspect * h / w;
  if (Scene* scene = m_controller->GetScene()) {
    MetaCTracker* tracker = m_controller->GetCTracker();
    scene->SetCameraObjectParams(m_image, tracker ? tracker->GetImageCache() : nullptr, true);
  }
  Notify(5, "ViewerBase::SetImageAspectRatio: zoom x scale %g", m_aspect_scale);
}

void ViewerBase::TransformObservers(const Matrix4x4& M) {
  for (ObserverView& view : m_observers) view.Transform(M);
}

void ViewerBase::ResetView() {
  ResetZoom();
}

void ViewerBase::ResetObserver() {
  ActiveObserver().ResetObserver();
}

void ViewerBase::SetEditMode(int mode) {
  if (static_cast<unsigned>(mode) > eEditSequence) {
    Notify(2, "ViewerBase::SetEditMode: unkown edit mode %d", mode);
    return;
  }
  if ((mode == eEditAutoFeatures || mode == eEditLensDistortion || mode == eEditMask) &&
      m_selection_tool != eSelectionToolRectangle) {
    m_selection_tool = eSelectionToolRectangle;
    m_selection_tool_changed.Emit(eSelectionToolRectangle);
  }
  m_edit_mode = mode;
}

void ViewerBase::ToggleViewingMode() {
  ViewerState* state = CurrentState();
  if (state == nullptr) return;
  if (state->m_mode == 0 || state->m_mode == 1) {
    state->m_mode = 1 - state->m_mode;
  } else {
    Notify(2, "ViewerBase::ToggleViewingMode: bad viewing mode %d", state->m_mode);
  }
  m_view_changed = true;
  Redraw();
}

void ViewerBase::PushViewerState(const ViewerState& state) {
  m_states.push_back(state);
  m_view_changed = true;
  Redraw();
}

const ViewerState& ViewerBase::GetViewerState() const {
  static const ViewerState empty_stack_state;
  return m_states.empty() ? empty_stack_state : m_states.back();
}

void ViewerBase::SetViewerState(const ViewerState& state) {
  if (m_states.empty()) return;
  m_states.back() = state;
  m_view_changed = true;
  Redraw();
}

void ViewerBase::SetSceneManipMode(int mode) {
  m_manip_mode = mode;
  if (mode == eManipFixToCamera) Redraw();
}

void ViewerBase::SetGizmoModes(bool translate, bool rotate, bool scale) {
  m_gizmo_translate = translate;
  m_gizmo_rotate = rotate;
  m_gizmo_scale = scale;
  Scene* scene = m_controller->GetScene();
  if (scene != nullptr && scene->GetGizmo() != nullptr)
    scene->GetGizmo()->SetModes(rotate, scale, translate);
}

void ViewerBase::ToggleSelectionTool() {
  if (m_selection_tool == eSelectionToolRectangle)
    m_selection_tool = eSelectionToolCircle;
  else if (m_selection_tool == eSelectionToolCircle)
    m_selection_tool = eSelectionToolRectangle;
}

void ViewerBase::ResetZoom() {
  MetaCTracker* tracker = m_controller->GetCTracker();
  if (tracker == nullptr) {
    Notify(2, "ViewerBase::ResetZoom: camera tracking manager not set");
    return;
  }
  ImageCache* cache = tracker->GetImageCache();
  const int w = cache->GetFrameWidth();
  int h = cache->GetFrameHeight();
  const int field_mode = cache->GetFieldMode();
  if (field_mode >= 1 && field_mode <= 3) h >>= 1;
  if (w == 0 || h == 0) {
    Notify(2, "ViewerBase::ResetZoom: zero image size: %d x %d", w, h);
    return;
  }
  m_zoom = 1.0;
  m_offset_x = m_offset_y = m_centre_x = m_centre_y = 0;
  m_view_changed = true;
  const int W = GetWidth(), H = GetHeight();
  if (w * m_aspect_scale > W || h * m_zoom > H)
    m_zoom = std::min(W / (w * m_aspect_scale * m_zoom + 1.0), H / (h * m_zoom + 1.0));
  m_offset_x = (W - static_cast<int>(std::trunc(w * m_aspect_scale * m_zoom + 0.5))) >> 1;
  m_offset_y = (H - static_cast<int>(std::trunc(h * m_zoom + 0.5))) >> 1;
  Redraw();
}

void ViewerBase::ZoomBy(double factor) {
  const double old = m_zoom;
  const double boost = IsCtrlDown() ? 1.2 : 1.0;
  const bool about_centre = m_key == '+' || m_key == '-';
  m_show_zoom = true;
  factor = factor > 1.0 ? factor * boost : factor / boost;
  const double z = old * factor;
  if (!(z >= 0.05 && z <= 100.0)) return;  // m_zoom stays old
  // A whole zoom or a whole reciprocal within half a step of the result is taken instead.
  const double r = z >= 1.0 ? std::ceil(z - 0.5) : 1.0 / std::ceil(1.0 / z - 0.5);
  const double root = std::sqrt(factor);
  const double lo = std::min(z * root, z / root), hi = std::max(z * root, z / root);
  m_zoom = (r >= lo && r <= hi) ? r : z;

  const double d = m_zoom - old;
  const double px = about_centre ? GetWidth() / 2 : m_mouse_x;
  const double py = about_centre ? GetHeight() / 2 : m_mouse_y;
  const double tx = ((px - m_offset_x) / (m_aspect_scale * old)) * m_aspect_scale * d;
  const double ty = ((py - m_offset_y) / old) * d;
  m_offset_x -= static_cast<int>(std::lround(tx));
  m_offset_y -= static_cast<int>(std::lround(ty));
  m_view_changed = true;
}

bool ViewerBase::WheelZoom() {
  if (m_button == 4) {
    ZoomBy(1.1);
    return true;
  }
  if (m_button == 5) {
    ZoomBy(1.0 / 1.1);
    return true;
  }
  return false;
}

bool ViewerBase::DragPanZoom() {
  if (m_button == 2 || (m_button == 3 && IsShiftDown()) || (m_button == 1 && m_tool == 1)) {
    SetCursorShape(5);
    m_offset_y += m_mouse_dy;
    m_offset_x += m_mouse_dx;
    return true;
  }
  if ((m_button == 1 && m_tool == 2) || (m_button == 3 && IsAltDown())) {
    ZoomBy(1.0 + 0.01 * m_mouse_dy);
    return true;
  }
  return false;
}

void ViewerBase::NormalizeSelectionRect(double out[4], const double in[4]) const {
  const double z = m_zoom == 0.0 ? 1.0 : m_zoom;
  for (int a = 0; a < 2; ++a) {
    double lo = std::min(in[a], in[a + 2]), hi = std::max(in[a], in[a + 2]);
    if (lo == hi) {
      lo -= 5.0 / z;
      hi += 5.0 / z;
    }
    out[a] = lo;
    out[a + 2] = hi;
  }
}

bool ViewerBase::MouseWheelEvent(uint8_t code, int /*x*/, int /*y*/) {
  m_interaction &= ~(kInteractionRectangle | kInteractionCircle);
  m_button = code;
  m_controller->SetActiveViewer(this);
  if (m_controller->GetCTracker() == nullptr) {
    Notify(2, "ViewerBase::MouseWheelEvent: tracking manager not set!");
    return false;
  }
  const ViewerState* state = CurrentState();
  if (state == nullptr) return false;
  if (state->m_mode == 0) {
    if ((state->m_flags & eShowMasks) != 0 && (code == 4 || code == 5) &&
        m_controller->HasSelectedVertices()) {
      m_controller->ZoomVertices(code == 4 ? 1.1 : 0.9);
      m_controller->UpdateViewers();
    } else if (WheelZoom()) {
      Redraw();
    }
  } else if (state->m_mode == 1) {
    if (code == 4 || code == 5) {
      ObserverView& view = ActiveObserver();
      const double k = IsCtrlDown() ? 10.0 : 1.0;
      const double step = (view.m_distance * k + 200.0) * 0.025;
      view.SetDistance(code == 4 ? view.m_distance - step : view.m_distance + step);
      m_view_changed = true;
      Redraw();
    }
  } else {
    Notify(2, "ViewerBase::MouseWheelEvent: bad view mode %d", state->m_mode);
  }
  return false;
}

bool ViewerBase::KeyReleaseEvent(int /*key*/) {
  Notify(5, "ViewerBase::KeyReleaseEvent:");
  RestoreCursor();
  m_tool = 0;
  m_key = 0;
  Redraw();
  return false;
}

}  // namespace uic
