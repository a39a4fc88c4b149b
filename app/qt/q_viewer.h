// qViewer: the Qt widget of the interactive viewer (image view or 3D test scene).
//
// A thin shell over the toolkit-free viewer logic (uic::Viewer): it shows the logic's
// pixel buffer through a QImage that wraps the buffer's memory without copying it (and is
// re-wrapped after every resize, sizes in logical pixels), paints the fading zoom box, the
// lasso outline and the texts the logic queued while rendering, and turns Qt mouse, wheel
// and key events into the logic's button, key and modifier codes. The logic renders only
// inside paintEvent: Redraw merely schedules a repaint, so several requests between two
// paints cost one rendering.
//
// The context menu depends on the edit mode of the open tool page; the commands that
// belong to the main window (load images or a project, save, track, refine, stop, a new
// mask) leave as the Signal0 requests below, which the main window connects.
//
// Interface thread only. The widget does not own the tracker, the scene or the image it
// shows (the controller does).
#pragma once

#include <QImage>
#include <QMenu>
#include <QPainterPath>
#include <QRect>
#include <QString>
#include <QWidget>
#include <string>
#include <vector>

#include "foundation/runtime/signal.h"
#include "interaction/viewer.h"

class QTimer;

namespace uic {
class Command;
}

// A text the logic asked for during a repaint: widget pixels of the baseline start, colour
// components 0 .. 255.
struct ViewerTextItem {
  int x = 0;
  int y = 0;
  int red = 0;
  int green = 0;
  int blue = 0;
  QString text;
};

// The viewer logic's key code of a Qt key with its modifiers (Shift and Ctrl; Alt, Meta and
// the keypad flag do not count), or 0 for a key the logic has no code for (function keys,
// Home, the modifier keys themselves ...). Built from the key, never from the event's text,
// so that it does not depend on the keyboard layout's control characters:
// - letters: lower case, upper case with Shift; with Ctrl the control character
//   (A = 1 .. Z = 26) plus 0x800, e.g. Ctrl+Z = 2074, Ctrl+Y = 2073 (and 0x200 more with
//   Shift as well);
// - other printable keys: the character Qt reports (already shifted, e.g. '+'), plus 0x800
//   with Ctrl;
// - Escape 27, Backspace 8, Tab 9, Return and Enter 13, the arrows Left 256, Right 257,
//   Up 258, Down 259, Delete 264; plus 0x800 with Ctrl (Shift does not change them).
int ViewerKeyCode(int qt_key, Qt::KeyboardModifiers modifiers);

// The label of an undo command in the context menu ("Move Polygon Object", "Scene
// transform" ...), translated; "unknown" for null and for commands without a label of
// their own.
QString CommandLabel(uic::Command* command);

// The zoom box's text: the whole percent of zoom and " %" ("150 %", "33 %").
QString ZoomBoxText(double zoom);

// The widget rectangle RedrawRect repaints: the band's box grown by m = radius + margin on
// every side, from (max(min x - m, 0), max(min y - m, 0)) to (max(max x + m, 0) - 1,
// max(max y + m, 0) - 1), both corners inclusive (empty when the band lies left of or above
// the widget).
QRect RedrawRectBox(const uic::RubberBand& band, int margin);

class qViewer : public QWidget, public uic::Viewer {
  Q_OBJECT

 public:
  // Shows the logic's 640 x 480 buffer. A buffer the logic could not allocate is a fatal log.
  explicit qViewer(QWidget* parent = nullptr);
  ~qViewer() override;

  // ---- hooks of the logic
  // Shape codes: 3 vertical resize, 4 open hand, 5 closed hand, 8 the rotation cursor,
  // 10 cross, anything else the arrow. The code is kept in m_cursor_shape.
  void SetCursorShape(int shape) override;
  // The arrow; m_cursor_shape unchanged.
  void RestoreCursor() override;
  // Schedules a repaint (the logic renders in paintEvent).
  void Redraw() override;
  // Schedules a repaint of the band's box grown by its radius plus margin, clipped at 0.
  void RedrawRect(const uic::RubberBand& band, int margin) override;
  // Queue a text for the end of the current paint (positions truncated to whole pixels;
  // the 8-bit text taken as Latin-1).
  void DrawText(double x, double y, int red, int green, int blue, const std::string& text) override;
  void DrawText(double x, double y, const std::string& text) override;

  // Brings the logic's held modifier code (Shift 0x200, Ctrl 0x800, both 0xA00) in step
  // with `modifiers`: the old code is released, then the new one pressed. Done before
  // every forwarded event.
  void SyncModifiers(Qt::KeyboardModifiers modifiers);

  // Fills m_context_menu for the current edit mode; contextMenuEvent shows it.
  void BuildContextMenu();

  // The requests the main window answers.
  Signal0 m_load_images_requested;
  Signal0 m_save_requested;
  Signal0 m_start_tracking_requested;
  Signal0 m_start_refinement_requested;
  Signal0 m_stop_tracking_requested;
  Signal0 m_load_project_requested;
  Signal0 m_new_mask_requested;

  // State read by the main window and the tests.
  QImage* m_buffer_image = nullptr;     // owned; wraps the logic's buffer
  QMenu m_context_menu;                 // rebuilt at every opening
  int m_modifier_code = 0;              // modifier code last pressed in the logic
  bool m_drawing_mask = false;          // enables "Close Polygon Mask"
  bool m_lasso_active = false;          // a lasso drag is on: its outline is painted
  QPainterPath m_lasso_path;            // widget pixels
  QTimer* m_zoom_hide_timer = nullptr;  // single shot, 1000 ms after the zoom last changed
  QTimer* m_zoom_fade_timer = nullptr;  // one fade step every 25 ms
  double m_zoom_opacity = 1.0;
  double m_painted_zoom = 0.0;  // zoom shown by the last painted zoom box
  double m_fade_zoom = 0.0;     // zoom seen by the last fade step
  std::vector<ViewerTextItem> m_text_items;

 public Q_SLOTS:
  void createConeSceneObject();
  void createCubeSceneObject();
  void createPlaneSceneObject();
  void createTriangleMeshSceneObject();
  void createTexturedTriangleMeshSceneObject();
  // Asks the main window for the mask page's drawing mode; enables "Close Polygon Mask".
  void newPolygonMask();
  void closePolygonMask();
  void addTriangleMask();
  // Ends the reference line being drawn and starts a new one.
  void newReferenceLine();
  void addReferenceLine();
  void deleteAllReferenceLines();
  void undo();
  void redo();
  // The scene view resets observer, zoom and selection; the image view fits the frame.
  void resetView();
  void deselectAll();
  void moveOrbitCenterToSelection();
  void moveOrbitCenterToWCSOrigin();
  void moveOrbitCenterToCameraPosition();
  // The zoom box's wait is over: the fade starts.
  void disableZoomText();
  // One fade step of the zoom box: 0.05 less opacity, hidden on the step after 0.
  void reduceZoomPainterOpacity();
  void handleLoadImagesEntryClick();
  void handleLoadProjectEntryClick();
  void handleSaveEntryClick();
  void handleStartTrackingEntryClick();
  void handleStartRefinementEntryClick();
  void handleStopTrackingEntryClick();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  // A new QImage over the logic's current buffer.
  void WrapBuffer();
  void PaintZoomBox(QPainter& painter);
  // Whether the lasso outline follows the pointer: lasso tool, no tool key held.
  bool LassoToolOn() const;
};
