// uic::TimelineBase: the toolkit-free curve timeline under the image viewer. The x axis is
// the frame index of the loaded sequence, the y axis a value. It keeps a list of curves
// (copies of per-frame values of the tracking result, of the selected 2D features or 3D
// points, or the key frames of the selected mask) and renders them with a frame axis, a
// value axis, grid lines, the cached frames, the current frame and the tracking range into
// its own 32-bit buffer; the user scrubs, zooms, pans, selects, moves and removes key
// frames here. The widget derives from it, shows GetBuffer() and draws the texts handed to
// DrawText over it (labels are never rasterised here).
//
// Transform: curve point (f, v) is drawn at pixel x = zoom_x·f + x0 − 0.5,
// y = −zoom_y·v + y0 − 0.5; pixel (x, y) maps back to frame (x − x0) / zoom_x and value
// −(y − y0) / zoom_y.
//
// Selection: the selected points are held by (curve index, point index), never by
// address, and the selection is emptied whenever the curve list changes (SetCurve,
// ClearCurves, every Update operation); reading a selected point checks both indices, so a
// stale entry can never reach freed memory. ToggleCurve only flips the visible bit and
// keeps the selection.
//
// Failures are log lines; drawing never fails. Interface thread only.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "foundation/numeric/aligned_buffer.h"
#include "foundation/numeric/array.h"
#include "foundation/runtime/signal.h"
#include "interaction/timeline_curve.h"
#include "interaction/viewer_base.h"
#include "scene/display_settings.h"
#include "scene/painter/overlay_painter.h"

class FeaturePoint2D;
class FeaturePoint3D;
class VertexObject;

namespace uic {

class Controller;
class MetaCTracker;

class TimelineBase : public HasSlots {
 public:
  // Layout, pixels.
  static constexpr int kAxisWidth = 48;      // the value axis occupies x < 48
  static constexpr int kLabelBand = 21;      // the label band: the bottom 21 rows
  static constexpr int kCompactHeight = 40;  // lower than this is compact mode
  static constexpr uint32_t kGridColor = 0xff0000a0;
  static constexpr uint32_t kRangeColor = 0xff008000;
  static constexpr uint32_t kMarkerColor = 0xffff0000;

  // Key codes (m_key): the low byte is the character; modifiers added.
  static constexpr int kKeyShift = 0x200;
  static constexpr int kKeyAlt = 0x400;
  static constexpr int kKeyCtrl = 0x800;

  // A selected point: (index into the curve list, index into its points).
  using KeyRef = std::pair<int, int>;

  // Buffer 640 x 200, zoom 1, x0 320, y0 100; connects to the controller's global-data,
  // current-frame and selection notifications.
  TimelineBase();
  ~TimelineBase() override;
  TimelineBase(const TimelineBase&) = delete;
  TimelineBase& operator=(const TimelineBase&) = delete;

  // ---- widget hooks
  // Draws text at widget pixel (x, y) over the buffer.
  virtual void DrawText(double x, double y, const std::string& text) = 0;
  // Asks the widget to repaint (which ends in Repaint).
  virtual void Redraw() = 0;
  virtual void RedrawRect(const RubberBand& band, int flag);
  virtual int GetWidth() = 0;
  virtual int GetHeight() = 0;
  virtual bool IsCtrlDown() { return (m_key & kKeyCtrl) != 0; }
  virtual bool IsShiftDown() { return (m_key & kKeyShift) != 0; }
  virtual bool IsAltDown() { return (m_key & kKeyAlt) != 0; }
  virtual bool IsKeyCode511() { return m_key == 511; }

  // ---- buffer
  // Moves x0 (y0) by half the width (height) change, towards the growth; a new size
  // reallocates the buffer (row stride = width rounded up to a multiple of 4). Non-positive
  // sizes give an empty buffer.
  void SetSize(int width, int height);
  ArrayMap<uint32_t> GetBuffer() const { return m_view; }
  // Renders the whole buffer: background, visible curves, compact error band, frame
  // marks, current-frame marker, frame axis, value axis (not compact), rubber band.
  void Repaint();

  // ---- curves
  // Builds the curves of ident from the controller's tracker (see the ident table in
  // timeline_curve.h); every ident ends with ResetZoomY. Ident 1 appends, the groups 3 and
  // 7 replace the list with their three curves, the others replace it with one curve.
  void UpdateCurves(int ident);
  // The list becomes {curve}; ResetZoomY.
  void SetCurve(const TimelineCurve& curve);
  void ClearCurves();
  // Curves 12 and 13 of each feature's whole track (nothing in compact mode).
  void UpdateFPoint2DCurve(const std::vector<FeaturePoint2D*>& features);
  // Curves 14 to 16 of each Cartesian point over the tracking range.
  void UpdateFPoint3DCurve(const std::vector<FeaturePoint3D*>& points);
  // Curve 17: the key frames of the first selected vertex object.
  void UpdateKeyframeCurve();
  const std::vector<TimelineCurve>& GetCurves() const { return m_curves; }

  // {min frame, min value, max frame, max value} over every point of every curve; false
  // (logged) for a null rect, no curves or no points.
  bool GetCurvesBoundingRectangle(TimelineRect* rect) const;
  void ResetZoomX();
  void ResetZoomY();

  // ---- input (timeline_input.cpp)
  void MouseClickEvent(int button, int x, int y);
  void MouseDragEvent(int button, int x, int y);
  void MouseReleaseEvent(int button, int x, int y);
  void MouseWheelEvent(int step, int x, int y);
  void KeyPressEvent(int key);
  void KeyReleaseEvent(int key);
  // Toggles the points strictly inside rect (a zero-size rect is widened around its
  // point); returns the selection size.
  int SelectKeyframes(TimelineRect rect);
  // Deletes the selected vertex keys, undoably; the project becomes modified.
  void RemoveSelectedKeyframes();
  void ToggleCurve(int ident);
  void ResetZoom();
  // The frame under pixel column x, clamped to the images; -1 without images.
  int FrameFromX(int x);
  void ZoomX(double factor);
  void ZoomY(double factor);
  void HandleSelectionChanged();
  void HandleGlobalDataChanged();
  void RebuildCurves();

  // ---- state
  const std::set<KeyRef>& GetSelectedKeys() const { return m_selected_keys; }
  // The selected point, or null when the reference no longer names one.
  TimelineCurvePoint* SelectedPoint(const KeyRef& key);
  bool IsSelected(int curve, int point) const { return m_selected_keys.count({curve, point}) != 0; }
  double GetZoomX() const { return m_zoom_x; }
  double GetZoomY() const { return m_zoom_y; }
  int GetX0() const { return m_x0; }
  int GetY0() const { return m_y0; }
  bool IsCompact() const { return m_compact; }
  bool IsBandActive() const { return (m_band_active & 1) != 0; }
  const TimelineRect& GetBandRect() const { return m_band_rect; }
  void SetShowRmseBand(bool show) { m_show_rmse_band = show; }

 protected:
  void SetView(double zoom_x, double zoom_y, int x0, int y0) {
    m_zoom_x = zoom_x;
    m_zoom_y = zoom_y;
    m_x0 = x0;
    m_y0 = y0;
  }

  // ---- drawing steps (timeline_base.cpp)
  void DrawCurve(const TimelineCurve& curve, int index);
  void DrawCompactModeRMSE();
  void DrawFrameMarks();
  void DrawCurrentFrameMarker();
  void DrawFrameAxis();
  void DrawValueAxis();
  void DrawRubberBand();
  double RmseColorWidth();

  // The visible frame window: first = ceil(−x0 / zoom_x), last = min((width − x0 − 1) /
  // zoom_x, number of images).
  void VisibleFrames(double& first, double& last);
  // The grid and label step over the visible window and its first frame.
  void GridStep(double first, double last, int& step, double& start);

  // Painter transforms.
  void CurveTransform();
  void PixelTransform();
  void FramePixelTransform();  // x in frames, y in pixels
  void OriginAt(double px, double py);

  MetaCTracker* Tracker() const;
  int NumImages() const;
  void EmptySelection() { m_selected_keys.clear(); }
  VertexObject* FindVertexObject(int uid) const;

  std::vector<TimelineCurve> m_curves;
  AlignedBuffer<uint32_t> m_buffer;
  ArrayMap<uint32_t> m_view;
  bool m_compact = false;
  int m_key = 0;
  int16_t m_last_x = 0, m_last_y = 0;
  int16_t m_drag_dx = 0, m_drag_dy = 0;
  uint8_t m_button = 0;
  int m_band_active = 0;
  OverlayPainter m_painter;
  uint32_t m_background;
  double m_zoom_x = 1.0;
  double m_zoom_y = 1.0;
  int m_x0 = 0;
  int m_y0 = 0;
  std::set<KeyRef> m_selected_keys;
  bool m_key_moved = false;
  TimelineRect m_band_rect;
  RubberBand m_rubber_band;
  Controller* m_controller;
  bool m_show_rmse_band = false;
  ViewColors m_colors;
};

}  // namespace uic
