// uic::ViewerBase: the toolkit-free logic of one interactive viewer (image view or 3D
// test scene), and uic::Cursor, the pointer-shape hooks a widget overrides.
//
// The viewer holds what it shows and how: the current frame, the view-state stack (the
// newest entry holds the viewing mode and the display flags), the edit mode of the open
// tool page, zoom and pan of the image view, the observer cameras of the scene view, the
// pointer and key state and the shapes being drawn, and the signals it sends. Derived
// classes give it a pixel buffer (uic::Viewer) and a widget (the shell's viewer widget).
//
// Zoom and pan: image pixel (x, y) is drawn at view position
// (m_offset_x + (x + 0.5) m_zoom m_aspect_scale, m_offset_y + (y + 0.5) m_zoom).
//
// Failures are log lines (level 2, the operation changes nothing); nothing throws.
// Interface thread only. The viewer does not own its image's tracker; the image is
// shared with the tracker's image list.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "features/feature_image.h"
#include "foundation/numeric/fixed_matrix.h"
#include "foundation/runtime/shared_ptr.h"
#include "foundation/runtime/signal.h"
#include "interaction/observer_view.h"
#include "interaction/viewer_overlay_options.h"
#include "scene/painter/overlay_painter.h"
#include "scene/render/render_context.h"
#include "tracking/objects/vertex_object.h"

class CameraTrackingManager;
class Scene;

namespace uic {

class Controller;
class MetaCTracker;

class Cursor {
 public:
  virtual ~Cursor() = default;
  virtual void SetCursorShape(int /*shape*/) {}
  virtual void RestoreCursor() {}
};

// A view-pixel band of a drag: the start and current points and the box to repaint.
struct RubberBand {
  // All four points (x, y), the given radius.
  void Init(int x, int y, int radius);
  // Grows the box over what changes when the current point moves to (x, y): with radius 0
  // from the box of the start and the previous current point, else from the previous
  // current point alone; then (x, y) is included and becomes the current point.
  void Update(int x, int y);

  int m_start_x = 16, m_start_y = 16;
  int m_current_x = 16, m_current_y = 16;
  int m_min_x = 16, m_min_y = 16;
  int m_max_x = 16, m_max_y = 16;
  int m_radius = 0;
};

// One entry of the view-state stack.
struct ViewerState {
  int m_mode = 0;             // 0 image view, 1 scene view
  int m_flags = 0x1F026CF;    // display flags (ViewerBase::DisplayFlag)
  int m_history_before = 30;  // frames of feature-track history drawn before the current one
  int m_history_after = 30;   // and after it
};

// The overlay painter's factor for a display-settings level: <= 1 gives 1, 2 and 3 give
// 2, 4 and more give 4.
int PainterFactorForLevel(int level);

class ViewerBase : public Cursor, public HasSlots {
 public:
  using ObserverView = uic::ObserverView;

  enum EditMode {
    eEditAutoFeatures = 0,
    eEditLensDistortion = 1,
    eEditTestScene = 2,
    eEditExport = 3,
    eEditManualFeatures = 4,
    eEditMask = 5,
    eEditSequence = 6,
  };
  enum MessageType {
    eReferenceLineClosed = 0,
    eKeyShiftV = 1,
    eKeyV = 2,
    eDisplayFlagsChanged = 3
  };
  enum SelectionTool {
    eSelectionToolRectangle = 0,
    eSelectionToolCircle = 1,
    eSelectionToolLasso = 2,
  };
  enum SceneManipMode {
    eManipWorld = 0,
    eManipGroundGrid = 1,
    eManipScene = 2,
    eManipFixToCamera = 3
  };
  // The index of an observer view in m_observers.
  enum ObserverViewType { eObserver0 = 0, eObserver1 = 1, eObserver2 = 2, eObserver3 = 3 };

  // Display flags of a ViewerState.
  enum DisplayFlag : int {
    eShowFrame = 0x1,
    eShowSceneOverFrame = 0x2,
    eShowPointCloudMask = 0x4 | 0x8 | 0x40,
    eShowUserObjects = 0x80,
    eShowUndistorted = 0x100,
    eShowAutoFeatures = 0x200,
    eShowUserFeatures = 0x400,
    eShowHistory = 0x800,
    eShow3DLines = 0x1000,
    eShowMasks = 0x2000,
    eShowAnchors = 0x4000,
    eShowLines = 0x8000,
    eShowImageGrid = 0x10000,
    eShowFocalGizmos = 0x40000,
    eShowEllipses = 0x80000,
  };
  // Interaction bits of m_interaction.
  enum : int {
    kInteractionRectangle = 0x1,
    kInteractionCircle = 0x2,
    kInteractionMask = 0x4,
    kInteractionInsertVertex = 0x8,
    kInteractionLine = 0x10,
    kInteractionLine2 = 0x20,
    kInteractionActiveViewer = 0x40,
    kInteractionLockView = 0x80,
  };
  // Modifier bits of m_key.
  enum : int { kKeyShift = 0x200, kKeyAlt = 0x400, kKeyCtrl = 0x800 };

  // Connects to the controller (sequence and frame changes, selection changes, the
  // add-feature request) and builds the four observers.
  ViewerBase();
  ~ViewerBase() override;
  // Whether viewer is a viewer that has been built and not yet destroyed: commands that
  // keep a viewer check it before they use it.
  static bool IsLive(const ViewerBase* viewer);

  virtual bool IsDrawable() { return true; }
  // Renders the whole view (the widget may defer it).
  virtual void Redraw() = 0;
  // Renders the band's box grown by margin plus the band's radius on every side.
  virtual void RedrawRect(const RubberBand& band, int margin) = 0;
  virtual int GetWidth() = 0;
  virtual int GetHeight() = 0;
  bool IsCtrlDown() const { return (m_key & kKeyCtrl) != 0; }
  bool IsShiftDown() const { return (m_key & kKeyShift) != 0; }
  bool IsAltDown() const { return (m_key & kKeyAlt) != 0; }
  // Text hooks of the widget (view pixels); empty here.
  virtual void DrawText(double /*x*/, double /*y*/, int /*red*/, int /*green*/, int /*blue*/,
                        const std::string& /*text*/) {}
  virtual void DrawText(double /*x*/, double /*y*/, const std::string& /*text*/) {}
  // Slot of the selection's change signal: redraws.
  virtual void Update() { Redraw(); }

  // ---- data binding
  // Shows image. A new image of another size (or the first one) resets zoom and pan; the
  // same image object changes nothing. Returns 0, or -1 for a null image or without scene
  // or tracker.
  int SetFImage(SharedPtr<FeatureImage> image);
  // The frame shown, or null.
  FeatureImage* GetFImage() const { return m_image.Get(); }
  // Slots of the controller's current-frame and sequence signals.
  void HandleCurrentFrameChanged();
  void HandleSequenceChanged();
  // Frame aspect (width / height) -> m_aspect_scale, the pixel aspect. No redraw.
  void SetImageAspectRatio(double aspect);
  // Moves every observer with the world (ground-grid moves and their undo).
  void TransformObservers(const Matrix4x4& M);
  // Resets zoom, pan and the selection.
  void ResetView();
  // Resets the active observer.
  void ResetObserver();

  // ---- modes
  // 0 .. 6; other values are logged and change nothing. The feature, lens and mask pages
  // take the rectangle selection tool.
  void SetEditMode(int mode);
  // Image view <-> scene view in the current state.
  void ToggleViewingMode();
  void PushViewerState(const ViewerState& state);
  // The newest view state; with an empty stack a shared default state (the defaults of
  // ViewerState). Callers copy it before they change it.
  const ViewerState& GetViewerState() const;
  // Overwrites the newest view state, marks the view changed and redraws; nothing with an
  // empty stack.
  void SetViewerState(const ViewerState& state);
  void SetSceneManipMode(int mode);
  void SetGizmoModes(bool translate, bool rotate, bool scale);
  // Rectangle <-> circle; the lasso stays.
  void ToggleSelectionTool();

  // ---- zoom and pan of the image view
  // Fits the tracker's frame into the view (never enlarging it) and centres it.
  void ResetZoom();
  // Zooms by factor (x 1.2 with Ctrl) about the pointer, or about the view centre for the
  // keys '+' and '-', snapping to a whole zoom or whole reciprocal near the result. Zooms
  // outside 0.05 .. 100 are refused. The caller redraws.
  void ZoomBy(double factor);
  // Wheel button 4 zooms in, 5 out; true when it zoomed.
  bool WheelZoom();
  // Pans or zooms by the pointer motion when the button, modifiers and tool ask for it.
  bool DragPanZoom();
  // Sorted corners; a zero extent widened by 5 view pixels either way.
  void NormalizeSelectionRect(double out[4], const double in[4]) const;

  // ---- input entry points (always false)
  bool MouseWheelEvent(uint8_t code, int x, int y);
  bool KeyReleaseEvent(int key);

  // ---- drawing (called by the derived update with painter and render context set). All
  // positions handed to the painter are image pixels unless said otherwise; widths and
  // radii are view pixels.
  // The image view: the frame (undistorted with display flag 0x100), its border, the solved
  // scene through the frame's camera, features, anchors, lines to the 3D points, masks,
  // gizmos, reference lines, the frame label, the selection feedback and the overlay
  // options. Tracking overlays are left out for a pending frame (no image, or image flag
  // 8) and while the running tracking step holds the tracker's result lock.
  void DrawImageView();
  // The scene view through the active observer: applies the pending drag by the manip mode
  // (one undo command per finished ground-grid or scene move), renders, labels.
  void DrawSceneView();
  // Appends the scene objects under the band (view pixels) and returns how many; a band of
  // zero width or height picks at its minimum corner.
  int GetSceneObjectsWithinRectangle(std::vector<UIDBase*>* out, const RubberBand& band);

  // Feature and point overlays of the current image.
  void DrawFPoints();
  void DrawAnchors();
  void DrawPoints3D(bool dots, bool lines);
  // Vertex objects of the tracker's pool at the current frame, and the mask or line being
  // drawn.
  void DrawPolygonMasks();
  void DrawReferenceLines();
  void DrawFocalGizmos();
  // Mask names through the coloured text hook.
  void DrawPolygonNameStrings();

  // Shapes (image positions; sizes in view pixels).
  void DrawFeatureMarker(double width, const FeaturePoint2D& f, uint32_t colour);
  void DrawAnchorMarker(double width, const FeaturePoint2D& f, uint32_t colour);
  void DrawCornerBrackets(double x, double y, double c, double width, uint32_t colour);
  void DrawDiamond(double x, double y, double c, double width, uint32_t colour);
  void DrawTrackPolyline(const FeaturePoint2D& f, int back, int forward, double width,
                         uint32_t colour);
  void DrawTrackSegments(const FeaturePoint2D& f, int back, int forward, double width,
                         uint32_t supported, uint32_t other);
  void DrawErrorEllipse(const FeaturePoint2D& f, double width, uint32_t colour);
  void DrawAnchorPath(const FeaturePoint2D& anchor, int back, int forward, double width,
                      uint32_t colour);
  void DrawAnchorResidual(const FeaturePoint2D& anchor, double width, uint32_t colour);
  static bool HasLive3DPoint(const FeatureImage::FeatureList& list);
  // The (x, y) of the points as a polyline with round joins; nothing below two points.
  void DrawPolyline(const std::vector<vm::Vector3>& points, bool closed, double width,
                    uint32_t colour);
  // The painter's own operations under their overlay names.
  void DrawRectOutline(double x0, double y0, double x1, double y1, double width, uint32_t colour,
                       int stipple_factor, uint16_t stipple) {
    m_painter.DrawRect(x0, y0, x1, y1, width, colour, stipple == 0xFFFF ? 0 : stipple_factor,
                       stipple);
  }
  void DrawDot(double x, double y, double radius, uint32_t colour) {
    m_painter.FillCircle(x, y, radius, colour);
  }
  void DrawMarker(double x, double y, double half_w, double half_h, double width, uint32_t colour) {
    m_painter.DrawCross(x, y, half_w, half_h, width, colour);
  }

  // The newest view state, or null for an empty stack.
  ViewerState* CurrentState() { return m_states.empty() ? nullptr : &m_states.back(); }
  ObserverView& ActiveObserver() { return m_observers[size_t(m_observer)]; }
  // Whether the frame shows no tracking results: no image, or the run has not processed it.
  bool IsPendingFrame() const;

  // The perspective of the scene view (see ObserverView::MakePerspective).
  static int MakePerspective(double fov, double aspect, double near, double far, Matrix4x4& P) {
    return ObserverView::MakePerspective(fov, aspect, near, far, P);
  }

  Signal2<const ViewerBase&, MessageType> m_message;
  Signal4<double, double, FeatureImage*, CameraTrackingManager*> m_add_fpoint2d;
  Signal1<ViewerBase*> m_viewer_activated;
  Signal1<SelectionTool> m_selection_tool_changed;
  Signal1<SceneManipMode> m_manip_mode_requested;
  Signal1<ObserverViewType> m_observer_type_requested;

  int m_key = 0;
  int16_t m_mouse_x = 0, m_mouse_y = 0;
  int16_t m_mouse_dx = 0, m_mouse_dy = 0;
  int16_t m_press_x = 0, m_press_y = 0;
  uint8_t m_button = 0;  // 1 left, 2 middle, 3 right, 4 wheel up, 5 wheel down
  int m_cursor_shape = 0;
  int m_edit_mode = eEditAutoFeatures;
  bool m_show_zoom = false;
  int m_tool = 0;
  double m_zoom = 1.0;
  double m_aspect_scale = 1.0;
  int m_offset_x = 0, m_offset_y = 0;
  int m_centre_x = 0, m_centre_y = 0;
  RenderContext m_render_context;
  OverlayPainter m_painter;
  int m_painter_factor = 1;  // set from the display settings by each update
  double m_select_rect[4] = {0.0, 0.0, 0.0, 0.0};
  RubberBand m_rubber_band;
  int m_gizmo_handle = 0;
  double m_observer_drag[6] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  std::vector<ObserverView> m_observers;
  int m_observer = 0;
  int m_manip_mode = eManipWorld;
  bool m_scene_moved = false;
  bool m_gizmo_translate = false, m_gizmo_rotate = false, m_gizmo_scale = false;
  int m_mask_counter = 0;
  std::vector<Vertex> m_mask_points;
  std::vector<Vertex> m_line_points;
  RubberBand m_line_band;
  std::deque<ViewerState> m_states;
  int m_interaction = 0;
  uint32_t m_object_color = 0;
  bool m_view_changed = false;
  bool m_image_changed = false;
  std::vector<vm::Vector2> m_lasso;
  LockViewAnchor m_lock_view_anchor;
  int m_selection_tool = eSelectionToolRectangle;
  ViewerOverlayOptions m_overlay_options;
  bool m_drag_started = false;

  // ---- scene objects of the test scene
  // A user object of type (0 cube, 1 cone, 2 plane, 3 triangle mesh, 4 textured triangle
  // mesh) on the selected 3D points, in the new-object colour; a plane is turned to face
  // the current frame's camera. Afterwards nothing is selected and one undo step removes
  // the object. Returns 0 (also when no object could be made or there is no scene).
  int AddSceneObject(int type);
  // Negates the plane's y and z axes (a half turn about x) when its z axis points along
  // the viewing direction of image's camera.
  void OrientPlaneToCamera(const FeatureImage& image, NHSObject* plane);
  // Whether view pixel (x, y) is over a part of the scene's gizmo.
  bool IsSelectedObjectAGizmo(int x, int y);
  // Applies a pointer motion of (dx, dy) view pixels through the gizmo part `code` (1 .. 19:
  // turn, scale or move along the object's own axes) to object's local transform, and
  // makes the gizmo follow. P maps world points to (x w, y w, w) of the view, w the depth.
  // An axis that points at the viewer takes no part in the motion.
  void DragGizmo(const Matrix3x4& P, double dx, double dy, int code, NHSObject* object);

  // ---- masks and reference lines drawn in the image view
  // Positions are image pixels of the frame as loaded; each point is keyed at the frame
  // shown. Nothing without a current image.
  void AppendMaskPoint(const vm::Vector3& position);
  void AppendLinePoint(const vm::Vector3& position);
  // Drops the last mask point; the first one stays.
  void RemoveLastMaskPoint();
  // Closes a mask in progress, then lets the next releases add mask points.
  void BeginPolygonMask();
  // Three or more points become the mask "Mask_<n>" of the whole sequence (one undo step);
  // fewer are discarded. Ends the mask drawing. Without a tracker nothing changes (logged).
  void ClosePolygonMask();
  // A regular n-gon (n > 2) of radius 0.6 half-heights about the image centre, its first
  // point straight below the centre, appended to the points drawn and closed.
  void AddRegularPolygonMask(unsigned n);
  // Shows the reference lines and lets the next releases draw a line.
  void BeginReferenceLine();
  // Pairs of points become the line "Line_<lines - 1>" (one undo step); an unpaired last
  // point is dropped. Ends the line drawing.
  void CloseReferenceLine();
  // A default line of 0.7 image heights through the centre, turned 5 degrees further for
  // every line already there.
  void AddReferenceLine();
  // A vertex into the nearest mask edge at the frame shown.
  void InsertMaskVertex(const vm::Vector3& position);

  // ---- selection tools
  // Rectangles are x0, y0, x1, y1 in image pixels (x0 = x1 and y0 = y1: a click, which
  // picks within 5 view pixels and keeps only the nearest of a kind); bands are view
  // pixels. A collecting form (Get*) appends what it finds to out without selecting; a
  // selecting form (Select*) honours the display flags and, with select, sets the
  // selected flag of what it finds. Both return the number found.
  int Get2DFeaturesWithinRectangle(std::vector<UIDBase*>* out, const double rect[4]);
  int Select2DFeaturesInRectangle(const double rect[4], bool select);
  // Vertices of masks, lines and focal gizmos, each followed by its owner (for lines a
  // null entry for a point being drawn); a click into a mask takes the smallest mask
  // around it, a click within 10 pixels of a line the nearest line.
  int GetMaskVerticesWithinRectangle(std::vector<UIDBase*>* out, const double rect[4]);
  int SelectMaskVerticesInRectangle(const double rect[4], bool select);
  int GetLineVerticesWithinRectangle(std::vector<UIDBase*>* out, const double rect[4]);
  int SelectLineVerticesInRectangle(const double rect[4], bool select);
  int GetGizmoVerticesWithinRectangle(std::vector<UIDBase*>* out, const double rect[4]);
  int SelectGizmoVerticesInRectangle(const double rect[4], bool select);
  // Brushes the shown 2D features strictly within radius of image point (x, y): selects
  // them, or with Shift deselects them. Returns the number of selected 2D features.
  int Select2DFeaturesInCircle(double x, double y, double radius);
  // The tracker's features inside polygon (view pixels from the projection centre).
  int Select2DFeaturesInLasso(const std::vector<vm::Vector2>& polygon, bool select);
  // Everything selectable under band / rect, the selection unchanged.
  int GetObjectsWithinRectangle(std::vector<UIDBase*>* out, const RubberBand& band,
                                const double rect[4]);
  // Hit tests at a view pixel: anything, or anything selected (whole masks and lines
  // do not count).
  bool IsObjectAt(int x, int y);
  bool IsSelectedObjectAt(int x, int y);
  // The tools. A rectangle only adds to the selection; a click on a scene object gives it
  // the gizmo, a click on a gizmo part arms m_gizmo_handle. The circle and the lasso
  // deselect with Shift. Each repaints the band.
  int RectangleSelect(const RubberBand& band, const double rect[4], bool select);
  int CircleSelect(const RubberBand& band, const double rect[4], bool select);
  int LassoSelect(bool select);
  // The lasso path from the widget, view pixels from the projection centre.
  void SetLassoPolygon(std::vector<vm::Vector2> polygon);
  // View pixel -> image pixel of the image view.
  double ViewToImageX(int x) const;
  double ViewToImageY(int y) const;
  // The index of the frame shown (the controller's frame without one).
  int CurrentImageIndex() const;
  // ---- pointer and keys (view pixels; buttons 0 none, 1 left, 2 middle, 3 right; key
  // codes as the widget sends them: characters, Shift 0x200 and Ctrl 0x800 added, 256 ..
  // 259 arrows, 264 Delete). While a tracking job runs the pointer only navigates. The
  // release returns true only without a scene; the others return false.
  bool MouseClickEvent(uint8_t button, int x, int y);
  bool MouseMoveEvent(uint8_t button, int x, int y);
  bool MouseReleaseEvent(uint8_t button, int x, int y);
  bool KeyPressEvent(int key);

 private:
  std::vector<FeaturePoint2D*> Find2DFeatures(const double rect[4], bool shown_only);
  // kind 0 masks, 1 lines, 2 focal gizmos.
  int CollectVertices(std::vector<UIDBase*>* out, const double rect[4], int kind);
  int SelectVertices(const double rect[4], bool select, int kind);
  int CollectAt(std::vector<UIDBase*>& found, int x, int y);
  // The projection centre (the lasso is measured from it): the view centre in the scene
  // view, the 3D overlay's centre in the image view.
  void SceneCentre(int& x, int& y);
  // Under the undistorted display: stored (as loaded) <-> displayed image positions.
  bool UndistortedDisplay();
  void ToDisplayed(double& x, double& y);
  void ToStored(double& x, double& y);
  // A key from 1 to 255 is held: the pointer navigates only.
  bool InToolMode() const;
  // False (logged) without a tracker; while it tracks, navigates and gives false.
  bool PointerMayEdit(const char* where);
  // The image position of a view pixel as stored (through the lens when undistorted).
  void StoredImagePosition(int x, int y, double& ix, double& iy);
  void DragSelection(bool first_motion, int previous_x, int previous_y);
  void Navigate(uint8_t button);
  void ReleaseInImage(int selected, int x, int y);
  void ModeKey(int key);

 protected:
  // Parts of the image and scene views.
  void DrawSelectionFeedback();
  void DrawToolIndicator();
  void DrawCornerBoxes();
  void DrawFrameLabel(bool scene_view);
  void DrawAxisLegend();
  void DrawVertexMarkers(const VertexObject& object, unsigned frame, bool undistort);
  // The tracker whose vertex objects the current frame shows (null: none, or a frame without
  // owner), with the frame index and whether to undistort.
  MetaCTracker* VertexObjectsToDraw(bool& undistort, unsigned& frame);
  // The image position under the pointer.
  void PointerImagePosition(double& x, double& y) const;
  // (x, y) through the current camera's undistortion when asked.
  void UndistortPoint(bool undistort, double& x, double& y) const;
  // Where a feature is shown: its stored position, or under the undistorted display its
  // position through its own frame's lens, so markers sit on the undistorted picture.
  PainterPoint ShownPosition(const FeaturePoint2D& f) const;
  // The same for an image position (x, y) of image, e.g. a projected 3D point.
  PainterPoint ShownPosition(const FeatureImage* image, double x, double y) const;

  SharedPtr<FeatureImage> m_image;
  Controller* m_controller = nullptr;
  // False while a drawing runs without the tracker's result lock: cameras are not read.
  bool m_results_readable = true;
};

}  // namespace uic
